#!/usr/bin/env bash
# The install story: staged file list, man page lint, bash completion, the
# Debian package built, linted, installed and run from PATH, then purged.
#
# The machine is left as it was found. The package is installed only where
# that touches nothing of the user's: dpkg knows no package named rxb540 and
# none of the package's files exist (dpkg would overwrite such files, and
# the purge would delete them). Otherwise the package is unpacked into a
# scratch folder with dpkg -x and rxb540 list runs from there, and the check
# says that the install itself was not tried.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset package >/dev/null
cmake --build --preset package -j"$(nproc)"

work=$(mktemp -d)
installed_here=false
cleanup() {
    if $installed_here; then
        dpkg --purge rxb540 >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

DESTDIR="$work/stage" cmake --install build/package >/dev/null
(cd "$work/stage" && find . \( -type f -o -type l \) | sort) >"$work/staged-files"
diff -u packaging/install-files.txt "$work/staged-files"
echo "staged install: file list as expected"

mandoc -Tlint -W warning man/rxb540.1
echo "man page: mandoc lint clean"

bash -c '
    source packaging/bash-completion/rxb540
    COMP_WORDS=(rxb540 l); COMP_CWORD=1; _rxb540
    [[ "${COMPREPLY[*]}" == list ]] || { echo "completion of l: ${COMPREPLY[*]}"; exit 1; }
    COMP_WORDS=(rxb540 ""); COMP_CWORD=1; _rxb540
    [[ "${COMPREPLY[*]}" == "list set" ]] || { echo "completion of the empty word: ${COMPREPLY[*]}"; exit 1; }'
echo "bash completion: l completes to list"

rm -f build/package/rxb540_*.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls "$PWD"/build/package/rxb540_*.deb)
lintian --fail-on error,warning --suppress-tags-from-file packaging/debian/lintian-accepted "$deb"
echo "lintian: no errors or unaccepted warnings in $deb"

# The default build needs the C library alone (no libstdc++, no hidapi):
# the dependencies that dpkg-shlibdeps found say so.
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends =~ ^libc6(\ \([^\)]*\))?$ ]] || { echo "the package depends on more than the C library: $depends"; exit 1; }
echo "dependencies: $depends"

# What of the package is on this machine already: a package of that name in
# any state, or any of its files.
already_here() {
    local state path
    state=$(dpkg-query -W -f='${db:Status-Status}' rxb540 2>/dev/null || true)
    if [ -n "$state" ] && [ "$state" != not-installed ]; then
        echo "a package named rxb540 ($state)"
        return
    fi
    while read -r path; do
        if [ -e "$path" ] || [ -L "$path" ]; then
            echo "$path"
            return
        fi
    done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|; /[^/]$/p')
}

# rxb540 list, found through PATH in the package's bin folder and run from /;
# prints how many bytes it printed.
run_list() {
    local bin=$1 status=0 out
    out=$(cd / && PATH="$bin:$PATH" rxb540 list) || status=$?
    [ "$status" -eq 0 ] || { echo "rxb540 list from $bin ended with $status" >&2; return 1; }
    echo "${#out}"
}

found=$(already_here)
if [ -n "$found" ]; then
    dpkg -x "$deb" "$work/root"
    bytes=$(run_list "$work/root/usr/bin")
    echo "installed package: NOT INSTALLED, $found is on this machine already and stays as it is;" \
        "rxb540 list from the unpacked package ended with 0 and printed $bytes bytes"
else
    installed_here=true
    dpkg -i "$deb" >/dev/null
    bytes=$(run_list /usr/bin)
    dpkg --purge rxb540 >/dev/null
    installed_here=false
    found=$(already_here)
    [ -z "$found" ] || { echo "after the purge, $found is still there"; exit 1; }
    echo "installed package: rxb540 list from PATH ended with 0 and printed $bytes bytes; purged again"
fi

# The Windows zip, from the cross build that the Windows check made.
if [ -f build/windows/rxb540.exe ]; then
    rm -f build/windows/rxb540-*.zip
    (cd build/windows && cpack -G ZIP >/dev/null)
    (cd build/windows && cmake -E tar tf rxb540-*-windows-x86_64.zip) | sed 's|^[^/]*/||' | grep -v '/$' | sort >"$work/zip-files"
    diff -u packaging/windows-zip-files.txt "$work/zip-files"
    echo "windows zip: file list as expected"
else
    echo "windows zip: not checked, no cross build in build/windows (run the Windows check first)"
fi
