"""The archive engine, libsonara_archive, through ctypes: the one road from paths to records.

The engine walks folders, reads list files, reads each file within the size limit, checks it
on sessions of its own worker threads and writes each record whole, in path order. This module
only declares its C interface (``sonara_archive.h``) and wraps one archive handle; ``scan``,
``find_files`` and the Dask workers are built on it.

The engine's library is looked up once, on first use: ``SONARA_ARCHIVE_LIBRARY`` when set (a
path; nothing else is tried), otherwise beside the libsonara this process loaded (the build's
``bin`` folder, or the installed library folder), otherwise the system's search path.
"""

from __future__ import annotations

import ctypes
import logging
import os
import threading
from dataclasses import dataclass
from typing import Iterable, Iterator, Optional, Union

from . import _vocabulary as vocabulary
from ._library import Once, SonaraError, load_beside_libsonara
from ._version import VERSION

ARCHIVE_SONAMES = (f"libsonara_archive.so.{VERSION}", "libsonara_archive.so")

# enum SonaraArchiveFormat
TEXT, JSONL, CSV = 0, 1, 2
DEFAULT_MAX_SIZE = 4 << 30  # SONARA_ARCHIVE_DEFAULT_MAX_SIZE
DEFAULT_MAX_CLIPPED = 0.001  # SONARA_ARCHIVE_DEFAULT_MAX_CLIPPED

PathArgument = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

logger = logging.getLogger("sonara")

_WARN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)


class UsageError(SonaraError, ValueError):
    """The engine refused an option or a source (e.g. a list file with a NUL inside a line):
    the message is the engine's reason. The command lines exit 2 for it."""


class Options(ctypes.Structure):
    """``SonaraArchiveOptions``."""

    _fields_ = [
        ("struct_size", ctypes.c_uint32),
        ("configuration", ctypes.c_char_p),
        ("configuration_text", ctypes.c_char_p),
        ("format", ctypes.c_int),
        ("jobs", ctypes.c_uint),
        ("all", ctypes.c_bool),
        ("strict", ctypes.c_bool),
        ("decode", ctypes.c_bool),
        ("segments", ctypes.c_bool),
        ("recurse", ctypes.c_bool),
        ("max_size", ctypes.c_uint64),
        ("max_clipped", ctypes.c_double),
        ("warn", _WARN),
        ("warn_user", ctypes.c_void_p),
    ]


class RecordStruct(ctypes.Structure):
    """``SonaraArchiveRecord``; its texts stay valid until the next call on the archive."""

    _fields_ = [
        ("index", ctypes.c_size_t),
        ("count", ctypes.c_size_t),
        ("path", ctypes.c_char_p),
        ("text", ctypes.c_void_p),
        ("text_size", ctypes.c_size_t),
        ("state", ctypes.c_int32),
        ("checked", ctypes.c_bool),
        ("passed", ctypes.c_bool),
        ("audio_seconds", ctypes.c_double),
    ]


_HANDLE = ctypes.c_void_p
_SIGNATURES: dict[str, tuple[object, list[object]]] = {
    "sonara_archive_options_init": (None, [ctypes.POINTER(Options)]),
    "sonara_archive_create": (ctypes.c_int, [ctypes.POINTER(Options), ctypes.POINTER(_HANDLE),
                                             ctypes.c_char_p, ctypes.c_size_t]),
    "sonara_archive_destroy": (None, [_HANDLE]),
    "sonara_archive_add_path": (ctypes.c_int, [_HANDLE, ctypes.c_char_p]),
    "sonara_archive_add_list": (ctypes.c_int, [_HANDLE, ctypes.c_char_p, ctypes.c_bool]),
    "sonara_archive_add_item": (ctypes.c_int, [_HANDLE, ctypes.c_char_p, ctypes.c_char_p]),
    "sonara_archive_collect": (ctypes.c_int, [_HANDLE]),
    "sonara_archive_count": (ctypes.c_size_t, [_HANDLE]),
    "sonara_archive_item_path": (ctypes.c_char_p, [_HANDLE, ctypes.c_size_t]),
    "sonara_archive_item_error": (ctypes.c_char_p, [_HANDLE, ctypes.c_size_t]),
    "sonara_archive_header": (ctypes.c_char_p, [_HANDLE]),
    "sonara_archive_next": (ctypes.c_bool, [_HANDLE, ctypes.POINTER(RecordStruct)]),
    "sonara_archive_cancel": (None, [_HANDLE, ctypes.c_int]),
    "sonara_archive_jobs": (ctypes.c_uint, [_HANDLE]),
    "sonara_archive_summary_text": (ctypes.c_char_p, [_HANDLE]),
    "sonara_archive_summary_json": (ctypes.c_char_p, [_HANDLE, ctypes.c_int]),
    "sonara_archive_exit_status": (ctypes.c_int, [_HANDLE, ctypes.c_bool]),
    "sonara_archive_error": (ctypes.c_char_p, [_HANDLE]),
    "sonara_archive_version": (ctypes.c_char_p, []),
    "sonara_archive_options_size": (ctypes.c_size_t, []),
    "sonara_archive_record_size": (ctypes.c_size_t, []),
}


class ArchiveLibrary:
    """The loaded engine with its functions declared."""

    def __init__(self, path: str) -> None:
        self.path = path
        handle = ctypes.CDLL(path)
        self.functions: dict[str, "ctypes._CFuncPtr"] = {}
        for name, (restype, argtypes) in _SIGNATURES.items():
            function = getattr(handle, name)
            function.restype = restype
            function.argtypes = argtypes
            self.functions[name] = function
        for name, struct in (("options", Options), ("record", RecordStruct)):
            size = self.functions[f"sonara_archive_{name}_size"]()
            if size != ctypes.sizeof(struct):
                raise SonaraError(f"{path}: its {name} struct is {size} bytes, this package "
                                  f"declares {ctypes.sizeof(struct)}")

    def __getattr__(self, name: str) -> "ctypes._CFuncPtr":
        try:
            return self.functions[f"sonara_archive_{name}"]
        except KeyError:
            raise AttributeError(name) from None

    @property
    def version(self) -> str:
        return self.functions["sonara_archive_version"]().decode("utf-8")


# The process's one loaded libsonara_archive, loaded on first call.
archive_library = Once(lambda: load_beside_libsonara("SONARA_ARCHIVE_LIBRARY", ARCHIVE_SONAMES, ArchiveLibrary,
                                                     "libsonara_archive"))


def encode_path(path: PathArgument) -> bytes:
    """A path's bytes as the engine takes them; a NUL inside is refused here, since the C
    string would end there and name another file."""
    data = os.fsencode(path)
    if b"\0" in data:
        raise ValueError(f"the path {path!r} holds a NUL character")
    return data


def check_options(jobs: Optional[int], max_size: int, max_clipped: float) -> None:
    """The options a caller gives, refused here with a ValueError naming the option."""
    if jobs is not None and (isinstance(jobs, bool) or not isinstance(jobs, int) or jobs < 1):
        raise ValueError(f"jobs must be a whole number of at least 1, not {jobs!r}")
    if isinstance(max_size, bool) or not isinstance(max_size, int) or not 1 <= max_size < 1 << 64:
        raise ValueError(f"max_size must be a whole number of bytes from 1 to 2**64 - 1, not {max_size!r}")
    if not 0.0 <= float(max_clipped) <= 1.0:
        raise ValueError(f"max_clipped must be a share from 0 to 1, not {max_clipped!r}")


def merge_exit_statuses(statuses: Iterable[int]) -> int:
    """The exit status of a run made of several engine runs, from theirs: a file that could
    not be checked outweighs one that failed, which outweighs every file passing; no run at
    all is nothing checked. (Each run's own status is the engine's.)"""
    order = (vocabulary.EXIT_PASSED, vocabulary.EXIT_FAILED, vocabulary.EXIT_NOT_CHECKED)
    worst: Optional[int] = None
    for status in statuses:
        worst = status if worst is None else max(worst, status, key=order.index)
    return vocabulary.EXIT_NOT_CHECKED if worst is None else worst


@dataclass(frozen=True)
class Record:
    """One finished file as the engine handed it out."""

    index: int
    count: int
    path: bytes  # the path's bytes as given or found
    text: str  # the whole record in the run's format, ending with a newline
    state: int  # -1: not checked
    checked: bool
    passed: bool  # checked, passed by the library and, with strict, by the strict rules
    audio_seconds: float


def _warn_to_logger(user: Optional[int], text: bytes) -> None:
    try:
        logger.warning("%s", text.decode("utf-8", "replace"))
    except Exception:  # a callback must not raise into C
        pass


_warn_callback = _WARN(_warn_to_logger)


class Archive:
    """One archive handle: options, sources, then the records in path order.

    A refused configuration raises :class:`ConfigurationError` (the engine's reason as its
    message; check the options before, see :func:`check_options`), a refused source
    :class:`UsageError`. Calls are serialised by a lock:
    the engine wants one thread to drive an archive. :meth:`close` stops its workers and
    releases everything; so does collecting the object.
    """

    def __init__(self, *, configuration: Optional[PathArgument] = None,
                 configuration_text: Optional[str] = None, format: int = JSONL,
                 jobs: int = 0, all: bool = False, strict: bool = False, decode: bool = False,
                 segments: bool = False, recurse: bool = True, max_size: int = DEFAULT_MAX_SIZE,
                 max_clipped: float = DEFAULT_MAX_CLIPPED) -> None:
        from ._logs import logs

        logs.quiet_by_default()
        self._lib = archive_library()
        self._handle = _HANDLE()
        self._lock = threading.Lock()
        options = Options()
        self._lib.options_init(ctypes.byref(options))
        source: Optional[str] = None
        if configuration is not None:
            self._configuration = encode_path(configuration)
            options.configuration = self._configuration
            source = os.fsdecode(self._configuration)
        if configuration_text is not None:
            self._configuration_text = configuration_text.encode("utf-8")
            if b"\0" in self._configuration_text:
                raise ValueError("configuration text holds a NUL character")
            options.configuration_text = self._configuration_text
        options.format = format
        options.jobs = min(jobs, 0xFFFFFFFF)  # the engine caps the count at what it can start
        options.all = all
        options.strict = strict
        options.decode = decode
        options.segments = segments
        options.recurse = recurse
        options.max_size = max_size
        options.max_clipped = max_clipped
        options.warn = _warn_callback
        error = ctypes.create_string_buffer(1024)
        code = self._lib.create(ctypes.byref(options), ctypes.byref(self._handle), error,
                                ctypes.sizeof(error))
        if code != 0 or not self._handle:
            # The callers check the options first, so what the engine refuses here is the
            # configuration (it tells no other code apart).
            from ._session import ConfigurationError

            reason = error.value.decode("utf-8", "replace") or f"the engine refused the run (code {code})"
            raise ConfigurationError(None, [], source, reason=reason)

    def _live(self) -> int:
        if not self._handle:
            raise SonaraError("the archive is closed")
        return self._handle.value  # type: ignore[return-value]

    def _check(self, code: int) -> None:
        if code != 0:
            raise UsageError(self._lib.error(self._handle).decode("utf-8", "replace")
                             or f"the engine refused the source (code {code})")

    def add_path(self, path: PathArgument) -> None:
        """A file, a folder (walked), or a list file (.txt .lst .list)."""
        with self._lock:
            self._live()
            self._check(self._lib.add_path(self._handle, encode_path(path)))

    def add_list(self, path: PathArgument, nul_separated: bool) -> None:
        """The paths a list file names ("-": standard input), one a line or NUL-separated."""
        with self._lock:
            self._live()
            self._check(self._lib.add_list(self._handle, encode_path(path), nul_separated))

    def add_item(self, path: PathArgument, error: Optional[str] = None) -> None:
        """Exactly this file; with ``error`` its record carries that error, unchecked."""
        with self._lock:
            self._live()
            self._check(self._lib.add_item(self._handle, encode_path(path),
                                           None if error is None else error.encode("utf-8", "surrogateescape")))

    def items(self) -> list[tuple[bytes, Optional[str]]]:
        """The sorted items the sources resolve to: each path's bytes and its error (None when
        it is to be checked)."""
        return list(self.iter_items())

    def iter_items(self) -> Iterator[tuple[bytes, Optional[str]]]:
        """:meth:`items` one at a time (the sources are resolved at the first)."""
        with self._lock:
            self._live()
            self._check(self._lib.collect(self._handle))
            count = self._lib.count(self._handle)
        for index in range(count):
            with self._lock:
                self._live()
                path = self._lib.item_path(self._handle, index)
                error = self._lib.item_error(self._handle, index)
            yield path, None if error is None else error.decode("utf-8", "replace")

    @property
    def header(self) -> str:
        with self._lock:
            self._live()
            return self._lib.header(self._handle).decode("utf-8")

    def next(self) -> Optional[Record]:
        """The next record in path order, or None at the end (ctypes lets go of the GIL while
        the engine waits for it)."""
        with self._lock:
            if not self._handle:
                return None
            record = RecordStruct()
            if not self._lib.next(self._handle, ctypes.byref(record)):
                return None
            return Record(index=record.index, count=record.count, path=record.path or b"",
                          text=ctypes.string_at(record.text, record.text_size).decode("utf-8"),
                          state=record.state, checked=record.checked, passed=record.passed,
                          audio_seconds=record.audio_seconds)

    def records(self) -> Iterator[Record]:
        while (record := self.next()) is not None:
            yield record

    def exit_status(self, output_failed: bool = False) -> int:
        with self._lock:
            self._live()
            return int(self._lib.exit_status(self._handle, output_failed))

    def summary_text(self) -> str:
        with self._lock:
            self._live()
            return self._lib.summary_text(self._handle).decode("utf-8")

    def summary_json(self, exit_status: int) -> str:
        with self._lock:
            self._live()
            return self._lib.summary_json(self._handle, exit_status).decode("utf-8")

    def cancel(self, signal: int = 0) -> None:
        if self._handle:
            self._lib.cancel(self._handle, signal)

    @property
    def closed(self) -> bool:
        return not self._handle

    def close(self) -> None:
        """Stops the workers and releases the archive; a second call does nothing."""
        with self._lock:
            if self._handle:
                handle, self._handle = self._handle, _HANDLE()
                self._lib.destroy(handle)

    def __enter__(self) -> "Archive":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass
