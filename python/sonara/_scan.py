"""Checking many files at once: one session per worker thread, results in sorted path order."""

from __future__ import annotations

import os
import stat
import threading
from types import TracebackType
from typing import Iterable, Iterator, Optional, Union

from ._result import Result
from ._session import PathLike, Session

PathsArgument = Union[PathLike, Iterable[PathLike]]


def _is_wav(name: str) -> bool:
    return name.lower().endswith(".wav")


def find_files(paths: PathsArgument, recursive: bool = True) -> list[str]:
    """The files that ``scan`` checks, sorted by their bytes and each once.

    A path that names a file is taken whatever its name; a directory gives the files in it
    whose names end in ``.wav`` (any letter case), and with ``recursive`` those of its
    subdirectories. Links to files are followed, links to directories are not (so a walk can't
    loop). A path that doesn't exist is kept, so that its check reports it. Found entries that
    are not regular files (FIFOs, sockets, devices) are left out.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    found: set[str] = set()
    for given in paths:
        root = os.fspath(given)
        if isinstance(root, bytes):
            root = os.fsdecode(root)
        if not os.path.isdir(root):
            found.add(root)
            continue
        for folder, folders, names in os.walk(root, followlinks=False):
            for name in names:
                if not _is_wav(name):
                    continue
                path = os.path.join(folder, name)
                try:
                    regular = stat.S_ISREG(os.stat(path).st_mode)
                except OSError:
                    regular = True  # unreadable or a dangling link: its check reports why
                if regular:
                    found.add(path)
            if not recursive:
                folders.clear()
    return sorted(found, key=os.fsencode)


class _Work:
    """What the workers share with the iterator: the files, the results waiting to be taken,
    and how far the workers may run ahead. The workers hold this, not the iterator, so an
    iterator that is dropped unfinished is collected and stops them."""

    def __init__(self, files: list[str], workers: int) -> None:
        self.files = files
        self.results: dict[int, Result] = {}
        self.next_claim = 0  # next file a worker takes
        self.next_yield = 0  # next file the caller gets
        self.window = 4 * workers  # results kept at most, ahead of the caller
        self.stopped = False
        self.failure: Optional[BaseException] = None
        self.condition = threading.Condition()

    def claim(self) -> Optional[int]:
        with self.condition:
            while not self.stopped and self.next_claim < len(self.files) and \
                    self.next_claim >= self.next_yield + self.window:
                self.condition.wait()
            if self.stopped or self.next_claim >= len(self.files):
                return None
            index = self.next_claim
            self.next_claim += 1
            return index

    def run(self, session: Session, all: bool) -> None:
        check = session.check_all if all else session.check
        try:
            while (index := self.claim()) is not None:
                path = self.files[index]
                try:
                    result = check(path)
                except OSError as error:
                    result = Result.unreadable(path, error.strerror or str(error))
                with self.condition:
                    self.results[index] = result
                    self.condition.notify_all()
        except BaseException as error:  # handed to the caller's thread
            with self.condition:
                self.failure = self.failure or error
                self.stopped = True
                self.condition.notify_all()

    def stop(self) -> None:
        with self.condition:
            self.stopped = True
            self.results.clear()
            self.condition.notify_all()


class _Scan:
    """The iterator ``scan`` returns: workers check files ahead, results come out in order."""

    def __init__(self, files: list[str], sessions: list[Session], all: bool) -> None:
        self._work = _Work(files, len(sessions))
        self._sessions = sessions
        self._closed = False
        self._threads = [threading.Thread(target=self._work.run, args=(session, all), daemon=True,
                                          name=f"sonara-scan-{number}")
                         for number, session in enumerate(sessions)]
        for thread in self._threads:
            thread.start()

    def __iter__(self) -> "_Scan":
        return self

    def __next__(self) -> tuple[str, Result]:
        work = self._work
        with work.condition:
            while not self._closed:
                if work.next_yield in work.results:
                    index = work.next_yield
                    result = work.results.pop(index)
                    work.next_yield += 1
                    work.condition.notify_all()
                    return work.files[index], result
                if work.stopped or work.next_yield >= len(work.files):
                    break
                work.condition.wait()
        failure = work.failure
        self.close()
        if failure is not None:
            raise failure
        raise StopIteration

    def close(self) -> None:
        """Stops the workers and destroys their sessions; later ``next`` calls end at once."""
        if self._closed:
            return
        self._closed = True
        self._work.stop()
        for thread in self._threads:
            thread.join()
        for session in self._sessions:
            session.close()

    def __enter__(self) -> "_Scan":
        return self

    def __exit__(self, kind: Optional[type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass


def _default_jobs() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def scan(paths: PathsArgument, config: PathLike, jobs: Optional[int] = None, all: bool = False,
         recursive: bool = True) -> Iterator[tuple[str, Result]]:
    """Checks every file that ``paths`` name (see :func:`find_files`) and yields
    ``(path, Result)`` in sorted path order.

    ``config`` is a configuration file or directory; ``jobs`` worker threads (default: the
    processors this process may run on) each check with a session of their own, and since every
    library call releases the GIL they run at once. ``all`` uses ``check_all`` instead of
    ``check``. A file that can't be read gives a :class:`Result` with ``error`` set. The
    configuration is read, and a refused one raises :class:`ConfigurationError`, before this
    returns. The iterator stops its workers and destroys its sessions when exhausted, on
    ``close()`` or at the end of a ``with`` block.
    """
    files = find_files(paths, recursive)
    count = max(1, min(jobs if jobs is not None else _default_jobs(), len(files) or 1))
    if jobs is not None and jobs < 1:
        raise ValueError("jobs must be at least 1")
    sessions: list[Session] = []
    try:
        for _ in range(count):
            sessions.append(Session(config))
    except BaseException:
        for session in sessions:
            session.close()
        raise
    return _Scan(files, sessions, all)
