#!/usr/bin/env bash
# Receiving and storing 1,000 small messages from the local Dovecot through
# the code the receive hot-spot runs, against fetchmail and mpop fetching
# the same mailbox in the same run. Prints the three times.
#   scripts/benchmark_receive.sh [messages]   (default 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-1000}"
for tool in fetchmail mpop; do
    command -v "$tool" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$tool" >/dev/null
done
[[ -x build/tests/mail_check_driver ]] || scripts/build.sh

work=$(mktemp -d)
servers="$work/servers"
trap '/usr/bin/python3 scripts/mail_servers.py stop --dir "$servers" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
info=$(/usr/bin/python3 scripts/mail_servers.py start --dir "$servers" --account bench:benchpw | tail -n 1)
field() { /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$info" "$1"; }
port=$(field pop3)
ca=$(field ca)

mkdir -p "$work/messages"
/usr/bin/python3 - "$work/messages" "$count" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    with open(os.path.join(folder, "%05d.eml" % i), "wb") as f:
        f.write(("From: sender@localhost\r\nTo: bench@localhost\r\nSubject: message %d\r\n"
                 "Date: Mon, 07 Dec 2026 12:00:00 +0900\r\n\r\nHello, this is message %d.\r\n" % (i, i)).encode())
PY
fill() { /usr/bin/python3 scripts/mail_servers.py deliver --dir "$servers" --account bench "$work"/messages/*.eml; }
seconds() { /usr/bin/python3 -c 'import sys; print("%.2f" % ((int(sys.argv[2]) - int(sys.argv[1])) / 1e9))' "$1" "$2"; }

# Lumopet: its own program folder, STLS as it negotiates with this server.
home="$work/home"
mkdir -p "$home/★MailData" "$home/添付フォルダ"
printf 'POP3=127.0.0.1:%s\r\n' "$port" >"$home/sorane.ini"
printf '[EXEINI]\r\nNAME=bench\r\nNAME2=benchpw\r\n' >"$home/★MailData/iniIdPass.ini"
fill
start=$(date +%s%N)
LUMOPET_CA_FILE="$ca" build/tests/mail_check_driver "$home" >/dev/null
lumopet=$(seconds "$start" "$(date +%s%N)")

# mpop, delivering into a Maildir.
mkdir -p "$work/maildir"/{new,cur,tmp}
fill
start=$(date +%s%N)
mpop --host=127.0.0.1 --port="$port" --user=bench --passwordeval='echo benchpw' --auth=user \
    --tls=on --tls-starttls=on --tls-trust-file="$ca" --keep=off --only-new=off \
    --delivery=maildir,"$work/maildir" --uidls-file="$work/uidls" >/dev/null
mpop_time=$(seconds "$start" "$(date +%s%N)")

# fetchmail, handing each message to a delivery command. Plain POP3: its
# STLS does not get along with the servers' own certificate here.
cat >"$work/fetchmailrc" <<RC
set no syslog
poll 127.0.0.1 service $port proto pop3 user "bench" password "benchpw" sslproto "" fetchall nokeep mda "/usr/bin/md5sum"
RC
chmod 600 "$work/fetchmailrc"
fill
start=$(date +%s%N)
fetchmail -f "$work/fetchmailrc" --pidfile "$work/fetchmail.pid" >"$work/fetchmail.log" 2>&1 || { echo "fetchmail failed:"; tail -n 3 "$work/fetchmail.log"; }
fetchmail_time=$(seconds "$start" "$(date +%s%N)")

stored=$(/usr/bin/python3 -c 'import sys; print(__import__("os").path.getsize(sys.argv[1]) // 12284)' "$home/★MailData/srndata2.data")
echo "Receiving $count messages: Lumopet ${lumopet} s ($stored stored), mpop ${mpop_time} s, fetchmail ${fetchmail_time} s"
echo "Goal: Lumopet within 1.5 times the faster of the other two."
