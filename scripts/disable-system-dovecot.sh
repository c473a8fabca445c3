#!/usr/bin/env bash
# Keeps Debian's own Dovecot service from ever starting: installing
# dovecot-core enables it for the next boot, a POP3 server on every
# interface that logs in the machine's accounts. This project needs only
# the programs (the tests and run.sh start a private Dovecot on loopback).
#
#   scripts/disable-system-dovecot.sh [--check] [ROOT]     (default ROOT: /)
#
# --check changes nothing: exit 1 when something is still to do (as any
# user, so that the installers ask for root only then).
#
# Disables and masks dovecot.service and dovecot.socket for systemd, and
# turns the sysvinit start links into stop links, all by the links
# themselves, so that it works without a running systemd too (a chroot, a
# container, a root seen from outside). A mask not made by Debian's helper
# stays through package upgrades. On a machine running systemd it also stops
# the service if it runs. Prints one line when it changed something,
# nothing when all was done already.
set -euo pipefail
check=0
if [[ "${1:-}" == --check ]]; then check=1; shift; fi
root="${1:-/}"
root="${root%/}"
etc="$root/etc"

installed=0
for unit in dovecot.service dovecot.socket; do
    for folder in lib/systemd/system usr/lib/systemd/system; do
        [[ -e "$root/$folder/$unit" ]] && installed=1
    done
done
[[ -e "$etc/init.d/dovecot" ]] && installed=1
[[ $installed -eq 1 ]] || exit 0

changed=()
# Every change goes through here; --check only notes it.
change() { [[ $check -eq 1 ]] || "$@"; }

# systemd: no "wants" link from any target, and the unit linked to
# /dev/null in /etc/systemd/system, as `systemctl mask` leaves it.
for unit in dovecot.service dovecot.socket; do
    for link in "$etc"/systemd/system/*.wants/"$unit"; do
        if [[ -L "$link" ]]; then
            change rm -f "$link"
            changed+=("$unit disabled")
        fi
    done
    shipped=0
    for folder in lib/systemd/system usr/lib/systemd/system; do
        [[ -e "$root/$folder/$unit" ]] && shipped=1
    done
    [[ $shipped -eq 1 ]] || continue
    mask="$etc/systemd/system/$unit"
    [[ "$(readlink "$mask" 2>/dev/null)" == /dev/null ]] && continue
    if [[ -e "$mask" && ! -L "$mask" ]]; then
        # A unit of the administrator's own: theirs to decide.
        echo "Left alone: ${mask#"$root"} is a unit file of this machine's own, not masked." >&2
        continue
    fi
    change mkdir -p "$etc/systemd/system"
    change ln -sfn /dev/null "$mask"
    changed+=("$unit masked")
done

# sysvinit: S links become K links, as `update-rc.d dovecot disable` does;
# update-rc.d itself when it is there (it also tells insserv), then by hand
# whatever it left.
start_links=("$etc"/rc[S2345].d/S[0-9][0-9]dovecot)
if [[ -L "${start_links[0]}" ]]; then
    if [[ $check -eq 0 ]] && command -v update-rc.d >/dev/null; then
        DPKG_ROOT="$root" SYSTEMCTL_SKIP_SYSV=1 update-rc.d dovecot disable >/dev/null 2>&1 || true
    fi
    for link in "${start_links[@]}"; do
        [[ -L "$link" ]] || continue
        name=$(basename "$link")
        change mv "$link" "$(dirname "$link")/K${name#S}"
    done
    changed+=("sysvinit start links turned off")
fi

# A running systemd reads the links again and stops what may be running.
if [[ -z "$root" && -d /run/systemd/system ]] && command -v systemctl >/dev/null; then
    [[ ${#changed[@]} -eq 0 ]] || change systemctl daemon-reload >/dev/null 2>&1 || true
    for unit in dovecot.socket dovecot.service; do
        if systemctl --quiet is-active "$unit" 2>/dev/null; then
            change systemctl stop "$unit" >/dev/null 2>&1 || true
            changed+=("$unit stopped")
        fi
    done
fi

if [[ $check -eq 1 ]]; then
    [[ ${#changed[@]} -eq 0 ]] || exit 1
elif [[ ${#changed[@]} -gt 0 ]]; then
    summary=$(printf '%s, ' "${changed[@]}")
    echo "Debian's own Dovecot service stays off (${summary%, }); the tests and run.sh start a private one on loopback."
fi
