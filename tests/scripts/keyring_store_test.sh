#!/bin/sh
# Runs the keyring store's tests against a Secret Service of their own: a
# private session bus (dbus-run-session) with gnome-keyring-daemon, whose
# login keyring is made and unlocked with an empty password, in a home of
# its own, so that no keyring of the user's is ever touched.
#   keyring_store_test.sh TEST_PROGRAM [ARGUMENTS...]
set -eu
program=$1
shift
for tool in dbus-run-session gnome-keyring-daemon; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT INT TERM
mkdir -m 700 "$home/run"
export HOME="$home"
export XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
export XDG_RUNTIME_DIR="$home/run"
# QtKeychain picks KWallet on a KDE desktop; here it must take the Secret
# Service, and no display may lend its own bus.
unset DBUS_SESSION_BUS_ADDRESS XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION DISPLAY WAYLAND_DISPLAY
export LUMOPET_TEST_PRIVATE_KEYRING="$home"

# gnome-keyring-daemon --unlock reads the login keyring's password from
# standard input: an empty line (no bytes at all leave the keyring
# uncreated, and every write then fails).
status=0
dbus-run-session -- sh -c '
    printf "\n" | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 1
    exec "$@"' keyring "$program" "$@" || status=$?
exit "$status"
