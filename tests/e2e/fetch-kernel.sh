#!/bin/sh
# Fetches Debian's stock amd64 kernel image package, unpacks it into a cache
# folder outside the repository and indexes its modules. Prints the folder of
# the unpacked kernel on its last line. Later runs reuse the unpacked kernel.
#
# By default the kernel is the one that apt on this machine resolves
# linux-image-amd64 to. RXB540_E2E_KERNEL_SUITE=trixie (any Debian suite)
# takes that suite's kernel instead, through package lists of its own in the
# cache folder; the machine's apt configuration is not touched.
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
suite=${RXB540_E2E_KERNEL_SUITE:-}
# apt gives up on a stalled server by itself, but not on a slow one.
apt_limit=${RXB540_E2E_APT_LIMIT:-600}
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "fetch-kernel: $*" >&2
    exit 1
}

# apt-get or apt-cache with a time limit, and with the suite's own package
# lists when a suite is chosen.
apt_run() {
    if [ -z "$suite" ]; then
        timeout -k 10 "$apt_limit" "$@"
        return
    fi
    lists=$cache_root/apt-$suite
    timeout -k 10 "$apt_limit" "$@" -o Dir::Etc::SourceList="$lists/sources.list" \
        -o Dir::Etc::SourceParts=/nonexistent -o Dir::State::Lists="$lists/lists" \
        -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Sandbox::User=root
}

# The suite's own package lists: a sources list with the machine's Debian
# mirror, and lists that are fetched anew when they are a week old (their
# files carry the mirror's times; the file "updated" carries ours).
suite_lists() {
    lists=$cache_root/apt-$suite
    mkdir -p "$lists/lists/partial"
    printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
        "$("$here/debian-mirror.sh")" "$suite" >"$lists/sources.list"
    if [ -n "$(find "$lists/updated" -mtime +7 2>/dev/null)" ]; then
        update_lists
    fi
}

update_lists() {
    apt_run apt-get update -qq >&2 || fail "apt-get update failed${suite:+ for the suite $suite}"
    [ -z "$suite" ] || touch "$cache_root/apt-$suite/updated"
}

# Sets package to the versioned package that the linux-image-amd64 meta
# package points at (e.g. linux-image-6.1.0-57-amd64), release to its kernel
# release and target to its folder in the cache.
resolve_package() {
    package=$(apt_run apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1)
    [ -n "$package" ] || return 1
    case "$package" in
    *cloud*) fail "refusing the cloud kernel $package: it has no USB support" ;;
    esac
    release=${package#linux-image-}
    target=$cache_root/$release
}

# Ends the script with the kernel's folder when it is in the cache already.
print_if_cached() {
    if [ -f "$target/.complete" ]; then
        echo "$target"
        exit 0
    fi
}

[ -z "$suite" ] || suite_lists
resolve_package || { update_lists && resolve_package; } ||
    fail "cannot resolve the kernel package behind linux-image-amd64${suite:+ in $suite}"
print_if_cached

work=$(mktemp -d "$cache_root.XXXXXX" 2>/dev/null) || {
    mkdir -p "$(dirname "$cache_root")"
    work=$(mktemp -d "$cache_root.XXXXXX")
}
trap 'rm -rf "$work"' EXIT
# apt-get download hands the file to its unprivileged _apt user when it can.
chmod 755 "$work"

echo "fetch-kernel: downloading $package" >&2
# Package lists that are out of date name a kernel that the mirror may no
# longer have: they are fetched anew once.
if ! (cd "$work" && apt_run apt-get download "$package" >&2); then
    update_lists
    resolve_package || fail "cannot resolve the kernel package behind linux-image-amd64${suite:+ in $suite}"
    print_if_cached
    echo "fetch-kernel: downloading $package" >&2
    (cd "$work" && apt_run apt-get download "$package" >&2) || fail "apt-get download $package failed"
fi
deb=$(ls "$work"/*.deb)
dpkg-deb -x "$deb" "$work/root" || fail "cannot unpack $deb"

vmlinuz=$work/root/boot/vmlinuz-$release
[ -f "$vmlinuz" ] || fail "$package holds no boot/vmlinuz-$release"
# Debian 12 installs the modules under lib/modules, Debian 13 (merged /usr)
# under usr/lib/modules. depmod indexes them wherever they were: it is
# given a root of its own where they stand under lib/modules, and under
# usr/lib/modules too, for a depmod built to look there.
modules=
for folder in lib/modules usr/lib/modules; do
    if [ -d "$work/root/$folder/$release" ]; then
        modules=$work/root/$folder/$release
        break
    fi
done
[ -n "$modules" ] || fail "$package holds no modules for $release (neither lib/modules nor usr/lib/modules)"
mkdir -p "$work/index/lib/modules" "$work/index/usr/lib"
ln -s ../../lib/modules "$work/index/usr/lib/modules"
mv "$modules" "$work/index/lib/modules/$release"
depmod -b "$work/index" "$release" || fail "depmod failed for $release"
[ -s "$work/index/lib/modules/$release/modules.dep" ] || fail "depmod wrote no modules.dep for $release"

mkdir -p "$cache_root"
rm -rf "$target"
mkdir "$target"
mv "$vmlinuz" "$target/vmlinuz"
mv "$work/index/lib/modules/$release" "$target/modules"
echo "$release" >"$target/release"
touch "$target/.complete"
echo "$target"
