"""Recordings that are not integer PCM WAV, decoded by libsonara_convert into the 16-bit PCM WAV
that libsonara judges (``decode=True``).

The conversion library is looked up once, on first use: ``SONARA_CONVERT_LIBRARY`` when set (a
path; nothing else is tried), otherwise beside the libsonara this process loaded (the build's
``bin`` folder, or the installed library folder), otherwise the system's search path
(``libsonara_convert.so.<version>``).
"""

from __future__ import annotations

import ctypes
from types import TracebackType
from typing import Optional

from ._library import Once, SonaraError, load_beside_libsonara
from ._version import VERSION

CONVERT_SONAME = f"libsonara_convert.so.{VERSION}"

# Return codes of sonara_convert.
AS_IS = 0
CONVERTED = 1

# The largest WAV a conversion may produce when the caller names no bound: as ``sonara check``'s
# default --max-size.
DEFAULT_MAX_DECODED_SIZE = 4 << 30


class DecodeError(SonaraError):
    """A recording could not be decoded; the message is libsndfile's text (or the bound it
    passed). ``source_format`` names what it was, when that was found out."""

    def __init__(self, message: str, source_format: str = "") -> None:
        self.source_format = source_format
        super().__init__(message)


class ConversionRecord(ctypes.Structure):
    """The ``SonaraConversion`` record of sonara_convert.h."""

    _fields_ = [
        ("wav", ctypes.c_void_p),
        ("wav_size", ctypes.c_size_t),
        ("converted", ctypes.c_bool),
        ("truncated", ctypes.c_bool),
        ("declared_known", ctypes.c_bool),
        ("channels", ctypes.c_uint16),
        ("sample_rate", ctypes.c_uint32),
        ("declared_frames", ctypes.c_uint64),
        ("decoded_frames", ctypes.c_uint64),
        ("stored_frames", ctypes.c_uint64),
        ("full_wav_size", ctypes.c_uint64),
        ("source_format", ctypes.c_char * 64),
        ("error", ctypes.c_char * 256),
    ]


class _ConvertLibrary:
    def __init__(self, path: str) -> None:
        self.path = path
        handle = ctypes.CDLL(path)
        self.convert = handle.sonara_convert
        self.convert.restype = ctypes.c_int
        self.convert.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_size_t,
                                 ctypes.POINTER(ConversionRecord)]
        self.convert_bounded = handle.sonara_convert_bounded
        self.convert_bounded.restype = ctypes.c_int
        self.convert_bounded.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_size_t,
                                         ctypes.c_size_t, ctypes.POINTER(ConversionRecord)]
        self.free = handle.sonara_conversion_free
        self.free.restype = None
        self.free.argtypes = [ctypes.POINTER(ConversionRecord)]
        size = handle.sonara_conversion_size
        size.restype = ctypes.c_size_t
        size.argtypes = []
        if size() != ctypes.sizeof(ConversionRecord):
            raise SonaraError(f"{path}: its conversion record is {size()} bytes, this package "
                              f"declares {ctypes.sizeof(ConversionRecord)}")


# The process's one loaded libsonara_convert, loaded on first call.
convert_library = Once(lambda: load_beside_libsonara("SONARA_CONVERT_LIBRARY", (CONVERT_SONAME,), _ConvertLibrary,
                                                     "libsonara_convert (decode=True needs it)"))


class Conversion:
    """One conversion of content at ``pointer`` (``size`` bytes), held until :meth:`close` (or
    the end of a ``with`` block). ``pointer``/``size`` then give what to judge: the converted
    WAV, or the content itself when it is integer PCM WAV. A recording that can't be decoded
    raises :class:`DecodeError`."""

    def __init__(self, pointer: Optional[int], size: int, max_decoded_size: int,
                 budget: Optional[int] = None) -> None:
        self._library = convert_library()
        self._record = ConversionRecord()
        # The call runs without the GIL (ctypes releases it), so decoding overlaps other threads.
        if budget is None:
            code = self._library.convert(pointer, size, max_decoded_size, ctypes.byref(self._record))
        else:
            code = self._library.convert_bounded(pointer, size, max_decoded_size, budget,
                                                 ctypes.byref(self._record))
        self.source_format = self._record.source_format.decode("utf-8", "replace")
        if code < 0:
            message = self._record.error.decode("utf-8", "replace")
            self.close()
            raise DecodeError(message, self.source_format)
        self.converted = code == CONVERTED
        self.pointer = self._record.wav if self.converted else pointer
        self.size = self._record.wav_size if self.converted else size
        # The whole stream's counts (None when nothing was decoded, or the header declares none):
        # with a budget, the WAV may hold only its first frames (truncated).
        record = self._record
        self.truncated = bool(record.truncated)
        self.declared_frames: Optional[int] = (record.declared_frames
                                               if self.converted and record.declared_known else None)
        self.decoded_frames: Optional[int] = record.decoded_frames if self.converted else None
        self.full_wav_size: Optional[int] = record.full_wav_size if self.converted else None

    def close(self) -> None:
        """Releases the converted WAV; a second call does nothing."""
        if self._record is not None:
            self._library.free(ctypes.byref(self._record))
            self._record = None  # type: ignore[assignment]

    def __enter__(self) -> "Conversion":
        return self

    def __exit__(self, kind: Optional[type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()
