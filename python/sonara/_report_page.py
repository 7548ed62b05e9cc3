"""The page: its style, the inline script that renders the table and the views, and the frame.

Everything the page shows comes from one JSON blob (``<script type="application/json"
id="report-data">``); the table renders only the rows in sight, so a page of 100,000 files
answers at once. plotly.js is inlined once. The Content-Security-Policy lets the page load
nothing from anywhere: a figure that tried would be refused by the browser.
"""

from __future__ import annotations

import html
import json
from typing import Any

CSP = ("default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
       "img-src data: blob:; font-src data:")

STYLE = """
body { font-family: sans-serif; margin: 1.5em auto; max-width: 1400px; padding: 0 1em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.8em; }
table { border-collapse: collapse; font-size: 0.85em; }
th, td { border: 1px solid #ddd; padding: 2px 6px; text-align: left; }
#summary th { font-weight: normal; color: #555; } #summary td { text-align: right; }
.controls { display: flex; gap: 1em; align-items: center; margin: 0.5em 0; flex-wrap: wrap; }
#filter { width: 28em; padding: 4px 6px; font-size: 0.95em; }
#files-count { color: #444; }
#folder-chip[hidden] { display: none; }
#folder-chip { background: #e8eef8; border-radius: 3px; padding: 2px 6px; }
#folder-chip button { border: 0; background: none; cursor: pointer; }
#files-scroll { height: 60vh; overflow: auto; border: 1px solid #ccc; }
#files { table-layout: fixed; width: 100%; min-width: 1100px; border-collapse: separate;
         border-spacing: 0; }
#files th { position: sticky; top: 0; background: #f3f3f3; cursor: pointer; z-index: 1;
            user-select: none; border-width: 0 1px 1px 0; vertical-align: bottom;
            font-weight: 600; }
#files th.sorted-asc::after { content: " \\25B2"; font-size: 0.8em; }
#files th.sorted-desc::after { content: " \\25BC"; font-size: 0.8em; }
#files td { white-space: nowrap; overflow: hidden; text-overflow: ellipsis; height: 20px;
            line-height: 20px; padding: 0 6px; border-width: 0 1px 1px 0; }
#files td.num { text-align: right; font-variant-numeric: tabular-nums; }
#files tr.row { cursor: pointer; } #files tr.row:hover td { background: #eef3fb; }
#files tr.failed td.state { color: #a02a1c; }
#files td.bad { background: #f6d5d1; font-weight: bold; }
#files tr.spacer td { padding: 0; border: 0; height: auto; }
#files tr.selected td { outline: 1px solid #1f3b73; }
#detail { border: 1px solid #bbb; border-radius: 4px; padding: 0.6em 1em; margin: 1em 0;
          background: #fcfcfc; }
#detail[hidden] { display: none; }
#detail h3 { margin: 0.2em 0; font-size: 1.05em; word-break: break-all; }
#detail .close { float: right; }
#detail table { margin: 0.5em 0; }
#detail td.bad { background: #f6d5d1; font-weight: bold; }
#detail .note { color: #555; font-size: 0.9em; }
#detail .unreadable { color: #a02a1c; }
#folders-scroll { max-height: 22em; overflow: auto; }
#folders tr { cursor: pointer; } #folders tr:hover td { background: #eef3fb; }
#folders td.num { text-align: right; }
figure { margin: 1.2em 0; } figcaption { font-size: 0.88em; color: #444; max-width: 60em; }
.figures { display: grid; grid-template-columns: repeat(auto-fill, minmax(560px, 1fr)); gap: 0 1.5em; }
code { font-size: 0.95em; }
"""

SCRIPT = r"""
(function () {
  "use strict";
  const D = JSON.parse(document.getElementById("report-data").textContent);
  const N = D.rows.path.length, SLOTS = D.slots, NS = SLOTS.length;
  const $ = (id) => document.getElementById(id);
  const esc = (s) => String(s).replace(/[&<>"]/g, (c) => ({"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;"}[c]));
  const count = (n) => n.toLocaleString("en-US");
  const fmt = (v, digits) => (v === null || v === undefined || Number.isNaN(v)) ? "\u2013" : String(Number(v.toPrecision(digits || 6)));
  const withUnit = (v, unit, digits) => (v === null || v === undefined) ? "\u2013" : fmt(v, digits) + (unit ? "\u00a0" + unit : "");
  const shortLabel = (name) => name.replace(/^STATE_/, "");
  const root = D.root ? D.root.replace(/\/$/, "") + "/" : "";
  const full = (i) => root + D.rows.path[i];
  const labelOf = (i) => D.labels[D.rows.label[i]];
  const codeOf = (i) => D.label_codes[D.rows.label[i]];
  const slotState = (i, s) => D.rows.s[s].charCodeAt(i) - 48;  // -3 absent, 0 not evaluated, 1, 2
  // What the filter searches: the path from the common folder, the full path and the state name.
  const hay = new Array(N);
  for (let i = 0; i < N; i++) hay[i] = (full(i) + "\n" + labelOf(i)).toLowerCase();

  // --- the table -------------------------------------------------------------------------------
  const columns = [{key: "path", title: "path"}, {key: "state", title: "state"}];
  SLOTS.forEach((s, k) => columns.push({key: k, title: s.label + (s.unit && s.unit !== s.label ? " (" + s.unit + ")" : "")}));
  const table = $("files"), body = table.tBodies[0], scroller = $("files-scroll");
  const widths = ["19%", "16%"].concat(SLOTS.map(() => (65 / NS).toFixed(2) + "%"));
  table.tHead.innerHTML = "<tr>" + columns.map((c, k) =>
    `<th data-col="${k}" style="width:${widths[k]}" title="sort by ${esc(c.title)}">${esc(c.title)}</th>`).join("") + "</tr>";
  let order = Array.from({length: N}, (_, i) => i), view = order, sortCol = -1, sortDir = 1;
  let folder = -1, rowHeight = 21, selected = -1;

  function sortBy(col) {
    sortDir = (col === sortCol) ? -sortDir : 1;
    sortCol = col;
    const c = columns[col], dir = sortDir, idx = Array.from({length: N}, (_, i) => i);
    if (c.key === "path") {
      const p = D.rows.path;
      idx.sort((a, b) => (p[a] < p[b] ? -dir : p[a] > p[b] ? dir : a - b));
    } else if (c.key === "state") {
      idx.sort((a, b) => (codeOf(a) - codeOf(b)) * dir || a - b);
    } else {
      const v = D.rows.v[c.key];
      idx.sort((a, b) => {  // rows without a value last, in either direction
        const x = v[a], y = v[b];
        if (x === null || y === null) return (x === null) - (y === null) || a - b;
        return (x - y) * dir || a - b;
      });
    }
    order = idx;
    for (const th of table.tHead.rows[0].cells) th.className = "";
    table.tHead.rows[0].cells[col].className = dir > 0 ? "sorted-asc" : "sorted-desc";
    applyFilter();
  }

  function applyFilter() {
    const q = $("filter").value.trim().toLowerCase();
    const f = D.rows.folder;
    if (!q && folder < 0) view = order;
    else {
      const out = [];
      for (let k = 0; k < N; k++) {
        const i = order[k];
        if ((folder < 0 || f[i] === folder) && (!q || hay[i].indexOf(q) >= 0)) out.push(i);
      }
      view = out;
    }
    $("files-count").textContent = `${count(view.length)} of ${count(N)} files`;
    scroller.scrollTop = 0;
    render(true);
  }

  function rowHtml(i) {
    const cls = ["row"];
    if (codeOf(i) !== 0) cls.push("failed");
    if (i === selected) cls.push("selected");
    let cells = `<td title="${esc(full(i))}">${esc(D.rows.path[i])}</td><td class="state" title="${esc(labelOf(i))}">${esc(shortLabel(labelOf(i)))}</td>`;
    for (let s = 0; s < NS; s++) {  // five digits here, every digit in the file's view
      const bad = slotState(i, s) === 2 ? " bad" : "";
      cells += `<td class="num${bad}">${withUnit(D.rows.v[s][i], SLOTS[s].cell_unit, 5)}</td>`;
    }
    return `<tr class="${cls.join(" ")}" data-row="${i}">${cells}</tr>`;
  }

  let drawn = "";
  function render(force) {
    const first = Math.max(0, Math.floor(scroller.scrollTop / rowHeight) - 10);
    const last = Math.min(view.length, first + Math.ceil(scroller.clientHeight / rowHeight) + 30);
    // Redrawn only when other rows come into sight: a row stays the same element under the pointer.
    if (!force && drawn === first + ":" + last) return;
    drawn = first + ":" + last;
    let out = `<tr class="spacer"><td colspan="${columns.length}" style="height:${first * rowHeight}px"></td></tr>`;
    for (let k = first; k < last; k++) out += rowHtml(view[k]);
    out += `<tr class="spacer"><td colspan="${columns.length}" style="height:${(view.length - last) * rowHeight}px"></td></tr>`;
    body.innerHTML = out;
  }

  table.tHead.addEventListener("click", (e) => {
    const th = e.target.closest("th");
    if (th) sortBy(Number(th.dataset.col));
  });
  body.addEventListener("click", (e) => {
    const tr = e.target.closest("tr.row");
    if (tr) openDetail(Number(tr.dataset.row));
  });
  scroller.addEventListener("scroll", () => window.requestAnimationFrame(() => render(false)));
  $("filter").addEventListener("input", applyFilter);

  function chooseFolder(k) {
    folder = k;
    $("folder-chip").hidden = k < 0;
    $("folder-name").textContent = k < 0 ? "" : (D.folders[k] || D.root || "(top)");
    applyFilter();
  }
  $("folder-clear").addEventListener("click", () => chooseFolder(-1));
  const folders = $("folders");
  if (folders) folders.addEventListener("click", (e) => {
    const tr = e.target.closest("tr[data-folder]");
    if (tr) { chooseFolder(Number(tr.dataset.folder)); $("files-scroll").scrollIntoView(); }
  });

  // --- one file's view ----------------------------------------------------------------------------
  function openDetail(i) {
    selected = i;
    render(true);
    const d = D.detail[i] || null, box = $("detail");
    let h = `<button class="close" type="button">close</button><h3 class="path">${esc(full(i))}</h3>`;
    h += `<p><b>${esc(labelOf(i))}</b>`;
    const err = D.errors[i];
    if (err !== undefined) h += `: ${esc(err)}`;
    h += "</p>";
    if (err === undefined) {
      h += "<table class=\"values\"><thead><tr><th>check</th><th>value</th><th>passes when</th><th>state</th></tr></thead><tbody>";
      for (let s = 0; s < NS; s++) {
        const st = slotState(i, s), state = st === 2 ? "failed" : st === 1 ? "passed" : st === 0 ? "not evaluated" : "\u2013";
        h += `<tr><td>${esc(SLOTS[s].label)}</td><td class="${st === 2 ? "bad" : ""}">${withUnit(D.rows.v[s][i], SLOTS[s].cell_unit)}</td>` +
             `<td>${esc(SLOTS[s].limit || "not known (no --config)")}</td><td class="${st === 2 ? "bad" : ""}">${state}</td></tr>`;
      }
      h += "</tbody></table>";
    }
    if (d && d.details) {
      h += "<table class=\"details\"><thead><tr><th>channel</th>" +
           D.detail_fields.map((f) => `<th>${esc(f[0].replace(/_(dbfs|seconds)$/, "").replace(/_/g, " ") + (f[1] ? " (" + f[1] + ")" : ""))}</th>`).join("") +
           "</tr></thead><tbody>";
      d.details.forEach((c, k) => {
        h += `<tr><td>${k + 1}</td>` + D.detail_fields.map((f) => `<td>${fmt(c[f[0]] === undefined ? null : c[f[0]])}</td>`).join("") + "</tr>";
      });
      h += "</tbody></table>";
    }
    if (d && d.strict) h += `<p>strict: ${d.strict.failed ? "failed" : "passed"}${(d.strict.reasons || []).map((r) => "<br>\u2022 " + esc(r)).join("")}</p>`;
    if (d && d.unmeasured) h += `<p class="note">not measured: ${esc(d.unmeasured)}</p>`;
    if (d && d.wave) h += "<div class=\"wave\"></div><p class=\"note\">" + esc(d.wave_note) + "</p>";
    else if (d && d.unreadable) h += `<p class="unreadable">The recording could not be read when the report was made: ${esc(d.unreadable)}. The values above are the record's.</p>`;
    else h += `<p class="note">No figure for this file: the report draws the ${count(D.detail_cap)} worst failing files and those named with --file.</p>`;
    box.innerHTML = h;
    box.hidden = false;
    box.querySelector(".close").addEventListener("click", () => { box.hidden = true; selected = -1; render(true); });
    if (d && d.wave) drawWave(box.querySelector(".wave"), d.wave, d.segments || []);
    box.scrollIntoView({block: "nearest"});
  }

  function drawWave(el, w, segments) {
    const n = w.channels.length, data = [], shapes = [], layout = {
      height: 120 + 110 * n, margin: {l: 55, r: 15, t: 10, b: 40}, showlegend: false,
      hovermode: "closest", font: {family: "sans-serif"}};
    const columns = w.channels[0].lo.length, step = w.seconds / columns;
    const t = Array.from({length: columns}, (_, k) => (k + 0.5) * step);
    const back = t.slice().reverse();
    w.channels.forEach((c, k) => {
      const axis = k === 0 ? "y" : "y" + (k + 1), name = k === 0 ? "yaxis" : "yaxis" + (k + 1);
      const top = 1 - k / n, gap = n > 1 ? 0.04 : 0;
      layout[name] = {domain: [1 - (k + 1) / n + gap, top], range: [-1.05, 1.05], fixedrange: true,
                      title: {text: n > 1 ? "ch " + (k + 1) : "amplitude"}, zeroline: false};
      data.push({type: "scatter", mode: "lines", x: t.concat(back), y: c.hi.map((v) => v / 1000).concat(c.lo.slice().reverse().map((v) => v / 1000)),
                 fill: "toself", fillcolor: "#2c5d8f", line: {width: 0.6, color: "#2c5d8f"}, yaxis: axis, hoverinfo: "skip"});
      if (c.clips.length) data.push({type: "scatter", mode: "markers", x: c.clips, y: c.clips.map(() => 1.0), yaxis: axis,
                 marker: {color: "#c0392b", symbol: "triangle-down", size: 8}, hovertemplate: "clipped run near %{x:.3f} s<extra></extra>"});
      for (const seg of (segments[k] || [])) shapes.push({type: "rect", xref: "x", yref: axis + " domain", x0: seg[0], x1: seg[1],
                 y0: 0, y1: 1, fillcolor: "rgba(58,143,75,0.18)", line: {width: 0}, layer: "below"});
    });
    layout.xaxis = {title: {text: "time (s)"}, range: [0, w.seconds], anchor: n === 1 ? "y" : "y" + n};
    layout.shapes = shapes;
    Plotly.newPlot(el, data, layout, {displaylogo: false, responsive: true});
  }

  // --- the figures ------------------------------------------------------------------------------
  for (const f of D.figures) {
    const el = document.querySelector(`#${f.id} .plot`);
    Plotly.newPlot(el, f.plot.data, f.plot.layout, {displaylogo: false, responsive: true});
    if (f.id === "report-states") el.on("plotly_click", (e) => {
      $("filter").value = e.points[0].y; chooseFolder(-1); $("files-scroll").scrollIntoView();
    });
    if (f.id === "report-duration-voice") el.on("plotly_click", (e) => {
      const p = e.points[0];
      if (p.customdata !== undefined) openDetail(p.customdata);
    });
  }

  const probe = document.createElement("tbody");  // the height of one row, as this browser draws it
  table.appendChild(probe);
  if (N) { probe.innerHTML = rowHtml(0); rowHeight = probe.rows[0].getBoundingClientRect().height || rowHeight; }
  table.removeChild(probe);
  applyFilter();
  document.body.dataset.ready = "1";
})();
"""


def blob(data: Any) -> str:
    """JSON that can sit inside a <script> element: ASCII only, no '<' to end it early."""
    return json.dumps(data, ensure_ascii=True, separators=(",", ":"), allow_nan=False
                      ).replace("<", "\\u003c")


def page(title: str, summary: list[tuple[str, str]], configuration_html: str, folders_html: str,
         figures_html: str, data: Any, plotly_js: str) -> str:
    rows = "".join(f'<tr><th>{html.escape(k)}</th><td data-key="{html.escape(k)}">'
                   f"{html.escape(v)}</td></tr>" for k, v in summary)
    return f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="{CSP}">
<title>{html.escape(title)}</title><style>{STYLE}</style></head><body>
<h1>{html.escape(title)}</h1>
<table id="summary"><tbody>{rows}</tbody></table>
{configuration_html}
<h2>Files</h2>
<div id="files-section"><div class="controls"><input id="filter" type="search" placeholder="filter by path, folder or state"
 aria-label="filter by path, folder or state"><span id="files-count"></span>
<span id="folder-chip" hidden>folder: <span id="folder-name"></span>
<button id="folder-clear" type="button" title="show every folder">&#x2715;</button></span>
<span class="note">Click a header to sort, a row to open the file.</span></div>
<div id="files-scroll"><table id="files"><thead></thead><tbody></tbody></table></div></div>
<section id="detail" hidden></section>
<h2>Folders</h2>
{folders_html}
<h2>Figures</h2>
<div class="figures">{figures_html}</div>
<script>{plotly_js}</script>
<script type="application/json" id="report-data">{blob(data)}</script>
<script>{SCRIPT}</script>
</body></html>
"""
