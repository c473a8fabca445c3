#!/usr/bin/env bash
# Prints how much of one core five walking characters cost, on a virtual
# X display (the window system's own share is not counted), and the CPU
# time of one tick. Each run measures them twice, one after the other: as
# they are, and kept away from full-screen windows (AwayFromFullScreen on,
# the watch of the active window beside them).
#   scripts/benchmark_characters.sh [seconds] [runs]   (default 20 s, 3 runs)
#   scripts/benchmark_characters.sh --openbox [seconds] [runs]
#       the same under openbox, as on a desktop with a window manager
#   scripts/benchmark_characters.sh --callgrind [seconds]
#       counts the instructions of the measured stretch under valgrind
#       instead: slow, but free of the noise of a busy machine.
# BUILD_DIR names another build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
[[ -x "$build/tests/character_benchmark" ]] || scripts/build.sh
benchmark="$build/tests/character_benchmark"
export QT_QPA_PLATFORM=xcb

if [[ "${1:-}" == "--callgrind" ]]; then
    seconds="${2:-10}"
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
    xvfb-run -a -s "-screen 0 1280x800x24" valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.%p" \
        "$benchmark" "$seconds" 2>/dev/null | tee "$out/report"
    # The benchmark dumps the measured stretch as part 1 of its profile.
    instructions=$(callgrind_annotate "$out"/callgrind.*.1 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
    ticks=$(sed -n 's/.*; \([0-9]*\) ticks.*/\1/p' "$out/report")
    echo "instructions in the measured stretch: $instructions, $((instructions / ticks)) a tick"
    exit 0
fi

display=(xvfb-run -a -s "-screen 0 1280x800x24")
if [[ "${1:-}" == "--openbox" ]]; then
    display=(scripts/with_openbox.sh)
    shift
fi
for run in $(seq "${2:-3}"); do
    "${display[@]}" "$benchmark" "${1:-20}" 2>/dev/null
    "${display[@]}" "$benchmark" "${1:-20}" away 2>/dev/null
done
