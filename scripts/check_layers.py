#!/usr/bin/env python3
"""Fails, naming the include, where the product's code reaches up a layer.

The product's folders stand in layers, lowest first; a file includes only
its own folder and the layers below. So each subsystem can be read, tested
and changed knowing only what is under it, and no two depend on each
other. The folders of one layer do not include each other either.
Tests, fuzz targets, tools and benchmarks stand above everything.
"""
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

LAYERS = [
    ["platform"],                        # the seam to Windows and the toolkit over it
    ["runtime"],                         # text, threads, exceptions, the generator
    ["shared"],                          # what several subsystems share: records, flags, registry
    ["messages", "osinfo", "progress"],  # services the stages use
    ["environment"],                     # start-up and install-target discovery
    ["install"],                         # writing the package's files
    ["driver"],                          # the run from entry to exit
]
# The executable's entry point on Windows stands above the whole product.
ENTRY_POINTS = {"platform/windows/winmain.cpp"}
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def problems_in(folder, text):
    """The includes of a file in `folder` that reach up or sideways."""
    found = []
    for match in INCLUDE.finditer(text):
        target = match.group(1)
        if target == folder or target not in RANK:
            continue
        if RANK[target] >= RANK[folder]:
            found.append(target)
    return found


def main():
    listed = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, check=True, capture_output=True,
                            text=True).stdout.split()
    problems = []
    for name in listed:
        folder = name.split("/", 1)[0]
        if folder not in RANK or name in ENTRY_POINTS:
            continue
        for target in problems_in(folder, (ROOT / name).read_text(encoding="utf-8", errors="replace")):
            problems.append(f"{name}: includes {target}/, which is not below {folder}/")
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"layers: {len(problems)} include(s) against the direction", file=sys.stderr)
        return 1
    print("layers: every product include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
