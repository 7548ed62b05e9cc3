"""``python -m sonara``: the versions of the package and of the libraries it runs over.

The library texts come from libsonara_archive (sonara_archive_component_version), loaded from
the folder of the libsonara this package found, so they describe the copies in use.
"""

from __future__ import annotations

import ctypes
import os
import sys
from typing import Optional

from ._bundled import bundled_library
from ._library import SonaraError, library
from ._version import VERSION

ARCHIVE_SONAME = f"libsonara_archive.so.{VERSION}"
# Row label and the engine's name of each component, in the printed order.
COMPONENTS = (("libsoxr", "libsoxr"), ("libsndfile", "libsndfile"), ("detector", "detector"))


def _archive() -> ctypes.CDLL:
    beside = os.path.join(os.path.dirname(library().path), ARCHIVE_SONAME)
    candidates = [bundled_library(ARCHIVE_SONAME)]
    candidates += [beside] if os.sep in library().path else []
    errors = []
    for candidate in [path for path in candidates if path] + [ARCHIVE_SONAME]:
        try:
            handle = ctypes.CDLL(candidate)
        except OSError as error:
            errors.append(str(error))
            continue
        handle.sonara_archive_component_version.restype = ctypes.c_char_p
        handle.sonara_archive_component_version.argtypes = [ctypes.c_char_p]
        return handle
    raise SonaraError("libsonara_archive could not be loaded: " + "; ".join(errors))


def versions() -> list[tuple[str, str]]:
    """(what, version) rows: the package, libsonara and what the libraries link."""
    archive = _archive()

    def component(name: str) -> str:
        text: Optional[bytes] = archive.sonara_archive_component_version(name.encode())
        return text.decode("utf-8", "replace") if text is not None else "unknown"

    rows = [("sonara", f"{VERSION} (Python package, {os.path.dirname(__file__)})"),
            ("libsonara", f"{component('libsonara')}, vendor {component('vendor')} ({library().path})")]
    rows += [(label, component(name)) for label, name in COMPONENTS]
    return rows


def main() -> int:
    try:
        rows = versions()
    except SonaraError as error:
        print(f"sonara: {error}", file=sys.stderr)
        return 1
    width = max(len(label) for label, _ in rows)
    for label, text in rows:
        print(f"{label:<{width}}  {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
