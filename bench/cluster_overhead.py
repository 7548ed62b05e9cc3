#!/usr/bin/env python3
"""What a Dask cluster costs per file: check_archive on a LocalCluster against scan.

The samples are linked into FILES names in a scratch folder; scan(jobs=2) checks them with two
threads, check_archive with two single-threaded worker processes of a LocalCluster started
once beforehand (sonara.distributed.local_client; its start-up is reported apart). Each run is
repeated and its median kept; the difference divided by the number of files is the cluster's
overhead per file.

    PYTHONPATH=python python3 bench/cluster_overhead.py [--files 2000] [--repeat 3]
"""

from __future__ import annotations

import argparse
import statistics
import tempfile
import time
from pathlib import Path
from typing import Callable

ROOT = Path(__file__).resolve().parents[1]


def median_seconds(run: Callable[[], object], repeat: int) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--config", default=str(ROOT / "config" / "cv_configuration.json"))
    args = parser.parse_args()

    import sonara
    from sonara.distributed import check_archive, local_client

    samples = sorted((ROOT / "samples").glob("*.wav"))
    with tempfile.TemporaryDirectory() as folder:
        for number in range(args.files):
            sample = samples[number % len(samples)]
            (Path(folder) / f"{number:05d}_{sample.name}").symlink_to(sample)

        scan = median_seconds(lambda: sonara.to_dataframe(
            sonara.scan(folder, args.config, jobs=2)), args.repeat)
        start = time.perf_counter()
        with local_client(workers=2) as client:
            client.wait_for_workers(2, timeout=60)
            startup = time.perf_counter() - start
            rows = [("scan(jobs=2)", scan)]
            for batch in (None, 1, 16):
                seconds = median_seconds(
                    lambda: check_archive(folder, args.config, client=client, batch=batch),
                    args.repeat)
                label = "default" if batch is None else str(batch)
                rows.append((f"check_archive, batch {label}", seconds))

    print(f"{args.files} files, median of {args.repeat} runs; LocalCluster start-up "
          f"{startup:.2f} s (not counted below)\n")
    print("| run | seconds | ms per file | cluster overhead, ms per file |")
    print("|---|---:|---:|---:|")
    for label, seconds in rows:
        overhead = (seconds - scan) / args.files * 1000
        print(f"| {label} | {seconds:.2f} | {seconds / args.files * 1000:.2f} | "
              f"{'–' if label.startswith('scan') else f'{overhead:.2f}'} |")


if __name__ == "__main__":
    main()
