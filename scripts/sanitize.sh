#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs the whole test suite there, end-to-end tests
# included. Any finding fails the test that met it.
#   scripts/sanitize.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-sanitize

if [[ ! -f $build/build.ninja ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMOPET_SANITIZE=ON
fi
cmake --build "$build"

# Leaks that belong to the libraries we stand on: caches that live until the
# process ends and are never freed on purpose (fontconfig, glib's type
# system, GMime's charset tables, Qt's platform plugins, the X libraries).
# A leak in our own code still fails.
cat >"$build/lsan-suppressions.txt" <<'EOF'
leak:libfontconfig.so
leak:libglib-2.0.so
leak:libgobject-2.0.so
leak:libgmime-3.0.so
leak:libQt6Core.so
leak:libQt6Gui.so
leak:libQt6Widgets.so
leak:libQt6PrintSupport.so
leak:libqoffscreen.so
leak:libqxcb.so
leak:libQt6XcbQpa.so
leak:libxcb
leak:libX11.so
leak:libdbus-1.so
leak:libcups.so
leak:libicuuc.so
EOF

export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:quarantine_size_mb=16"
export LSAN_OPTIONS="suppressions=$PWD/$build/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure "$@"
