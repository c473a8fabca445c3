#!/usr/bin/env bash
# Saves pictures of the windows of writing mail, drawn on a virtual display,
# for looking at them: the compose window with CC and BCC and completion open
# under CC (compose_cc_bcc.png) and under 宛先 (address_completion.png), the
# reply window (reply_cc_bcc.png), 送信前の確認 (send_check_form.png),
# 署名の編集 (signature_form.png), 送信の設定 (compose_options_form.png) and the
# question at start about letters left half written (draft_question.png).
#   scripts/screenshots_compose.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
flock /tmp/lumopet-build.lock cmake --build build --target compose_windows_screens >/dev/null

display=":$((80 + RANDOM % 9))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

build/tests/compose_windows_screens "$out"
for picture in compose_cc_bcc address_completion reply_cc_bcc send_check_form signature_form compose_options_form \
    draft_question; do
    # Small files: a window of flat colours loses nothing in a palette.
    convert "$out/$picture.png" -colors 128 "PNG8:$out/$picture.png"
done
