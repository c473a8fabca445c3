#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# only those that are missing. Runs as root, or through sudo.
#   scripts/install-deps.sh              the build and test packages
#   scripts/install-deps.sh PACKAGE...   these packages instead
set -euo pipefail

default_packages=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev libcurl4-openssl-dev libssl-dev libgmime-3.0-dev libicu-dev libgtest-dev
    libgumbo-dev
    # OAuth2 sign-in, and the desktop keyring for passwords and tokens
    # (QtKeychain loads libsecret at run time to reach the Secret Service)
    qt6-networkauth-dev qtkeychain-qt6-dev libsecret-1-0
    # fonts the windows name: Japanese Gothic, and a serif for the titles;
    # colour emoji, and Hangul and Chinese, which mail carries beside Japanese
    fonts-ipafont-gothic fonts-urw-base35 fonts-noto-color-emoji fonts-wqy-microhei
    # Qt's own texts (file dialogs, message box buttons) in Japanese
    qt6-translations-l10n
    # the system's certificate authorities: libcurl only recommends them, and
    # without them no TLS server can be checked (a minimal Debian has none)
    ca-certificates
    # windows under a virtual display: screenshots and shape checks
    xvfb xauth x11-utils xdotool imagemagick
    # the window tests and screenshots under a real window manager, and the
    # X11 headers the characters' windows and those tests use
    openbox libx11-dev libxext-dev libxcb1-dev libxcb-shape0-dev
    # a private session bus for the desktop notification and sleep tests,
    # and a private keyring on it for the secret tests
    dbus-daemon gnome-keyring
    # the sign-in tests: a local OAuth2 server, and a local name server for
    # the SRV records of the settings lookup
    python3-oauthlib dnsmasq-base
    # the instruction counts of scripts/benchmark_characters.sh --callgrind
    valgrind
    # the artwork scripts
    python3 python3-pil
    # reading back the text of the editor's printouts (PDF) in its tests
    poppler-utils
    # installing and packaging: the checks of the desktop entry and the
    # AppStream file, and the library dependencies of the Debian package
    # (cpack's Debian generator needs `file` for that)
    desktop-file-utils appstream dpkg-dev file
    # the junk filter a check runs over its new mail
    bogofilter
    # the fuzz targets: clang with libFuzzer and the sanitizer runtimes
    clang libclang-rt-14-dev
)
if [[ $# -gt 0 ]]; then packages=("$@"); else packages=("${default_packages[@]}"); fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Run as root or install sudo: missing ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
