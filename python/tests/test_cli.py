"""Result.to_dict() and scan give the very records that `sonara check --format jsonl` writes,
for every sample and byte-built file, with v_check and with v_check_all (--all)."""

from __future__ import annotations

import json
import os
import subprocess
from pathlib import Path

import pytest

import sonara
from conftest import CONFIG, SAMPLES


def sonara_check(*arguments: str) -> list[dict]:
    program = os.environ.get("SONARA_CLI")
    if not program:
        pytest.skip("SONARA_CLI is not set (CTest sets it to the built sonara program)")
    run = subprocess.run([program, "check", "--format", "jsonl", "--quiet", "--config", str(CONFIG),
                          *arguments], capture_output=True, text=True, timeout=600)
    assert run.returncode in (0, 1, 3), run.stderr
    return [json.loads(line) for line in run.stdout.splitlines()]


@pytest.mark.parametrize("all", [False, True], ids=["check", "all"])
def test_every_file_gives_the_record_of_sonara_check(all: bool, fixture_dir: Path) -> None:
    files = sorted(map(str, SAMPLES + sorted(fixture_dir.iterdir())), key=os.fsencode)
    expected = sonara_check("--jobs", "1", *(["--all"] if all else []), *files)
    assert [record["path"] for record in expected] == files
    with sonara.Session(CONFIG) as session:
        check = session.check_all if all else session.check
        ours = [json.loads(json.dumps(check(path).to_dict(), allow_nan=False)) for path in files]
    for mine, theirs in zip(ours, expected):
        assert mine == theirs, mine["path"]


def test_a_scanned_folder_gives_the_records_of_sonara_check(tmp_path: Path, fixture_dir: Path) -> None:
    root = tmp_path / "tree"
    (root / "nested" / "deeper").mkdir(parents=True)
    for index, path in enumerate(SAMPLES + sorted(fixture_dir.iterdir())):
        folder = [root, root / "nested", root / "nested" / "deeper"][index % 3]
        (folder / path.name.replace(".wav", ".WAV" if index % 5 == 0 else ".wav")).write_bytes(path.read_bytes())
    (root / "dangling.wav").symlink_to(root / "gone.wav")
    expected = sonara_check("--jobs", "2", str(root))
    ours = [json.loads(json.dumps(result.to_dict(), allow_nan=False))
            for _, result in sonara.scan(root, CONFIG, jobs=3)]
    assert [record["path"] for record in ours] == [record["path"] for record in expected]
    for mine, theirs in zip(ours, expected):
        if "error" in theirs:  # both report it; the wording of the reason is each tool's own
            assert mine.keys() == theirs.keys(), mine
            continue
        assert mine == theirs, mine["path"]
