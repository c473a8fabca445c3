#!/usr/bin/env bash
# Prints what the largest history costs: listing it, and removing a record
# compared with plain copies of the file. Needs about 1 GB free in /tmp.
#   scripts/benchmark_history.sh [rounds]   (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
# Brings the benchmark up to date with the sources, building only what it needs.
if [[ -f build/build.ninja ]]; then
    cmake --build build --target history_benchmark
else
    scripts/build.sh
fi
build/tests/history_benchmark "${1:-3}"
