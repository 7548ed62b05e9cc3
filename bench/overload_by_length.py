#!/usr/bin/env python3
"""The overload coefficient and the clipped share against the length of a recording.

Real speech, not synthetic: the original (uncoded) recordings of Debian's codec2-examples
package, 8000 Hz 16-bit mono (/usr/share/codec2/raw: hts, kristoff, mmt1, big_dog, morig,
forig: 39 s, six speakers). Each is scaled to peak at -1 dBFS, as studio prompts are, and the
recordings are joined into one stream. Pieces of each length start at every multiple of 0.5 s
that leaves a whole piece; each piece is checked as it is (clean) and with +6 and +12 dB of gain
(rounded, held to the 16-bit range: clipped). Every piece is one WAV file checked with
v_check_all and the default configuration; the coefficient is the `overload` slot, the clipped
share is clipped_samples / N of the details.

    SONARA_LIBRARY=build/plain/bin/libsonara.so /usr/bin/python3 bench/overload_by_length.py

prints the Markdown tables of the README ("What the measurements mean") and, with --json FILE,
every piece's figures.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import struct
import sys
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]
# The details' ctypes binding lives beside the tests until the package gives details itself.
sys.path.insert(0, str(ROOT / "python" / "tests"))
from library_details import DETAILS_EVIDENCE, Library  # noqa: E402

SPEECH = Path("/usr/share/codec2/raw")
RECORDINGS = ["hts.raw", "kristoff.raw", "mmt1.raw", "big_dog.raw", "morig.raw", "forig.raw"]
RATE = 8000
LENGTHS = [0.5, 1, 2, 5, 10, 30]
GAINS = [0, 6, 12]
HOP_SECONDS = 0.5
COEFFICIENT_BORDER = 0.5    # the shipped overload border
CLIPPED_BORDER = 0.001      # the default --max-clipped share


def speech_stream() -> np.ndarray:
    pieces = []
    for name in RECORDINGS:
        path = SPEECH / name
        if not path.exists():
            sys.exit(f"{path} is missing: install Debian's codec2-examples (scripts/setup does)")
        x = np.frombuffer(path.read_bytes()[: path.stat().st_size // 2 * 2], dtype="<i2").astype(np.float64)
        pieces.append(x * (32767 * 10 ** (-1 / 20)) / np.max(np.abs(x)))
    return np.concatenate(pieces)


def wav_bytes(samples: np.ndarray) -> bytes:
    data = samples.astype("<i2").tobytes()
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE" + b"fmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16) + b"data" +
            struct.pack("<I", len(data)) + data)


def with_gain(piece: np.ndarray, db: float) -> np.ndarray:
    return np.clip(np.round(piece * 10 ** (db / 20)), -32768, 32767)


def measure(library: Library, stream: np.ndarray) -> list[dict]:
    rows = []
    config = ROOT / "config" / "cv_configuration.json"
    with library.session(config) as session:
        assert session.set_details(DETAILS_EVIDENCE)
        for seconds in LENGTHS:
            frames = int(seconds * RATE)
            hop = int(HOP_SECONDS * RATE)
            for start in range(0, len(stream) - frames + 1, hop):
                piece = stream[start:start + frames]
                for gain in GAINS:
                    check = session.check(wav_bytes(with_gain(piece, gain)), all_values=True)
                    overload = next(s.value for s in check.slots if s.name == "overload")
                    channel = check.channels[0]
                    rows.append({"seconds": seconds, "start": start / RATE, "gain_db": gain,
                                 "overload": overload,
                                 "clipped_share": channel.clipped_samples / channel.frames,
                                 "peak_dbfs": channel.peak_dbfs})
    return rows


def _values(rows: list[dict], seconds: float, gain: int, key: str) -> list[float]:
    return [r[key] for r in rows if r["seconds"] == seconds and r["gain_db"] == gain]


def _share(values: list[float], border: float) -> str:
    return f"{sum(v > border for v in values) / len(values):.0%}"


def tables(rows: list[dict]) -> str:
    """The coefficient and the clipped share per length: median and share over the border for
    the clean pieces and for both gains (the coefficient also over 0.9, the clipped share also
    the pieces the gain held at full scale at all)."""
    out = ["Overload coefficient (the `overload` slot): median, share > 0.5, share > 0.9", "",
           "| length | pieces | clean | +6 dB | +12 dB |", "|---|---|---|---|---|"]
    for seconds in LENGTHS:
        cells = []
        for gain in GAINS:
            v = _values(rows, seconds, gain, "overload")
            cells.append(f"{statistics.median(v):.3f} · {_share(v, COEFFICIENT_BORDER)} · {_share(v, 0.9)}")
        out.append(f"| {seconds:g} s | {len(v)} | " + " | ".join(cells) + " |")
    out += ["", "Clipped share (clipped_samples / N): median, share > 0.001, share > 0", "",
            "| length | pieces | clean | +6 dB | +12 dB |", "|---|---|---|---|---|"]
    for seconds in LENGTHS:
        cells = []
        for gain in GAINS:
            v = _values(rows, seconds, gain, "clipped_share")
            cells.append(f"{statistics.median(v):.4f} · {_share(v, CLIPPED_BORDER)} · {_share(v, 0)}")
        out.append(f"| {seconds:g} s | {len(v)} | " + " | ".join(cells) + " |")
    out += ["", "Pieces the gain clipped (share > 0): coefficient minimum, and the clean maximum", "",
            "| length | clean max | +6 dB min | +12 dB min |", "|---|---|---|---|"]
    for seconds in LENGTHS:
        clean = _values(rows, seconds, 0, "overload")
        cells = [f"{max(clean):.3f}"]
        for gain in GAINS[1:]:
            held = [r["overload"] for r in rows if r["seconds"] == seconds and r["gain_db"] == gain
                    and r["clipped_share"] > 0]
            cells.append(f"{min(held):.3f} ({len(held)})" if held else "-")
        out.append(f"| {seconds:g} s | " + " | ".join(cells) + " |")
    return "\n".join(out)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--library", default=os.environ.get("SONARA_LIBRARY"),
                        help="libsonara to use (default: $SONARA_LIBRARY)")
    parser.add_argument("--json", type=Path, help="also write every piece's figures here")
    args = parser.parse_args()
    if not args.library:
        parser.error("name the library with --library or SONARA_LIBRARY")
    rows = measure(Library(args.library), speech_stream())
    if args.json:
        args.json.write_text(json.dumps(rows, indent=1) + "\n")
    print(tables(rows))


if __name__ == "__main__":
    main()
