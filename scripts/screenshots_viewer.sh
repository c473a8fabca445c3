#!/usr/bin/env bash
# Receives the demo mail (scripts/demo-mail) from the local mail servers on
# a virtual display and saves PNGs of 着信履歴 showing it as a user reads
# it: the HTML newsletter with its notes line, the Windows business letter
# with ① and ㈱, the message in emoji and Hangul, the attachment strip, the
# end of the long letter, the 表示 → 文字コード指定 menu and the source.
#   scripts/screenshots_viewer.sh [output folder]   (default: screenshots/viewer/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-screenshots/viewer}"
mkdir -p "$out"
[[ -x build/lumopet ]] || scripts/build.sh

home=$(mktemp -d)
# The viewer is made large below; the screen leaves room around it.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$home/display" 2>/dev/null &
xvfb=$!
cleanup() {
    kill "${program:-}" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    [[ -d "$home/servers" ]] && /usr/bin/python3 scripts/mail_servers.py stop --dir "$home/servers" >/dev/null 2>&1
    rm -rf "$home"
}
trap cleanup EXIT
for _ in $(seq 100); do [[ -s "$home/display" ]] && break; sleep 0.1; done
[[ -s "$home/display" ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$home/display")" QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$home/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"

# The local servers with the demo mail waiting for alice, as ./run.sh
# leaves it.
mkdir -m 0700 "$home/servers"
info=$(/usr/bin/python3 scripts/mail_servers.py start --dir "$home/servers" --account alice:alice-pw | tail -n 1)
field() { /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$info" "$1"; }
export LUMOPET_CA_FILE=$(field ca)
/usr/bin/python3 scripts/mail_servers.py deliver --dir "$home/servers" --account alice scripts/demo-mail/*.eml
waiting() { /usr/bin/python3 scripts/mail_servers.py count --dir "$home/servers" --account alice; }

# A program folder pointing at alice. No mood is enabled, so that no
# character walks out over the viewer after the check.
printf 'SMTP=127.0.0.1:%s\r\nPOP3=127.0.0.1:%s\r\nMAIL=alice@localhost\r\nAPOP=0\r\n' "$(field smtp)" "$(field pop3)" >"$home/sorane.ini"
mkdir -p "$home/★MailData"
printf '[EXEINI]\r\nNAME=alice\r\nNAME2=alice-pw\r\nNAME3=1\r\n' >"$home/★MailData/iniIdPass.ini"
printf '[EXEINI]\r\nNAME1=0\r\nNAME2=0\r\nNAME3=0\r\nNAME4=0\r\nNAME5=0\r\n' >"$home/★MailData/CharaData.ini"

source scripts/screenshot_helpers.sh

LUMOPET_HOME="$home" build/lumopet &
program=$!
window=$(timeout 10 xdotool search --sync --onlyvisible --name 'Ver 2.13' | head -n 1)
sleep 0.5

# 受信 on the main window, then wait until the server's mailbox is empty:
# the check has taken every message.
click_in "$window" 72 146
for _ in $(seq 60); do
    [[ "$(waiting)" == 0 ]] && break
    sleep 0.5
done
[[ "$(waiting)" == 0 ]] || { echo "The check did not take the demo mail" >&2; exit 1; }
sleep 1

# 着信履歴, moved to the corner and made large enough to read a message.
click_in "$window" 75 210
viewer=$(find_window '^着信履歴$')
xdotool windowmove "$viewer" 0 0 windowsize "$viewer" 1280 1080
sleep 1

# Inside the viewer, in pixels from its top left: the menu 表示 and its
# items, and the list's rows (13 pixels high, the first centred at 142).
view_menu_x=150 view_menu_y=7
view_html_y=49 view_charset_y=73 view_source_y=116 view_item_x=190
row() { echo $((142 + 13 * ($1 - 1))); }
# A row clicked as a user clicks it; the message is read on a worker.
show_row() {
    click_in "$viewer" 100 "$(row "$1")"
    sleep 1.5
}
# An item of the menu 表示 (the viewer is at the screen's corner, so the
# menu's places are the screen's).
view_menu_item() {
    click_in "$viewer" "$view_menu_x" "$view_menu_y"
    xdotool mousemove "$view_item_x" "$1" click 1
    sleep 1.5
}

# The newsletter (row 3), shown as HTML (表示 → HTML): the remote logo and
# the tracking picture held back, the notes line with 画像を表示.
show_row 3
view_menu_item "$view_html_y"
import -window "$viewer" "$out/viewer_newsletter.png"
# The mouse on the link whose text names the bank: its real target shows
# in a help box, a window of its own, so the picture is of the screen.
xdotool mousemove 260 837 sleep 0.3 mousemove 290 837
sleep 1.5
import -window root -crop 1280x1080+0+0 +repage "$out/viewer_newsletter_link.png"
# The business letter from a Windows mailer (row 4): ① ② ③, ㈱ and ～.
show_row 4
import -window "$viewer" "$out/viewer_windows_letter.png"
# Emoji, Hangul, simplified Chinese and accented Latin (row 5).
show_row 5
import -window "$viewer" "$out/viewer_emoji_hangul.png"
# Several attachments with an inline picture (row 6): the strip above.
show_row 6
import -window "$viewer" "$out/viewer_attachments.png"
# The right button on the PDF in the strip: 開く and 名前を付けて保存...
xdotool mousemove 250 533 click 3
sleep 0.8
import -window root -crop 720x300+0+420 +repage "$out/viewer_attachment_menu.png"
xdotool key Escape
sleep 0.3
# The long letter (row 7) at its end, past the record's 12,000 bytes.
show_row 7
click_in "$viewer" 300 700
xdotool key ctrl+End
sleep 0.5
import -window "$viewer" "$out/viewer_long_letter_end.png"
# 表示 → 文字コード指定 open over the business letter.
show_row 4
click_in "$viewer" "$view_menu_x" "$view_menu_y"
xdotool mousemove "$view_item_x" "$view_charset_y"
sleep 1
import -window root -crop 720x420+0+0 +repage "$out/viewer_charset_menu.png"
xdotool key Escape Escape
sleep 0.3
# ソースを表示 of the business letter, then of the newsletter; each window
# opens at the screen's corner and is moved aside for the next.
view_menu_item "$view_source_y"
source_window=$(find_window '^ソース - 【ご案内】')
import -window "$source_window" "$out/viewer_source_letter.png"
xdotool windowmove "$source_window" 1300 600
show_row 3
view_menu_item "$view_source_y"
source_window=$(find_window '^ソース - 【Example Shop】')
import -window "$source_window" "$out/viewer_source_newsletter.png"
echo "Saved: $(ls "$out"/viewer_*.png | tr '\n' ' ')"
