#!/usr/bin/env bash
# Every test: the host build (unit tests on the simulated PC), then the
# Windows build (the real installer, its image checks and the Wine tests).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows

# Each parser of untrusted bytes under libFuzzer, briefly (scripts/fuzz.sh runs longer).
cmake --preset fuzz -DLEXOMIR_FUZZ_SECONDS=30 >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
