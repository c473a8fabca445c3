#!/usr/bin/env bash
# Installs what is missing, builds, and starts Lumopet on a program folder of
# its own (run-home/) with a ready mail account: local POP3 and SMTP servers
# on loopback, the account "alice" with eight messages waiting. The servers
# stop when the program ends.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/install-mail-servers.sh
scripts/build.sh

home="$PWD/run-home"
mkdir -p "$home/★MailData"
export LUMOPET_HOME="$home"

# Everything this run starts is stopped by one function, whichever way the
# run ends: the program closed, an error, Ctrl-C (INT) or a SIGTERM (as
# `timeout` sends). Bash runs no EXIT trap when a signal kills it, and it
# runs a signal's trap only once the foreground command is done, so the
# program and the X server run in the background and we wait for them.
servers="${TMPDIR:-/tmp}/lumopet-run.$$"
program=""
virtual_display_pid=""
cleanup() {
    trap '' INT TERM
    if [[ -n "$program" ]]; then kill -TERM "$program" 2>/dev/null || true; wait "$program" 2>/dev/null || true; fi
    if [[ -n "$virtual_display_pid" ]]; then
        kill -TERM "$virtual_display_pid" 2>/dev/null || true
        wait "$virtual_display_pid" 2>/dev/null || true
    fi
    if [[ -d "$servers" ]]; then
        /usr/bin/python3 scripts/mail_servers.py stop --dir "$servers" || true
        rm -rf "$servers"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -m 0700 "$servers"
info=$(/usr/bin/python3 scripts/mail_servers.py start --dir "$servers" \
    --account alice:alice-pw --account bob:bob-pw | tail -n 1)
field() { /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$info" "$1"; }
pop3=$(field pop3)
smtp=$(field smtp)
# The servers offer STLS and STARTTLS with a certificate of their own.
export LUMOPET_CA_FILE=$(field ca)

# The account's settings, as the settings windows write them.
printf 'SMTP=127.0.0.1:%s\r\nPOP3=127.0.0.1:%s\r\nMAIL=alice@localhost\r\nAPOP=0\r\n' "$smtp" "$pop3" >"$home/sorane.ini"
account="$home/★MailData/iniIdPass.ini"
printf '[EXEINI]\r\nNAME=alice\r\nNAME2=alice-pw\r\nNAME3=1\r\n' >"$account"
chmod 600 "$account"
# Two moods enabled (NAME1 is mood 5, NAME2 mood 3), so that the indicators
# show white from the first start; a choice made in 設定 later stays.
characters="$home/★MailData/CharaData.ini"
[[ -e "$characters" ]] || printf '[EXEINI]\r\nNAME1=1\r\nNAME2=1\r\nNAME3=0\r\nNAME4=0\r\nNAME5=0\r\n' >"$characters"
/usr/bin/python3 scripts/mail_servers.py deliver --dir "$servers" --account alice scripts/demo-mail/*.eml
echo "Local mail servers: POP3 127.0.0.1:$pop3, SMTP 127.0.0.1:$smtp; account alice (password alice-pw), also bob."

# The characters are shaped, always-on-top windows: they need X11, also on
# a Wayland desktop.
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
# Without a runtime folder (as root over ssh, say) Qt makes /tmp/runtime-$USER
# and leaves it there: give it one that goes with this run.
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    export XDG_RUNTIME_DIR="$servers/runtime"
    mkdir -m 0700 "$XDG_RUNTIME_DIR"
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    source scripts/virtual_display.sh
    start_virtual_display "$servers" || exit 1
else
    echo "Closing Lumopet, or Ctrl-C here, ends it and the mail servers."
fi
build/lumopet &
program=$!
status=0
wait "$program" || status=$?
program=""
exit "$status"
