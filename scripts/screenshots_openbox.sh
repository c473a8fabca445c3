#!/usr/bin/env bash
# Screenshots of Lumopet under a real window manager (openbox on a virtual
# display): the main window in its frame, the characters walking over the
# settings window, and the tool tip of a server box.
#   scripts/screenshots_openbox.sh [output folder]   (default: docs/)
# BUILD_DIR names another build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out="${1:-docs}"
mkdir -p "$out"
out=$(cd "$out" && pwd)
build="${BUILD_DIR:-build}"
[[ -x "$build/lumopet" ]] || scripts/build.sh

if [[ -z "${LUMOPET_UNDER_OPENBOX:-}" ]]; then
    LUMOPET_UNDER_OPENBOX=1 exec scripts/with_openbox.sh "$0" "$out"
fi

home=$(mktemp -d)
cleanup() {
    kill "${program:-}" 2>/dev/null || true
    kill "${background:-}" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT

# A desktop to stand on.
convert -size 1280x800 gradient:'#7fa7c9'-'#33506e' "$home/desktop.png"
display -window root "$home/desktop.png" &
background=$!

# A user's program folder: servers set, moods 3 and 5 enabled.
printf 'SMTP=smtp.example.jp\r\nPOP3=pop3s://mail.example.jp\r\nMAIL=user@example.jp\r\nAPOP=0\r\n' >"$home/sorane.ini"
mkdir -p "$home/★MailData"
printf '[EXEINI]\r\nNAME1=1\r\nNAME2=1\r\nNAME3=0\r\nNAME4=0\r\nNAME5=0\r\n' >"$home/★MailData/CharaData.ini"

find_window() {
    local found
    found=$(timeout 10 xdotool search --sync --onlyvisible --name "$1" | head -n 1)
    [[ -n "$found" ]] || { echo "No window named $1" >&2; exit 1; }
    echo "$found"
}
# Sets X Y WIDTH HEIGHT to the window's client area on the screen. (Under
# a reparenting window manager xdotool's getwindowgeometry is off by the
# title bar; the server's own translation is not.)
geometry() {
    eval "$(xwininfo -id "$1" | awk -F: '
        /Absolute upper-left X/ {print "X=" $2+0}
        /Absolute upper-left Y/ {print "Y=" $2+0}
        /Width/ {print "WIDTH=" $2+0}
        /Height/ {print "HEIGHT=" $2+0}')"
}
# Clicks at a point given in pixels inside a window.
click_in() {
    xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowraise "$1"
    geometry "$1"
    xdotool mousemove $((X + $2)) $((Y + $3)) click 1
    sleep 0.5
}
# The window with the frame openbox drew around it, as left top width
# height on the screen, grown by the given margins right and down.
framed() {
    local left right top bottom
    read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    geometry "$1"
    echo "$((X - left)) $((Y - top)) $((WIDTH + left + right + ${2:-0})) $((HEIGHT + top + bottom + ${3:-0}))"
}
# Saves that part of the screen.
shot_area() {
    local x y w h
    read -r x y w h <<<"$1"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$2"
}

LUMOPET_HOME="$home" "$root/$build/lumopet" &
program=$!
main=$(find_window 'Ver 2.13')
sleep 1
shot_area "$(framed "$main")" openbox_main_window.png

# The settings (the hot-spot 設定); the server window from its button, and
# the mouse resting on the POP3 box until its tool tip shows.
click_in "$main" 460 150
settings=$(find_window '^設定$')
click_in "$settings" 208 15
servers=$(find_window 'サーバー設定')
geometry "$servers"
xdotool mousemove $((X + 60)) $((Y + 73))
sleep 0.3
xdotool mousemove $((X + 96)) $((Y + 74))
sleep 2
shot_area "$(framed "$servers" 220 120)" openbox_server_tooltip.png
click_in "$servers" 154 180   # 中止

# Every character: tick the boxes of moods 1, 2 and 4 (3 and 5 are on) and
# start the preview with the mouse over the settings window, where they
# appear and walk.
for x in 18 50 114; do click_in "$settings" "$x" 272; done
click_in "$settings" 212 308
geometry "$settings"
xdotool mousemove $((X + 120)) $((Y + 120))
sleep 3
shot_area "$(framed "$settings" 120 120)" openbox_character_over_window.png
echo "Saved: $out/openbox_main_window.png $out/openbox_server_tooltip.png $out/openbox_character_over_window.png"
