"""Shared fixtures: the source tree's samples and configuration, byte-built WAV files, and the
C interface's own answers (tests/python/c_reference.c, built by CMake)."""

from __future__ import annotations

import math
import os
import random
import struct
import subprocess
import sys
from pathlib import Path
from typing import Optional

import pytest

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tests" / "support"))
# Under the test command (SONARA_NO_SKIPS) a skip that is not by design is a failure.
from skip_policy import pytest_make_collect_report, pytest_runtest_makereport  # noqa: E402,F401
SAMPLES = sorted((SOURCE / "samples").glob("*.wav"))
CONFIG = SOURCE / "config" / "cv_configuration.json"


def wav(channels: int, rate: int, bits: int, data: bytes, *, format_code: int = 1,
        byte_rate: Optional[int] = None, block_align: Optional[int] = None,
        data_size: Optional[int] = None, before_data: bytes = b"") -> bytes:
    """A RIFF/WAVE file with a 16-byte 'fmt ' chunk; every header field can be made to lie."""
    align = block_align if block_align is not None else channels * ((bits + 7) // 8)
    rate_bytes = byte_rate if byte_rate is not None else rate * channels * ((bits + 7) // 8)
    size = data_size if data_size is not None else len(data)
    fmt = struct.pack("<HHIIHH", format_code, channels, rate, rate_bytes, align, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + before_data + \
        b"data" + struct.pack("<I", size) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def pcm16(samples: list[list[float]]) -> bytes:
    """Interleaved signed 16-bit samples from one list of values in [-1, 1] per channel."""
    frames = zip(*samples)
    return b"".join(struct.pack(f"<{len(frame)}h", *(max(-32768, min(32767, round(v * 32767)))
                                                       for v in frame)) for frame in frames)


def voice_like(seconds: float, rate: int, seed: int, noise: float = 0.002) -> list[float]:
    """Bursts of a vowel-like tone over a faint hiss: a signal the detector hears as voice."""
    generator = random.Random(seed)
    out = []
    for n in range(int(seconds * rate)):
        t = n / rate
        on = (t % 0.8) < 0.5
        tone = 0.4 * (math.sin(2 * math.pi * 180 * t) + 0.5 * math.sin(2 * math.pi * 720 * t)) if on else 0.0
        out.append(tone + generator.gauss(0.0, noise))
    return out


def byte_built_cases() -> dict[str, bytes]:
    """WAV files built byte by byte: sound ones, damaged ones and ones that lie in the header."""
    voice = voice_like(3.0, 8000, seed=1)
    voice16k = voice_like(2.5, 16000, seed=2)
    clean = pcm16([voice])
    # Real speech from a sample, so that the later steps (signal-to-noise, voice duration) run.
    speech = (SOURCE / "samples" / "clean_8000_stereo.wav").read_bytes()[44:]
    left = b"".join(speech[i:i + 2] for i in range(0, len(speech) - 3, 4))
    return {
        "speech_right_channel_silent": wav(2, 8000, 16, b"".join(
            speech[i:i + 2] + b"\0\0" for i in range(0, len(speech) - 3, 4))),
        "speech_mono_left": wav(1, 8000, 16, left),
        "speech_header_says_16000": wav(1, 16000, 16, left),
        "voice_8000_mono": wav(1, 8000, 16, clean),
        "voice_16000_stereo": wav(2, 16000, 16, pcm16([voice16k, voice16k[::-1]])),
        "silent_stereo": wav(2, 8000, 16, bytes(2 * 2 * 8000 * 3)),
        "one_silent_channel": wav(2, 8000, 16, pcm16([voice, [0.0] * len(voice)])),
        "clipped": wav(1, 8000, 16, pcm16([[max(-1.0, min(1.0, 8 * v)) for v in voice]])),
        "pcm24": wav(1, 8000, 24, b"".join(struct.pack("<i", round(v * 8388607))[:3] for v in voice)),
        "extensible_format": wav(1, 8000, 16, clean, format_code=0xFFFE),
        "float_format": wav(1, 8000, 16, clean, format_code=3),
        "lying_byte_rate": wav(1, 8000, 16, clean, byte_rate=800),
        "zero_byte_rate": wav(1, 8000, 16, clean, byte_rate=0),
        "zero_channels": wav(0, 8000, 16, clean, block_align=2),
        "data_size_beyond_file": wav(1, 8000, 16, clean, data_size=len(clean) * 4),
        "odd_data_bytes": wav(1, 8000, 16, clean + b"\x01"),
        "no_samples": wav(1, 8000, 16, b""),
        "junk_chunk_before_data": wav(1, 8000, 16, clean, before_data=b"LIST" + struct.pack("<I", 5) + b"abcde\0"),
        "header_cut_short": wav(1, 8000, 16, clean)[:30],
        "not_riff": b"RIFX" + wav(1, 8000, 16, clean)[4:],
        "one_byte": b"\0",
        "text_file": b"this is not a recording\n" * 40,
    }


@pytest.fixture(scope="session")
def fixture_dir(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """The byte-built cases written out as files."""
    folder = tmp_path_factory.mktemp("byte_built")
    for name, data in byte_built_cases().items():
        (folder / f"{name}.wav").write_bytes(data)
    (folder / "empty.wav").write_bytes(b"")
    return folder


Reference = dict[str, tuple[bool, int, list[tuple[str, bool, int, float, Optional[str]]]]]


def c_reference(mode: str, files: list[Path], config: Path = CONFIG) -> Reference:
    """What the C interface answers for each file, as tests/python/c_reference.c prints it."""
    program = os.environ.get("SONARA_C_REFERENCE")
    if not program:
        pytest.skip("SONARA_C_REFERENCE is not set (CTest sets it to the built c_reference)")
    run = subprocess.run([program, mode, str(config), *map(str, files)], capture_output=True,
                         text=True, timeout=600)
    if run.returncode == 3:
        pytest.skip(run.stderr.strip())
    assert run.returncode == 0, run.stderr
    answers: Reference = {}
    for line in run.stdout.splitlines():
        path, *fields = line.split("\t")
        assert fields != ["error"], f"the C reference could not read {path}"
        slots = []
        for field in fields[2:]:
            name, enable, state, value, text = field.split(" ", 4)
            slots.append((name, enable == "1", int(state), float.fromhex(value), None if text == "-" else text))
        answers[path] = (fields[0] == "1", int(fields[1]), slots)
    return answers
