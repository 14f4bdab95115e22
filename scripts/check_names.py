#!/usr/bin/env python3
"""Fails, naming the places, where a C++ file of the repository declares a
name outside the project's scheme.

The scheme: types, functions and constants in PascalCase (no "k" prefix),
local variables, parameters and fields of internal records in camelCase,
private members in camelCase with a trailing underscore. Two habits from
other codebases keep creeping in and are what this check looks for:
"kName" constants and snake_case declarations. Names from the SDK, the
standard library and GoogleTest are only used, never declared here, so
they pass.
"""
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

K_CONSTANT = re.compile(r"\bk[A-Z][A-Za-z0-9]*\b")
# A declaration: a type-looking word (possibly qualified or templated), then
# a snake_case name, then what follows a declared name.
SNAKE_DECLARATION = re.compile(
    r"(?<![\w:.>])([A-Za-z_][\w:]*(?:<[^;(){}]*>)?[&*\s]+)([a-z][a-z0-9]*(?:_[a-z0-9]+)+)\s*(?=[=;({,\[)])")
NOT_TYPES = {"return", "else", "case", "throw", "new", "delete", "goto", "co_return", "sizeof", "typedef", "using",
             "namespace", "operator", "define", "include", "if", "while", "for", "switch", "not", "and", "or"}


def strip_comments_and_strings(text):
    """The code only: comments, string and character literals become blanks,
    so names mentioned in prose or in texts are not read as declarations."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def problems_in(path, text):
    code = strip_comments_and_strings(text)
    found = []
    for number, line in enumerate(code.splitlines(), 1):
        if line.lstrip().startswith("#"):
            continue
        for match in K_CONSTANT.finditer(line):
            found.append(f"{path}:{number}: constant {match.group(0)}: PascalCase, without the k")
        for match in SNAKE_DECLARATION.finditer(line):
            words = match.group(1).split()
            if words and words[-1].strip("&*") in NOT_TYPES:
                continue
            found.append(f"{path}:{number}: {match.group(2)}: camelCase (or PascalCase for a function or type)")
    return found


def main(argv):
    if argv:
        files = [Path(a) for a in argv]
    else:
        listed = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, check=True, capture_output=True,
                                text=True).stdout.split()
        files = [ROOT / f for f in listed]
    problems = []
    for path in files:
        problems += problems_in(path.relative_to(ROOT) if path.is_absolute() else path,
                                path.read_text(encoding="utf-8", errors="replace"))
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"names: {len(problems)} outside the scheme", file=sys.stderr)
        return 1
    print(f"names: {len(files)} C++ files in the scheme")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
