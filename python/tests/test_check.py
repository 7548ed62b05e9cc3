"""Checks through the package against the C interface's own answers, the forms a source can
take, and the JSON Lines object of the results schema."""

from __future__ import annotations

import io
import json
import math
from pathlib import Path

import pytest

import sonara
from conftest import CONFIG, SAMPLES, byte_built_cases, c_reference, wav


def same_value(a: float, b: float) -> bool:
    return (math.isnan(a) and math.isnan(b)) or a == b


def assert_matches_reference(result: sonara.Result, reference) -> None:
    passed, state, slots = reference
    assert (result.passed, int(result.state)) == (passed, state)
    assert list(result.slots) == [slot[0] for slot in slots]
    for name, enable, slot_state, value, text in slots:
        slot = result.slots[name]
        assert slot.enabled == enable, name
        assert int(slot.state) == slot_state, name
        assert same_value(slot.value, value), (name, slot.value, value)
        if text is None or name != "signal_noise":
            assert slot.channels is None
        else:
            expected = tuple(float(part) for part in text.split(", "))
            assert len(slot.channels) == len(expected)
            assert all(same_value(a, b) for a, b in zip(slot.channels, expected)), (slot.channels, text)


@pytest.mark.parametrize("mode", ["check", "all"])
def test_every_sample_and_byte_built_file_matches_the_c_interface(mode: str, fixture_dir: Path) -> None:
    files = SAMPLES + sorted(fixture_dir.iterdir())
    # One session for the whole run in both, so state 103 after another file is covered too.
    reference = c_reference(mode, files)
    with sonara.Session(CONFIG) as session:
        check = session.check_all if mode == "all" else session.check
        for path in files:
            result = check(path)
            assert result.path == str(path)
            assert_matches_reference(result, reference[str(path)])


def test_the_samples_cover_every_kind_of_verdict() -> None:
    # Guards the comparison above against a sample set that stopped exercising the pipeline.
    with sonara.Session(CONFIG) as session:
        states = {session.check(path).state for path in SAMPLES}
    assert {sonara.State.STATE_OK, sonara.State.STATE_SIGNAL_NOISE_FAILED,
            sonara.State.STATE_VOICE_DURATION_FAILED, sonara.State.STATE_DEPTH_FAILED} <= states


def test_every_form_of_source_gives_the_same_result(tmp_path: Path) -> None:
    data = (SAMPLES[0]).read_bytes()
    path = tmp_path / "copy.wav"
    path.write_bytes(data)
    offset = io.BytesIO(b"JUNK" + data)
    offset.seek(4)
    with sonara.Session(CONFIG) as session:
        expected = session.check(data)
        sources = {
            "bytearray": bytearray(data),
            "read-only memoryview": memoryview(data),
            "memoryview slice": memoryview(b"xx" + data + b"yy")[2:-2],
            "non-contiguous memoryview": memoryview(bytes(b for pair in zip(data, data) for b in pair))[::2],
            "memoryview of shorts": memoryview(bytearray(data) + (b"\0" if len(data) % 2 else b"")).cast("h"),
            "str path": str(path),
            "Path": path,
            "open file": path.open("rb"),
            "BytesIO read from its position": offset,
        }
        for label, source in sources.items():
            result = session.check(source)
            if label == "memoryview of shorts" and len(data) % 2:
                continue  # padded by one byte: a different file
            assert (result.state, result.passed, result.slots) == \
                (expected.state, expected.passed, expected.slots), label
        sources["open file"].close()
        assert session.check(path).path == str(path)
        assert session.check(data).path is None
        named = session.check(data, path="archive.tar/member.wav")
        assert named.path == named.to_dict()["path"] == "archive.tar/member.wav"
        assert session.check_all(path, path=Path("other.wav")).path == "other.wav"
        with pytest.raises(TypeError, match="binary mode"):
            with path.open("r", encoding="latin-1") as text_file:
                session.check(text_file)
        with pytest.raises(TypeError):
            session.check(42)  # type: ignore[arg-type]


def test_empty_content_reports_no_slots_of_the_previous_file() -> None:
    with sonara.Session(CONFIG) as session:
        assert session.check(SAMPLES[0]).slots
        for empty in (b"", bytearray(), memoryview(b"")):
            result = session.check(empty)
            assert result.state == sonara.State.STATE_CONTENT_FAILED and not result.passed
            assert dict(result.slots) == {} and result.to_dict()["slots"] == []


def test_to_dict_is_the_json_lines_object(fixture_dir: Path) -> None:
    with sonara.Session(CONFIG) as session:
        noisy = session.check(Path(SAMPLES[0]).parent / "noisy_right_channel_8000_stereo.wav")
        silent = session.check(fixture_dir / "silent_stereo.wav")
        session.enable("overload_border", False)
        session.enable("depth", False)
        switched = session.check(fixture_dir / "voice_8000_mono.wav")
        version, digest = session.version, session.hash

    record = noisy.to_dict()
    assert list(record) == ["schema", "path", "result", "state", "state_name", "config_version",
                            "config_hash", "slots"]
    assert record["schema"] == 1 and record["state"] == 106 and record["result"] is False
    assert record["state_name"] == "STATE_SIGNAL_NOISE_FAILED"
    assert (record["config_version"], record["config_hash"]) == (version, digest) == ("2026.12", digest)
    assert len(digest) == 64 and int(digest, 16) >= 0
    assert [slot["name"] for slot in record["slots"]] == list(sonara.SLOT_NAMES)
    units = {slot["name"]: slot["unit"] for slot in record["slots"]}
    assert units == {"length": "KiB", "sample_rate": "Hz", "voice_duration": "s", "overload": None,
                     "telephony_border": "dB", "channels": "channels", "depth": "bits",
                     "duration": "s", "signal_noise": "dB"}
    noise = record["slots"][-1]
    assert list(noise) == ["name", "enabled", "state", "value", "unit", "channels"]
    assert noise["state"] == "failed" and len(noise["channels"]) == 2
    # The per-channel values come from the library's text, six decimals.
    assert noise["value"] == pytest.approx(min(noise["channels"]), abs=1e-6) and noise["channels"][1] < 15
    assert all("channels" not in slot for slot in record["slots"][:-1])
    assert json.loads(json.dumps(record, allow_nan=False)) == record

    # A silent recording's signal-to-noise is not a number: null with its special text.
    silent_noise = silent.to_dict()["slots"][-1]
    assert silent_noise["value"] is None and silent_noise["special"] == "nan"
    assert silent_noise["channels"] == [None, None]
    json.dumps(silent.to_dict(), allow_nan=False)

    # Slots the check never reached, and a switched-off check.
    depth_failed = sonara.Session(CONFIG)
    with depth_failed:
        cut = depth_failed.check(Path(SAMPLES[0]).parent / "depth_8bit_8000_mono.wav").to_dict()
    states = {slot["name"]: slot["state"] for slot in cut["slots"]}
    assert states["depth"] == "failed" and states["signal_noise"] == "not evaluated"
    # A switched-off header check still records its value and passes; the overload measurement
    # is skipped altogether.
    depth, overload = switched.slots["depth"], switched.slots["overload"]
    assert (depth.enabled, depth.state, depth.value) == (False, sonara.SlotState.PASSED, 16.0)
    assert (overload.enabled, overload.state) == (False, sonara.SlotState.NOT_EVALUATED)


def test_paths_that_are_not_utf8_are_written_with_replacement_characters(tmp_path: Path) -> None:
    raw = tmp_path.as_posix().encode() + b"/caf\xe9.wav"
    with open(raw, "wb") as file:
        file.write(SAMPLES[0].read_bytes())
    with sonara.Session(CONFIG) as session:
        result = session.check(raw.decode("utf-8", "surrogateescape"))
    assert result.to_dict()["path"].endswith("caf\ufffd.wav")
    json.dumps(result.to_dict()).encode("utf-8")


def test_switches_and_the_sound_name_reach_the_library() -> None:
    sample = SAMPLES[0].parent / "noisy_right_channel_8000_stereo.wav"
    with sonara.Session(CONFIG) as session:
        assert session.check(sample).state == sonara.State.STATE_SIGNAL_NOISE_FAILED
        session.enable("signal_noise", False)
        off = session.check(sample)
        # Switching signal-to-noise off also stops voice duration: nothing left to fail.
        assert off.state == sonara.State.STATE_OK and off.passed
        assert off.slots["signal_noise"].state == sonara.SlotState.NOT_EVALUATED
        session.enable("signal_noise")
        assert session.check(sample).state == sonara.State.STATE_SIGNAL_NOISE_FAILED
        with pytest.raises(ValueError, match="overload_border"):
            session.enable("overload")
        session.set_sound_name("first name")
        session.set_sound_name("second name")
        assert session.check(sample).state == sonara.State.STATE_SIGNAL_NOISE_FAILED
        assert session.library_version == (1, 2, 5) and session.library_vendor == "kestro"


def test_a_directory_stands_for_its_configuration_file_and_text_works_alike() -> None:
    with sonara.Session(CONFIG.parent) as by_dir, sonara.Session.from_text(CONFIG.read_text()) as by_text:
        assert by_dir.hash == by_text.hash and by_dir.version == by_text.version == "2026.12"
        data = SAMPLES[0].read_bytes()
        assert by_dir.check(data) == by_text.check(data)


def test_check_all_keeps_the_verdict_but_measures_past_the_first_failure(fixture_dir: Path) -> None:
    sample = SAMPLES[0].parent / "too_short_16000_mono.wav"
    with sonara.Session(CONFIG) as session:
        try:
            full = session.check_all(sample)
        except sonara.SonaraError as error:
            pytest.skip(str(error))
        stopped = session.check(sample)
    assert (full.state, full.passed) == (stopped.state, stopped.passed) == (sonara.State.STATE_DURATION_FAILED, False)
    assert stopped.slots["signal_noise"].state == sonara.SlotState.NOT_EVALUATED
    assert full.slots["signal_noise"].state != sonara.SlotState.NOT_EVALUATED
    for name, slot in stopped.slots.items():
        if slot.state != sonara.SlotState.NOT_EVALUATED:
            assert same_value(full.slots[name].value, slot.value), name
