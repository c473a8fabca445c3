#!/usr/bin/env bash
# Starts Lumopet for a first time on a virtual display (no sorane.ini, so
# アカウント設定 opens at start) and saves the window after a search for a
# Gmail, an Outlook.com, an OCN and an iCloud address, each answered by the
# provider files shipped with the program (no network), and the Gmail one
# again with a Google client ID.
#   scripts/screenshots_account_setup.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
[[ -x build/lumopet ]] || scripts/build.sh
source scripts/screenshot_helpers.sh

display=":$((80 + RANDOM % 9))"
home=$(mktemp -d)
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    kill "${program:-}" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

LUMOPET_HOME="$home" build/lumopet &
program=$!
window=$(find_window "アカウント設定")
sleep 0.5
for shot in gmail:someone@gmail.com outlook:taro@outlook.jp ocn:hanako@ocn.ne.jp icloud:me@icloud.com \
    gmail_oauth2:someone@gmail.com; do
    name=${shot%%:*}
    address=${shot#*:}
    # The last one as a build with a Google client ID of its own shows it
    # (a made-up ID: nothing signs in here).
    if [[ $name == gmail_oauth2 ]]; then
        printf '[accounts.google.com]\r\nClientId=screenshot.apps.googleusercontent.com\r\n' \
            > "$home/★MailData/oauth2_clients.ini"
    fi
    # The address box, then Enter for 検索.
    click_in "$window" 100 35
    xdotool key ctrl+a
    xdotool type --delay 20 "$address"
    xdotool key Return
    sleep 1
    import -window "$window" "$out/account_setup_$name.png"
    # Small files: a window of flat colours loses nothing in a palette.
    convert "$out/account_setup_$name.png" -colors 128 "PNG8:$out/account_setup_$name.png"
    echo "$out/account_setup_$name.png"
done
