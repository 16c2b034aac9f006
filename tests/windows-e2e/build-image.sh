#!/bin/sh
# Builds the guest image of the Windows end-to-end test, or reuses it: a
# Debian trixie root with Wine 10 and a ready Wine prefix, packed into an
# ext4 file. Usage: build-image.sh CACHE_DIR. Prints the image's path on its
# last line.
#
# The image is cached in CACHE_DIR under a name derived from this script's
# content, which holds everything the image is made of (suite, packages,
# prefix settings): changing any of them builds a new image, and the old one
# is removed.
#
# python3 is there for the Python package's case, which runs on the Linux
# librxb540 beside the Windows cases.
#
# Wine 10 is needed: Wine 8 (Debian 12) starts its hidraw backend only with
# SDL disabled and then reports "hidraw" as every device's manufacturer, so
# no board would be recognised.
set -eu

suite=trixie
packages=wine,wine64,busybox,python3
image_size=3G
# Time limits in seconds: debootstrap downloads some 700 MB; Wine's first
# start in the chroot takes about half a minute.
debootstrap_limit=900
prefix_limit=300

fail() {
    echo "build-image: $*" >&2
    exit 1
}

[ $# = 1 ] || fail "usage: build-image.sh CACHE_DIR"
cache_root=$1
key=$(sha256sum "$0" | cut -c 1-16)
target=$cache_root/wine-guest-$key
if [ -f "$target/.complete" ]; then
    echo "$target/root.ext4"
    exit 0
fi

# The Debian mirror that apt on this machine uses; debootstrap verifies the
# suite with the archive keyring.
mirror=$("$(dirname "$0")/../e2e/debian-mirror.sh")

mkdir -p "$cache_root"
work=$(mktemp -d "$cache_root/wine-guest.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
tree=$work/tree

echo "build-image: debootstrap $suite from $mirror (a few minutes, once)" >&2
# Whatever debootstrap mounts in the tree stays in a private mount namespace,
# so an interrupted run leaves nothing of the host mounted there.
status=0
timeout -k 10 "$debootstrap_limit" unshare --mount --propagation private \
    debootstrap --variant=minbase --include="$packages" "$suite" "$tree" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    status=$?
if [ "$status" != 0 ]; then
    tail -n 20 "$work/debootstrap.log" >&2
    [ "$status" != 124 ] || fail "debootstrap did not end within $debootstrap_limit s"
    fail "debootstrap failed"
fi

# The prefix is made here, in a chroot of the tree, because in the guest
# (QEMU without KVM) it would take minutes. The mounts live in a private
# mount namespace and vanish with it, so nothing of the host stays mounted
# inside the tree. winebus then scans /dev/hidraw* itself (no udevd in the
# guest) and leaves out Linux input devices; the event log and network
# services, which a cold start would start for nothing, stay off; and no
# display driver is loaded (none could connect, and a failed attempt writes
# to the first program's standard error).
echo "build-image: making the Wine prefix" >&2
cat >"$tree/tmp/make-prefix" <<'SCRIPT'
set -e
export HOME=/root WINEPREFIX=/root/.wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
wineboot --init
while read -r key value type data; do
    wine reg add "$key" /v $value /t $type /d $data /f </dev/null
done <<'SETTINGS'
HKLM\System\CurrentControlSet\Services\winebus DisableUdevd REG_DWORD 1
HKLM\System\CurrentControlSet\Services\winebus DisableInput REG_DWORD 1
HKLM\System\CurrentControlSet\Services\Eventlog Start REG_DWORD 4
HKLM\System\CurrentControlSet\Services\NDIS Start REG_DWORD 4
HKLM\System\CurrentControlSet\Services\nsiproxy Start REG_DWORD 4
HKCU\Software\Wine\Drivers Graphics REG_SZ null
SETTINGS
wineserver -w
SCRIPT
status=0
timeout -k 10 "$prefix_limit" unshare --mount --propagation private sh -c 'mount -t proc proc "$1/proc" &&
    mount --rbind /dev "$1/dev" && chroot "$1" /usr/bin/env -i PATH=/usr/bin:/bin sh /tmp/make-prefix' \
    sh "$tree" >"$work/prefix.log" 2>&1 || status=$?
if [ "$status" != 0 ]; then
    tail -n 20 "$work/prefix.log" >&2
    [ "$status" != 124 ] || fail "making the Wine prefix did not end within $prefix_limit s"
    fail "making the Wine prefix failed"
fi
grep -q '"DisableUdevd"=dword:00000001' "$tree/root/.wine/system.reg" || fail "the winebus settings are not in the prefix"

rm -rf "$tree"/tmp/* "$tree"/var/cache/apt/archives/*.deb "$tree"/var/lib/apt/lists/* "$tree"/usr/share/doc "$tree"/usr/share/man
truncate -s "$image_size" "$work/root.ext4"
mke2fs -q -t ext4 -L rxb540-wine -d "$tree" "$work/root.ext4" || fail "mke2fs failed"
rm -rf "$tree"

rm -rf "$cache_root"/wine-guest-*
mv "$work" "$target"
trap - EXIT
touch "$target/.complete"
echo "$target/root.ext4"
