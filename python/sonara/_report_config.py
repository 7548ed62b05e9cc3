"""The limits a configuration sets, as the library applies them, for the report to draw.

The library decides whether a configuration is acceptable: the report opens a session over it
first and reads the limits from the JSON only once the library accepted it.
"""

from __future__ import annotations

import json
import math
import os
import struct
from dataclasses import dataclass
from pathlib import Path

from ._vocabulary import SLOT_PROPERTIES


@dataclass(frozen=True)
class Threshold:
    """One configured check as the library applies it to a slot's value."""

    kind: str  # "range", "above" (value > border), "below" (value < border), "at_least"
    low: float | None
    high: float | None
    enabled: bool

    def describe(self, unit: str | None) -> str:
        u = f" {unit}" if unit else ""
        if self.kind == "range":
            text = f"within {number(self.low)}–{number(self.high)}{u}"
        elif self.kind == "above":
            text = f"above {number(self.low)}{u}"
        elif self.kind == "below":
            text = f"below {number(self.high)}{u}"
        else:
            text = f"at least {number(self.low)}{u}"
        return text if self.enabled else text + " (check switched off)"

    def lines(self) -> list[float]:
        return [v for v in (self.low, self.high) if v is not None]

    def distance_beyond(self, value: float) -> float:
        """How far a value lies on the failing side of the limit (larger is worse)."""
        if self.kind == "range":
            assert self.low is not None and self.high is not None
            return max(self.low - value, value - self.high)
        if self.kind == "below":
            assert self.high is not None
            return value - self.high
        assert self.low is not None
        return self.low - value


@dataclass(frozen=True)
class Configuration:
    version: str
    hash: str
    thresholds: dict[str, Threshold]


def number(value: float | None) -> str:
    if value is None or not math.isfinite(value):
        return str(value)
    return f"{value:.6g}"


def _int32(value: float) -> int:
    # The library keeps these borders as 32-bit integers, truncated toward zero and saturated.
    return int(max(-2**31, min(2**31 - 1, math.trunc(value))))


def _float32(value: float) -> float:
    try:
        return float(struct.unpack("f", struct.pack("f", value))[0])
    except OverflowError:
        return math.copysign(math.inf, value)


# How each slot is judged against its configuration entry (SLOT_PROPERTIES names the entry).
_KINDS = {"length": "range", "sample_rate": "range", "channels": "range", "depth": "range",
          "duration": "range", "telephony_border": "above", "overload": "below",
          "voice_duration": "at_least", "signal_noise": "at_least"}
_INTEGER_BORDERS = {"telephony_border", "signal_noise"}


def thresholds_of(document: dict[str, object]) -> dict[str, Threshold]:
    """Each check's limits in the form the library stores them (integer borders truncated,
    real ones in single precision); entries that are absent or not numbers are left out."""
    thresholds: dict[str, Threshold] = {}
    for slot, kind in _KINDS.items():
        entry = document.get(SLOT_PROPERTIES[slot])
        if not isinstance(entry, dict):
            continue
        enabled = entry.get("enable", True) is not False
        if kind == "range":
            low, high = entry.get("min"), entry.get("max")
            if isinstance(low, (int, float)) and isinstance(high, (int, float)):
                thresholds[slot] = Threshold(kind, _int32(low), _int32(high), enabled)
            continue
        value = entry.get("value")
        if not isinstance(value, (int, float)):
            continue
        border = float(_int32(value)) if slot in _INTEGER_BORDERS else _float32(value)
        thresholds[slot] = (Threshold(kind, None, border, enabled) if kind == "below"
                            else Threshold(kind, border, None, enabled))
    return thresholds


def read_configuration(path: str | os.PathLike[str]) -> Configuration:
    """The configuration file (or a folder holding cv_configuration.json) as the library reads
    it. Raises ``sonara.ConfigurationError`` with the library's reason when the library refuses
    it, and ``LibraryNotFoundError`` when there is no library to ask."""
    from ._session import Session

    location = Path(path)
    with Session(location) as session:  # refuses what the library refuses
        version, digest = session.version, session.hash
    if location.is_dir():
        location = location / "cv_configuration.json"
    try:
        document = json.loads(location.read_bytes().decode("utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        # The library accepted it, so this reader is the one at fault: say so plainly.
        raise ValueError(f"{location}: accepted by the library but not read as JSON here: "
                         f"{error}") from None
    if not isinstance(document, dict):
        raise ValueError(f"{location}: not a JSON object")
    return Configuration(version, digest, thresholds_of(document))
