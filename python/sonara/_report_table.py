"""The report's rows: one per file, read from results records, a results CSV or a DataFrame.

``read_jsonl_records`` is the one place that turns a JSON Lines file into record objects; once
the package reads schema 2 itself (``sonara.to_dataframe`` / ``Result.from_dict``), point it
there. Everything after it works on :class:`FileRow`.
"""

from __future__ import annotations

import json
import math
import posixpath
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING, Any, Iterable, Iterator, Mapping, Sequence

from ._report_config import Configuration
from ._vocabulary import DETAIL_FIELDS, SLOT_STATE_TEXTS, SLOT_UNITS, STATES

if TYPE_CHECKING:
    import pandas

SLOTS: tuple[str, ...] = tuple(SLOT_UNITS)
SLOT_INDEX = {name: index for index, name in enumerate(SLOTS)}
STATE_NAMES: dict[int, str] = {code: name for code, name, _, _ in STATES}
STATE_SLOT: dict[int, str] = {code: slot for code, _, slot, _ in STATES if slot}
ERROR_LABEL = "could not be checked"
DETAIL_NAMES: tuple[str, ...] = tuple(name for name, _, _ in DETAIL_FIELDS)
_SLOT_STATE_CODES = {text: code for code, text in SLOT_STATE_TEXTS.items()}
NOT_EVALUATED, PASSED, FAILED, ABSENT = 0, 1, 2, -1


@dataclass(slots=True)
class FileRow:
    """One file: its verdict, every slot's value (None where there is none) and slot state."""

    path: str
    state: int | None  # None: the file could not be checked
    label: str  # the state's name, or ERROR_LABEL
    values: list[float | None]
    slot_states: list[int]  # per slot: ABSENT, NOT_EVALUATED, PASSED or FAILED
    error: str | None = None
    details: list[dict[str, Any]] | None = None  # per channel, DETAIL_NAMES
    segments: list[list[list[float]]] | None = None  # per channel, [start, end] seconds
    strict: dict[str, Any] | None = None
    unmeasured: str | None = None
    config: tuple[str, str] | None = None  # (version, hash)
    extra: dict[str, Any] = field(default_factory=dict)

    @property
    def failed(self) -> bool:
        return self.state != 0


# --- the seam: JSON Lines into record objects ------------------------------------------------


def read_jsonl_records(path: Path) -> Iterator[tuple[int, dict[str, Any]]]:
    """(line number, record) for every non-blank line of a results JSON Lines file."""
    with path.open("r", encoding="utf-8", errors="surrogateescape") as stream:
        for number, line in enumerate(stream, 1):
            if not line.strip():
                continue
            try:
                record = json.loads(line)
            except json.JSONDecodeError as error:
                raise ValueError(f"{path}:{number}: not a JSON object: {error.msg}") from None
            if not isinstance(record, dict):
                raise ValueError(f"{path}:{number}: not a JSON object")
            yield number, record


# --- records into rows -----------------------------------------------------------------------


def _number(value: Any) -> float | None:
    if value is None or isinstance(value, bool):
        return None
    try:
        number = float(value)
    except (TypeError, ValueError):
        return None
    return number if math.isfinite(number) else None


def row_from_record(record: Mapping[str, Any]) -> FileRow:
    """A row from one results object (schema 1 or 2); raises ValueError for anything else."""
    path = record.get("path")
    if not isinstance(path, str):
        raise ValueError("no path")
    if "error" in record:
        return FileRow(path, None, ERROR_LABEL, [None] * len(SLOTS), [ABSENT] * len(SLOTS),
                       error=str(record["error"]))
    state = record.get("state")
    if not isinstance(state, int) or isinstance(state, bool):
        raise ValueError("no state code")
    name = record.get("state_name")
    values: list[float | None] = [None] * len(SLOTS)
    states = [ABSENT] * len(SLOTS)
    slots = record.get("slots", [])
    if not isinstance(slots, list):
        raise ValueError("slots is not a list")
    for slot in slots:
        index = SLOT_INDEX.get(slot.get("name")) if isinstance(slot, dict) else None
        if index is None:
            raise ValueError(f"unknown slot {slot!r:.60}")
        code = _SLOT_STATE_CODES.get(slot.get("state"))
        if code is None:
            raise ValueError(f"slot {slot['name']}: unknown state {slot.get('state')!r}")
        states[index] = code
        # Schema 1 wrote the library's leftover value where the check never reached the slot.
        values[index] = _number(slot.get("value")) if code != NOT_EVALUATED else None
    details = record.get("details")
    channels = details.get("channels") if isinstance(details, dict) else None
    segments = details.get("segments") if isinstance(details, dict) else None
    strict = record.get("strict")
    version, digest = record.get("config_version"), record.get("config_hash")
    return FileRow(
        path, state, name if isinstance(name, str) else STATE_NAMES.get(state, str(state)),
        values, states,
        details=[c for c in channels if isinstance(c, dict)] if isinstance(channels, list) else None,
        segments=segments if isinstance(segments, list) else None,
        strict=strict if isinstance(strict, dict) else None,
        unmeasured=record.get("unmeasured") if isinstance(record.get("unmeasured"), str) else None,
        config=(str(version), str(digest)) if version is not None or digest is not None else None,
        extra={k: record[k] for k in ("source_format", "converted") if k in record})


def rows_from_jsonl(path: Path) -> list[FileRow]:
    rows = []
    for number, record in read_jsonl_records(path):
        try:
            rows.append(row_from_record(record))
        except (ValueError, TypeError, KeyError) as error:
            raise ValueError(f"{path}:{number}: not a results record ({error})") from None
    return rows


def _cell(value: Any) -> Any:
    """A DataFrame cell with every kind of missing (None, NaN, pandas.NA, '') as None."""
    import pandas

    if value is None or value is pandas.NA:
        return None
    if isinstance(value, float) and math.isnan(value):
        return None
    if isinstance(value, str) and value == "":
        return None
    return value


def rows_from_frame(frame: "pandas.DataFrame") -> list[FileRow]:
    """Rows from a DataFrame (or CSV) in the results schema's columns."""
    missing = [c for c in ("path", "state") if c not in frame.columns]
    if missing:
        raise ValueError(f"not results in the schema (no column {', '.join(missing)})")
    channels = sorted({int(c[2:].split("_", 1)[0]) for c in frame.columns
                       if c.startswith("ch") and c[2:].split("_", 1)[0].isdigit()})
    rows = []
    for record in frame.to_dict("records"):
        path = str(_cell(record.get("path")) or "")
        error = _cell(record.get("error"))
        state = _cell(record.get("state"))
        if error is not None or state is None:
            rows.append(FileRow(path, None, ERROR_LABEL, [None] * len(SLOTS),
                                [ABSENT] * len(SLOTS), error=str(error or "no state")))
            continue
        state = int(state)
        values: list[float | None] = []
        states = []
        for slot in SLOTS:
            text = _cell(record.get(f"{slot}_state"))
            code = _SLOT_STATE_CODES.get(text, ABSENT) if text is not None else ABSENT
            states.append(code)
            values.append(_number(_cell(record.get(slot))) if code != NOT_EVALUATED else None)
        details = []
        for channel in channels:
            entry = {name: _number(_cell(record.get(f"ch{channel}_{name}")))
                     for name in DETAIL_NAMES}
            if any(v is not None for v in entry.values()):
                details.append(entry)
        name = _cell(record.get("state_name"))
        version, digest = _cell(record.get("config_version")), _cell(record.get("config_hash"))
        rows.append(FileRow(
            path, state, str(name) if name is not None else STATE_NAMES.get(state, str(state)),
            values, states, details=details or None,
            config=(str(version), str(digest)) if version is not None or digest is not None
            else None))
    return rows


def read_csv(path: Path) -> "pandas.DataFrame":
    import pandas as pd

    frame = pd.read_csv(path, dtype={"path": str, "state_name": str, "config_version": str,
                                     "config_hash": str, "error": str},
                        keep_default_na=False, na_values=[""])
    missing = [c for c in ("path", "state") if c not in frame.columns]
    if missing:
        raise ValueError(f"{path}: not a results CSV (no column {', '.join(missing)})")
    return frame


def load_rows(source: Any) -> list[FileRow]:
    """Rows from a DataFrame, or the path of a JSON Lines file (``.jsonl``, ``.json``,
    ``.ndjson`` or a file whose first character is ``{``) or a CSV file."""
    if hasattr(source, "columns") and hasattr(source, "to_dict"):
        return rows_from_frame(source)
    path = Path(source)
    with path.open("rb") as stream:
        head = stream.read(4096).lstrip()
    if path.suffix.lower() in (".jsonl", ".json", ".ndjson") or head.startswith(b"{"):
        return rows_from_jsonl(path)
    return rows_from_frame(read_csv(path))


# --- where the files are -----------------------------------------------------------------------


def common_folder(paths: Iterable[str]) -> str:
    """The folder every path lies in ("" when they share none, e.g. relative beside absolute)."""
    common: list[str] | None = None
    for path in paths:
        folder = posixpath.dirname(path)
        parts = [] if folder == "" else [""] if folder == "/" else folder.split("/")
        if common is None:
            common = parts
            continue
        n = 0
        for a, b in zip(common, parts):
            if a != b:
                break
            n += 1
        del common[n:]
        if not common:
            break
    if not common:
        return ""
    return "/".join(common) or "/"  # [""]: absolute paths that meet only at the root


def relative(path: str, root: str) -> str:
    if not root:
        return path
    prefix = root if root.endswith("/") else root + "/"
    return path[len(prefix):] if path.startswith(prefix) else path


# --- which failing files get a view with a figure ---------------------------------------------


def _badness(row: FileRow, slot: str | None, configuration: Configuration | None,
             centre: dict[str, float]) -> float:
    if slot is None:
        return 0.0
    value = row.values[SLOTS.index(slot)]
    if value is None:
        return math.inf  # a failing slot without a value: as bad as it gets
    threshold = configuration.thresholds.get(slot) if configuration else None
    if threshold is not None:
        return threshold.distance_beyond(value)
    if slot == "overload":
        return value
    if slot in ("signal_noise", "telephony_border", "voice_duration"):
        return -value
    return abs(value - centre.get(slot, 0.0))  # a range without its limits


def choose_detail_rows(rows: Sequence[FileRow], configuration: Configuration | None, cap: int,
                       named: Iterable[int] = ()) -> list[int]:
    """Indexes of the rows that get a figure: the failing ones, worst first within each state and
    taken from the states in turn, up to ``cap``; then every row in ``named``."""
    import statistics

    centre: dict[str, float] = {}
    thresholds = configuration.thresholds if configuration else {}
    for slot in set(STATE_SLOT.values()) - set(thresholds):  # ranges judged without limits
        i = SLOTS.index(slot)
        passed = [r.values[i] for r in rows if r.slot_states[i] == PASSED and r.values[i] is not None]
        if passed:
            centre[slot] = statistics.median(passed)  # type: ignore[type-var]
    groups: dict[str, list[int]] = {}
    for index, row in enumerate(rows):
        if row.failed:
            groups.setdefault(row.label, []).append(index)
    queues = []
    for label in sorted(groups, key=lambda name: (rows[groups[name][0]].state is None,
                                                  rows[groups[name][0]].state or 0)):
        members = groups[label]
        slot = STATE_SLOT.get(rows[members[0]].state or -1)
        members.sort(key=lambda i: (-_badness(rows[i], slot, configuration, centre), rows[i].path))
        queues.append(members)
    chosen: list[int] = []
    depth = 0
    while len(chosen) < cap and any(depth < len(q) for q in queues):
        for queue in queues:
            if depth < len(queue) and len(chosen) < cap:
                chosen.append(queue[depth])
        depth += 1
    seen = set(chosen)
    for index in named:
        if index not in seen:
            chosen.append(index)
            seen.add(index)
    return chosen
