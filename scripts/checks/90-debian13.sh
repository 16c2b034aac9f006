#!/usr/bin/env bash
# The README's test command again on Debian 13 (trixie), in a fresh minimal
# root, after the run on this machine: every package that
# scripts/install-deps.sh installs exists there and installs, and every other
# check passes there too, with that release's compilers, sanitizers, valgrind,
# cppcheck, clang-tidy, lintian, mosquitto and Python. A package name, a path
# or a tool's finding that only Debian 13 has fails here. On a machine that
# is Debian 13 already, the README's command has just run every check on it,
# and this one has nothing to add.
#
# The root is made once with debootstrap and kept as a tarball in the cache
# folder of the end-to-end runs (RXB540_E2E_CACHE, else
# $XDG_CACHE_HOME/rxb540-e2e, else ~/.cache/rxb540-e2e), under a name derived
# from the debootstrap command that makes it. Each run
# unpacks a fresh copy, copies in the work tree as it is (the files git
# tracks, and the new ones it does not ignore) and removes the copy at the
# end. The downloaded packages are kept in the cache folder for the next run,
# and the cache folder itself is the one the checks inside use, so the
# end-to-end kernels and guest images are fetched and built only once for
# both releases. Whatever the run mounts lives in a private mount namespace
# and vanishes with it, so nothing stays mounted, even when the run is
# interrupted.
set -euo pipefail
cd "$(dirname "$0")/../.."

suite=trixie
# The checks inside have an hour each; the whole run gets less than the
# hour that scripts/test-all.sh gives this check.
run_limit=3300

fail() {
    echo "debian13: $*" >&2
    exit 1
}

if [ "$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" = "$suite" ]; then
    echo "debian13: this machine runs Debian 13: the checks before this one ran on it"
    exit 0
fi
[ "$(id -u)" = 0 ] || fail "needs root (debootstrap, chroot and mounts)"
for tool in debootstrap unshare chroot; do
    command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh installs it)"
done

cache_root=${RXB540_E2E_CACHE:-${XDG_CACHE_HOME:+$XDG_CACHE_HOME/rxb540-e2e}}
cache_root=${cache_root:-${HOME:+$HOME/.cache/rxb540-e2e}}
cache_root=${cache_root:-/var/tmp/rxb540-e2e}
mkdir -p "$cache_root"
# The root depends on the suite and the way it is made alone.
bootstrap=(debootstrap --variant=minbase "$suite")
key=$(echo "${bootstrap[*]}" | sha256sum | cut -c 1-16)
tarball=$cache_root/debian13-root-$key.tar.gz
archives=$cache_root/debian13-apt-archives
mkdir -p "$archives/partial"

work=$(mktemp -d "$cache_root/debian13-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# Runs a command with a time limit in private mount and process namespaces:
# its mounts vanish with it, and when it ends or is ended (time limit,
# interruption), every process it started ends too.
isolated() {
    local limit=$1
    shift
    timeout --foreground --kill-after=10 "$limit" \
        unshare --mount --propagation private --pid --fork --kill-child "$@"
}

if [ ! -f "$tarball" ]; then
    # The Debian mirror that apt on this machine uses; debootstrap verifies
    # the suite with the archive keyring.
    mirror=${RXB540_DEBIAN_MIRROR:-}
    [ -n "$mirror" ] || mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/* 2>/dev/null |
        grep -v '^ *#' | grep -oE 'https?://[^ ]*/debian/?( |$)' | head -n 1 | tr -d ' ' || true)
    mirror=${mirror:-http://deb.debian.org/debian}
    echo "debian13: debootstrap $suite from $mirror (a few minutes, once)"
    start=$(date +%s)
    if ! isolated 1200 "${bootstrap[@]}" "$work/new-root" "$mirror" >"$work/debootstrap.log" 2>&1; then
        tail -n 20 "$work/debootstrap.log" >&2
        fail "debootstrap of $suite failed or took longer than 20 minutes"
    fi
    tar --numeric-owner -C "$work/new-root" -czf "$work/root.tar.gz" . || fail "cannot pack the $suite root"
    rm -rf "$work/new-root"
    rm -f "$cache_root"/debian13-root-*.tar.gz
    mv "$work/root.tar.gz" "$tarball"
    echo "debian13: root made in $(($(date +%s) - start)) s: $tarball"
fi

root=$work/root
mkdir "$root"
tar --numeric-owner -C "$root" -xzf "$tarball" || fail "cannot unpack $tarball"
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The work tree as it is.
mkdir -p "$root/work/rxb540"
# shellcheck source=../copy-work-tree.sh
. scripts/copy-work-tree.sh
copy_work_tree "$root/work/rxb540"

# The CAs this machine added to its own store (a proxy that inspects TLS,
# say) are trusted in the root too: npm fetches the dashboard's client from
# its registry over https.
mkdir -p "$root/usr/local/share/ca-certificates"
find /usr/local/share/ca-certificates -maxdepth 1 -name '*.crt' -exec cp {} "$root/usr/local/share/ca-certificates/" \; 2>/dev/null || true

cat >"$root/tmp/run-checks" <<'SCRIPT'
set -eu
cd /work/rxb540
export DEBIAN_FRONTEND=noninteractive
step() {
    echo "debian13: $1 ($(($(date +%s) - started)) s)"
}
started=$(date +%s)
# The downloads go to the cache folder, which the unprivileged _apt user
# cannot write.
echo 'APT::Sandbox::User "root";' >/etc/apt/apt.conf.d/50rxb540-check
apt-get update -qq || { echo "debian13: apt-get update failed" >&2; exit 1; }
step "every package of install-deps.sh"
bash scripts/install-deps.sh --no-update --simulate >/dev/null ||
    { echo "debian13: install-deps.sh names packages that $(. /etc/os-release && echo "$PRETTY_NAME") cannot install" >&2; exit 1; }
step "installing them"
bash scripts/install-deps.sh --no-update >/tmp/install-deps.log 2>&1 ||
    { tail -n 30 /tmp/install-deps.log >&2; echo "debian13: installing the packages failed" >&2; exit 1; }
apt-get autoclean -qq >/dev/null
update-ca-certificates >/dev/null
step "the README's test command"
status=0
bash scripts/test-all.sh || status=$?
step "done"
exit $status
SCRIPT

echo "debian13: every check in a fresh $suite root"
# The mounts live in this private mount namespace alone. The root is mounted
# onto itself so that it is a mount point, as chroot'ed tools expect.
status=0
isolated "$run_limit" sh -c '
    set -e
    mount --bind "$1" "$1"
    mount -t proc proc "$1/proc"
    mount --rbind /sys "$1/sys"
    mount --rbind /dev "$1/dev"
    mount --bind "$2" "$1/var/cache/apt/archives"
    mkdir -p "$1/var/cache/rxb540-e2e"
    mount --bind "$3" "$1/var/cache/rxb540-e2e"
    exec chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        RXB540_E2E_CACHE=/var/cache/rxb540-e2e ${CI:+CI=$CI} bash /tmp/run-checks' sh "$root" "$archives" "$cache_root" ||
    status=$?
case $status in
0) ;;
124) fail "the run took longer than $((run_limit / 60)) minutes" ;;
137) fail "the run was ended by a signal (interrupted)" ;;
*) fail "checks failed in the $suite root (status $status; the lines above name them)" ;;
esac
