#!/usr/bin/env bash
# Starts Lumopet on a virtual display and saves 受信の設定 with the mouse
# over 迷惑メールを振り分ける (docs/receive_options_junk.png), then ticks
# it and saves the training window it offers after the received history
# was learnt by the installed bogofilter (docs/junk_training.png). A record
# in the junk history shows the window's note about its copies.
#   scripts/screenshots_junk_training.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
[[ -x build/lumopet ]] || scripts/build.sh
source scripts/screenshot_helpers.sh

home=$(mktemp -d)
trap stop_screenshot_run EXIT
start_display

# A user's program folder with three received messages and one junk record.
printf 'SMTP=localhost\r\nPOP3=localhost\r\nMAIL=user@localhost\r\nAPOP=0\r\n' >"$home/sorane.ini"
mkdir -p "$home/★MailData/Maildir/cur" "$home/★MailData/Maildir/new" "$home/★MailData/Maildir/tmp"
printf '[EXEINI]\r\nNAME1=1\r\nNAME2=1\r\nNAME3=0\r\nNAME4=0\r\nNAME5=0\r\n' >"$home/★MailData/CharaData.ini"
printf '[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\nNAME3=1\r\n' >"$home/★MailData/iniIdPass.ini"
for i in 1 2 3; do
    printf 'From: friend%s@example.jp\nSubject: hello %s\nMessage-ID: <%s@example.jp>\n\nsee you tomorrow\n' "$i" "$i" "$i" \
        >"$home/★MailData/Maildir/cur/170000000$i.M${i}P1.host:2,S"
done
/usr/bin/python3 - "$home/★MailData/srndata2.junk.data" <<'PY'
import sys
out = bytearray(b" " * 12284)
for offset, size, text in ((0, 100, "当選のお知らせ"), (100, 90, "win@example.com"), (190, 90, "2026/12/09  3:00:00"),
                           (280, 12000, "おめでとうございます")):
    data = text.encode("cp932")[:size]
    out[offset:offset + len(data)] = data
out[12280:12284] = b"\r\n\x01\x00"
open(sys.argv[1], "wb").write(out)
PY

start_lumopet
sleep 0.5
click_in "$window" 460 150   # 設定
settings=$(find_window '^設定$')
click_in "$settings" 160 52  # 受信の設定
options=$(find_window '^受信の設定$')
hover_shot "$options" 60 258 receive_options_junk.png
click_in "$options" 28 258   # the box: the training window opens
training=$(find_window '迷惑メールの学習')
sleep 0.3
xdotool key alt+r            # 着信履歴を学習
sleep 2
import -window "$training" "$out/junk_training.png"
small_png receive_options_junk junk_training
