"""sonara check on the inputs that once broke it: lists, signals, job counts, hostile headers and
names, and outputs that can't be written."""
from __future__ import annotations

import csv
import io
import json
import os
import resource
import shutil
import signal
import struct
import subprocess
import time
from pathlib import Path

import pytest

SONARA = os.environ["SONARA"]
SOURCE = Path(os.environ["SONARA_SOURCE_DIR"])
SANITIZED = os.environ.get("SONARA_SANITIZE", "OFF").upper() in ("ON", "1", "TRUE")
CLEAN = SOURCE / "samples" / "clean_16000_mono.wav"
SHORT = SOURCE / "samples" / "too_short_16000_mono.wav"


def run(*args: str, stdin: bytes | None = None, **kwargs) -> subprocess.CompletedProcess[bytes]:
    return subprocess.run([SONARA, "check", *args], input=stdin, capture_output=True, timeout=300, **kwargs)


def records(stdout: bytes) -> list[dict]:
    return [json.loads(line) for line in stdout.decode("utf-8").splitlines()]


def chunk(name: bytes, payload: bytes, pad: bool = True) -> bytes:
    body = name + struct.pack("<I", len(payload)) + payload
    return body + (b"\0" if pad and len(payload) % 2 else b"")


def fmt_fields(byte_rate: int, code: int = 1) -> bytes:
    return struct.pack("<HHIIHH", code, 1, 16000, byte_rate, 2, 16)


def riff(*chunks: bytes) -> bytes:
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


SAMPLES = CLEAN.read_bytes()[44:]  # 3 s of 16-bit mono speech at 16000 Hz
HONEST = 32000
LYING = HONEST * 10  # reads as a tenth of the duration


def cbsize_skip() -> bytes:
    """An 18-byte 'fmt ' whose cbSize skips the header of a chunk that holds a lying 'fmt ': a
    plain chunk walk steps over that chunk, the library's walk lands inside it."""
    lying = chunk(b"fmt ", fmt_fields(LYING))
    honest = chunk(b"fmt ", fmt_fields(HONEST) + struct.pack("<H", 8))
    return riff(honest, chunk(b"junk", lying), chunk(b"data", SAMPLES))


def unpadded_odd_chunk() -> bytes:
    """A size-1 chunk without its pad byte: the library reads the next chunk one byte earlier
    than a walk that always skips the pad, and that chunk is a lying 'fmt '."""
    return riff(chunk(b"fmt ", fmt_fields(HONEST)), chunk(b"odd ", b"x", pad=False),
                chunk(b"fmt ", fmt_fields(LYING)), chunk(b"data", SAMPLES))


def two_formats() -> bytes:
    """A PCM 'fmt ' followed by a float one: the library reads the last."""
    return riff(chunk(b"fmt ", fmt_fields(HONEST)), chunk(b"fmt ", fmt_fields(HONEST, code=3)),
                chunk(b"data", SAMPLES))


@pytest.mark.parametrize("make, reason", [
    (cbsize_skip, f"header: byte rate {LYING} != {HONEST}"),
    (unpadded_odd_chunk, f"header: byte rate {LYING} != {HONEST}"),
    (two_formats, "header: format code 3 is not integer PCM"),
])
def test_strict_describes_the_fmt_chunk_the_library_reads(tmp_path: Path, make, reason: str) -> None:
    path = tmp_path / "hostile.wav"
    path.write_bytes(make())
    result = run("-q", "-f", "jsonl", "--strict", "--all", str(path))
    record = records(result.stdout)[0]
    assert reason in record["strict"]["reasons"], record
    assert record["strict"]["failed"] and result.returncode == 1
    if "byte rate" in reason:
        duration = {slot["name"]: slot for slot in record["slots"]}["duration"]["value"]
        assert duration == pytest.approx(0.3)  # what the library judged: the lying header


def test_nul_separated_lists_and_comment_lines(tmp_path: Path) -> None:
    names = [tmp_path / "a b.wav", tmp_path / "#hash.wav", tmp_path / "line\nbreak.wav"]
    for name in names:
        shutil.copyfile(CLEAN, name)
    nul = b"\0".join(os.fsencode(name) for name in names) + b"\0"
    from_stdin = run("-q", "-f", "jsonl", "--files0-from", "-", stdin=nul)
    assert from_stdin.returncode == 0, from_stdin.stderr
    assert [r["path"] for r in records(from_stdin.stdout)] == sorted(str(n) for n in names)
    # The same NUL list read as lines is refused, never merged into one path.
    merged = run("-q", "--files-from", "-", stdin=nul)
    assert merged.returncode == 2 and b"NUL" in merged.stderr and merged.stdout == b""
    # A list file named as a path: one path a line, blank and '#' lines skipped.
    listing = tmp_path / "retakes.lst"
    listing.write_text(f"# retakes\n\n{names[0]}\r\n{tmp_path / 'missing.wav'}\n")
    listed = run("-q", "-f", "jsonl", str(listing))
    assert [r["path"] for r in records(listed.stdout)] == [str(names[0]), str(tmp_path / "missing.wav")]
    assert listed.returncode == 3  # the missing file is a record with its error


def test_nothing_to_check_is_not_a_pass(tmp_path: Path) -> None:
    (tmp_path / "notes.txt.bak").write_text("no recordings here")
    result = run(str(tmp_path))
    assert result.returncode == 3 and b"no recordings found" in result.stderr


@pytest.mark.parametrize("value, accepted", [
    ("-1", False), ("18446744073709551616", False), ("-18446744073709551615", False), ("1.5G", False),
    ("16E", False), ("abc", False), ("", False), ("0", True), ("4G", True), ("512KiB", True),
    ("16777215T", True),
])
def test_max_size_values(value: str, accepted: bool) -> None:
    result = run("-q", "--max-size", value, str(CLEAN))
    if accepted:
        assert result.returncode in (0, 3), result.stderr
    else:
        assert result.returncode == 2 and b"--max-size" in result.stderr, result.stderr
        assert b"{" not in result.stderr  # plain words, not a validator's dump


def test_outputs_that_cannot_be_written_fail_the_run(tmp_path: Path) -> None:
    summary = run("-q", "--summary-json", "/dev/full", str(CLEAN))
    assert summary.returncode == 3 and b"cannot write the summary" in summary.stderr
    with open("/dev/full", "wb") as full:
        result = subprocess.run([SONARA, "check", "-q", str(CLEAN)], stdout=full, stderr=subprocess.PIPE, timeout=60)
    assert result.returncode == 3 and b"writing the results failed" in result.stderr


def test_csv_cells_are_never_formulas(tmp_path: Path) -> None:
    names = ["=HYPERLINK(1).wav", "+cmd.wav", "@sum.wav", "-x.wav"]
    for name in names:
        shutil.copyfile(CLEAN, tmp_path / name)
    configuration = tmp_path / "config.json"
    text = json.loads((SOURCE / "config" / "cv_configuration.json").read_text())
    text["version"] = "=1+1"
    configuration.write_text(json.dumps(text))
    out = run("-q", "-f", "csv", "--config", str(configuration), *(str(tmp_path / n) for n in names), cwd=tmp_path)
    rows = list(csv.DictReader(io.StringIO(out.stdout.decode())))
    for row in rows:
        assert row["config_version"] == "'=1+1"
        assert row["path"][0] not in "=+-@"
        assert float(row["length"]) > 0 and row["result"] == "true"  # numbers stay numbers
    relative = run("-q", "-f", "csv", "--", *names, cwd=tmp_path)
    cells = [row["path"] for row in csv.DictReader(io.StringIO(relative.stdout.decode()))]
    assert cells == sorted("'" + name for name in names)


def test_a_path_that_is_not_utf8_keeps_its_bytes(tmp_path: Path) -> None:
    name = os.fsencode(tmp_path) + b"/caf\xe9 \xff.wav"
    shutil.copyfile(CLEAN, name)
    record = records(run("-q", "-f", "jsonl", os.fsdecode(name)).stdout)[0]
    assert os.fsencode(record["path"]) == name and record["state"] == 0
    text = run("-q", os.fsdecode(name)).stdout
    assert b"caf\\xe9 \\xff.wav: passed" in text


@pytest.fixture(scope="module")
def many(tmp_path_factory: pytest.TempPathFactory) -> Path:
    root = tmp_path_factory.mktemp("many")
    for number in range(400):
        os.link(CLEAN if number % 3 else SHORT, root / f"take_{number:04}.wav")
    return root


@pytest.mark.parametrize("signal_number, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
@pytest.mark.parametrize("output", ["jsonl", "csv"])
def test_a_signal_leaves_whole_records(many: Path, signal_number: int, status: int, output: str) -> None:
    process = subprocess.Popen([SONARA, "check", "-q", "-j", "2", "-f", output, str(many)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert process.stdout is not None
    first = process.stdout.readline()
    time.sleep(0.05)
    process.send_signal(signal_number)
    rest = process.stdout.read()  # the same buffered reader: nothing it read ahead is lost
    process.wait(timeout=60)
    assert process.returncode == status
    out = (first + rest).decode()
    assert out.endswith("\n")
    lines = out.splitlines()
    assert 1 <= len(lines) < 401 + (output == "csv")
    if output == "jsonl":
        assert all(json.loads(line)["path"].startswith(str(many)) for line in lines)
    else:
        rows = list(csv.reader(io.StringIO(out)))
        assert all(len(row) == len(rows[0]) for row in rows)


@pytest.mark.skipif(SANITIZED, reason="by design: AddressSanitizer reserves more address space than the limit allows")
def test_a_huge_job_count_under_an_address_space_limit(many: Path) -> None:
    def limit() -> None:
        resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))

    result = run("-q", "-j", "100000", "-f", "jsonl", str(many), preexec_fn=limit)
    assert result.returncode == 1, result.stderr  # the short files fail, nothing aborts
    assert len(records(result.stdout)) == 400
    assert b"going on with" in result.stderr
