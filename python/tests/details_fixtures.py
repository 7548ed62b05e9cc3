"""Recordings for the details tests: every sample, and files built byte by byte from the samples'
speech in the layouts the library decodes (8, 24 and 32 bits, stereo, three channels), with
clipped runs planted across a block edge. Also the decoding rule itself, written out plainly,
for the numpy reference of the tests."""

from __future__ import annotations

import struct

import numpy as np

from conftest import SAMPLES, SOURCE, wav

# The walk decodes 65536 frames a block: a run planted across this frame crosses a block edge.
BLOCK_FRAMES = 65536


def _samples_of(name: str) -> tuple[np.ndarray, int]:
    """The 16-bit frames (frames x channels) of a sample with a plain 44-byte header."""
    content = (SOURCE / "samples" / name).read_bytes()
    channels = struct.unpack_from("<H", content, 22)[0]
    rate = struct.unpack_from("<I", content, 24)[0]
    values = np.frombuffer(content[44:], dtype="<i2")
    return values[: len(values) // channels * channels].reshape(-1, channels), rate


def _pcm(frames: np.ndarray, bits: int) -> bytes:
    """frames (frames x channels, 16-bit values) written at bits per sample."""
    values = frames.astype(np.int64)
    if bits == 8:
        return ((values >> 8) + 128).astype(np.uint8).tobytes()
    # Deeper samples: the 16-bit value in the top bytes, something non-zero below it.
    low = np.arange(values.size, dtype=np.int64).reshape(values.shape) % 251
    shift = bits - 16
    wide = (values << shift) | (low & ((1 << shift) - 1))
    width = bits // 8
    raw = wide.astype("<i4").view(np.uint8).reshape(values.size, 4)
    return raw[:, :width].tobytes()


def _with_clipped_runs(speech: np.ndarray) -> np.ndarray:
    """Mono speech over more than one block, with runs at full scale planted where they test the
    rule: across the block edge, lone full-scale samples, alternating extremes, a loud plateau
    under the border and one just at it."""
    frames = np.resize(speech[:, 0], BLOCK_FRAMES + 9000).astype(np.int16).copy()
    frames[BLOCK_FRAMES - 2: BLOCK_FRAMES + 2] = 32767   # 4, across the edge
    frames[BLOCK_FRAMES + 2] = 32766                    # ends the run
    frames[100] = 32767                                  # lone: not a run
    frames[101] = 0
    frames[200:202] = -32768                             # 2
    frames[300:306] = [32767, -32768, 32767, -32768, 32767, -32768]  # no two equal in a row
    frames[400:410] = 32000                              # below 32512: not clipping
    frames[500:503] = 32512                              # 3, just at the border
    frames[503] = -32512                                 # magnitude alike, value not: ends it
    frames[600:602] = 32511                              # just under
    frames[-2:] = -32768                                 # 2, at the very end
    return frames.reshape(-1, 1)


def cases() -> dict[str, bytes]:
    speech16k, _ = _samples_of("clean_16000_mono.wav")
    stereo8k, _ = _samples_of("clean_8000_stereo.wav")
    clipped, _ = _samples_of("clipped_44100_mono.wav")
    three = np.stack([speech16k[:, 0], speech16k[::-1, 0], np.zeros(len(speech16k), np.int16)], axis=1)
    silent_right = np.stack([stereo8k[:, 0], np.zeros(len(stereo8k), np.int16)], axis=1)
    built = {
        "pcm8_16000_mono": wav(1, 16000, 8, _pcm(speech16k, 8)),
        "pcm24_8000_stereo": wav(2, 8000, 24, _pcm(stereo8k, 24)),
        "pcm32_16000_mono": wav(1, 16000, 32, _pcm(speech16k, 32)),
        "pcm16_16000_three_channels": wav(3, 16000, 16, _pcm(three, 16)),
        "pcm16_8000_right_silent": wav(2, 8000, 16, _pcm(silent_right, 16)),
        "pcm16_8000_clipped_runs": wav(1, 8000, 16, _pcm(_with_clipped_runs(stereo8k), 16)),
        "pcm16_44100_clipped": wav(1, 44100, 16, _pcm(clipped, 16)),
        # The last frame's second byte lies past the payload and decodes as 0.
        "pcm16_8000_odd_payload": wav(1, 8000, 16, _pcm(stereo8k[:, :1], 16)[:-1], block_align=1),
        # A payload shorter than one frame: decoded, with no frames at all.
        "pcm16_8000_no_frames": wav(2, 8000, 16, b"\x01\x02"),
    }
    return {**{path.name: path.read_bytes() for path in SAMPLES}, **built}


def payload_of(content: bytes) -> tuple[int, int, int, int, bytes]:
    """channels, sample rate, bits, block align and the 'data' payload, by a plain chunk walk."""
    channels, rate, _, align, bits = struct.unpack_from("<HIIHH", content, 22)
    at = 12
    while at + 8 <= len(content):
        chunk, size = struct.unpack_from("<4sI", content, at)
        if chunk == b"data":
            return channels, rate, bits, align, content[at + 8: at + 8 + size]
        at += 8 + size + (size & 1)
    raise ValueError("no data chunk")


def decoded_channels(content: bytes) -> list[np.ndarray]:
    """Every channel as the library decodes it: each sample's two most significant bytes (8-bit:
    its byte and the next) read as a signed 16-bit number, a byte past the payload read as 0."""
    channels, _, bits, align, payload = payload_of(content)
    frames = len(payload) // align
    width = bits // 8
    skip = width - 2 if bits > 16 and width >= 2 else 0
    padded = np.frombuffer(payload + bytes(channels * width + 4), dtype=np.uint8).astype(np.int32)
    out = []
    for c in range(channels):
        at = np.arange(frames, dtype=np.int64) * align + c * width + skip
        in_payload = at + 1 < len(payload)
        high = np.where(in_payload, padded[at + 1], 0)
        low = np.where(at < len(payload), padded[at], 0)
        out.append(((low | (high << 8)).astype(np.uint16)).view(np.int16).astype(np.int64))
    return out
