#!/usr/bin/env bash
# Checks the two commands on a machine that has nothing yet: a fresh Debian 12
# root (debootstrap, minbase) gets a clean clone of this repository's HEAD,
# and ./test.sh runs in it as root with a bare environment. Afterwards
# Debian's own Dovecot service must not be enabled for boot.
#
#   scripts/check_fresh_root.sh [--root DIR] [--pristine TAR]
#
# DIR (default: fresh-root beside the repository) is made anew from TAR
# (default: DIR.pristine.tar) at every run; TAR is made once with
# debootstrap from the Debian mirror this machine's apt uses. The output
# of the run goes to DIR.log too. Runs as root; takes about as long as a
# first ./test.sh on a new machine.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
root="$(dirname "$repo")/fresh-root"
pristine=""
while [[ $# -gt 0 ]]; do
    case "$1" in
    --root) root="$2"; shift 2 ;;
    --pristine) pristine="$2"; shift 2 ;;
    *) echo "usage: $0 [--root DIR] [--pristine TAR]" >&2; exit 2 ;;
    esac
done
root="$(realpath -m "$root")"
pristine="${pristine:-$root.pristine.tar}"
log="$root.log"
[[ $(id -u) -eq 0 ]] || { echo "$0: run as root (chroot and mount need it)" >&2; exit 1; }
[[ "$root" != / && "$root" != "$repo"* ]] || { echo "$0: $root must be outside the repository" >&2; exit 1; }

# Mount points under the root, deepest first.
mounts_under_root() {
    awk -v prefix="$root/" 'index($2, prefix) == 1 { print $2 }' /proc/mounts | sort -r
}
# Processes whose root directory is the fresh root: what the run left
# behind (a server, a display) would keep its mounts busy.
processes_in_root() {
    local entry pid
    for entry in /proc/[0-9]*; do
        pid=${entry#/proc/}
        [[ "$(readlink "$entry/root" 2>/dev/null)" == "$root" ]] && echo "$pid"
    done
    return 0
}
unmount_all() {
    local pid mount
    for pid in $(processes_in_root); do kill -TERM "$pid" 2>/dev/null || true; done
    sleep 0.5
    for pid in $(processes_in_root); do kill -KILL "$pid" 2>/dev/null || true; done
    for mount in $(mounts_under_root); do
        umount "$mount" 2>/dev/null || umount -l "$mount" || true
    done
}
trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The pristine root, once.
if [[ ! -f "$pristine" ]]; then
    command -v debootstrap >/dev/null || "$repo/scripts/install-deps.sh" debootstrap
    # The mirror of this machine's own Debian sources (one-line or deb822).
    mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        grep -v '^[[:space:]]*#' | grep -oE 'https?://[^[:space:]]+/debian/?([[:space:]]|$)' | head -n 1 | tr -d '[:space:]' || true)
    mirror="${mirror:-http://deb.debian.org/debian}"
    echo "Making a minimal Debian 12 root from $mirror (once; kept as $pristine)"
    fresh="$root.debootstrap"
    rm -rf --one-file-system "$fresh"
    debootstrap --variant=minbase bookworm "$fresh" "$mirror" >"$root.debootstrap.log" 2>&1 ||
        { tail -n 20 "$root.debootstrap.log" >&2; exit 1; }
    tar -C "$fresh" --numeric-owner -cpf "$pristine.new" .
    mv "$pristine.new" "$pristine"
    rm -rf --one-file-system "$fresh"
fi

# A root as the pristine one is, nothing left of an earlier run. Never
# remove anything while a mount (/dev!) is still inside.
unmount_all
[[ -z "$(mounts_under_root)" ]] || { echo "$0: still mounted under $root: $(mounts_under_root)" >&2; exit 1; }
rm -rf --one-file-system "$root"
mkdir -p "$root"
tar -C "$root" --numeric-owner -xpf "$pristine"
# The root shares this machine's network and name: its resolver and hosts
# file, as schroot or a container runtime puts them in (debootstrap leaves
# no /etc/hosts, and without one "localhost" is not this machine).
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp /etc/hosts "$root/etc/hosts"

commit=$(git -C "$repo" rev-parse HEAD)
git clone --quiet --no-hardlinks "$repo" "$root/src"
git -C "$root/src" checkout --quiet --detach "$commit"
echo "Checking $commit on a fresh Debian 12 root in $root"

root_kib() { du -sxk "$root" | cut -f1; }
installed_kib() { chroot "$root" dpkg-query -W -f='${Installed-Size}\n' | awk '{ s += $1 } END { print s }'; }
packages() { chroot "$root" dpkg-query -W -f='${Package}\n' | wc -l; }
before_kib=$(root_kib)
before_installed=$(installed_kib)
before_packages=$(packages)
before_archives_kib=$(du -sk "$root/var/cache/apt/archives" | cut -f1)

mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
if mountpoint -q /dev/shm; then mount --bind /dev/shm "$root/dev/shm"; fi
mount --bind /sys "$root/sys"
mount -o remount,bind,ro "$root/sys"

started=$(date +%s)
status=0
env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin chroot "$root" /bin/bash -c 'cd /src && ./test.sh' 2>&1 |
    tee "$log" || status=$?
seconds=$(( $(date +%s) - started ))
unmount_all

failed=0
[[ $status -eq 0 ]] || { echo "FAIL: ./test.sh ended with $status (output in $log)"; failed=1; }

# Debian's dovecot.service (and its socket) must not start at boot: no
# systemd "wants" link, the unit masked, no sysvinit start link.
for unit in dovecot.service dovecot.socket; do
    for link in "$root"/etc/systemd/system/*.wants/"$unit"; do
        [[ -L "$link" ]] && { echo "FAIL: $unit enabled for boot: ${link#"$root"}"; failed=1; }
    done
done
if [[ "$(readlink "$root/etc/systemd/system/dovecot.service" 2>/dev/null)" != /dev/null ]]; then
    echo "FAIL: dovecot.service is not masked (/etc/systemd/system/dovecot.service -> /dev/null)"
    failed=1
fi
for link in "$root"/etc/rc[S2345].d/S[0-9][0-9]dovecot; do
    [[ -L "$link" ]] && { echo "FAIL: dovecot starts at boot under sysvinit: ${link#"$root"}"; failed=1; }
done

# What it took: the packages test.sh downloaded (the apt cache, less what
# debootstrap left there), what they take installed, and the disk.
archives_kib=$(( $(du -sk "$root/var/cache/apt/archives" | cut -f1) - before_archives_kib ))
installed_mib=$(( ($(installed_kib) - before_installed) / 1024 ))
added_packages=$(( $(packages) - before_packages ))
after_kib=$(root_kib)
build_kib=$(du -sxk "$root/src/build" 2>/dev/null | cut -f1 || echo 0)
echo "Fresh root: $(( seconds / 60 )) min $(( seconds % 60 )) s on $(nproc) cores (load when done: $(cut -d' ' -f1-3 /proc/loadavg));" \
    "$added_packages packages, $(( archives_kib / 1024 )) MB downloaded, $installed_mib MB installed;" \
    "disk $(( (after_kib - before_kib) / 1024 )) MB more (the build $(( build_kib / 1024 )) MB), $(( after_kib / 1024 )) MB in all"
if [[ $failed -ne 0 ]]; then exit 1; fi
echo "fresh root check passed"
