#!/usr/bin/env bash
# What run.sh says when it starts a virtual display: the display it really
# started, a picture command that works as printed, how to watch it, and
# that Ctrl-C ends the run.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d)
virtual_display_pid=""
cleanup() {
    if [[ -n "$virtual_display_pid" ]]; then kill -TERM "$virtual_display_pid" 2>/dev/null || true; wait "$virtual_display_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

unset DISPLAY WAYLAND_DISPLAY
source "$repo/scripts/virtual_display.sh"
# Into a file: Xvfb keeps the output open, a $(...) would wait for it.
start_virtual_display "$work" >"$work/said"
said=$(cat "$work/said")

display=$(grep -oE 'DISPLAY=:[0-9]+' <<<"$said" | head -n 1 | cut -d= -f2)
[[ -n "$display" ]] || fail "no DISPLAY=:N in: $said"
[[ "$display" == "${DISPLAY:-}" ]] || fail "said $display, set ${DISPLAY:-nothing}"
xdpyinfo -display "$display" >/dev/null 2>&1 || fail "no X server answers on $display"

# The picture command, run as printed, gives a picture of the whole screen.
picture=$(grep -E '^  A picture of it: ' <<<"$said" | sed 's/^  A picture of it: *//')
[[ "$picture" == *"DISPLAY=$display import -window root"* ]] || fail "picture command: $picture"
(cd "$work" && env -u DISPLAY bash -c "$picture") || fail "the picture command failed: $picture"
size=$(od -An -tx1 -j16 -N8 "$work/shot.png" 2>/dev/null | tr -d ' \n')
[[ "$size" == "$(printf '%08x%08x' 1280 800)" ]] || fail "shot.png is not a 1280x800 picture of the display ($size)"

grep -qE "x11vnc -display $display( |,|$)" <<<"$said" || fail "no VNC line for $display: $said"
grep -q 'Ctrl-C here ends everything' <<<"$said" || fail "no word on Ctrl-C: $said"

[[ $failed -eq 0 ]] && echo "virtual display checks passed"
exit "$failed"
