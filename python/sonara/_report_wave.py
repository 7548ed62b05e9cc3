"""A recording's waveform envelope and clipped runs, read from the file when the report is made.

The samples are taken as 16-bit values, the way the library judges them (8-bit shifted up,
24- and 32-bit cut to their upper 16 bits), so the clipped runs marked here follow the
results schema's rule: runs of at least two equal samples of magnitude 32512 or more.
"""

from __future__ import annotations

import os
import stat
import wave
from typing import Any

COLUMNS = 800  # envelope columns: about one per pixel of the drawn figure
CLIP_LEVEL = 32512
SCALE = 1000  # envelope values are written as thousandths of full scale
MAX_DRAWN_BYTES = 256 << 20
MAX_CLIP_MARKS = 400  # per channel: one per envelope column at most anyway


class Unreadable(Exception):
    """The file could not be drawn; the message says why, for the page."""


def locate(path: str, bases: list[str]) -> str:
    """The path as given when it exists (or is absolute), else the first base it exists under."""
    if os.path.isabs(path) or os.path.lexists(os.fsencode(path)):
        return path
    for base in bases:
        candidate = os.path.join(base, path)
        if os.path.lexists(os.fsencode(candidate)):
            return candidate
    return path


def _read(path: str) -> tuple[int, int, int, bytes]:
    try:
        fd = os.open(os.fsencode(path), os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        raise Unreadable(error.strerror or str(error)) from None
    info = os.fstat(fd)
    if not stat.S_ISREG(info.st_mode):  # never wait on a FIFO or read a device or a folder
        os.close(fd)
        raise Unreadable("not a regular file")
    with os.fdopen(fd, "rb") as stream:
        if info.st_size > MAX_DRAWN_BYTES:
            raise Unreadable(f"{info.st_size / 2**20:.0f} MiB: the report draws files up to "
                             f"{MAX_DRAWN_BYTES >> 20} MiB")
        try:
            with wave.open(stream) as reader:
                channels, width, rate = (reader.getnchannels(), reader.getsampwidth(),
                                         reader.getframerate())
                data = reader.readframes(reader.getnframes())
        except (wave.Error, EOFError) as error:
            raise Unreadable(f"not a PCM WAV file the report can read ({error})") from None
        except OSError as error:
            raise Unreadable(error.strerror or str(error)) from None
    if channels < 1 or width not in (1, 2, 3, 4) or rate < 1:
        raise Unreadable(f"{channels} channels of {8 * width}-bit samples at {rate} Hz")
    return channels, width, rate, data


def _as_16_bit(data: bytes, width: int, channels: int) -> Any:
    import numpy as np

    frames = len(data) // (width * channels)
    data = data[:frames * width * channels]
    if width == 1:
        samples = (np.frombuffer(data, np.uint8).astype(np.int16) - 128) << 8
    elif width == 2:
        samples = np.frombuffer(data, "<i2")
    elif width == 3:
        triples = np.frombuffer(data, np.uint8).reshape(-1, 3)
        samples = (triples[:, 1].astype(np.uint16) | (triples[:, 2].astype(np.uint16) << 8)
                   ).view(np.int16)
    else:
        samples = (np.frombuffer(data, "<i4") >> 16).astype(np.int16)
    return samples.reshape(frames, channels)


def clipped_mask(channel: Any) -> Any:
    """True for every sample in a run of at least two equal samples at or beyond CLIP_LEVEL."""
    import numpy as np

    loud = np.abs(channel.astype(np.int32)) >= CLIP_LEVEL
    pair = loud[1:] & (channel[1:] == channel[:-1])
    mask = np.zeros(channel.shape[0], dtype=bool)
    mask[1:] |= pair
    mask[:-1] |= pair
    return mask


def envelope(path: str, columns: int = COLUMNS) -> dict[str, Any]:
    """Per channel the lowest and highest sample of each column (thousandths of full scale)
    and the times of the columns holding clipped runs; raises :class:`Unreadable`."""
    import numpy as np

    channels, width, rate, data = _read(path)
    samples = _as_16_bit(data, width, channels)
    frames = samples.shape[0]
    if frames == 0:
        raise Unreadable("the file holds no samples")
    count = min(columns, frames)
    starts = np.linspace(0, frames, count + 1).astype(np.int64)[:-1]
    seconds_per_column = frames / count / rate
    drawn = []
    for c in range(channels):
        channel = samples[:, c]
        low = np.minimum.reduceat(channel, starts).astype(np.int32) * SCALE // 32768
        high = -((-np.maximum.reduceat(channel, starts).astype(np.int32) * SCALE) // 32768)
        mask = clipped_mask(channel)
        marked = np.flatnonzero(np.add.reduceat(mask, starts) > 0)[:MAX_CLIP_MARKS]
        drawn.append({"lo": low.tolist(), "hi": high.tolist(), "clipped": int(mask.sum()),
                      "clips": [round((i + 0.5) * seconds_per_column, 4) for i in marked]})
    return {"rate": rate, "bits": 8 * width, "frames": int(frames),
            "seconds": frames / rate, "channels": drawn}
