"""The HTML report: every figure embedded with its caption, counts that match the input, and a
page that a headless browser renders."""

from __future__ import annotations

import base64
import copy
import json
import math
import os
import shutil
import struct
import subprocess
from collections import Counter
from html.parser import HTMLParser
from pathlib import Path
from typing import Any

import pytest

import sonara
from sonara import report

ROOT = Path(__file__).resolve().parents[2]
SAMPLES = ROOT / "samples"
CONFIG = ROOT / "config" / "cv_configuration.json"
FIGURES = ["report-states", *("report-" + name.replace("_", "-") for name in report.SLOT_NAMES),
           "report-duration-voice"]


class Page(HTMLParser):
    """The figures (id, image source, caption), the summary cells and the tables of a page."""

    def __init__(self, text: str) -> None:
        super().__init__()
        self.figures: dict[str, dict[str, str]] = {}
        self.summary: dict[str, str] = {}
        self.headings: dict[str, str] = {}
        self.tables: list[list[list[str]]] = []
        self.resources: list[str] = []
        self._figure: str | None = None
        self._text: list[str] | None = None
        self._target: tuple[str, str] | None = None
        self._row: list[str] | None = None
        self.feed(text)

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        a = {k: v or "" for k, v in attrs}
        for name in ("src", "href"):
            if name in a and not a[name].startswith("data:"):
                self.resources.append(a[name])
        if tag == "figure":
            self._figure = a.get("id", "")
            self.figures[self._figure] = {}
        elif tag == "img" and self._figure is not None:
            self.figures[self._figure]["src"] = a.get("src", "")
        elif tag == "figcaption" and self._figure is not None:
            self._text, self._target = [], ("caption", self._figure)
        elif tag == "td" and "data-key" in a:
            self._text, self._target = [], ("summary", a["data-key"])
        elif tag == "h3":
            self._text, self._target = [], ("heading", a.get("id", ""))
        elif tag == "table":
            self.tables.append([])
        elif tag == "tr":
            self._row = []
        elif tag == "td" and self._row is not None:
            self._text, self._target = [], ("cell", "")

    def handle_data(self, data: str) -> None:
        if self._text is not None:
            self._text.append(data)

    def handle_endtag(self, tag: str) -> None:
        if self._text is not None and tag in ("figcaption", "td", "h3"):
            text, (kind, key) = "".join(self._text), self._target or ("", "")
            if kind == "caption":
                self.figures[key]["caption"] = text
            elif kind == "summary":
                self.summary[key] = text
            elif kind == "heading":
                self.headings[key] = text
            if tag == "td" and self._row is not None:
                self._row.append(text)
            self._text = self._target = None
        elif tag == "tr" and self._row is not None:
            if self._row and self.tables:
                self.tables[-1].append(self._row)
            self._row = None
        elif tag == "figure":
            self._figure = None


def png_size(data: bytes) -> tuple[int, int]:
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    return struct.unpack(">II", data[16:24])


def has_check_all() -> bool:
    with sonara.Session(CONFIG) as session:
        try:
            session.check_all(b"")
        except sonara.SonaraError:
            return False
    return True


@pytest.fixture(scope="module")
def sample_records() -> list[dict[str, Any]]:
    # Every value measured where the library can: the histograms then hold every sample.
    records = [result.to_dict() for _, result in sonara.scan([SAMPLES], CONFIG,
                                                             all=has_check_all())]
    assert len(records) == len(list(SAMPLES.glob("*.wav")))
    return records


def write_jsonl(path: Path, records: list[dict[str, Any]]) -> Path:
    path.write_text("".join(json.dumps(r) + "\n" for r in records), encoding="utf-8")
    return path


def expected_counts(records: list[dict[str, Any]], slot: str) -> tuple[int, int]:
    """Files that evaluated the slot, and files that failed it, read from the records."""
    states = [s["state"] for r in records for s in r.get("slots", []) if s["name"] == slot]
    return sum(s != "not evaluated" for s in states), states.count("failed")


def value(record: dict[str, Any], slot: str) -> float | None:
    """A slot's value where the check evaluated it (a slot it never reached holds a reset 0)."""
    found = [s for s in record.get("slots", []) if s["name"] == slot and s["state"] != "not evaluated"]
    return found[0]["value"] if found else None


def as_source(kind: str, records: list[dict[str, Any]], folder: Path) -> Any:
    if kind == "jsonl":
        return write_jsonl(folder / "results.jsonl", records)
    frame = report.load_results(write_jsonl(folder / "results.jsonl", records))
    if kind == "dataframe":
        return frame
    frame = frame.assign(signal_noise_channels=[
        ";".join("" if math.isnan(v) else repr(v) for v in values)
        for values in frame["signal_noise_channels"]])
    frame.to_csv(folder / "results.csv", index=False)
    return folder / "results.csv"


@pytest.mark.parametrize("kind", ["jsonl", "csv", "dataframe"])
def test_every_figure_is_embedded_with_captions_that_count_the_input(
        kind: str, sample_records: list[dict[str, Any]], tmp_path: Path) -> None:
    built = report.build_report(as_source(kind, sample_records, tmp_path),
                                report.read_configuration(CONFIG))
    page = Page(built.html)
    assert list(page.figures) == FIGURES
    assert page.resources == [], "the page must not fetch anything"
    for name, figure in page.figures.items():
        prefix = "data:image/png;base64,"
        assert figure["src"].startswith(prefix), name
        width, height = png_size(base64.b64decode(figure["src"][len(prefix):]))
        assert width >= 400 and height >= 150, name
        assert figure.get("caption"), name

    states = Counter(r["state_name"] for r in sample_records)
    caption = page.figures["report-states"]["caption"]
    assert caption.startswith(f"Files per state, {len(sample_records)} files:")
    for name, count in states.items():
        assert f"{name} {count}" in caption
    for slot in report.SLOT_NAMES:
        evaluated, failed = expected_counts(sample_records, slot)
        caption = page.figures["report-" + slot.replace("_", "-")]["caption"]
        assert f"{evaluated} files evaluated, {failed} fail" in caption, caption
        assert "Threshold (" in caption, caption
    hours = sum(value(r, "duration") or 0 for r in sample_records) / 3600
    both = sum(value(r, "duration") is not None and value(r, "voice_duration") is not None
               for r in sample_records)
    assert page.figures["report-duration-voice"]["caption"].startswith(
        f"Duration against voice duration: {both} files with both values")
    assert page.summary["files"] == str(len(sample_records))
    assert page.summary["hours of audio"] == f"{hours:.3f}"
    assert sample_records[0]["config_hash"] in built.html
    assert "which matches the results" in built.html


def test_without_a_configuration_the_captions_say_no_thresholds_are_drawn(
        sample_records: list[dict[str, Any]], tmp_path: Path) -> None:
    page = Page(report.build_report(write_jsonl(tmp_path / "r.jsonl", sample_records)).html)
    for slot in report.SLOT_NAMES:
        caption = page.figures["report-" + slot.replace("_", "-")]["caption"]
        assert "No configuration given (--config): thresholds not drawn." in caption


def test_configured_limits_are_read_as_the_library_stores_them(tmp_path: Path) -> None:
    config = tmp_path / "c.json"
    config.write_bytes(b'{"version": "t", "duration": {"min": 2.9, "max": -3.5},'
                       b' "signal_noise": {"value": 15.7}, "overload_border": {"value": 0.1},'
                       b' "telephony_border": {"value": 10, "enable": false}}')
    read = report.read_configuration(config)
    assert (read.thresholds["duration"].low, read.thresholds["duration"].high) == (2, -3)
    assert read.thresholds["signal_noise"].low == 15
    assert read.thresholds["overload"].high == pytest.approx(0.1, rel=1e-7)
    assert read.thresholds["overload"].high != 0.1  # narrowed to single precision
    assert read.thresholds["telephony_border"].enabled is False
    assert "voice_duration" not in read.thresholds
    assert read.version == "t" and len(read.hash) == 64
    directory = tmp_path / "dir"
    directory.mkdir()
    shutil.copy(CONFIG, directory / "cv_configuration.json")
    assert report.read_configuration(directory).hash == report.read_configuration(CONFIG).hash


def test_worst_files_come_first_twenty_per_state_and_errors_are_listed(
        sample_records: list[dict[str, Any]], tmp_path: Path) -> None:
    failing = next(r for r in sample_records if r["state"] == 106)
    records = [r for r in sample_records if r["state"] != 106]
    for number in range(25):  # signal-to-noise 14.0, 13.5, ... 2.0: the last is the worst
        record = copy.deepcopy(failing)
        record["path"] = f"many/{number:02d}.wav"
        for slot in record["slots"]:
            if slot["name"] == "signal_noise":
                slot["value"] = 14.0 - 0.5 * number
        records.append(record)
    records.append({"schema": 1, "path": "gone.wav", "error": "No such file or directory"})
    page = Page(report.build_report(write_jsonl(tmp_path / "r.jsonl", records),
                                    report.read_configuration(CONFIG)).html)
    assert page.headings["worst-106"].startswith("106 STATE_SIGNAL_NOISE_FAILED: 25 files")
    for state in {r["state"] for r in records if r.get("state")}:
        assert f"worst-{state}" in page.headings
    worst = next(t for t in page.tables if t and t[0][0] == "many/24.wav")
    assert [row[0] for row in worst] == [f"many/{n:02d}.wav" for n in range(24, 4, -1)]
    assert worst[0][1 + report.SLOT_NAMES.index("signal_noise")] == "2"
    assert ["gone.wav", "No such file or directory"] in page.tables[-1]
    assert "could not be checked 1" in page.figures["report-states"]["caption"]
    assert page.summary["could not be checked"] == "1"


def test_command_writes_the_page_and_each_figure_as_png(
        sample_records: list[dict[str, Any]], tmp_path: Path) -> None:
    results = write_jsonl(tmp_path / "results.jsonl", sample_records)
    out, pngs = tmp_path / "report.html", tmp_path / "png"
    assert report.main([str(results), "-o", str(out), "--png", str(pngs),
                        "--config", str(CONFIG)]) == 0
    page = Page(out.read_text(encoding="utf-8"))
    assert sorted(p.stem for p in pngs.iterdir()) == sorted(FIGURES)
    for name, figure in page.figures.items():
        embedded = base64.b64decode(figure["src"].split(",", 1)[1])
        assert (pngs / f"{name}.png").read_bytes() == embedded

    broken = tmp_path / "broken.jsonl"
    broken.write_text('{"path": "a.wav"}\nnot json\n')
    assert report.main([str(broken), "-o", str(tmp_path / "x.html")]) == 2
    assert report.main([str(tmp_path / "missing.jsonl"), "-o", str(tmp_path / "x.html")]) == 2


def test_the_page_renders_in_headless_chromium(sample_records: list[dict[str, Any]],
                                               tmp_path: Path) -> None:
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        pytest.skip("Chromium is not installed (scripts/setup installs it): rendering not checked")
    import matplotlib.image

    out = tmp_path / "report.html"
    report.write_report(write_jsonl(tmp_path / "r.jsonl", sample_records), out, CONFIG)
    shot = tmp_path / "shot.png"
    command = [browser, "--headless", "--disable-gpu", f"--user-data-dir={tmp_path / 'profile'}",
               "--window-size=1200,1400", f"--screenshot={shot}", out.as_uri()]
    if os.geteuid() == 0:
        command.insert(1, "--no-sandbox")
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    subprocess.run(command, capture_output=True, timeout=90, check=False,
                   env={**env, "HOME": str(tmp_path)})
    assert shot.exists(), "Chromium wrote no screenshot"
    pixels = matplotlib.image.imread(shot)[..., :3]
    assert pixels.std() > 0.05, "the screenshot is blank"
    # The states figure's bars are drawn in the report's green: the embedded images decoded.
    green = ((abs(pixels[..., 0] - 0x3a / 255) < 0.05) & (abs(pixels[..., 1] - 0x8f / 255) < 0.05)
             & (abs(pixels[..., 2] - 0x4b / 255) < 0.05))
    assert green.sum() > 500, "no figure was drawn in the screenshot"
