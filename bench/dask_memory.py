#!/usr/bin/python3
"""Peak memory of `python3 -m sonara.distributed --output` as the archive grows.

For each count N (default 5000 and 50000): N tiny WAV files (hard links of one 0.2 s recording
under N names, so the disk holds one), a loopback cluster (`dask scheduler` and two `dask worker`
processes, one thread each) started for the run alone, the command run against it, and the
peak resident set (VmHWM / ru_maxrss) of the client, the scheduler and each worker. The last
lines give the ratio of the largest N's peaks to the smallest's: the records stream, so no
process should grow with the archive.

    PYTHONPATH=python SONARA_LIBRARY=build/plain/bin/libsonara.so \\
        /usr/bin/python3 bench/dask_memory.py [--counts 5000 50000] [--keep DIR]
"""

from __future__ import annotations

import argparse
import json
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]


def tiny_wav(seconds: float = 0.2, rate: int = 8000) -> bytes:
    samples = [round(8000 * math.sin(2 * math.pi * 440 * n / rate)) for n in range(int(seconds * rate))]
    data = struct.pack(f"<{len(samples)}h", *samples)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def make_archive(folder: Path, count: int) -> None:
    """count names of one recording, 500 to a folder."""
    original = folder / "original.bin"
    original.write_bytes(tiny_wav())
    for index in range(count):
        sub = folder / f"part{index // 500:04d}"
        if index % 500 == 0:
            sub.mkdir()
        os.link(original, sub / f"take{index:06d}.wav")


def peak_kib(pid: int) -> int:
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def dask(role: str) -> list[str]:
    found = shutil.which("dask")
    return [found, role] if found else [shutil.which(f"dask-{role}") or f"dask-{role}"]


def run_once(count: int, work: Path, env: dict[str, str], config: str) -> dict[str, object]:
    archive = work / f"archive{count}"
    archive.mkdir()
    make_archive(archive, count)
    scheduler_file = work / f"scheduler{count}.json"
    logs = open(work / f"cluster{count}.log", "wb")
    scheduler = subprocess.Popen(dask("scheduler") + ["--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                                                      "--scheduler-file", str(scheduler_file)],
                                 stdout=logs, stderr=subprocess.STDOUT, env=env, start_new_session=True)
    workers: list[subprocess.Popen[bytes]] = []
    try:
        deadline = time.monotonic() + 60
        while not scheduler_file.exists() or not scheduler_file.read_text().strip():
            if time.monotonic() > deadline or scheduler.poll() is not None:
                raise RuntimeError("the scheduler did not start")
            time.sleep(0.1)
        address = json.loads(scheduler_file.read_text())["address"]
        for name in ("w0", "w1"):
            workers.append(subprocess.Popen(
                dask("worker") + [address, "--host", "127.0.0.1", "--nthreads", "1", "--nworkers", "1",
                                  "--name", name, "--no-dashboard", "--no-nanny",
                                  "--local-directory", str(work / f"space-{name}-{count}")],
                stdout=logs, stderr=subprocess.STDOUT, env=env, start_new_session=True))
        wait = [sys.executable, "-c", "import distributed, sys; c = distributed.Client(sys.argv[1], timeout=30);"
                " c.wait_for_workers(2, timeout=60); c.close()", address]
        subprocess.run(wait, check=True, env=env, timeout=120)
        out = work / f"records{count}.jsonl"
        started = time.monotonic()
        client = subprocess.Popen([sys.executable, "-m", "sonara.distributed", "--scheduler", address,
                                   "--config", config, "--output", str(out), str(archive)],
                                  env=env, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(client.pid, 0)
        client.returncode = os.waitstatus_to_exitcode(status)
        stderr = client.stderr.read().decode(errors="replace") if client.stderr else ""
        seconds = time.monotonic() - started
        with open(out, "rb") as records:
            lines = sum(1 for _ in records)
        if lines != count:
            raise RuntimeError(f"{lines} records for {count} files (exit {client.returncode}): {stderr[-2000:]}")
        return {"files": count, "seconds": round(seconds, 1), "exit": client.returncode,
                "client_kib": usage.ru_maxrss, "scheduler_kib": peak_kib(scheduler.pid),
                "worker_kib": [peak_kib(worker.pid) for worker in workers]}
    finally:
        for process in workers + [scheduler]:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        for process in workers + [scheduler]:
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=30)
        logs.close()
        shutil.rmtree(archive)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--counts", type=int, nargs="+", default=[5000, 50000])
    parser.add_argument("--config", default=str(SOURCE / "config" / "cv_configuration.json"))
    parser.add_argument("--keep", metavar="DIR", help="work in DIR and keep its logs")
    args = parser.parse_args()
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(SOURCE / "python"), env.get("PYTHONPATH")]))
    work = Path(args.keep) if args.keep else Path(tempfile.mkdtemp(prefix="sonara-dask-memory-"))
    work.mkdir(parents=True, exist_ok=True)
    try:
        runs = [run_once(count, work, env, args.config) for count in args.counts]
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(f"{'files':>8} {'seconds':>8} {'client MiB':>11} {'scheduler MiB':>14} {'workers MiB':>14}")
    for run in runs:
        workers = " ".join(f"{kib / 1024:.0f}" for kib in run["worker_kib"])  # type: ignore[union-attr]
        print(f"{run['files']:>8} {run['seconds']:>8} {run['client_kib'] / 1024:>11.1f} "  # type: ignore[operator]
              f"{run['scheduler_kib'] / 1024:>14.1f} {workers:>14}")  # type: ignore[operator]
    if len(runs) > 1:
        first, last = runs[0], runs[-1]
        ratios = {"client": last["client_kib"] / first["client_kib"],  # type: ignore[operator]
                  "scheduler": last["scheduler_kib"] / first["scheduler_kib"],  # type: ignore[operator]
                  "workers": max(b / a for a, b in zip(first["worker_kib"], last["worker_kib"]))}  # type: ignore[arg-type]
        print("growth " + ", ".join(f"{name} {ratio:.2f}x" for name, ratio in ratios.items()))
        return 0 if max(ratios.values()) <= 1.25 else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
