"""A session of libsonara: one configuration, checks of complete WAV files, and its switches."""

from __future__ import annotations

import ctypes
import errno
import io
import math
import os
import stat
import threading
from types import MappingProxyType, TracebackType
from typing import BinaryIO, Callable, Optional, Union

from ._convert import DEFAULT_MAX_DECODED_SIZE, Conversion
from ._library import Library, SessionRecord, SessionValue, SonaraError, library
from ._logs import LogRecordLine, logs
from . import _vocabulary as vocabulary
from ._result import SLOT_UNITS, Result, Slot, SlotState, State

PathLike = Union[str, "os.PathLike[str]"]
Source = Union[bytes, bytearray, memoryview, PathLike, BinaryIO]

# The checks' property names, in the library's chain order of their slots.
PROPERTY_NAMES: tuple[str, ...] = tuple(vocabulary.SLOT_PROPERTIES.values())

_RETURN_CODES = vocabulary.SESSION_RETURN_CODES


class ConfigurationError(SonaraError):
    """The library (or the archive engine, for it) refused a configuration.

    ``code`` is the return code of the creation (1 null, 2 empty, 6 not read), ``log`` the
    library's log lines written while the session was being created (their ``text`` as the
    library wrote it, ``level``, ``message``), and ``source`` the path, or None for text. A
    refusal reported by the archive engine (:func:`sonara.scan`) carries the engine's reason
    as its message, ``code`` None and no log lines.
    """

    def __init__(self, code: Optional[int], log: list[LogRecordLine], source: Optional[str],
                 reason: Optional[str] = None) -> None:
        self.code = code
        self.log = log
        self.source = source
        if reason is not None:
            super().__init__(reason)
            return
        what = f"configuration {source}" if source is not None else "configuration text"
        text = _RETURN_CODES.get(code, "unknown code") if code is not None else "unknown code"
        details = [line.message for line in log if line.level >= 4]
        message = f"{what} refused (code {code}: {text})"
        if details:
            message += ": " + "; ".join(details)
        super().__init__(message)

    @property
    def log_lines(self) -> list[str]:
        """The log lines as the library wrote them."""
        return [line.text for line in self.log]


class SessionClosedError(SonaraError):
    """The session was destroyed (or never created) and can't be used."""


class Session:
    """One libsonara session over a configuration, destroyed on :meth:`close` or ``with`` exit.

    ``Session(path)`` reads a configuration file, or ``cv_configuration.json`` in a directory;
    :meth:`from_text` takes the configuration itself. A refused configuration raises
    :class:`ConfigurationError`. Calls on one session are serialised by the session's own lock;
    independent sessions run at once in different threads (every library call releases the
    GIL).
    """

    def __init__(self, path: PathLike) -> None:
        self._setup()
        encoded = os.fsencode(path)
        if b"\0" in encoded:
            raise ValueError("the configuration path holds a NUL character")
        self._create(lambda lib: lib.voice_session_init(self._pointer, encoded), os.fsdecode(encoded))

    @classmethod
    def from_text(cls, text: Union[str, bytes]) -> "Session":
        """A session over configuration text (JSON)."""
        session = cls.__new__(cls)
        session._setup()
        data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
        if b"\0" in data:
            raise ValueError("configuration text holds a NUL character")
        session._create(lambda lib: lib.voice_session_init_from_memory(session._pointer, data), None)
        return session

    def _setup(self) -> None:
        self._lib: Library = library()
        self._record = SessionRecord()  # zero-filled, as creation requires
        self._pointer = ctypes.pointer(self._record)
        self._lock = threading.Lock()
        self._live = False

    def _create(self, create: Callable[[Library], int], source: Optional[str]) -> None:
        code, lines = logs.around_creation(lambda: create(self._lib))
        if code != 0:
            raise ConfigurationError(code, lines, source)
        self._live = True
        self._version = self._text(self._lib.v_session_configuration_version)
        self._hash = self._text(self._lib.v_session_configuration_hash)

    def _text(self, getter: "ctypes._CFuncPtr") -> str:
        pointer = getter(self._pointer)
        return ctypes.string_at(pointer).decode("utf-8", "replace") if pointer else ""

    # ---- life ------------------------------------------------------------------------------

    @property
    def closed(self) -> bool:
        return not self._live

    def close(self) -> None:
        """Destroys the session; a second call does nothing."""
        with self._lock:
            if not self._live:
                return
            self._live = False
            self._lib.voice_session_destroy(self._pointer)
        logs.drain()

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, kind: Optional[type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_live", False):
            try:
                self.close()
            except Exception:
                pass

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"version {self._version!r}"
        return f"<sonara.Session {state}>"

    def _require_live(self) -> None:
        if not self._live:
            raise SessionClosedError("the session is closed")

    # ---- what the session knows ------------------------------------------------------------

    @property
    def version(self) -> str:
        """The configuration's version text ("unknown" when it gives none)."""
        self._require_live()
        return self._version

    @property
    def hash(self) -> str:
        """The configuration's SHA-256, in hex."""
        self._require_live()
        return self._hash

    @property
    def library_version(self) -> tuple[int, int, int]:
        """The library's version from the session's version block, e.g. (1, 2, 5)."""
        self._require_live()
        return (self._record.major, self._record.minor, self._record.patch)

    @property
    def library_vendor(self) -> str:
        """The library's vendor text from the session's version block."""
        self._require_live()
        return self._record.vendor.decode("utf-8", "replace")

    @property
    def state(self) -> State:
        """The status code the last operation left in the record."""
        return State(self._record.state)

    # ---- switches --------------------------------------------------------------------------

    def enable(self, property: str, on: bool = True) -> None:
        """Switches one configured check on or off for this session, by its property name
        (one of :data:`PROPERTY_NAMES`; the overload check is "overload_border")."""
        name = property.encode("utf-8")
        with self._lock:
            self._require_live()
            # A NUL would end the name early, so "depth\0x" would switch "depth".
            done = b"\0" not in name and self._lib.v_enable_property(self._pointer, name, bool(on))
        logs.drain()
        if not done:
            raise ValueError(f"unknown property {property!r}; expected one of {', '.join(PROPERTY_NAMES)}")

    def set_sound_name(self, name: str) -> None:
        """Names the sound being checked in the library's log messages."""
        data = name.encode("utf-8")
        if b"\0" in data:
            raise ValueError("the sound name holds a NUL character")
        with self._lock:
            self._require_live()
            done = self._lib.v_dbg_set_property(self._pointer, b"processing_sound_name", data)
        logs.drain()
        if not done:
            raise SonaraError("the library refused processing_sound_name")

    # ---- checks ----------------------------------------------------------------------------

    def check(self, source: Source, *, path: Optional[PathLike] = None, decode: bool = False,
              max_decoded_size: int = DEFAULT_MAX_DECODED_SIZE) -> Result:
        """Judges one complete WAV file with ``v_check``: stops at the first failing step.

        ``source`` is the file's content (``bytes``, ``bytearray``, a ``memoryview``), a path
        (``str`` or ``os.PathLike``; not ``bytes``, which is content), or a file opened in
        binary mode, read from its position to the end. A missing or unreadable file raises
        the ``OSError`` of reading it, and so does a path that is not a regular file.
        ``path`` names the content in the result (its ``path`` and ``to_dict()``) in place of the
        source's own path or file name, e.g. for bytes taken from an archive.

        ``decode=True`` judges a recording that is not integer PCM WAV (FLAC, Ogg Vorbis, Opus,
        MP3, WAV with A-law, µ-law, ADPCM, GSM or float samples, told by its content) as the
        16-bit PCM WAV libsonara_convert decodes it to, held only for this call; integer PCM WAV
        is judged as it is. The result's ``source_format`` and ``converted`` say which. A
        recording that can't be decoded raises :class:`DecodeError` with libsndfile's text.
        ``max_decoded_size`` bounds the decoded WAV (bytes, default 4 GiB).
        """
        return self._run(self._lib.v_check, source, path, decode, max_decoded_size)

    def check_all(self, source: Source, *, path: Optional[PathLike] = None, decode: bool = False,
                  max_decoded_size: int = DEFAULT_MAX_DECODED_SIZE) -> Result:
        """Like :meth:`check`, through ``v_check_all``: the same ``passed`` and state, but every
        value that can be had is measured and judged, whatever the switches say."""
        self._require_live()
        function = self._lib.optional("v_check_all")
        if function is None:
            raise SonaraError(f"{self._lib.path} has no v_check_all (a newer libsonara has it)")
        return self._run(function, source, path, decode, max_decoded_size)

    def _run(self, function: "ctypes._CFuncPtr", source: Source, name: Optional[PathLike],
             decode: bool, max_decoded_size: int) -> Result:
        if max_decoded_size < 1:
            raise ValueError("max_decoded_size must be at least 1")
        content, path = _content(source)
        if name is not None:
            path = os.fsdecode(os.fspath(name))
        source_format: Optional[str] = None
        converted: Optional[bool] = None
        with _Borrowed(content) as buffer:
            # Decoded outside the session's lock: another thread may check meanwhile.
            conversion = Conversion(buffer.pointer, buffer.size, max_decoded_size) if decode else None
            try:
                if conversion is not None:
                    source_format, converted = conversion.source_format, conversion.converted
                judged, size = (conversion.pointer, conversion.size) if conversion else (buffer.pointer, buffer.size)
                with self._lock:
                    self._require_live()
                    passed = bool(function(self._pointer, judged, size))
                    code = self._record.state
                    if code == State.STATE_BAD_SESSION:
                        raise SessionClosedError("the library refused the session record (state 101)")
                    state = State(code)
                    slots = {} if state == State.STATE_CONTENT_FAILED else self._slots()
            finally:
                if conversion is not None:
                    conversion.close()
        logs.drain(path)
        return Result(state=state, passed=passed, slots=MappingProxyType(slots),
                      config_version=self._version, config_hash=self._hash, path=path,
                      source_format=source_format, converted=converted)

    def _slots(self) -> dict[str, Slot]:
        first = ctypes.POINTER(SessionValue)()
        if not self._lib.v_result_session(self._pointer, ctypes.byref(first)):
            raise SessionClosedError("the library refused the session record")
        slots: dict[str, Slot] = {}
        node = first
        while node and len(slots) < 64:  # the chain has nine; a bound against a broken one
            value = node.contents
            name = value.name.decode("ascii", "replace") if value.name else "?"
            channels: Optional[tuple[float, ...]] = None
            if value.text is not None and name == "signal_noise":
                channels = _channel_values(value.text)
            state = SlotState(value.state)
            # What the check did not reach was not measured: the library's leftover is no value.
            slots[name] = Slot(name=name, value=None if state == SlotState.NOT_EVALUATED else value.value,
                               enabled=bool(value.enable), state=state, unit=SLOT_UNITS.get(name),
                               channels=channels)
            node = value.next
        return slots


def _channel_values(text: bytes) -> tuple[float, ...]:
    """The signal-to-noise slot's per-channel values, written "%f" and joined by ", "."""
    values = []
    for part in text.decode("ascii", "replace").split(","):
        part = part.strip()
        if not part:
            continue
        try:
            values.append(float(part))
        except ValueError:
            values.append(math.nan)
    return tuple(values)


def _read_regular_file(path: str) -> bytes:
    """The whole file; anything but a regular file is refused at once (reading a FIFO would
    wait for a writer, a device might never end)."""
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    try:
        mode = os.fstat(fd).st_mode
        if stat.S_ISDIR(mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
        if not stat.S_ISREG(mode):
            raise OSError(errno.EINVAL, "not a regular file", path)
        os.set_blocking(fd, True)
        with os.fdopen(fd, "rb", closefd=True) as file:
            fd = -1
            return file.read()
    finally:
        if fd >= 0:
            os.close(fd)


def _content(source: Source) -> tuple[Union[bytes, bytearray, memoryview], Optional[str]]:
    if isinstance(source, (bytes, bytearray, memoryview)):
        return source, None
    if isinstance(source, (str, os.PathLike)):
        path = os.fspath(source)
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        return _read_regular_file(path), path
    read = getattr(source, "read", None)
    if read is None:
        raise TypeError(f"cannot check {type(source).__name__}: give bytes, a memoryview, a path or a binary file")
    data = read()
    if not isinstance(data, (bytes, bytearray)):
        raise TypeError("the file must be opened in binary mode")
    name = getattr(source, "name", None)
    path = os.fsdecode(name) if isinstance(name, (str, bytes)) and not isinstance(source, io.BytesIO) else None
    return data, path


class _PyBuffer(ctypes.Structure):
    """CPython's Py_buffer, enough of it to borrow a buffer's address."""

    _fields_ = [
        ("buf", ctypes.c_void_p),
        ("obj", ctypes.py_object),
        ("len", ctypes.c_ssize_t),
        ("itemsize", ctypes.c_ssize_t),
        ("readonly", ctypes.c_int),
        ("ndim", ctypes.c_int),
        ("format", ctypes.c_char_p),
        ("shape", ctypes.c_void_p),
        ("strides", ctypes.c_void_p),
        ("suboffsets", ctypes.c_void_p),
        ("internal", ctypes.c_void_p),
    ]


_get_buffer = ctypes.pythonapi.PyObject_GetBuffer
_get_buffer.argtypes = [ctypes.py_object, ctypes.POINTER(_PyBuffer), ctypes.c_int]
_get_buffer.restype = ctypes.c_int
_release_buffer = ctypes.pythonapi.PyBuffer_Release
_release_buffer.argtypes = [ctypes.POINTER(_PyBuffer)]
_release_buffer.restype = None


class _Borrowed:
    """The address and size of a contiguous buffer's bytes, held for the length of a call,
    without copying (a buffer that is not contiguous is copied first)."""

    def __init__(self, content: Union[bytes, bytearray, memoryview]) -> None:
        self._view = _PyBuffer()
        try:
            _get_buffer(content, ctypes.byref(self._view), 0)  # PyBUF_SIMPLE: contiguous bytes
        except BufferError:
            content = memoryview(content).tobytes()
            _get_buffer(content, ctypes.byref(self._view), 0)
        self.size = int(self._view.len)
        # An empty buffer goes as a null pointer, as the library expects of "no content".
        self.pointer: Optional[int] = self._view.buf if self.size else None

    def __enter__(self) -> "_Borrowed":
        return self

    def __exit__(self, *exc: object) -> None:
        _release_buffer(ctypes.byref(self._view))
