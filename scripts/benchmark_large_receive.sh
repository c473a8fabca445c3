#!/usr/bin/env bash
# Receiving one message of about a gigabyte from the local Dovecot with
# STLS, in the two shapes large mail takes: text, and one attachment in
# base64 that decodes to a gigabyte. For each: the windowless driver (the
# same check the 受信 hot-spot runs) receives it, keeps it whole in the
# Maildir and saves the attachment, with its peak memory beside the peak of
# a check of an empty mailbox; then mpop fetches the same message into a
# Maildir, in the same run. Goals: peak under 120 MB above idle, time at
# most 1.5 times mpop's. benchmark_receive.sh runs this after its rounds.
#   [LUMOPET_BUILD=build] scripts/benchmark_large_receive.sh [megabytes]   (default 1024)
set -euo pipefail
cd "$(dirname "$0")/.."
megabytes="${1:-1024}"
build="${LUMOPET_BUILD:-build}"
command -v mpop >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mpop >/dev/null
[[ -x "$build/tests/mail_check_driver" ]] || scripts/build.sh

work=$(mktemp -d)
servers="$work/servers"
cleanup() {
    trap '' INT TERM
    /usr/bin/python3 scripts/mail_servers.py stop --dir "$servers" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

info=$(/usr/bin/python3 scripts/mail_servers.py start --dir "$servers" --account big:bigpw | tail -n 1)
field() { /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$info" "$1"; }
port=$(field pop3)
export LUMOPET_CA_FILE
LUMOPET_CA_FILE=$(field ca)
left() { /usr/bin/python3 scripts/mail_servers.py count --dir "$servers" --account big; }

# The message, written in slices: a text of ASCII lines, or an attachment of
# 76-character base64 lines that decode to the size asked.
make_message() {
    /usr/bin/python3 - "$1" "$2" "$megabytes" <<'PY'
import base64, os, sys
path, kind, megabytes = sys.argv[1], sys.argv[2], int(sys.argv[3])
size = megabytes << 20
with open(path, "wb") as out:
    out.write(b"From: big@example.jp\r\nSubject: %s\r\nMIME-Version: 1.0\r\n" % kind.encode())
    if kind == "text":
        out.write(b"Content-Type: text/plain; charset=us-ascii\r\n\r\n")
        line = b"The quick brown fox jumps over the lazy dog, again and again and again.\r\n"
        block = line * ((1 << 20) // len(line))
        for _ in range(size // len(block)):
            out.write(block)
        out.write(b"end\r\n")
    else:
        out.write(b'Content-Type: multipart/mixed; boundary="b"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n'
                  b"a large file\r\n--b\r\nContent-Type: application/octet-stream\r\n"
                  b'Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename="big.bin"\r\n\r\n')
        chunk = os.urandom(57 * 16384)  # 57 bytes are one 76-character line
        encoded = base64.encodebytes(chunk).replace(b"\n", b"\r\n")
        for _ in range(size // len(chunk)):
            out.write(encoded)
        out.write(b"--b--\r\n")
PY
}

# Runs a command and prints its seconds and its peak resident size in MB.
timed() {
    /usr/bin/python3 - "$@" <<'PY'
import os, subprocess, sys, time
start = time.monotonic()
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
if status != 0:
    sys.exit("%s failed" % sys.argv[1])
print("%.2f %d" % (time.monotonic() - start, usage.ru_maxrss // 1024))
PY
}

make_home() {
    rm -rf "$work/home"
    mkdir -p "$work/home/★MailData" "$work/home/添付フォルダ"
    printf 'POP3=127.0.0.1:%s\r\nAPOP=0\r\n' "$port" >"$work/home/sorane.ini"
    printf '[EXEINI]\r\nNAME=big\r\nNAME2=bigpw\r\nNAME3=1\r\n' >"$work/home/★MailData/iniIdPass.ini"
    printf '[Receive]\r\nMaxMessageMB=0\r\n' >"$work/home/★MailData/lumopet.ini"
}

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores," \
    "$(free -g | awk '/^Mem:/ {print $2}') GB; $(. /etc/os-release && echo "$PRETTY_NAME")"
echo "Disk: $(findmnt -n -o SOURCE,FSTYPE --target "$work")"
make_home
read -r _ idle <<<"$(timed "$build/tests/mail_check_driver" "$work/home")"
echo "A check of an empty mailbox: peak ${idle} MB"
for kind in text attachment; do
    make_message "$work/message.eml" "$kind"
    bytes=$(stat -c %s "$work/message.eml")
    /usr/bin/python3 scripts/mail_servers.py deliver --dir "$servers" --account big "$work/message.eml"
    make_home
    sync
    read -r ours peak <<<"$(timed "$build/tests/mail_check_driver" "$work/home")"
    [[ "$(left)" == 0 ]] || { echo "Lumopet left the $kind message on the server" >&2; exit 1; }
    kept=$(find "$work/home/★MailData/Maildir/new" -type f -printf '%s\n' | head -n 1)
    saved=$(find "$work/home/添付フォルダ" -type f -printf '%s\n' | head -n 1)
    rm -rf "$work/home"

    /usr/bin/python3 scripts/mail_servers.py deliver --dir "$servers" --account big "$work/message.eml"
    rm -rf "$work/maildir" && mkdir -p "$work/maildir"/{new,cur,tmp}
    sync
    read -r theirs _ <<<"$(timed mpop --host=127.0.0.1 --port="$port" --user=big --passwordeval='echo bigpw' --auth=user \
        --tls=on --tls-starttls=on --tls-trust-file="$LUMOPET_CA_FILE" --keep=off --only-new=off \
        --delivery=maildir,"$work/maildir" --uidls-file="$work/uidls")"
    [[ "$(left)" == 0 ]] || { echo "mpop left the $kind message on the server" >&2; exit 1; }
    rm -rf "$work/maildir" "$work/uidls" "$work/message.eml"
    /usr/bin/python3 - "$kind" "$bytes" "$ours" "$theirs" "$peak" "$idle" "${kept:-0}" "${saved:-0}" <<'PY'
import sys
kind, size, ours, theirs, peak, idle, kept, saved = sys.argv[1], int(sys.argv[2]), *map(float, sys.argv[3:5]), *map(int, sys.argv[5:])
print("%s message of %d MB: Lumopet %.2f s, mpop %.2f s (%.2f times mpop's time; goal 1.5); peak %d MB, %d above idle (goal 120);"
      " Maildir copy %d MB%s" % (kind.capitalize(), size >> 20, ours, theirs, ours / theirs, peak, peak - idle, kept >> 20,
                                 ", attachment saved %d MB" % (saved >> 20) if saved else ""))
PY
done
