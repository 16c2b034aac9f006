#!/usr/bin/env bash
# `cmake --install BUILD --prefix P` by a user who is not root: a copy of the
# source is built and installed by that user (nobody, when the check runs as
# root). Every file lands below P, and each install component brings its own
# files; the simulated host's programs are in none.
set -euo pipefail
cd "$(dirname "$0")/../.."

fail() {
    echo "install: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# The source as it is in the work tree.
# shellcheck source=../copy-work-tree.sh
. scripts/copy-work-tree.sh
copy_work_tree "$work" || fail "cannot copy the source"
as_user=()
if [ "$(id -u)" = 0 ]; then
    chown -R nobody:nogroup "$work"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
user() {
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work" "${as_user[@]}" "$@"
}
user test ! -w / || fail "the user $(user id -un) may write to /: not a user who is not root"

user cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DRXB540_BUILD_TESTS=OFF >/dev/null ||
    fail "configuring failed"
user cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 || {
    tail -20 "$work/build.log" >&2
    fail "building failed"
}
[ -x "$work/build/rxb540-mqtt" ] || fail "the bridge was not built: is libmosquitto-dev installed?"

# The whole install, then each component alone below a prefix of its own.
prefix=$work/prefix
user cmake --install "$work/build" --prefix "$prefix/all" >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    fail "cmake --install --prefix failed for $(user id -un)"
}
outside=$(grep -v "^$prefix/all/" "$work/build/install_manifest.txt" || true)
[ -z "$outside" ] || fail "installed outside the prefix: $outside"
for component in cli library development python mqtt; do
    user cmake --install "$work/build" --prefix "$prefix/$component" --component "$component" >/dev/null ||
        fail "installing the component $component failed"
done

# Each component's files (below its prefix, lib/ for the library folder).
(cd "$prefix" && find . -type f -o -type l | sed 's|/lib/[a-z0-9_]*-linux-gnu/|/lib/|' | sort) >"$work/installed"
for file in cli/bin/rxb540 cli/share/man/man1/rxb540.1.gz cli/lib/udev/rules.d/60-rxb540.rules \
    cli/share/bash-completion/completions/rxb540 library/lib/librxb540.so.0 development/include/rxb540.h \
    development/lib/librxb540.a development/lib/librxb540.so development/lib/rxb540/librxb540-sim.so.0 \
    development/lib/pkgconfig/rxb540.pc python/lib/python3/dist-packages/rxb540/__init__.py \
    python/lib/python3/dist-packages/pytest_rxb540.py mqtt/bin/rxb540-mqtt mqtt/etc/rxb540/mqtt.conf \
    mqtt/lib/udev/rules.d/61-rxb540-mqtt.rules; do
    grep -qxF "./$file" "$work/installed" || fail "the component ${file%%/*} lacks ${file#*/}"
    grep -qxF "./all/${file#*/}" "$work/installed" || fail "the whole install lacks ${file#*/}"
done
! grep -E '/(rxb540-sim|rxb540-mqtt-sim)$' "$work/installed" || fail "a simulated host's program is installed"
! grep -E '^\./(cli|library|python|mqtt)/.*librxb540-sim' "$work/installed" ||
    fail "librxb540-sim is installed outside the development component"
echo "install: $(user id -un) installed below the prefix alone, each component with its own files"

# The installed program and library work from the prefix.
"$prefix/all/bin/rxb540" list >/dev/null || fail "the installed rxb540 does not run"
cp examples/two-boards.host "$work/boards.host"
out=$(RXB540_SIM_HOST="$work/boards.host" RXB540_LIBRARY=$(find "$prefix/all" -name librxb540-sim.so.0) \
    PYTHONPATH=$(dirname "$(find "$prefix/all" -name pytest_rxb540.py)") /usr/bin/python3 -m rxb540 list) ||
    fail "the installed Python package does not run on the installed librxb540-sim"
[ "$out" = $'1700000001\n1700000002' ] || fail "the installed Python package listed: $out"
echo "install: the installed rxb540 runs, and the Python package lists the boards of librxb540-sim"
