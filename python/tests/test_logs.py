"""The library's log lines: in Python's logging while capture_logs is active, each naming the
file it is about, and otherwise only the errors, on standard error, as sonara check lets
through."""

from __future__ import annotations

import logging

import pytest

import sonara
import sonara._logs
from conftest import CONFIG, SAMPLES

CLIPPED = SAMPLES[0].parent / "clipped_44100_mono.wav"


def library_records(caplog: pytest.LogCaptureFixture) -> list[logging.LogRecord]:
    return [record for record in caplog.records if record.name == "sonara"]


def test_captured_lines_reach_the_sonara_logger_and_stop_with_the_capture(
        caplog: pytest.LogCaptureFixture, capfd: pytest.CaptureFixture[str]) -> None:
    caplog.set_level(logging.DEBUG, logger="sonara")
    with sonara.Session(CONFIG) as session:
        with sonara.capture_logs(logging.WARNING):
            session.check(CLIPPED)
        records = library_records(caplog)
        assert [(r.levelno, r.getMessage()) for r in records] == \
            [(logging.WARNING, f"{CLIPPED}: [library] overload failed: 1.000000")]
        assert records[0].sonara_level == 4 and records[0].sonara_file == "session_configuration.cpp"
        assert records[0].sonara_line > 0 and records[0].sonara_path == str(CLIPPED)
        assert "overload failed" not in capfd.readouterr().err

        caplog.clear()
        session.check(CLIPPED)  # no capture: warnings are left out, as sonara check does
        list(sonara.scan([CLIPPED, CLIPPED.parent], CONFIG, jobs=2))
        assert library_records(caplog) == []
        assert capfd.readouterr().err == ""


def test_a_detailed_capture_gets_lifecycle_lines_and_captures_nest(caplog: pytest.LogCaptureFixture) -> None:
    caplog.set_level(logging.DEBUG, logger="sonara")
    with sonara.capture_logs(logging.ERROR) as outer:
        with sonara.capture_logs(logging.DEBUG):
            with sonara.Session(CONFIG) as session:
                session.check(CLIPPED)
        messages = [r.getMessage() for r in library_records(caplog)]
        assert "Инициализация сессии по звуку" in messages and "Уничтожение сессии по звуку" in messages
        assert f"{CLIPPED}: [library] overload failed: 1.000000" in messages
        caplog.clear()
        # The inner capture ended: only errors now.
        with sonara.Session(CONFIG) as session:
            session.check(CLIPPED)
            with pytest.raises(sonara.ConfigurationError) as caught:
                sonara.Session.from_text('{"overload_border": {"value": 0.5}}')
        levels = {r.levelno for r in library_records(caplog)}
        assert levels == {logging.ERROR}
        assert "signal_noise required" in str(caught.value) and caught.value.log
    outer.stop()  # stopping twice is harmless
    assert sonara._logs.logs.levels == []


def test_no_line_is_lost_when_the_sink_is_renewed(caplog: pytest.LogCaptureFixture,
                                                  monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setattr(sonara._logs, "_ROTATE_BYTES", 200)
    caplog.set_level(logging.DEBUG, logger="sonara")
    with sonara.Session(CONFIG) as session, sonara.capture_logs(logging.WARNING):
        for _ in range(25):
            session.check(CLIPPED)
    failed = [r for r in library_records(caplog) if "overload failed" in r.getMessage()]
    assert len(failed) == 25


def test_a_captured_scan_names_the_file_of_every_line_and_writes_the_same_records(
        caplog: pytest.LogCaptureFixture) -> None:
    caplog.set_level(logging.DEBUG, logger="sonara")
    folder = CLIPPED.parent
    plain = [(path, result.record_text) for path, result in sonara.scan(folder, CONFIG, jobs=3, all=True)]
    with sonara.capture_logs(logging.WARNING):
        captured = [(path, result.record_text) for path, result in sonara.scan(folder, CONFIG, jobs=3, all=True)]
    assert captured == plain
    failed = [r for r in library_records(caplog) if " failed" in r.getMessage()]
    # The files whose records have a failed value are the files the lines name, and a line
    # naming a slot's failure is under a record where that slot failed.
    verdicts = {path: {name for name, slot in result.slots.items() if slot.state == sonara.SlotState.FAILED}
                for path, result in sonara.scan(folder, CONFIG, all=True)}
    for record in failed:
        assert record.getMessage().startswith(f"{record.sonara_path}: [library] ")
        slot = record.getMessage().split("[library] ")[1].split(" failed")[0]
        if slot in sonara.SLOT_NAMES:
            assert slot in verdicts[record.sonara_path], record.getMessage()
    assert {r.sonara_path for r in failed} == {path for path, names in verdicts.items() if names}
    assert len(failed) > 5
