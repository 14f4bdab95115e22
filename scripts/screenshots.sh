#!/usr/bin/env bash
# Renews the pictures of the boxes in docs/: the installer under Wine with a
# virtual X display, each box photographed and cropped.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Python package winepe/ is imported from here.
export PYTHONPATH=$PWD
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
b=build/windows
# The pictures show the real 32-bit installer; where the host runs 32-bit
# code only emulated, the helpers are the 64-bit ones and it takes minutes.
helpers=$b/tests/wine
emulated=()
if [[ $(python3 -m winepe.host32) != native ]]; then
  helpers=$b/helpers64
  emulated=(--allow-emulated)
fi
shots=$(mktemp -d)
python3 tests/wine/run_scenarios.py --installer $b/LexomirUpdate.exe --standin $helpers/standin_app.exe \
  --boxdriver $helpers/boxdriver.exe --payload $b/payload/lxn.cok --xvfb --artifacts "$shots" "${emulated[@]}" \
  interactive_ru_yes_then_no cyrillic_downloads_en missing_app_en
# The confirmation once more on a screen of 192 dpi (Wine's LogPixels).
python3 tests/wine/run_scenarios.py --installer $b/LexomirUpdate.exe --standin $helpers/standin_app.exe \
  --boxdriver $helpers/boxdriver.exe --payload $b/payload/lxn.cok --xvfb --dpi 192 --artifacts "$shots/192" \
  "${emulated[@]}" interactive_ru_yes_then_no
for pair in interactive_ru_yes_then_no-box-0:confirm-ru cyrillic_downloads_en-box-0:confirm-en \
            interactive_ru_yes_then_no-box-1:final-question cyrillic_downloads_en-box-1:final-question-en \
            missing_app_en-box-0:error-missing-app 192/interactive_ru_yes_then_no-box-0:confirm-ru-192dpi; do
  # -strip: no dates in the files, so a picture that shows the same is the same file.
  convert "$shots/${pair%%:*}.png" -trim +repage -bordercolor black -border 8 -strip "docs/${pair##*:}.png"
done
rm -rf "$shots"
