#!/usr/bin/env bash
# Saves 署名の編集 and 送信の設定 as the user sees them, on a virtual display,
# over a program folder whose lumopet.ini holds two signatures and two
# options turned on.
#   scripts/screenshots_signatures.sh [output folder]   (default: docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
driver=build/tests/compose_windows_driver
[[ -x $driver ]] || cmake --build build --target compose_windows_driver
source scripts/screenshot_helpers.sh

display=":$((70 + RANDOM % 9))"
home=$(mktemp -d)
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    kill "${window_program:-}" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# lumopet.ini in CP932 with CR LF, the signatures' line breaks escaped as
# the program writes them.
mkdir -p "$home/★MailData"
/usr/bin/python3 - "$home/★MailData/lumopet.ini" <<'PY'
import sys
lines = [
    "[Compose]",
    "ConfirmRecipients=1",
    "QuoteOnReply=1",
    r"Signature1=山田 太郎\n株式会社ルモネット 営業部\nTEL 03-1234-5678\ntaro.yamada@example.co.jp",
    r"Signature2=やまだ",
    "DefaultSignature=1",
]
open(sys.argv[1], "wb").write(("\r\n".join(lines) + "\r\n").encode("cp932"))
PY

for which in signatures:'^署名の編集$':signature_form options:'^送信の設定$':compose_options_form; do
    IFS=: read -r mode title file <<<"$which"
    "$driver" "$home" "$mode" &
    window_program=$!
    window=$(find_window "$title")
    sleep 0.5
    import -window "$window" "$out/$file.png"
    # Small files: a window of flat colours loses nothing in a palette.
    convert "$out/$file.png" -colors 128 "PNG8:$out/$file.png"
    echo "$out/$file.png"
    kill "$window_program"
    wait "$window_program" 2>/dev/null || true
done
