"""The README's Python example runs as printed, from the source tree."""

from __future__ import annotations

import os
import re
import subprocess
import sys

from conftest import SOURCE


def test_the_readme_example_runs() -> None:
    text = (SOURCE / "README.md").read_text(encoding="utf-8")
    blocks = re.findall(r"```python\n(.*?)```", text, flags=re.S)
    assert len(blocks) == 1 and len(blocks[0].strip().splitlines()) == 5, blocks
    env = dict(os.environ, PYTHONPATH=str(SOURCE / "python"))
    run = subprocess.run([sys.executable, "-c", blocks[0]], cwd=SOURCE, env=env, capture_output=True,
                         text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0] == "STATE_OK"
    assert "noisy_right_channel_8000_stereo.wav" in run.stdout and "STATE_SIGNAL_NOISE_FAILED" in run.stdout
    assert "clean_16000_mono.wav" not in "\n".join(lines[1:])
