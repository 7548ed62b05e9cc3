"""One self-contained HTML page to work through an archive's check results in.

``python3 -m sonara.report results.jsonl -o report.html [--config FILE] [--png DIR]
[--detail-cap N] [--file PATH ...]``

The input is a results file in the JSON Lines or CSV schema (docs/results-schema.md), or, from
Python, a DataFrame in the same columns. The page (nothing in it is fetched over the network):

- a table of every file (path from the common folder, state, every value with its unit, the
  failing cells marked), sortable by any column, with a filter by path, folder or state name
  and a breakdown by folder that filters it;
- a view of a file when its row is clicked: every value against its limit, the per-channel
  details, and for the worst failing files (``--detail-cap``, 500 by default, taken worst first
  from each state in turn) and those named with ``--file``, the recording's waveform envelope
  read from the file now, with the detector's speech segments and the clipped runs;
- figures (plotly.js, inlined once): files per state, each measurement's values split into
  passed and failed on bins whose edges fall on the configured limits, duration against voice
  duration.

The results name their configuration only by version and hash, so limits come from
``--config``, which the library reads first: a configuration it refuses is refused here too.
"""

from __future__ import annotations

import argparse
import html
import os
import posixpath
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Iterable, Sequence

from ._report_config import Configuration, Threshold, read_configuration
from ._report_figures import Figure, figures, to_png
from ._report_page import page
from ._report_table import (SLOTS, FileRow, choose_detail_rows, common_folder, load_rows,
                            read_jsonl_records, relative)
from ._report_wave import Unreadable, envelope, locate
from ._vocabulary import DETAIL_FIELDS, SLOT_LABELS, SLOT_UNITS

__all__ = ["Configuration", "DEFAULT_DETAIL_CAP", "Figure", "Report", "SLOT_NAMES", "Threshold",
           "build_report", "load_rows", "main", "read_configuration", "read_jsonl_records",
           "write_report"]

SLOT_NAMES = SLOTS
DEFAULT_DETAIL_CAP = 500
_STATE_CHARS = {-1: "-", 0: "0", 1: "1", 2: "2"}


@dataclass
class Report:
    html: str
    figures: list[Figure]
    detail_rows: list[int]  # the rows (in input order) the page has a view with figures for


def _short(value: float | None) -> float | None:
    # Seven significant digits are more than the table shows and keep the page small.
    return None if value is None else float(f"{value:.7g}")


def _label_code(row: FileRow) -> int:
    return 1000 if row.state is None else row.state


def _named_rows(rows: Sequence[FileRow], files: Iterable[str]) -> list[int]:
    files = list(files)
    if not files:
        return []
    by_path: dict[str, int] = {}
    for index, row in enumerate(rows):
        by_path.setdefault(row.path, index)
        by_path.setdefault(os.path.abspath(row.path), index)
    found = []
    for name in files:
        index = by_path.get(name, by_path.get(os.path.abspath(name)))
        if index is None:
            raise ValueError(f"--file {name}: no record has this path")
        found.append(index)
    return found


def _detail(row: FileRow, bases: list[str]) -> dict[str, Any]:
    entry: dict[str, Any] = {}
    if row.details:
        entry["details"] = row.details
    if row.segments:
        entry["segments"] = row.segments
    if row.strict:
        entry["strict"] = row.strict
    if row.unmeasured:
        entry["unmeasured"] = row.unmeasured
    try:
        drawn = envelope(locate(row.path, bases))
    except Unreadable as reason:
        entry["unreadable"] = str(reason)
        return entry
    entry["wave"] = drawn
    clipped = ", ".join(f"channel {k + 1}: {c['clipped']}" for k, c in
                        enumerate(drawn["channels"]))
    note = (f"{drawn['bits']}-bit, {drawn['rate']} Hz, {drawn['seconds']:.3f} s, read from the "
            f"file when the report was made. Red marks: clipped runs ({clipped} samples). ")
    note += ("Green bands: the detector's speech segments from the record." if row.segments
             else "No speech segments in the record (check with --segments to draw them).")
    entry["wave_note"] = note
    return entry


def _configuration_html(rows: Sequence[FileRow], configuration: Configuration | None) -> str:
    groups: dict[tuple[str, str], int] = {}
    for row in rows:
        if row.config is not None:
            groups[row.config] = groups.get(row.config, 0) + 1
    parts = ['<h2>Configuration</h2><table id="configurations"><thead><tr><th>version</th>'
             "<th>hash</th><th>files</th></tr></thead><tbody>"]
    for (version, digest), count in sorted(groups.items()):
        parts.append(f"<tr><td>{html.escape(version)}</td><td><code>{html.escape(digest)}"
                     f"</code></td><td>{count:,}</td></tr>")
    parts.append("</tbody></table>")
    if configuration is None:
        parts.append("<p>No configuration was given (<code>--config</code>): the figures show "
                     "no limits. Pass and fail come from the results' slot states.</p>")
    else:
        verdict = ("matches the results" if {d for _, d in groups} == {configuration.hash}
                   else "does NOT match every result: the limits drawn may not be the ones the "
                        "files were judged by")
        parts.append(f"<p>Limits drawn from configuration {html.escape(configuration.version)} "
                     f"(<code>{configuration.hash}</code>), as the library read it, which "
                     f"{verdict}. Pass and fail come from the results' slot states.</p>")
    return "".join(parts)


def _folders_html(rows: Sequence[FileRow], folder_of: list[int], folders: list[str],
                  root: str) -> str:
    codes = {r.label: _label_code(r) for r in rows}
    labels = sorted((name for name in codes if codes[name] != 0), key=lambda n: (codes[n], n))
    counts = [dict.fromkeys(["files", "passed", *labels], 0) for _ in folders]
    for row, k in zip(rows, folder_of):
        counts[k]["files"] += 1
        counts[k]["passed" if row.state == 0 else row.label] += 1
    head = "".join(f"<th>{html.escape(name.removeprefix('STATE_'))}</th>"
                   for name in ["folder", "files", "passed", *labels])
    body = []
    for k, name in enumerate(folders):
        cells = "".join(f'<td class="num">{counts[k][c]:,}</td>'
                        for c in ["files", "passed", *labels])
        body.append(f'<tr data-folder="{k}"><td>{html.escape(name or root or "(top)")}</td>{cells}</tr>')
    return (f'<p class="note">Files directly in each folder; click a folder to show its files '
            f'in the table.</p><div id="folders-scroll"><table id="folders"><thead><tr>{head}'
            f"</tr></thead><tbody>{''.join(body)}</tbody></table></div>")


def _figures_html(drawn: list[Figure]) -> str:
    return "".join(f'<figure id="{f.name}"><div class="plot"></div><figcaption>'
                   f"{html.escape(f.caption)}</figcaption></figure>" for f in drawn)


def build_report(source: Any, configuration: Configuration | None = None,
                 title: str = "Recording check report", detail_cap: int = DEFAULT_DETAIL_CAP,
                 files: Iterable[str] = (), search: Iterable[str] = ()) -> Report:
    """Builds the page from results in the schema. ``files`` are paths (as in the records) that
    get a view with figures besides the worst failing ones; ``search`` are folders where a
    relative path that does not exist from here is looked for."""
    from plotly.offline import get_plotlyjs

    if detail_cap < 0:
        raise ValueError("the detail cap must not be negative")
    rows = load_rows(source)
    bases = [str(b) for b in search]
    if isinstance(source, (str, os.PathLike)):
        bases.append(str(Path(source).resolve().parent))
    root = common_folder(r.path for r in rows)
    names = [relative(r.path, root) for r in rows]
    folders = sorted({posixpath.dirname(n) for n in names})
    folder_index = {name: k for k, name in enumerate(folders)}
    folder_of = [folder_index[posixpath.dirname(n)] for n in names]
    chosen = choose_detail_rows(rows, configuration, detail_cap, _named_rows(rows, files))
    drawn = figures(rows, names, configuration)

    labels = sorted({r.label for r in rows}, key=lambda name: (
        next((_label_code(r) for r in rows if r.label == name), 0), name))
    label_index = {name: k for k, name in enumerate(labels)}
    codes = {r.label: _label_code(r) for r in rows}
    thresholds = configuration.thresholds if configuration else {}
    data = {
        "root": root,
        "slots": [{"name": s, "label": SLOT_LABELS[s], "unit": SLOT_UNITS[s],
                   "cell_unit": SLOT_UNITS[s] if SLOT_UNITS[s] != SLOT_LABELS[s] else None,
                   "limit": thresholds[s].describe(SLOT_UNITS[s]) if s in thresholds else None}
                  for s in SLOTS],
        "labels": labels,
        "label_codes": [codes[name] for name in labels],
        "folders": folders,
        "rows": {
            "path": names,
            "label": [label_index[r.label] for r in rows],
            "folder": folder_of,
            "v": [[_short(r.values[k]) for r in rows] for k in range(len(SLOTS))],
            "s": ["".join(_STATE_CHARS[r.slot_states[k]] for r in rows)
                  for k in range(len(SLOTS))],
        },
        "errors": {i: r.error for i, r in enumerate(rows) if r.error is not None},
        "detail": {i: _detail(rows[i], bases) for i in chosen},
        "detail_cap": detail_cap,
        "detail_fields": [[name, unit] for name, unit, _ in DETAIL_FIELDS],
        "figures": [{"id": f.name, "plot": f.plot} for f in drawn],
    }

    checked = [r for r in rows if r.state is not None]
    duration = SLOTS.index("duration")
    durations = [r.values[duration] for r in checked if r.values[duration] is not None]
    summary = [("files", f"{len(rows):,}"), ("checked", f"{len(checked):,}"),
               ("could not be checked", f"{len(rows) - len(checked):,}"),
               ("passed", f"{sum(r.state == 0 for r in checked):,}"),
               ("failed", f"{sum(r.state != 0 for r in checked):,}"),
               ("hours of audio", f"{sum(durations) / 3600:.3f}"),  # type: ignore[arg-type]
               ("files with a duration", f"{len(durations):,}")]
    text = page(title, summary, _configuration_html(rows, configuration),
                _folders_html(rows, folder_of, folders, root), _figures_html(drawn), data,
                get_plotlyjs())
    return Report(text, drawn, chosen)


def write_report(source: Any, output: str | os.PathLike[str],
                 configuration: Configuration | str | os.PathLike[str] | None = None,
                 png_dir: str | os.PathLike[str] | None = None,
                 detail_cap: int = DEFAULT_DETAIL_CAP, files: Iterable[str] = ()) -> Report:
    """Writes the page to ``output`` and, with ``png_dir``, every figure as a PNG there."""
    if configuration is not None and not isinstance(configuration, Configuration):
        configuration = read_configuration(configuration)
    report = build_report(source, configuration, detail_cap=detail_cap, files=files)
    # A path that is not UTF-8 reaches the page only as a JSON escape; anything else is text.
    Path(output).write_text(report.html, encoding="utf-8", errors="backslashreplace")
    if png_dir is not None:
        folder = Path(png_dir)
        folder.mkdir(parents=True, exist_ok=True)
        for figure in report.figures:
            (folder / f"{figure.name}.png").write_bytes(to_png(figure))
    return report


def main(argv: Iterable[str] | None = None) -> int:
    from ._library import SonaraError

    parser = argparse.ArgumentParser(
        prog="python3 -m sonara.report",
        description="Builds one self-contained HTML page from check results "
                    "(JSON Lines or CSV in the results schema).")
    parser.add_argument("results", help="results file (.jsonl or .csv)")
    parser.add_argument("-o", "--output", default="report.html",
                        help="the HTML page to write (default: report.html)")
    parser.add_argument("--config", metavar="FILE",
                        help="the configuration the files were judged by (read by libsonara): "
                             "its limits are drawn and shown beside each value")
    parser.add_argument("--png", metavar="DIR", help="also write every figure as a PNG in DIR")
    parser.add_argument("--detail-cap", type=int, default=DEFAULT_DETAIL_CAP, metavar="N",
                        help="failing files drawn from their recordings, worst first per state "
                             f"(default {DEFAULT_DETAIL_CAP})")
    parser.add_argument("--file", action="append", default=[], metavar="PATH",
                        help="also draw this file's recording (its path as in the results; "
                             "repeatable)")
    args = parser.parse_args(None if argv is None else list(argv))
    if args.detail_cap < 0:
        parser.error("--detail-cap must be 0 or more")
    try:
        report = write_report(args.results, args.output, args.config, args.png,
                              args.detail_cap, args.file)
    except (OSError, ValueError, SonaraError) as error:
        print(f"sonara.report: {error}", file=sys.stderr)
        return 2
    print(f"sonara.report: wrote {args.output} ({len(report.figures)} figures, "
          f"{len(report.detail_rows)} recordings drawn)", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
