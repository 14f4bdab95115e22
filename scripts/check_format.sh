#!/usr/bin/env bash
# Fails, naming the places, when a C or C++ file of the repository is not
# formatted as .clang-format says. `clang-format -i FILE` formats one.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} C/C++ files as .clang-format says"
