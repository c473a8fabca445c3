#!/usr/bin/env bash
# Starts Lumopet on a virtual display and saves PNG screenshots of its
# windows, for the README and for looking at what we build.
#   scripts/screenshots.sh [output folder]   (default: screenshots/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-screenshots}"
mkdir -p "$out"
[[ -x build/lumopet ]] || scripts/build.sh

display=":$((90 + RANDOM % 9))"
home=$(mktemp -d)
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    kill "${program:-}" 2>/dev/null || true
    kill "${background:-}" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# A desktop to stand on.
convert -size 1024x768 gradient:'#7fa7c9'-'#33506e' "$home/desktop.png"
display -window root "$home/desktop.png" &
background=$!

# A user's program folder: servers set, moods 3 and 5 enabled.
printf 'SMTP=localhost\r\nPOP3=localhost\r\nMAIL=user@localhost\r\nAPOP=0\r\n' >"$home/sorane.ini"
mkdir -p "$home/★MailData"
printf '[EXEINI]\r\nNAME1=1\r\nNAME2=1\r\nNAME3=0\r\nNAME4=0\r\nNAME5=0\r\n' >"$home/★MailData/CharaData.ini"
printf '[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\nNAME3=1\r\n' >"$home/★MailData/iniIdPass.ini"

# Clicks at a point given in pixels inside a window.
click_in() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + $2)) $((Y + $3)) click 1
    sleep 0.4
}
find_window() { timeout 5 xdotool search --sync --onlyvisible --name "$1" | head -n 1; }

LUMOPET_HOME="$home" build/lumopet &
program=$!
window=$(timeout 10 xdotool search --sync --onlyvisible --name 'Ver 2.13' | head -n 1)
sleep 0.5
import -window "$window" "$out/main_window.png"

# The help line: the mouse over the new-mail hot-spot.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 80)) $((Y + 98))
sleep 0.4
import -window "$window" "$out/main_window_help.png"
# The settings: the hot-spot 設定, then its two buttons.
click_in "$window" 460 150
settings=$(find_window '^設定$')
import -window "$settings" "$out/settings.png"
click_in "$settings" 112 15
import -window "$(find_window '^ID,PASS$')" "$out/id_pass.png"
click_in "$settings" 208 15
import -window "$(find_window 'サーバー設定')" "$out/servers.png"
click_in "$(find_window 'サーバー設定')" 154 180   # 中止
click_in "$(find_window '^ID,PASS$')" 152 102   # Cancel

# Every character: tick the boxes of moods 1, 2 and 4 (3 and 5 are on) and
# start the preview; the characters appear at the mouse and walk.
for x in 18 50 114; do click_in "$settings" "$x" 272; done
xdotool mousemove 500 380
click_in "$settings" 212 308
xdotool mousemove 500 380
for i in 1 2 3 4; do
    sleep 1.5
    import -window root "$out/walking_$i.png"
done
character=$(find_window '気分・・・５')
xwininfo -shape -id "$character" | grep -iE 'width|height|shape' >"$out/character_shape.txt" || true
xprop -id "$character" _NET_WM_STATE WM_NAME >>"$out/character_shape.txt" 2>&1 || true
import -window root "$out/desktop.png"
echo "Saved: $(ls "$out"/*.png | tr '\n' ' ')"
