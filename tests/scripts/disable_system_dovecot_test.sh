#!/usr/bin/env bash
# scripts/disable-system-dovecot.sh on fake roots laid out as Debian's
# dovecot-core packages leave them: afterwards nothing starts Dovecot at
# boot, a second run is silent, and what is not Debian's is left alone.
set -euo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/disable-system-dovecot.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL ($case): $*" >&2; failed=1; }

# What installing dovecot-core leaves: both units wanted by their targets,
# the init script started in 2-5 and stopped in 0, 1 and 6.
debian_install() {
    local r="$1" level
    mkdir -p "$r/lib/systemd/system" "$r/etc/systemd/system/multi-user.target.wants" \
        "$r/etc/systemd/system/sockets.target.wants" "$r/etc/init.d"
    printf '[Service]\nExecStart=/usr/sbin/dovecot -F\n[Install]\nWantedBy=multi-user.target\n' \
        >"$r/lib/systemd/system/dovecot.service"
    printf '[Socket]\nListenStream=110\n[Install]\nWantedBy=sockets.target\n' >"$r/lib/systemd/system/dovecot.socket"
    ln -s /lib/systemd/system/dovecot.service "$r/etc/systemd/system/multi-user.target.wants/dovecot.service"
    ln -s /lib/systemd/system/dovecot.socket "$r/etc/systemd/system/sockets.target.wants/dovecot.socket"
    printf '#!/bin/sh\n### BEGIN INIT INFO\n# Provides: dovecot\n# Default-Start: 2 3 4 5\n# Default-Stop: 0 1 6\n### END INIT INFO\n' \
        >"$r/etc/init.d/dovecot"
    chmod +x "$r/etc/init.d/dovecot"
    for level in 2 3 4 5; do mkdir -p "$r/etc/rc$level.d"; ln -s ../init.d/dovecot "$r/etc/rc$level.d/S01dovecot"; done
    for level in 0 1 6; do mkdir -p "$r/etc/rc$level.d"; ln -s ../init.d/dovecot "$r/etc/rc$level.d/K01dovecot"; done
}
# Nothing may start Dovecot at boot.
assert_off() {
    local r="$1" unit link
    for unit in dovecot.service dovecot.socket; do
        for link in "$r"/etc/systemd/system/*.wants/"$unit"; do [[ ! -L "$link" ]] || fail "still wanted: $link"; done
    done
    for link in "$r"/etc/rc[S2345].d/S*dovecot; do [[ ! -L "$link" ]] || fail "still started: $link"; done
    for level in 2 3 4 5; do [[ -L "$r/etc/rc$level.d/K01dovecot" ]] || fail "no stop link in rc$level.d"; done
}
masked() { [[ "$(readlink "$1/etc/systemd/system/$2")" == /dev/null ]]; }

# The roots of the cases below, as the package and the user left them.
fresh_install() { debian_install "$1"; }
already_off() { debian_install "$1"; "$script" "$1" >/dev/null; }
sysvinit_links_back_on() {
    already_off "$1"
    for level in 2 3 4 5; do mv "$1/etc/rc$level.d/K01dovecot" "$1/etc/rc$level.d/S01dovecot"; done
}
socket_unmasked() { already_off "$1"; rm "$1/etc/systemd/system/dovecot.socket"; }
not_installed() { mkdir -p "$1/etc"; }

# Each case: a name, how its root is set up, what the first run must print
# (a pattern for grep -E; empty: nothing at all).
cases=(
    "fresh install|fresh_install|^Debian's own Dovecot service stays off \(.*dovecot.service disabled.*dovecot.service masked.*sysvinit.*\)"
    "installed and already off|already_off|"
    "sysvinit links back on|sysvinit_links_back_on|\(sysvinit start links turned off\)"
    "socket unmasked|socket_unmasked|\(dovecot.socket masked\)"
    "not installed|not_installed|"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r case setup expected <<<"$entry"
    r="$work/${case// /-}"
    mkdir -p "$r"
    "$setup" "$r"
    before=$(cd "$r" && find . -printf '%p %l\n' | sort)
    check=0
    "$script" --check "$r" || check=$?
    [[ "$(cd "$r" && find . -printf '%p %l\n' | sort)" == "$before" ]] || fail "--check changed the root"
    output=$("$script" "$r" 2>&1)
    if [[ -z "$expected" ]]; then
        [[ -z "$output" ]] || fail "printed: $output"
        [[ $check -eq 0 ]] || fail "--check said something is left to do"
        [[ "$(cd "$r" && find . -printf '%p %l\n' | sort)" == "$before" ]] || fail "a root with nothing to do was changed"
    else
        [[ $(wc -l <<<"$output") -eq 1 ]] && grep -qE "$expected" <<<"$output" || fail "printed: $output"
        [[ $check -eq 1 ]] || fail "--check said nothing is left to do"
    fi
    if [[ -e "$r/etc/init.d/dovecot" ]]; then
        assert_off "$r"
        masked "$r" dovecot.service || fail "dovecot.service not masked"
        masked "$r" dovecot.socket || fail "dovecot.socket not masked"
    else
        [[ ! -e "$r/etc/systemd" ]] || fail "made systemd links for a Dovecot that is not installed"
    fi
    second=$("$script" "$r" 2>&1)
    [[ -z "$second" ]] || fail "second run printed: $second"
    "$script" --check "$r" || fail "--check after a run: something left to do"
done

# A dovecot.service of the administrator's own in /etc is theirs: not
# replaced by a mask, said so on stderr; the boot links are still removed.
case="own unit file"
r="$work/own"
mkdir -p "$r"
debian_install "$r"
printf '[Service]\nExecStart=/usr/local/sbin/dovecot -F\n' >"$r/etc/systemd/system/dovecot.service"
errors=$("$script" "$r" 2>&1 >/dev/null)
grep -q 'Left alone: /etc/systemd/system/dovecot.service' <<<"$errors" || fail "no word about the own unit: $errors"
[[ -f "$r/etc/systemd/system/dovecot.service" && ! -L "$r/etc/systemd/system/dovecot.service" ]] || fail "own unit replaced"
grep -q /usr/local/sbin <<<"$(cat "$r/etc/systemd/system/dovecot.service")" || fail "own unit changed"
assert_off "$r"

[[ $failed -eq 0 ]] && echo "disable-system-dovecot checks passed"
exit "$failed"
