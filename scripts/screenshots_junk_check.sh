#!/usr/bin/env bash
# A check with the junk filter on, as a user sees it: the demo mail and the
# junk its provider marked (scripts/demo-mail/junk/) received from the local
# servers on a virtual display, and a picture of the main window's status
# line counting both ("新着メール 8 通（迷惑メール 1 通）") with the fortune's
# character beside it, one of the screen (no character for the junk), and
# the viewer: 着信履歴 with its junk buttons, and the junk view.
#   scripts/screenshots_junk_check.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
[[ -x build/lumopet ]] || scripts/build.sh
source scripts/screenshot_helpers.sh

home=$(mktemp -d)
trap stop_screenshot_run EXIT
start_display
export XDG_RUNTIME_DIR="$home/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"

start_mail_servers alice:alice-pw
/usr/bin/python3 scripts/mail_servers.py deliver --dir "$servers" --account alice \
    scripts/demo-mail/*.eml scripts/demo-mail/junk/*.eml
waiting() { /usr/bin/python3 scripts/mail_servers.py count --dir "$servers" --account alice; }

printf 'SMTP=127.0.0.1:%s\r\nPOP3=127.0.0.1:%s\r\nMAIL=alice@localhost\r\nAPOP=0\r\n' "$(server_field smtp)" "$(server_field pop3)" >"$home/sorane.ini"
mkdir -p "$home/★MailData"
printf '[EXEINI]\r\nNAME=alice\r\nNAME2=alice-pw\r\nNAME3=1\r\n' >"$home/★MailData/iniIdPass.ini"
printf '[Receive]\r\nJunkFilter=1\r\n[Characters]\r\nHomeWhenRead=1\r\n' >"$home/★MailData/lumopet.ini"

start_lumopet
# The main window to the top left, so that the screen's picture shows it.
xdotool windowmove "$window" 0 0
sleep 0.5
click_in "$window" 72 146
for _ in $(seq 60); do
    [[ "$(waiting)" == 0 ]] && break
    sleep 0.5
done
[[ "$(waiting)" == 0 ]] || { echo "The check did not take the mail" >&2; exit 1; }
sleep 2
import -window "$window" "$out/status_line_junk.png"
import -window root "$out/junk_check_screen.png"
# 着信履歴 (the characters go home: HomeWhenRead), its first message shown
# beside the 迷惑メール and 迷惑メール一覧 buttons; then the junk view with the
# provider-marked message, 迷惑メールではない and 着信履歴に戻る. In pixels
# from the viewer's top left: the first row, and 迷惑メール一覧.
click_in "$window" 75 210
viewer=$(find_window '^着信履歴$')
click_in "$viewer" 120 142
sleep 1
import -window "$viewer" "$out/junk_button.png"
click_in "$viewer" 566 103
click_in "$viewer" 120 142
sleep 1
import -window "$viewer" "$out/junk_view.png"
for history in srndata2.data srndata2.junk.data; do
    echo "$history: $(($(stat -c %s "$home/★MailData/$history") / 12284)) records"
done
