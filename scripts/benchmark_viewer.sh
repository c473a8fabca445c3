#!/usr/bin/env bash
# Prints what the history viewer costs at the largest history: listing it
# in the window, and deleting a message there through the button, from the
# Yes until the list is shown again, against `cp` + `sync` of the same file
# in the same run. Then, through the clicks (viewer_click_benchmark), with
# messages read from their Maildir copies: a 100 KB HTML newsletter, a
# message with a 25 MB attachment, and 着信履歴 clicked on the main window,
# each beside the record alone, and where the opening's time goes. Needs
# about 1 GB free in /tmp.
# VIEWER_BENCHMARK_VERBOSE=1 prints every round; VIEWER_BENCHMARK_CLICKS_ONLY=1
# runs only the clicks.
#   scripts/benchmark_viewer.sh [rounds]   (default 5)
# BUILD_DIR chooses the build tree (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
# Brings the benchmark up to date with the sources, building only what it needs.
if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target viewer_benchmark viewer_click_benchmark
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/^Mem:/ {print $2}') GB memory"
echo "disk under /tmp: $(df -h --output=source,fstype,size /tmp | awk 'NR == 2 {print $1 ", " $2 ", " $3}')"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
if [[ -z "${VIEWER_BENCHMARK_CLICKS_ONLY:-}" ]]; then
    QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/tests/viewer_benchmark" "${1:-5}"
fi
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/tests/viewer_click_benchmark" "${1:-5}"
echo "load average afterwards: $(cut -d' ' -f1-3 /proc/loadavg)"
