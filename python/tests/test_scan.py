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
    os.mkfifo(root / "b" / "pipe.wav")                                # reported, never read
    return root


def test_find_files_walks_sorted_once_each(tree: Path) -> None:
    found = sonara.find_files(tree)
    relative = [os.path.relpath(path, tree) for path in found]
    assert found == sorted(found, key=os.fsencode) and len(set(found)) == len(found)
    assert "b/LOUD.WAV" in relative and "a/link.wav" in relative and "a/dangling.wav" in relative
    assert "notes.txt" not in relative and "b/pipe.wav" in relative  # every path found gets a record
    assert not any(part.startswith("a/loop/") for part in relative)
    assert len(relative) == len(SAMPLES) + 6

    assert sonara.find_files(os.fsencode(tree)) == sonara.find_files(str(tree), config=CONFIG) == found
    shallow = sonara.find_files(tree, recursive=False)
    assert shallow and all(os.path.dirname(path) == str(tree) for path in shallow)
    # A file named directly is taken whatever its name (but a list file's: it names paths);
    # the same file twice is checked once.
    odd = tree / "take.raw"
    odd.write_bytes(SAMPLES[0].read_bytes())
    listing = tree / "more.lst"
    listing.write_text(f"# two paths\n\n{odd}\n{tree / 'b'}\n")
    assert sonara.find_files([odd, tree / "a", odd]) == sorted(
        [str(odd)] + [p for p in found if p.startswith(str(tree / "a") + "/")], key=os.fsencode)
    assert sonara.find_files([listing]) == sorted(
        [str(odd)] + [p for p in found if p.startswith(str(tree / "b") + "/")], key=os.fsencode)


def test_scan_gives_the_same_table_for_one_and_four_jobs(tree: Path) -> None:
    one = list(sonara.scan(tree, CONFIG, jobs=1))
    four = list(sonara.scan(tree, CONFIG, jobs=4))
    assert [path for path, _ in one] == sonara.find_files(tree)
    assert one == four
    assert sonara.to_dataframe(one).to_json() == sonara.to_dataframe(four).to_json()

    by_path = {os.path.relpath(path, tree): result for path, result in one}
    assert by_path["a/dangling.wav"].error and by_path["a/dangling.wav"].state is None
    assert by_path["a/dangling.wav"].to_dict() == {"schema": 2, "path": str(tree / "a" / "dangling.wav"),
                                                   "error": "No such file or directory"}
    assert by_path["b/pipe.wav"].error == "not a regular file (FIFO)"
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
    for wrong in (dict(jobs=0), dict(jobs=-1), dict(max_size=0), dict(max_size=-1),
                  dict(max_size=1 << 64), dict(max_clipped=1.5)):
        with pytest.raises(ValueError, match=next(iter(wrong))):
            sonara.scan(tree, CONFIG, **wrong)
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


def engine_threads() -> int:
    return len(os.listdir("/proc/self/task"))


def test_stopping_a_scan_early_ends_its_workers(tree: Path) -> None:
    before = engine_threads()
    with sonara.scan(tree, CONFIG, jobs=3) as results:
        first = next(results)
        assert first[0] == sonara.find_files(tree)[0]
    assert results.closed and engine_threads() == before  # the engine's workers are gone
    assert next(results, None) is None


def test_a_scan_dropped_unfinished_stops_its_workers(tree: Path) -> None:
    before = engine_threads()
    results = sonara.scan(tree, CONFIG, jobs=2)
    next(results)
    archive = results._archive
    del results
    gc.collect()
    assert archive.closed and engine_threads() == before


def test_a_fifo_named_directly_is_refused_without_waiting(tree: Path) -> None:
    fifo = tree / "b" / "pipe.wav"
    with sonara.Session(CONFIG) as session:
        with pytest.raises(OSError, match="not a regular file"):
            session.check(fifo)
    [(path, result)] = list(sonara.scan([fifo], CONFIG))
    assert path == str(fifo) and result.error == "not a regular file (FIFO)" and not result.passed


def test_to_dataframe_has_the_schema_columns_typed_and_a_row_per_file(tree: Path) -> None:
    import pandas

    results = list(sonara.scan(tree, CONFIG, jobs=2, all=True))
    frame = sonara.to_dataframe(reversed(results))  # rows come back in sorted path order
    expected = ["path", "result", "state", "state_name", "config_version", "config_hash"]
    for name in ("length", "sample_rate", "voice_duration", "overload", "telephony_border",
                 "channels", "depth", "duration", "signal_noise"):
        expected += [name, f"{name}_state"]
    expected += ["signal_noise_channels"]
    for prefix in ("ch1", "ch2", "worst"):
        expected += [f"{prefix}_{field}" for field in
                     ("peak_dbfs", "rms_dbfs", "dc_offset", "clipped_samples", "speech_seconds")]
    expected += ["unmeasured", "error"]
    assert list(frame.columns) == expected == sonara.dataframe_columns()
    assert list(frame["path"]) == [path for path, _ in results]
    for name in ("state", "sample_rate", "channels", "depth", "ch1_clipped_samples", "worst_clipped_samples"):
        assert str(frame[name].dtype) == "Int64", name
    for name in ("length", "duration", "overload", "signal_noise", "ch1_peak_dbfs"):
        assert frame[name].dtype == float, name
    assert frame["result"].dtype == bool
    assert isinstance(frame["state_name"].dtype, pandas.CategoricalDtype)
    assert set(frame["state_name"].cat.categories) == {state.name for state in sonara.State}
    assert list(frame["depth_state"].cat.categories) == ["not evaluated", "passed", "failed"]

    rows = frame.set_index("path")
    for path, result in results:
        row = rows.loc[path]
        assert row["result"] == result.result == result.passed
        if result.error:
            assert row["error"] == result.error and not row["result"]
            assert row["state"] is pandas.NA and pandas.isna(row["state_name"])
            assert all(pandas.isna(row[name]) and pandas.isna(row[f"{name}_state"]) for name in sonara.SLOT_NAMES)
            continue
        assert row["error"] is None
        assert row["state"] == int(result.state) and row["state_name"] == result.state.name
        for name in sonara.SLOT_NAMES:
            slot = result.slots.get(name)
            if slot is None or slot.value is None or not math.isfinite(slot.value):
                assert pandas.isna(row[name]), (path, name)  # never a 0 that was not measured
            else:
                assert row[name] == slot.value
            assert (pandas.isna(row[f"{name}_state"]) if slot is None else row[f"{name}_state"] == slot.state.text)
    silent = rows.loc[str(tree / "a" / "silent.wav")]
    assert len(silent["signal_noise_channels"]) == 2 and all(math.isnan(v) for v in silent["signal_noise_channels"])
    assert frame["error"].notna().sum() == sum(1 for _, result in results if result.error)

    failures = frame[~frame["result"]]
    assert set(failures["path"]) == {path for path, result in results if not result.passed}
    json.loads(frame.to_json())


def test_the_frame_takes_evidence_and_strict_from_schema_2_records() -> None:
    channel = {"peak_dbfs": -3.0, "rms_dbfs": -20.5, "dc_offset": 0.001, "clipped_samples": 0,
               "speech_seconds": 2.5}
    quiet = {"peak_dbfs": None, "rms_dbfs": None, "dc_offset": -0.002, "clipped_samples": 7,
             "speech_seconds": None}
    record = {"schema": 2, "path": "three.wav", "result": True, "state": 0, "state_name": "STATE_OK",
              "config_version": "v", "config_hash": "h",
              "slots": [{"name": "sample_rate", "enabled": True, "state": "passed", "value": 8000.0, "unit": "Hz"},
                        {"name": "overload", "enabled": True, "state": "not evaluated", "value": None, "unit": None}],
              "details": {"channels": [channel, quiet, dict(channel, peak_dbfs=-1.0, speech_seconds=1.0)],
                          "segments": [[[0.1, 0.9]], [], [[0.0, 0.5], [1.0, 1.5]]]},
              "strict": {"failed": True, "reasons": ["channel 2: silent", "channel 2: 7 clipped samples"]}}
    result = sonara.Result.from_dict(record)
    assert result.strict == sonara.Strict(True, ("channel 2: silent", "channel 2: 7 clipped samples"))
    assert result.details.channels[1].clipped_samples == 7 and result.details.channels[1].peak_dbfs is None
    assert result.details.segments[2] == ((0.0, 0.5), (1.0, 1.5))
    assert result.slots["overload"].value is None
    [row] = sonara.to_dataframe([record]).to_dict("records")
    assert (row["ch1_peak_dbfs"], row["ch2_clipped_samples"], row["ch2_dc_offset"]) == (-3.0, 7, -0.002)
    assert math.isnan(row["ch2_peak_dbfs"]) and math.isnan(row["overload"])
    # The worst over all three channels, not only the two with columns of their own.
    assert (row["worst_peak_dbfs"], row["worst_rms_dbfs"], row["worst_dc_offset"],
            row["worst_clipped_samples"], row["worst_speech_seconds"]) == (-1.0, -20.5, -0.002, 7, 1.0)
    assert row["strict_failed"] is True and row["strict_reasons"] == list(result.strict.reasons)
    assert row["sample_rate"] == 8000


def test_json_lines_records_come_back_as_the_same_results_and_table(tree: Path) -> None:
    results = list(sonara.scan(tree, CONFIG, jobs=2))
    lines = [result.record_text for _, result in results]
    assert all(json.loads(line) == result.to_dict() for line, (_, result) in zip(lines, results))
    back = [sonara.Result.from_dict(json.loads(line)) for line in lines]
    assert back == [result for _, result in results]
    assert any(result.error for result in back) and any(result.slots for result in back)
    from_records = sonara.to_dataframe(json.loads(line) for line in lines)
    assert from_records.to_json() == sonara.to_dataframe(results).to_json()
    with pytest.raises(ValueError, match="schema"):
        sonara.Result.from_dict({"schema": 3, "path": "x", "error": "y"})
