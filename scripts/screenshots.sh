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
import -window root "$out/desktop.png"
echo "Saved: $(ls "$out"/*.png | tr '\n' ' ')"
