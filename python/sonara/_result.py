"""What one check answers: the session's state code, the nine result slots, and, for a record
of the archive engine, its evidence, strict verdict and decoding figures.

Every word here (slot names and units, state names and codes, slot-state texts, evidence
fields) comes from the generated vocabulary, the table the engine's writers use too.
"""

from __future__ import annotations

import collections
import dataclasses
import enum
import json
import math
from dataclasses import dataclass, field
from types import MappingProxyType
from typing import Any, Mapping, Optional

from . import _vocabulary as vocabulary

SCHEMA: int = vocabulary.RESULTS_SCHEMA
# Schema versions from_dict reads: the current one, and schema 1 for older files.
READABLE_SCHEMAS = (1, SCHEMA)

SLOT_UNITS: Mapping[str, Optional[str]] = MappingProxyType(dict(vocabulary.SLOT_UNITS))
SLOT_NAMES: tuple[str, ...] = tuple(SLOT_UNITS)
INTEGER_SLOTS: tuple[str, ...] = tuple(vocabulary.INTEGER_SLOTS)
DETAIL_NAMES: tuple[str, ...] = tuple(name for name, _, _ in vocabulary.DETAIL_FIELDS)
INTEGER_DETAILS: tuple[str, ...] = tuple(name for name, _, integer in vocabulary.DETAIL_FIELDS if integer)

# The session's status code after a check, under the C names.
State = enum.IntEnum("State", [(name, code) for code, name, _, _ in vocabulary.STATES],
                     module=__name__)
State.__doc__ = "The session's status code after a check, under the C names."


def _slot_state_member(text: str) -> str:
    return text.upper().replace(" ", "_")


class _SlotStateBase(enum.IntEnum):
    @property
    def text(self) -> str:
        """"not evaluated", "passed" or "failed", as the results schema writes it."""
        return vocabulary.SLOT_STATE_TEXTS[int(self)]


# A slot's own state: whether the last check evaluated its value and how it was judged
# (PASSED also for a check that is switched off).
SlotState = _SlotStateBase("SlotState", [(_slot_state_member(text), code)
                                          for code, text in vocabulary.SLOT_STATE_TEXTS.items()],
                           module=__name__)
SlotState.__doc__ = ("A slot's own state: NOT_EVALUATED, PASSED (also for a check that is "
                     "switched off) or FAILED; ``text`` as the results schema writes it.")
_SLOT_STATES_BY_TEXT = {state.text: state for state in SlotState}
_SPECIALS = {"nan": math.nan, "inf": math.inf, "-inf": -math.inf}


def _same_key(value: Optional[float]) -> object:
    # NaN is a value like any other when comparing results: two checks of a silent file agree.
    return "nan" if value is not None and math.isnan(value) else value


@dataclass(frozen=True, eq=False)
class Slot:
    """One result slot: the value the check measured and how it was judged.

    ``value`` is None when the check did not reach the slot (``state`` NOT_EVALUATED): it was
    not measured. A reached value that is not finite is NaN or ±inf. ``channels`` holds the
    per-channel values of the signal-to-noise slot (NaN where not finite), None for every other
    slot and when the check stopped before signal-to-noise. ``enabled`` is the check's switch
    as it stood when the check began.
    """

    name: str
    value: Optional[float]
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


def _slot_from_dict(record: Mapping[str, Any], schema: int) -> Slot:
    state = _SLOT_STATES_BY_TEXT[record["state"]]
    value = record["value"]
    channels = record.get("channels")
    if value is not None:
        value = float(value)
    elif "special" in record:
        value = _SPECIALS[record["special"]]
    elif schema == 1:  # schema 1 wrote null only for a value that is not finite
        value = math.nan
    if state == SlotState.NOT_EVALUATED:
        value = None  # schema 1 wrote the library's leftover there: not a measurement
    return Slot(name=record["name"], value=value, enabled=bool(record["enabled"]), state=state,
                unit=record.get("unit"),
                channels=None if channels is None else
                tuple(math.nan if v is None else float(v) for v in channels))


# One channel's evidence, fields in the vocabulary's order; None where the schema writes null.
ChannelDetails = collections.namedtuple("ChannelDetails", DETAIL_NAMES)  # type: ignore[misc]


@dataclass(frozen=True)
class Details:
    """The evidence measured on the decoded samples: one :class:`ChannelDetails` per channel,
    and, when asked for (``segments=True``), each channel's speech segments as ``(start,
    end)`` seconds."""

    channels: tuple[Any, ...]
    segments: Optional[tuple[tuple[tuple[float, float], ...], ...]] = None

    @classmethod
    def from_dict(cls, record: Mapping[str, Any]) -> "Details":
        channels = tuple(ChannelDetails(*(channel.get(name) for name in DETAIL_NAMES))
                         for channel in record.get("channels", ()))
        segments = record.get("segments")
        return cls(channels=channels, segments=None if segments is None else
                   tuple(tuple((float(start), float(end)) for start, end in channel)
                         for channel in segments))


@dataclass(frozen=True)
class Strict:
    """The strict verdict: ``failed`` and its ``reasons``, in the engine's words and order."""

    failed: bool
    reasons: tuple[str, ...] = ()


@dataclass(frozen=True)
class Result:
    """The answer of one check, or of a file that could not be checked at all.

    ``passed`` (alias ``result``, the schema's name) is what the check call answered: true when
    every judged value passed (the strict verdict is apart, in ``strict``); ``state`` is the
    session's status code after it. ``slots`` maps each slot's name to its :class:`Slot`, in
    the library's chain order; it is empty for an empty file (state 103). ``path`` is the
    file's path (a ``str``; bytes that are not UTF-8 as surrogate escapes, so
    ``os.fsencode(path)`` gives them back), or None for content checked without a name.

    A file that could not be checked (unreadable, too large, not a regular file, undecodable)
    has ``error`` set, ``state`` None, ``passed`` false and no slots.

    Records of the archive engine (:func:`sonara.scan`, ``sonara.distributed``,
    :meth:`from_dict`) also carry ``details`` (evidence per channel, when the samples were
    decoded), ``strict`` (with strict rules), ``source_format``/``converted`` (when decoding),
    ``declared_frames``/``decoded_frames`` (a converted file) and ``unmeasured`` (why values
    that need samples are missing); ``record`` is the record itself as the engine wrote it,
    and ``record_text`` its JSON Lines line, byte for byte (from :func:`sonara.scan` and
    :meth:`from_json`).
    """

    state: Optional[State]  # type: ignore[valid-type]
    passed: bool
    slots: Mapping[str, Slot]
    config_version: str
    config_hash: str
    path: Optional[str] = None
    error: Optional[str] = None
    source_format: Optional[str] = None
    converted: Optional[bool] = None
    strict: Optional[Strict] = None
    details: Optional[Details] = None
    declared_frames: Optional[int] = None
    decoded_frames: Optional[int] = None
    unmeasured: Optional[str] = None
    record: Optional[Mapping[str, Any]] = field(default=None, compare=False, repr=False)
    record_text: Optional[str] = field(default=None, compare=False, repr=False)

    @property
    def result(self) -> bool:
        """The schema's name of :attr:`passed` (the ``result`` field and column)."""
        return self.passed

    @property
    def state_name(self) -> Optional[str]:
        return None if self.state is None else self.state.name

    @classmethod
    def from_json(cls, line: str) -> "Result":
        """The result of one JSON Lines line of the results schema, keeping the line."""
        return dataclasses.replace(cls.from_dict(json.loads(line)), record_text=line)

    @classmethod
    def from_dict(cls, record: Mapping[str, Any]) -> "Result":
        """The result a JSON Lines object of the results schema describes (schema 2, or schema
        1 of older files). A channel value written as null comes back as NaN, a slot value the
        check did not reach as None."""
        schema = record.get("schema")
        if schema not in READABLE_SCHEMAS:
            raise ValueError(f"not a results record of schema {' or '.join(map(str, READABLE_SCHEMAS))}:"
                             f" schema {schema!r}")
        kept = MappingProxyType(dict(record))
        if "error" in record:
            return cls(state=None, passed=False, slots=MappingProxyType({}), config_version="",
                       config_hash="", path=record["path"], error=record["error"], record=kept)
        slots = {slot["name"]: _slot_from_dict(slot, schema) for slot in record["slots"]}
        converted = record.get("converted")
        strict = record.get("strict")
        details = record.get("details")
        return cls(state=State(record["state"]), passed=bool(record["result"]),
                   slots=MappingProxyType(slots), config_version=record["config_version"],
                   config_hash=record["config_hash"], path=record["path"],
                   source_format=record.get("source_format"),
                   converted=None if converted is None else bool(converted),
                   strict=None if strict is None else
                   Strict(bool(strict["failed"]), tuple(strict.get("reasons", ()))),
                   details=None if details is None else Details.from_dict(details),
                   declared_frames=record.get("declared_frames"),
                   decoded_frames=record.get("decoded_frames"),
                   unmeasured=record.get("unmeasured"), record=kept)

    def to_dict(self) -> dict[str, Any]:
        """The JSON Lines object the archive engine wrote for this result (a copy).

        Only records have one: a :class:`Result` of :meth:`Session.check` is the library's
        answer for content, which the engine never saw; check files with :func:`sonara.scan`
        to get their records."""
        if self.record is None:
            raise ValueError("this result is not a record of the archive engine (Session.check "
                             "answers the library's values only); sonara.scan gives records")
        return dict(self.record)
