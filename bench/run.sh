#!/usr/bin/env bash
# The benchmark: builds the installer, the NSIS installer and the benchmark
# programs, measures them side by side in one warm Wine prefix and rewrites
# docs/BENCHMARKS.md and docs/benchmarks.png. Run as root on Debian 12:
#
#   bash bench/run.sh [--runs N] [--mem-runs N] [--head] [--build DIR] [--try]
#
#   --runs N      runs of each timed figure (default 15, at least 10)
#   --mem-runs N  runs of each memory figure (default 10, at least 10)
#   --head        measure the last commit (exported to the build folder)
#                 instead of the working tree
#   --build DIR   build and work folder (default /tmp/lexomir-bench)
#   --try         allow fewer runs, to try the harness; the note and chart
#                 go to DIR/trial-docs, not docs/
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

# What the builds and the measurements need, installed only when missing.
bash "$root/scripts/setup.sh" nsis gnuplot-nox

# Times are measured only where the installer runs natively. Under qemu-user
# every 32-bit instruction is translated, so a figure taken there says how
# fast the emulator is, not the installer: none is taken, and bench/lean.py
# measures what needs no time (size, libraries loaded, peak memory of the
# 64-bit test build against the same build's floor).
mapfile -t probe < <(python3 "$root/scripts/host32.py" --explain)
host32=${probe[0]}
lean=0
if [[ $host32 != native ]]; then
  lean=1
  why="32-bit programs run $host32 here: ${probe[1]}"
  echo "bench: $why." >&2
  echo "bench: times measured under emulation are not times: no time is measured here. Measuring the" >&2
  echo "       size, the libraries loaded and peak memory (64-bit test build against its floor) instead." >&2
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
forget_foreign_build "$build/windows" "$src"
forget_foreign_build "$build/windows64" "$src"
forget_foreign_build "$build/bench" "$src/bench"
forget_foreign_build "$build/bench64" "$src/bench"

echo "bench: building the installer from $src"
(cd "$src" && cmake --preset windows -B "$build/windows" >/dev/null)
cmake --build "$build/windows"
echo "bench: building the benchmark programs"
cmake -S "$src/bench" -B "$build/bench" -G Ninja --toolchain "$src/cmake/mingw-i686.cmake" \
      -DLEXOMIR_WINDOWS_BUILD="$build/windows" >/dev/null
if ((lean)); then
  # Only what is measured without a run: the layout variants' sizes, the map.
  cmake --build "$build/bench" --target installer_aligned installer_512 installer_map
  (cd "$src" && cmake --preset windows64 -B "$build/windows64" >/dev/null)
  cmake --build "$build/windows64" --target LexomirUpdate lexomir_standin_app
  cmake -S "$src/bench" -B "$build/bench64" -G Ninja --toolchain "$src/cmake/mingw-x86_64.cmake" \
        -DLEXOMIR_WINDOWS_BUILD="$build/windows64" >/dev/null
  cmake --build "$build/bench64" --target launcher floor installer_aligned installer_512
else
  cmake --build "$build/bench"
fi
echo "bench: building the NSIS installer"
makensis -V2 -DPAYLOAD="$build/windows/payload/lxn.cok" -DOUTFILE="$build/nsis_update.exe" \
         "$src/bench/nsis/update.nsi"

command="bash bench/run.sh"
((head)) && command+=" --head"
[[ $runs != 15 ]] && command+=" --runs $runs"
[[ $mem_runs != 10 ]] && command+=" --mem-runs $mem_runs"

docs=$root/docs
((${#trial[@]})) && docs=$build/trial-docs && mkdir -p "$docs"

if ((lean)); then
  exec python3 "$src/bench/lean.py" --win32 "$build/windows" --win64 "$build/windows64" \
    --bench32 "$build/bench" --bench64 "$build/bench64" --nsis "$build/nsis_update.exe" --work "$build/work" \
    --doc "$docs/BENCHMARKS.md" --chart "$docs/benchmarks.png" --mem-runs "$mem_runs" --host32 "$why" --command "$command" --source-note "$note"
fi
python3 "$src/bench/bench.py" \
  --win-build "$build/windows" --bench-build "$build/bench" --nsis "$build/nsis_update.exe" \
  --standin "$build/windows/tests/wine/standin_app.exe" --work "$build/work" \
  --doc "$docs/BENCHMARKS.md" --chart "$docs/benchmarks.png" \
  --runs "$runs" --mem-runs "$mem_runs" --command "$command" --source-note "$note" "${trial[@]}"
