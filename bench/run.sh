#!/usr/bin/env bash
# The benchmark: builds the installer (32-bit and the 64-bit test build), the
# NSIS installer and the benchmark programs, measures them in one warm Wine
# prefix (bench/bench.py) and rewrites docs/BENCHMARKS.md and
# docs/benchmarks.png (bench/report.py). Run as root on Debian 12:
#
#   bash bench/run.sh [--runs N] [--mem-runs N] [--head] [--build DIR] [--try]
#
#   --runs N      timed rounds, each running every program once (default 15,
#                 at least 10)
#   --mem-runs N  memory rounds (default 10, at least 10)
#   --head        measure the last commit (exported to the build folder)
#                 instead of the working tree
#   --build DIR   build and work folder (default /tmp/lexomir-bench)
#   --try         allow fewer rounds, to try the harness; the note and chart
#                 go to DIR/trial-docs, not docs/
#
# The 64-bit test build is timed on every host: it runs natively under
# wine64. The 32-bit installer is timed, against NSIS and the 32-bit floors,
# only where the host runs 32-bit code natively (winepe/host32.py): under
# qemu-user each of its instructions is translated, and a time taken there
# is the emulator's.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=15
mem_runs=10
head=0
build=/tmp/lexomir-bench
trial=()
while (($#)); do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --mem-runs) mem_runs=$2; shift 2 ;;
    --head) head=1; shift ;;
    --build) build=$2; shift 2 ;;
    --try) trial=(--try); shift ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
started=$SECONDS

# What the builds and the measurements need, installed only when missing.
bash "$root/scripts/setup.sh" nsis gnuplot-nox

mapfile -t probe < <(PYTHONPATH=$root python3 -m winepe.host32 --explain)
host32=${probe[0]}
if [[ $host32 == native ]]; then
  echo "bench: 32-bit programs run natively here (${probe[1]}): the 32-bit installer is timed too."
else
  echo "bench: 32-bit programs run $host32 here (${probe[1]}): only the 64-bit test build is timed;" >&2
  echo "       of the 32-bit installer only what needs no run (sizes) is measured." >&2
fi

mkdir -p "$build"
src=$root
note="the working tree"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  commit=$(git -C "$root" rev-parse --short HEAD)
  if ((head)); then
    # A clean copy of the last commit: changes in progress in the checkout
    # do not get into the figures.
    src=$build/source
    rm -rf "$src"
    mkdir -p "$src"
    git -C "$root" archive HEAD | tar -x -C "$src"
    note="commit $commit"
  elif [[ -n $(git -C "$root" status --porcelain -- . ':!docs/BENCHMARKS.md' ':!docs/benchmarks.png') ]]; then
    note="the working tree at commit $commit, with uncommitted changes"
  else
    note="commit $commit"
  fi
fi

# A build folder configured from another checkout (an old worktree, say)
# cannot be configured again from this one: start it afresh.
forget_foreign_build() {
  local dir=$1 source=$2
  if [[ -f $dir/CMakeCache.txt ]] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$source" "$dir/CMakeCache.txt"; then
    echo "bench: $dir was configured from another source tree; removing it"
    rm -rf "$dir"
  fi
}
for dir in windows windows64; do forget_foreign_build "$build/$dir" "$src"; done
for dir in bench bench64; do forget_foreign_build "$build/$dir" "$src/bench"; done

# Two processors at most, shared with others: -j2.
echo "bench: building the installers from $src"
(cd "$src" && cmake --preset windows -B "$build/windows" >/dev/null)
cmake --build "$build/windows" -j2 --target LexomirUpdate
(cd "$src" && cmake --preset windows64 -B "$build/windows64" >/dev/null)
cmake --build "$build/windows64" -j2 --target LexomirUpdate lexomir_standin_app

echo "bench: building the benchmark programs"
targets32=(installer_map installer_aligned installer_512 size_as_built)
[[ $host32 == native ]] && targets32+=(noop floor durable_floor)
cmake -S "$src/bench" -B "$build/bench" -G Ninja --toolchain "$src/cmake/mingw-i686.cmake" \
      -DLEXOMIR_WINDOWS_BUILD="$build/windows" >/dev/null
cmake --build "$build/bench" -j2 --target "${targets32[@]}"
cmake -S "$src/bench" -B "$build/bench64" -G Ninja --toolchain "$src/cmake/mingw-x86_64.cmake" \
      -DLEXOMIR_WINDOWS_BUILD="$build/windows64" >/dev/null
cmake --build "$build/bench64" -j2 --target launcher noop floor durable_floor phases hashspeed \
      installer_aligned installer_512 size_as_built

echo "bench: building the NSIS installer"
makensis -V2 -DPAYLOAD="$build/windows/payload/lxn.cok" -DOUTFILE="$build/nsis_update.exe" \
         "$src/bench/nsis/update.nsi"
built=$((SECONDS - started))

command="bash bench/run.sh"
((head)) && command+=" --head"
[[ $runs != 15 ]] && command+=" --runs $runs"
[[ $mem_runs != 10 ]] && command+=" --mem-runs $mem_runs"

docs=$root/docs
((${#trial[@]})) && docs=$build/trial-docs && mkdir -p "$docs"

# The Python package winepe/ is imported from the measured source's root.
export PYTHONPATH=$src
python3 "$src/bench/bench.py" --win32 "$build/windows" --win64 "$build/windows64" \
  --bench32 "$build/bench" --bench64 "$build/bench64" --nsis "$build/nsis_update.exe" --work "$build/work" \
  --host32 "$host32" --host32-why "${probe[1]}" --runs "$runs" --mem-runs "$mem_runs" \
  --command "$command" --source-note "$note" "${trial[@]}"
python3 "$src/bench/report.py" "$build/work/results.json" --doc "$docs/BENCHMARKS.md" \
  --chart "$docs/benchmarks.png" --work "$build/work" --build-seconds "$built" \
  --total-seconds $((SECONDS - started))
echo "bench: done in $((SECONDS - started)) s (building $built s)"
