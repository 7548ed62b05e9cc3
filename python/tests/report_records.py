"""Results records in schema 2 made up for the report's tests: any number, every state, values
spread as an archive's are (durations over decades, a few sample rates), judged by the shipped
configuration's limits."""

from __future__ import annotations

import json
import math
import random
import struct
from pathlib import Path
from typing import Any, Optional

from sonara._vocabulary import SLOT_UNITS, STATES

CHAIN = list(SLOT_UNITS)
STATE_OF = {slot: (code, name) for code, name, slot, _ in STATES if slot}
# The order a check that stops at the first failure reaches the slots in.
CHECK_ORDER = ["duration", "depth", "channels", "sample_rate", "length", "telephony_border",
               "overload", "signal_noise", "voice_duration"]
HASH = "ab" * 32
# The shipped overload border, in the single precision the library keeps it in.
OVERLOAD_BORDER = struct.unpack("f", struct.pack("f", json.loads(
    (Path(__file__).resolve().parents[2] / "config" / "cv_configuration.json").read_text())["overload_border"]["value"]))[0]


def passes(slot: str, value: float) -> bool:
    """The shipped configuration's limits (config/cv_configuration.json)."""
    ranges = {"length": (1, 20480), "duration": (2, 600), "depth": (16, 16), "channels": (1, 2),
              "sample_rate": (8000, 48000)}
    if slot in ranges:
        low, high = ranges[slot]
        return low <= value <= high
    if slot == "telephony_border":
        return value > 10
    if slot == "overload":
        return value < OVERLOAD_BORDER
    if slot == "signal_noise":
        return math.isnan(value) or value >= 15
    return value >= 1.0  # voice_duration


def record(path: str, generator: random.Random, *, stop: bool = False,
           values: Optional[dict[str, float]] = None, segments: bool = True) -> dict[str, Any]:
    """One record; ``values`` overrides what is drawn, ``stop`` leaves the slots after the
    first failure not evaluated (null), as a check without --all does."""
    duration = min(900.0, max(0.3, generator.lognormvariate(1.5, 1.0)))
    rate = generator.choices([8000, 16000, 44100, 96000], [60, 30, 9, 1])[0]
    channels = generator.choices([1, 2, 3], [70, 29, 1])[0]
    depth = generator.choices([16, 8, 24], [98, 1, 1])[0]
    noise = [generator.gauss(32, 10) for _ in range(channels)]
    drawn = {"duration": round(duration, 3), "sample_rate": rate, "channels": channels,
             "depth": depth, "length": duration * rate * channels * depth / 8 / 1024 + 0.043,
             "voice_duration": 0.0 if generator.random() < 0.03 else
             round(duration * generator.uniform(0.2, 0.95), 2),
             "overload": generator.uniform(0.15, 1.0), "telephony_border": generator.gauss(30, 12),
             "signal_noise": min(noise)}
    drawn.update(values or {})
    # Per-channel figures for as many channels as the record says, their lowest the value.
    noise = (noise + [generator.gauss(32, 10) for _ in range(int(drawn["channels"]))]
             )[:int(drawn["channels"])]
    if values and "signal_noise" in values:
        noise = [values["signal_noise"]] + [max(v, values["signal_noise"]) for v in noise[1:]]
    else:
        drawn["signal_noise"] = min(noise)
    states: dict[str, str] = {}
    first_failure: Optional[str] = None
    for slot in CHECK_ORDER:
        if stop and first_failure is not None:
            states[slot] = "not evaluated"
            continue
        ok = passes(slot, drawn[slot])
        states[slot] = "passed" if ok else "failed"
        if not ok and first_failure is None:
            first_failure = slot
    code, name = STATE_OF[first_failure] if first_failure else (0, "STATE_OK")
    slots = []
    for slot in CHAIN:
        reached = states[slot] != "not evaluated"
        entry: dict[str, Any] = {"name": slot, "enabled": True, "state": states[slot],
                                 "value": float(drawn[slot]) if reached else None,
                                 "unit": SLOT_UNITS[slot]}
        if slot == "signal_noise" and reached:
            entry["channels"] = [round(v, 6) for v in noise]
        slots.append(entry)
    out: dict[str, Any] = {"schema": 2, "path": path, "result": code == 0, "state": code,
                           "state_name": name, "config_version": "2026.12",
                           "config_hash": HASH, "slots": slots}
    if states["voice_duration"] != "not evaluated":
        clipped = generator.random() < 0.03
        details = {"channels": [{
            "peak_dbfs": -0.0 if clipped else round(generator.uniform(-20, -0.5), 3),
            "rms_dbfs": round(generator.uniform(-40, -15), 3),
            "dc_offset": round(generator.gauss(0, 0.001), 6),
            "clipped_samples": generator.randrange(100, 5000) if clipped else 0,
            "speech_seconds": drawn["voice_duration"]} for _ in range(int(drawn["channels"]))]}
        if segments:
            spans = []
            for _ in range(int(drawn["channels"])):
                start, own = 0.1, []
                while start < duration - 0.3 and len(own) < 40:
                    end = min(duration, start + generator.uniform(0.2, 2.0))
                    own.append([round(start, 2), round(end, 2)])
                    start = end + generator.uniform(0.1, 1.0)
                spans.append(own)
            details["segments"] = spans
        out["details"] = details
    return out


def records(count: int, seed: int = 0, root: str = "/archive",
            folders: tuple[str, ...] = ("studio/a", "studio/b", "phone", "phone/old"),
            error_share: float = 0.01) -> list[dict[str, Any]]:
    """``count`` records under ``root``: a third stopped at their first failure, a share that
    could not be checked at all."""
    generator = random.Random(seed)
    out = []
    for number in range(count):
        path = f"{root}/{folders[number % len(folders)]}/rec{number:06d}.wav"
        if generator.random() < error_share:
            out.append({"schema": 2, "path": path, "error": "No such file or directory"})
            continue
        out.append(record(path, generator, stop=generator.random() < 0.33))
    return out
