#!/bin/sh
# What the idle program costs with the timed mail check on and off: two
# programs side by side, offscreen, no mail, each in a folder of its own;
# their CPU time (utime + stime from /proc/PID/stat) over the same seconds.
#   scripts/idle_cost.sh BUILD_DIR [SECONDS]
set -eu
build=${1:?build folder}
seconds=${2:-60}
program="$build/lumopet"
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }
work=$(mktemp -d)
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

start() {  # start NAME MINUTES: prints the program's PID
    home="$work/$1"
    mkdir -p "$home/★MailData"
    # A server nobody listens on: a check fails at once, and no mail comes.
    printf 'SMTP=127.0.0.1:1\r\nPOP3=127.0.0.1:1\r\nMAIL=idle@localhost\r\nAPOP=0\r\n' >"$home/sorane.ini"
    printf '[EXEINI]\r\nNAME=idle\r\nNAME2=pw\r\n' >"$home/★MailData/iniIdPass.ini"
    printf '[Receive]\r\nAutoCheckMinutes=%s\r\n' "$2" >"$home/★MailData/lumopet.ini"
    QT_QPA_PLATFORM=offscreen LUMOPET_HOME="$home" "$program" >"$work/$1.log" 2>&1 &
    echo $!
}

ticks() {  # utime + stime, in clock ticks
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

on=$(start on 1)
off=$(start off 0)
pids="$on $off"
sleep 3  # past the start-up
on0=$(ticks "$on"); off0=$(ticks "$off")
sleep "$seconds"
on1=$(ticks "$on"); off1=$(ticks "$off")
hz=$(getconf CLK_TCK)
report() {  # report LABEL TICKS
    awk -v t="$2" -v hz="$hz" -v s="$seconds" -v l="$1" \
        'BEGIN { printf "%-28s %5.2f s CPU in %d s: %.3f %% of one core\n", l, t / hz, s, 100 * t / hz / s }'
}
report "AutoCheckMinutes=1" $((on1 - on0))
report "AutoCheckMinutes=0 (off)" $((off1 - off0))
