#!/usr/bin/env bash
# Saves pictures of address completion open under the compose window's 宛先
# and of the 送信前の確認 window, drawn on a virtual display, for looking at
# them: docs/address_completion.png and docs/send_check_form.png.
#   scripts/screenshots_completion_check.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
[[ -x build/tests/completion_check_screens ]] ||
    flock /tmp/lumopet-build.lock cmake --build build --target completion_check_screens

display=":$((70 + RANDOM % 9))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

build/tests/completion_check_screens "$out"
for picture in address_completion send_check_form; do
    # Small files: a window of flat colours loses nothing in a palette.
    convert "$out/$picture.png" -colors 128 "PNG8:$out/$picture.png"
done
