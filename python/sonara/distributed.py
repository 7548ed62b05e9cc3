"""Checking archives on a Dask cluster.

``check_archive(paths, config)`` checks every recording under ``paths`` on the workers of a Dask
cluster and answers a pandas DataFrame in ``sonara.to_dataframe``'s columns, one row per file in
sorted path order. ``python3 -m sonara.distributed`` does the same from the shell and writes
JSON Lines.

Storage: the workers open the files themselves (only path names travel to them), so every worker
must see the archive under the same paths as the caller: a shared or network file system mounted
at the same place on every machine. Folders are walked and list files read on the workers too.
A relative path is taken relative to the caller's current directory, and the workers resolve it
against that same directory name; give absolute paths when the caller's machine mounts the
storage elsewhere. The configuration is read where ``check_archive`` is called and its text
travels with the tasks, so the workers need no copy of it.

Each worker thread keeps one session for the whole run, created from that text the first time
the thread gets work. Files travel in batches (``batch`` files per task). A worker that dies
loses nothing: the scheduler hands its tasks to another worker (``distributed.scheduler.
allowed-failures`` times, 3 by default), and a task that raises is retried ``retries`` times.
A batch that still fails is split into one task per file; a file whose own task fails is tried
once more alone (a dying worker also fails the tasks queued on it), and a file that fails then
too is reported with its error, so every path appears exactly once.
"""

from __future__ import annotations

import argparse
import contextlib
import hashlib
import json
import math
import os
import sys
import threading
import uuid
from pathlib import Path
from typing import TYPE_CHECKING, Any, Iterable, Iterator, Optional, Sequence, Union

if TYPE_CHECKING:
    import distributed
    import pandas

    from ._session import Session

PathArg = Union[str, "os.PathLike[str]"]

# Names that mark a list file (one path per line) among the given paths.
LIST_SUFFIXES = (".txt", ".lst", ".list")
DEFAULT_RETRIES = 2
MAX_BATCH = 64

# --- worker side -------------------------------------------------------------------------------

_local = threading.local()
_counts_lock = threading.Lock()
_counts = {"sessions": 0, "batches": 0, "files": 0}


def worker_counts() -> dict[str, int]:
    """This process's sessions created and batches and files checked, e.g. for
    ``client.run(sonara.distributed.worker_counts)``."""
    with _counts_lock:
        return dict(_counts)


def _count(**increments: int) -> None:
    with _counts_lock:
        for name, step in increments.items():
            _counts[name] += step


def _session(config_text: str) -> "Session":
    """This thread's session for the configuration, created on the thread's first task."""
    from ._session import Session

    key = hashlib.sha256(config_text.encode("utf-8")).hexdigest()
    cached = getattr(_local, "session", None)
    if cached is not None and cached[0] == key:
        return cached[1]
    if cached is not None:  # another run's configuration: this thread moves on to the new one
        cached[1].close()
    session = Session.from_text(config_text)
    _local.session = (key, session)
    _count(sessions=1)
    return session


def _resolve(path: str, base: str) -> str:
    return path if os.path.isabs(path) else os.path.join(base, path)


def _check_paths(paths: Sequence[str], base: str, config_text: str, check_all: bool,
                 decode: bool = False) -> list[dict[str, Any]]:
    """Checks a batch of files with this thread's session: one schema record per path."""
    from ._convert import DecodeError
    from ._result import Result

    session = _session(config_text)
    check = session.check_all if check_all else session.check
    records = []
    for path in paths:
        try:  # as scan does: a file that can't be read is reported, not raised
            result = check(_resolve(path, base), decode=decode)
        except OSError as error:
            result = Result.unreadable(path, error.strerror or str(error))
        except DecodeError as error:
            result = Result.unreadable(path, str(error))
        records.append({**result.to_dict(), "path": path})
    _count(batches=1, files=len(records))
    return records


def _check_batch(paths: Sequence[str], base: str, config_text: str, check_all: bool,
                 decode: bool = False) -> list[dict[str, Any]]:
    # The task body; it looks _check_paths up at call time so a test can stand in for it.
    return _check_paths(paths, base, config_text, check_all, decode)


def _list_file(path: str) -> list[str]:
    with open(path, "r", encoding="utf-8", errors="surrogateescape") as stream:
        lines = [line.rstrip("\r\n") for line in stream]
    return [line for line in lines if line.strip() and not line.lstrip().startswith("#")]


def _expand(entry: str, base: str, recursive: bool, decode: bool = False
            ) -> tuple[list[str], list[dict[str, Any]]]:
    """One given path as the files it names (as ``find_files`` finds them), and the records
    of a list file that can't be read."""
    from ._scan import find_files

    given = [entry]
    resolved = _resolve(entry, base)
    if entry.lower().endswith(LIST_SUFFIXES) and os.path.isfile(resolved):
        try:
            given = _list_file(resolved)
        except OSError as error:
            return [], [_error_record(entry, f"list file: {error.strerror or error}")]
    files: list[str] = []
    for path in given:
        absolute = _resolve(path, base)
        # Walk the path the workers can open, and name what it finds as the caller gave it.
        files += [path + found[len(absolute):] for found in find_files([absolute], recursive, decode)]
    return files, []


def _error_record(path: str, error: str) -> dict[str, Any]:
    from ._result import Result

    return Result.unreadable(path, error).to_dict()


# --- caller side -------------------------------------------------------------------------------


def read_configuration_text(config: PathArg) -> str:
    """The text of a configuration file, or of cv_configuration.json in a directory."""
    location = Path(config)
    if location.is_dir():
        location = location / "cv_configuration.json"
    return location.read_bytes().decode("utf-8")


def _local_worker_count() -> int:
    return os.cpu_count() or 1


def _checking_environment() -> "contextlib.AbstractContextManager[Any]":
    """Dask's environment for the worker processes a nanny spawns, less MALLOC_TRIM_THRESHOLD_."""
    import dask
    import distributed  # noqa: F401 - loads its defaults into dask.config

    environ = dict(dask.config.get("distributed.nanny.pre-spawn-environ", {}) or {})
    environ.pop("MALLOC_TRIM_THRESHOLD_", None)
    return dask.config.set({"distributed.nanny.pre-spawn-environ": environ})


@contextlib.contextmanager
def _connected(client: Union["distributed.Client", str, None]) -> Iterator["distributed.Client"]:
    """The client to run on: the one given, one for a scheduler address, or a LocalCluster."""
    import distributed

    if isinstance(client, distributed.Client):
        yield client
        return
    if isinstance(client, str):
        with distributed.Client(client) as connected:
            yield connected
        return
    with local_client() as connected:
        yield connected


@contextlib.contextmanager
def local_client(workers: Optional[int] = None) -> Iterator["distributed.Client"]:
    """A client of a ``distributed.LocalCluster`` set up for checking, closed at the end:
    ``workers`` single-threaded worker processes (default: one per core), no dashboard, and
    worker processes without the malloc trim threshold Dask's nannies set by default (with it
    glibc maps every large buffer of a check anew, and each check runs about 2.5 times slower).
    ``check_archive`` with no client runs on one; reuse one across calls to start it once."""
    import distributed

    count = workers if workers is not None else _local_worker_count()
    # The scheduler's HTTP endpoints go on a free port rather than 8787.
    with _checking_environment(), \
            distributed.LocalCluster(n_workers=count, threads_per_worker=1, processes=True,
                                     dashboard_address=None,
                                     scheduler_kwargs={"dashboard_address": ":0"}) as cluster, \
            distributed.Client(cluster) as client:
        yield client


def _batch_size(count: int, threads: int, batch: Optional[int]) -> int:
    if batch is not None:
        if batch < 1:
            raise ValueError("batch must be at least 1")
        return batch
    # About four batches per thread keep every thread busy to the end without a task per file.
    return max(1, min(MAX_BATCH, math.ceil(count / max(1, 4 * threads))))


def check_records(paths: Union[PathArg, Sequence[PathArg]], config: PathArg,
                  client: Union["distributed.Client", str, None] = None, all: bool = False,
                  batch: Optional[int] = None, recursive: bool = True,
                  retries: int = DEFAULT_RETRIES, progress: bool = False,
                  decode: bool = False) -> list[dict[str, Any]]:
    """Like :func:`check_archive`, answering the JSON Lines records in sorted path order."""
    from ._session import Session

    config_text = read_configuration_text(config)
    with Session.from_text(config_text) as session:
        # A refused configuration, or a library without check_all, stops here, not on every task.
        if all:
            session.check_all(b"")
    if decode:  # likewise a missing libsonara_convert, here rather than on every worker
        from ._convert import convert_library

        convert_library()
    entries = [paths] if isinstance(paths, (str, os.PathLike)) else list(paths)
    given = [os.fsdecode(entry) for entry in entries]
    base = os.getcwd()
    run = uuid.uuid4().hex[:12]

    with _connected(client) as connected:
        walks = [connected.submit(_expand, entry, base, recursive, decode, key=f"sonara-walk-{run}-{i}",
                                  retries=retries, pure=False)
                 for i, entry in enumerate(given)]
        records: dict[str, dict[str, Any]] = {}
        files: set[str] = set()
        for entry, future in zip(given, walks):
            try:
                found, errors = future.result()
            except Exception as error:  # noqa: BLE001 - reported as the entry's error
                found, errors = [], [_error_record(entry, f"could not be walked: {_describe(error)}")]
            files.update(found)
            for record in errors:
                records.setdefault(record["path"], record)
        del walks
        ordered = sorted(files - records.keys(), key=os.fsencode)
        threads = sum(connected.nthreads().values()) or 1
        size = _batch_size(len(ordered), threads, batch)
        batches = [ordered[i:i + size] for i in range(0, len(ordered), size)]
        records.update(_run_batches(connected, batches, base, config_text, all, retries, run,
                                    progress, decode))
    return [records[path] for path in sorted(records, key=os.fsencode)]


def _describe(error: BaseException) -> str:
    text = str(error)
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def _run_batches(client: "distributed.Client", batches: list[list[str]], base: str,
                 config_text: str, check_all: bool, retries: int, run: str, progress: bool,
                 decode: bool = False) -> dict[str, dict[str, Any]]:
    import distributed

    def submit(paths: list[str], key: str) -> "distributed.Future":
        return client.submit(_check_batch, paths, base, config_text, check_all, decode, key=key,
                             retries=retries, pure=False)

    pending = {submit(paths, f"sonara-check-{run}-{i}"): paths for i, paths in enumerate(batches)}
    if progress and pending:
        with contextlib.redirect_stdout(sys.stderr):  # standard output may carry the records
            distributed.progress(list(pending), multi=False)
    records: dict[str, dict[str, Any]] = {}
    suspects: list[tuple[str, str]] = []
    while pending:
        retry: dict["distributed.Future", list[str]] = {}
        for future in distributed.as_completed(list(pending)):
            paths = pending.pop(future)
            try:
                for record in future.result():
                    records[record["path"]] = record
            except Exception:  # noqa: BLE001 - a lost worker, a task that kept raising
                if len(paths) > 1:  # find the file at fault: one task per file
                    for j, path in enumerate(paths):
                        retry[submit([path], f"{future.key}-{j}")] = [path]
                else:
                    suspects.append((paths[0], str(future.key)))
            finally:
                future.release()
        pending = retry
    # A worker that dies takes the tasks queued on it down with the one it was running, so a
    # file whose own task failed is checked once more with nothing else of this run in flight:
    # what fails then failed of itself.
    for path, key in suspects:
        future = submit([path], f"{key}-alone")
        try:
            for record in future.result():
                records[record["path"]] = record
        except Exception as error:  # noqa: BLE001 - reported as the file's error
            records[path] = _error_record(path, f"failed on every try: {_describe(error)}")
        finally:
            future.release()
    return records


def check_archive(paths: Union[PathArg, Sequence[PathArg]], config: PathArg,
                  client: Union["distributed.Client", str, None] = None, all: bool = False,
                  batch: Optional[int] = None, recursive: bool = True,
                  retries: int = DEFAULT_RETRIES, progress: bool = False,
                  decode: bool = False) -> "pandas.DataFrame":
    """Checks every recording under ``paths`` on a Dask cluster.

    ``paths``: a path or a sequence of them; each names a file (checked whatever its name), a
    folder (walked on a worker for ``.wav`` names, recursively unless ``recursive`` is false) or
    a list file (a name ending in .txt, .lst or .list: one path per line, blank lines and lines
    starting with ``#`` skipped). ``config``: a configuration file, or a directory holding
    cv_configuration.json, read here. ``client``: a ``distributed.Client``, a scheduler address,
    or None for a ``distributed.LocalCluster`` with one single-threaded worker process per core,
    closed at the end. ``all``: ``check_all`` instead of ``check``. ``batch``: files per task
    (default: about four tasks per worker thread, at most 64 files each). ``retries``: how often
    a task that raises runs again. ``progress``: Dask's progress bar on standard error.
    ``decode``: check with ``decode=True`` (see ``sonara.Session.check``: recordings that are not
    integer PCM WAV are decoded on the workers, which load libsonara_convert from beside their
    libsonara) and walk folders for the names of ``sonara.DECODE_EXTENSIONS`` too; the table
    then always has the ``source_format`` and ``converted`` columns.

    Answers a DataFrame in ``sonara.to_dataframe``'s columns, one row per file in sorted path
    order; a file that could not be checked has its text in ``error``.
    """
    from ._frame import to_dataframe

    return to_dataframe(check_records(paths, config, client, all, batch, recursive, retries,
                                      progress, decode), decode=True if decode else None)


# --- the command -------------------------------------------------------------------------------


def _default_configuration() -> Optional[str]:
    """The cv_configuration.json beside the loaded library (the build's bin/ holds one)."""
    from ._library import LibraryNotFoundError, library_path

    try:
        beside = Path(library_path()).parent / "cv_configuration.json"
    except LibraryNotFoundError:
        return None
    return str(beside) if beside.is_file() else None



def main(argv: Optional[Iterable[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m sonara.distributed",
        description="Checks recordings on a Dask cluster and writes JSON Lines (results schema 1)."
                    " The workers open the files: they must see them under the same paths.")
    parser.add_argument("paths", nargs="+", metavar="PATH",
                        help="a recording, a folder (walked for .wav names) or a list file "
                             "(.txt, .lst, .list: one path per line)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="the scheduler to run on (default: a local cluster, one worker "
                             "process per core)")
    parser.add_argument("--config", metavar="FILE",
                        help="configuration file or directory (default: the "
                             "cv_configuration.json beside the libsonara this loads)")
    parser.add_argument("--all", action="store_true",
                        help="compute and judge every value (check_all)")
    parser.add_argument("--output", metavar="FILE",
                        help="where to write the JSON Lines (default: standard output)")
    parser.add_argument("--batch", type=int, metavar="N", help="files per task")
    parser.add_argument("--no-recurse", action="store_true", help="do not walk into sub-folders")
    parser.add_argument("--decode", action="store_true",
                        help="decode recordings that are not integer PCM WAV (FLAC, Ogg, Opus, "
                             "MP3, A-law, µ-law, float) and walk folders for "
                             ".wav .flac .ogg .oga .opus .mp3 names")
    args = parser.parse_args(None if argv is None else list(argv))

    from ._session import ConfigurationError

    config = args.config if args.config is not None else _default_configuration()
    if config is None:
        print("sonara.distributed: no configuration found; give --config FILE", file=sys.stderr)
        return 2
    try:
        records = check_records(args.paths, config, args.scheduler, args.all, args.batch,
                                not args.no_recurse, progress=sys.stderr.isatty(),
                                decode=args.decode)
    except ConfigurationError as error:
        print(f"sonara.distributed: configuration refused: {error}", file=sys.stderr)
        return 2
    except (OSError, UnicodeDecodeError, ValueError) as error:
        print(f"sonara.distributed: {error}", file=sys.stderr)
        return 2
    with (open(args.output, "w", encoding="utf-8") if args.output
          else contextlib.nullcontext(sys.stdout)) as stream:
        for record in records:
            stream.write(json.dumps(record, ensure_ascii=False) + "\n")
    checked = sum(1 for record in records if "error" not in record)
    failed = sum(1 for record in records if "error" in record or not record.get("result"))
    print(f"sonara.distributed: {len(records)} files, {checked} checked, {failed} failed or "
          "could not be checked", file=sys.stderr)
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    # Run the module under its package name: the tasks must refer to sonara.distributed's
    # functions, which the workers import, not to this __main__ copy of them.
    from sonara.distributed import main as _main

    sys.exit(_main())
