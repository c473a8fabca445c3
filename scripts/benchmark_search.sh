#!/usr/bin/env bash
# Prints what searching the largest history costs, with the file in the
# page cache and read from the disk. Needs about 500 MB free in /tmp.
#   scripts/benchmark_search.sh [rounds]   (default 3)
# BUILD_DIR chooses the build tree (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
# Brings the benchmark up to date with the sources, building only what it needs.
if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target history_search_benchmark
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/^Mem:/ {print $2}') GB memory"
echo "disk under /tmp: $(df -h --output=source,fstype,size /tmp | awk 'NR == 2 {print $1 ", " $2 ", " $3}')"
"$build/tests/history_search_benchmark" "${1:-3}"
