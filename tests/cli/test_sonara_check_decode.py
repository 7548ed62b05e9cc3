"""sonara check --decode end to end over recordings encoded by the test with libsndfile.

Integer PCM WAV must be judged exactly as without --decode; other formats are judged as the
16-bit WAV they decode to; which files a folder walk picks up depends on --decode; a file that
can't be decoded is an error record with libsndfile's text.
"""
from __future__ import annotations

import csv
import io
import json
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

SONARA = os.environ["SONARA"]
ENCODE = os.environ["SONARA_ENCODE"]
SOURCE = Path(os.environ["SONARA_SOURCE_DIR"])
SAMPLES = SOURCE / "samples"
CONFIGURATION = SOURCE / "config" / "cv_configuration.json"
SPEECH = SAMPLES / "clean_8000_stereo.wav"


def run(*args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([SONARA, "check", "-q", "-c", str(CONFIGURATION), *args],
                          capture_output=True, text=True, timeout=120)


def jsonl(stdout: str) -> dict[str, dict]:
    return {record["path"]: record for record in map(json.loads, stdout.splitlines())}


def encode(kind: str, target: Path, source: Path = SPEECH, gain: float | None = None) -> Path:
    args = [ENCODE, kind, str(source), str(target), *([str(gain)] if gain is not None else [])]
    subprocess.run(args, check=True, timeout=60)
    return target


@pytest.fixture(scope="module")
def tree(tmp_path_factory: pytest.TempPathFactory) -> dict:
    root = tmp_path_factory.mktemp("decode")
    (root / "sub").mkdir()
    pcm = [root / "speech.wav", root / "sub" / "clipped.WAV", root / "pcm_named.mp3"]
    shutil.copyfile(SPEECH, pcm[0])
    shutil.copyfile(SAMPLES / "clipped_44100_mono.wav", pcm[1])
    shutil.copyfile(SPEECH, pcm[2])  # integer PCM whatever its name says
    converted = {
        encode("flac16", root / "speech.flac"): "FLAC 16-bit",
        encode("flac24", root / "sub" / "speech24.FLAC"): "FLAC 24-bit",
        encode("flac16", root / "flac_named.wav"): "FLAC 16-bit",  # content decides, not the name
        encode("vorbis", root / "speech.ogg"): "Ogg Vorbis",
        encode("vorbis", root / "speech.Oga"): "Ogg Vorbis",
        encode("opus", root / "speech.opus"): "Opus",
        encode("mp3", root / "sub" / "speech.MP3"): "MP3",
        encode("alaw", root / "alaw.wav"): "WAV A-law",
        encode("ulaw", root / "ulaw.wav"): "WAV \u00b5-law",
        encode("float", root / "float.wav"): "WAV float 32-bit",
        encode("float", root / "loud_float.wav", gain=4.0): "WAV float 32-bit",
    }
    corrupt = root / "corrupt.flac"
    flac = (root / "speech.flac").read_bytes()
    corrupt.write_bytes(flac[:8] + b"\xff" * 34 + flac[42:])  # STREAMINFO damaged
    (root / "notes.txt").write_text("not a recording")
    (root / "speech.aiff").write_bytes(b"not looked at: not a decoded extension")
    return {"root": root, "pcm": [str(p) for p in pcm],
            "converted": {str(p): name for p, name in converted.items()}, "corrupt": str(corrupt)}


def without_decoding_fields(record: dict) -> dict:
    return {key: value for key, value in record.items() if key not in ("source_format", "converted")}


def test_the_walk_looks_at_decodable_extensions_only_with_decode(tree: dict) -> None:
    root = tree["root"]
    plain = jsonl(run("-f", "jsonl", str(root)).stdout)
    assert sorted(plain) == sorted(p for p in [*tree["pcm"], *tree["converted"]]
                                   if p.lower().endswith(".wav"))
    decoded = run("-f", "jsonl", "--decode", str(root))
    assert decoded.returncode == 3, decoded.stderr  # the corrupt FLAC
    assert sorted(jsonl(decoded.stdout)) == sorted([*tree["pcm"], *tree["converted"], tree["corrupt"]])


def test_integer_pcm_wav_is_judged_exactly_as_without_decode(tree: dict) -> None:
    plain = jsonl(run("-f", "jsonl", "--all", "--strict", *tree["pcm"]).stdout)
    decoded = jsonl(run("-f", "jsonl", "--all", "--strict", "--decode", *tree["pcm"]).stdout)
    for path in tree["pcm"]:
        assert decoded[path]["converted"] is False
        assert decoded[path]["source_format"] == "WAV PCM 16-bit"
        assert without_decoding_fields(decoded[path]) == plain[path]
        assert "source_format" not in plain[path]
    # Float WAV without --decode is misread (and refused by --strict); with it, judged decoded.
    float_wav = str(tree["root"] / "float.wav")
    misread = jsonl(run("-f", "jsonl", "--strict", float_wav).stdout)[float_wav]
    assert misread["strict"]["reasons"] == ["header: format code 3 is not integer PCM"]


def test_converted_files_are_judged_as_their_sixteen_bit_wav(tree: dict) -> None:
    records = jsonl(run("-f", "jsonl", "--all", "--decode", *tree["converted"], tree["pcm"][0]).stdout)
    original = records[tree["pcm"][0]]
    for path, source_format in tree["converted"].items():
        record = records[path]
        assert (record["source_format"], record["converted"]) == (source_format, True), path
        slots = {slot["name"]: slot for slot in record["slots"]}
        assert slots["depth"]["value"] == 16 and slots["sample_rate"]["value"] == 8000
        if "loud" in path:
            continue
        assert record["state"] == 0, (path, record)
        if source_format.startswith("FLAC") or "float" in source_format:
            # Lossless: the very slots of the 16-bit original, the length included.
            assert record["slots"] == original["slots"], path
    loud = records[str(tree["root"] / "loud_float.wav")]
    assert loud["state"] == 113 and not loud["result"]  # clipped at full scale: overload fails
    # The length slot is the KiB of the WAV judged, not of the compressed file.
    flac = records[str(tree["root"] / "speech.flac")]
    length = {slot["name"]: slot for slot in flac["slots"]}["length"]["value"]
    assert length == SPEECH.stat().st_size / 1024
    assert (tree["root"] / "speech.flac").stat().st_size < SPEECH.stat().st_size


def test_an_undecodable_file_is_an_error_record_with_libsndfiles_text(tree: dict) -> None:
    records = jsonl(run("-f", "jsonl", "--decode", tree["corrupt"]).stdout)
    assert records[tree["corrupt"]] == {
        "schema": 2, "path": tree["corrupt"],
        "error": "libsndfile: File contains data in an unimplemented format."}
    text = run("--decode", tree["corrupt"])
    assert text.returncode == 3
    assert text.stdout == f"{tree['corrupt']}: error: libsndfile: File contains data in an unimplemented format.\n"


def test_max_size_bounds_the_decoded_wav(tree: dict) -> None:
    flac = tree["root"] / "speech.flac"
    limit = flac.stat().st_size + 1000  # the file fits, its decoded WAV does not
    result = run("-f", "jsonl", "--decode", "--max-size", str(limit), str(flac))
    assert result.returncode == 3
    assert jsonl(result.stdout)[str(flac)]["error"] == f"the decoded WAV would exceed the limit of {limit} bytes"


def test_csv_and_text_say_what_was_judged(tree: dict) -> None:
    paths = [tree["pcm"][0], str(tree["root"] / "alaw.wav"), tree["corrupt"]]
    rows = list(csv.DictReader(io.StringIO(run("-f", "csv", "--strict", "--decode", *paths).stdout)))
    assert list(rows[0])[-8:] == ["strict_failed", "strict_reasons", "source_format", "converted",
                                  "declared_frames", "decoded_frames", "unmeasured", "error"]
    by_path = {row["path"]: row for row in rows}
    assert (by_path[paths[0]]["source_format"], by_path[paths[0]]["converted"]) == ("WAV PCM 16-bit", "false")
    assert (by_path[paths[1]]["source_format"], by_path[paths[1]]["converted"]) == ("WAV A-law", "true")
    assert by_path[paths[2]]["source_format"] == "" and by_path[paths[2]]["error"].startswith("libsndfile: ")
    plain_columns = next(csv.reader(io.StringIO(run("-f", "csv", paths[0]).stdout)))
    assert "source_format" not in plain_columns and "converted" not in plain_columns
    line = run("--decode", paths[1]).stdout
    assert line.rstrip("\n").endswith("; source WAV A-law, converted")
    assert "--decode" in subprocess.run([SONARA, "check", "--help"], capture_output=True, text=True).stdout


def test_a_decompression_bomb_is_judged_on_its_true_length_within_bounded_memory(tmp_path: Path) -> None:
    bomb = tmp_path / "bomb.flac"
    subprocess.run([ENCODE, "silence-flac", "300", "8", "48000", str(bomb)], check=True, timeout=300)
    full_size = 44 + 300 * 48000 * 8 * 2
    assert bomb.stat().st_size < 2 << 20 < full_size
    for extra in ([], ["--all"]):
        with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
            child = subprocess.Popen([SONARA, "check", "-q", "-f", "jsonl", "--log-level", "4", "--decode", *extra,
                                      str(bomb)],
                                     stdout=out_file, stderr=err_file)
            _, status, usage = os.wait4(child.pid, 0)  # this child's own peak, no other's
            child.returncode = os.waitstatus_to_exitcode(status)
            out_file.seek(0)
            err_file.seek(0)
            out, err = out_file.read(), err_file.read()
        record = json.loads(out)
        assert child.returncode == 1, err
        assert (record["state"], record["converted"], record["decoded_frames"]) == (110, True, 300 * 48000)
        length = {slot["name"]: slot for slot in record["slots"]}["length"]
        assert (length["state"], length["value"]) == ("failed", full_size / 1024)  # the whole WAV's
        assert "counted, not judged" in record["unmeasured"] and b"counted, not judged" in err
        assert "details" not in record  # no value stands for samples that were never held
        if os.environ.get("SONARA_SANITIZE", "OFF").upper() not in ("ON", "1", "TRUE"):
            assert usage.ru_maxrss < 256 * 1024, usage.ru_maxrss  # KiB: the budget and a working set
