"""check_archive and its command on real Dask clusters: the same table as scan, every path once
when a worker dies mid-run, files that fail or hang on every try reported with their error, and
records streamed in path order with a bounded window of batches."""

from __future__ import annotations

import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import Any, Iterator

import pandas.testing
import pytest

import sonara
import sonara.distributed
from conftest import CONFIG, SAMPLES, SOURCE
from dask_cluster import START_TIMEOUT, LoopbackCluster, dask_command, source_env, two_worker_cluster
from test_decode import SPEECH, encoded, float_wav

distributed = pytest.importorskip("distributed")

RUN_TIMEOUT = 120.0


@pytest.fixture(scope="module")
def archive(tmp_path_factory: pytest.TempPathFactory, fixture_dir: Path) -> Path:
    """The samples and the byte-built files, three times over in nested folders, plus an empty
    file and a name that is not a recording (left out by the walk)."""
    root = tmp_path_factory.mktemp("archive")
    for copy in ("a", "b/c", "d"):
        folder = root / copy
        folder.mkdir(parents=True)
        for sample in SAMPLES:
            (folder / sample.name).symlink_to(sample)
        for built in fixture_dir.iterdir():
            shutil.copy(built, folder / built.name)
    (root / "empty.WAV").write_bytes(b"")
    (root / "notes.txt").write_text("not a recording")
    return root


def scan_table(paths: Any, jobs: int = 2) -> "pandas.DataFrame":
    return sonara.to_dataframe(sonara.scan(paths, CONFIG, jobs=jobs))


@pytest.fixture(scope="module")
def cluster(tmp_path_factory: pytest.TempPathFactory) -> Iterator[LoopbackCluster]:
    yield from two_worker_cluster(tmp_path_factory.mktemp("cluster"), SOURCE)



def run_bounded(function: Any, *args: Any, **kwargs: Any) -> Any:
    with ThreadPoolExecutor(1) as pool:
        return pool.submit(function, *args, **kwargs).result(timeout=RUN_TIMEOUT)


def test_cluster_gives_scans_table_in_batches(
        cluster: LoopbackCluster, archive: Path) -> None:
    expected = scan_table([archive])
    assert len(expected) > 60 and "empty.WAV" in expected["path"].iloc[-1]
    with distributed.Client(cluster.address, timeout=30) as client:
        before = client.run(sonara.distributed.worker_counts)
        table = run_bounded(sonara.distributed.check_archive, [archive], CONFIG, client=client,
                            batch=4)
        pandas.testing.assert_frame_equal(table, expected)
        # A second run reuses the threads' sessions: every worker made one, at most.
        run_bounded(sonara.distributed.check_archive, str(archive / "a"), CONFIG,
                    client=cluster.address)
        after = client.run(sonara.distributed.worker_counts)
    batches = sum(after[w]["batches"] - before[w]["batches"] for w in after)
    assert batches >= len(expected) // 4, "the files did not travel in batches of 4"
    for worker in after:
        assert after[worker]["files"] > before[worker]["files"], "a worker did no work"


def test_command_writes_the_json_lines_of_scan(cluster: LoopbackCluster, archive: Path,
                                               tmp_path: Path) -> None:
    out = tmp_path / "results.jsonl"
    command = [sys.executable, "-m", "sonara.distributed", "--scheduler", cluster.address,
               "--config", str(CONFIG), "--output", str(out), str(archive / "a"),
               str(archive / "missing.wav")]
    run = subprocess.run(command, capture_output=True, text=True, timeout=RUN_TIMEOUT,
                         env=cluster.env)
    assert run.returncode == 3, run.stderr  # a file could not be checked
    results = sonara.scan([archive / "a", archive / "missing.wav"], CONFIG)
    assert out.read_text() == "".join(result.record_text for _, result in results)
    assert results.exit_status == 3
    assert json.loads(out.read_text().splitlines()[-1]) == {
        "schema": 2, "path": str(archive / "missing.wav"), "error": "No such file or directory"}

    bad = tmp_path / "bad.json"
    bad.write_text('{"duration": {"min": 1}}')
    run = subprocess.run(command[:6] + [str(bad), str(archive / "a")], capture_output=True,
                         text=True, timeout=RUN_TIMEOUT, env=cluster.env)
    assert run.returncode == 2 and "configuration refused" in run.stderr, run.stderr
    for wrong in (["--max-size", "-1"], ["--max-size", "18446744073709551616"], ["--batch", "0"],
                  ["--task-timeout", "0"], ["--max-clipped", "2"]):
        run = subprocess.run(command[:4] + wrong + [str(archive / "a")], capture_output=True,
                             text=True, timeout=RUN_TIMEOUT, env=cluster.env)
        assert run.returncode == 2 and wrong[0] in run.stderr, (wrong, run.stderr)


def test_decode_checks_what_scan_decodes(cluster: LoopbackCluster, tmp_path: Path) -> None:
    # FLAC and float WAV decoded on the workers, a corrupt FLAC reported with libsndfile's text,
    # through check_archive and the command's --decode.
    root = tmp_path / "corpus"
    (root / "sub").mkdir(parents=True)
    (root / "speech.wav").write_bytes(SPEECH.read_bytes())
    (root / "float.wav").write_bytes(float_wav(SPEECH))
    flac = encoded("flac16", root / "sub" / "speech.FLAC").read_bytes()
    (root / "corrupt.flac").write_bytes(flac[:8] + b"\xff" * 34 + flac[42:])
    (root / "notes.txt").write_text("not a recording")
    fifo = tmp_path / "pipe.flac"  # named explicitly, so kept: refused on the worker, not waited on
    os.mkfifo(fifo)
    expected = sonara.to_dataframe(sonara.scan([root, fifo], CONFIG, jobs=2, decode=True))
    assert len(expected) == 5 and expected["converted"].sum() == 2
    table = run_bounded(sonara.distributed.check_archive, [root, fifo], CONFIG,
                        client=cluster.address, batch=1, decode=True)
    pandas.testing.assert_frame_equal(table, expected)
    assert table["error"].iloc[0].startswith("libsndfile: ")
    assert table["error"].iloc[-1] == "not a regular file (FIFO)"
    assert list(run_bounded(sonara.distributed.check_archive, root, CONFIG,
                            client=cluster.address)["path"]) == [str(root / "float.wav"),
                                                                 str(root / "speech.wav")]

    out = tmp_path / "results.jsonl"
    run = subprocess.run([sys.executable, "-m", "sonara.distributed", "--scheduler",
                          cluster.address, "--config", str(CONFIG), "--output", str(out),
                          "--decode", str(root)], capture_output=True, text=True,
                         timeout=RUN_TIMEOUT, env=cluster.env)
    assert run.returncode == 3, run.stderr  # the corrupt FLAC
    assert out.read_text() == "".join(result.record_text for _, result in
                                      sonara.scan(root, CONFIG, decode=True))


def test_a_worker_killed_after_the_first_batch_loses_no_file(
        cluster: LoopbackCluster, archive: Path) -> None:
    # Runs last on this cluster: it leaves one worker.
    expected = scan_table([archive])
    with distributed.Client(cluster.address, timeout=30) as monitor:
        pids = monitor.run(os.getpid)
        start = monitor.run(sonara.distributed.worker_counts)
        with ThreadPoolExecutor(1) as pool:
            running = pool.submit(sonara.distributed.check_archive, [archive], CONFIG,
                                  client=cluster.address, batch=1)
            deadline = time.monotonic() + RUN_TIMEOUT
            victim = None
            while victim is None:
                assert time.monotonic() < deadline, "no batch completed in time"
                counts = monitor.run(sonara.distributed.worker_counts)
                if sum(counts[w]["batches"] - start[w]["batches"] for w in counts) >= 1:
                    busy = [w for w, keys in monitor.processing().items()
                            if any(str(k).startswith("sonara-check") for k in keys)]
                    victim = busy[0] if busy else None
                time.sleep(0.005)
            os.kill(pids[victim], signal.SIGKILL)
            assert not running.done(), "the run ended before the worker was killed"
            table = running.result(timeout=RUN_TIMEOUT)
    killed = next(p for p in cluster.workers if p.pid == pids[victim])
    killed.wait(timeout=10)
    assert table["path"].is_unique
    pandas.testing.assert_frame_equal(table, expected)


def test_local_cluster_reads_list_files_and_relative_paths(
        archive: Path, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setattr(sonara.distributed, "_local_worker_count", lambda: 2)
    monkeypatch.chdir(archive)
    listing = tmp_path / "files.lst"
    listing.write_text(f"# two files and a folder\n\n{archive}/a/clean_16000_mono.wav\n"
                       f"{archive}/d/not_there.wav\n{archive}/b\n")
    table = run_bounded(sonara.distributed.check_archive, ["a", str(listing)], CONFIG)
    # A relative path is made absolute where the run starts: the workers' folder is their own.
    expected = scan_table([archive / "a", archive / "a/clean_16000_mono.wav",
                           archive / "d/not_there.wav", archive / "b"])
    pandas.testing.assert_frame_equal(table, expected)
    assert table["path"].iloc[0].startswith(f"{archive}/a/")
    assert table.loc[table["path"] == f"{archive}/d/not_there.wav", "error"].item() == \
        "No such file or directory"


def in_process_cluster(threads: int = 2) -> Any:
    # Workers in this process, so that a test can stand in for a task's body.
    return distributed.LocalCluster(n_workers=1, threads_per_worker=threads, processes=False,
                                    dashboard_address=None, scheduler_kwargs={"dashboard_address": ":0"})


def test_a_file_that_fails_on_every_try_is_reported_and_its_batch_checked(
        archive: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    real = sonara.distributed._check_items
    tries: list[bytes] = []

    def flaky(items: list[tuple[bytes, Any]], *args: Any) -> tuple[str, int]:
        tries.extend(path for path, _ in items)
        if any(b"noisy_16000" in path for path, _ in items):
            raise RuntimeError("worker fault")
        return real(items, *args)

    monkeypatch.setattr(sonara.distributed, "_check_items", flaky)
    folder = archive / "a"
    with in_process_cluster() as local, distributed.Client(local) as client:
        table = run_bounded(sonara.distributed.check_archive, folder, CONFIG, client=client,
                            batch=5, retries=1)
    expected = scan_table([folder])
    poisoned = expected["path"].str.contains("noisy_16000")
    assert poisoned.sum() == 1
    row = table[table["path"] == expected.loc[poisoned, "path"].item()]
    assert row["error"].item() == "failed on every try: RuntimeError: worker fault"
    # Its batch twice, its own task twice, then twice more alone.
    assert tries.count(os.fsencode(row["path"].item())) == 6
    pandas.testing.assert_frame_equal(table[~poisoned.to_numpy()].reset_index(drop=True),
                                      expected[~poisoned].reset_index(drop=True))


def test_a_task_that_hangs_times_out_and_its_file_is_reported(
        archive: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    real = sonara.distributed._check_items
    release = threading.Event()

    def hanging(items: list[tuple[bytes, Any]], *args: Any) -> tuple[str, int]:
        if any(b"noisy_16000" in path for path, _ in items):
            release.wait(RUN_TIMEOUT)  # a check stuck on its storage
        return real(items, *args)

    monkeypatch.setattr(sonara.distributed, "_check_items", hanging)
    folder = archive / "a"
    try:
        with in_process_cluster(threads=4) as local, distributed.Client(local) as client:
            started = time.monotonic()
            table = run_bounded(sonara.distributed.check_archive, folder, CONFIG, client=client,
                                batch=4, task_timeout=1.5)
            elapsed = time.monotonic() - started
            release.set()
    finally:
        release.set()
    expected = scan_table([folder])
    stuck = expected["path"].str.contains("noisy_16000")
    assert table.loc[stuck.to_numpy(), "error"].item() == "failed on every try: TimeoutError: no answer in 1.5 s"
    assert elapsed < 60  # the batch, the file, the file alone: three timeouts, not a hang
    pandas.testing.assert_frame_equal(table[~stuck.to_numpy()].reset_index(drop=True),
                                      expected[~stuck].reset_index(drop=True))


def test_records_stream_in_path_order_with_a_bounded_window(
        archive: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    real = sonara.distributed._check_items
    started: list[int] = []

    def counted(items: list[tuple[bytes, Any]], *args: Any) -> tuple[str, int]:
        started.append(len(items))
        return real(items, *args)

    monkeypatch.setattr(sonara.distributed, "_check_items", counted)
    folder = archive / "a"
    with in_process_cluster() as local, distributed.Client(local) as client:
        lines = sonara.distributed.iter_records(folder, CONFIG, client=client, batch=1, window=2)
        first = next(lines)
        in_flight = len(started)
        rest = list(lines)
        pairs = list(sonara.distributed.iter_archive(folder, CONFIG, client=client, batch=3))
    expected = [result.record_text for _, result in sonara.scan(folder, CONFIG)]
    assert [first, *rest] == expected and len(expected) > 20
    assert in_flight <= 3, "the first record waited for more than the window of batches"
    assert [result.record_text for _, result in pairs] == expected
    assert [path for path, _ in pairs] == [path for path, _ in sonara.scan(folder, CONFIG)]


def test_a_walk_that_fails_is_reported_as_its_path(archive: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    def broken(entry: bytes, *args: Any) -> Any:
        if entry.endswith(b"/b"):
            raise OSError("storage gone")
        return real(entry, *args)

    real = sonara.distributed._walk_paths
    monkeypatch.setattr(sonara.distributed, "_walk_paths", broken)
    with in_process_cluster() as local, distributed.Client(local) as client:
        table = run_bounded(sonara.distributed.check_archive, [archive / "a", archive / "b"], CONFIG,
                            client=client, retries=0)
    row = table[table["path"] == str(archive / "b")]
    assert row["error"].item() == "could not be walked: OSError: storage gone"
    pandas.testing.assert_frame_equal(table[table["path"] != str(archive / "b")].reset_index(drop=True),
                                      scan_table([archive / "a"]))


def test_a_file_that_kills_its_worker_every_time_is_reported_and_the_rest_checked(
        tmp_path: Path) -> None:
    # One worker under a nanny, which starts it again after each death; the preload makes a
    # file named "poison" end the worker process as a crash in the library would.
    if dask_command("scheduler") is None:
        pytest.skip("no dask scheduler/worker command (python3-distributed)")
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        # What this exercises is the run's handling of lost workers, not the library; restarting
        # an instrumented interpreter three times costs most of a minute, so the plain build
        # runs it.
        pytest.skip("by design: worker restarts are tested in the plain build")
    folder = tmp_path / "files"
    folder.mkdir()
    for sample in SAMPLES[:4]:
        (folder / sample.name).symlink_to(sample)
    (folder / "poison.wav").symlink_to(SAMPLES[0])
    env = dict(os.environ, DASK_DISTRIBUTED__SCHEDULER__ALLOWED_FAILURES="0")
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(SOURCE / "python"),
                                                      str(Path(__file__).parent),
                                                      env.get("PYTHONPATH")]))
    crashing = LoopbackCluster(tmp_path, env)
    try:
        crashing.start(workers=0)
        crashing.add_worker("n0", nanny=True, extra=["--preload", "poison_preload"])
        with distributed.Client(crashing.address, timeout=30) as client:
            client.wait_for_workers(1, timeout=START_TIMEOUT)
            table = run_bounded(sonara.distributed.check_archive, folder, CONFIG,
                                client=client, batch=5)
    finally:
        crashing.stop()
    poisoned = table["path"] == str(folder / "poison.wav")
    assert table.loc[poisoned, "error"].item().startswith("failed on every try: KilledWorker")
    pandas.testing.assert_frame_equal(table[~poisoned].reset_index(drop=True), scan_table(
        [folder / sample.name for sample in SAMPLES[:4]]))


def test_no_process_of_the_command_grows_with_the_archive(tmp_path: Path) -> None:
    # The bench at a tenth of its size: records stream, items travel packed, so neither the
    # client, the scheduler nor a worker holds more for 20,000 files than for 2,000.
    if dask_command("scheduler") is None or dask_command("worker") is None:
        pytest.skip("no dask scheduler/worker command (python3-distributed)")
    sys.path.insert(0, str(SOURCE / "bench"))
    try:
        import dask_memory
    finally:
        sys.path.remove(str(SOURCE / "bench"))
    small, large = (dask_memory.run_once(count, tmp_path, source_env(SOURCE), str(CONFIG))
                    for count in (2000, 20000))
    assert large["client_kib"] <= 1.25 * small["client_kib"], (small, large)
    assert large["scheduler_kib"] <= 1.25 * small["scheduler_kib"], (small, large)
    for before, after in zip(small["worker_kib"], large["worker_kib"]):
        assert after <= 1.25 * before, (small, large)
