#!/usr/bin/env bash
# The Python package (python/) on librxb540 built on the simulated host:
# installed offline into a fresh virtual environment with Debian's own
# Python, then tests/python with pytest (docs/python.md).
set -euo pipefail
cd "$(dirname "$0")/../.."

fail() {
    echo "python: $*" >&2
    exit 1
}

build=build/library-sim
cmake --preset library-sim >/dev/null || fail "configuring the simulated-host build failed"
cmake --build --preset library-sim -j"$(nproc)" --target rxb540 rxb540_shared >/dev/null ||
    fail "building librxb540 on the simulated host failed"
library=$PWD/$build/librxb540.so.0
[ -f "$library" ] || fail "the build made no $library"

venv=$(mktemp -d)
trap 'rm -rf "$venv"' EXIT
# Debian's interpreter: another python3 on PATH may not see Debian's packages.
/usr/bin/python3 -m venv --system-site-packages "$venv" || fail "cannot make a virtual environment"
# Installed from a copy, so the build leaves nothing in the source tree.
cp -r python "$venv/source"
"$venv/bin/pip" install --quiet --no-build-isolation --no-index "$venv/source" || fail "installing ./python failed"
RXB540_LIBRARY=$library RXB540_CLI=$PWD/$build/rxb540 \
    timeout 600 "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python
