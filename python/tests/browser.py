"""Headless Chromium under Selenium, the way the report's tests and screenshots drive it."""

from __future__ import annotations

import contextlib
import os
import tempfile
from typing import Iterator

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Requests the page itself makes: everything else (the browser's own services) is switched off.
LOCAL_SCHEMES = ("data:", "file:", "blob:", "about:")


@contextlib.contextmanager
def chromium(width: int = 1400, height: int = 1000) -> Iterator["object"]:
    """A fresh headless Chromium (its own profile folder, removed afterwards)."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    with tempfile.TemporaryDirectory(prefix="sonara-chromium-") as profile:
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless", "--disable-gpu", "--disable-quic", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update",
                         "--disable-sync", "--disable-dev-shm-usage", f"--user-data-dir={profile}",
                         f"--window-size={width},{height}"):
            options.add_argument(argument)
        if os.geteuid() == 0:
            options.add_argument("--no-sandbox")
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        # The sanitizer runtime some test runs preload must not reach the browser.
        environment = {k: v for k, v in os.environ.items()
                       if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
        service = Service(CHROMEDRIVER, env=environment)
        driver = webdriver.Chrome(service=service, options=options)
        try:
            yield driver
        finally:
            driver.quit()


def requests_made(driver: "object") -> list[str]:
    """Every resource the page loaded, its own navigation included (Resource Timing)."""
    return driver.execute_script(  # type: ignore[attr-defined, no-any-return]
        "return performance.getEntriesByType('navigation').concat("
        "performance.getEntriesByType('resource')).map(e => e.name)")
