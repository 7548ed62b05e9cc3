"""The details of a check (v_set_details, v_details_session) against numpy on the decoded
samples: peak, RMS, DC offset and clipped samples exactly; speech time and segments against the
check's own voice duration; what a stopping check, a check that measures nothing and a refused
file leave."""

from __future__ import annotations

import math

import numpy as np
import pytest

from conftest import CONFIG
from details_fixtures import cases, decoded_channels
from library_details import (DETAILS_EVIDENCE, DETAILS_SEGMENTS, ChannelDetails, Check, Library,
                             Session, library_path, same)

CASES = cases()
NAN = float("nan")


@pytest.fixture(scope="module")
def library() -> Library:
    path = library_path()
    if not path:
        pytest.skip("SONARA_LIBRARY is not set (CTest sets it to the built libsonara)")
    return Library(path)


@pytest.fixture()
def session(library: Library) -> Session:
    with library.session(CONFIG) as live:
        yield live


def clipped_reference(x: np.ndarray) -> int:
    full = np.abs(x) >= 32512
    joins = np.zeros(len(x), dtype=bool)  # sample i equals sample i - 1, both at full scale
    joins[1:] = (x[1:] == x[:-1]) & full[1:] & full[:-1]
    in_run = joins.copy()
    in_run[:-1] |= joins[1:]
    return int(in_run.sum())


def evidence_reference(x: np.ndarray) -> tuple[float, float, float, int, int]:
    """peak_dbfs, rms_dbfs, dc_offset, clipped_samples, frames of one decoded channel."""
    n = len(x)
    peak = int(np.max(np.abs(x))) if n else 0
    mean_square = float(np.mean(x.astype(np.float64) ** 2)) if n else 0.0
    return (20 * math.log10(peak / 32768) if peak else NAN,
            10 * math.log10(mean_square / 32768 ** 2) if mean_square else NAN,
            float(np.mean(x.astype(np.float64))) / 32768 if n else NAN,
            clipped_reference(x), n)


def assert_evidence(name: str, check: Check, content: bytes) -> None:
    assert check.measured is True, name
    channels = decoded_channels(content)
    assert len(check.channels) == len(channels), name
    for c, (got, x) in enumerate(zip(check.channels, channels)):
        peak, rms, dc, clipped, frames = evidence_reference(x)
        where = f"{name} channel {c}"
        assert got.frames == frames, where
        assert same(got.peak_dbfs, peak), (where, got.peak_dbfs, peak)
        assert same(got.rms_dbfs, rms), (where, got.rms_dbfs, rms)
        assert same(got.dc_offset, dc), (where, got.dc_offset, dc)
        assert got.clipped_samples == clipped, where


def slot(check: Check, name: str) -> float:
    return next(s for s in check.slots if s.name == name).value


def assert_segments_add_up(where: str, channel: ChannelDetails) -> None:
    """Segments in order, merged (a gap between any two), on 10 ms frames of the 8000 Hz signal,
    covering exactly the speech time."""
    assert channel.segments is not None, where
    frames = [(round(start * 8000), round(end * 8000)) for start, end in channel.segments]
    for (start, end), (start_s, end_s) in zip(frames, channel.segments):
        assert (start / 8000, end / 8000) == (start_s, end_s), where
        assert start % 80 == 0 and end % 80 == 0 and end > start, where
    assert all(b[0] > a[1] for a, b in zip(frames, frames[1:])), (where, frames)
    assert sum(end - start for start, end in frames) == round(channel.speech_seconds * 8000), where


@pytest.mark.parametrize("name", sorted(CASES))
def test_check_all_details_equal_numpy_on_the_decoded_samples(session: Session, name: str) -> None:
    content = CASES[name]
    assert session.set_details(DETAILS_EVIDENCE | DETAILS_SEGMENTS)
    check = session.check(content, all_values=True)
    assert_evidence(name, check, content)
    if not check.channels:
        return
    # Speech comes from the pass the voice duration reads: its longest channel is the slot.
    speech = [channel.speech_seconds for channel in check.channels]
    assert not any(math.isnan(s) for s in speech), name
    assert max(speech) == slot(check, "voice_duration"), name
    for c, channel in enumerate(check.channels):
        assert_segments_add_up(f"{name} channel {c}", channel)

    # Without segments: the same evidence, no segment list; without details: nothing kept and
    # the same result.
    assert session.set_details(DETAILS_EVIDENCE)
    plain = session.check(content, all_values=True)
    assert [c.segments for c in plain.channels] == [None] * len(check.channels)
    for a, b in zip(plain.channels, check.channels):
        assert same(a.speech_seconds, b.speech_seconds) and a.frames == b.frames
    assert session.set_details(0)
    bare = session.check(content, all_values=True)
    assert bare.measured is None and bare.channels == []
    assert (bare.passed, bare.state) == (check.passed, check.state)
    for a, b in zip(bare.slots, check.slots, strict=True):
        assert (a.state, a.text) == (b.state, b.text) and same(a.value, b.value), (name, a.name)


@pytest.mark.parametrize("name", sorted(CASES))
def test_a_stopping_check_gives_the_same_evidence_once_it_reached_the_samples(
        session: Session, name: str) -> None:
    content = CASES[name]
    assert session.set_details(DETAILS_EVIDENCE | DETAILS_SEGMENTS)
    stopping = session.check(content, all_values=False)
    every = session.check(content, all_values=True)
    if stopping.state in (104, 107, 108, 109, 110, 111):  # ended before the samples
        assert stopping.measured is False and stopping.channels == [], name
        return
    assert_evidence(name, stopping, content)
    for a, b in zip(stopping.channels, every.channels):
        # The default configuration measures everything, so the walk is the same one.
        assert same(a.speech_seconds, b.speech_seconds), name
        assert a.segments == b.segments, name


def test_a_check_that_measures_nothing_walks_for_the_evidence_alone(session: Session) -> None:
    for switch in ("telephony_border", "overload_border", "signal_noise"):
        session.enable(switch, False)
    assert session.set_details(DETAILS_EVIDENCE | DETAILS_SEGMENTS)
    for name in ("clean_8000_stereo.wav", "clipped_44100_mono.wav", "pcm16_8000_clipped_runs"):
        check = session.check(CASES[name], all_values=False)
        assert_evidence(name, check, CASES[name])
        assert all(math.isnan(c.speech_seconds) and c.segments is None for c in check.channels), name


def test_telephony_alone_gives_speech_from_its_pass(session: Session) -> None:
    # v_check with only the telephony border on: at 16000 Hz that pass is the voice pass; at
    # 8000 Hz the resampler hands back its input, so both give the voice pass's figures.
    session.enable("overload_border", False)
    session.enable("signal_noise", False)
    assert session.set_details(DETAILS_EVIDENCE | DETAILS_SEGMENTS)
    for name in ("clean_16000_mono.wav", "clean_8000_stereo.wav", "noisy_16000_mono.wav"):
        alone = session.check(CASES[name], all_values=False)
        every = session.check(CASES[name], all_values=True)
        assert [(c.speech_seconds, c.segments) for c in alone.channels] == \
            [(c.speech_seconds, c.segments) for c in every.channels], name


def test_refused_files_and_flags(session: Session) -> None:
    assert not session.set_details(4)
    assert session.set_details(DETAILS_EVIDENCE)
    good = CASES["clean_8000_stereo.wav"]
    assert session.check(good).measured is True
    # A refused file leaves no details of the one before it.
    for content in (b"", b"RIFX" + good[4:], good[:30]):
        check = session.check(content)
        assert check.measured is False and check.channels == []
    # Details asked after a check do not describe it.
    assert session.set_details(0)
    session.check(good)
    assert session.set_details(DETAILS_EVIDENCE)
    assert session._details() == (None, [])
