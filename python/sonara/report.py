"""One self-contained HTML page that shows how an archive's check results spread.

``python3 -m sonara.report results.jsonl -o report.html [--config FILE] [--png DIR]``

The input is a results file in the JSON Lines or CSV schema (docs/results-schema.md), or, from
Python, a DataFrame in the same columns (``sonara.to_dataframe``, ``check_archive``). The page
holds, as PNG images embedded in the page (nothing is fetched over the network):

- files per state;
- per measurement, a histogram of the values, each bar split into files that passed and files
  that failed that measurement, with the share that fails;
- duration against voice duration as a scatter;
- the 20 worst files of every failing state, with their values;
- the configuration version(s) and hash(es), the number of files and the hours of audio.

The share that fails a measurement is counted from the slot states in the results, which are the
library's own verdicts (a switched-off check passes there, as it does in the library). The
results name their configuration only by version and hash, so the thresholds themselves come
from ``--config``: with it, each histogram draws the configured limits and the page says whether
the configuration's hash matches the results'; without it, the histograms have no threshold
lines and their captions say so.
"""

from __future__ import annotations

import argparse
import base64
import hashlib
import html
import io
import json
import math
import os
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any, Iterable, Sequence, Union

from ._result import SLOT_NAMES, SLOT_UNITS

if TYPE_CHECKING:  # pandas and matplotlib are imported where they are needed
    import pandas

# The slot whose failure each failing state reports.
STATE_SLOT: dict[int, str] = {
    106: "signal_noise",
    107: "channels",
    108: "sample_rate",
    109: "depth",
    110: "length",
    111: "duration",
    112: "telephony_border",
    113: "overload",
    114: "voice_duration",
}

WORST_COUNT = 20
ERROR_STATE = "could not be checked"

Source = Union[str, "os.PathLike[str]", "pandas.DataFrame"]


# --- reading results -------------------------------------------------------------------------


def _read_jsonl(path: Path) -> "pandas.DataFrame":
    from ._frame import to_dataframe

    records = []
    with path.open("r", encoding="utf-8") as stream:
        for number, line in enumerate(stream, 1):
            if not line.strip():
                continue
            try:
                record = json.loads(line)
            except json.JSONDecodeError as error:
                raise ValueError(f"{path}:{number}: not a JSON object: {error.msg}") from None
            if not isinstance(record, dict):
                raise ValueError(f"{path}:{number}: not a JSON object")
            records.append(record)
    try:
        return to_dataframe(records)
    except (KeyError, TypeError, ValueError) as error:
        raise ValueError(f"{path}: not a results file in the schema ({error!r})") from None


def _read_csv(path: Path) -> "pandas.DataFrame":
    import pandas as pd

    frame = pd.read_csv(path, dtype={"path": str, "state_name": str, "config_version": str,
                                     "config_hash": str, "error": str},
                        keep_default_na=False, na_values=[""])
    missing = [c for c in ("path", "state") if c not in frame.columns]
    if missing:
        raise ValueError(f"{path}: not a results CSV (no column {', '.join(missing)})")
    return frame


def load_results(source: Source) -> "pandas.DataFrame":
    """Reads results into the schema's DataFrame columns.

    ``source`` is a DataFrame (used as it is), or the path of a JSON Lines file (``.jsonl``,
    ``.json``, or any file whose first character is ``{``) or a CSV file.
    """
    import pandas as pd

    if isinstance(source, pd.DataFrame):
        return source
    path = Path(source)
    with path.open("rb") as stream:
        head = stream.read(4096).lstrip()
    if path.suffix.lower() in (".jsonl", ".json", ".ndjson") or head.startswith(b"{"):
        return _read_jsonl(path)
    return _read_csv(path)


# --- the configuration's thresholds ----------------------------------------------------------


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
            text = f"passes within {_num(self.low)}–{_num(self.high)}{u}"
        elif self.kind == "above":
            text = f"passes above {_num(self.low)}{u}"
        elif self.kind == "below":
            text = f"passes below {_num(self.high)}{u}"
        else:
            text = f"passes from {_num(self.low)}{u} up"
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


def _int32(value: float) -> int:
    # The library keeps these borders as 32-bit integers, truncated toward zero and saturated.
    return int(max(-2**31, min(2**31 - 1, math.trunc(value))))


def _float32(value: float) -> float:
    import struct

    try:
        return struct.unpack("f", struct.pack("f", value))[0]
    except OverflowError:
        return math.copysign(math.inf, value)


# Configuration entry of each slot, how its value is stored, and how the slot is judged.
_ENTRIES: dict[str, tuple[str, str]] = {
    "length": ("length", "range"),
    "sample_rate": ("sample_rate", "range"),
    "channels": ("channels", "range"),
    "depth": ("depth", "range"),
    "duration": ("duration", "range"),
    "telephony_border": ("telephony_border", "above"),
    "overload": ("overload_border", "below"),
    "voice_duration": ("voice_duration", "at_least"),
    "signal_noise": ("signal_noise", "at_least"),
}
_INTEGER_BORDERS = {"telephony_border", "signal_noise"}


def read_configuration(path: str | os.PathLike[str]) -> Configuration:
    """Reads a configuration file (or a directory holding cv_configuration.json) for its limits.

    Only what the report draws is taken: the version, the SHA-256 of the file's bytes (the hash
    the library reports), and each check's limits in the form the library stores them.
    """
    location = Path(path)
    if location.is_dir():
        location = location / "cv_configuration.json"
    data = location.read_bytes()
    try:
        document = json.loads(data.decode("utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        raise ValueError(f"{location}: not a JSON configuration: {error}") from None
    if not isinstance(document, dict):
        raise ValueError(f"{location}: not a JSON object")
    thresholds: dict[str, Threshold] = {}
    for slot, (entry_name, kind) in _ENTRIES.items():
        entry = document.get(entry_name)
        if not isinstance(entry, dict):
            continue
        enabled = entry.get("enable", True) is not False
        if kind == "range":
            low, high = entry.get("min"), entry.get("max")
            if not isinstance(low, (int, float)) or not isinstance(high, (int, float)):
                continue
            thresholds[slot] = Threshold(kind, _int32(low), _int32(high), enabled)
            continue
        value = entry.get("value")
        if not isinstance(value, (int, float)):
            continue
        border = float(_int32(value)) if entry_name in _INTEGER_BORDERS else _float32(value)
        if kind == "below":
            thresholds[slot] = Threshold(kind, None, border, enabled)
        else:
            thresholds[slot] = Threshold(kind, border, None, enabled)
    version = document.get("version")
    return Configuration(version if isinstance(version, str) else "unknown",
                         hashlib.sha256(data).hexdigest(), thresholds)


# --- figures -----------------------------------------------------------------------------------


@dataclass
class Figure:
    name: str  # file name stem for --png, also the figure's id in the page
    title: str
    caption: str
    png: bytes


def _new_figure(width: float = 7.0, height: float = 3.6) -> Any:
    # A Figure with its own Agg canvas: no pyplot state, no display needed.
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure as MplFigure

    figure = MplFigure(figsize=(width, height), dpi=100, layout="constrained")
    FigureCanvasAgg(figure)
    return figure


def _png(figure: Any) -> bytes:
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png")
    return buffer.getvalue()


def _num(value: float | None) -> str:
    if value is None or not math.isfinite(value):
        return str(value)
    return f"{value:.6g}"


def _state_labels(frame: "pandas.DataFrame") -> "pandas.Series":
    errors = frame["error"].fillna("").astype(str) if "error" in frame else None
    labels = frame["state_name"].astype(object).where(frame["state_name"].notna(), None)
    if errors is not None:
        labels = labels.where(errors == "", ERROR_STATE)
    return labels.fillna(ERROR_STATE)


def _states_figure(frame: "pandas.DataFrame") -> Figure:
    labels = _state_labels(frame)
    counts = labels.value_counts()
    order = sorted(counts.index, key=lambda name: (name != "STATE_OK", -counts[name], name))
    figure = _new_figure(7.0, max(2.0, 0.4 * len(order) + 1.0))
    axes = figure.add_subplot()
    colours = ["#3a8f4b" if name == "STATE_OK" else "#c0392b" for name in order]
    bars = axes.barh(order, [counts[name] for name in order], color=colours)
    axes.invert_yaxis()
    axes.bar_label(bars, padding=3)
    axes.set_xlabel("files")
    axes.set_title("Files per state")
    axes.margins(x=0.15)
    parts = ", ".join(f"{name} {counts[name]}" for name in order)
    caption = f"Files per state, {len(frame)} files: {parts}."
    return Figure("report-states", "Files per state", caption, _png(figure))


def _measurement_figure(frame: "pandas.DataFrame", slot: str,
                        configuration: Configuration | None) -> Figure:
    import numpy as np
    from matplotlib.ticker import MaxNLocator

    unit = SLOT_UNITS[slot]
    states = frame.get(f"{slot}_state")
    values = frame.get(slot)
    if states is None or values is None:
        states = frame["path"].map(lambda _: None)
        values = frame["path"].map(lambda _: math.nan)
    evaluated = states.isin(["passed", "failed"])
    failed = states == "failed"
    numeric = values.astype(float)
    finite = evaluated & np.isfinite(numeric)
    n_evaluated, n_failed = int(evaluated.sum()), int(failed.sum())
    n_not_finite = int((evaluated & ~np.isfinite(numeric)).sum())

    figure = _new_figure()
    axes = figure.add_subplot()
    passed_values = numeric[finite & ~failed].to_numpy()
    failed_values = numeric[finite & failed].to_numpy()
    threshold = configuration.thresholds.get(slot) if configuration else None
    if passed_values.size or failed_values.size:
        everything = np.concatenate([passed_values, failed_values])
        low, high = float(everything.min()), float(everything.max())
        span = high - low if high > low else max(abs(low), 1.0)
        # Limits close to the data widen the plot so they show; far ones are only named.
        shown_limits = [v for v in (threshold.lines() if threshold else [])
                        if low - span <= v <= high + span]
        edges_low = min([low] + shown_limits)
        edges_high = max([high] + shown_limits)
        if edges_high == edges_low:
            edges_low, edges_high = edges_low - 0.5, edges_high + 0.5
        bins = int(min(40, max(10, math.sqrt(everything.size) * 2)))
        axes.hist([passed_values, failed_values], bins=bins, range=(edges_low, edges_high),
                  stacked=True, color=["#3a8f4b", "#c0392b"], label=["passed", "failed"])
        axes.legend(loc="best")
    else:
        shown_limits = []
        axes.text(0.5, 0.5, "no finite values", ha="center", va="center",
                  transform=axes.transAxes)
    for limit in shown_limits:
        axes.axvline(limit, color="#1f3b73", linestyle="--" if threshold and threshold.enabled
                     else ":", linewidth=1.5)
    axes.set_xlabel(f"{slot} ({unit})" if unit else slot)
    axes.set_ylabel("files")
    axes.yaxis.set_major_locator(MaxNLocator(integer=True))
    share = n_failed / n_evaluated if n_evaluated else 0.0
    axes.set_title(f"{slot}: {share:.1%} of {n_evaluated} evaluated files fail")

    caption = (f"{slot}{f' ({unit})' if unit else ''}: {n_evaluated} files evaluated, "
               f"{n_failed} fail ({share:.1%})")
    if n_not_finite:
        caption += f", {n_not_finite} without a finite value (not drawn)"
    caption += "."
    if slot == "signal_noise":
        caption += " The value is the lowest channel's."
    if configuration is None:
        caption += " No configuration given (--config): thresholds not drawn."
    elif threshold is None:
        caption += " Not configured."
    else:
        caption += f" Threshold ({threshold.describe(unit)}) drawn as dashed lines"
        hidden = [v for v in threshold.lines() if v not in shown_limits]
        if hidden:
            caption += "; beyond the plotted range: " + ", ".join(_num(v) for v in hidden)
        caption += "."
    name = "report-" + slot.replace("_", "-")
    return Figure(name, slot, caption, _png(figure))


def _scatter_figure(frame: "pandas.DataFrame", configuration: Configuration | None) -> Figure:
    import numpy as np

    duration = frame["duration"].astype(float)
    voice = frame["voice_duration"].astype(float)
    drawn = np.isfinite(duration) & np.isfinite(voice)
    passed = frame["result"].map(lambda v: v is True or str(v).lower() == "true")
    figure = _new_figure(7.0, 4.5)
    axes = figure.add_subplot()
    axes.scatter(duration[drawn & passed], voice[drawn & passed], s=14, color="#3a8f4b",
                 label="passed", alpha=0.7)
    axes.scatter(duration[drawn & ~passed], voice[drawn & ~passed], s=14, color="#c0392b",
                 label="failed", alpha=0.7)
    if drawn.any():
        top = float(max(duration[drawn].max(), voice[drawn].max(), 0.0))
        axes.plot([0, top], [0, top], color="#888888", linewidth=0.8, label="voice = duration")
    threshold = configuration.thresholds.get("voice_duration") if configuration else None
    if threshold is not None and threshold.low is not None:
        axes.axhline(threshold.low, color="#1f3b73", linestyle="--", linewidth=1.2,
                     label="voice duration threshold")
    axes.set_xlabel("duration (s)")
    axes.set_ylabel("voice duration (s)")
    axes.set_title("Duration against voice duration")
    axes.legend(loc="upper left", fontsize="small")
    caption = (f"Duration against voice duration: {int(drawn.sum())} files with both values "
               f"({int((drawn & ~passed).sum())} failed a check).")
    return Figure("report-duration-voice", "Duration against voice duration", caption,
                  _png(figure))


# --- tables ------------------------------------------------------------------------------------


def _worst(frame: "pandas.DataFrame", state: int, configuration: Configuration | None
           ) -> "pandas.DataFrame":
    """The files of one failing state, worst first (as far beyond the limit as they go)."""
    rows = frame[frame["state"] == state]
    slot = STATE_SLOT.get(state)
    if slot is None or slot not in rows:
        return rows.sort_values("path").head(WORST_COUNT)
    values = rows[slot].astype(float)
    threshold = configuration.thresholds.get(slot) if configuration else None
    if threshold is not None:
        badness = values.map(threshold.distance_beyond)
    elif slot == "overload":
        badness = values
    elif slot in ("signal_noise", "telephony_border", "voice_duration"):
        badness = -values
    else:  # a range without its limits: farthest from the files that passed
        passed = frame.loc[frame[f"{slot}_state"] == "passed", slot].astype(float)
        centre = passed.median() if passed.notna().any() else values.median()
        badness = (values - centre).abs()
    order = badness.fillna(math.inf).sort_values(ascending=False, kind="stable").index
    return rows.loc[order].head(WORST_COUNT)


def _cell(value: Any) -> str:
    if isinstance(value, float):
        return "" if math.isnan(value) else _num(value)
    if isinstance(value, (list, tuple)):
        return "; ".join(_cell(v) for v in value)
    return "" if value is None else str(value)


def _table(frame: "pandas.DataFrame", columns: Sequence[str], highlight: str | None = None) -> str:
    head = "".join(f"<th>{html.escape(c)}</th>" for c in columns)
    body = []
    for _, row in frame.iterrows():
        cells = []
        for column in columns:
            mark = ' class="bad"' if column == highlight else ""
            cells.append(f"<td{mark}>{html.escape(_cell(row.get(column)))}</td>")
        body.append("<tr>" + "".join(cells) + "</tr>")
    return f'<table><thead><tr>{head}</tr></thead><tbody>{"".join(body)}</tbody></table>'


# --- the page ----------------------------------------------------------------------------------

_STYLE = """
body { font-family: sans-serif; margin: 2em auto; max-width: 1100px; color: #222; }
h1 { font-size: 1.6em; } h2 { font-size: 1.25em; margin-top: 2em; }
table { border-collapse: collapse; margin: 0.5em 0 1.5em; font-size: 0.85em; }
th, td { border: 1px solid #ccc; padding: 2px 6px; text-align: left; }
td.bad { background: #f6d5d1; }
figure { margin: 1.5em 0; } figure img { max-width: 100%; border: 1px solid #eee; }
figcaption { font-size: 0.9em; color: #444; }
code { font-size: 0.95em; }
"""


@dataclass
class Report:
    html: str
    figures: list[Figure]


def build_report(source: Source, configuration: Configuration | None = None,
                 title: str = "Recording check report") -> Report:
    """Builds the page (and its figures) from results in the schema."""
    import pandas as pd

    frame = load_results(source).reset_index(drop=True)
    for column in ("error", "state_name", "config_version", "config_hash", "result"):
        if column not in frame:
            frame[column] = None
    if "error" in frame:
        frame["error"] = frame["error"].fillna("").astype(str)
    for slot in SLOT_NAMES:
        if slot not in frame:
            frame[slot] = math.nan
        if f"{slot}_state" not in frame:
            frame[f"{slot}_state"] = None
    frame["state"] = pd.to_numeric(frame["state"], errors="coerce").astype(float)
    for slot in SLOT_NAMES:
        # A slot the check never reached still holds a reset value: it is no measurement.
        evaluated = frame[f"{slot}_state"].isin(["passed", "failed"])
        frame[slot] = pd.to_numeric(frame[slot], errors="coerce").astype(float).where(evaluated)

    figures = [_states_figure(frame)]
    figures += [_measurement_figure(frame, slot, configuration) for slot in SLOT_NAMES]
    figures.append(_scatter_figure(frame, configuration))

    checked = frame[frame["error"] == ""]
    durations = checked["duration"].astype(float)
    hours = float(durations[durations.notna()].sum()) / 3600.0
    parts = ["<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">",
             f"<title>{html.escape(title)}</title><style>{_STYLE}</style></head><body>",
             f"<h1>{html.escape(title)}</h1>"]

    parts.append('<h2>Summary</h2><table id="summary"><tbody>')
    summary = [("files", str(len(frame))), ("checked", str(len(checked))),
               ("could not be checked", str(len(frame) - len(checked))),
               ("passed", str(int((checked["state"] == 0).sum()))),
               ("hours of audio", f"{hours:.3f}"),
               ("files with a duration", str(int(durations.notna().sum())))]
    for key, value in summary:
        parts.append(f'<tr><th>{html.escape(key)}</th><td data-key="{html.escape(key)}">'
                     f"{html.escape(value)}</td></tr>")
    parts.append("</tbody></table>")
    parts.append("<p>Hours of audio: the header durations summed over the files whose duration "
                 "was read.</p>")

    parts.append('<h2>Configuration</h2><table id="configurations"><thead><tr><th>version</th>'
                 "<th>hash</th><th>files</th></tr></thead><tbody>")
    groups = checked.groupby(["config_version", "config_hash"], dropna=False).size()
    for (version, digest), count in groups.items():
        parts.append(f"<tr><td>{html.escape(_cell(version))}</td><td><code>"
                     f"{html.escape(_cell(digest))}</code></td><td>{count}</td></tr>")
    parts.append("</tbody></table>")
    if configuration is None:
        parts.append("<p>No configuration was given (<code>--config</code>): the histograms show "
                     "no thresholds. The shares that fail come from the results' slot states.</p>")
    else:
        hashes = set(checked["config_hash"].dropna().astype(str))
        verdict = ("matches the results" if hashes == {configuration.hash}
                   else "does NOT match every result: the drawn thresholds may not be the ones "
                        "the files were judged by")
        parts.append(f"<p>Thresholds drawn from configuration {html.escape(configuration.version)}"
                     f" (<code>{configuration.hash}</code>), which {verdict}. The shares that "
                     "fail come from the results' slot states.</p>")

    parts.append("<h2>Figures</h2>")
    for figure in figures:
        data = base64.b64encode(figure.png).decode("ascii")
        parts.append(f'<figure id="{figure.name}"><img alt="{html.escape(figure.title)}" '
                     f'src="data:image/png;base64,{data}"><figcaption>'
                     f"{html.escape(figure.caption)}</figcaption></figure>")

    parts.append("<h2>Worst files per failing state</h2>")
    failing = sorted(int(s) for s in checked["state"].dropna().unique() if int(s) != 0)
    if not failing:
        parts.append("<p>No file failed.</p>")
    for state in failing:
        rows = _worst(checked, state, configuration)
        name = _cell(rows["state_name"].iloc[0]) if len(rows) else str(state)
        total = int((checked["state"] == state).sum())
        slot = STATE_SLOT.get(state)
        order = f", worst {slot} first" if slot else ", in path order"
        parts.append(f'<h3 id="worst-{state}">{state} {html.escape(name)}: {total} files '
                     f"(the first {len(rows)}{html.escape(order)})</h3>")
        parts.append(_table(rows, ["path", *SLOT_NAMES], highlight=slot))

    errors = frame[frame["error"] != ""]
    if len(errors):
        parts.append(f'<h2 id="errors">Files that could not be checked: {len(errors)}</h2>')
        parts.append(_table(errors.sort_values("path").head(WORST_COUNT), ["path", "error"]))
    parts.append("</body></html>\n")
    return Report("".join(parts), figures)


def write_report(source: Source, output: str | os.PathLike[str],
                 configuration: Configuration | str | os.PathLike[str] | None = None,
                 png_dir: str | os.PathLike[str] | None = None) -> Report:
    """Writes the page to ``output`` and, with ``png_dir``, every figure as a PNG there."""
    if configuration is not None and not isinstance(configuration, Configuration):
        configuration = read_configuration(configuration)
    report = build_report(source, configuration)
    Path(output).write_text(report.html, encoding="utf-8")
    if png_dir is not None:
        folder = Path(png_dir)
        folder.mkdir(parents=True, exist_ok=True)
        for figure in report.figures:
            (folder / f"{figure.name}.png").write_bytes(figure.png)
    return report


def main(argv: Iterable[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m sonara.report",
        description="Builds one self-contained HTML page from check results "
                    "(JSON Lines or CSV in the results schema).")
    parser.add_argument("results", help="results file (.jsonl or .csv)")
    parser.add_argument("-o", "--output", default="report.html",
                        help="the HTML page to write (default: report.html)")
    parser.add_argument("--config", metavar="FILE",
                        help="the configuration the files were judged by: its thresholds are "
                             "drawn on the histograms")
    parser.add_argument("--png", metavar="DIR", help="also write every figure as a PNG in DIR")
    args = parser.parse_args(None if argv is None else list(argv))
    try:
        report = write_report(args.results, args.output, args.config, args.png)
    except (OSError, ValueError) as error:
        print(f"sonara.report: {error}", file=sys.stderr)
        return 2
    print(f"sonara.report: wrote {args.output} ({len(report.figures)} figures)", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
