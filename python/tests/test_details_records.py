"""The details in the records `sonara check --all` writes, against numpy on the decoded samples of
every sample and byte-built file: what reaches the user is what the samples hold."""

from __future__ import annotations

import json
import math
import os
import subprocess
from pathlib import Path

import pytest

from conftest import CONFIG
from details_fixtures import cases, decoded_channels
from test_details import evidence_reference

CASES = cases()


def same(got: object, expected: float) -> bool:
    if isinstance(expected, float) and math.isnan(expected):
        return got is None  # not measured is null, never 0
    return got == expected


@pytest.fixture(scope="module")
def records(tmp_path_factory: pytest.TempPathFactory) -> dict[str, dict]:
    program = os.environ.get("SONARA_CLI")
    if not program:
        pytest.skip("SONARA_CLI is not set (CTest sets it to the built sonara program)")
    folder = tmp_path_factory.mktemp("details")
    for name, content in CASES.items():
        (folder / (name if name.endswith(".wav") else name + ".wav")).write_bytes(content)
    run = subprocess.run([program, "check", "-q", "--all", "--segments", "-f", "jsonl", "--config", str(CONFIG),
                          str(folder)], capture_output=True, text=True, timeout=600)
    assert run.returncode in (0, 1), run.stderr
    return {Path(record["path"]).stem: record for record in map(json.loads, run.stdout.splitlines())}


@pytest.mark.parametrize("name", sorted(CASES))
def test_record_details_equal_numpy_on_the_decoded_samples(records: dict[str, dict], name: str) -> None:
    record = records[name.removesuffix(".wav")]
    channels = decoded_channels(CASES[name])
    if "details" not in record:
        # Only a check that never reached the samples leaves none.
        assert record["state"] in (103, 104, 105, 107, 108, 109, 110, 111), record
        return
    details = record["details"]
    assert len(details["channels"]) == len(channels) == len(details["segments"])
    for c, (got, x) in enumerate(zip(details["channels"], channels)):
        peak, rms, dc, clipped, _ = evidence_reference(x)
        where = f"{name} channel {c + 1}"
        assert same(got["peak_dbfs"], peak), where
        assert same(got["rms_dbfs"], rms), where
        assert same(got["dc_offset"], dc), where
        assert got["clipped_samples"] == clipped, where
        segments = details["segments"][c]
        if got["speech_seconds"] is None:
            assert segments is None, where
        else:
            assert sum(end - start for start, end in segments) == pytest.approx(got["speech_seconds"]), where
    voice = next(slot for slot in record["slots"] if slot["name"] == "voice_duration")
    speech = [channel["speech_seconds"] for channel in details["channels"] if channel["speech_seconds"] is not None]
    if speech and voice["value"] is not None:
        assert max(speech) == voice["value"], name  # the slot is the channel with the most speech
