#!/usr/bin/env bash
# Prints how much of one core five walking characters cost, on a virtual
# X display (the window system's own share is not counted).
#   scripts/benchmark_characters.sh [seconds]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
[[ -x build/tests/character_benchmark ]] || scripts/build.sh
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" build/tests/character_benchmark "${1:-20}"
