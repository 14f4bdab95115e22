#!/usr/bin/env python3
"""Keeps the exit codes in step: the codes of `UpdateOutcome` in the code,
the table in docs/ADMINISTRATORS.md that administrators act on, and the
README's copy of it. Deployment engines act on these numbers, so a code
added, changed or described differently in one place only is an error.
Prints what differs and exits 1; exits 0 when all three agree."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def read(relative):
    with open(os.path.join(ROOT, relative), encoding="utf-8") as f:
        return f.read()


def enum_codes(text):
    body = re.search(r"enum class UpdateOutcome\b[^{]*\{(.*?)\};", text, re.S)
    return {int(value) for value in re.findall(r"^\s*\w+\s*=\s*(\d+)\s*,", body.group(1), re.M)} if body else set()


def table(text):
    """The rows of the first table whose header starts with "code" or
    "exit code": code -> meaning."""
    rows, inside = {}, False
    for line in text.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")] if line.startswith("|") else None
        if cells is None:
            if inside:
                break
            continue
        if cells[0] in ("code", "exit code"):
            inside = True
        elif inside and cells[0].isdigit():
            rows[int(cells[0])] = cells[1]
    return rows


def problems(enum_text, admin_text, readme_text):
    found = []
    codes, admin, readme = enum_codes(enum_text), table(admin_text), table(readme_text)
    if not codes:
        found.append("driver/update_sequence.h: no codes in UpdateOutcome")
    for name, rows in (("docs/ADMINISTRATORS.md", admin), ("README.md", readme)):
        for code in sorted(codes - set(rows)):
            found.append("%s: exit code %d is not in the table" % (name, code))
        for code in sorted(set(rows) - codes):
            found.append("%s: exit code %d is in the table, not in UpdateOutcome" % (name, code))
    for code in sorted(set(admin) & set(readme)):
        if admin[code] != readme[code]:
            found.append("exit code %d: README.md says %r, docs/ADMINISTRATORS.md %r" % (code, readme[code], admin[code]))
    return found


def main():
    found = problems(read("driver/update_sequence.h"), read("docs/ADMINISTRATORS.md"), read("README.md"))
    for p in found:
        print("exit codes: " + p)
    if not found:
        print("exit codes: %d, the same in the code and both tables" % len(enum_codes(read("driver/update_sequence.h"))))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
