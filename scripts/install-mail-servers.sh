#!/usr/bin/env bash
# Installs what scripts/mail_servers.py needs: Dovecot for POP3, aiosmtpd for
# SMTP and openssl for the certificates; only those that are missing.
# Runs as root, or through sudo.
#
# The tests start their own private Dovecot, so the packaged system service
# must never come up: while apt runs we put a policy-rc.d in place that
# forbids starting any service (exit 101), unless the machine already has one;
# afterwards, and also when nothing was missing (a machine where Dovecot was
# installed before), disable-system-dovecot.sh keeps it off for boot.
set -euo pipefail
cd "$(dirname "$0")"

packages=(dovecot-core dovecot-pop3d dovecot-submissiond python3-aiosmtpd openssl)
missing=0
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing=1
done
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
if [[ $missing -eq 0 ]]; then
    ./disable-system-dovecot.sh --check || "${sudo[@]}" ./disable-system-dovecot.sh
    exit 0
fi

policy=/usr/sbin/policy-rc.d
made_policy=0
remove_policy() {
    if [[ $made_policy -eq 1 ]]; then
        "${sudo[@]}" rm -f "$policy"
    fi
}
trap remove_policy EXIT
if [[ ! -e "$policy" ]]; then
    printf '#!/bin/sh\n# Put here by Lumopet'"'"'s install-mail-servers.sh while apt runs.\nexit 101\n' \
        | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 0755 "$policy"
    made_policy=1
fi

./install-deps.sh "${packages[@]}"
"${sudo[@]}" ./disable-system-dovecot.sh
