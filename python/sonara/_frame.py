"""Results as a pandas DataFrame, one row per file, columns as the results schema lists them."""

from __future__ import annotations

import math
import os
from typing import TYPE_CHECKING, Any, Callable, Iterable, Mapping, Optional, Union

from . import _vocabulary as vocabulary
from ._result import DETAIL_NAMES, INTEGER_DETAILS, INTEGER_SLOTS, SLOT_NAMES, Result, SlotState, State

if TYPE_CHECKING:
    import pandas

# The evidence columns: the first channels one by one, then the worst over every channel.
EVIDENCE_PREFIXES: tuple[str, ...] = tuple(f"ch{n}" for n in range(1, vocabulary.DETAIL_CSV_CHANNELS + 1)) + ("worst",)


def _magnitude(value: float) -> float:
    return abs(value)


# How "worst" picks among the channels' values, by field: the highest peak, the lowest RMS,
# the DC offset of largest magnitude, the most clipped samples, the least speech.
_WORST: dict[str, Callable[[list[Any]], Any]] = {
    "peak_dbfs": max,
    "rms_dbfs": min,
    "dc_offset": lambda values: max(values, key=_magnitude),
    "clipped_samples": max,
    "speech_seconds": min,
}
assert set(_WORST) == set(DETAIL_NAMES), "every evidence field needs its worst"


def columns(decode: bool = False, strict: bool = False) -> list[str]:
    """The DataFrame's columns, in order (``strict_failed``/``strict_reasons`` with strict
    rules, ``source_format``, ``converted``, ``declared_frames``, ``decoded_frames`` when
    decoding)."""
    names = ["path", "result", "state", "state_name", "config_version", "config_hash"]
    for slot in SLOT_NAMES:
        names += [slot, f"{slot}_state"]
    names.append("signal_noise_channels")
    names += [f"{prefix}_{field}" for prefix in EVIDENCE_PREFIXES for field in DETAIL_NAMES]
    if strict:
        names += ["strict_failed", "strict_reasons"]
    if decode:
        names += ["source_format", "converted", "declared_frames", "decoded_frames"]
    return names + ["unmeasured", "error"]


def _finite(value: Optional[float]) -> Optional[float]:
    return value if value is not None and math.isfinite(value) else None


def _evidence(result: Result, row: dict[str, Any]) -> None:
    channels = result.details.channels if result.details is not None else ()
    for number, prefix in enumerate(EVIDENCE_PREFIXES[:-1]):
        channel = channels[number] if number < len(channels) else None
        for field in DETAIL_NAMES:
            row[f"{prefix}_{field}"] = None if channel is None else getattr(channel, field)
    for field in DETAIL_NAMES:
        values = [getattr(channel, field) for channel in channels if getattr(channel, field) is not None]
        row[f"worst_{field}"] = _WORST[field](values) if values else None


def _row(result: Result) -> dict[str, Any]:
    checked = result.error is None
    row: dict[str, Any] = {
        "path": result.path,
        "result": result.passed,
        "state": None if result.state is None else int(result.state),
        "state_name": result.state_name,
        "config_version": result.config_version if checked else None,
        "config_hash": result.config_hash if checked else None,
    }
    for name in SLOT_NAMES:
        slot = result.slots.get(name)
        row[name] = None if slot is None else _finite(slot.value)
        row[f"{name}_state"] = None if slot is None else slot.state.text
    noise = result.slots.get("signal_noise")
    row["signal_noise_channels"] = None if noise is None or noise.channels is None else list(noise.channels)
    _evidence(result, row)
    row["strict_failed"] = None if result.strict is None else result.strict.failed
    row["strict_reasons"] = None if result.strict is None else list(result.strict.reasons)
    row["source_format"] = result.source_format
    row["converted"] = result.converted
    row["declared_frames"] = result.declared_frames
    row["decoded_frames"] = result.decoded_frames
    row["unmeasured"] = result.unmeasured
    row["error"] = result.error
    return row


ResultLike = Union[Result, tuple[Any, Result], Mapping[str, Any]]


def _as_result(item: ResultLike) -> Result:
    if isinstance(item, tuple):
        return item[1]
    if isinstance(item, Mapping):
        return Result.from_dict(item)
    return item


def to_dataframe(results: Iterable[ResultLike], decode: Optional[bool] = None,
                 strict: Optional[bool] = None) -> "pandas.DataFrame":
    """A DataFrame of results: :class:`Result` objects, the ``(path, Result)`` pairs of
    :func:`scan`, or JSON Lines objects of the results schema (as ``json.loads`` reads them).

    Rows in sorted path order (by the paths' bytes; results without a path last, as given).
    Whole numbers (``state``, ``sample_rate``, ``channels``, ``depth``, clipped samples, frame
    counts) are pandas ``Int64``; ``state_name`` and the ``<slot>_state`` columns are
    categoricals; a value that was not measured (a slot the check did not reach, a file that
    could not be checked, a channel the file doesn't have) or that is not finite is missing,
    and so is ``error`` where there is none. ``signal_noise_channels`` and ``strict_reasons``
    are lists. ``decode`` and ``strict`` add their columns; by default they are there when
    some result was decoded or judged with strict rules. pandas is imported here only."""
    import pandas

    items = [_as_result(item) for item in results]
    if decode is None:
        decode = any(result.source_format is not None for result in items)
    if strict is None:
        strict = any(result.strict is not None for result in items)
    rows = [_row(result) for result in items]
    rows.sort(key=lambda row: (row["path"] is None, os.fsencode(row["path"]) if row["path"] else b""))
    names = columns(decode, strict)
    frame = pandas.DataFrame(rows, columns=names)
    frame["result"] = frame["result"].astype(bool)
    integers = ["state", *INTEGER_SLOTS, *(f"{prefix}_{field}" for prefix in EVIDENCE_PREFIXES
                                           for field in INTEGER_DETAILS)]
    if decode:
        integers += ["declared_frames", "decoded_frames"]
    floats = [name for name in SLOT_NAMES if name not in INTEGER_SLOTS]
    floats += [f"{prefix}_{field}" for prefix in EVIDENCE_PREFIXES for field in DETAIL_NAMES
               if field not in INTEGER_DETAILS]
    for name in integers:
        frame[name] = frame[name].astype("Int64")
    for name in floats:
        frame[name] = frame[name].astype(float)
    frame["state_name"] = pandas.Categorical(frame["state_name"], categories=[state.name for state in State])
    slot_states = [state.text for state in SlotState]
    for name in SLOT_NAMES:
        frame[f"{name}_state"] = pandas.Categorical(frame[f"{name}_state"], categories=slot_states)
    boolean = (["strict_failed"] if strict else []) + (["converted"] if decode else [])
    for name in boolean:
        frame[name] = frame[name].astype("boolean")
    for name in ("config_version", "config_hash", "source_format", "unmeasured", "error"):
        if name in frame:
            frame[name] = frame[name].astype(object).where(frame[name].notna(), None)
    return frame
