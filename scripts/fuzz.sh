#!/usr/bin/env bash
# Runs every fuzz target for a while (default 600 s each), one after the other:
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
seconds=${1:-600}
cmake --preset fuzz -DLEXOMIR_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz --timeout $((seconds + 120))
