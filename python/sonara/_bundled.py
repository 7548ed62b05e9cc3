"""The shared libraries a wheel carries in ``sonara/_libs``: looked at before any other copy, so
an installed wheel runs its own libraries whatever else the system holds. A package installed
any other way has no such folder, and nothing changes for it."""

from __future__ import annotations

from pathlib import Path
from typing import Optional

LIBRARY_DIR = Path(__file__).resolve().parent / "_libs"


def bundled_library(soname: str) -> Optional[str]:
    """The path of the bundled library of that file name, or None when the package has none."""
    path = LIBRARY_DIR / soname
    return str(path) if path.is_file() else None
