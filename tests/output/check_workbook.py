#!/usr/bin/python3
"""Reads a workbook with openpyxl and compares it with an expectations file (JSON).

Usage: check_workbook.py WORKBOOK EXPECTATIONS

Expectations: {"rows": [[cell text, ...], ...], "used_rows": N,
               "autofilter": "A1:L1", "freeze": "A2",
               "width_ranges": {"A": [low, high], ...} (optional; others must lie in 8 to 61),
               "sheet_names": [name, ...] (optional; without it the workbook has one sheet),
               "sheet": index of the sheet checked (optional, 0),
               "widths_as_sheet": index (optional; every column exactly as wide as there)}
An empty text means an empty cell. Cell texts are compared after the "_xHHHH_" escapes of the
file format are decoded, as a spreadsheet program decodes them. Prints every mismatch and
exits with 1 when there is one.
"""
import json
import re
import sys

import openpyxl
from openpyxl.utils import get_column_letter

ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")
MIN_WIDTH, MAX_WIDTH = 8, 61


def decode(text):
    return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), text)


def column_widths(sheet):
    widths = {}
    for dimension in sheet.column_dimensions.values():
        for index in range(dimension.min or 0, (dimension.max or 0) + 1):
            widths[index] = dimension.width
    return widths


def check(workbook_path, expected):
    problems = []
    workbook = openpyxl.load_workbook(workbook_path)
    names = [s.title for s in workbook.worksheets]
    if "sheet_names" in expected:
        if names != expected["sheet_names"]:
            problems.append(f"sheets {names!r}, expected {expected['sheet_names']!r}")
    elif len(names) != 1:
        problems.append(f"{len(names)} sheets instead of 1")
    checked = expected.get("sheet", 0)
    if checked >= len(names):
        return problems + [f"no sheet {checked}"]
    sheet = workbook.worksheets[checked]

    if sheet.auto_filter.ref != expected["autofilter"]:
        problems.append(f"auto-filter {sheet.auto_filter.ref!r}, expected {expected['autofilter']!r}")
    if sheet.freeze_panes != expected["freeze"]:
        problems.append(f"frozen at {sheet.freeze_panes!r}, expected {expected['freeze']!r}")

    used_rows = max((c.row for row in sheet.iter_rows() for c in row if c.value is not None),
                    default=0)
    if used_rows != expected["used_rows"]:
        problems.append(f"{used_rows} used rows, expected {expected['used_rows']}")

    rows = expected["rows"]
    width = max((len(r) for r in rows), default=0)
    for row in sheet.iter_rows(min_row=1, max_row=max(sheet.max_row, len(rows)),
                               max_col=max(sheet.max_column, width)):
        for cell in row:
            r, c = cell.row - 1, cell.column - 1
            want = rows[r][c] if r < len(rows) and c < len(rows[r]) else ""
            if cell.value is None:
                if want != "":
                    problems.append(f"{cell.coordinate} is empty, expected {want!r}")
                continue
            if cell.data_type != "s" or not isinstance(cell.value, str):
                problems.append(f"{cell.coordinate} has type {cell.data_type!r}, not text")
                continue
            got = decode(cell.value)
            if got != want:
                problems.append(f"{cell.coordinate} is {got[:200]!r}, expected {want[:200]!r}"
                                f" (lengths {len(got)} and {len(want)})")
            bold = bool(cell.font and cell.font.b)
            if bold != (cell.row == 1):
                problems.append(f"{cell.coordinate} bold is {bold}")

    widths = column_widths(sheet)
    if "widths_as_sheet" in expected:
        other = column_widths(workbook.worksheets[expected["widths_as_sheet"]])
        if widths != other:
            problems.append(f"column widths {widths!r}, expected {other!r}")
    ranges = expected.get("width_ranges", {})
    for index in range(1, width + 1):
        letter = get_column_letter(index)
        low, high = ranges.get(letter, (MIN_WIDTH, MAX_WIDTH))
        column_width = widths.get(index)
        if not column_width or not low <= column_width <= high:
            problems.append(f"column {letter} width {column_width!r}, expected {low} to {high}")
    return problems


def main():
    workbook_path, expectations_path = sys.argv[1], sys.argv[2]
    with open(expectations_path, encoding="utf-8") as f:
        expected = json.load(f)
    problems = check(workbook_path, expected)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
