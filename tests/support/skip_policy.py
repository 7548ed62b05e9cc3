"""A pytest plugin for the test command: a skip counts as a failure unless its reason starts with
"by design: ". CI installs every dependency, so a skip for a missing one would hide a front end
that was never tested. Active when SONARA_NO_SKIPS is set; conftest.py files import it."""
from __future__ import annotations

import os
from typing import Any, Generator

import pytest

BY_DESIGN = "by design: "


def _reason(report: Any) -> str:
    longrepr = report.longrepr
    if isinstance(longrepr, tuple) and len(longrepr) == 3:
        return str(longrepr[2])
    return str(longrepr)


def _refuse(report: Any) -> None:
    if not os.environ.get("SONARA_NO_SKIPS") or not report.skipped or hasattr(report, "wasxfail"):
        return
    reason = _reason(report)
    if reason.removeprefix("Skipped: ").startswith(BY_DESIGN):
        return
    report.outcome = "failed"
    report.longrepr = f"skipped, but SONARA_NO_SKIPS is set and the reason is not by design: {reason}"


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: Any, call: Any) -> Generator[None, Any, None]:
    outcome = yield
    _refuse(outcome.get_result())


@pytest.hookimpl(hookwrapper=True)
def pytest_make_collect_report(collector: Any) -> Generator[None, Any, None]:
    outcome = yield
    _refuse(outcome.get_result())
