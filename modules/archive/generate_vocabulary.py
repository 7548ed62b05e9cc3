#!/usr/bin/env python3
"""Turns vocabulary.json into the C++ header and the Python module that spell it.

    generate_vocabulary.py vocabulary.json --header OUT.h --python OUT.py

Either output may be left out. A file is rewritten only when its text changes, so a build that
regenerates it does not rebuild what includes it.
"""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path
from typing import Any, Optional

NOTICE = "Generated from modules/archive/vocabulary.json by generate_vocabulary.py: do not edit."


def c_text(value: Optional[str]) -> str:
    if value is None:
        return "nullptr"
    return json.dumps(value, ensure_ascii=False)


def header(table: dict[str, Any]) -> str:
    lines = [f"// {NOTICE}", "#pragma once", "", "#include <cstddef>", "#include <cstdint>", "",
             "namespace sonara_vocabulary {", "",
             f"constexpr int RESULTS_SCHEMA = {table['results_schema']};", "",
             "struct SlotWord {", "    const char *name;", "    const char *unit;  // null: no unit",
             "    const char *property;  // the configuration entry that judges it",
             "    const char *label;", "    bool integer;  // whole numbers only", "};", "",
             "constexpr SlotWord SLOTS[] = {"]
    integers = set(table["integer_slots"])
    for slot in table["slots"]:
        lines.append(f"    {{{c_text(slot['name'])}, {c_text(slot['unit'])}, {c_text(slot['property'])}, "
                     f"{c_text(slot['label'])}, {'true' if slot['name'] in integers else 'false'}}},")
    lines += ["};", "constexpr size_t SLOT_COUNT = sizeof SLOTS / sizeof SLOTS[0];", "",
              "struct CodeWord {", "    int32_t code;", "    const char *text;", "};", "",
              "// A slot's own state: 0, 1, 2.", "constexpr CodeWord SLOT_STATES[] = {"]
    for entry in table["slot_states"]:
        lines.append(f"    {{{entry['code']}, {c_text(entry['text'])}}},")
    lines += ["};", "", "struct StateWord {", "    int32_t code;", "    const char *name;",
              "    const char *slot;  // the slot whose failure this state names, or null",
              "    const char *meaning;", "};", "", "constexpr StateWord STATES[] = {"]
    for entry in table["states"]:
        lines.append(f"    {{{entry['code']}, {c_text(entry['name'])}, {c_text(entry['slot'])}, "
                     f"{c_text(entry['meaning'])}}},")
    lines += ["};", "", "// The voice_session_ return codes.", "constexpr CodeWord SESSION_RETURN_CODES[] = {"]
    for entry in table["session_return_codes"]:
        lines.append(f"    {{{entry['code']}, {c_text(entry['text'])}}},")
    lines += ["};", ""]
    for entry in table["exit_statuses"]:
        lines.append(f"constexpr int EXIT_{entry['name'].upper()} = {entry['code']};  // {entry['meaning']}")
    lines.append("")
    for key in ("wav_extensions", "decode_extensions", "list_extensions"):
        items = ", ".join(c_text(item) for item in table[key])
        lines.append(f"constexpr const char *{key.upper()}[] = {{{items}}};")
    lines += ["", "struct DetailWord {", "    const char *name;", "    const char *unit;", "    bool integer;",
              "};", "", "// Per-channel evidence, in record order.", "constexpr DetailWord DETAIL_FIELDS[] = {"]
    for entry in table["detail_fields"]:
        lines.append(f"    {{{c_text(entry['name'])}, {c_text(entry['unit'])}, "
                     f"{'true' if entry['integer'] else 'false'}}},")
    lines += ["};", f"constexpr size_t DETAIL_CSV_CHANNELS = {table['detail_csv_channels']};", "",
              "}  // namespace sonara_vocabulary", ""]
    return "\n".join(lines)


def python(table: dict[str, Any]) -> str:
    def tuple_of(items: list[Any]) -> str:
        return "(" + "".join(f"{item!r}, " for item in items) + ")"

    slots = ", ".join(f"{slot['name']!r}: {slot['unit']!r}" for slot in table["slots"])
    properties = ", ".join(f"{slot['name']!r}: {slot['property']!r}" for slot in table["slots"])
    labels = ", ".join(f"{slot['name']!r}: {slot['label']!r}" for slot in table["slots"])
    states = "".join(f"    ({entry['code']}, {entry['name']!r}, {entry['slot']!r}, {entry['meaning']!r}),\n"
                     for entry in table["states"])
    slot_states = ", ".join(f"{entry['code']}: {entry['text']!r}" for entry in table["slot_states"])
    codes = ", ".join(f"{entry['code']}: {entry['text']!r}" for entry in table["session_return_codes"])
    exits = "".join(f"EXIT_{entry['name'].upper()} = {entry['code']}  # {entry['meaning']}\n"
                    for entry in table["exit_statuses"])
    details = "".join(f"    ({entry['name']!r}, {entry['unit']!r}, {entry['integer']!r}),\n"
                      for entry in table["detail_fields"])
    return (f'"""{NOTICE}"""\n\n'
            f"RESULTS_SCHEMA = {table['results_schema']}\n\n"
            "# Slots in the library's chain order, with the unit of each value (None: no unit).\n"
            f"SLOT_UNITS = {{{slots}}}\n"
            f"SLOT_PROPERTIES = {{{properties}}}\n"
            f"SLOT_LABELS = {{{labels}}}\n"
            f"INTEGER_SLOTS = {tuple_of(table['integer_slots'])}\n\n"
            "# (code, name, slot whose failure it names, meaning)\n"
            f"STATES = (\n{states})\n"
            f"SLOT_STATE_TEXTS = {{{slot_states}}}\n"
            f"SESSION_RETURN_CODES = {{{codes}}}\n\n"
            f"{exits}\n"
            f"WAV_EXTENSIONS = {tuple_of(table['wav_extensions'])}\n"
            f"DECODE_EXTENSIONS = {tuple_of(table['decode_extensions'])}\n"
            f"LIST_EXTENSIONS = {tuple_of(table['list_extensions'])}\n\n"
            "# Per-channel evidence: (name, unit, integer)\n"
            f"DETAIL_FIELDS = (\n{details})\n"
            f"DETAIL_CSV_CHANNELS = {table['detail_csv_channels']}\n")


def write_if_changed(path: Path, text: str) -> None:
    if path.exists() and path.read_text(encoding="utf-8") == text:
        return
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text, encoding="utf-8")


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("table", type=Path)
    parser.add_argument("--header", type=Path)
    parser.add_argument("--python", type=Path)
    parser.add_argument("--check", action="store_true",
                        help="compare instead of writing; exit 1 when an output is out of date")
    options = parser.parse_args(argv)
    table = json.loads(options.table.read_text(encoding="utf-8"))
    stale = []
    for path, make in ((options.header, header), (options.python, python)):
        if path is None:
            continue
        text = make(table)
        if options.check:
            if not path.exists() or path.read_text(encoding="utf-8") != text:
                stale.append(str(path))
        else:
            write_if_changed(path, text)
    if stale:
        print("out of date (regenerate with generate_vocabulary.py): " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
