"""One tree of awkward inputs through every front end: `sonara check`, `sonara.scan` and
`python3 -m sonara.distributed` on a loopback cluster write the same JSON Lines, byte for byte,
and end with the same exit status."""

from __future__ import annotations

import json
import os
import struct
import subprocess
import sys
from pathlib import Path
from typing import Iterator, Optional

import pytest

import sonara
from conftest import CONFIG, SAMPLES, SOURCE
from dask_cluster import LoopbackCluster, two_worker_cluster

RUN_TIMEOUT = 300.0
DEPTH = 1200
NON_UTF8 = b"caf\xe9 take.wav"
FORMULA = "=HYPERLINK(1).wav"
SPEECH = (SOURCE / "samples" / "clean_8000_stereo.wav").read_bytes()[44:]
LEFT = b"".join(SPEECH[i:i + 2] for i in range(0, len(SPEECH) - 3, 4))  # one channel of speech


def chunk(name: bytes, body: bytes, pad: bool = True) -> bytes:
    return name + struct.pack("<I", len(body)) + body + (b"\0" if pad and len(body) % 2 else b"")


def riff(*chunks: bytes) -> bytes:
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def fmt(code: int, rate: int, bits: int, extra: Optional[bytes] = None) -> bytes:
    align = (bits + 7) // 8
    body = struct.pack("<HHIIHH", code, 1, rate, rate * align, align, bits)
    return chunk(b"fmt ", body + (extra or b""))


# 8000 Hz speech whose header, as a second 'fmt ' chunk, claims ten times the rate.
LYING = fmt(1, 80000, 16)


def awkward_files() -> dict[str, bytes]:
    return {
        # A PCM 'fmt ' then a float one: every front end describes the one libsonara reads.
        "two_fmt_chunks.wav": riff(fmt(1, 8000, 16), fmt(3, 8000, 32), chunk(b"data", LEFT)),
        # An 18-byte 'fmt ' whose cbSize would skip the lying chunk after it.
        "cbsize_skips_a_chunk.wav": riff(fmt(1, 8000, 16, struct.pack("<H", len(LYING))), LYING,
                                         chunk(b"data", LEFT)),
        # A one-byte chunk without its pad byte, then the lying chunk.
        "odd_chunk_unpadded.wav": riff(fmt(1, 8000, 16), chunk(b"junk", b"x", pad=False), LYING,
                                       chunk(b"data", LEFT)),
        "empty.wav": b"",
        FORMULA: riff(fmt(1, 8000, 16), chunk(b"data", LEFT)),
        "+cmd.WAV": SAMPLES[0].read_bytes(),
    }


def make_deep(top: Path, depth: int, data: bytes) -> None:
    """top/d/d/.../d/bottom.wav, each folder made from the one above (no recursion, no long
    path handed to a single call)."""
    top.mkdir()
    fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for _ in range(depth):
            os.mkdir("d", dir_fd=fd)
            inner = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = inner
        out = os.open("bottom.wav", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
        with os.fdopen(out, "wb") as file:
            file.write(data)
    finally:
        os.close(fd)


class Tree:
    def __init__(self, root: Path) -> None:
        self.root = root / "tree"
        self.root.mkdir()
        for name, data in awkward_files().items():
            (self.root / name).write_bytes(data)
        for sample in SAMPLES:
            (self.root / sample.name).write_bytes(sample.read_bytes())
        with open(os.fsencode(self.root) + b"/" + NON_UTF8, "wb") as file:
            file.write(SAMPLES[0].read_bytes())
        os.mkfifo(self.root / "pipe.wav")
        self.deep = self.root / "deep" / Path(*["d"] * DEPTH) / "bottom.wav"
        make_deep(self.root / "deep", DEPTH, SAMPLES[0].read_bytes())
        sparse = self.root / "sparse_5g.wav"
        with open(sparse, "wb") as file:
            file.write(SAMPLES[0].read_bytes()[:44])
            file.truncate(5 << 30)  # over the default 4 GiB limit, without the disk space
        self.named_fifo = root / "named.fifo"
        os.mkfifo(self.named_fifo)
        self.listing = root / "takes.lst"
        self.listing.write_text(f"# takes to check again\n\n{SAMPLES[1]}\n  # not a comment: a path\n"
                                f"{root / 'missing.wav'}\r\n")
        self.nul_list = root / "takes.nul"
        self.nul_list.write_bytes(b"\0".join([os.fsencode(SAMPLES[2]), os.fsencode(self.root) + b"/" + NON_UTF8,
                                              os.fsencode(self.root / "deep")]) + b"\0")

    @property
    def given(self) -> list[Path]:
        return [self.root, self.named_fifo, self.listing]


@pytest.fixture(scope="module")
def tree(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Tree]:
    made = Tree(tmp_path_factory.mktemp("parity"))
    yield made
    # pytest's own clean-up recurses once per level; rm walks the 1200 levels without.
    subprocess.run(["rm", "-rf", "--", str(made.root / "deep")], check=True, timeout=60)


@pytest.fixture(scope="module")
def cluster(tmp_path_factory: pytest.TempPathFactory) -> Iterator[LoopbackCluster]:
    pytest.importorskip("distributed")
    yield from two_worker_cluster(tmp_path_factory.mktemp("cluster"), SOURCE)


def run_cli(paths: list[Path], options: list[str], files0: Optional[Path]) -> tuple[bytes, int]:
    program = os.environ.get("SONARA_CLI")
    if not program:
        pytest.skip("SONARA_CLI is not set (CTest sets it to the built sonara program)")
    command = [program, "check", "-f", "jsonl", "--quiet", "-j", "2", "--config", str(CONFIG),
               *options, *(["--files0-from", str(files0)] if files0 else []), *map(str, paths)]
    run = subprocess.run(command, capture_output=True, timeout=RUN_TIMEOUT)
    assert run.returncode in (0, 1, 3), run.stderr
    return run.stdout, run.returncode


def run_scan(paths: list[Path], options: list[str], files0: Optional[Path]) -> tuple[bytes, int]:
    keywords = {"strict": "--strict" in options, "all": "--all" in options}
    if "--max-size" in options:
        keywords["max_size"] = int(options[options.index("--max-size") + 1])
    results = sonara.scan(paths, CONFIG, jobs=3, files0=files0, **keywords)
    text = "".join(result.record_text for _, result in results)
    return text.encode("utf-8"), results.exit_status


def run_dask(cluster: LoopbackCluster, paths: list[Path], options: list[str], files0: Optional[Path],
             out: Path) -> tuple[bytes, int]:
    command = [sys.executable, "-m", "sonara.distributed", "--scheduler", cluster.address,
               "--config", str(CONFIG), "--output", str(out), "--batch", "3", *options,
               *(["--files0-from", str(files0)] if files0 else []), *map(str, paths)]
    run = subprocess.run(command, capture_output=True, timeout=RUN_TIMEOUT, env=cluster.env)
    assert run.returncode in (0, 1, 3), run.stderr
    return out.read_bytes(), run.returncode


def test_the_awkward_tree_gives_the_same_records_and_status_everywhere(
        tree: Tree, cluster: LoopbackCluster, tmp_path: Path) -> None:
    for options in (["--strict"], ["--strict", "--all", "--max-size", "60000"]):
        cli = run_cli(tree.given, options, tree.nul_list)
        assert run_scan(tree.given, options, tree.nul_list) == cli, options
        assert run_dask(cluster, tree.given, options, tree.nul_list, tmp_path / "out.jsonl") == cli, options

        records = [json.loads(line) for line in cli[0].decode("utf-8").splitlines()]
        by_path = {os.fsencode(record["path"]): record for record in records}
        assert cli[1] == 3 and len(by_path) == len(records)  # each path once; some not checked
        assert [record["path"] for record in records] == sorted(
            (record["path"] for record in records), key=os.fsencode)
        root = os.fsencode(tree.root)
        # Every path named or found has its record: a FIFO is reported, never waited on.
        for fifo in (root + b"/pipe.wav", os.fsencode(tree.named_fifo)):
            assert "FIFO" in by_path[fifo]["error"]
        # A WAV is read as it goes, whatever its size: 5 GiB fail the length limit unread.
        assert by_path[os.fsencode(tree.root / "sparse_5g.wav")]["state"] == 110  # length first
        assert "error" in by_path[os.fsencode(tree.listing.parent / "missing.wav")]
        assert b"  # not a comment: a path" in by_path  # only a line that begins with # is one
        assert not any(path.startswith(b"#") or b"/#" in path for path in by_path)
        # The name that is not UTF-8 keeps its bytes; the 1200-level folder is walked.
        assert root + b"/" + NON_UTF8 in by_path and os.fsencode(tree.deep) in by_path
        deep = by_path[os.fsencode(tree.deep)]
        for name in ("two_fmt_chunks.wav", "cbsize_skips_a_chunk.wav", "odd_chunk_unpadded.wav"):
            record = by_path[root + b"/" + name.encode()]
            assert "state" in record and "strict" in record, name
        # --max-size bounds only what is decoded: these WAV files are judged whatever it says.
        assert deep["state"] == by_path[root + b"/" + NON_UTF8]["state"] == 0


@pytest.mark.parametrize("case, status", [("passing", 0), ("failing", 1), ("empty_folder", 3),
                                          ("unknown_files_only", 3)])
def test_the_exit_status_is_the_same_everywhere(case: str, status: int, cluster: LoopbackCluster,
                                                tmp_path: Path) -> None:
    folder = tmp_path / case
    folder.mkdir()
    if case == "passing":
        (folder / "clean.wav").write_bytes((SOURCE / "samples" / "clean_16000_mono.wav").read_bytes())
    elif case == "failing":
        (folder / "clean.wav").write_bytes((SOURCE / "samples" / "clean_16000_mono.wav").read_bytes())
        (folder / "noisy.wav").write_bytes((SOURCE / "samples" / "noisy_16000_mono.wav").read_bytes())
    elif case == "unknown_files_only":
        (folder / "notes.md").write_text("not a recording")
    cli = run_cli([folder], [], None)
    assert cli[1] == status
    assert run_scan([folder], [], None) == cli
    assert run_dask(cluster, [folder], [], None, tmp_path / "out.jsonl") == cli


def test_a_newline_list_holding_a_nul_is_refused_everywhere(tree: Tree, cluster: LoopbackCluster,
                                                            tmp_path: Path) -> None:
    listing = tmp_path / "merged.txt"
    listing.write_bytes(os.fsencode(SAMPLES[0]) + b"\0" + os.fsencode(SAMPLES[1]) + b"\n")
    program = os.environ.get("SONARA_CLI")
    if not program:
        pytest.skip("SONARA_CLI is not set (CTest sets it to the built sonara program)")
    run = subprocess.run([program, "check", "--quiet", "--config", str(CONFIG), str(listing)],
                         capture_output=True, timeout=RUN_TIMEOUT)
    assert run.returncode == 2 and run.stdout == b""
    with pytest.raises(sonara.UsageError, match="NUL"):
        sonara.scan([listing], CONFIG)
    dask = subprocess.run([sys.executable, "-m", "sonara.distributed", "--scheduler", cluster.address,
                           "--config", str(CONFIG), str(listing)], capture_output=True,
                          timeout=RUN_TIMEOUT, env=cluster.env)
    assert dask.returncode == 2 and dask.stdout == b"" and b"NUL" in dask.stderr
