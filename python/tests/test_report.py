"""The HTML report: the rows and counts it is built from, the configuration as the library reads
it, the recordings drawn from their files, and the page driven in headless Chromium."""

from __future__ import annotations

import csv
import json
import math
import os
import random
import re
import struct
import subprocess
import sys
import time
from collections import Counter
from html.parser import HTMLParser
from pathlib import Path
from typing import Any, Iterator

import pytest

import report_records
import sonara
from browser import LOCAL_SCHEMES, chromium, requests_made
from conftest import CONFIG, SOURCE, pcm16, voice_like, wav
from sonara import report
from sonara._report_config import thresholds_of
from sonara._report_figures import figures as make_figures
from sonara._report_table import ERROR_LABEL, load_rows
from sonara._report_wave import Unreadable, clipped_mask, envelope

SAMPLES = SOURCE / "samples"
FIGURES = ["report-states", *("report-" + name.replace("_", "-") for name in report.SLOT_NAMES),
           "report-duration-voice"]
DEFAULT_LIMITS = thresholds_of(json.loads(CONFIG.read_text()))


# --- helpers ---------------------------------------------------------------------------------


def write_jsonl(path: Path, records: list[dict[str, Any]]) -> Path:
    path.write_text("".join(json.dumps(r) + "\n" for r in records), encoding="utf-8")
    return path


def page_data(text: str) -> dict[str, Any]:
    found = re.search(r'<script type="application/json" id="report-data">(.*?)</script>', text,
                      flags=re.S)
    assert found, "the page holds no data blob"
    return json.loads(found.group(1))  # type: ignore[no-any-return]


class Page(HTMLParser):
    """Figure captions, summary cells, and every attribute that could make the page fetch."""

    def __init__(self, text: str) -> None:
        super().__init__()
        self.captions: dict[str, str] = {}
        self.summary: dict[str, str] = {}
        self.fetches: list[str] = []
        self.csp = ""
        self._figure: str | None = None
        self._text: list[str] | None = None
        self._key: tuple[str, str] | None = None
        self.feed(text)

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        a = {k: v or "" for k, v in attrs}
        self.fetches += [a[n] for n in ("src", "href") if n in a]
        if tag == "meta" and a.get("http-equiv") == "Content-Security-Policy":
            self.csp = a["content"]
        if tag == "figure":
            self._figure = a["id"]
        elif tag == "figcaption" and self._figure:
            self._text, self._key = [], ("caption", self._figure)
        elif tag == "td" and "data-key" in a:
            self._text, self._key = [], ("summary", a["data-key"])

    def handle_data(self, data: str) -> None:
        if self._text is not None:
            self._text.append(data)

    def handle_endtag(self, tag: str) -> None:
        if self._text is not None and self._key and tag in ("figcaption", "td"):
            kind, key = self._key
            (self.captions if kind == "caption" else self.summary)[key] = "".join(self._text)
            self._text = self._key = None


def slot_of(record: dict[str, Any], name: str) -> dict[str, Any] | None:
    return next((s for s in record.get("slots", []) if s["name"] == name), None)


def shown_value(record: dict[str, Any], name: str) -> float | None:
    """What the report must show: the value where the check reached the slot, else nothing."""
    slot = slot_of(record, name)
    if slot is None or slot["state"] == "not evaluated":
        return None
    return slot["value"]


def frame_rows(records: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """The records in the schema's CSV/DataFrame columns."""
    rows = []
    for r in records:
        row: dict[str, Any] = {"path": r["path"]}
        if "error" in r:
            rows.append({**row, "error": r["error"]})
            continue
        row.update(result=r["result"], state=r["state"], state_name=r["state_name"],
                   config_version=r["config_version"], config_hash=r["config_hash"])
        for name in report.SLOT_NAMES:
            slot = slot_of(r, name)
            row[name] = None if slot is None else slot["value"]
            row[f"{name}_state"] = None if slot is None else slot["state"]
        for k, channel in enumerate(r.get("details", {}).get("channels", [])[:2], 1):
            row.update({f"ch{k}_{field}": value for field, value in channel.items()})
        rows.append(row)
    return rows


def as_source(kind: str, records: list[dict[str, Any]], folder: Path) -> Any:
    if kind == "jsonl":
        return write_jsonl(folder / "results.jsonl", records)
    import pandas

    rows = frame_rows(records)
    columns = list(dict.fromkeys(k for row in rows for k in row))
    if kind == "dataframe":
        frame = pandas.DataFrame(rows, columns=columns)
        frame["state"] = frame["state"].astype("Int64")
        return frame
    with (folder / "results.csv").open("w", newline="", encoding="utf-8") as stream:
        writer = csv.DictWriter(stream, columns)
        writer.writeheader()
        writer.writerows({k: "" if v is None else v for k, v in row.items()} for row in rows)
    return folder / "results.csv"


def mixed_records() -> list[dict[str, Any]]:
    """Generated records, plus a schema 1 record whose unreached slots hold the leftover 0.0."""
    records = report_records.records(300, seed=7)
    old = report_records.record("/archive/phone/schema1.wav", random.Random(1), stop=True,
                                values={"duration": 1.0})
    old["schema"] = 1
    for slot in old["slots"]:
        if slot["state"] == "not evaluated":
            slot["value"] = 0.0
    old.pop("details", None)
    return records + [old]


# --- rows and counts ---------------------------------------------------------------------------


@pytest.mark.parametrize("kind", ["jsonl", "csv", "dataframe"])
def test_every_input_gives_the_records_rows_and_captions_that_count_them(
        kind: str, tmp_path: Path) -> None:
    records = mixed_records()
    configuration = report.Configuration("2026.12", report_records.HASH, DEFAULT_LIMITS)
    built = report.build_report(as_source(kind, records, tmp_path), configuration)
    data, page = page_data(built.html), Page(built.html)

    assert page.fetches == [], "the page must name nothing to fetch"
    assert "default-src 'none'" in page.csp
    assert list(page.captions) == FIGURES and all(page.captions.values())
    assert data["root"] == "/archive"
    by_path = {"/archive/" + p: i for i, p in enumerate(data["rows"]["path"])}
    assert len(by_path) == len(records)
    for record in records:
        i = by_path[record["path"]]
        label = data["labels"][data["rows"]["label"][i]]
        assert label == record.get("state_name", ERROR_LABEL)
        if "error" in record:
            assert data["errors"][str(i)] == record["error"]
        for k, name in enumerate(report.SLOT_NAMES):
            expected, got = shown_value(record, name), data["rows"]["v"][k][i]
            assert (got is None) == (expected is None), (record["path"], name)
            if expected is not None:
                assert got == pytest.approx(expected, rel=1e-6)
            slot = slot_of(record, name)
            state = "-" if slot is None else "012"[["not evaluated", "passed", "failed"]
                                                   .index(slot["state"])]
            assert data["rows"]["s"][k][i] == state

    assert page.summary["files"] == f"{len(records):,}"
    errors = sum("error" in r for r in records)
    assert page.summary["could not be checked"] == f"{errors:,}"
    assert page.summary["passed"] == f"{sum(r.get('state') == 0 for r in records):,}"
    for name, count in Counter(r.get("state_name", ERROR_LABEL) for r in records).items():
        assert f"{name} {count:,}" in page.captions["report-states"]
    for name in report.SLOT_NAMES:
        states = [s["state"] for r in records for s in r.get("slots", []) if s["name"] == name]
        evaluated, failed = sum(s != "not evaluated" for s in states), states.count("failed")
        caption = page.captions["report-" + name.replace("_", "-")]
        assert f"{evaluated:,} files evaluated, {failed:,} fail" in caption, caption


def test_folders_and_states_are_counted_per_folder(tmp_path: Path) -> None:
    records = report_records.records(200, seed=3)
    data = page_data(report.build_report(write_jsonl(tmp_path / "r.jsonl", records)).html)
    folders = Counter(r["path"].rsplit("/", 1)[0].removeprefix("/archive/") for r in records)
    got = Counter(data["folders"][k] for k in data["rows"]["folder"])
    assert got == folders  # "phone" and "phone/old" apart: a folder is not a prefix


# --- the configuration --------------------------------------------------------------------------


def test_limits_are_read_after_the_library_accepted_the_configuration(tmp_path: Path) -> None:
    config = tmp_path / "c.json"
    document = json.loads(CONFIG.read_text())
    document.update({"version": "t", "duration": {"min": 2.9, "max": 600.7},
                     "signal_noise": {"value": 15.7}, "overload_border": {"value": 0.1},
                     "telephony_border": {"value": 10, "enable": False}})
    config.write_text(json.dumps(document))
    read = report.read_configuration(config)
    assert (read.thresholds["duration"].low, read.thresholds["duration"].high) == (2, 600)
    assert read.thresholds["signal_noise"].low == 15
    assert read.thresholds["overload"].high == pytest.approx(0.1, rel=1e-7)
    assert read.thresholds["overload"].high != 0.1  # single precision, as the library keeps it
    assert read.thresholds["telephony_border"].enabled is False
    with sonara.Session(config) as session:
        assert (read.version, read.hash) == (session.version, session.hash)
    folder = tmp_path / "dir"
    folder.mkdir()
    (folder / "cv_configuration.json").write_bytes(CONFIG.read_bytes())
    assert report.read_configuration(folder).thresholds == DEFAULT_LIMITS


@pytest.mark.parametrize("text, reason", [
    ('"duration": {"min": 2.9, "max": -3.5}', "minimum value greater than maximum"),
    ('"duration": {"min": "two", "max": 600}', "refused"),
    (None, "refused"),  # not JSON at all
])
def test_a_configuration_the_library_refuses_is_refused(
        text: str | None, reason: str, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    config = tmp_path / "c.json"
    if text is None:
        config.write_text("{ not json")
    else:
        body = CONFIG.read_text().rstrip().rstrip("}").rstrip()
        config.write_text(body + ", " + text + "}")
    results = write_jsonl(tmp_path / "r.jsonl", report_records.records(5))
    out = tmp_path / "report.html"
    assert report.main([str(results), "-o", str(out), "--config", str(config)]) == 2
    error = capsys.readouterr().err
    assert reason in error and "sonara.report:" in error
    assert not out.exists()


# --- which recordings are drawn -------------------------------------------------------------------


def test_the_worst_failing_files_of_each_state_are_drawn_up_to_the_cap(tmp_path: Path) -> None:
    generator = random.Random(5)
    records = [report_records.record(f"/a/noise{k:02d}.wav", generator,
                                     values={"duration": 5.0, "depth": 16, "channels": 1,
                                             "sample_rate": 8000, "telephony_border": 30.0,
                                             "overload": 0.3, "signal_noise": 14.0 - k})
               for k in range(10)]
    records += [report_records.record(f"/a/short{k}.wav", generator,
                                      values={"duration": 1.9 - 0.1 * k, "depth": 16})
                for k in range(5)]
    records.append(report_records.record("/a/fine.wav", generator, values={
        "duration": 5.0, "depth": 16, "channels": 1, "sample_rate": 8000,
        "telephony_border": 30.0, "overload": 0.3, "signal_noise": 30.0, "voice_duration": 3.0,
        "length": 80.0}))
    assert records[-1]["state"] == 0
    source = write_jsonl(tmp_path / "r.jsonl", records)
    configuration = report.Configuration("t", "h", DEFAULT_LIMITS)
    built = report.build_report(source, configuration, detail_cap=6, files=["/a/fine.wav"])
    drawn = [records[i]["path"] for i in built.detail_rows]
    # States in turn, worst first: the lowest signal-to-noise, the shortest duration.
    assert drawn == ["/a/noise09.wav", "/a/short4.wav", "/a/noise08.wav", "/a/short3.wav",
                     "/a/noise07.wav", "/a/short2.wav", "/a/fine.wav"]
    data = page_data(built.html)
    assert sorted(map(int, data["detail"])) == sorted(built.detail_rows)
    assert all("unreadable" in entry for entry in data["detail"].values())  # no such files
    assert data["detail"][str(built.detail_rows[0])]["details"] == records[9]["details"]["channels"]

    with pytest.raises(ValueError, match="--file /a/none.wav: no record"):
        report.build_report(source, files=["/a/none.wav"])


# --- recordings drawn from their files ----------------------------------------------------------


@pytest.mark.parametrize("samples, expected", [
    ([32512, 32512], 2),
    ([32511, 32511], 0),  # below the level
    ([0, 32767, 0], 0),  # a single sample is no run
    ([-32768, -32768, -32768, 5], 3),
    ([32767, 32766], 0),  # loud but not equal
    ([0, 32600, 32600, 0, 32600], 2),
    ([-32600, -32600, 32600, 32600], 4),
])
def test_clipped_runs_follow_the_schemas_rule(samples: list[int], expected: int) -> None:
    import numpy as np

    assert int(clipped_mask(np.array(samples, dtype=np.int16)).sum()) == expected


def _bytes_at(bits: int, values: list[int]) -> bytes:
    """16-bit values written at another depth (as the library reads them back to 16 bits)."""
    if bits == 8:
        return bytes((v >> 8) + 128 for v in values)
    if bits == 16:
        return struct.pack(f"<{len(values)}h", *values)
    if bits == 24:
        return b"".join(struct.pack("<i", v << 8)[:3] for v in values)
    return struct.pack(f"<{len(values)}i", *(v << 16 for v in values))


@pytest.mark.parametrize("bits", [8, 16, 24, 32])
def test_the_envelope_is_read_at_every_depth(bits: int, tmp_path: Path) -> None:
    rate = 8000
    left = [round(20000 * math.sin(2 * math.pi * 200 * n / rate)) & ~0xFF for n in range(rate)]
    left[4000:4010] = [32512] * 10  # a clipped run, on the 8-bit grid too
    right = [v // 2 & ~0xFF for v in left]
    interleaved = [v for pair in zip(left, right) for v in pair]
    path = tmp_path / f"tone{bits}.wav"
    path.write_bytes(wav(2, rate, bits, _bytes_at(bits, interleaved)))
    drawn = envelope(str(path), columns=100)
    assert (drawn["rate"], drawn["bits"], drawn["frames"]) == (rate, bits, rate)
    first, second = drawn["channels"]
    assert len(first["lo"]) == len(first["hi"]) == 100
    # Thousandths of full scale, rounded outwards: the envelope never looks quieter than it is.
    assert (min(first["lo"]), max(first["hi"])) == (-618, 993)  # -20224 and 32512
    assert (min(second["lo"]), max(second["hi"])) == (-313, 493)  # -10240 and 16128
    assert (first["clipped"], second["clipped"]) == (10, 0)
    assert first["clips"] == [0.505] and second["clips"] == []  # the centre of column 50


def test_a_file_that_cant_be_drawn_says_why(tmp_path: Path) -> None:
    cases = {"missing.wav": None, "float.wav": wav(1, 8000, 16, pcm16([[0.1] * 800]), format_code=3),
             "empty.wav": wav(1, 8000, 16, b""), "text.wav": b"not a recording\n" * 10}
    for name, data in cases.items():
        if data is not None:
            (tmp_path / name).write_bytes(data)
    os.mkfifo(tmp_path / "fifo.wav")  # opening it for reading must not wait for a writer
    (tmp_path / "folder.wav").mkdir()
    reasons = {}
    for name in [*cases, "fifo.wav", "folder.wav"]:
        with pytest.raises(Unreadable) as caught:
            envelope(str(tmp_path / name))
        reasons[name] = str(caught.value)
    assert "No such file" in reasons["missing.wav"]
    assert "not a PCM WAV file" in reasons["float.wav"] and "not a PCM WAV" in reasons["text.wav"]
    assert "no samples" in reasons["empty.wav"]
    assert reasons["fifo.wav"] == "not a regular file"
    assert reasons["folder.wav"] == "not a regular file"


def test_a_path_that_is_not_utf8_is_shown_and_its_file_drawn(tmp_path: Path) -> None:
    folder = os.fsencode(tmp_path) + b"/caf\xe9"  # Latin-1, as an old archive may hold
    os.mkdir(folder)
    name = folder + b"/take\xff.wav"
    with open(name, "wb") as stream:
        stream.write(wav(1, 8000, 16, pcm16([voice_like(1.0, 8000, seed=3)])))
    failing = report_records.record(os.fsdecode(name), random.Random(2), values={"duration": 1.0})
    assert "\udcff" in failing["path"]  # the schema's escape of a byte that is not UTF-8
    out = tmp_path / "report.html"
    built = report.write_report(write_jsonl(tmp_path / "r.jsonl", [failing]), out)
    data = page_data(out.read_text(encoding="utf-8"))
    assert data["root"] + "/" + data["rows"]["path"][0] == failing["path"]
    assert "wave" in data["detail"][str(built.detail_rows[0])]


# --- figures ---------------------------------------------------------------------------------------


def test_figures_put_bin_edges_on_the_limits_and_spread_axes_over_decades(tmp_path: Path) -> None:
    records = report_records.records(2000, seed=11)
    rows = load_rows(write_jsonl(tmp_path / "r.jsonl", records))
    names = [r.path for r in rows]
    drawn = {f.name: f.plot for f in
             make_figures(rows, names, report.Configuration("t", "h", DEFAULT_LIMITS))}

    duration = drawn["report-duration"]
    assert "(log)" in duration["layout"]["xaxis"]["title"]["text"]
    assert "1 s" in duration["layout"]["xaxis"]["ticktext"]
    edges = {round(x - w / 2, 9) for x, w in zip(duration["data"][0]["x"], duration["data"][0]["width"])}
    assert round(math.log10(2), 9) in edges  # the 2 s limit is a bar edge
    assert [s["x0"] for s in duration["layout"]["shapes"]] == [pytest.approx(math.log10(2))] or \
        [s["x0"] for s in duration["layout"]["shapes"]] == [pytest.approx(math.log10(2)),
                                                          pytest.approx(math.log10(600))]
    counted = sum(duration["data"][0]["y"]) + sum(duration["data"][1]["y"])
    assert counted == sum(shown_value(r, "duration") is not None for r in records)

    overload = drawn["report-overload"]
    edges = {round(x - w / 2, 9) for x, w in zip(overload["data"][0]["x"], overload["data"][0]["width"])}
    border = json.loads(Path(CONFIG).read_text())["overload_border"]["value"]
    stored = struct.unpack("f", struct.pack("f", border))[0]  # the library keeps it in single precision
    assert round(stored, 9) in edges and overload["layout"]["shapes"][0]["x0"] == pytest.approx(stored)

    rate = drawn["report-sample-rate"]
    assert rate["layout"]["xaxis"]["type"] == "category"
    assert rate["data"][0]["x"] == ["8000 Hz", "16000 Hz", "44100 Hz", "96000 Hz"]
    failed_96k = rate["data"][1]["y"][3]
    assert failed_96k == sum(shown_value(r, "sample_rate") == 96000 for r in records) > 0
    assert "/archive/" in rate["data"][1]["hovertext"][3]  # hover names the files
    channels = drawn["report-channels"]
    assert channels["data"][0]["x"] == ["1", "2", "3"]

    scatter = drawn["report-duration-voice"]
    assert scatter["layout"]["xaxis"]["type"] == "log"
    assert all(isinstance(i, int) for trace in scatter["data"][:2] for i in trace["customdata"])


def test_command_writes_the_page_and_every_figure_as_png(
        tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    results = write_jsonl(tmp_path / "results.jsonl", report_records.records(120, seed=2))
    out, pngs = tmp_path / "report.html", tmp_path / "png"
    assert report.main([str(results), "-o", str(out), "--png", str(pngs),
                        "--config", str(CONFIG), "--detail-cap", "3"]) == 0
    assert "3 recordings drawn" in capsys.readouterr().err
    assert sorted(p.stem for p in pngs.iterdir()) == sorted(FIGURES)
    for png in pngs.iterdir():
        data = png.read_bytes()
        assert data[:8] == b"\x89PNG\r\n\x1a\n"
        width, height = struct.unpack(">II", data[16:24])
        assert width >= 600 and height >= 200
    assert len(page_data(out.read_text())["detail"]) == 3

    broken = tmp_path / "broken.jsonl"
    broken.write_text('{"schema": 2, "path": "a.wav", "error": "x"}\nnot json\n')
    assert report.main([str(broken), "-o", str(tmp_path / "x.html")]) == 2
    assert "broken.jsonl:2: not a JSON object" in capsys.readouterr().err
    wrong = write_jsonl(tmp_path / "wrong.jsonl", [{"schema": 2, "path": "a.wav", "state": 0,
                                                     "slots": [{"name": "loudness"}]}])
    assert report.main([str(wrong), "-o", str(tmp_path / "x.html")]) == 2
    assert report.main([str(tmp_path / "missing.jsonl"), "-o", str(tmp_path / "x.html")]) == 2
    with pytest.raises(SystemExit) as caught:
        report.main([str(results), "--detail-cap", "-1"])
    assert caught.value.code == 2


# --- in a browser ------------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def browser() -> Iterator[Any]:
    with chromium() as driver:
        yield driver


def open_page(driver: Any, page: Path) -> None:
    driver.get(page.as_uri())
    assert driver.execute_script("return document.body.dataset.ready") == "1"


def assert_nothing_fetched(driver: Any) -> None:
    requests = requests_made(driver)
    assert requests and all(r.startswith(LOCAL_SCHEMES) for r in requests), requests
    problems = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    assert problems == [], problems  # a request the page's policy refused shows here


def count_text(driver: Any) -> str:
    from selenium.webdriver.common.by import By

    return driver.find_element(By.ID, "files-count").text  # type: ignore[no-any-return]


def type_filter(driver: Any, text: str) -> None:
    from selenium.webdriver.common.by import By

    box = driver.find_element(By.ID, "filter")
    box.clear()
    if text:
        box.send_keys(text)
    else:  # clear() sends no input event
        driver.execute_script("arguments[0].dispatchEvent(new Event('input'))", box)


def visible_rows(driver: Any) -> list[int]:
    return driver.execute_script(  # type: ignore[no-any-return]
        "return Array.from(document.querySelectorAll('#files tr.row'), r => Number(r.dataset.row))")


def open_row(driver: Any, name: str) -> Any:
    """Filters the table down to one file and clicks its row; the view that opens."""
    from selenium.webdriver.common.by import By

    type_filter(driver, name)
    assert count_text(driver).startswith("1 of ")
    driver.find_element(By.CSS_SELECTOR, "#files tr.row").click()
    detail = driver.find_element(By.ID, "detail")
    assert detail.is_displayed()
    return detail


@pytest.fixture(scope="module")
def fixture_page(tmp_path_factory: pytest.TempPathFactory) -> tuple[Path, list[dict[str, Any]]]:
    """Generated records, and four failing ones whose files exist (or are there but unreadable)."""
    folder = tmp_path_factory.mktemp("report_page")
    voice = voice_like(3.0, 8000, seed=4)
    loud = [max(-1.0, min(1.0, 8 * v)) for v in voice]
    (folder / "clipped_stereo.wav").write_bytes(wav(2, 8000, 16, pcm16([loud, voice])))
    (folder / "deep_24bit.wav").write_bytes(
        wav(1, 8000, 24, b"".join(struct.pack("<i", round(v * 8388607))[:3] for v in voice)))
    os.mkfifo(folder / "fifo.wav")
    generator = random.Random(9)
    real = [
        report_records.record(str(folder / "clipped_stereo.wav"), generator,
                              values={"overload": 0.95, "channels": 2, "duration": 3.0,
                                      "depth": 16, "sample_rate": 8000}),
        report_records.record(str(folder / "deep_24bit.wav"), generator,
                              values={"depth": 24, "duration": 3.0}),
        report_records.record(str(folder / "gone.wav"), generator, values={"duration": 1.0}),
        report_records.record(str(folder / "fifo.wav"), generator, values={"duration": 900.0}),
    ]
    assert all(r["state"] != 0 for r in real)
    records = report_records.records(400, seed=21, root=str(folder / "archive")) + real
    out = folder / "report.html"
    report.write_report(write_jsonl(folder / "r.jsonl", records), out, CONFIG)
    return out, records


def test_the_page_filters_sorts_and_opens_files_in_a_browser(
        browser: Any, fixture_page: tuple[Path, list[dict[str, Any]]]) -> None:
    from selenium.webdriver.common.by import By

    page, records = fixture_page
    open_page(browser, page)
    n = len(records)
    assert count_text(browser) == f"{n:,} of {n:,} files"

    states = Counter(r.get("state_name", ERROR_LABEL) for r in records)
    for name in ("STATE_DURATION_FAILED", "STATE_OK", "state_voice_duration_failed"):
        type_filter(browser, name)
        assert count_text(browser) == f"{states[name.upper()]:,} of {n:,} files"
        cells = browser.find_elements(By.CSS_SELECTOR, "#files tr.row td.state")
        assert cells and {c.get_attribute("title") for c in cells} == {name.upper()}
        assert {c.text for c in cells} == {name.upper().removeprefix("STATE_")}
    type_filter(browser, "PHONE/OLD")  # a folder, in any case
    in_old = sum("/phone/old/" in r["path"] for r in records)
    assert count_text(browser) == f"{in_old:,} of {n:,} files"

    type_filter(browser, "")
    header = browser.find_element(By.CSS_SELECTOR, "#files th[data-col='9']")  # duration
    assert header.text.startswith("duration")
    durations = sorted(v for r in records if (v := shown_value(r, "duration")) is not None)
    for direction in (1, -1):
        header.click()
        shown = [shown_value(records[i], "duration") for i in visible_rows(browser)[:25]]
        expected = durations[:25] if direction == 1 else durations[::-1][:25]
        assert shown == pytest.approx(expected)

    detail = open_row(browser, "clipped_stereo")
    assert detail.find_element(By.CSS_SELECTOR, ".path").text.endswith("/clipped_stereo.wav")
    assert len(detail.find_elements(By.CSS_SELECTOR, ".wave .main-svg")) > 0
    bad = detail.find_elements(By.CSS_SELECTOR, "table.values td.bad")
    assert bad and bad[0].text == "0.95"
    assert "Green bands: the detector's speech segments" in detail.text
    clipped = re.search(r"channel 1: (\d+), channel 2: 0 samples", detail.text)
    assert clipped and int(clipped.group(1)) > 100
    assert len(detail.find_elements(By.CSS_SELECTOR, "table.details tbody tr")) == 2

    detail = open_row(browser, "deep_24bit")
    assert "24-bit, 8000 Hz, 3.000 s" in detail.text
    assert detail.find_elements(By.CSS_SELECTOR, ".wave .main-svg")
    for name, reason in (("gone.wav", "No such file"), ("fifo.wav", "not a regular file")):
        detail = open_row(browser, name)
        unreadable = detail.find_element(By.CSS_SELECTOR, ".unreadable").text
        assert "could not be read" in unreadable and reason in unreadable
        assert len(detail.find_elements(By.CSS_SELECTOR, "table.values tbody tr")) == 9
    passed = next(r["path"].rsplit("/", 1)[1] for r in records if r.get("state") == 0)
    detail = open_row(browser, passed)
    assert "No figure for this file" in detail.text
    assert detail.find_elements(By.CSS_SELECTOR, "table.values")

    type_filter(browser, "")
    # The common folder holds the four real files and archive/.
    row = browser.find_element(By.XPATH, "//table[@id='folders']//tr[td[1]='archive/phone']")
    row.click()
    in_phone = sum(r["path"].rsplit("/", 2)[-2] == "phone" for r in records)
    assert count_text(browser) == f"{in_phone:,} of {n:,} files"
    browser.find_element(By.ID, "folder-clear").click()
    assert count_text(browser) == f"{n:,} of {n:,} files"
    assert_nothing_fetched(browser)


def has_check_all() -> bool:
    with sonara.Session(CONFIG) as session:
        try:
            session.check_all(b"")
        except sonara.SonaraError:
            return False
    return True


def test_the_samples_page_in_a_browser(browser: Any, tmp_path: Path) -> None:
    from selenium.webdriver.common.by import By

    try:
        scanned = list(sonara.scan([SAMPLES], CONFIG, all=has_check_all()))
    except sonara.LibraryNotFoundError as error:
        pytest.skip(f"no built libsonara to check the samples with: {error}")
    records = [result.to_dict() for _, result in scanned]
    out = tmp_path / "report.html"
    report.write_report(write_jsonl(tmp_path / "r.jsonl", records), out, CONFIG)
    open_page(browser, out)
    n = len(records)
    assert count_text(browser) == f"{n} of {n} files"
    failing = next(r for r in records if r["state"] != 0)
    type_filter(browser, failing["state_name"])
    same = sum(r["state_name"] == failing["state_name"] for r in records)
    assert count_text(browser) == f"{same} of {n} files"
    browser.find_element(By.CSS_SELECTOR, "#files tr.row").click()
    detail = browser.find_element(By.ID, "detail")
    assert detail.find_element(By.CSS_SELECTOR, ".path").text == failing["path"]
    assert detail.find_elements(By.CSS_SELECTOR, ".wave .main-svg")
    assert_nothing_fetched(browser)


# The building process's own peak resident set, from inside it: the children's rusage would also
# count Chromium, and ru_maxrss keeps the high-water mark of the forked copy of this test process
# from before exec; VmHWM belongs to the address space the build itself ran in.
BUILD = ("import re, sys\n"
         "from sonara.report import main\n"
         "code = main(sys.argv[1:])\n"
         "status = open('/proc/self/status').read()\n"
         "print('peak_kib', re.search(r'VmHWM:\\s*(\\d+) kB', status).group(1), file=sys.stderr)\n"
         "sys.exit(code)\n")


def test_a_page_of_100000_files_builds_within_bounds_and_filters_at_once(
        browser: Any, tmp_path: Path) -> None:
    records = report_records.records(100_000, seed=1)
    results = write_jsonl(tmp_path / "r.jsonl", records)
    out = tmp_path / "report.html"
    command = [sys.executable, "-c", BUILD, str(results), "-o", str(out)]
    # An instrumented libsonara needs its preloaded runtime, which would also weigh on every
    # allocation of the build: the limits then come from no configuration.
    if "LD_PRELOAD" not in os.environ:
        command += ["--config", str(CONFIG)]
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    environment["PYTHONPATH"] = str(SOURCE / "python")
    started = time.monotonic()
    # The bound of 120 s is the subprocess's timeout: a slower build fails with TimeoutExpired.
    run = subprocess.run(command, capture_output=True, text=True, timeout=120, env=environment)
    took = time.monotonic() - started
    assert run.returncode == 0, run.stderr
    peak = int(re.search(r"peak_kib (\d+)", run.stderr).group(1))  # type: ignore[union-attr]
    assert peak <= 2 * 1024 * 1024, f"building took {peak} KiB at its peak"
    print(f"100,000 files: built in {took:.1f} s, peak RSS {peak / 1024:.0f} MiB")

    open_page(browser, out)
    n = len(records)
    assert count_text(browser) == f"{n:,} of {n:,} files"
    for text in ("state_signal_noise_failed", "phone/old/rec0999", ""):
        took = browser.execute_script(
            "const box = document.getElementById('filter'), start = performance.now();"
            "box.value = arguments[0]; box.dispatchEvent(new Event('input'));"
            "document.body.getBoundingClientRect();"  # the rows laid out, not only chosen
            "return performance.now() - start;", text)
        expected = sum(text.lower() in (r["path"] + "\n" + r.get("state_name", ERROR_LABEL)).lower()
                       for r in records)
        assert count_text(browser) == f"{expected:,} of {n:,} files"
        assert took < 1000, f"filtering by {text!r} took {took:.0f} ms"
        print(f"filter {text!r}: {took:.0f} ms")
    assert_nothing_fetched(browser)
