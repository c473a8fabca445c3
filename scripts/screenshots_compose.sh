#!/usr/bin/env bash
# Saves pictures of the compose window with its CC and BCC rows and the
# completion open under CC, and of the reply window with its CC and BCC
# rows, drawn on a virtual display, for looking at them:
# docs/compose_cc_bcc.png and docs/reply_cc_bcc.png.
#   scripts/screenshots_compose.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
[[ -x build/tests/compose_windows_screens ]] ||
    flock /tmp/lumopet-build.lock cmake --build build --target compose_windows_screens

display=":$((80 + RANDOM % 9))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

build/tests/compose_windows_screens "$out"
for picture in compose_cc_bcc reply_cc_bcc; do
    # Small files: a window of flat colours loses nothing in a palette.
    convert "$out/$picture.png" -colors 128 "PNG8:$out/$picture.png"
done
