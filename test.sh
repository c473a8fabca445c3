#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/install-mail-servers.sh
scripts/build.sh
ctest --test-dir build --output-on-failure
# A short run of every fuzz target (10 s each) over its corpus.
if command -v clang++ >/dev/null; then
    scripts/fuzz.sh 10
else
    echo "clang++ is missing: the fuzz targets are not run" >&2
fi
