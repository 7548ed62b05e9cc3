#!/usr/bin/env python3
"""sonara check over an archive of short telephony prompts, as call centres and speech corpora
hold them: files per second and audio seconds per second with -j 1 and -j 2.

    /usr/bin/python3 bench/prompts_bench.py BUILD [--files 4000] [--seconds 2] [--runs 3]

The prompts are 8000 Hz mono pieces of real speech (Debian's codec2-examples, as the overload
table uses; the samples' speech when it is absent), written once into a scratch folder. Prints
the best of --runs runs per job count, from sonara's own --summary-json.
"""

from __future__ import annotations

import argparse
import array
import json
import os
import subprocess
import sys
import tempfile
import wave
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]
CODEC2 = Path("/usr/share/codec2/raw")


def speech() -> array.array:
    """16-bit samples of 8000 Hz speech."""
    samples = array.array("h")
    for name in ("hts1a.raw", "hts2a.raw", "kristoff.raw", "mmt1.raw", "big_dog.raw", "morig.raw", "forig.raw"):
        path = CODEC2 / name
        if path.exists():
            samples.frombytes(path.read_bytes()[: len(path.read_bytes()) // 2 * 2])
    if samples:
        return samples
    with wave.open(str(SOURCE / "samples" / "clean_8000_stereo.wav")) as source:
        stereo = array.array("h", source.readframes(source.getnframes()))
    return stereo[::2]


def write_prompts(folder: Path, count: int, seconds: float) -> None:
    voice = speech()
    length = int(seconds * 8000)
    for number in range(count):
        start = (number * 997) % max(1, len(voice) - length)
        with wave.open(str(folder / f"prompt_{number:06}.wav"), "wb") as out:
            out.setnchannels(1)
            out.setsampwidth(2)
            out.setframerate(8000)
            out.writeframes(voice[start:start + length].tobytes())


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=Path)
    parser.add_argument("--files", type=int, default=4000)
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--runs", type=int, default=3)
    options = parser.parse_args()
    program = options.build / "bin" / "sonara"
    with tempfile.TemporaryDirectory(prefix="prompts-") as scratch:
        folder = Path(scratch) / "prompts"
        folder.mkdir()
        write_prompts(folder, options.files, options.seconds)
        summary = Path(scratch) / "summary.json"
        print(f"{options.files} prompts of {options.seconds:g} s, 8000 Hz mono; load {os.getloadavg()[0]:.1f}")
        print("| jobs | files per s | audio s per s | wall s |")
        print("|---:|---:|---:|---:|")
        for jobs in (1, 2):
            best = None
            for _ in range(options.runs):
                subprocess.run([str(program), "check", "-q", "-f", "jsonl", "-j", str(jobs), "--summary-json",
                                str(summary), str(folder)], stdout=subprocess.DEVNULL, check=False)
                figures = json.loads(summary.read_text())
                if best is None or figures["wall_seconds"] < best["wall_seconds"]:
                    best = figures
            assert best is not None
            print(f"| {jobs} | {best['files_per_second']:.0f} | {best['audio_seconds_per_second']:.0f} | "
                  f"{best['wall_seconds']:.2f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
