"""The package's version: the project's one version, ``project(VERSION)`` in the top
CMakeLists.txt.

A built or installed package carries it in ``_generated_version.py`` (written by setup.py, by
``cmake --install``, and by CMake's configure step into the checkout, where git ignores it); the
package in a checkout that was never configured reads that CMakeLists.txt.
"""

from __future__ import annotations

import re
from pathlib import Path

_PROJECT_LINE = re.compile(r"^project\(\s*sonara\s+VERSION\s+(\d+\.\d+\.\d+)\b", re.MULTILINE)


def source_version(source: Path) -> str:
    """The version set in ``<source>/CMakeLists.txt``."""
    path = source / "CMakeLists.txt"
    match = _PROJECT_LINE.search(path.read_text(encoding="utf-8"))
    if match is None:
        raise RuntimeError(f"{path} sets no project(sonara VERSION major.minor.patch)")
    return match.group(1)


try:
    from ._generated_version import VERSION  # type: ignore[import-not-found]
except ImportError:
    # setup.py loads this file on its own, only for source_version; as sonara._version in a
    # source checkout, the checkout's CMakeLists.txt gives the version.
    if __package__:
        VERSION = source_version(Path(__file__).resolve().parent.parent.parent)
