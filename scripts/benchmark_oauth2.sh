#!/usr/bin/env bash
# Prints what an OAuth2 token refresh adds to a mail check, beside a check
# with a password, against the local Dovecot and the tests' authorization
# server on loopback.
#   scripts/benchmark_oauth2.sh [rounds]   (default 20)
# BUILD_DIR chooses the build tree (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target oauth2_refresh_benchmark
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/^Mem:/ {print $2}') GB memory"
"$build/tests/oauth2_refresh_benchmark" "${1:-20}"
