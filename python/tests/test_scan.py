"""Whole folders: which files a scan finds, its order, its worker threads, and the DataFrame."""

from __future__ import annotations

import gc
import json
import math
import os
from pathlib import Path

import pytest

import sonara
from conftest import CONFIG, SAMPLES


@pytest.fixture
def tree(tmp_path: Path, fixture_dir: Path) -> Path:
    """Nested folders of recordings, with names and entries a walk must handle."""
    root = tmp_path / "archive"
    (root / "b" / "deeper").mkdir(parents=True)
    (root / "a").mkdir()
    for index, sample in enumerate(SAMPLES):
        folder = [root, root / "a", root / "b", root / "b" / "deeper"][index % 4]
        (folder / sample.name).write_bytes(sample.read_bytes())
    (root / "b" / "LOUD.WAV").write_bytes(SAMPLES[0].read_bytes())
    (root / "b" / "empty.wav").write_bytes(b"")
    (root / "a" / "silent.wav").write_bytes((fixture_dir / "silent_stereo.wav").read_bytes())
    (root / "notes.txt").write_text("not a recording")
    (root / "a" / "loop").symlink_to(root, target_is_directory=True)  # never followed
    (root / "a" / "link.wav").symlink_to(root / SAMPLES[0].name)      # followed
    (root / "a" / "dangling.wav").symlink_to(root / "gone.wav")       # reported as unreadable
    os.mkfifo(root / "b" / "pipe.wav")                                # left out: reading would block
    return root


def test_find_files_walks_sorted_once_each(tree: Path) -> None:
    found = sonara.find_files(tree)
    relative = [os.path.relpath(path, tree) for path in found]
    assert found == sorted(found, key=os.fsencode) and len(set(found)) == len(found)
    assert "b/LOUD.WAV" in relative and "a/link.wav" in relative and "a/dangling.wav" in relative
    assert "notes.txt" not in relative and "b/pipe.wav" not in relative
    assert not any(part.startswith("a/loop/") for part in relative)
    assert len(relative) == len(SAMPLES) + 5

    assert sonara.find_files(os.fsencode(tree)) == sonara.find_files(str(tree)) == found
    shallow = sonara.find_files(tree, recursive=False)
    assert shallow and all(os.path.dirname(path) == str(tree) for path in shallow)
    # A file named directly is taken whatever its name; the same file twice is checked once.
    notes = str(tree / "notes.txt")
    assert sonara.find_files([notes, tree / "a", notes]) == sorted(
        [notes] + [p for p in found if p.startswith(str(tree / "a") + "/")], key=os.fsencode)


def test_scan_gives_the_same_table_for_one_and_four_jobs(tree: Path) -> None:
    one = list(sonara.scan(tree, CONFIG, jobs=1))
    four = list(sonara.scan(tree, CONFIG, jobs=4))
    assert [path for path, _ in one] == sonara.find_files(tree)
    assert one == four
    assert sonara.to_dataframe(one).to_json() == sonara.to_dataframe(four).to_json()

    by_path = {os.path.relpath(path, tree): result for path, result in one}
    assert by_path["a/dangling.wav"].error and by_path["a/dangling.wav"].state is None
    assert by_path["a/dangling.wav"].to_dict() == {"schema": 1, "path": str(tree / "a" / "dangling.wav"),
                                                   "error": by_path["a/dangling.wav"].error}
    # An empty file right after other files in the same worker's session: no slots of theirs.
    assert by_path["b/empty.wav"].state == sonara.State.STATE_CONTENT_FAILED
    assert dict(by_path["b/empty.wav"].slots) == {}
    # Each file's result equals a check of that file on its own.
    with sonara.Session(CONFIG) as session:
        for relative in ("b/LOUD.WAV", "a/silent.wav", "a/link.wav"):
            alone = session.check(tree / relative)
            assert (alone.state, alone.slots) == (by_path[relative].state, by_path[relative].slots)


def test_scan_all_and_its_refused_configuration(tree: Path) -> None:
    with pytest.raises(sonara.ConfigurationError):
        sonara.scan(tree, tree / "notes.txt")  # raised at once, before any file is read
    with pytest.raises(ValueError):
        sonara.scan(tree, CONFIG, jobs=0)
    with sonara.Session(CONFIG) as probe:
        try:
            probe.check_all(b"")
        except sonara.SonaraError:
            pytest.skip("this libsonara has no v_check_all")
    full = dict(sonara.scan(tree, CONFIG, jobs=2, all=True))
    stopped = dict(sonara.scan(tree, CONFIG, jobs=2))
    assert full.keys() == stopped.keys()
    for path, result in stopped.items():
        assert (full[path].state, full[path].passed) == (result.state, result.passed), path


def test_stopping_a_scan_early_ends_its_workers(tree: Path) -> None:
    with sonara.scan(tree, CONFIG, jobs=3) as results:
        first = next(results)
        assert first[0] == sonara.find_files(tree)[0]
    assert all(session.closed for session in results._sessions)
    assert next(results, None) is None


def test_a_scan_dropped_unfinished_stops_its_workers(tree: Path) -> None:
    results = sonara.scan(tree, CONFIG, jobs=2)
    next(results)
    sessions, threads = results._sessions, results._threads
    del results
    gc.collect()
    assert all(session.closed for session in sessions)
    assert not any(thread.is_alive() for thread in threads)


def test_a_fifo_named_directly_is_refused_without_waiting(tree: Path) -> None:
    fifo = tree / "b" / "pipe.wav"
    with sonara.Session(CONFIG) as session:
        with pytest.raises(OSError, match="not a regular file"):
            session.check(fifo)
    [(path, result)] = list(sonara.scan([fifo], CONFIG))
    assert path == str(fifo) and result.error == "not a regular file" and not result.passed


def test_to_dataframe_has_the_schema_columns_and_a_row_per_file(tree: Path) -> None:
    results = list(sonara.scan(tree, CONFIG, jobs=2))
    frame = sonara.to_dataframe(reversed(results))  # rows come back in sorted path order
    expected = ["path", "result", "state", "state_name", "config_version", "config_hash"]
    for name in ("length", "sample_rate", "voice_duration", "overload", "telephony_border",
                 "channels", "depth", "duration", "signal_noise"):
        expected += [name, f"{name}_state"]
    expected += ["signal_noise_channels", "error"]
    assert list(frame.columns) == expected == sonara.dataframe_columns()
    assert list(frame["path"]) == [path for path, _ in results]
    assert str(frame["state"].dtype) == "Int64" and frame["result"].dtype == bool

    rows = frame.set_index("path")
    for path, result in results:
        row = rows.loc[path]
        assert row["error"] == (result.error or "")
        if result.error:
            assert row["state"] is pd_na() and not row["result"]
            continue
        assert row["state"] == int(result.state) and row["state_name"] == result.state.name
        for name in sonara.SLOT_NAMES:
            slot = result.slots.get(name)
            if slot is None or not math.isfinite(slot.value):
                assert math.isnan(row[name]), (path, name)
            else:
                assert row[name] == slot.value
            assert row[f"{name}_state"] == (None if slot is None else slot.state.text)
    silent = rows.loc[str(tree / "a" / "silent.wav")]
    assert len(silent["signal_noise_channels"]) == 2 and all(math.isnan(v) for v in silent["signal_noise_channels"])

    failures = frame[~frame["result"]]
    assert set(failures["path"]) == {path for path, result in results if not result.passed}
    json.loads(frame.to_json())


def pd_na():
    import pandas
    return pandas.NA


def test_json_lines_records_come_back_as_the_same_results_and_table(tree: Path) -> None:
    results = list(sonara.scan(tree, CONFIG, jobs=2))
    lines = [json.dumps(result.to_dict(), allow_nan=False) for _, result in results]
    back = [sonara.Result.from_dict(json.loads(line)) for line in lines]
    assert back == [result for _, result in results]
    assert any(result.error for result in back) and any(result.slots for result in back)
    from_records = sonara.to_dataframe(json.loads(line) for line in lines)
    assert from_records.to_json() == sonara.to_dataframe(results).to_json()
    with pytest.raises(ValueError, match="schema"):
        sonara.Result.from_dict({"schema": 2, "path": "x", "error": "y"})
