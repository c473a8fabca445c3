#!/usr/bin/env bash
# Saves a picture of the question at start about the letters a past run left
# half written ("書きかけのメールが N 通あります", 開く / 破棄), drawn on a
# virtual display: out/draft_question.png. The drafts come from the program's
# own windows: the test driver types into the compose and the reply window
# and is ended with SIGTERM, as a shutdown would end the program.
#   scripts/screenshot_draft_question.sh [output folder]   (default: screenshots/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-screenshots}"
mkdir -p "$out"
flock /tmp/lumopet-build.lock cmake --build build --target lumopet draft_kill_driver >/dev/null

home=$(mktemp -d)
display=":$((80 + RANDOM % 9))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    kill "${program:-}" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT

mkdir -p "$home/★MailData"
printf 'SMTP=localhost\r\nPOP3=localhost\r\nMAIL=me@example.jp\r\nAPOP=0\r\n' >"$home/sorane.ini"
printf '[EXEINI]\r\nNAME=me\r\nNAME2=pw\r\nNAME3=1\r\n' >"$home/★MailData/iniIdPass.ini"
for window in compose reply; do
    QT_QPA_PLATFORM=offscreen build/tests/draft_kill_driver "$home" "$window" "打ち合わせの件、よろしくお願いします。" \
        >"$home/driver.out" 2>/dev/null &
    driver=$!
    for _ in $(seq 100); do grep -q typed "$home/driver.out" && break; sleep 0.1; done
    kill -TERM "$driver"
    wait "$driver"
done

export DISPLAY="$display" QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
source scripts/screenshot_helpers.sh
LUMOPET_HOME="$home" build/lumopet &
program=$!
sleep 1
shot '^Lumopet$' draft_question.png
convert "$out/draft_question.png" -colors 128 "PNG8:$out/draft_question.png"
echo "$out/draft_question.png"
