"""Checks through the package against the C interface's own answers, the forms a source can
take, and the records the archive engine writes for the same files."""

from __future__ import annotations

import io
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
        if slot_state == sonara.SlotState.NOT_EVALUATED:
            assert slot.value is None, name  # the library's leftover there was never measured
        else:
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
        assert named.path == "archive.tar/member.wav"
        with pytest.raises(ValueError, match="not a record of the archive engine"):
            named.to_dict()  # the engine writes records; a check of content has none
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
            assert dict(result.slots) == {}


def test_scan_records_are_the_engines_json_lines_and_agree_with_session_check(fixture_dir: Path) -> None:
    noisy_path = Path(SAMPLES[0]).parent / "noisy_right_channel_8000_stereo.wav"
    depth_path = Path(SAMPLES[0]).parent / "depth_8bit_8000_mono.wav"
    silent_path = fixture_dir / "silent_stereo.wav"
    records = {path: result for path, result in
               sonara.scan([noisy_path, depth_path, silent_path], CONFIG, jobs=1)}
    noisy, cut, silent = (records[str(path)] for path in (noisy_path, depth_path, silent_path))
    with sonara.Session(CONFIG) as session:
        version, digest = session.version, session.hash
        for path, result in records.items():
            alone = session.check(path)
            assert (alone.state, alone.passed, alone.slots) == (result.state, result.passed, result.slots)
        session.enable("overload_border", False)
        session.enable("depth", False)
        switched = session.check(fixture_dir / "voice_8000_mono.wav")

    record = noisy.to_dict()
    assert list(record)[:8] == ["schema", "path", "result", "state", "state_name", "config_version",
                                "config_hash", "slots"]
    assert record["schema"] == sonara.SCHEMA == 2 and record["state"] == 106 and record["result"] is False
    assert record["state_name"] == "STATE_SIGNAL_NOISE_FAILED"
    assert (record["config_version"], record["config_hash"]) == (version, digest) == ("2026.12", digest)
    assert len(digest) == 64 and int(digest, 16) >= 0
    assert [slot["name"] for slot in record["slots"]] == list(sonara.SLOT_NAMES)
    units = {slot["name"]: slot["unit"] for slot in record["slots"]}
    assert units == dict(sonara.SLOT_UNITS) == {
        "length": "KiB", "sample_rate": "Hz", "voice_duration": "s", "overload": None,
        "telephony_border": "dB", "channels": "channels", "depth": "bits", "duration": "s",
        "signal_noise": "dB"}
    noise = record["slots"][-1]
    assert noise["state"] == "failed" and len(noise["channels"]) == 2
    assert noise["value"] == pytest.approx(min(noise["channels"]), abs=1e-6) and noise["channels"][1] < 15
    assert noisy.slots["signal_noise"].channels == tuple(noise["channels"])
    assert noisy.record is not None and noisy.to_dict() == dict(noisy.record)

    # A silent recording's signal-to-noise is not a number: null with its special text, NaN here.
    silent_noise = silent.to_dict()["slots"][-1]
    assert silent_noise["value"] is None and silent_noise["special"] == "nan"
    assert silent_noise["channels"] == [None, None]
    assert math.isnan(silent.slots["signal_noise"].value)

    # Slots the check never reached are null in the record and None here, never 0.
    states = {slot["name"]: (slot["state"], slot["value"]) for slot in cut.to_dict()["slots"]}
    assert states["depth"][0] == "failed" and states["signal_noise"] == ("not evaluated", None)
    assert cut.slots["signal_noise"].value is None and cut.slots["depth"].value == 8
    # A switched-off header check still records its value and passes; the overload measurement
    # is skipped altogether, so it has no value.
    depth, overload = switched.slots["depth"], switched.slots["overload"]
    assert (depth.enabled, depth.state, depth.value) == (False, sonara.SlotState.PASSED, 16.0)
    assert (overload.enabled, overload.state, overload.value) == (False, sonara.SlotState.NOT_EVALUATED, None)


def test_results_of_schema_1_files_are_still_read() -> None:
    old = {"schema": 1, "path": "old.wav", "result": False, "state": 108,
           "state_name": "STATE_SAMPLE_RATE_FAILED", "config_version": "1", "config_hash": "ab",
           "slots": [{"name": "length", "enabled": True, "state": "passed", "value": 3.5, "unit": "KiB"},
                     {"name": "sample_rate", "enabled": True, "state": "failed", "value": 7000.0, "unit": "Hz"},
                     {"name": "signal_noise", "enabled": True, "state": "not evaluated", "value": 0.0,
                      "unit": "dB"},
                     {"name": "overload", "enabled": True, "state": "passed", "value": None, "unit": None}]}
    result = sonara.Result.from_dict(old)
    assert result.state == sonara.State.STATE_SAMPLE_RATE_FAILED and not result.passed and not result.result
    assert result.slots["sample_rate"].value == 7000.0
    assert result.slots["signal_noise"].value is None  # schema 1's leftover 0.0 is no measurement
    assert math.isnan(result.slots["overload"].value)  # schema 1's null: a value that was not finite
    assert result.strict is None and result.details is None
    error = sonara.Result.from_dict({"schema": 1, "path": "gone.wav", "error": "No such file or directory"})
    assert error.error == "No such file or directory" and error.state is None and not error.passed
    for schema in (0, 3, None):
        with pytest.raises(ValueError, match="schema"):
            sonara.Result.from_dict({"schema": schema, "path": "x", "error": "y"})


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
