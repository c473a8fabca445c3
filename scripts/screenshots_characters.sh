#!/usr/bin/env bash
# Starts Lumopet on a virtual display with the characters' manners set in
# lumopet.ini and saves 設定 with them (docs/character_options.png), then
# the box that refuses quiet hours it cannot read
# (docs/character_options_refused.png).
#   scripts/screenshots_characters.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
[[ -x build/lumopet ]] || scripts/build.sh
source scripts/screenshot_helpers.sh

home=$(mktemp -d)
trap stop_screenshot_run EXIT
start_display

# A user's program folder: servers set, moods 3 and 5 enabled, two of the
# manners on.
printf 'SMTP=localhost\r\nPOP3=localhost\r\nMAIL=user@localhost\r\nAPOP=0\r\n' >"$home/sorane.ini"
mkdir -p "$home/★MailData"
printf '[EXEINI]\r\nNAME1=1\r\nNAME2=1\r\nNAME3=0\r\nNAME4=0\r\nNAME5=0\r\n' >"$home/★MailData/CharaData.ini"
printf '[Characters]\r\nHomeWhenRead=1\r\nAwayFromFullScreen=0\r\nQuietHours=22:00-07:00\r\n' \
    >"$home/★MailData/lumopet.ini"

start_lumopet
sleep 0.5
# The hot-spot 設定.
click_in "$window" 460 150
settings=$(find_window '^設定$')
sleep 0.3
import -window "$settings" "$out/character_options.png"
small_png character_options

# Quiet hours that cannot be read, and キャラ設定.
eval "$(xdotool getwindowgeometry --shell "$settings")"
read -r edit_x edit_y save_x save_y < <(/usr/bin/python3 -c '
import sys
dpi = 96
px = lambda twips: round(twips * dpi / 1440)
# The quiet-hours box and キャラ設定, as SetForm places them (twips).
print(px(1380 + 800), px(5520 + 1020 + 170), px(1080 + 700), px(4440 + 180))')
xdotool windowraise "$settings"
xdotool mousemove $((X + edit_x)) $((Y + edit_y)) click --repeat 3 1 type --delay 20 '25:00-'
sleep 0.2
xdotool mousemove $((X + save_x)) $((Y + save_y)) click 1
sleep 0.8
# The box carries the program's name as its title.
box=$(find_window '^ルモペット$')
import -window "$box" "$out/character_options_refused.png"
small_png character_options_refused
