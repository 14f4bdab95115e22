#!/usr/bin/env bash
# The main job: build the installer with the sample payload and run it under
# Wine against a demonstration installation, with a short report.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Python package winepe/ is imported from here.
export PYTHONPATH=$PWD
bash scripts/setup.sh
start=$SECONDS
cmake --preset windows >/dev/null
cmake --build --preset windows
echo "build: $((SECONDS - start)) s"
python3 tests/wine/demo.py build/windows
