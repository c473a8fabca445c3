#!/usr/bin/env bash
# Installs what is missing, builds, and starts Lumopet on a program folder of
# its own (run-home/) with a ready mail account: local POP3 and SMTP servers
# on loopback, the account "alice" with three messages waiting. The servers
# stop when the program ends.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/install-mail-servers.sh
scripts/build.sh

home="$PWD/run-home"
mkdir -p "$home/★MailData"
export LUMOPET_HOME="$home"

servers=$(mktemp -d)
stop_servers() { /usr/bin/python3 scripts/mail_servers.py stop --dir "$servers" || true; rm -rf "$servers"; }
trap stop_servers EXIT
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
/usr/bin/python3 scripts/mail_servers.py deliver --dir "$servers" --account alice scripts/demo-mail/*.eml
echo "Local mail servers: POP3 127.0.0.1:$pop3, SMTP 127.0.0.1:$smtp; account alice (password alice-pw), also bob."

# The characters are shaped, always-on-top windows: they need X11, also on
# a Wayland desktop.
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: starting Lumopet on a virtual one (xvfb-run). Use scripts/screenshots.sh to see it."
    xvfb-run -a -s "-screen 0 1280x800x24" build/lumopet
else
    build/lumopet
fi
