"""A real Dask cluster on loopback for tests: one scheduler and single-threaded workers.

Every process is started here and ended here by its own process id; every wait is bounded.
"""

from __future__ import annotations

import json
import shutil
import signal
import subprocess
import time
from pathlib import Path
from typing import Iterator, Optional, Sequence

import pytest

START_TIMEOUT = 60.0
STOP_TIMEOUT = 20.0


def dask_command(role: str) -> Optional[list[str]]:
    """How to start a scheduler or a worker: `dask ROLE`, else `dask-ROLE`; None when absent."""
    found = shutil.which("dask")
    if found:
        return [found, role]
    found = shutil.which(f"dask-{role}")
    return [found] if found else None


class LoopbackCluster:
    """`dask scheduler` and `dask worker` processes on 127.0.0.1, on ports the system picks."""

    def __init__(self, folder: Path, env: dict[str, str]) -> None:
        self.folder = folder
        self.env = env
        self.address = ""
        self.scheduler: Optional[subprocess.Popen[bytes]] = None
        self.workers: list[subprocess.Popen[bytes]] = []

    def _spawn(self, command: list[str], log: str) -> subprocess.Popen[bytes]:
        stream = open(self.folder / log, "wb")
        try:
            return subprocess.Popen(command, stdout=stream, stderr=subprocess.STDOUT,
                                    env=self.env, cwd=self.folder, start_new_session=True)
        finally:
            stream.close()

    def start(self, workers: int = 2, nthreads: int = 1, nanny: bool = False) -> None:
        scheduler, worker = dask_command("scheduler"), dask_command("worker")
        assert scheduler and worker, "the dask command is missing"
        file = self.folder / "scheduler.json"
        self.scheduler = self._spawn(scheduler + ["--host", "127.0.0.1", "--port", "0",
                                                  "--no-dashboard", "--scheduler-file", str(file)],
                                     "scheduler.log")
        deadline = time.monotonic() + START_TIMEOUT
        while not self.address:
            if self.scheduler.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the scheduler did not start:\n" + self.log("scheduler.log"))
            try:
                self.address = json.loads(file.read_text())["address"]
            except (OSError, ValueError, KeyError):
                time.sleep(0.1)
        for number in range(workers):
            self.add_worker(f"w{number}", nthreads, nanny)

    def add_worker(self, name: str, nthreads: int = 1, nanny: bool = False,
                   extra: Sequence[str] = ()) -> subprocess.Popen[bytes]:
        worker = dask_command("worker")
        assert worker
        command = worker + [*extra, self.address, "--host", "127.0.0.1", "--nthreads", str(nthreads),
                            "--nworkers", "1", "--name", name, "--no-dashboard",
                            "--death-timeout", "30", "--local-directory",
                            str(self.folder / f"space-{name}"),
                            "--nanny" if nanny else "--no-nanny"]
        process = self._spawn(command, f"{name}.log")
        self.workers.append(process)
        return process

    def log(self, name: str) -> str:
        try:
            return (self.folder / name).read_text(errors="replace")[-4000:]
        except OSError:
            return ""

    def stop(self) -> None:
        """Ends every process started here, workers first, each by its own id; a worker
        process that a nanny started and that outlives it is ended by its id too."""
        import psutil

        spawned: list[psutil.Process] = []
        for process in self.workers:
            try:
                spawned += psutil.Process(process.pid).children(recursive=True)
            except psutil.NoSuchProcess:
                pass
        # Workers while the scheduler still answers them (they close faster), then it.
        for group in (self.workers, [self.scheduler]):
            for process in group:
                if process is not None and process.poll() is None:
                    process.send_signal(signal.SIGTERM)
            for process in group:
                if process is None:
                    continue
                try:
                    process.wait(timeout=STOP_TIMEOUT)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(timeout=STOP_TIMEOUT)
        _, alive = psutil.wait_procs(spawned, timeout=STOP_TIMEOUT)
        for child in alive:
            child.kill()
        psutil.wait_procs(alive, timeout=STOP_TIMEOUT)


def source_env(source: Path) -> dict[str, str]:
    """This process's environment with the source tree's package first on the path, for the
    cluster's processes and the commands run against it."""
    import os

    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(source / "python"), env.get("PYTHONPATH")]))
    return env


def wait_for_workers(cluster: LoopbackCluster, count: int) -> None:
    import distributed

    with distributed.Client(cluster.address, timeout=30) as client:
        client.wait_for_workers(count, timeout=START_TIMEOUT)


def two_worker_cluster(folder: Path, source: Path) -> Iterator[LoopbackCluster]:
    """A loopback cluster of two single-threaded workers for a test module's fixture, stopped
    when the module is done; skipped where the dask commands are missing (a failure in CI)."""
    if dask_command("scheduler") is None or dask_command("worker") is None:
        pytest.skip("no dask scheduler/worker command (python3-distributed)")
    started = LoopbackCluster(folder, source_env(source))
    try:
        started.start(workers=2, nthreads=1)
        wait_for_workers(started, 2)
        yield started
    finally:
        started.stop()
