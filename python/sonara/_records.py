"""Results read back from their JSON Lines records (what workers send and results files hold)."""

from __future__ import annotations

import math
from types import MappingProxyType
from typing import TYPE_CHECKING, Any, Iterable, Mapping, Optional

from ._result import SLOT_UNITS, Result, Slot, SlotState, State

if TYPE_CHECKING:
    import pandas

_SLOT_STATES = {state.text: state for state in SlotState}
_SPECIAL = {"nan": math.nan, "inf": math.inf, "-inf": -math.inf}


def _number(value: Any, special: Optional[str] = None) -> float:
    if value is None:
        return _SPECIAL.get(special or "nan", math.nan)
    return float(value)


def result_from_record(record: Mapping[str, Any], config_version: str = "",
                       config_hash: str = "") -> Result:
    """The :class:`Result` a record of the results schema describes (``Result.to_dict``'s
    inverse). The record of a file that could not be checked names no configuration; it gets
    ``config_version`` and ``config_hash``. Raises ``ValueError`` for a record that is not one:
    no path, an unknown state code or slot state."""
    path = record.get("path")
    if not isinstance(path, str):
        raise ValueError("a results record needs a \"path\" text")
    if "error" in record:
        return Result.unreadable(path, str(record["error"]), config_version, config_hash)
    try:
        state = State(int(record["state"]))
        slots = {}
        for slot in record.get("slots") or []:
            name = str(slot["name"])
            slots[name] = Slot(
                name=name, value=_number(slot.get("value"), slot.get("special")),
                enabled=bool(slot.get("enabled", True)), state=_SLOT_STATES[slot["state"]],
                unit=SLOT_UNITS.get(name),
                channels=tuple(_number(v) for v in slot.get("channels") or ()))
    except (KeyError, TypeError) as error:
        raise ValueError(f"{path}: not a results record ({error!r})") from None
    return Result(state=state, passed=bool(record.get("result")), slots=MappingProxyType(slots),
                  config_version=str(record.get("config_version", "")),
                  config_hash=str(record.get("config_hash", "")), path=path)


def records_to_dataframe(records: Iterable[Mapping[str, Any]], config_version: str = "",
                         config_hash: str = "") -> "pandas.DataFrame":
    """``to_dataframe`` over records of the results schema (see :func:`result_from_record`)."""
    from ._frame import to_dataframe

    return to_dataframe(result_from_record(record, config_version, config_hash)
                        for record in records)
