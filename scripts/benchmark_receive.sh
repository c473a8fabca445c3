#!/usr/bin/env bash
# Receiving 1,000 messages like everyday Japanese mail (2 to 4 KB,
# ISO-2022-JP and UTF-8) from the local Dovecot with STLS, timed five ways
# on the same mailbox, each starting from a full mailbox:
#   - Lumopet as a user runs it: the program on a virtual display, a click
#     on 受信, timed until the mailbox on the server is empty and the
#     received history holds every message; pictures of the window's help
#     line taken during the check tell whether it kept painting;
#   - the windowless driver running the same check (the window's cost is
#     the difference);
#   - mpop with STLS, delivering into a Maildir;
#   - fetchmail, handing each message to a command;
#   - a bare client that stores nothing, the least any client can take.
# The whole round runs ROUNDS times; prints the best and the median of each
# and the machine they came from.
#   [LUMOPET_BUILD=build] [BENCHMARK_DISK=journaled] scripts/benchmark_receive.sh [messages [rounds]]
#   (default 1000 messages, 3 rounds; then one message of BENCHMARK_LARGE_MB,
#   default 1024, through scripts/benchmark_large_receive.sh; 0 skips it)
# BENCHMARK_JUNK=1 (scripts/benchmark_junk.sh) times only the click, with
# the junk filter off and on in each round, on a mailbox where every tenth
# message is spam and a word list trained on 100 messages of each kind;
# then on with a stand-in that answers "ham" at once in bogofilter's place
# (what holding the records costs), and bogofilter alone over the copies
# the check made.
# BENCHMARK_LINK=MBIT:MS puts a line of MBIT megabits a second and MS
# milliseconds each way (scripts/slow_link.py) between the program and
# Dovecot, as a provider's server over a home line would be; the other
# tools keep the direct way.
# BENCHMARK_DISK=journaled runs everything on a fresh ext4 file system with
# a journal, as Debian's installer makes it, in a file mounted through a
# loop device. The virtual machines here have ext4 without a journal, where
# making a file costs a scan of every inode deleted in the last five
# minutes; each run deletes thousands, which makes the figures of every
# tool wander by a third.
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-1000}"
rounds="${2:-3}"
build="${LUMOPET_BUILD:-build}"

for tool in fetchmail:fetchmail mpop:mpop xdotool:xdotool Xvfb:xvfb; do
    command -v "${tool%%:*}" >/dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${tool#*:}" >/dev/null
done
if [[ ! -x "$build/lumopet" || ! -x "$build/tests/mail_check_driver" ]]; then
    [[ "$build" == build ]] || { echo "No $build/lumopet or $build/tests/mail_check_driver: build them first." >&2; exit 1; }
    scripts/build.sh
fi
# The received history is a file of fixed-size records.
record_size=$(sed -n 's/.*kHistoryRecordSize = \([0-9]*\);.*/\1/p' store/history_record.h)
[[ -n "$record_size" ]] || { echo "No record size in store/history_record.h" >&2; exit 1; }

# Everything started here is stopped by one function, however the run
# ends. Bash runs a signal's trap only after the foreground command, and
# no EXIT trap when a signal kills it, hence the INT and TERM traps.
work=$(mktemp -d)
disk=""
if [[ "${BENCHMARK_DISK:-}" == journaled ]]; then
    disk="$work.ext4"
    truncate -s 4G "$disk"
    mkfs.ext4 -q -F "$disk"
    mount -o loop "$disk" "$work"
fi
servers="$work/servers"
program=""
xvfb=""
link=""
cleanup() {
    trap '' INT TERM
    if [[ -n "$link" ]]; then kill -TERM "$link" 2>/dev/null || true; wait "$link" 2>/dev/null || true; fi
    if [[ -n "$program" ]]; then kill -TERM "$program" 2>/dev/null || true; wait "$program" 2>/dev/null || true; fi
    if [[ -n "$xvfb" ]]; then kill -TERM "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
    /usr/bin/python3 scripts/mail_servers.py stop --dir "$servers" >/dev/null 2>&1 || true
    if [[ -n "$disk" ]]; then umount "$work" 2>/dev/null || umount -l "$work" || true; rm -f "$disk"; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

info=$(/usr/bin/python3 scripts/mail_servers.py start --dir "$servers" --account bench:benchpw | tail -n 1)
field() { /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$info" "$1"; }
port=$(field pop3)
smtp=$(field smtp)
ca=$(field ca)
maildir=$(/usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])["accounts"]["bench"])' "$info")
program_port="$port"
if [[ -n "${BENCHMARK_LINK:-}" ]]; then
    /usr/bin/python3 scripts/slow_link.py --listen-port-file "$work/link-port" --to "$port" \
        --mbit "${BENCHMARK_LINK%%:*}" --delay-ms "${BENCHMARK_LINK#*:}" &
    link=$!
    for _ in $(seq 100); do [[ -s "$work/link-port" ]] && break; sleep 0.1; done
    [[ -s "$work/link-port" ]] || { echo "The slow link did not start" >&2; exit 1; }
    program_port=$(cat "$work/link-port")
fi

/usr/bin/python3 scripts/benchmark_receive.py messages "$work/messages" "$count"
junk_mode="${BENCHMARK_JUNK:-}"
if [[ -n "$junk_mode" ]]; then
    command -v bogofilter >/dev/null || { echo "bogofilter is missing: run scripts/install-deps.sh" >&2; exit 1; }
    /usr/bin/python3 scripts/benchmark_junk.py spam "$work/messages"
    /usr/bin/python3 scripts/benchmark_junk.py training "$work/training" 100
    # Trained as the program trains it: -C leaves any bogofilter.cf out.
    mkdir -m 0700 "$work/wordlist"
    printf '#!/bin/sh\nexec sed "s/$/ H 0.000000/"\n' >"$work/answer-ham"
    chmod +x "$work/answer-ham"
    for kind in ham:-n spam:-s; do
        for file in "$work/training/${kind%%:*}"/*.eml; do bogofilter -C --db-transaction=no -d "$work/wordlist" "${kind#*:}" <"$file"; done
    done
fi
# Every tool starts from the same quiet disk: the previous run's deletions
# and writes settled first (ext4 hands out the inodes of files deleted a
# moment ago only after extra reads, which would tax whoever runs next).
# For the same reason the folders a run filled are moved aside, not
# deleted, and go only at the end: deleting a thousand files just before a
# tool starts cost it a fifth of its time here, on a file system without a
# journal, and no user checks mail a moment after deleting thousands of
# files.
aside() {
    [[ -e "$1" ]] || return 0
    mkdir -p "$work/aside"
    mv "$1" "$(mktemp -d "$work/aside/XXXXXX")/"
}
fill() {
    /usr/bin/python3 scripts/mail_servers.py deliver --dir "$servers" --account bench "$work"/messages/*.eml
    sync
    sleep 5
}
left() { /usr/bin/python3 scripts/mail_servers.py count --dir "$servers" --account bench; }
seconds() { /usr/bin/python3 -c 'import sys; print("%.3f" % ((int(sys.argv[2]) - int(sys.argv[1])) / 1e9))' "$1" "$2"; }
# Each run ends with the mailbox empty; one that does not is no figure.
emptied() { local n; n=$(left); [[ "$n" == 0 ]] || { echo "$1 left $n messages on the server" >&2; exit 1; }; }

# A program folder as the settings windows write it: STLS as the program
# negotiates with this server.
make_home() {
    aside "$1"
    mkdir -p "$1/★MailData" "$1/添付フォルダ"
    printf 'SMTP=127.0.0.1:%s\r\nPOP3=127.0.0.1:%s\r\nMAIL=bench@localhost\r\nAPOP=0\r\n' "$smtp" "$program_port" >"$1/sorane.ini"
    printf '[EXEINI]\r\nNAME=bench\r\nNAME2=benchpw\r\nNAME3=1\r\n' >"$1/★MailData/iniIdPass.ini"
    chmod 600 "$1/★MailData/iniIdPass.ini"
    if [[ "${2:-}" == junk || "${2:-}" == held ]]; then
        printf '[Receive]\r\nJunkFilter=1\r\n' >"$1/★MailData/lumopet.ini"
        cp -r "$work/wordlist" "$1/★MailData/bogofilter"
    fi
}
export LUMOPET_CA_FILE="$ca"

# A virtual display; Xvfb picks a free number and writes it to fd 3.
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb
mkdir -m 0700 "$XDG_RUNTIME_DIR"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

# The 受信 hot-spot is at (480, 2040) twips, 1215 by 315 (app/main_form_layout.cpp):
# its middle in pixels at 96 dpi, from the window's top left corner.
hot_x=$(((480 + 1215 / 2) / 15))
hot_y=$(((2040 + 315 / 2) / 15))
# The help line, where the check counts its messages, at (1800, 360) twips,
# 4455 by 615 (app/main_form_layout.h). Pictures of it alone tell whether
# the window paints: pictures of the whole window took a tenth of the
# check's time from it on two cores.
help_x=$((1800 / 15)) help_y=$((360 / 15)) help_width=$((4455 / 15)) help_height=$((615 / 15))

# Lumopet through the click: a fresh program folder and a fresh program,
# idle on its main window with the mouse over 受信. "lumopet_click junk":
# with the junk filter on; "held": on, with the stand-in for bogofilter.
lumopet_click() {
    local home="$work/home" window result took distinct taken name=lumopet label="Lumopet, clicking 受信" filter=""
    [[ "${1:-}" == junk ]] && name=lumopet_junk label="Lumopet, clicking 受信, junk filter on"
    [[ "${1:-}" == held ]] && name=lumopet_held label="Lumopet, clicking 受信, filter on, bogofilter's stand-in" \
        filter="$work/answer-ham"
    make_home "$home" "${1:-}"
    LUMOPET_HOME="$home" LUMOPET_BOGOFILTER="$filter" "$build/lumopet" >"$work/program.log" 2>&1 &
    program=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name 'Ver 2.13' | head -n 1)
    [[ -n "$window" ]] || { echo "The main window did not appear:" >&2; cat "$work/program.log" >&2; exit 1; }
    xdotool windowraise "$window"
    # shellcheck disable=SC2034  # getwindowgeometry sets all six
    local X Y WIDTH HEIGHT WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove $((X + hot_x)) $((Y + hot_y))
    sleep 1
    result=$(/usr/bin/python3 scripts/benchmark_receive.py click --x $((X + hot_x)) --y $((Y + hot_y)) \
        --bbox "$((X + help_x)),$((Y + help_y)),$help_width,$help_height" --maildir "$maildir" --history "$home/★MailData/srndata2.data" \
        --junk-history "$home/★MailData/srndata2.junk.data" \
        --record-size "$record_size" --count "$count" --timeout 120) ||
        { echo "The check through the window did not end; the program said:" >&2; cat "$work/program.log" >&2; exit 1; }
    kill -TERM "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    program=""
    read -r took distinct taken <<<"$result"
    echo "$name $took" >>"$work/times"
    echo "  $label: ${took} s; the window showed $distinct different pictures in $taken taken during the check"
    if ((distinct >= 2)); then echo "repainted" >>"$work/paints"; else echo "still" >>"$work/paints"; fi
}

lumopet_driver() {
    local home="$work/home" start stored took
    make_home "$home"
    start=$(date +%s%N)
    "$build/tests/mail_check_driver" "$home" >/dev/null
    took=$(seconds "$start" "$(date +%s%N)")
    stored=$(($(stat -c %s "$home/★MailData/srndata2.data") / record_size))
    ((stored == count)) || { echo "The driver stored $stored messages, not $count" >&2; exit 1; }
    echo "driver $took" >>"$work/times"
    echo "  Lumopet, windowless driver: ${took} s"
}

mpop_run() {
    local start took
    aside "$work/maildir"
    rm -f "$work/uidls"
    mkdir -p "$work/maildir"/{new,cur,tmp}
    start=$(date +%s%N)
    mpop --host=127.0.0.1 --port="$port" --user=bench --passwordeval='echo benchpw' --auth=user \
        --tls=on --tls-starttls=on --tls-trust-file="$ca" --keep=off --only-new=off \
        --delivery=maildir,"$work/maildir" --uidls-file="$work/uidls" >/dev/null
    took=$(seconds "$start" "$(date +%s%N)")
    echo "mpop $took" >>"$work/times"
    echo "  mpop: ${took} s"
}

# fetchmail, handing each message to a delivery command. Plain POP3: its
# STLS does not get along with the servers' own certificate here.
cat >"$work/fetchmailrc" <<RC
set no syslog
poll 127.0.0.1 service $port proto pop3 user "bench" password "benchpw" sslproto "" fetchall nokeep mda "/usr/bin/md5sum"
RC
chmod 600 "$work/fetchmailrc"
fetchmail_run() {
    local start took
    start=$(date +%s%N)
    fetchmail -f "$work/fetchmailrc" --pidfile "$work/fetchmail.pid" >"$work/fetchmail.log" 2>&1 ||
        { echo "fetchmail failed:" >&2; tail -n 3 "$work/fetchmail.log" >&2; exit 1; }
    took=$(seconds "$start" "$(date +%s%N)")
    echo "fetchmail $took" >>"$work/times"
    echo "  fetchmail: ${took} s"
}

# The floor: the least any client takes of this server for the mailbox.
bare_run() {
    local took
    took=$(/usr/bin/python3 scripts/benchmark_receive.py bare --port "$port" --ca "$ca" --user bench --password benchpw)
    echo "bare $took" >>"$work/times"
    echo "  bare client, storing nothing: ${took} s"
}

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores," \
    "$(free -g | awk '/^Mem:/ {print $2}') GB; $(. /etc/os-release && echo "$PRETTY_NAME")"
echo "Date: $(date '+%Y-%m-%d %H:%M %Z'); load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "Program: $build/lumopet"
[[ -z "${BENCHMARK_LINK:-}" ]] || echo "Link to the server: ${BENCHMARK_LINK%%:*} Mbit/s, ${BENCHMARK_LINK#*:} ms each way"
echo "Disk: $(findmnt -n -o SOURCE,FSTYPE --target "$work")$([[ -n "$disk" ]] && echo ", with a journal, in a file")"
# bogofilter alone over the copies the last check with the filter on made:
# grouped by charset, as the check hands them over, and in the order they
# came (where it loads its ISO-2022-JP converter again at each change).
bogofilter_alone() {
    local home="$work/home" start took junk order
    junk=$(($(stat -c %s "$home/★MailData/srndata2.junk.data" 2>/dev/null || echo 0) / record_size))
    find "$home" -path "*/Maildir/new/*" -type f | sort -V >"$work/copies.server"
    /usr/bin/python3 scripts/benchmark_junk.py grouped "$work/copies.server" >"$work/copies.grouped"
    for order in grouped server; do
        start=$(date +%s%N)
        bogofilter -C --db-transaction=no -d "$home/★MailData/bogofilter" -b -t -v <"$work/copies.$order" >/dev/null || true
        took=$(seconds "$start" "$(date +%s%N)")
        echo "bogofilter_$order $took" >>"$work/times"
        echo "  bogofilter alone over the $(wc -l <"$work/copies.$order") copies in $order order: ${took} s"
    done
    echo "  (the check set $junk aside as junk)"
}

for round in $(seq "$rounds"); do
    echo "Round $round of $rounds:"
    if [[ -n "$junk_mode" ]]; then
        fill; lumopet_click; emptied Lumopet
        fill; lumopet_click junk; emptied "Lumopet with the junk filter"
        bogofilter_alone
        fill; lumopet_click held; emptied "Lumopet with bogofilter's stand-in"
        continue
    fi
    fill; lumopet_click; emptied Lumopet
    fill; lumopet_driver; emptied "The driver"
    fill; mpop_run; emptied mpop
    fill; fetchmail_run; emptied fetchmail
    fill; bare_run; emptied "The bare client"
done

echo
echo "Receiving $count messages, rounds: $rounds, load average now $(cut -d ' ' -f 1-3 /proc/loadavg):"
/usr/bin/python3 scripts/benchmark_receive.py summary "$work/times"
echo "The window painted during the check in $(grep -c "^repainted" "$work/paints" || true) of $(wc -l <"$work/paints") checks through the click (goal: every one)."

# One message of a gigabyte, text and attachment, beside mpop; 0 skips it.
large="${BENCHMARK_LARGE_MB:-1024}"
[[ -z "$junk_mode" ]] || large=0
if [[ "$large" != 0 ]]; then
    echo
    LUMOPET_BUILD="$build" scripts/benchmark_large_receive.sh "$large"
fi
