#!/usr/bin/env bash
# Saves pictures of 迷惑メール in the history viewer, drawn on a virtual
# display, for looking at them: 着信履歴 with its 迷惑メール一覧 and 迷惑メール
# buttons (junk_button.png), and the junk view showing a message with
# 迷惑メールではない and 着信履歴に戻る (junk_view.png).
#   scripts/screenshots_junk.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
flock /tmp/lumopet-build.lock cmake --build build --target junk_view_screens >/dev/null

display=":$((80 + RANDOM % 9))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

build/tests/junk_view_screens "$out"
for picture in junk_button junk_view; do
    # Small files: a window of flat colours loses nothing in a palette.
    convert "$out/$picture.png" -colors 128 "PNG8:$out/$picture.png"
done
