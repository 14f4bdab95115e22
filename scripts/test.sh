#!/usr/bin/env bash
# Every test: the host build (unit tests on the simulated PC), then the
# Windows build (the real installer, its image checks and the Wine tests).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
