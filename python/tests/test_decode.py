"""decode=True: recordings that are not integer PCM WAV judged as the 16-bit WAV that
libsonara_convert decodes them to, integer PCM WAV judged as it is, in Session.check, scan and
the DataFrame, and the same records as `sonara check --decode`."""

from __future__ import annotations

import os
import struct
import subprocess
from pathlib import Path

import pytest

import sonara
from conftest import CONFIG, SAMPLES, wav

SPEECH = Path(__file__).resolve().parents[2] / "samples" / "clean_8000_stereo.wav"


def float_wav(source: Path, gain: float = 1.0) -> bytes:
    """The 16-bit samples of a canonical WAV as 32-bit float (format code 3), x / 32768 * gain."""
    data = source.read_bytes()
    channels, rate = struct.unpack_from("<HI", data, 22)
    samples = struct.unpack(f"<{(len(data) - 44) // 2}h", data[44:])
    floats = struct.pack(f"<{len(samples)}f", *(s * gain / 32768.0 for s in samples))
    return wav(channels, rate, 32, floats, format_code=3)


def encoded(kind: str, target: Path) -> Path:
    """A recording written by libsndfile (tests/cli/encode_fixture.cpp, built by CMake)."""
    program = os.environ.get("SONARA_ENCODE")
    if not program:
        pytest.skip("SONARA_ENCODE is not set (CTest sets it to the built encoder)")
    subprocess.run([program, kind, str(SPEECH), str(target)], check=True, timeout=60)
    return target


def test_integer_pcm_wav_is_judged_as_it_is() -> None:
    with sonara.Session(CONFIG) as session:
        for sample in SAMPLES:
            plain, decoded = session.check(sample), session.check(sample, decode=True)
            assert (decoded.source_format, decoded.converted) == (f"WAV PCM {'8' if '8bit' in sample.name else '16'}-bit", False)
            assert (plain.source_format, plain.converted) == (None, None)
            assert (decoded.state, decoded.passed, decoded.slots) == \
                (plain.state, plain.passed, plain.slots), sample.name
        # No content at all: the library's own answer (state 103), not a decoding error.
        empty = session.check(b"", decode=True)
        assert empty.state == sonara.State.STATE_CONTENT_FAILED and empty.slots == {}


def test_float_wav_is_judged_as_its_sixteen_bit_samples_and_clipped_above_full_scale() -> None:
    with sonara.Session(CONFIG) as session:
        original = session.check(SPEECH)
        level = session.check(float_wav(SPEECH), decode=True)
        assert (level.source_format, level.converted) == ("WAV float 32-bit", True)
        assert (level.state, level.passed, level.slots) == (original.state, original.passed, original.slots)
        assert session.check(float_wav(SPEECH)).slots != original.slots  # misread without decode
        loud = session.check(float_wav(SPEECH, gain=4.0), decode=True)
        assert loud.state == sonara.State.STATE_OVERLOAD_BORDER_FAILED and not loud.passed


def test_what_cannot_be_decoded_raises_with_libsndfiles_text() -> None:
    with sonara.Session(CONFIG) as session:
        with pytest.raises(sonara.DecodeError, match=r"^libsndfile: Format not recognised\.$"):
            session.check(b"this is not a recording\n" * 40, decode=True)
        with pytest.raises(sonara.DecodeError, match="would exceed the limit of 1000 bytes"):
            session.check(float_wav(SPEECH), decode=True, max_decoded_size=1000)
        # The session is unharmed and checks on.
        assert session.check(SPEECH, decode=True).state == sonara.State.STATE_OK


@pytest.fixture
def tree(tmp_path: Path) -> Path:
    root = tmp_path / "corpus"
    (root / "sub").mkdir(parents=True)
    (root / "speech.wav").write_bytes(SPEECH.read_bytes())
    (root / "float.wav").write_bytes(float_wav(SPEECH))
    encoded("flac16", root / "speech.flac")
    encoded("flac24", root / "sub" / "speech24.FLAC")
    encoded("vorbis", root / "sub" / "speech.oga")
    encoded("opus", root / "speech.opus")
    encoded("mp3", root / "sub" / "speech.Mp3")
    encoded("alaw", root / "alaw.wav")
    flac = (root / "speech.flac").read_bytes()
    (root / "corrupt.flac").write_bytes(flac[:8] + b"\xff" * 34 + flac[42:])
    (root / "notes.txt").write_text("not a recording")
    return root


def test_scan_decodes_and_the_frame_says_what_was_judged(tree: Path) -> None:
    assert [os.path.basename(p) for p in sonara.find_files(tree)] == ["alaw.wav", "float.wav", "speech.wav"]
    results = dict(sonara.scan(tree, CONFIG, jobs=2, decode=True))
    assert sorted(os.path.relpath(p, tree) for p in results) == sorted(
        ["alaw.wav", "corrupt.flac", "float.wav", "speech.flac", "speech.opus", "speech.wav",
         "sub/speech.Mp3", "sub/speech.oga", "sub/speech24.FLAC"])
    corrupt = results[str(tree / "corrupt.flac")]
    assert corrupt.error == "libsndfile: File contains data in an unimplemented format."
    assert corrupt.to_dict() == {"schema": 2, "path": str(tree / "corrupt.flac"), "error": corrupt.error}
    original = results[str(tree / "speech.wav")]
    expected = {"alaw.wav": "WAV A-law", "float.wav": "WAV float 32-bit", "speech.flac": "FLAC 16-bit",
                "speech.opus": "Opus", "sub/speech.Mp3": "MP3", "sub/speech.oga": "Ogg Vorbis",
                "sub/speech24.FLAC": "FLAC 24-bit"}
    for name, source_format in expected.items():
        result = results[str(tree / name)]
        assert (result.source_format, result.converted, result.state) == (source_format, True, sonara.State.STATE_OK)
        if "FLAC" in source_format or "float" in source_format:
            assert result.slots == original.slots, name  # lossless: the original's very values

    frame = sonara.to_dataframe(results.items())
    assert list(frame.columns)[-6:] == ["source_format", "converted", "declared_frames",
                                        "decoded_frames", "unmeasured", "error"]
    assert list(frame.columns) == sonara.dataframe_columns(decode=True)
    row = frame.set_index("path").loc[str(tree / "sub/speech24.FLAC")]
    assert (row["source_format"], bool(row["converted"])) == ("FLAC 24-bit", True)
    assert frame.set_index("path").loc[str(tree / "corrupt.flac")]["error"].startswith("libsndfile: ")
    assert "source_format" not in sonara.to_dataframe(sonara.scan(tree, CONFIG)).columns


def test_scan_gives_the_records_of_sonara_check_decode(tree: Path) -> None:
    program = os.environ.get("SONARA_CLI")
    if not program:
        pytest.skip("SONARA_CLI is not set (CTest sets it to the built sonara program)")
    run = subprocess.run([program, "check", "--decode", "--format", "jsonl", "--quiet", "--config",
                          str(CONFIG), str(tree)], capture_output=True, text=True, timeout=600)
    assert run.returncode == 3, run.stderr  # the corrupt FLAC
    ours = "".join(result.record_text for _, result in sonara.scan(tree, CONFIG, jobs=3, decode=True))
    assert ours == run.stdout
