#!/usr/bin/env bash
# Every test: the host build (unit tests on the simulated PC), then the
# Windows build (the real installer, its image checks and the Wine tests).
#
# Where this host runs no 32-bit code natively (winepe/host32.py), the
# Wine suite runs on the 64-bit test build (preset windows64) at native
# speed, and the real 32-bit installer runs a smoke set emulated by
# qemu-user; its other Wine tests are reported as skipped, with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Python package winepe/ is imported from here.
export PYTHONPATH=$PWD
bash scripts/setup.sh
start=$SECONDS

# Unformatted code, a name outside the scheme or an include that reaches
# up a layer, or exit codes out of step with their table, fails before
# anything is built.
bash scripts/check_format.sh
python3 scripts/check_names.py
python3 scripts/check_layers.py
python3 scripts/check_exit_codes.py
# How the benchmark accounts for the installer's growth in size.
(cd bench && python3 -m unittest size_growth_test)

# One probe: its answer, then why.
mapfile -t probe < <(python3 -m winepe.host32 --explain)
host32=${probe[0]}
echo "test: 32-bit programs on this host: $host32 (${probe[1]})"

# The reasons CTest's summary leaves out: what each skipped test said.
skipped_reasons() {
  local log=$1/Testing/Temporary/LastTest.log
  [[ -f $log ]] || return 0
  awk '/^[0-9]+\/[0-9]+ Testing: /{name=$3} /^SKIPPED: /{sub(/^SKIPPED: /, ""); print "test: skipped " name ": " $0}' "$log"
}

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host -j 2

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan -j 2

if [[ $host32 != native ]]; then
  echo "test: the whole Wine suite runs on the 64-bit test build (LexomirUpdate-x64-test.exe, wine64)"
  cmake --preset windows64 >/dev/null
  cmake --build --preset windows64
  ctest --preset windows64
  skipped_reasons build/windows64
fi

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
skipped_reasons build/windows

# Each parser of untrusted bytes under libFuzzer, briefly (scripts/fuzz.sh runs longer).
cmake --preset fuzz -DLEXOMIR_FUZZ_SECONDS=30 >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz -j 2

echo "test: all suites passed in $((SECONDS - start)) s (32-bit programs: $host32)"
