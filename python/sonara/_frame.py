"""Results as a pandas DataFrame, one row per file, columns as the results schema lists them."""

from __future__ import annotations

import math
import os
from typing import TYPE_CHECKING, Any, Iterable, Mapping, Union

from ._result import SLOT_NAMES, Result

if TYPE_CHECKING:
    import pandas


def columns() -> list[str]:
    """The DataFrame's columns, in order."""
    names = ["path", "result", "state", "state_name", "config_version", "config_hash"]
    for slot in SLOT_NAMES:
        names += [slot, f"{slot}_state"]
    return names + ["signal_noise_channels", "error"]


def _row(result: Result) -> dict[str, Any]:
    row: dict[str, Any] = {
        "path": result.to_dict()["path"],
        "result": result.passed,
        "state": None if result.state is None else int(result.state),
        "state_name": result.state_name,
        "config_version": result.config_version,
        "config_hash": result.config_hash,
    }
    for name in SLOT_NAMES:
        slot = result.slots.get(name)
        row[name] = slot.value if slot is not None and math.isfinite(slot.value) else math.nan
        row[f"{name}_state"] = None if slot is None else slot.state.text
    noise = result.slots.get("signal_noise")
    row["signal_noise_channels"] = [] if noise is None or noise.channels is None else list(noise.channels)
    row["error"] = result.error or ""
    return row


def to_dataframe(results: Iterable[Union[Result, tuple[Any, Result], Mapping[str, Any]]]) -> "pandas.DataFrame":
    """A DataFrame of results: :class:`Result` objects, the ``(path, Result)`` pairs of
    :func:`scan`, or JSON Lines objects of the results schema (as ``json.loads`` reads them). Rows in sorted path order (results without a path last, as given); a value
    that is not finite, or that the check did not report, is NaN; ``state`` is a nullable
    integer (missing for a file that could not be read); ``signal_noise_channels`` a list of
    floats (NaN where not finite). pandas is imported here only."""
    import pandas

    items = [item[1] if isinstance(item, tuple) else
             Result.from_dict(item) if isinstance(item, Mapping) else item for item in results]
    rows = [_row(result) for result in items]
    rows.sort(key=lambda row: (row["path"] is None, os.fsencode(row["path"]) if row["path"] else b""))
    frame = pandas.DataFrame(rows, columns=columns())
    frame["result"] = frame["result"].astype(bool)
    frame["state"] = frame["state"].astype("Int64")
    for name in SLOT_NAMES:
        frame[name] = frame[name].astype(float)
    return frame
