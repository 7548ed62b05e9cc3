"""The library against tests/fixtures/golden_values.json, to the last bit: every slot's value,
state and text of v_check_all and every detail of each fixture. Regenerating is described in
golden_values.py."""

from __future__ import annotations

import json
from typing import Any

import pytest

from golden_values import GOLDEN, measure
from library_details import Library, library_path


def differences(expected: Any, got: Any, where: str = "") -> list[str]:
    if isinstance(expected, dict) and isinstance(got, dict):
        out = [f"{where}.{key}: only in {'golden' if key in expected else 'library'}"
               for key in expected.keys() ^ got.keys()]
        for key in expected.keys() & got.keys():
            out += differences(expected[key], got[key], f"{where}.{key}")
        return out
    if isinstance(expected, list) and isinstance(got, list):
        if len(expected) != len(got):
            return [f"{where}: {len(expected)} entries in golden, {len(got)} from the library"]
        return [d for i, (a, b) in enumerate(zip(expected, got)) for d in differences(a, b, f"{where}[{i}]")]
    # Floats compare by value, and the file holds each one's shortest exact repr.
    if type(expected) is not type(got) or expected != got:
        return [f"{where}: golden {expected!r}, library {got!r}"]
    return []


def test_every_value_equals_the_golden_table() -> None:
    path = library_path()
    if not path:
        pytest.skip("SONARA_LIBRARY is not set (CTest sets it to the built libsonara)")
    golden = json.loads(GOLDEN.read_text())
    found = differences(golden, measure(Library(path)))
    assert not found, ("values moved (if meant, regenerate as golden_values.py says):\n" +
                       "\n".join(sorted(found)[:60]))
