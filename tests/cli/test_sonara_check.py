"""sonara check end to end over a tree of recordings built by the test.

The tree holds nested folders, upper- and mixed-case names, a link to a file, a link loop, a
FIFO, a directory named like a recording, unreadable entries and broken files. Tests run as
root here, where chmod 000 does not stop a read, so the unreadable entries are a dangling link
(always) and a chmod-000 file read by an unprivileged user (only where setpriv can drop root).
"""
from __future__ import annotations

import csv
import io
import json
import os
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path

import pytest

SONARA = os.environ["SONARA"]
REFERENCE = os.environ["SONARA_REFERENCE"]
SOURCE = Path(os.environ["SONARA_SOURCE_DIR"])
SAMPLES = SOURCE / "samples"
CONFIGURATION = SOURCE / "config" / "cv_configuration.json"

SLOT_ORDER = ["length", "sample_rate", "voice_duration", "overload", "telephony_border",
              "channels", "depth", "duration", "signal_noise"]
UNITS = {"length": "KiB", "sample_rate": "Hz", "voice_duration": "s", "overload": None,
         "telephony_border": "dB", "channels": "channels", "depth": "bits", "duration": "s",
         "signal_noise": "dB"}


def run(*args: str, stdin: str | None = None, cwd: Path | None = None,
        prefix: tuple[str, ...] = ()) -> subprocess.CompletedProcess[str]:
    return subprocess.run([*prefix, SONARA, *args], input=stdin, capture_output=True, text=True,
                          timeout=120, cwd=cwd, errors="surrogateescape")


def reference(paths: list[str], all_values: bool = False) -> dict[str, tuple[int, bool]]:
    """v_check's (or v_check_all's) state and result per file, one session, file by file."""
    args = [REFERENCE, *(["--all"] if all_values else []), str(CONFIGURATION), *paths]
    out = subprocess.run(args, capture_output=True, text=True, check=True, timeout=120).stdout
    table = {}
    for line in out.splitlines():
        state, result, path = line.split(" ", 2)
        table[path] = (int(state), result == "1")
    return table


def with_byte_rate(content: bytes, byte_rate: int) -> bytes:
    """The same file with the 'fmt ' chunk's byte rate replaced (canonical 44-byte header)."""
    assert content[12:16] == b"fmt "
    return content[:28] + struct.pack("<I", byte_rate) + content[32:]


def jsonl(stdout: str) -> list[dict]:
    return [json.loads(line) for line in stdout.splitlines()]


@pytest.fixture(scope="module")
def tree(tmp_path_factory: pytest.TempPathFactory) -> dict:
    """The archive, with what a walk must report: checked files and unreadable entries."""
    root = tmp_path_factory.mktemp("archive")
    (root / "a" / "b" / "c").mkdir(parents=True)
    (root / "named.wav").mkdir()  # a folder with a recording's name is walked, not read
    files = {
        "a/clean.wav": SAMPLES / "clean_16000_mono.wav",
        "a/b/UPPER.WAV": SAMPLES / "clean_8000_stereo.wav",
        "a/b/c/Mixed.Wav": SAMPLES / "noisy_right_channel_8000_stereo.wav",
        "a/b/c/short.wav": SAMPLES / "too_short_16000_mono.wav",
        "a/b/silence.wav": SAMPLES / "near_silence_16000_mono.wav",
        "named.wav/inner.wav": SAMPLES / "clipped_44100_mono.wav",
        "top.wav": SAMPLES / "three_channels_8000.wav",
    }
    for name, source in files.items():
        shutil.copyfile(source, root / name)
    clean = (SAMPLES / "clean_16000_mono.wav").read_bytes()
    broken = {
        "a/empty.wav": b"",
        "a/not_riff.wav": b"x" * 4096,
        "a/b/truncated.wav": clean[:3000] + b"",  # the data chunk runs past the end
        # A byte rate that lies: 4 s instead of 3, which the duration check lets through.
        "a/lying_rate.wav": with_byte_rate(clean, 24000),
    }
    for name, content in broken.items():
        (root / name).write_bytes(content)
    (root / "a" / "notes.txt").write_text("not a recording")
    (root / "a" / "b" / "loop").symlink_to("../..")  # a link loop, never followed
    (root / "a" / "link.wav").symlink_to(root / "top.wav")  # a link to a file, followed
    (root / "a" / "dangling.wav").symlink_to(root / "nowhere.wav")  # unreadable
    os.mkfifo(root / "a" / "b" / "pipe.wav")  # a record with its error, never opened
    checked = sorted(str(root / name) for name in [*files, *broken, "a/link.wav"])
    unreadable = [str(root / "a" / "dangling.wav"), str(root / "a" / "b" / "pipe.wav")]
    return {"root": root, "checked": checked, "unreadable": unreadable,
            "all": sorted(checked + unreadable)}


def test_every_file_reported_once_with_the_states_of_v_check(tree: dict) -> None:
    result = run("check", "-q", "-j", "1", "-f", "jsonl", str(tree["root"]))
    assert result.returncode == 3, result.stderr  # the dangling link could not be read
    records = jsonl(result.stdout)
    paths = [record["path"] for record in records]
    assert paths == tree["all"]  # sorted, each once, the FIFO a record, the loop left out
    expected = reference(tree["checked"])
    errors = {str(tree["root"] / "a/dangling.wav"): "No such file",
              str(tree["root"] / "a/b/pipe.wav"): "not a regular file (FIFO)"}
    for record in records:
        if record["path"] in tree["unreadable"]:
            assert set(record) == {"schema", "path", "error"}
            assert errors[record["path"]] in record["error"]
            continue
        assert (record["state"], record["result"]) == expected[record["path"]], record["path"]


def test_records_follow_the_schema(tree: dict) -> None:
    records = {r["path"]: r for r in jsonl(run("check", "-q", "-f", "jsonl", str(tree["root"])).stdout)}
    version = json.loads(CONFIGURATION.read_text())["version"]
    for path, record in records.items():
        assert record["schema"] == 2
        if "error" in record:
            continue
        assert list(record)[:8] == ["schema", "path", "result", "state", "state_name",
                                    "config_version", "config_hash", "slots"]
        assert record["config_version"] == version
        assert len(record["config_hash"]) == 64
        assert record["state_name"].startswith("STATE_")
        if record["state"] == 103:
            assert record["slots"] == [], path  # never the previous file's values
            continue
        assert [slot["name"] for slot in record["slots"]] == SLOT_ORDER
        for slot in record["slots"]:
            assert slot["unit"] == UNITS[slot["name"]]
            assert slot["state"] in ("not evaluated", "passed", "failed")
            assert isinstance(slot["enabled"], bool)
            if slot["state"] == "not evaluated":
                assert slot["value"] is None and "special" not in slot  # never a leftover value
            elif slot["value"] is None:
                assert slot["special"] in ("nan", "inf", "-inf")
            else:
                assert "special" not in slot
    # A silent recording's signal-to-noise is not a number: null with its special name.
    silence = records[str(tree["root"] / "a/b/silence.wav")]
    noise = {slot["name"]: slot for slot in silence["slots"]}["signal_noise"]
    assert noise["value"] is None and noise["special"] == "nan" and noise["channels"] == [None]
    stereo = records[str(tree["root"] / "a/b/c/Mixed.Wav")]
    noise = {slot["name"]: slot for slot in stereo["slots"]}["signal_noise"]
    assert len(noise["channels"]) == 2 and noise["value"] == pytest.approx(min(noise["channels"]), abs=1e-6)


@pytest.mark.parametrize("output", ["text", "jsonl", "csv"])
def test_output_is_the_same_for_every_job_count(tree: dict, output: str) -> None:
    runs = [run("check", "-q", "--all", "--strict", "-f", output, "-j", str(jobs), str(tree["root"]))
            for jobs in (1, 4)]
    assert runs[0].returncode == runs[1].returncode == 3
    assert runs[0].stdout == runs[1].stdout
    assert runs[0].stdout.count("\n") == len(tree["all"]) + (1 if output == "csv" else 0)


def test_csv_parses_back_and_agrees_with_json_lines(tree: dict) -> None:
    rows = list(csv.DictReader(io.StringIO(run("check", "-q", "-f", "csv", "--strict", str(tree["root"])).stdout)))
    records = {r["path"]: r for r in jsonl(run("check", "-q", "-f", "jsonl", "--strict", str(tree["root"])).stdout)}
    columns = ["path", "result", "state", "state_name", "config_version", "config_hash"]
    for name in SLOT_ORDER:
        columns += [name, f"{name}_state"]
    columns += ["signal_noise_channels"]
    evidence = ["peak_dbfs", "rms_dbfs", "dc_offset", "clipped_samples", "speech_seconds"]
    columns += [f"{prefix}_{name}" for prefix in ("ch1", "ch2", "worst") for name in evidence]
    columns += ["strict_failed", "strict_reasons", "unmeasured", "error"]
    assert rows and list(rows[0]) == columns
    assert [row["path"] for row in rows] == tree["all"]
    for row in rows:
        record = records[row["path"]]
        if "error" in record:
            assert row["error"] == record["error"] and row["state"] == ""
            continue
        assert row["error"] == ""
        assert int(row["state"]) == record["state"]
        assert row["result"] == ("true" if record["result"] else "false")
        assert row["strict_failed"] == ("true" if record["strict"]["failed"] else "false")
        assert row["strict_reasons"] == ";".join(record["strict"]["reasons"])
        slots = {slot["name"]: slot for slot in record["slots"]}
        for name in SLOT_ORDER:
            if name not in slots:
                assert row[name] == row[f"{name}_state"] == ""
                continue
            assert row[f"{name}_state"] == slots[name]["state"]
            value = slots[name]["value"]
            assert (row[name] == "") if value is None else (float(row[name]) == value)


def test_all_obtains_every_value_with_the_same_verdict(tree: dict) -> None:
    records = jsonl(run("check", "-q", "--all", "-f", "jsonl", *tree["checked"]).stdout)
    expected = reference(tree["checked"], all_values=True)
    first_failure = reference(tree["checked"])
    for record in records:
        assert (record["state"], record["result"]) == expected[record["path"]] == first_failure[record["path"]]
    short = next(r for r in records if r["path"].endswith("short.wav"))
    assert short["state"] == 111  # duration failed first ...
    assert all(slot["state"] != "not evaluated" for slot in short["slots"])  # ... yet all measured


def test_strict_fails_what_the_verdict_lets_through(tree: dict) -> None:
    lying = str(tree["root"] / "a/lying_rate.wav")
    silence = str(tree["root"] / "a/b/silence.wav")
    clean = str(tree["root"] / "a/clean.wav")
    plain = run("check", "-q", "-f", "jsonl", lying, clean)
    assert plain.returncode == 0, plain.stdout  # the library passes the lying header
    strict = run("check", "-q", "-f", "jsonl", "--strict", lying, clean)
    assert strict.returncode == 1
    verdicts = {r["path"]: r["strict"] for r in jsonl(strict.stdout)}
    assert verdicts[lying] == {"failed": True, "reasons": ["header: byte rate 24000 != 32000"]}
    assert verdicts[clean] == {"failed": False, "reasons": []}
    record = jsonl(run("check", "-q", "-f", "jsonl", "--strict", "--all", silence).stdout)[0]
    assert record["strict"]["reasons"] == ["not finite: telephony_border", "not finite: signal_noise"]


PCM_GUID = bytes.fromhex("0100000000001000800000aa00389b71")
FLOAT_GUID = bytes.fromhex("0300000000001000800000aa00389b71")


def wav_file(code: int, channels: int, rate: int, bits: int, byte_rate: int, block_align: int,
             sub_format: bytes | None = None, frames: int = 24000) -> bytes:
    """A RIFF/WAVE file with the given 'fmt ' fields (extensible when sub_format is given)."""
    fmt = struct.pack("<HHIIHH", code, channels, rate, byte_rate, block_align, bits)
    if sub_format is not None:
        fmt += struct.pack("<HHI", 22, bits, 0) + sub_format
    data = bytes(frames * max(block_align, 1))
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


@pytest.mark.parametrize("case, fields, header_reasons", [
    ("plain PCM", (1, 1, 8000, 16, 16000, 2), []),
    ("extensible PCM", (0xFFFE, 2, 8000, 16, 32000, 4, PCM_GUID), []),
    ("extensible float", (0xFFFE, 1, 8000, 32, 32000, 4, FLOAT_GUID),
     ["header: format code 65534 is not integer PCM"]),
    ("float", (3, 1, 8000, 32, 32000, 4), ["header: format code 3 is not integer PCM"]),
    ("block align lies", (1, 2, 8000, 16, 16000, 2), ["header: block align 2 != 4"]),
    ("byte rate and block align lie", (1, 1, 8000, 24, 8000, 2),
     ["header: byte rate 8000 != 16000", "header: block align 2 != 3"]),
], ids=lambda value: value if isinstance(value, str) else None)
def test_strict_header_reasons(tmp_path: Path, case: str, fields: tuple, header_reasons: list[str]) -> None:
    path = tmp_path / "file.wav"
    path.write_bytes(wav_file(*fields))
    record = jsonl(run("check", "-q", "-f", "jsonl", "--strict", "--all", str(path)).stdout)[0]
    reasons = [reason for reason in record["strict"]["reasons"] if reason.startswith("header:")]
    assert reasons == header_reasons, case
    assert record["state"] == reference([str(path)])[str(path)][0]


@pytest.mark.parametrize("case, args, status, stderr", [
    ("every file passed", ["{clean}"], 0, ""),
    ("a file failed", ["{clean}", "{short}"], 1, ""),
    ("unreadable outranks failed", ["{short}", "{dangling}"], 3, ""),
    ("missing path", ["{root}/missing.wav"], 3, ""),
    ("too large to decode", ["--decode", "--max-size", "1K", "{flac}"], 3, ""),
    ("a WAV is read as it goes, whatever its size", ["--max-size", "1K", "{clean}"], 0, ""),
    ("unknown option", ["--frobnicate", "{clean}"], 2, "frobnicate"),
    ("bad job count", ["-j", "0", "{clean}"], 2, ""),
    ("bad format", ["-f", "xml", "{clean}"], 2, ""),
    ("no path", [], 2, "no paths"),
    ("refused configuration", ["--config", "{refused}", "{clean}"], 2, "overload_border"),
    ("missing configuration", ["--config", "{root}/none.json", "{clean}"], 2, "refused (code 6: configuration not read)"),
])
def test_exit_status(tree: dict, tmp_path: Path, case: str, args: list[str], status: int, stderr: str) -> None:
    refused = tmp_path / "refused.json"
    refused.write_text('{ "version": "x", "signal_noise": { "value": 15 } }')
    names = {"root": tree["root"], "clean": tree["root"] / "a/clean.wav",
             "short": tree["root"] / "a/b/c/short.wav", "dangling": tree["root"] / "a/dangling.wav",
             "refused": refused, "flac": tmp_path / "speech.flac"}
    (tmp_path / "speech.flac").write_bytes(b"fLaC" + bytes(4096))
    result = run("check", "-q", *[arg.format(**names) for arg in args])
    assert result.returncode == status, (case, result.stdout, result.stderr)
    assert stderr in result.stderr, case


def test_too_large_and_no_recurse(tree: dict) -> None:
    # Only what is decoded is read whole, so only that is bounded by --max-size.
    flac = tree["root"].parent / "big.flac"
    flac.write_bytes(b"fLaC" + bytes(60000))
    big = jsonl(run("check", "-q", "-f", "jsonl", "--decode", "--max-size", "50K", str(flac)).stdout)
    assert big == [{"schema": 2, "path": str(flac),
                    "error": f"too large: {flac.stat().st_size} bytes, more than the size limit of 51200 bytes"}]
    top = jsonl(run("check", "-q", "-f", "jsonl", "--max-size", "50K", str(tree["root"] / "top.wav")).stdout)
    assert top[0]["state"] == 107  # a WAV is read as it goes: judged whatever its size
    shallow = jsonl(run("check", "-q", "-f", "jsonl", "--no-recurse", str(tree["root"])).stdout)
    assert [r["path"] for r in shallow] == [str(tree["root"] / "top.wav")]


def test_paths_from_a_list_and_standard_input(tree: dict, tmp_path: Path) -> None:
    wanted = [tree["checked"][0], str(tree["root"] / "a/b"), tree["checked"][0]]
    listing = tmp_path / "list.txt"
    listing.write_text("\n".join(wanted) + "\n\n")
    from_file = run("check", "-q", "-f", "jsonl", "--files-from", str(listing))
    from_stdin = run("check", "-q", "-f", "jsonl", "--files-from", "-", stdin="\n".join(wanted))
    assert from_file.stdout == from_stdin.stdout
    paths = [r["path"] for r in jsonl(from_file.stdout)]
    under_b = [p for p in tree["all"] if p.startswith(str(tree["root"] / "a/b") + "/")]
    assert paths == sorted(set([tree["checked"][0], *under_b]))


def test_control_characters_are_escaped_in_text_and_csv(tmp_path: Path) -> None:
    name = tmp_path / "line\nbreak,\x01.wav"
    shutil.copyfile(SAMPLES / "clean_16000_mono.wav", name)
    text = run("check", "-q", str(name)).stdout
    assert text.count("\n") == 1 and "line\\x0abreak,\\x01.wav: passed STATE_OK (0)" in text
    rows = list(csv.reader(io.StringIO(run("check", "-q", "-f", "csv", str(name)).stdout)))
    assert len(rows) == 2 and rows[1][0] == str(tmp_path / "line\\x0abreak,\\x01.wav")
    assert jsonl(run("check", "-q", "-f", "jsonl", str(name)).stdout)[0]["path"] == str(name)


def test_text_shows_units_and_marks_failures(tree: dict) -> None:
    line = run("check", "-q", str(tree["root"] / "a/b/c/short.wav")).stdout
    assert line.startswith(str(tree["root"] / "a/b/c/short.wav") + ": failed STATE_DURATION_FAILED (111); length ")
    assert " KiB ok" in line and "duration 1.5 s FAILED" in line


def test_summary_on_standard_error_and_as_json(tree: dict, tmp_path: Path) -> None:
    summary_file = tmp_path / "summary.json"
    result = run("check", "-j", "2", "--summary-json", str(summary_file), str(tree["root"]))
    summary = json.loads(summary_file.read_text())
    records = jsonl(run("check", "-q", "-f", "jsonl", str(tree["root"])).stdout)
    states: dict[str, int] = {}
    for record in records:
        if "state_name" in record:
            states[record["state_name"]] = states.get(record["state_name"], 0) + 1
    assert summary["files"] == len(tree["all"])
    assert summary["not_checked"] == len(tree["unreadable"])
    assert summary["states"] == states
    assert summary["exit_status"] == result.returncode == 3
    assert summary["jobs"] == 2
    audio = sum(slot["value"] for r in records for slot in r.get("slots", [])
                if slot["name"] == "duration" and slot["state"] != "not evaluated")
    assert summary["audio_seconds"] == pytest.approx(audio)
    assert f"sonara: {len(tree['all'])} files:" in result.stderr and "audio hours" in result.stderr
    quiet = run("check", "-q", str(tree["root"]))
    assert "audio hours" not in quiet.stderr


def test_version_and_help() -> None:
    version = run("--version")
    assert version.returncode == 0
    assert version.stdout.splitlines() == ["sonara 1.2.5", "libsonara 1.2.5, vendor kestro"]
    helped = run("check", "--help")
    assert helped.returncode == 0 and "--files-from" in helped.stdout and "Exit status" in helped.stdout


@pytest.mark.skipif(shutil.which("setpriv") is None, reason="needs setpriv to drop root")
def test_a_file_without_read_permission_is_reported() -> None:
    # Outside the test's own temporary folders, which only root may enter.
    top = Path(tempfile.mkdtemp(prefix="sonara-locked-"))
    try:
        top.chmod(0o755)
        shutil.copyfile(SAMPLES / "clean_16000_mono.wav", top / "ok.wav")
        shutil.copyfile(SAMPLES / "clean_16000_mono.wav", top / "locked.wav")
        (top / "ok.wav").chmod(0o644)
        (top / "locked.wav").chmod(0)
        user = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups") if os.geteuid() == 0 else ()
        result = run("check", "-q", "-f", "jsonl", "--config", str(CONFIGURATION), str(top), prefix=user)
        if result.returncode == 2 or not result.stdout:
            pytest.skip(f"could not run unprivileged: {result.stderr}")
        records = jsonl(result.stdout)
        assert [r["path"] for r in records] == [str(top / "locked.wav"), str(top / "ok.wav")]
        assert "Permission denied" in records[0]["error"] and records[1]["state"] == 0
        assert result.returncode == 3
    finally:
        shutil.rmtree(top)
