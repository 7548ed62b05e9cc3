"""Checking archives on a Dask cluster, with the archive engine on the workers.

``check_archive(paths, config)`` checks every recording under ``paths`` on the workers of a Dask
cluster and answers a pandas DataFrame in ``sonara.to_dataframe``'s columns, one row per file in
sorted path order; ``iter_archive`` gives the same as ``(path, Result)`` pairs while the run
goes on, and ``python3 -m sonara.distributed`` writes the engine's JSON Lines records as the
batches complete, byte for byte as ``sonara check --format jsonl`` writes them.

Storage: the workers open the files themselves (only path names travel to them, as bytes), so
every worker must see the archive under the same paths as the caller: a shared or network file
system mounted at the same place on every machine. A relative path is made absolute against the
caller's current folder before it travels, and the records name it so (paths inside a list
file are read on a worker: give them absolute). The configuration is read where the run starts
and its text travels with the tasks, so the workers need no copy of it.

The walk: one task per given path, in which the engine walks the folder (no depth limit) or
reads the list file and answers the sorted items, each with its error when it can't be checked
(a FIFO, a dangling link, an unreadable folder). The checks: the items in sorted order, cut
into batches (``batch`` files per task); each task runs the engine on its batch with one worker
thread and answers the records' text. At most a window of batches is in flight, and their
records are written in path order as they come, so the caller holds a window, not the archive.

Failures: every task has a timeout (``task_timeout``, default 10 minutes). A task that raises is
retried ``retries`` times by Dask, and a worker that dies has its tasks handed to another
(``distributed.scheduler.allowed-failures``). A batch that still fails or times out is split
into one task per file; a file whose own task fails or times out is tried once more alone, and
a file that fails then too gets a record with the error, written by the engine, so every path
appears exactly once and the caller never waits on a lost task.

Exit status (the command): as ``sonara check``'s, from the engine's run over each batch: 0 every
file passed, 1 some file failed, 2 usage or configuration error, 3 some file could not be
checked or nothing was found.
"""

from __future__ import annotations

import argparse
import asyncio
import collections
import concurrent.futures
import contextlib
import heapq
import itertools
import math
import os
import sys
import threading
import time
import uuid
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import (IO, TYPE_CHECKING, Any, Callable, Iterable, Iterator, Optional, Sequence,
                    Union)

from . import _vocabulary as vocabulary
from ._archive import merge_exit_statuses

if TYPE_CHECKING:
    import distributed
    import pandas

    from ._result import Result

PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Item = tuple[bytes, Optional[str]]  # a path's bytes and its error (None: to be checked)


# Items travel packed in one bytes object, "path NUL error NUL" each (an empty error: to be
# checked; neither holds a NUL): Dask serialises a list element by element, which for a walk of
# 50,000 files costs over 100 MiB on the worker, the scheduler and the client alike.
def pack(items: Iterable[Item]) -> bytes:
    out = bytearray()
    for path, error in items:
        out += path + b"\0" + (error or "").encode("utf-8", "surrogateescape") + b"\0"
    return bytes(out)


def unpack(packed: bytes) -> Iterator[Item]:
    start = 0
    while start < len(packed):
        middle = packed.index(b"\0", start)
        end = packed.index(b"\0", middle + 1)
        error = packed[middle + 1:end]
        yield packed[start:middle], error.decode("utf-8", "surrogateescape") if error else None
        start = end + 1


def packed_count(packed: bytes) -> int:
    return packed.count(b"\0") // 2

DEFAULT_RETRIES = 2
DEFAULT_TASK_TIMEOUT = 600.0  # seconds a task may run before its files are tried again
MAX_BATCH = 64
_POLL = 0.5  # seconds between looks at a run that was asked to stop

# --- worker side -------------------------------------------------------------------------------

_counts_lock = threading.Lock()
_counts = {"archives": 0, "batches": 0, "files": 0}


def worker_counts() -> dict[str, int]:
    """This process's engine runs (one session each), batches and files checked, e.g. for
    ``client.run(sonara.distributed.worker_counts)``."""
    with _counts_lock:
        return dict(_counts)


def _count(**increments: int) -> None:
    with _counts_lock:
        for name, step in increments.items():
            _counts[name] += step


def _archive(config_text: str, **settings: Any) -> Any:
    from ._archive import Archive

    archive = Archive(configuration_text=config_text, **settings)
    _count(archives=1)
    return archive


def _walk_paths(entry: bytes, config_text: str, recursive: bool, decode: bool,
                nul_list: bool = False) -> tuple[bytes, Optional[str]]:
    """The sorted items one given path resolves to, walked or read by the engine, packed; or
    the engine's reason for refusing it (a list file with a NUL inside a line), answered rather
    than raised so that Dask doesn't try it again."""
    from ._archive import UsageError

    with _archive(config_text, recurse=recursive, decode=decode) as archive:
        try:
            if nul_list:
                archive.add_list(entry, nul_separated=True)
            else:
                archive.add_path(entry)
            return pack(archive.iter_items()), None
        except UsageError as error:
            return b"", str(error)


def _walk(entry: bytes, config_text: str, recursive: bool, decode: bool,
          nul_list: bool = False) -> tuple[bytes, Optional[str]]:
    # The task body; it looks _walk_paths up at call time so a test can stand in for it.
    return _walk_paths(entry, config_text, recursive, decode, nul_list)


def _engine_records(items: Sequence[Item], config_text: str, settings: dict[str, Any]) -> tuple[str, int]:
    """The engine's records of exactly these items on this thread, in path order, and its exit
    status over them."""
    with _archive(config_text, jobs=1, **settings) as archive:
        for path, error in items:
            archive.add_item(path, error)
        text = "".join(record.text for record in archive.records())
        return text, archive.exit_status()


def _check_items(items: Sequence[Item], config_text: str, settings: dict[str, Any]) -> tuple[str, int]:
    """Checks a batch with the engine on this worker thread."""
    answer = _engine_records(items, config_text, settings)
    _count(batches=1, files=len(items))
    return answer


def _check_batch(packed: bytes, config_text: str, settings: dict[str, Any]) -> tuple[str, int]:
    # The task body; it looks _check_items up at call time so a test can stand in for it.
    return _check_items(list(unpack(packed)), config_text, settings)


# --- caller side -------------------------------------------------------------------------------


def read_configuration_text(config: PathArg) -> str:
    """The text of a configuration file, or of cv_configuration.json in a folder."""
    location = Path(os.fsdecode(config))
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
        return batch
    # About four batches per thread keep every thread busy to the end without a task per file.
    return max(1, min(MAX_BATCH, math.ceil(count / max(1, 4 * threads))))


def _describe(error: BaseException) -> str:
    text = str(error)
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


# What a task's future may raise when its task is lost: a cancelled future raises
# CancelledError, which is no Exception.
_FAILURES = (Exception, asyncio.CancelledError, concurrent.futures.CancelledError)


class _Stopped(Exception):
    """The run was closed while this waited."""


class _Run:
    """One run on a cluster: its settings, the tasks it submits and how it waits for them."""

    def __init__(self, client: "distributed.Client", config_text: str, settings: dict[str, Any],
                 retries: int, task_timeout: float) -> None:
        self.client = client
        self.config_text = config_text
        self.settings = settings
        self.retries = retries
        self.task_timeout = task_timeout
        self.key = uuid.uuid4().hex[:12]
        self.stop = threading.Event()
        self._numbers = iter(range(1 << 62))
        self._lock = threading.Lock()

    def _name(self, kind: str) -> str:
        with self._lock:
            return f"sonara-{kind}-{self.key}-{next(self._numbers)}"

    def call(self, function: Callable[..., Any], *args: Any, kind: str) -> Any:
        """Runs one task (with Dask's retries) and waits at most the task timeout for it; a
        timed-out task is cancelled and raises TimeoutError."""
        import distributed

        future = self.client.submit(function, *args, key=self._name(kind), retries=self.retries,
                                    pure=False)
        deadline = time.monotonic() + self.task_timeout
        try:
            while True:
                if self.stop.is_set():
                    raise _Stopped()
                if future.done():
                    answer = future.result()  # the answer, or the task's own error
                    if answer is None:  # every task answers a pair: this one's was lost
                        raise RuntimeError(f"the answer of {future.key} was lost")
                    return answer
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError(f"no answer in {self.task_timeout:g} s")
                # Waits for the task to finish without fetching its answer: a fetch cut short
                # by a timeout could leave the future without it.
                try:
                    distributed.wait([future], timeout=min(left, _POLL))
                except TimeoutError:
                    pass
        finally:
            if not future.done():
                future.cancel()
            future.release()

    def error_records(self, items: Sequence[Item]) -> tuple[str, int]:
        """The engine's records of files that could not be checked, written here."""
        return _engine_records(items, self.config_text, self.settings)

    def walk(self, entry: bytes, recursive: bool, decode: bool, nul_list: bool) -> bytes:
        """The packed items of one given path; a refused list raises UsageError."""
        from ._archive import UsageError

        try:
            packed, refused = self.call(_walk, entry, self.config_text, recursive, decode,
                                        nul_list, kind="walk")
        except _Stopped:
            raise
        except _FAILURES as error:  # reported as the entry's error
            return pack([(entry, f"could not be walked: {_describe(error)}")])
        if refused is not None:
            raise UsageError(refused)
        return packed

    def check(self, items: list[Item]) -> tuple[str, int]:
        """The records of a batch, whatever happens to its tasks: the batch, then each of its
        files, then each failed file once more, then an error record for what still fails."""
        try:
            return self.call(_check_batch, pack(items), self.config_text, self.settings, kind="check")
        except _Stopped:
            raise
        except _FAILURES as error:  # a lost worker, a task that kept raising or timed out
            if len(items) == 1:
                return self._alone(items[0], error)
        texts, statuses = [], []
        for item in items:
            try:
                text, status = self.call(_check_batch, pack([item]), self.config_text,
                                         self.settings, kind="file")
            except _Stopped:
                raise
            except _FAILURES as error:
                text, status = self._alone(item, error)
            texts.append(text)
            statuses.append(status)
        return "".join(texts), merge_exit_statuses(statuses)

    def _alone(self, item: Item, first: BaseException) -> tuple[str, int]:
        # A worker that dies takes the tasks queued on it down with the one it was running, so
        # a file whose own task failed is checked once more: what fails then failed of itself.
        try:
            return self.call(_check_batch, pack([item]), self.config_text, self.settings, kind="alone")
        except _Stopped:
            raise
        except _FAILURES as error:  # reported as the file's error
            return self.error_records([(item[0], f"failed on every try: {_describe(error)}")])


def _absolute(path: PathArg) -> bytes:
    data = os.fsencode(path)
    return data if os.path.isabs(data) else os.path.join(os.fsencode(os.getcwd()), data)


class ArchiveRun:
    """The records of a run in path order, one batch's text at a time (``texts()``), and its
    exit status once they are all out (``exit_status``). ``close()`` stops the run early."""

    def __init__(self, paths: Union[PathArg, Sequence[PathArg]], config: PathArg,
                 client: Union["distributed.Client", str, None] = None, all: bool = False,
                 batch: Optional[int] = None, recursive: bool = True,
                 retries: int = DEFAULT_RETRIES, progress: bool = False, decode: bool = False,
                 strict: bool = False, max_size: Optional[int] = None,
                 task_timeout: float = DEFAULT_TASK_TIMEOUT,
                 files0: Optional[PathArg] = None, window: Optional[int] = None,
                 segments: bool = False, max_clipped: Optional[float] = None) -> None:
        from ._archive import DEFAULT_MAX_CLIPPED, DEFAULT_MAX_SIZE, check_options

        max_size = DEFAULT_MAX_SIZE if max_size is None else max_size
        max_clipped = DEFAULT_MAX_CLIPPED if max_clipped is None else max_clipped
        check_options(None, max_size, max_clipped)
        if batch is not None and (isinstance(batch, bool) or batch < 1):
            raise ValueError("batch must be at least 1")
        if window is not None and window < 1:
            raise ValueError("window must be at least 1")
        if not task_timeout > 0:
            raise ValueError("task_timeout must be a positive number of seconds")
        if retries < 0:
            raise ValueError("retries must be at least 0")
        self.entries = [_absolute(entry) for entry in
                        ([paths] if isinstance(paths, (str, bytes, os.PathLike)) else list(paths))]
        self.files0 = None if files0 is None else (files0 if os.fsencode(files0) == b"-"
                                                    else _absolute(files0))
        self.config_text = read_configuration_text(config)
        self.settings = dict(all=all, strict=strict, decode=decode, max_size=max_size,
                             segments=segments, max_clipped=max_clipped)
        # Refused here, once, rather than on every worker: a configuration the engine won't take.
        _archive(self.config_text, jobs=1, **self.settings).close()
        self.client, self.batch, self.recursive = client, batch, recursive
        self.retries, self.progress, self.task_timeout = retries, progress, task_timeout
        self.window = window
        self.exit_status: Optional[int] = None
        self.count: Optional[int] = None
        self._done = 0
        self._run: Optional[_Run] = None

    def _walks(self, run: _Run) -> list[bytes]:
        """The packed items of every source, each sorted by the engine."""
        walked: list[tuple[bytes, bool]] = [(entry, False) for entry in self.entries]
        lists: list[bytes] = []
        if self.files0 == b"-":
            # Standard input is the caller's: the engine reads (and walks) it here.
            with _archive(self.config_text, recurse=self.recursive,
                          decode=self.settings["decode"]) as archive:
                archive.add_list(b"-", nul_separated=True)
                lists.append(pack(archive.iter_items()))
        elif self.files0 is not None:
            walked.append((self.files0, True))
        with ThreadPoolExecutor(max(1, min(8, len(walked)))) as pool:
            walks = [pool.submit(run.walk, entry, self.recursive, self.settings["decode"], nul)
                     for entry, nul in walked]
            lists += [walk.result() for walk in walks]
        return lists

    @staticmethod
    def _merged(lists: list[bytes]) -> Iterator[Item]:
        """The items of every source in path order, each path once (a path some source can
        check is checked, even when another reported it with an error)."""
        held: Optional[Item] = None
        for item in heapq.merge(*(unpack(packed) for packed in lists), key=lambda item: item[0]):
            if held is not None and held[0] == item[0]:
                if held[1] is not None and item[1] is None:
                    held = item
                continue
            if held is not None:
                yield held
            held = item
        if held is not None:
            yield held

    def texts(self) -> Iterator[str]:
        """Each batch's records, in path order, as the engine wrote them."""
        with _connected(self.client) as connected:
            run = _Run(connected, self.config_text, self.settings, self.retries, self.task_timeout)
            self._run = run
            try:
                lists = self._walks(run)
                self.count = 0
                threads = sum(connected.nthreads().values()) or 1
                size = _batch_size(sum(map(packed_count, lists)), threads, self.batch)
                window = self.window or max(2, 2 * threads)
                statuses: list[int] = []
                items = self._merged(lists)
                with ThreadPoolExecutor(window) as pool:
                    try:
                        pending: collections.deque[Any] = collections.deque()
                        while batch := list(itertools.islice(items, size)):
                            self.count += len(batch)
                            pending.append(pool.submit(run.check, batch))
                            if len(pending) >= window:
                                yield self._take(pending, statuses)
                        while pending:
                            yield self._take(pending, statuses)
                    finally:
                        run.stop.set()  # threads still waiting give up before the pool is joined
                self.exit_status = merge_exit_statuses(statuses)
                if self.progress:
                    print(file=sys.stderr)
            finally:
                run.stop.set()

    def _take(self, pending: "collections.deque[Any]", statuses: list[int]) -> str:
        future = pending.popleft()
        text, status = future.result()
        statuses.append(status)
        self._done += text.count("\n")
        if self.progress:
            print(f"\rsonara.distributed: {self._done} files checked", end="", file=sys.stderr,
                  flush=True)
        return text

    def close(self) -> None:
        if self._run is not None:
            self._run.stop.set()


def iter_records(paths: Union[PathArg, Sequence[PathArg]], config: PathArg,
                 client: Union["distributed.Client", str, None] = None,
                 **options: Any) -> Iterator[str]:
    """The JSON Lines records of :func:`check_archive`'s run, one line at a time as the batches
    complete, byte for byte as the engine wrote them (each ends with a newline)."""
    run = ArchiveRun(paths, config, client, **options)
    for text in run.texts():
        yield from text.splitlines(keepends=True)


def check_records(paths: Union[PathArg, Sequence[PathArg]], config: PathArg,
                  client: Union["distributed.Client", str, None] = None,
                  **options: Any) -> list[dict[str, Any]]:
    """Every record of :func:`check_archive`'s run as a JSON object, in path order. This holds
    the whole archive's records at once: :func:`iter_records` streams them."""
    import json

    return [json.loads(line) for line in iter_records(paths, config, client, **options)]


def iter_archive(paths: Union[PathArg, Sequence[PathArg]], config: PathArg,
                 client: Union["distributed.Client", str, None] = None,
                 **options: Any) -> Iterator[tuple[str, "Result"]]:
    """:func:`check_archive`'s results as ``(path, Result)`` pairs in sorted path order, given
    while the run goes on (a window of batches is held, not the archive); closing the
    iterator stops the run. Takes :func:`check_archive`'s options."""
    from ._result import Result

    for line in iter_records(paths, config, client, **options):
        result = Result.from_json(line)
        yield result.path or "", result


def check_archive(paths: Union[PathArg, Sequence[PathArg]], config: PathArg,
                  client: Union["distributed.Client", str, None] = None, all: bool = False,
                  batch: Optional[int] = None, recursive: bool = True,
                  retries: int = DEFAULT_RETRIES, progress: bool = False,
                  decode: bool = False, strict: bool = False, max_size: Optional[int] = None,
                  task_timeout: float = DEFAULT_TASK_TIMEOUT,
                  files0: Optional[PathArg] = None, segments: bool = False,
                  max_clipped: Optional[float] = None) -> "pandas.DataFrame":
    """Checks every recording under ``paths`` on a Dask cluster.

    ``paths``: a path or a sequence of them; each names a file (checked whatever its name), a
    folder (walked by the engine on a worker for ``.wav`` names, recursively unless
    ``recursive`` is false) or a list file (a name ending in .txt, .lst or .list: one path per
    line, blank lines and lines starting with ``#`` skipped). ``files0``: a list of
    NUL-separated paths. ``config``: a configuration file, or a folder holding
    cv_configuration.json, read here. ``client``: a ``distributed.Client``, a scheduler
    address, or None for a ``distributed.LocalCluster`` with one single-threaded worker process
    per core, closed at the end. ``all``: ``v_check_all``. ``strict``: the strict verdict
    (``max_clipped``: the share of clipped samples a channel may have, default 0.001).
    ``segments``: the evidence carries each channel's speech segments.
    ``decode``: recordings that are not integer PCM WAV are converted on the workers, and
    folders walked for ``sonara.DECODE_EXTENSIONS`` too. ``max_size``: the size limit (bytes,
    default 4 GiB). ``batch``: files per task (default: about four tasks per worker thread, at
    most 64 files each). ``retries``: how often a task that raises runs again.
    ``task_timeout``: seconds a task may take (default 600) before its files are tried again.
    ``progress``: a count of the files done on standard error.

    Answers a DataFrame in ``sonara.to_dataframe``'s columns, one row per file in sorted path
    order; a file that could not be checked has its text in ``error``. :func:`iter_archive`
    gives the same rows one at a time.
    """
    from ._frame import to_dataframe

    return to_dataframe(iter_archive(paths, config, client, all=all, batch=batch,
                                     recursive=recursive, retries=retries, progress=progress,
                                     decode=decode, strict=strict, max_size=max_size,
                                     task_timeout=task_timeout, files0=files0,
                                     segments=segments, max_clipped=max_clipped),
                        decode=True if decode else None, strict=True if strict else None)


# --- the command -------------------------------------------------------------------------------


def _default_configuration() -> Optional[str]:
    """The cv_configuration.json beside the loaded library (the build's bin/ holds one)."""
    from ._library import LibraryNotFoundError, library_path

    try:
        beside = Path(library_path()).parent / "cv_configuration.json"
    except LibraryNotFoundError:
        return None
    return str(beside) if beside.is_file() else None


def _size(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"--max-size takes a whole number of bytes, not {text!r}") from None
    if not 1 <= value < 1 << 64:
        raise argparse.ArgumentTypeError(f"--max-size takes 1 to 18446744073709551615 bytes, not {text}")
    return value


def _share(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"--max-clipped takes a share from 0 to 1, not {text!r}")
    return value


def _positive(name: str, kind: Callable[[str], Any]) -> Callable[[str], Any]:
    def parse(text: str) -> Any:
        try:
            value = kind(text)
        except ValueError:
            value = None
        if value is None or not value > 0 or (kind is float and not math.isfinite(value)):
            raise argparse.ArgumentTypeError(f"{name} takes a number above 0, not {text!r}")
        return value
    return parse


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python3 -m sonara.distributed",
        description="Checks recordings on a Dask cluster and writes the JSON Lines records of "
                    f"results schema {vocabulary.RESULTS_SCHEMA}, as `sonara check -f jsonl` does."
                    " The workers open the files: they must see them under the same paths.",
        epilog="Exit status: 0 every file passed, 1 some file failed, 2 usage or configuration "
               "error, 3 some file could not be checked or nothing was found.")
    parser.add_argument("paths", nargs="*", metavar="PATH",
                        help="a recording, a folder (walked for .wav names) or a list file "
                             "(.txt, .lst, .list: one path per line)")
    parser.add_argument("--files0-from", metavar="FILE",
                        help="also the NUL-separated paths of FILE ('-': standard input)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="the scheduler to run on (default: a local cluster, one worker "
                             "process per core)")
    parser.add_argument("--config", metavar="FILE",
                        help="configuration file or folder (default: the "
                             "cv_configuration.json beside the libsonara this loads)")
    parser.add_argument("--all", action="store_true",
                        help="compute and judge every value (v_check_all)")
    parser.add_argument("--strict", action="store_true",
                        help="add the strict rules (header consistency, clipping, silence)")
    parser.add_argument("--max-clipped", type=_share, metavar="SHARE",
                        help="with --strict: the share of a channel's samples that may be "
                             "clipped (default 0.001)")
    parser.add_argument("--segments", action="store_true",
                        help="records carry each channel's speech segments")
    parser.add_argument("--max-size", type=_size, metavar="BYTES",
                        help="larger files are reported, not read (default 4 GiB)")
    parser.add_argument("--output", metavar="FILE",
                        help="where to write the JSON Lines (default: standard output)")
    parser.add_argument("--batch", type=_positive("--batch", int), metavar="N",
                        help="files per task")
    parser.add_argument("--task-timeout", type=_positive("--task-timeout", float),
                        default=DEFAULT_TASK_TIMEOUT, metavar="SECONDS",
                        help="how long a task may run before its files are tried again "
                             f"(default {DEFAULT_TASK_TIMEOUT:g})")
    parser.add_argument("--no-recurse", action="store_true", help="do not walk into sub-folders")
    parser.add_argument("--decode", action="store_true",
                        help="decode recordings that are not integer PCM WAV (FLAC, Ogg, Opus, "
                             "MP3, A-law, µ-law, float) and walk folders for "
                             + " ".join(vocabulary.DECODE_EXTENSIONS) + " names")
    return parser


def _write(stream: IO[bytes], texts: Iterator[str]) -> None:
    for text in texts:
        stream.write(text.encode("utf-8"))
        stream.flush()


def main(argv: Optional[Iterable[str]] = None) -> int:
    parser = _parser()
    args = parser.parse_args(None if argv is None else list(argv))
    if not args.paths and args.files0_from is None:
        parser.error("no paths to check (give PATH... or --files0-from)")

    from ._archive import UsageError
    from ._session import ConfigurationError

    config = args.config if args.config is not None else _default_configuration()
    if config is None:
        print("sonara.distributed: no configuration found; give --config FILE", file=sys.stderr)
        return vocabulary.EXIT_USAGE
    try:
        run = ArchiveRun([os.fsencode(path) for path in args.paths], config, args.scheduler,
                         all=args.all, batch=args.batch, recursive=not args.no_recurse,
                         progress=sys.stderr.isatty(), decode=args.decode, strict=args.strict,
                         max_size=args.max_size, task_timeout=args.task_timeout,
                         segments=args.segments, max_clipped=args.max_clipped,
                         files0=None if args.files0_from is None else os.fsencode(args.files0_from))
    except ConfigurationError as error:
        print(f"sonara.distributed: configuration refused: {error}", file=sys.stderr)
        return vocabulary.EXIT_USAGE
    except (OSError, UnicodeDecodeError, ValueError) as error:
        print(f"sonara.distributed: {error}", file=sys.stderr)
        return vocabulary.EXIT_USAGE
    output_failed = False
    try:
        with (open(args.output, "wb") if args.output
              else contextlib.nullcontext(sys.stdout.buffer)) as stream:
            _write(stream, run.texts())
    except UsageError as error:
        print(f"sonara.distributed: {error}", file=sys.stderr)
        return vocabulary.EXIT_USAGE
    except OSError as error:
        print(f"sonara.distributed: cannot write the records: {error}", file=sys.stderr)
        output_failed = True
    if output_failed or run.exit_status is None:
        return vocabulary.EXIT_NOT_CHECKED
    if run.count == 0:
        print("sonara.distributed: no recordings found", file=sys.stderr)
    print(f"sonara.distributed: {run.count} files, exit status {run.exit_status}", file=sys.stderr)
    return run.exit_status


if __name__ == "__main__":
    # Run the module under its package name: the tasks must refer to sonara.distributed's
    # functions, which the workers import, not to this __main__ copy of them.
    from sonara.distributed import main as _main

    sys.exit(_main())
