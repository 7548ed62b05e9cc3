"""Finding and loading libsonara, and the ctypes declarations of its C interface.

The library is looked up once, on first use, in this order:

1. ``SONARA_LIBRARY``: an explicit path of the shared library; when it is set, nothing else is
   tried.
   A wheel's own library (``sonara/_libs``, see :mod:`sonara._bundled`) comes next.
2. The library that ``cmake --install`` put beside this package: the install writes
   ``sonara/_install.py`` with the library's path relative to the package.
3. A build tree: ``$SONARA_BUILD_DIR/bin`` when that is set, otherwise, when this package is the
   one in a source checkout (``<source>/python/sonara``), every ``<source>/build/*/bin``, newest
   library first (equally new ones by folder name). A candidate that fails to load is passed
   over, and so, without trying, is one built with AddressSanitizer (or ThreadSanitizer) when
   its runtime is not preloaded, since loading that would end the interpreter.
4. The system's search path (``ldconfig`` cache, ``LD_LIBRARY_PATH``): ``libsonara.so.<version>``.

A library that can't be found raises :class:`LibraryNotFoundError`, whose message names every
place that was tried and why each failed.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import struct
import threading
from pathlib import Path
from typing import Callable, Generic, Optional, Sequence, TypeVar

from ._bundled import bundled_library
from ._version import VERSION

SONAME = f"libsonara.so.{VERSION}"


class SonaraError(Exception):
    """Base class of every error this package raises on its own account."""


class LibraryNotFoundError(SonaraError, OSError):
    """libsonara could not be found or loaded; the message lists every place tried."""

    def __init__(self, tried: list[tuple[str, str]]) -> None:
        self.tried = tried
        lines = ["libsonara could not be loaded; looked in:"]
        lines += [f"  {place}: {reason}" for place, reason in tried]
        lines.append("set SONARA_LIBRARY to the path of libsonara.so to choose one")
        super().__init__("\n".join(lines))


class SessionRecord(ctypes.Structure):
    """The caller-owned ``Session`` record: 304 bytes, 8-byte aligned."""

    _fields_ = [
        ("major", ctypes.c_int32),
        ("minor", ctypes.c_int32),
        ("patch", ctypes.c_int32),
        ("vendor", ctypes.c_char * 256),
        ("reserved_version", ctypes.c_char * 12),
        ("payment", ctypes.c_void_p),
        ("state", ctypes.c_int32),
        ("reserved_tail", ctypes.c_char * 12),
    ]


class SessionValue(ctypes.Structure):
    """One result slot, owned by the library."""


SessionValue._fields_ = [
    ("name", ctypes.c_char_p),
    ("enable", ctypes.c_bool),
    ("state", ctypes.c_int32),
    ("value", ctypes.c_double),
    ("text", ctypes.c_char_p),
    ("next", ctypes.POINTER(SessionValue)),
]

assert ctypes.sizeof(SessionRecord) == 304 and SessionRecord.payment.offset == 280
assert SessionRecord.state.offset == 288 and ctypes.alignment(SessionRecord) == 8

_RECORD = ctypes.POINTER(SessionRecord)
_SIGNATURES: dict[str, tuple[object, list[object]]] = {
    "voice_session_init": (ctypes.c_int, [_RECORD, ctypes.c_char_p]),
    "voice_session_init_from_memory": (ctypes.c_int, [_RECORD, ctypes.c_char_p]),
    "voice_session_destroy": (ctypes.c_int, [_RECORD]),
    # The getters hand out the session's own text, or a fresh copy for an invalid record that
    # the caller frees: kept as raw pointers so the copy can be released.
    "v_session_configuration_version": (ctypes.c_void_p, [_RECORD]),
    "v_session_configuration_hash": (ctypes.c_void_p, [_RECORD]),
    "v_result_session": (ctypes.c_bool, [_RECORD, ctypes.POINTER(ctypes.POINTER(SessionValue))]),
    "v_check": (ctypes.c_bool, [_RECORD, ctypes.c_void_p, ctypes.c_size_t]),
    "v_enable_property": (ctypes.c_bool, [_RECORD, ctypes.c_char_p, ctypes.c_bool]),
    "v_dbg_set_property": (ctypes.c_bool, [_RECORD, ctypes.c_char_p, ctypes.c_char_p]),
}
# Present in newer libraries only; looked up when first asked for.
_OPTIONAL_SIGNATURES: dict[str, tuple[object, list[object]]] = {
    "v_check_all": (ctypes.c_bool, [_RECORD, ctypes.c_void_p, ctypes.c_size_t]),
    # libcommon's process-wide logger, reached through libsonara's dependencies.
    "log_init": (ctypes.c_int, [ctypes.c_int, ctypes.c_void_p, ctypes.c_int, ctypes.c_int]),
}


class Library:
    """The loaded library with its functions declared."""

    def __init__(self, path: str, handle: ctypes.CDLL) -> None:
        self.path = path
        self.handle = handle
        for name, (restype, argtypes) in _SIGNATURES.items():
            function = getattr(handle, name)
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)
        self._optional: dict[str, Optional[ctypes._CFuncPtr]] = {}

    def optional(self, name: str) -> Optional["ctypes._CFuncPtr"]:
        """The function of that name, declared, or None when this library lacks it."""
        if name not in self._optional:
            try:
                function = getattr(self.handle, name)
            except AttributeError:
                self._optional[name] = None
            else:
                restype, argtypes = _OPTIONAL_SIGNATURES[name]
                function.restype = restype
                function.argtypes = argtypes
                self._optional[name] = function
        return self._optional[name]

    # Filled from _SIGNATURES in __init__; declared for type checkers.
    voice_session_init: ctypes._CFuncPtr
    voice_session_init_from_memory: ctypes._CFuncPtr
    voice_session_destroy: ctypes._CFuncPtr
    v_session_configuration_version: ctypes._CFuncPtr
    v_session_configuration_hash: ctypes._CFuncPtr
    v_result_session: ctypes._CFuncPtr
    v_check: ctypes._CFuncPtr
    v_enable_property: ctypes._CFuncPtr
    v_dbg_set_property: ctypes._CFuncPtr


def _load(path: str) -> ctypes.CDLL:
    return ctypes.CDLL(path)


def _installed_candidate() -> Optional[tuple[str, str]]:
    try:
        from . import _install  # type: ignore[attr-defined]
    except ImportError:
        return None
    path = (Path(__file__).parent / _install.LIBRARY).resolve()
    return (f"beside the installed package ({path})", str(path))


def _needed(path: Path) -> Optional[list[str]]:
    """The DT_NEEDED names of a 64-bit little-endian ELF shared library, from its .dynamic
    section; None when the file is not one this can read."""
    try:
        with open(path, "rb") as stream:
            data = stream.read()
    except OSError:
        return None
    if data[:6] != b"\x7fELF\x02\x01" or len(data) < 64:
        return None
    try:
        shoff, = struct.unpack_from("<Q", data, 0x28)
        shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
        sections = [struct.unpack_from("<IIQQQQII", data, shoff + i * shentsize) for i in range(shnum)]
        for _, kind, _, _, offset, size, link, _ in sections:
            if kind != 6:  # SHT_DYNAMIC
                continue
            strings = sections[link][4]
            names = []
            for at in range(offset, offset + size, 16):
                tag, value = struct.unpack_from("<qQ", data, at)
                if tag == 0:  # DT_NULL
                    break
                if tag == 1:  # DT_NEEDED
                    end = data.index(b"\0", strings + value)
                    names.append(data[strings + value:end].decode("utf-8", "replace"))
            return names
    except (struct.error, IndexError, ValueError):
        return None
    return None


def _needs_absent_sanitizer(path: Path) -> bool:
    """Whether the library is built with AddressSanitizer (or ThreadSanitizer) and this process
    lacks its runtime: loading it would end the interpreter, not raise."""
    needed = _needed(path) or []
    for runtime, marker in (("libasan.so", "__asan_init"), ("libtsan.so", "__tsan_init")):
        if any(name.startswith(runtime) for name in needed):
            try:
                getattr(ctypes.CDLL(None), marker)
            except AttributeError:
                return True
    return False


def _build_candidates() -> list[tuple[str, str]]:
    build_dir = os.environ.get("SONARA_BUILD_DIR")
    if build_dir:
        path = Path(build_dir) / "bin" / SONAME
        return [(f"SONARA_BUILD_DIR ({path})", str(path))]
    source = Path(__file__).resolve().parent.parent.parent
    if not (source / "modules" / "sound").is_dir():
        return []
    found = list((source / "build").glob(f"*/bin/{SONAME}"))
    if not found:
        return [(f"the source tree's builds ({source / 'build'}/*/bin)", "")]
    # Newest first; builds as new as each other by folder name, so the choice never varies.
    found.sort(key=lambda path: (-path.stat().st_mtime, str(path)))
    return [(f"the source tree's build ({path})", str(path)) for path in found]


SANITIZER_REFUSAL = "built with a sanitizer whose runtime is not preloaded (LD_PRELOAD)"


def find_and_load() -> Library:
    """Looks the library up in the documented order and loads the first that loads."""
    tried: list[tuple[str, str]] = []
    explicit = os.environ.get("SONARA_LIBRARY")
    if explicit:
        if _needs_absent_sanitizer(Path(explicit)):
            raise LibraryNotFoundError([(f"SONARA_LIBRARY ({explicit})", SANITIZER_REFUSAL)])
        try:
            return Library(explicit, _load(explicit))
        except OSError as error:
            raise LibraryNotFoundError([(f"SONARA_LIBRARY ({explicit})", str(error))]) from None
    tried.append(("SONARA_LIBRARY", "not set"))

    candidates: list[tuple[str, str]] = []
    bundled = bundled_library(SONAME)
    if bundled is not None:
        candidates.append((f"bundled with the package ({bundled})", bundled))
    installed = _installed_candidate()
    if installed is None:
        tried.append(("beside the installed package", "no sonara/_install.py (not installed by cmake)"))
    else:
        candidates.append(installed)
    build = _build_candidates()
    if not build:
        tried.append(("a build tree", "SONARA_BUILD_DIR not set and this package is not in a source tree"))
    candidates += build
    system = ctypes.util.find_library("sonara")
    candidates.append((f"the system search path ({system or SONAME})", system or SONAME))

    for place, path in candidates:
        if not path:
            tried.append((place, "no library found"))
            continue
        if os.sep in path and not os.path.exists(path):
            tried.append((place, "no such file"))
            continue
        if os.sep in path and _needs_absent_sanitizer(Path(path)):
            # Loading it would end the interpreter rather than raise.
            tried.append((place, SANITIZER_REFUSAL))
            continue
        try:
            return Library(path, _load(path))
        except OSError as error:
            tried.append((place, str(error)))
    raise LibraryNotFoundError(tried)


_library: Optional[Library] = None
_library_lock = threading.Lock()


def library() -> Library:
    """The process's one loaded libsonara, loaded on first call."""
    global _library
    if _library is None:
        with _library_lock:
            if _library is None:
                _library = find_and_load()
    return _library


T = TypeVar("T")


def load_beside_libsonara(variable: str, sonames: Sequence[str], load: Callable[[str], T], what: str) -> T:
    """A library of this project that lives beside libsonara: the path the environment variable
    names (nothing else is tried then), else each soname in the loaded libsonara's folder, then on
    the system's search path. Raises SonaraError naming every place tried."""
    explicit = os.environ.get(variable)
    if explicit:
        try:
            return load(explicit)
        except OSError as error:
            raise SonaraError(f"{what} could not be loaded from {variable} ({explicit}): {error}") from None
    tried = []
    candidates: list[str] = []
    if os.sep in library().path:
        folder = os.path.dirname(library().path)
        candidates += [os.path.join(folder, name) for name in sonames]
    candidates += list(sonames)
    for candidate in candidates:
        if os.sep in candidate and not os.path.exists(candidate):
            tried.append(f"{candidate}: no such file")
            continue
        try:
            return load(candidate)
        except OSError as error:
            tried.append(f"{candidate}: {error}")
    raise SonaraError(f"{what} could not be loaded; tried " + "; ".join(tried) + f"; set {variable} to its path")


class Once(Generic[T]):
    """A value made on first use, once for the process, under a lock."""

    def __init__(self, make: Callable[[], T]) -> None:
        self._make = make
        self._value: Optional[T] = None
        self._lock = threading.Lock()

    def __call__(self) -> T:
        if self._value is None:
            with self._lock:
                if self._value is None:
                    self._value = self._make()
        return self._value


def library_path() -> str:
    """Path (or name) of the libsonara this process loaded."""
    return library().path
