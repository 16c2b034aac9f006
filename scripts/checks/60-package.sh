#!/usr/bin/env bash
# The install story: staged file list, man page lint, bash completion, the
# Debian package built, linted, installed and run from PATH, then removed.
set -euo pipefail
cmake --preset package >/dev/null
cmake --build --preset package -j"$(nproc)"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install build/package >/dev/null
(cd "$stage" && find . \( -type f -o -type l \) | sort) >"$stage.files"
diff -u packaging/install-files.txt "$stage.files"
rm -f "$stage.files"
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
deb=$(ls build/package/rxb540_*.deb)
lintian --fail-on error,warning --suppress-tags-from-file packaging/debian/lintian-accepted "$deb"
echo "lintian: no errors or unaccepted warnings in $deb"

dpkg -i "$deb" >/dev/null
status=0
out=$(cd / && rxb540 list) || status=$?
dpkg -r rxb540 >/dev/null
[ "$status" -eq 0 ] || { echo "rxb540 list from PATH ended with $status"; exit 1; }
echo "installed package: rxb540 list from PATH ended with 0 and printed ${#out} bytes"

# The Windows zip, from the cross build that the Windows check made.
if [ -x build/windows/rxb540.exe ] || [ -f build/windows/rxb540.exe ]; then
    rm -f build/windows/rxb540-*.zip
    (cd build/windows && cpack -G ZIP >/dev/null)
    (cd build/windows && cmake -E tar tf rxb540-*-windows-x86_64.zip) | sed 's|^[^/]*/||' | grep -v '/$' | sort >"$stage.zip"
    diff -u packaging/windows-zip-files.txt "$stage.zip"
    rm -f "$stage.zip"
    echo "windows zip: file list as expected"
else
    echo "windows zip: not checked, no cross build in build/windows (run the Windows check first)"
fi
