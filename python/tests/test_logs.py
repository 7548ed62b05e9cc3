"""The library's log lines in Python's logging while capture_logs is active, and on standard
error as the library writes them otherwise."""

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
            [(logging.WARNING, "[library] overload failed: 1.000000")]
        assert records[0].sonara_level == 4 and records[0].sonara_file == "session_configuration.cpp"
        assert records[0].sonara_line > 0
        assert "overload failed" not in capfd.readouterr().err

        caplog.clear()
        session.check(CLIPPED)  # no capture: standard error, as the library writes by default
        assert library_records(caplog) == []
        assert "WARN session_configuration.cpp:" in capfd.readouterr().err


def test_a_detailed_capture_gets_lifecycle_lines_and_captures_nest(caplog: pytest.LogCaptureFixture) -> None:
    caplog.set_level(logging.DEBUG, logger="sonara")
    with sonara.capture_logs(logging.ERROR) as outer:
        with sonara.capture_logs(logging.DEBUG):
            with sonara.Session(CONFIG) as session:
                session.check(CLIPPED)
        messages = [r.getMessage() for r in library_records(caplog)]
        assert "Инициализация сессии по звуку" in messages and "Уничтожение сессии по звуку" in messages
        assert "[library] overload failed: 1.000000" in messages
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
