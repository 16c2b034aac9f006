#!/usr/bin/env bash
# The install story: staged file list, man page lint, bash completion, the
# Debian packages (rxb540, librxb540-0, librxb540-dev) built and linted,
# installed, rxb540 run from PATH and a program built against the library
# with pkg-config and run, then purged.
#
# The machine is left as it was found. The packages are installed only where
# that touches nothing of the user's: dpkg knows none of the three and none
# of their files exist (dpkg would overwrite such files, and the purge would
# delete them). Otherwise the packages are unpacked into a scratch folder
# with dpkg -x and the same runs are made from there, and the check says
# that the install itself was not tried.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset package >/dev/null
cmake --build --preset package -j"$(nproc)"

work=$(mktemp -d)
installed_here=false
cleanup() {
    if $installed_here; then
        dpkg --purge "${PACKAGES[@]}" >/dev/null || true
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

readonly PACKAGES=(rxb540 librxb540-0 librxb540-dev python3-rxb540)
rm -f build/package/*.deb
(cd build/package && cpack -G DEB >/dev/null)
debs=()
for package in "${PACKAGES[@]}"; do
    deb=$(ls "$PWD"/build/package/"${package}"_*.deb 2>/dev/null) || { echo "cpack made no package $package"; exit 1; }
    lintian --fail-on error,warning --suppress-tags-from-file packaging/debian/lintian-accepted "$deb"
    debs+=("$deb")
done
echo "lintian: no errors or unaccepted warnings in ${PACKAGES[*]}"
cli_deb=${debs[0]}

# The default build needs the C library alone (no libstdc++, no hidapi), for
# the command line and the shared library: the dependencies that
# dpkg-shlibdeps found say so. The development package needs the library of
# its very version.
for deb in "${debs[@]:0:2}"; do
    depends=$(dpkg-deb -f "$deb" Depends)
    [[ $depends =~ ^libc6(\ \([^\)]*\))?$ ]] || { echo "$deb depends on more than the C library: $depends"; exit 1; }
done
depends=$(dpkg-deb -f "${debs[2]}" Depends)
[ "$depends" = "librxb540-0 (= $(dpkg-deb -f "${debs[2]}" Version))" ] ||
    { echo "librxb540-dev depends on: $depends"; exit 1; }
[ "$(dpkg-deb -f "${debs[3]}" Architecture)" = all ] || { echo "python3-rxb540 is not Architecture: all"; exit 1; }
depends=$(dpkg-deb -f "${debs[3]}" Depends)
[[ $depends =~ librxb540-0\ \(\>=\ [0-9.]*\) ]] || { echo "python3-rxb540 depends on: $depends"; exit 1; }
# The shared library's package names its soname and brings the symbols file.
dpkg-deb --ctrl-tarfile "${debs[1]}" | tar -xO ./symbols | cmp -s - packaging/debian/librxb540-0/symbols ||
    { echo "librxb540-0 does not carry packaging/debian/librxb540-0/symbols"; exit 1; }
dpkg-deb --ctrl-tarfile "${debs[1]}" | tar -xO ./shlibs | grep -qx 'librxb540 0 librxb540-0 (>= [0-9.]*)' ||
    { echo "librxb540-0's shlibs file does not name librxb540.so.0"; exit 1; }
echo "dependencies: rxb540 and librxb540-0 on the C library alone; librxb540-dev on librxb540-0 of its version"

# What of the packages is on this machine already: a package of one of their
# names in any state, or any of their files.
already_here() {
    local state path package deb
    for package in "${PACKAGES[@]}"; do
        state=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
        if [ -n "$state" ] && [ "$state" != not-installed ]; then
            echo "a package named $package ($state)"
            return
        fi
    done
    for deb in "${debs[@]}"; do
        while read -r path; do
            if [ -e "$path" ] || [ -L "$path" ]; then
                echo "$path"
                return
            fi
        done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|; /[^/]$/p')
    done
}

# rxb540 list, found through PATH in the package's bin folder and run from /;
# prints how many bytes it printed.
run_list() {
    local bin=$1 status=0 out
    out=$(cd / && PATH="$bin:$PATH" rxb540 list) || status=$?
    [ "$status" -eq 0 ] || { echo "rxb540 list from $bin ended with $status" >&2; return 1; }
    echo "${#out}"
}

# python3 -m rxb540 list from /: installed (no root), the package finds the
# library by its SONAME; unpacked under root, it is pointed at the unpacked
# library. Prints how many bytes it printed.
run_python_list() {
    local root=$1 status=0 out library=""
    if [ -n "$root" ]; then
        library=$root$(dpkg-deb -c "${debs[1]}" | sed -n 's|.* \./\(.*/librxb540\.so\.0\)\( ->.*\)\?$|\1|p')
    fi
    out=$(cd / && PYTHONPATH="$root/usr/lib/python3/dist-packages" RXB540_LIBRARY=$library \
        /usr/bin/python3 -m rxb540 list) || status=$?
    [ "$status" -eq 0 ] || { echo "python3 -m rxb540 list from $root ended with $status" >&2; return 1; }
    echo "${#out}"
}

# The example of docs/library.md, built with pkg-config against the packages'
# files under root (/ when installed) and run: on a host without boards it
# lists none and ends with 0. Prints how many bytes it printed.
run_library_example() {
    local root=$1 pcdir libdir status=0 out
    pcdir=$(dirname "$(dpkg-deb -c "${debs[2]}" | sed -n 's|.* \./\(.*rxb540\.pc\)$|\1|p')")
    libdir=$(dirname "$pcdir")
    sed -n '/^```c$/,/^```$/{/^```/d;p}' docs/library.md >"$work/relays.c"
    # pkg-config's sysroot puts the packages' /usr paths below root.
    # shellcheck disable=SC2046 # pkg-config's flags are meant to be split
    cc -std=c99 -Wall -Wextra -pedantic -Werror "$work/relays.c" -o "$work/relays" \
        $(PKG_CONFIG_SYSROOT_DIR=${root%/} PKG_CONFIG_LIBDIR="$root$pcdir" pkg-config --cflags --libs rxb540) ||
        { echo "the library's example does not build against the packages in $root" >&2; return 1; }
    out=$(LD_LIBRARY_PATH="$root$libdir" "$work/relays") || status=$?
    [ "$status" -eq 0 ] || { echo "the library's example ended with $status" >&2; return 1; }
    echo "${#out}"
}

found=$(already_here)
if [ -n "$found" ]; then
    for deb in "${debs[@]}"; do
        dpkg -x "$deb" "$work/root"
    done
    bytes=$(run_list "$work/root/usr/bin")
    example_bytes=$(run_library_example "$work/root/")
    python_bytes=$(run_python_list "$work/root")
    echo "python3 -m rxb540 list from the unpacked package ended with 0 and printed $python_bytes bytes"
    echo "installed packages: NOT INSTALLED, $found is on this machine already and stays as it is;" \
        "from the unpacked packages rxb540 list ended with 0 and printed $bytes bytes, and the" \
        "library's example built with pkg-config ended with 0 and printed $example_bytes bytes"
else
    installed_here=true
    dpkg -i "${debs[@]}" >/dev/null
    bytes=$(run_list /usr/bin)
    example_bytes=$(run_library_example /)
    python_bytes=$(run_python_list "")
    # The installed plugin is found through its entry point.
    # (Read whole first: grep -q would end the pipe early and, under pipefail, fail it.)
    pytest_help=$(/usr/bin/python3 -m pytest --help 2>&1) || true
    [[ $pytest_help == *--rxb540-board* ]] ||
        { echo "pytest does not find the installed plugin of python3-rxb540"; exit 1; }
    echo "python3 -m rxb540 list ended with 0 and printed $python_bytes bytes; pytest finds the plugin"
    dpkg --purge "${PACKAGES[@]}" >/dev/null
    installed_here=false
    found=$(already_here)
    [ -z "$found" ] || { echo "after the purge, $found is still there"; exit 1; }
    echo "installed packages: rxb540 list from PATH ended with 0 and printed $bytes bytes; the library's" \
        "example built with pkg-config ended with 0 and printed $example_bytes bytes; purged again"
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
