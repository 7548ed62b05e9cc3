"""What one check answers: the session's state code and the nine result slots."""

from __future__ import annotations

import enum
import math
import os
from dataclasses import dataclass
from types import MappingProxyType
from typing import Any, Mapping, Optional, Union

SCHEMA = 1

# Result slots in the library's chain order, with the unit of each value.
SLOT_UNITS: Mapping[str, Optional[str]] = MappingProxyType({
    "length": "KiB",
    "sample_rate": "Hz",
    "voice_duration": "s",
    "overload": None,
    "telephony_border": "dB",
    "channels": "channels",
    "depth": "bits",
    "duration": "s",
    "signal_noise": "dB",
})
SLOT_NAMES: tuple[str, ...] = tuple(SLOT_UNITS)


class State(enum.IntEnum):
    """The session's status code after a check, under the C names."""

    STATE_OK = 0
    STATE_BAD_SESSION = 101
    STATE_BAD_CONFIGURATION = 102
    STATE_CONTENT_FAILED = 103
    STATE_HEAD_FAILED = 104
    STATE_UNPACK_FAILED = 105
    STATE_SIGNAL_NOISE_FAILED = 106
    STATE_CHANNELS_FAILED = 107
    STATE_SAMPLE_RATE_FAILED = 108
    STATE_DEPTH_FAILED = 109
    STATE_LENGTH_FAILED = 110
    STATE_DURATION_FAILED = 111
    STATE_TELEPHONY_BORDER_FAILED = 112
    STATE_OVERLOAD_BORDER_FAILED = 113
    STATE_VOICE_DURATION_FAILED = 114


class SlotState(enum.IntEnum):
    """A slot's own state: whether the last check evaluated its value and how it was judged."""

    NOT_EVALUATED = 0
    PASSED = 1  # also for a check that is switched off
    FAILED = 2

    @property
    def text(self) -> str:
        """"not evaluated", "passed" or "failed", as the results schema writes it."""
        return _SLOT_STATE_TEXTS[self]


_SLOT_STATE_TEXTS = {SlotState.NOT_EVALUATED: "not evaluated", SlotState.PASSED: "passed",
                     SlotState.FAILED: "failed"}


def _same_key(value: float) -> object:
    # NaN is a value like any other when comparing results: two checks of a silent file agree.
    return "nan" if math.isnan(value) else value


@dataclass(frozen=True, eq=False)
class Slot:
    """One result slot: the value the last check measured and how it was judged.

    ``channels`` holds the per-channel values of the signal-to-noise slot, read from the
    library's text (six decimals), and is None for every other slot and when the check stopped
    before signal-to-noise; ``value`` of that slot is the smallest of them, unrounded.
    ``enabled`` is the check's switch as it stood when the check began.
    """

    name: str
    value: float
    enabled: bool
    state: SlotState
    unit: Optional[str]
    channels: Optional[tuple[float, ...]] = None

    @property
    def passed(self) -> bool:
        return self.state == SlotState.PASSED

    def _key(self) -> tuple[object, ...]:
        return (self.name, _same_key(self.value), self.enabled, self.state, self.unit,
                None if self.channels is None else tuple(_same_key(value) for value in self.channels))

    def __eq__(self, other: object) -> bool:
        return self._key() == other._key() if isinstance(other, Slot) else NotImplemented

    def __hash__(self) -> int:
        return hash(self._key())

    def to_dict(self) -> dict[str, Any]:
        """The slot object of the results schema."""
        out: dict[str, Any] = {"name": self.name, "enabled": self.enabled, "state": self.state.text}
        out.update(_json_number(self.value))
        out["unit"] = self.unit
        if self.channels is not None:
            out["channels"] = [value if math.isfinite(value) else None for value in self.channels]
        return out


_SLOT_STATES_BY_TEXT = {text: state for state, text in _SLOT_STATE_TEXTS.items()}
_SPECIALS = {"nan": math.nan, "inf": math.inf, "-inf": -math.inf}


def _slot_from_dict(record: Mapping[str, Any]) -> Slot:
    value = record["value"]
    channels = record.get("channels")
    return Slot(name=record["name"],
                value=float(value) if value is not None else _SPECIALS[record.get("special", "nan")],
                enabled=bool(record["enabled"]), state=_SLOT_STATES_BY_TEXT[record["state"]],
                unit=record.get("unit"),
                channels=None if channels is None else
                tuple(math.nan if v is None else float(v) for v in channels))


def _json_number(value: float) -> dict[str, Any]:
    if math.isfinite(value):
        return {"value": value}
    special = "nan" if math.isnan(value) else ("inf" if value > 0 else "-inf")
    return {"value": None, "special": special}


def schema_path(path: Union[str, bytes, os.PathLike[str], os.PathLike[bytes], None]) -> Optional[str]:
    """A path as the schema writes it: UTF-8 text, undecodable bytes as U+FFFD."""
    if path is None:
        return None
    return os.fsencode(path).decode("utf-8", "replace")


@dataclass(frozen=True)
class Result:
    """The answer of one check, or of a file that could not be checked at all.

    ``passed`` is what the check call answered (true: every judged value passed); ``state`` is
    the session's status code after it. ``slots`` maps each slot's name to its :class:`Slot`, in
    the library's chain order; it is empty for an empty file (state 103), whose slots would
    still hold the previous file's values. ``path`` is the file's path when the check was given
    one (or an open file with a name), else None.

    A file that could not be read (``scan`` only) has ``error`` set, ``state`` None, ``passed``
    false and no slots.
    """

    state: Optional[State]
    passed: bool
    slots: Mapping[str, Slot]
    config_version: str
    config_hash: str
    path: Optional[str] = None
    error: Optional[str] = None

    @property
    def state_name(self) -> Optional[str]:
        return None if self.state is None else self.state.name

    @classmethod
    def unreadable(cls, path: str, error: str) -> "Result":
        """The record of a file that could not be checked (no configuration took part)."""
        return cls(state=None, passed=False, slots=MappingProxyType({}), config_version="",
                   config_hash="", path=path, error=error)

    @classmethod
    def from_dict(cls, record: Mapping[str, Any]) -> "Result":
        """The result a JSON Lines object of the results schema describes (the inverse of
        :meth:`to_dict`; fields it doesn't know, such as ``strict``, are ignored). A channel value
        written as null comes back as NaN."""
        if record.get("schema") != SCHEMA:
            raise ValueError(f"not a schema {SCHEMA} record: {record.get('schema')!r}")
        if "error" in record:
            return cls.unreadable(record["path"], record["error"])
        slots = {slot["name"]: _slot_from_dict(slot) for slot in record["slots"]}
        return cls(state=State(record["state"]), passed=bool(record["result"]),
                   slots=MappingProxyType(slots), config_version=record["config_version"],
                   config_hash=record["config_hash"], path=record["path"])

    def to_dict(self) -> dict[str, Any]:
        """The JSON Lines object of the results schema (``json.dumps`` gives the line)."""
        path = schema_path(self.path)
        if self.error is not None:
            return {"schema": SCHEMA, "path": path, "error": self.error}
        assert self.state is not None
        return {
            "schema": SCHEMA,
            "path": path,
            "result": self.passed,
            "state": int(self.state),
            "state_name": self.state.name,
            "config_version": self.config_version,
            "config_hash": self.config_hash,
            "slots": [slot.to_dict() for slot in self.slots.values()],
        }
