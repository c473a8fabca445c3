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
source scripts/screenshot_helpers.sh
trap stop_screenshot_run EXIT
start_display

# junk_view_screens names the pictures it saves.
build/tests/junk_view_screens "$out"
small_png junk_button junk_view >/dev/null
