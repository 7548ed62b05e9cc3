"""The report's figures, as Plotly figure objects (data and layout), and the same drawn as PNG.

The counts are made here, once: bins whose edges fall on the configured limits, a log axis for
values that spread over decades, bars of the values themselves for slots with a few distinct
values. The page hands the objects to plotly.js; ``to_png`` draws the same bars and lines with
matplotlib for ``--png``.
"""

from __future__ import annotations

import io
import math
import random
from dataclasses import dataclass
from typing import Any, Sequence

from ._report_config import Configuration, Threshold, number
from ._report_table import ERROR_LABEL, FAILED, NOT_EVALUATED, SLOTS, FileRow
from ._vocabulary import INTEGER_SLOTS, SLOT_LABELS, SLOT_UNITS

GREEN, RED, GREY, LIMIT = "#3a8f4b", "#c0392b", "#8a8a8a", "#1f3b73"
LOG_SLOTS = ("length", "duration", "voice_duration")
MAX_CATEGORIES = 30  # distinct values of a whole-number slot drawn as one bar each
MAX_SCATTER_POINTS = 10_000
EXAMPLES_PER_BAR = 3


@dataclass
class Figure:
    name: str  # the element id in the page, and the file name stem for --png
    title: str
    caption: str
    plot: dict[str, Any]  # {"data": [...], "layout": {...}}


def _axis_title(slot: str) -> str:
    unit = SLOT_UNITS[slot]
    return f"{SLOT_LABELS[slot]} ({unit})" if unit and unit != SLOT_LABELS[slot] else SLOT_LABELS[slot]


def _with_unit(value: float, unit: str | None) -> str:
    return f"{number(value)} {unit}" if unit and unit != "channels" else number(value)


def _layout(title: str, **extra: Any) -> dict[str, Any]:
    layout = {"title": {"text": title, "font": {"size": 14}, "x": 0.01, "xanchor": "left"},
              "height": 340,
              "margin": {"l": 60, "r": 20, "t": 40, "b": 50}, "bargap": 0.02,
              "legend": {"orientation": "h", "y": 1.02, "x": 1, "xanchor": "right",
                         "yanchor": "bottom"},
              "font": {"family": "sans-serif"}}
    layout.update(extra)
    return layout


def _count_axis(tallest: int, title: str = "files") -> dict[str, Any]:
    axis: dict[str, Any] = {"title": {"text": title}, "rangemode": "tozero"}
    if tallest < 10:  # no ticks between whole files
        axis["dtick"] = 1
    return axis


def _limit_shapes(positions: Sequence[float], enabled: bool, axis: str = "x") -> list[dict[str, Any]]:
    other = "y" if axis == "x" else "x"
    return [{"type": "line", "xref": axis if axis == "x" else "paper",
             "yref": "paper" if axis == "x" else axis,
             f"{axis}0": p, f"{axis}1": p, f"{other}0": 0, f"{other}1": 1,
             "line": {"color": LIMIT, "width": 2, "dash": "dash" if enabled else "dot"}}
            for p in positions]


# --- files per state --------------------------------------------------------------------------


def states_figure(rows: Sequence[FileRow]) -> Figure:
    counts: dict[str, int] = {}
    codes: dict[str, int] = {}
    for row in rows:
        counts[row.label] = counts.get(row.label, 0) + 1
        codes[row.label] = 1000 if row.state is None else row.state
    order = sorted(counts, key=lambda name: (codes[name], name))
    colours = [GREEN if codes[n] == 0 else GREY if n == ERROR_LABEL else RED for n in order]
    plot = {"data": [{"type": "bar", "orientation": "h", "y": order,
                      "x": [counts[n] for n in order], "marker": {"color": colours},
                      "text": [f"{counts[n]:,}" for n in order], "textposition": "auto",
                      "hovertemplate": "%{y}: %{x} files (click to filter the table)"
                                       "<extra></extra>"}],
            "layout": _layout("Files per state", height=max(180, 34 * len(order) + 80),
                              yaxis={"autorange": "reversed", "automargin": True},
                              xaxis=_count_axis(max(counts.values(), default=0)), margin={"l": 20, "r": 20,
                                                                          "t": 40, "b": 50})}
    failed = sum(c for n, c in counts.items() if codes[n] != 0)
    parts = ", ".join(f"{n} {counts[n]:,}" for n in order)
    caption = (f"Files per state, {len(rows):,} files, {failed:,} failed or not checked: {parts}. "
               "Click a bar to show its files in the table.")
    return Figure("report-states", "Files per state", caption, plot)


# --- one slot's values --------------------------------------------------------------------------


def _bin_edges(t: Any, limits: list[float], log: bool) -> tuple[Any, float, float]:
    """Edges in the drawn coordinate (log10 of the value on a log axis); every limit inside
    the range is an edge. The range is the values' 0.5–99.5 % quantiles when there are enough
    of them to clip, widened to take in limits near the data."""
    import numpy as np

    if t.size >= 200:
        low, high = (float(q) for q in np.quantile(t, [0.005, 0.995]))
    else:
        low, high = float(t.min()), float(t.max())
    if low == high:
        pad = 0.1 if log else max(abs(low) * 0.05, 0.5)
        low, high = low - pad, high + pad
    span = high - low
    near = [v for v in limits if low - span <= v <= high + span]
    low, high = min([low, *near]), max([high, *near])
    span = high - low
    breaks = sorted({low, high, *(v for v in near if low < v < high)})
    target = int(min(40, max(10, 2 * math.sqrt(t.size))))
    edges = [breaks[0]]
    for a, b in zip(breaks, breaks[1:]):
        n = max(1, round(target * (b - a) / span))
        edges += [a + (b - a) * k / n for k in range(1, n + 1)]
    edges[-1] = breaks[-1]
    return np.array(edges), low, high


def _log_ticks(low: float, high: float, unit: str | None) -> tuple[list[float], list[str]]:
    values, texts = [], []
    for decade in range(math.floor(low) - 1, math.ceil(high) + 1):
        for m in (1, 2, 5):
            v = m * 10.0 ** decade
            if low <= math.log10(v) <= high:
                values.append(math.log10(v))
                texts.append(_with_unit(v, unit))
    if len(values) > 9:  # many decades: the decades alone
        keep = [i for i, text in enumerate(texts) if math.log10(10 ** values[i]) % 1 < 1e-9]
        values, texts = [values[i] for i in keep], [texts[i] for i in keep]
    return values, texts


def _examples(names: list[str], count: int) -> str:
    return "<br>".join(names) + ("<br>…" if count > len(names) else "")


def _bars(where: Any, members: Any, bins: int, names: Sequence[str]) -> tuple[Any, list[list[str]]]:
    """Files per bin (``where``: the bin of each member row) and the first few of each by name."""
    import numpy as np

    counts = np.bincount(where, minlength=bins)
    order = np.argsort(where, kind="stable")  # within a bin, in input order
    starts = np.searchsorted(where[order], np.arange(bins))
    examples = [[names[members[order[s]]] for s in range(start, start + min(n, EXAMPLES_PER_BAR))]
                for start, n in zip(starts.tolist(), counts.tolist())]
    return counts, examples


@dataclass
class Columns:
    """The rows as arrays, made once for every figure."""

    values: Any  # rows × slots, NaN where there is no value
    states: Any  # rows × slots: ABSENT, NOT_EVALUATED, PASSED, FAILED
    failed: Any  # per row: the file did not pass

    @classmethod
    def of(cls, rows: Sequence[FileRow]) -> "Columns":
        import numpy as np

        nan = math.nan
        values = np.array([[nan if v is None else v for v in r.values] for r in rows],
                          dtype=float).reshape(len(rows), len(SLOTS))
        states = np.array([r.slot_states for r in rows], dtype=np.int8).reshape(len(rows), len(SLOTS))
        return cls(values, states, np.array([r.failed for r in rows], dtype=bool))


def slot_figure(columns: Columns, names: Sequence[str], slot: str,
                configuration: Configuration | None) -> Figure:
    """The values of one slot, passed and failed stacked. ``names`` are the rows' paths as the
    page shows them (hover names the files)."""
    import numpy as np

    i = SLOTS.index(slot)
    unit = SLOT_UNITS[slot]
    states, all_values = columns.states[:, i], columns.values[:, i]
    evaluated = int((states > NOT_EVALUATED).sum())
    failed_count = int((states == FAILED).sum())
    drawn = np.flatnonzero((states > NOT_EVALUATED) & ~np.isnan(all_values))
    not_finite = evaluated - drawn.size
    threshold: Threshold | None = configuration.thresholds.get(slot) if configuration else None
    limits = threshold.lines() if threshold else []
    values = all_values[drawn]
    failed = states[drawn] == FAILED
    share = failed_count / evaluated if evaluated else 0.0
    title = f"{SLOT_LABELS[slot]}: {share:.1%} of {evaluated:,} evaluated files fail"
    distinct = np.unique(values) if values.size else values
    notes: list[str] = []
    layout_extra: dict[str, Any] = {}
    data: list[dict[str, Any]] = []
    if values.size == 0:
        layout_extra["annotations"] = [{"text": "no values", "showarrow": False,
                                        "xref": "paper", "yref": "paper", "x": 0.5, "y": 0.5}]
    elif slot in INTEGER_SLOTS and distinct.size <= MAX_CATEGORIES:
        # A few distinct values: one bar each, labelled with the value itself.
        categories = [_with_unit(float(v), unit) for v in distinct]
        where = np.searchsorted(distinct, values)
        for label, colour, mask in (("passed", GREEN, ~failed), ("failed", RED, failed)):
            counts, per = _bars(where[mask], drawn[mask], distinct.size, names)
            data.append({"type": "bar", "name": label, "x": categories, "y": counts.tolist(),
                         "marker": {"color": colour},
                         "hovertext": [f"{c} {label}: {n:,} files<br>{_examples(e, n)}"
                                       for c, n, e in zip(categories, counts, per)],
                         "hoverinfo": "text"})
        layout_extra["xaxis"] = {"type": "category", "title": {"text": _axis_title(slot)}}
        if threshold:
            notes.append(f"passes {threshold.describe(unit)}")
    else:
        log = slot in LOG_SLOTS and bool((values > 0).any()) and \
            values[values > 0].max() / values[values > 0].min() >= 30
        if log:
            floor = values[values > 0].min()
            low_values = int((values <= 0).sum())
            t = np.log10(np.maximum(values, floor))
            limit_t = [math.log10(v) for v in limits if v > 0]
            if low_values:
                notes.append(f"{low_values:,} files at 0 or below are counted in the leftmost bar")
        else:
            t, limit_t = values, list(limits)
        edges, low, high = _bin_edges(t, limit_t, log)
        clipped = np.clip(t, low, high)
        below, above = int((t < low).sum()), int((t > high).sum())
        if below or above:
            notes.append(f"axis clipped to the 0.5–99.5 % quantiles: {below:,} files below and "
                         f"{above:,} above are counted in the edge bars")
        where = np.clip(np.searchsorted(edges, clipped, side="right") - 1, 0, len(edges) - 2)
        centres = ((edges[:-1] + edges[1:]) / 2).tolist()
        widths = (edges[1:] - edges[:-1]).tolist()
        shown = (lambda v: 10 ** v) if log else (lambda v: v)
        ranges = [f"{number(shown(a))}–{_with_unit(shown(b), unit)}"
                  for a, b in zip(edges[:-1], edges[1:])]
        for label, colour, mask in (("passed", GREEN, ~failed), ("failed", RED, failed)):
            counts, per = _bars(where[mask], drawn[mask], len(centres), names)
            data.append({"type": "bar", "name": label, "x": centres, "y": counts.tolist(),
                         "width": widths, "marker": {"color": colour, "line": {"width": 0}},
                         "hovertext": [f"{r} {label}: {n:,} files<br>{_examples(e, n)}"
                                       for r, n, e in zip(ranges, counts, per)],
                         "hoverinfo": "text"})
        axis: dict[str, Any] = {"title": {"text": _axis_title(slot) + (" (log)" if log else "")},
                                "range": [low, high]}
        if log:
            axis["tickvals"], axis["ticktext"] = _log_ticks(low, high, unit)
        layout_extra["xaxis"] = axis
        if threshold:
            inside = [p for p in limit_t if low <= p <= high]
            layout_extra["shapes"] = _limit_shapes(inside, threshold.enabled)
            notes.append(f"passes {threshold.describe(unit)}, drawn as dashed lines on bar edges")
            beyond = [v for v, p in zip(limits, limit_t) if not low <= p <= high]
            if beyond or (log and len(limit_t) < len(limits)):
                outside = [v for v in limits if v <= 0 or v in beyond] if log else beyond
                notes.append("beyond the axis: " + ", ".join(_with_unit(v, unit) for v in outside))
    tallest = max((sum(bars) for bars in zip(*(trace["y"] for trace in data))), default=0)
    plot = {"data": data,
            "layout": _layout(title, barmode="stack", yaxis=_count_axis(tallest), **layout_extra)}
    caption = (f"{_axis_title(slot)}: {evaluated:,} files evaluated, {failed_count:,} fail "
               f"({share:.1%})")
    if not_finite:
        caption += f", {not_finite:,} without a finite value (not drawn)"
    caption += "."
    if slot == "signal_noise":
        caption += " The value is the lowest channel's."
    if configuration is None:
        caption += " No configuration given (--config): limits not drawn."
    elif threshold is None:
        caption += " Not configured."
    if notes:
        text = "; ".join(notes)
        caption += " " + text[:1].upper() + text[1:] + "."
    return Figure("report-" + slot.replace("_", "-"), SLOT_LABELS[slot], caption, plot)


# --- duration against voice duration ----------------------------------------------------------


def scatter_figure(columns: Columns, names: Sequence[str],
                   configuration: Configuration | None) -> Figure:
    import numpy as np

    duration = columns.values[:, SLOTS.index("duration")]
    voice = columns.values[:, SLOTS.index("voice_duration")]
    both = ~np.isnan(duration) & ~np.isnan(voice)
    failing = np.flatnonzero(both & columns.failed).tolist()
    passing = np.flatnonzero(both & ~columns.failed).tolist()
    drawn_failing, drawn_passing = failing, passing
    if len(failing) + len(passing) > MAX_SCATTER_POINTS:  # a fixed sample, failing files first
        pick = random.Random(0)
        if len(failing) > MAX_SCATTER_POINTS // 2:
            drawn_failing = sorted(pick.sample(failing, MAX_SCATTER_POINTS // 2))
        room = MAX_SCATTER_POINTS - len(drawn_failing)
        drawn_passing = sorted(pick.sample(passing, min(room, len(passing))))
    xs, ys = duration[both], voice[both]
    positive_x, positive_y = xs[xs > 0], ys[ys > 0]
    log = bool(positive_x.size) and positive_x.max() / positive_x.min() >= 30
    floor_y = float(positive_y.min()) / 2 if positive_y.size else 0.01
    data = []
    for label, colour, members in (("passed", GREEN, drawn_passing), ("failed", RED, drawn_failing)):
        y = voice[members]
        data.append({"type": "scatter", "mode": "markers", "name": label,
                     "x": duration[members].tolist(),
                     "y": (np.maximum(y, floor_y) if log else y).tolist(),
                     "customdata": members, "text": [names[k] for k in members],
                     "hovertemplate": "%{text}<br>duration %{x} s, voice %{y} s<extra></extra>",
                     "marker": {"color": colour, "size": 6, "opacity": 0.7}})
    shapes = []
    if xs.size:
        top = float(max(xs.max(), ys.max()))
        bottom = float(min(positive_x.min(), positive_y.min() if positive_y.size else math.inf)
                       ) if log else 0.0
        data.append({"type": "scatter", "mode": "lines", "name": "voice = duration",
                     "x": [bottom, top], "y": [bottom, top], "hoverinfo": "skip",
                     "line": {"color": GREY, "width": 1}})
    thresholds = configuration.thresholds if configuration else {}
    if "voice_duration" in thresholds:
        t = thresholds["voice_duration"]
        shapes += _limit_shapes([p for p in t.lines() if p > 0 or not log], t.enabled, axis="y")
    if "duration" in thresholds:
        t = thresholds["duration"]
        shapes += _limit_shapes([p for p in t.lines() if p > 0 or not log], t.enabled, axis="x")
    kind = "log" if log else "linear"
    axes = {"xaxis": {"type": kind, "title": {"text": "duration (s)"}},
            "yaxis": {"type": kind, "title": {"text": "voice duration (s)"}}}
    plot = {"data": data, "layout": _layout("Duration against voice duration", height=420,
                                            shapes=shapes, hovermode="closest", **axes)}
    caption = (f"Duration against voice duration: {int(both.sum()):,} files with both values "
               f"({len(failing):,} failed a check).")
    if len(drawn_failing) + len(drawn_passing) < len(both):
        caption += (f" Drawn: a fixed random {len(drawn_failing):,} of the {len(failing):,} "
                    f"failing files and {len(drawn_passing):,} of the {len(passing):,} that "
                    "passed.")
    if log:
        caption += " Log axes; a voice duration of 0 is drawn at the bottom edge."
    if thresholds:
        caption += " Dashed lines: the duration and voice duration limits."
    caption += " Click a point to open its file."
    return Figure("report-duration-voice", "Duration against voice duration", caption, plot)


def figures(rows: Sequence[FileRow], names: Sequence[str],
            configuration: Configuration | None) -> list[Figure]:
    columns = Columns.of(rows)
    return [states_figure(rows), *(slot_figure(columns, names, s, configuration) for s in SLOTS),
            scatter_figure(columns, names, configuration)]


# --- the same figures as PNG ------------------------------------------------------------------


def to_png(figure: Figure) -> bytes:
    """The figure drawn with matplotlib (Agg, no display): its bars, points, lines and ticks."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure as MplFigure

    layout = figure.plot["layout"]
    canvas_figure = MplFigure(figsize=(7.0, max(2.2, layout.get("height", 340) / 90)), dpi=100,
                              layout="constrained")
    FigureCanvasAgg(canvas_figure)
    axes = canvas_figure.add_subplot()
    xaxis, yaxis = layout.get("xaxis", {}), layout.get("yaxis", {})
    stack: dict[Any, float] = {}
    categories: list[str] = []
    for trace in figure.plot["data"]:
        if trace["type"] == "bar" and trace.get("orientation") == "h":
            axes.barh(trace["y"], trace["x"], color=trace["marker"]["color"])
            axes.invert_yaxis()
            continue
        if trace["type"] == "bar":
            xs = trace["x"]
            if xaxis.get("type") == "category":
                categories = list(xs)
                xs = list(range(len(xs)))
            bottoms = [stack.get(x, 0.0) for x in xs]
            axes.bar(xs, trace["y"], width=trace.get("width", 0.8), bottom=bottoms,
                     color=trace["marker"]["color"], label=trace["name"])
            for x, y in zip(xs, trace["y"]):
                stack[x] = stack.get(x, 0.0) + y
        elif trace["mode"] == "markers":
            axes.scatter(trace["x"], trace["y"], s=12, color=trace["marker"]["color"],
                         alpha=0.7, label=trace["name"])
        else:
            axes.plot(trace["x"], trace["y"], color=trace["line"]["color"], linewidth=0.8)
    for shape in layout.get("shapes", []):
        style = {"color": LIMIT, "linewidth": 1.5,
                 "linestyle": "--" if shape["line"]["dash"] == "dash" else ":"}
        # Plotly places shapes by data value, on log axes too, as matplotlib does.
        if shape["xref"] == "x":
            axes.axvline(shape["x0"], **style)
        else:
            axes.axhline(shape["y0"], **style)
    if categories:
        axes.set_xticks(range(len(categories)), categories)
    if "tickvals" in xaxis:
        axes.set_xticks(xaxis["tickvals"], xaxis["ticktext"])
    if "range" in xaxis:
        axes.set_xlim(*xaxis["range"])
    if xaxis.get("type") == "log":
        axes.set_xscale("log")
        axes.set_yscale("log")
    axes.set_xlabel(xaxis.get("title", {}).get("text", ""))
    axes.set_ylabel(yaxis.get("title", {}).get("text", ""))
    axes.set_title(layout["title"]["text"], fontsize=11)
    if len(figure.plot["data"]) > 1:
        axes.legend(loc="best", fontsize="small")
    buffer = io.BytesIO()
    canvas_figure.savefig(buffer, format="png")
    return buffer.getvalue()
