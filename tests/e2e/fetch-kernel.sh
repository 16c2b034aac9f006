#!/bin/sh
# Fetches Debian's stock amd64 kernel image package, unpacks it into a cache
# folder outside the repository and indexes its modules. Prints the folder of
# the unpacked kernel on its last line. Later runs reuse the unpacked kernel.
#
# The cloud kernel flavour is not usable: it is built without USB support.
set -eu

if [ -n "${RXB540_E2E_CACHE:-}" ]; then
    cache_root=$RXB540_E2E_CACHE
elif [ -n "${XDG_CACHE_HOME:-}" ]; then
    cache_root=$XDG_CACHE_HOME/rxb540-e2e
elif [ -n "${HOME:-}" ]; then
    cache_root=$HOME/.cache/rxb540-e2e
else
    cache_root=/var/tmp/rxb540-e2e
fi

fail() {
    echo "fetch-kernel: $*" >&2
    exit 1
}

# The versioned package that the linux-image-amd64 meta package points at,
# e.g. linux-image-6.1.0-57-amd64.
resolve_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

package=$(resolve_package)
if [ -z "$package" ]; then
    apt-get update -qq >&2 || fail "apt-get update failed"
    package=$(resolve_package)
fi
[ -n "$package" ] || fail "cannot resolve the kernel package behind linux-image-amd64"
case "$package" in
*cloud*) fail "refusing the cloud kernel $package: it has no USB support" ;;
esac

release=${package#linux-image-}
target=$cache_root/$release
if [ -f "$target/.complete" ]; then
    echo "$target"
    exit 0
fi

work=$(mktemp -d "$cache_root.XXXXXX" 2>/dev/null) || {
    mkdir -p "$(dirname "$cache_root")"
    work=$(mktemp -d "$cache_root.XXXXXX")
}
trap 'rm -rf "$work"' EXIT
# apt-get download hands the file to its unprivileged _apt user when it can.
chmod 755 "$work"

echo "fetch-kernel: downloading $package" >&2
(cd "$work" && apt-get download "$package" >&2) || fail "apt-get download $package failed"
deb=$(ls "$work"/*.deb)
dpkg-deb -x "$deb" "$work/root" || fail "cannot unpack $deb"

vmlinuz=$work/root/boot/vmlinuz-$release
[ -f "$vmlinuz" ] || fail "$package holds no boot/vmlinuz-$release"
[ -d "$work/root/lib/modules/$release" ] || fail "$package holds no modules for $release"
depmod -b "$work/root" "$release" || fail "depmod failed for $release"

mkdir -p "$cache_root"
rm -rf "$target"
mkdir "$target"
mv "$vmlinuz" "$target/vmlinuz"
mv "$work/root/lib/modules/$release" "$target/modules"
echo "$release" >"$target/release"
touch "$target/.complete"
echo "$target"
