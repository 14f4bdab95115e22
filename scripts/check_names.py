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

Namespaces: the product's names stand in the global namespace, beside the
Win32 names they use, and what a file keeps to itself in an anonymous one.
A named namespace is PascalCase and named for the file or the folder that
declares it (support_log.h: SupportLog; tests/sim/: Sim), so a qualified
name says where it lives. The implementation's own namespaces, reopened
to replace a hook (__gnu_cxx), and std pass.
"""
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# "kName" constants, digits after the k too ("k32BitView"); a short local
# such as k2 passes.
K_CONSTANT = re.compile(r"\bk[0-9]*[A-Z][A-Za-z0-9]*\b")
# A declaration: a type-looking word (possibly qualified or templated), then
# a snake_case name, then what follows a declared name.
SNAKE_DECLARATION = re.compile(
    r"(?<![\w:.>])([A-Za-z_][\w:]*(?:<[^;(){}]*>)?[&*\s]+)([a-z][a-z0-9]*(?:_[a-z0-9]+)+)\s*(?=[=;({,\[)])")
NAMESPACE = re.compile(r"\bnamespace\s+([A-Za-z_][\w:]*)\s*\{")
PASCAL = re.compile(r"[A-Z][A-Za-z0-9]*$")
NOT_TYPES = {"return", "else", "case", "throw", "new", "delete", "goto", "co_return", "sizeof", "typedef", "using",
             "namespace", "operator", "define", "include", "if", "while", "for", "switch", "not", "and", "or"}


def strip_comments_and_strings(text):
    """The code only: comments, string and character literals become blanks,
    so names mentioned in prose or in texts are not read as declarations."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def pascal(word):
    """support_log -> SupportLog."""
    return "".join(part[:1].upper() + part[1:] for part in word.split("_"))


def room_names(path):
    """The namespace names a file may declare: its own stem's and its folders'."""
    path = Path(path)
    return {pascal(path.stem)} | {pascal(folder) for folder in path.parts[:-1]}


def namespace_problem(path, name):
    if name.startswith("__") or name == "std":
        return None
    if not all(PASCAL.match(part) for part in name.split("::")):
        return f"namespace {name}: PascalCase, named for its file or folder"
    allowed = room_names(path)
    if name.split("::")[0] not in allowed:
        return f"namespace {name}: named for its file or folder ({', '.join(sorted(allowed))})"
    return None


def problems_in(path, text):
    code = strip_comments_and_strings(text)
    found = []
    for number, line in enumerate(code.splitlines(), 1):
        if line.lstrip().startswith("#"):
            continue
        for match in NAMESPACE.finditer(line):
            problem = namespace_problem(path, match.group(1))
            if problem:
                found.append(f"{path}:{number}: {problem}")
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
