"""The library's log lines, taken from libcommon's process-wide logger.

libcommon writes every log line, whole and flushed, to one ``FILE*`` target for the whole
process (standard error unless told otherwise). This module owns that target on the package's
behalf:

* While nothing asks for the lines, the package keeps the logger as ``sonara check`` does:
  standard error, errors only (libcommon's level ERROR), set when the package first makes a
  session or an archive. Only a session's creation diverts it for a moment into a sink file, so
  that a refused configuration can carry its log lines in :class:`ConfigurationError`; the
  diverted errors are then written on to standard error as usual.
* :func:`capture_logs` points the logger at the sink for as long as it is active and hands each
  line to the Python logger ``sonara`` (``logging.getLogger("sonara")``), its message beginning
  with the path of the file it is about (``"<path>: <message>"``, and ``sonara_path`` on the
  record) when the package knows it: the path a :meth:`Session.check` was given, or the file a
  :func:`scan` was checking (while capturing, ``scan`` checks one file at a time for that).

The sink is an unlinked temporary file opened in append mode: libcommon writes to it through a
``FILE*`` from libc's ``fopen``, and this module reads what was appended through its own
descriptor. When it grows past a few MiB it is swapped for a fresh one: ``log_init`` changes
the target under libcommon's lock, so once it returns no thread writes to the old ``FILE*`` and
it can be closed.

Limits, all from the logger being one per process:

* Lines are read after each call that this package makes into the library (creation, check,
  switch, destruction) and when capturing stops, so a line reaches ``logging`` shortly after the
  call that wrote it, on whichever thread drains first. Lines carry no thread of their own:
  with several sessions working at once (``scan``), lines of different files interleave, and
  the lines attached to a :class:`ConfigurationError` are those written while that session was
  being created, which may include a line of another thread's check.
* Anything else in the process that calls ``log_init`` or ``v_create_session_with_log`` takes
  the logger away from this module until the next creation or capture resets it.
* In a child made by ``fork`` the sink is not shared: the child starts with the library's
  default target again.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import logging
import os
import sys
import tempfile
import threading
from types import TracebackType
from typing import Callable, Optional

from ._library import SonaraError, library

logger = logging.getLogger("sonara")

# libcommon's levels and the logging levels they are given.
_TO_LOGGING = {1: logging.DEBUG, 2: logging.INFO, 3: logging.INFO, 4: logging.WARNING, 5: logging.ERROR}
_LEVEL_NAMES = {"DEBUG": 1, "INFO": 2, "NOTICE": 3, "WARN": 4, "ERROR": 5}
DEFAULT_LEVEL = 3  # libcommon's own default: NOTICE and above
QUIET_LEVEL = 5  # the package's, as sonara check's: errors only
_ROTATE_BYTES = 4 << 20


def _libc() -> ctypes.CDLL:
    libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
    libc.fopen.restype = ctypes.c_void_p
    libc.fopen.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    libc.fclose.restype = ctypes.c_int
    libc.fclose.argtypes = [ctypes.c_void_p]
    return libc


class _Sink:
    """One unlinked append-only file: libcommon writes through ``stream``, we read ``fd``."""

    def __init__(self, libc: ctypes.CDLL) -> None:
        self._libc = libc
        fd, path = tempfile.mkstemp(prefix="sonara-log-")
        try:
            stream = libc.fopen(os.fsencode(path), b"ab")
            if not stream:
                raise SonaraError(f"cannot open the log sink {path}: {os.strerror(ctypes.get_errno())}")
        except BaseException:
            os.close(fd)
            os.unlink(path)
            raise
        os.unlink(path)
        self.fd = fd
        self.stream: int = stream
        self.offset = 0
        self.partial = b""

    def read_lines(self) -> list[bytes]:
        chunks = []
        while True:
            chunk = os.pread(self.fd, 1 << 16, self.offset)
            if not chunk:
                break
            self.offset += len(chunk)
            chunks.append(chunk)
        data = self.partial + b"".join(chunks)
        *lines, self.partial = data.split(b"\n")
        return lines

    def close(self) -> None:
        self._libc.fclose(self.stream)
        os.close(self.fd)


class LogRecordLine:
    """One parsed log line: ``<LEVEL> <file>:<line>: <message>``."""

    __slots__ = ("level", "file", "line", "message", "text")

    def __init__(self, text: str) -> None:
        self.text = text
        self.level = DEFAULT_LEVEL
        self.file = ""
        self.line = 0
        self.message = text
        head, sep, rest = text.partition(" ")
        if sep and head in _LEVEL_NAMES:
            self.level = _LEVEL_NAMES[head]
            where, sep, message = rest.partition(": ")
            if sep:
                self.message = message
                self.file, _, line = where.rpartition(":")
                self.line = int(line) if line.isdigit() else 0

    def __repr__(self) -> str:
        return f"LogRecordLine({self.text!r})"


class _Logs:
    def __init__(self) -> None:
        self.lock = threading.RLock()
        self.sink: Optional[_Sink] = None
        self.levels: list[int] = []  # library level of each active capture_logs
        self.level = DEFAULT_LEVEL
        self.quieted = False
        self._libc: Optional[ctypes.CDLL] = None

    def _log_init(self) -> Callable[..., int]:
        function = library().optional("log_init")
        if function is None:
            raise SonaraError(f"{library().path} offers no log_init (libcommon's logger)")
        return function

    def _point_at_sink(self) -> None:
        if self.sink is None:
            if self._libc is None:
                self._libc = _libc()
            self.sink = _Sink(self._libc)
        self._log_init()(self.level, self.sink.stream, 0, 0)

    def _point_at_stderr(self) -> None:
        self._log_init()(QUIET_LEVEL, None, 0, 0)

    def quiet_by_default(self) -> None:
        """Errors only on standard error, once, unless a capture already owns the logger."""
        if self.quieted:
            return
        with self.lock:
            if not self.quieted:
                if not self.capturing:
                    self._point_at_stderr()
                self.quieted = True

    def _dispatch(self, lines: list[bytes], label: Optional[str]) -> list[LogRecordLine]:
        parsed = [LogRecordLine(line.decode("utf-8", "replace")) for line in lines if line]
        for record in parsed:
            if self.capturing:
                message = record.message if label is None else f"{label}: {record.message}"
                logger.log(_TO_LOGGING.get(record.level, logging.ERROR), "%s", message,
                           extra={"sonara_level": record.level, "sonara_file": record.file,
                                  "sonara_line": record.line, "sonara_path": label})
            elif record.level >= QUIET_LEVEL and sys.stderr is not None:
                # passed on to where the logger would have written it
                sys.stderr.write(record.text + "\n")
        return parsed

    def drain(self, label: Optional[str] = None) -> list[LogRecordLine]:
        """Hands on every line written since the last drain; ``label`` is the path of the file
        they are about, when known."""
        with self.lock:
            if self.sink is None:
                return []
            lines = self.sink.read_lines()
            if self.capturing and self.sink.offset > _ROTATE_BYTES:
                old = self.sink
                self.sink = None
                self._point_at_sink()
                lines += old.read_lines()
                old.close()
            return self._dispatch(lines, label)

    def around_creation(self, create: Callable[[], int]) -> tuple[int, list[LogRecordLine]]:
        """Runs ``create`` with the logger on the sink; its code and the lines written meanwhile."""
        self.quiet_by_default()
        with self.lock:
            self.drain()
            if not self.capturing:
                self._point_at_sink()
            try:
                code = create()
            finally:
                if not self.capturing:
                    self._point_at_stderr()
            return code, self.drain()

    @property
    def capturing(self) -> bool:
        return bool(self.levels)

    def start(self, level: int) -> None:
        with self.lock:
            self.drain()
            self.levels.append(level)
            self.level = min(self.levels)
            self._point_at_sink()

    def stop(self, level: int) -> None:
        with self.lock:
            remaining = list(self.levels)
            remaining.remove(level)
            if remaining:
                self.level = min(remaining)
                self._point_at_sink()
            else:
                self.level = DEFAULT_LEVEL
                self._point_at_stderr()
                self.quieted = True
            self.drain()  # still capturing: every line up to the switch goes to logging
            self.levels = remaining

    def after_fork_in_child(self) -> None:
        # Another thread may have held the lock at the fork; the child starts afresh, and the
        # inherited FILE* is left alone (the parent still reads that file).
        self.lock = threading.RLock()
        self.sink = None
        self.quieted = False
        if self.levels:
            self.levels = []
            self.level = DEFAULT_LEVEL
            try:
                self._point_at_stderr()
            except Exception:  # the library may be unloadable in the child: nothing to reset
                pass


logs = _Logs()
if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=logs.after_fork_in_child)


def _library_level(level: int) -> int:
    """The smallest libcommon level whose lines reach ``level`` in logging."""
    for ours in (1, 2, 4, 5):
        if _TO_LOGGING[ours] >= level:
            return ours
    return 5


class capture_logs:
    """Sends the library's log lines to the Python logger ``sonara`` while active.

    Without a capture the package lets only the library's errors through, to standard error
    (as ``sonara check`` does). Capturing starts when this is called and stops at the end of
    its ``with`` block or at :meth:`stop`. A line about a file the package knows begins with
    its path (``"<path>: <message>"``; ``sonara_path`` on the record, None otherwise). ``level`` is a ``logging`` level: the library is asked for the lines that reach
    it (``logging.DEBUG`` includes the library's progress detail, ``logging.WARNING`` only
    rejected content and failed values, and errors). Captures nest; the most detailed level of
    those active applies. Library levels map to DEBUG (1), INFO (2, 3), WARNING (4), ERROR (5);
    each record carries ``sonara_level``, ``sonara_file`` and ``sonara_line``.
    """

    def __init__(self, level: int = logging.INFO) -> None:
        self._active = True
        self._level = _library_level(level)
        logs.start(self._level)

    def stop(self) -> None:
        """Stops this capture (once); the logger returns to standard error when none is left."""
        if self._active:
            self._active = False
            logs.stop(self._level)

    def __enter__(self) -> "capture_logs":
        return self

    def __exit__(self, kind: Optional[type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.stop()
