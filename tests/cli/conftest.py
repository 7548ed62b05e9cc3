import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from skip_policy import pytest_make_collect_report, pytest_runtest_makereport  # noqa: E402,F401
