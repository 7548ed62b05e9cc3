"""The golden values: every slot of v_check_all and every detail (segments included) of each
details fixture (every sample and the byte-built files of details_fixtures.py), at full
precision, as the library under test gives them. tests/fixtures/golden_values.json holds them;
test_golden_values.py compares the library with it exactly, so a measured value that moves is
seen even when no state flips.

After a change that is meant to move values, regenerate and review the diff:

    SONARA_LIBRARY=build/plain/bin/libsonara.so PYTHONPATH=python \\
        /usr/bin/python3 python/tests/golden_values.py --write
"""

from __future__ import annotations

import argparse
import json
import math
import os
import sys
from typing import Any, Union

from conftest import CONFIG, SOURCE
from details_fixtures import cases
from library_details import DETAILS_EVIDENCE, DETAILS_SEGMENTS, Check, Library

GOLDEN = SOURCE / "tests" / "fixtures" / "golden_values.json"

Number = Union[float, str]


def number(value: float) -> Number:
    """A double as JSON holds it exactly: a number (shortest repr, read back to the same bits),
    or "nan" / "inf" / "-inf"."""
    return value if math.isfinite(value) else repr(value)


def record(check: Check) -> dict[str, Any]:
    return {
        "result": check.passed,
        "state": check.state,
        "slots": [{"name": s.name, "enable": s.enable, "state": s.state, "value": number(s.value),
                   "text": s.text} for s in check.slots],
        "details": None if check.measured is None else {
            "measured": check.measured,
            "channels": [{"peak_dbfs": number(c.peak_dbfs), "rms_dbfs": number(c.rms_dbfs),
                          "dc_offset": number(c.dc_offset), "clipped_samples": c.clipped_samples,
                          "speech_seconds": number(c.speech_seconds), "frames": c.frames,
                          "segments": None if c.segments is None
                          else [[number(a), number(b)] for a, b in c.segments]}
                         for c in check.channels]},
    }


def measure(library: Library) -> dict[str, Any]:
    records = {}
    with library.session(CONFIG) as session:
        assert session.set_details(DETAILS_EVIDENCE | DETAILS_SEGMENTS)
        for name, content in sorted(cases().items()):
            records[name] = record(session.check(content, all_values=True))
    return {"configuration": str(CONFIG.relative_to(SOURCE)), "files": records}


def main() -> None:
    parser = argparse.ArgumentParser(description="Regenerate tests/fixtures/golden_values.json")
    parser.add_argument("--write", action="store_true", help="write the file (else print it)")
    args = parser.parse_args()
    library = os.environ.get("SONARA_LIBRARY")
    if not library:
        sys.exit("set SONARA_LIBRARY to the built libsonara")
    text = json.dumps(measure(Library(library)), indent=1) + "\n"
    if args.write:
        GOLDEN.write_text(text)
        print(f"wrote {GOLDEN}")
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
