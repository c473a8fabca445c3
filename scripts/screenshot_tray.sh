#!/usr/bin/env bash
# Screenshots of the tray icon under a window manager with a system tray
# (openbox and trayer's XEmbed tray on a virtual display): the icon with
# its tooltip, and its menu opened with the right button.
#   scripts/screenshot_tray.sh [output folder]   (default: /tmp/shots-tray)
# BUILD_DIR names another build folder (default: build). TRAY_PROGRAM runs
# another program in place of the built one (it is given the program
# folder in LUMOPET_HOME as well).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out="${1:-/tmp/shots-tray}"
mkdir -p "$out"
out=$(cd "$out" && pwd)
build="${BUILD_DIR:-build}"
program="${TRAY_PROGRAM:-$root/$build/lumopet}"
[[ -n "${TRAY_PROGRAM:-}" || -x "$program" ]] || scripts/build.sh
# Debian 12 has trayer, no longer stalonetray.
command -v trayer >/dev/null || scripts/install-deps.sh trayer

if [[ -z "${LUMOPET_UNDER_OPENBOX:-}" ]]; then
    LUMOPET_UNDER_OPENBOX=1 exec scripts/with_openbox.sh "$0" "$out"
fi
# No session bus: Qt then docks the icon into the XEmbed tray, trayer's,
# rather than looking for a StatusNotifierItem host.
unset DBUS_SESSION_BUS_ADDRESS

home=$(mktemp -d)
cleanup() {
    kill "${started:-}" 2>/dev/null || true
    kill "${tray:-}" 2>/dev/null || true
    kill "${background:-}" 2>/dev/null || true
    [[ -d "$home/servers" ]] && /usr/bin/python3 scripts/mail_servers.py stop --dir "$home/servers" >/dev/null 2>&1
    rm -rf "$home"
}
trap cleanup EXIT

convert -size 1280x800 gradient:'#7fa7c9'-'#33506e' "$home/desktop.png"
display -window root "$home/desktop.png" &
background=$!

# A tray along the top right corner of the screen, as wide as its icons.
trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
    --SetPartialStrut true --transparent false --tint 0x33506e >"$home/trayer.log" 2>&1 &
tray=$!
panel=""
for _ in $(seq 50); do
    panel=$(xdotool search --classname '^panel$' 2>/dev/null | head -n 1 || true)
    [[ -n "$panel" ]] && break
    sleep 0.1
done
[[ -n "$panel" ]] || { echo "trayer did not start" >&2; cat "$home/trayer.log" >&2; exit 1; }

# The local servers with the demo mail waiting, so that the pictures show
# what a timed check leaves: the unread badge and the check in the tooltip.
mkdir -m 0700 "$home/servers"
info=$(/usr/bin/python3 scripts/mail_servers.py start --dir "$home/servers" --account alice:alice-pw | tail -n 1)
field() { /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$info" "$1"; }
export LUMOPET_CA_FILE=$(field ca)
/usr/bin/python3 scripts/mail_servers.py deliver --dir "$home/servers" --account alice scripts/demo-mail/*.eml

# A user's program folder with the tray and a check every minute.
printf 'SMTP=127.0.0.1:%s\r\nPOP3=127.0.0.1:%s\r\nMAIL=alice@localhost\r\nAPOP=0\r\n' "$(field smtp)" "$(field pop3)" >"$home/sorane.ini"
mkdir -p "$home/★MailData"
printf '[EXEINI]\r\nNAME=alice\r\nNAME2=alice-pw\r\nNAME3=1\r\n' >"$home/★MailData/iniIdPass.ini"
printf '[Receive]\r\nAutoCheckMinutes=1\r\nTray=1\r\n' >"$home/★MailData/lumopet.ini"
LUMOPET_HOME="$home" $program &
started=$!

# The panel grows from nothing to the icon's width once the icon docks.
width=0
for _ in $(seq 100); do
    eval "$(xwininfo -id "$panel" | awk -F: '
        /Absolute upper-left X/ {print "X=" $2+0}
        /Absolute upper-left Y/ {print "Y=" $2+0}
        /Width/ {print "width=" $2+0}
        /Height/ {print "HEIGHT=" $2+0}')"
    [[ "$width" -ge 16 ]] && break
    sleep 0.1
done
[[ "$width" -ge 16 ]] || { echo "No icon docked in the tray" >&2; exit 1; }
sleep 1
icon_x=$((X + width / 2)) icon_y=$((Y + HEIGHT / 2))

# The first timed check comes a minute after the start; the server's
# mailbox empties when it is done.
echo "Waiting for the timed check (about a minute)..."
for _ in $(seq 90); do
    [[ "$(/usr/bin/python3 scripts/mail_servers.py count --dir "$home/servers" --account alice)" == 0 ]] && break
    sleep 1
done
sleep 2

# The mouse resting on the icon until its tooltip shows.
xdotool mousemove "$((icon_x - 40))" "$((icon_y + 60))"
sleep 0.3
xdotool mousemove "$icon_x" "$icon_y"
sleep 2.5
import -window root -crop 480x140+800+0 +repage "$out/tray_tooltip.png"

# The menu from the right button.
xdotool mousemove "$((icon_x - 40))" "$((icon_y + 60))"
sleep 0.5
xdotool mousemove "$icon_x" "$icon_y" click 3
sleep 1.5
import -window root -crop 480x260+800+0 +repage "$out/tray_menu.png"
xdotool key Escape
echo "Saved: $out/tray_tooltip.png $out/tray_menu.png"
