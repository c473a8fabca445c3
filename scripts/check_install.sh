#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the result the way a
# desktop sees it: the files in their places, the desktop entry and the
# AppStream file valid, the installed program, started by a user with a
# fresh home, making its program folder in ~/.local/share/lumopet, and the
# Debian package's dependencies.
#   scripts/check_install.sh [build folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
[[ -x "$build/lumopet" ]] || { echo "no program in $build: build it first" >&2; exit 1; }

work=$(mktemp -d)
program=""
cleanup() {
    if [[ -n "$program" ]]; then kill -TERM "$program" 2>/dev/null || true; wait "$program" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
prefix="$work/prefix"
home="$work/home"
mkdir -p "$home"

failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
id=io.github.lumopet.Lumopet
for file in bin/lumopet share/lumopet/homepage.html share/lumopet/lumopet_icon.png share/lumopet/lumopet-512.png \
            share/lumopet/oauth2_clients.ini \
            "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"; do
    [[ -f "$prefix/$file" ]] || fail "not installed: $file"
done
for size in 16 24 32 48 64 128 256 512; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/lumopet.png"
    if [[ ! -f "$icon" ]]; then
        fail "no ${size}x${size} icon"
    # A PNG's width and height are the big-endian words at bytes 16 and 20.
    elif [[ "$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')" != "$(printf '%08x%08x' "$size" "$size")" ]]; then
        fail "the ${size}x${size} icon has another size"
    fi
done
desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
grep -q '^Name\[ja\]=' "$prefix/share/applications/$id.desktop" || fail "no Japanese name in the desktop entry"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "appstreamcli validate"; }

# The installed program, as a user with nothing but a home starts it.
mkdir -m 0700 "$work/runtime"
env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" "$prefix/bin/lumopet" >"$work/program.log" 2>&1 &
program=$!
folder="$home/.local/share/lumopet"
for _ in $(seq 50); do
    [[ -d "$folder/★MailData" && -d "$folder/添付フォルダ" ]] && break
    sleep 0.1
done
sleep 1
kill -0 "$program" 2>/dev/null || { cat "$work/program.log" >&2; fail "the installed program ended by itself"; }
kill -TERM "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
program=""
[[ -d "$folder/★MailData" ]] || fail "no $folder/★MailData"
[[ -d "$folder/添付フォルダ" ]] || fail "no $folder/添付フォルダ"
# Nothing may land beside the installed executable.
[[ "$(ls -A "$prefix/bin")" == lumopet ]] || fail "files beside the installed executable: $(ls -A "$prefix/bin")"

# The Debian package: besides the libraries dpkg-shlibdeps finds, it
# depends on what the program needs at run time that is not a library.
if command -v cpack >/dev/null && command -v dpkg-shlibdeps >/dev/null && [[ -f "$build/CPackConfig.cmake" ]]; then
    if cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
        depends=$(dpkg-deb -f "$work"/package/*.deb Depends)
        for package in fonts-ipafont-gothic ca-certificates qt6-translations-l10n libsecret-1-0 libqt6widgets6 libcurl4; do
            grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "the Debian package does not depend on $package: $depends"
        done
    else
        cat "$work/cpack.log" >&2
        fail "cpack -G DEB"
    fi
else
    fail "no cpack, dpkg-shlibdeps or CPackConfig.cmake: the Debian package is not checked"
fi

if [[ $failed -ne 0 ]]; then exit 1; fi
echo "install check passed"
