#!/usr/bin/env bash
# Installs what is missing, builds, and starts Lumopet on a program folder
# of its own (run-home/), ready for a first run.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh

home="$PWD/run-home"
mkdir -p "$home"
export LUMOPET_HOME="$home"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: starting Lumopet on a virtual one (xvfb-run). Use scripts/screenshots.sh to see it."
    exec xvfb-run -a -s "-screen 0 1280x800x24" build/lumopet
fi
# The characters are shaped, always-on-top windows: they need X11, also
# on a Wayland desktop.
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
exec build/lumopet
