#!/usr/bin/env bash
# Runs a command under a real window manager: openbox on a virtual display
# of its own (1280x800), with QT_QPA_PLATFORM=xcb. Stops both, whatever
# happens, and passes on the command's exit status. The ctest entry
# openbox_window_tests runs the window tests this way; so does
# scripts/screenshots_openbox.sh.
#   scripts/with_openbox.sh COMMAND [arguments...]
set -euo pipefail
[[ $# -ge 1 ]] || { echo "usage: $0 COMMAND [arguments...]" >&2; exit 2; }
for tool in Xvfb openbox xdotool; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

scratch=$(mktemp -d)
xvfb="" openbox=""
cleanup() {
    [[ -n "$openbox" ]] && kill "$openbox" 2>/dev/null && wait "$openbox" 2>/dev/null
    [[ -n "$xvfb" ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Xvfb picks a free display number itself and writes it to the given
# descriptor once it is ready for clients.
exec {ready}>"$scratch/display"
Xvfb -displayfd "$ready" -screen 0 1280x800x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
exec {ready}>&-
for _ in $(seq 100); do [[ -s "$scratch/display" ]] && break; sleep 0.1; done
[[ -s "$scratch/display" ]] || { echo "Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$scratch/display")"

# openbox with its defaults, away from any user's configuration.
export XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache" HOME="$scratch"
openbox --sm-disable >"$scratch/openbox.log" 2>&1 &
openbox=$!
# Ready once it has announced itself on the root window.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
    { echo "openbox did not start" >&2; cat "$scratch/openbox.log" >&2; exit 1; }

status=0
QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
