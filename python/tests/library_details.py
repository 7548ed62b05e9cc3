"""libsonara's C interface through ctypes, as far as the details tests need it: one session,
v_check / v_check_all on bytes, the result slots and the details of the last check.

Kept beside the tests on purpose: the package (python/sonara) has its own binding, which these
tests must not depend on while it changes."""

from __future__ import annotations

import ctypes
import math
import os
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

DETAILS_EVIDENCE = 1
DETAILS_SEGMENTS = 2


class _Session(ctypes.Structure):
    _fields_ = [("major", ctypes.c_int32), ("minor", ctypes.c_int32), ("patch", ctypes.c_int32),
                ("vendor", ctypes.c_char * 256), ("reserved_version", ctypes.c_char * 12),
                ("payment", ctypes.c_void_p), ("state", ctypes.c_int32),
                ("reserved_tail", ctypes.c_char * 12)]


class _SessionValue(ctypes.Structure):
    pass


_SessionValue._fields_ = [("name", ctypes.c_char_p), ("enable", ctypes.c_bool),
                          ("state", ctypes.c_int32), ("value", ctypes.c_double),
                          ("text", ctypes.c_char_p), ("next", ctypes.POINTER(_SessionValue))]


class _Segment(ctypes.Structure):
    _fields_ = [("start", ctypes.c_double), ("end", ctypes.c_double)]


class _ChannelDetails(ctypes.Structure):
    _fields_ = [("peak_dbfs", ctypes.c_double), ("rms_dbfs", ctypes.c_double),
                ("dc_offset", ctypes.c_double), ("clipped_samples", ctypes.c_uint64),
                ("speech_seconds", ctypes.c_double), ("frames", ctypes.c_uint64),
                ("segments", ctypes.POINTER(_Segment)), ("segment_count", ctypes.c_uint64)]


class _Details(ctypes.Structure):
    _fields_ = [("measured", ctypes.c_bool), ("channel_count", ctypes.c_uint32),
                ("channels", ctypes.POINTER(_ChannelDetails))]


@dataclass
class Slot:
    name: str
    enable: bool
    state: int
    value: float
    text: Optional[str]


@dataclass
class ChannelDetails:
    peak_dbfs: float
    rms_dbfs: float
    dc_offset: float
    clipped_samples: int
    speech_seconds: float
    frames: int
    segments: Optional[list[tuple[float, float]]]


@dataclass
class Check:
    passed: bool
    state: int
    slots: list[Slot]
    measured: Optional[bool]  # None: the check kept no details
    channels: list[ChannelDetails]


def library_path() -> Optional[str]:
    return os.environ.get("SONARA_LIBRARY")


class Library:
    def __init__(self, path: str) -> None:
        self._lib = ctypes.CDLL(path)
        lib = self._lib
        lib.v_create_session.argtypes = [ctypes.POINTER(_Session), ctypes.c_char_p]
        lib.v_create_session.restype = ctypes.c_bool
        lib.v_destroy_session.argtypes = [ctypes.POINTER(_Session)]
        lib.v_destroy_session.restype = ctypes.c_bool
        for name in ("v_check", "v_check_all"):
            function = getattr(lib, name)
            function.argtypes = [ctypes.POINTER(_Session), ctypes.c_char_p, ctypes.c_size_t]
            function.restype = ctypes.c_bool
        lib.v_enable_property.argtypes = [ctypes.POINTER(_Session), ctypes.c_char_p, ctypes.c_bool]
        lib.v_enable_property.restype = ctypes.c_bool
        lib.v_result_session.argtypes = [ctypes.POINTER(_Session),
                                         ctypes.POINTER(ctypes.POINTER(_SessionValue))]
        lib.v_result_session.restype = ctypes.c_bool
        lib.v_set_details.argtypes = [ctypes.POINTER(_Session), ctypes.c_uint]
        lib.v_set_details.restype = ctypes.c_bool
        lib.v_details_session.argtypes = [ctypes.POINTER(_Session),
                                          ctypes.POINTER(ctypes.POINTER(_Details))]
        lib.v_details_session.restype = ctypes.c_bool

    def session(self, config: Path) -> "Session":
        return Session(self._lib, config)


class Session:
    def __init__(self, lib: ctypes.CDLL, config: Path) -> None:
        self._lib = lib
        self._session = _Session()
        if not lib.v_create_session(ctypes.byref(self._session), str(config).encode()):
            raise RuntimeError(f"no session from {config}")

    def close(self) -> None:
        self._lib.v_destroy_session(ctypes.byref(self._session))

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()

    def set_details(self, flags: int) -> bool:
        return bool(self._lib.v_set_details(ctypes.byref(self._session), flags))

    def enable(self, name: str, on: bool) -> None:
        assert self._lib.v_enable_property(ctypes.byref(self._session), name.encode(), on)

    def check(self, content: bytes, *, all_values: bool = True) -> Check:
        function = self._lib.v_check_all if all_values else self._lib.v_check
        passed = bool(function(ctypes.byref(self._session), content, len(content)))
        return Check(passed, self._session.state, self._slots(), *self._details())

    def _slots(self) -> list[Slot]:
        first = ctypes.POINTER(_SessionValue)()
        assert self._lib.v_result_session(ctypes.byref(self._session), ctypes.byref(first))
        slots = []
        slot = first
        while slot:
            value = slot.contents
            slots.append(Slot(value.name.decode(), value.enable, value.state, value.value,
                              value.text.decode() if value.text else None))
            slot = value.next
        return slots

    def _details(self) -> tuple[Optional[bool], list[ChannelDetails]]:
        out = ctypes.POINTER(_Details)()
        if not self._lib.v_details_session(ctypes.byref(self._session), ctypes.byref(out)):
            assert not out
            return None, []
        details = out.contents
        channels = []
        for c in range(details.channel_count):
            record = details.channels[c]
            segments = None
            if record.segments:
                segments = [(record.segments[i].start, record.segments[i].end)
                            for i in range(record.segment_count)]
            channels.append(ChannelDetails(record.peak_dbfs, record.rms_dbfs, record.dc_offset,
                                           record.clipped_samples, record.speech_seconds,
                                           record.frames, segments))
        return details.measured, channels


def same(a: float, b: float) -> bool:
    """Equal to the last bit, NaN equal to NaN."""
    return (math.isnan(a) and math.isnan(b)) or a == b
