"""scan writes the very bytes that `sonara check --format jsonl` writes, for every sample and
byte-built file and for a walked folder, with v_check and with v_check_all (--all); and the
values of those records are the ones Session.check gets from the library."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import pytest

import sonara
from conftest import CONFIG, SAMPLES


def sonara_check(*arguments: str) -> subprocess.CompletedProcess[str]:
    program = os.environ.get("SONARA_CLI")
    if not program:
        pytest.skip("SONARA_CLI is not set (CTest sets it to the built sonara program)")
    run = subprocess.run([program, "check", "--format", "jsonl", "--quiet", "--config", str(CONFIG),
                          *arguments], capture_output=True, text=True, timeout=600)
    assert run.returncode in (0, 1, 3), run.stderr
    return run


@pytest.mark.parametrize("all", [False, True], ids=["check", "all"])
def test_every_file_gives_the_record_of_sonara_check(all: bool, fixture_dir: Path) -> None:
    files = sorted(map(str, SAMPLES + sorted(fixture_dir.iterdir())), key=os.fsencode)
    expected = sonara_check("--jobs", "1", *(["--all"] if all else []), *files).stdout
    results = list(sonara.scan(files, CONFIG, jobs=2, all=all))
    assert [path for path, _ in results] == files
    assert "".join(result.record_text for _, result in results) == expected
    with sonara.Session(CONFIG) as session:
        check = session.check_all if all else session.check
        for path, result in results:
            alone = check(path)
            assert (alone.state, alone.passed, alone.slots) == (result.state, result.passed, result.slots), path


def test_a_scanned_folder_gives_the_records_and_status_of_sonara_check(tmp_path: Path, fixture_dir: Path) -> None:
    root = tmp_path / "tree"
    (root / "nested" / "deeper").mkdir(parents=True)
    for index, path in enumerate(SAMPLES + sorted(fixture_dir.iterdir())):
        folder = [root, root / "nested", root / "nested" / "deeper"][index % 3]
        (folder / path.name.replace(".wav", ".WAV" if index % 5 == 0 else ".wav")).write_bytes(path.read_bytes())
    (root / "dangling.wav").symlink_to(root / "gone.wav")
    run = sonara_check("--jobs", "2", str(root))
    assert run.returncode == 3  # the dangling link
    ours = "".join(result.record_text for _, result in sonara.scan(root, CONFIG, jobs=3))
    assert ours == run.stdout


@pytest.mark.parametrize("strict", [False, True], ids=["plain", "strict"])
@pytest.mark.parametrize("decode", [False, True], ids=["wav", "decode"])
def test_the_dataframe_has_the_columns_of_the_engines_csv(strict: bool, decode: bool) -> None:
    from sonara._archive import CSV, Archive

    with Archive(configuration=CONFIG, format=CSV, strict=strict, decode=decode) as archive:
        header = archive.header
    assert header.endswith("\n")
    assert header.rstrip("\n").split(",") == sonara.dataframe_columns(decode=decode, strict=strict)


def test_the_version_is_the_engines() -> None:
    from sonara._archive import archive_library

    cmake = (CONFIG.parents[1] / "CMakeLists.txt").read_text()
    assert sonara.__version__ == archive_library().version
    assert f"project(sonara VERSION {sonara.__version__} " in cmake  # the one version source
    with sonara.Session(CONFIG) as session:
        assert ".".join(map(str, session.library_version)) == sonara.__version__


def test_the_dataframes_values_are_the_engines_csv_cells(fixture_dir: Path) -> None:
    # Slot values, missing ones included, and the evidence columns with their worst-of-all
    # channels, which the DataFrame takes from the JSON Lines details and CSV writes itself.
    import csv
    import io
    import math

    files = sorted(map(str, SAMPLES + sorted(fixture_dir.iterdir())), key=os.fsencode)
    program = os.environ.get("SONARA_CLI")
    if not program:
        pytest.skip("SONARA_CLI is not set (CTest sets it to the built sonara program)")
    run = subprocess.run([program, "check", "-f", "csv", "--quiet", "--all", "--strict",
                          "--config", str(CONFIG), *files], capture_output=True, text=True, timeout=600)
    rows = list(csv.DictReader(io.StringIO(run.stdout)))
    frame = sonara.to_dataframe(sonara.scan(files, CONFIG, all=True, strict=True))
    assert list(frame["path"]) == [row["path"] for row in rows] == files
    evidence = [name for name in frame.columns if name.startswith(("ch1_", "ch2_", "worst_"))]
    assert len(evidence) == 15
    filled = 0
    for row, (_, ours) in zip(rows, frame.iterrows()):
        for name in evidence + ["sample_rate", "channels", "depth", "duration", "overload"]:
            cell, value = row[name], ours[name]
            if cell == "":
                assert value is None or value is sonara_na() or (isinstance(value, float) and math.isnan(value)), (row["path"], name)
            else:
                assert float(cell) == pytest.approx(float(value), rel=1e-12, abs=1e-15), (row["path"], name, cell, value)
                filled += 1
        assert (row["strict_failed"] == "true") == bool(ours["strict_failed"]), row["path"]
    assert filled > 100


def sonara_na() -> object:
    import pandas

    return pandas.NA
