#!/usr/bin/env bash
# The install story: staged file list, man page lint, bash completion, the
# Debian packages (rxb540, librxb540-0, librxb540-dev, python3-rxb540,
# rxb540-mqtt, rxb540-dashboard) built and linted, installed, rxb540 run
# from PATH, a program built against the library with pkg-config and run,
# the Python package's listing and pytest plugin, rxb540-mqtt run as its
# service's user, then purged.
#
# The machine is left as it was found. The packages are installed only where
# that touches nothing of the user's: dpkg knows none of them and none
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
made_user=false
made_group=false
# The bridge's package makes a system user and group and keeps them after a
# purge (files may still belong to them); the ones made here go again.
remove_made_accounts() {
    if $made_user; then deluser --quiet --system rxb540-mqtt >/dev/null 2>&1 || true; fi
    if $made_group; then delgroup --quiet --system rxb540 >/dev/null 2>&1 || true; fi
    made_user=false
    made_group=false
}
# The enable link that the check makes as an administrator would.
enable_link=""
cleanup() {
    if $installed_here; then
        dpkg --purge "${PACKAGES[@]}" >/dev/null || true
    fi
    [ -z "$enable_link" ] || rm -f "$enable_link"
    remove_made_accounts
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

DESTDIR="$work/stage" cmake --install build/package >/dev/null
(cd "$work/stage" && find . \( -type f -o -type l \) | sort) >"$work/staged-files"
# The systemd unit goes where systemd's pkg-config file says (/lib on Debian
# 12, /usr/lib on Debian 13); the list names the Debian 12 place.
unit_dir=$(sed -n 's/^RXB540_SYSTEMD_UNIT_DIR:STRING=//p' build/package/CMakeCache.txt)
sed "s|^\./lib/systemd/system/|.${unit_dir:-/lib/systemd/system}/|" packaging/install-files.txt | sort >"$work/expected-files"
diff -u "$work/expected-files" "$work/staged-files"
echo "staged install: file list as expected"

# The bridge's unit keeps systemd's exposure score at 2.0 or below (the
# threshold is in tenths).
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is missing (60-package.packages)"; exit 1; }
if ! exposure=$(systemd-analyze security --offline=yes --threshold=20 packaging/mqtt/rxb540-mqtt.service 2>&1); then
    grep -E '✗|Overall' <<<"$exposure"
    echo "the unit of rxb540-mqtt is exposed more than 2.0"
    exit 1
fi
echo "systemd unit: $(grep -o 'exposure level.*' <<<"$exposure")"

mandoc -Tlint -W warning man/rxb540.1 man/rxb540-mqtt.1
echo "man pages: mandoc lint clean"

bash -c '
    source packaging/bash-completion/rxb540
    COMP_WORDS=(rxb540 l); COMP_CWORD=1; _rxb540
    [[ "${COMPREPLY[*]}" == list ]] || { echo "completion of l: ${COMPREPLY[*]}"; exit 1; }
    COMP_WORDS=(rxb540 ""); COMP_CWORD=1; _rxb540
    [[ "${COMPREPLY[*]}" == "list set" ]] || { echo "completion of the empty word: ${COMPREPLY[*]}"; exit 1; }'
echo "bash completion: l completes to list"

readonly PACKAGES=(rxb540 librxb540-0 librxb540-dev python3-rxb540 rxb540-mqtt rxb540-dashboard)
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
# librxb540-dev: and what its librxb540-sim.so.0 needs (the C and C++ runtimes).
depends=$(dpkg-deb -f "${debs[2]}" Depends)
[[ "$depends, " == "librxb540-0 (= $(dpkg-deb -f "${debs[2]}" Version)), "* && $depends == *libstdc++6* ]] ||
    { echo "librxb540-dev depends on: $depends"; exit 1; }
[ "$(dpkg-deb -f "${debs[3]}" Architecture)" = all ] || { echo "python3-rxb540 is not Architecture: all"; exit 1; }
[ "$(dpkg-deb -f "${debs[5]}" Architecture)" = all ] || { echo "rxb540-dashboard is not Architecture: all"; exit 1; }
depends=$(dpkg-deb -f "${debs[3]}" Depends)
[[ $depends =~ librxb540-0\ \(\>=\ [0-9.]*\) ]] || { echo "python3-rxb540 depends on: $depends"; exit 1; }
# The shared library's package names its soname and brings the symbols file.
dpkg-deb --ctrl-tarfile "${debs[1]}" | tar -xO ./symbols | cmp -s - packaging/debian/librxb540-0/symbols ||
    { echo "librxb540-0 does not carry packaging/debian/librxb540-0/symbols"; exit 1; }
dpkg-deb --ctrl-tarfile "${debs[1]}" | tar -xO ./shlibs | grep -x 'librxb540 0 librxb540-0 (>= [0-9.]*)' >/dev/null ||
    { echo "librxb540-0's shlibs file does not name librxb540.so.0"; exit 1; }
# The bridge: the library of at least its version, libmosquitto and
# libsystemd (found by dpkg-shlibdeps), adduser for its system user; its
# configuration a conffile.
depends=$(dpkg-deb -f "${debs[4]}" Depends)
for needed in "librxb540-0 (>= $(dpkg-deb -f "${debs[4]}" Version))" "libmosquitto1" "libsystemd0" "adduser"; do
    [[ ", $depends," == *", $needed"[,\ ]* ]] || { echo "rxb540-mqtt does not depend on $needed: $depends"; exit 1; }
done
[ "$(dpkg-deb --ctrl-tarfile "${debs[4]}" | tar -xO ./conffiles)" = /etc/rxb540/mqtt.conf ] ||
    { echo "rxb540-mqtt's conffiles are not /etc/rxb540/mqtt.conf alone"; exit 1; }
echo "dependencies: rxb540 and librxb540-0 on the C library alone; librxb540-dev on librxb540-0 of its version" \
    "(and the C++ runtime for librxb540-sim);" \
    "rxb540-mqtt on librxb540-0, libmosquitto1, libsystemd0 and adduser, with its configuration as a conffile"

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

# rxb540-mqtt as its service runs it: the shipped configuration (all
# comments) with a port where no broker listens, as the service's user when
# there is one (installed), for 2 seconds, then SIGTERM. It must have started
# bridging and stopped cleanly. Prints its first log line.
run_bridge() {
    local bin=$1 user=$2 folder status=0 port
    folder=$(mktemp -d)
    chmod 755 "$folder"
    port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    { cat "$3"; echo "broker-port $port"; echo "host-id package-check"; } >"$folder/mqtt.conf"
    chmod 644 "$folder/mqtt.conf"
    if [ -n "$user" ]; then
        timeout -s TERM 2 runuser -u "$user" -- "$bin/rxb540-mqtt" --config "$folder/mqtt.conf" 2>"$folder/log" || status=$?
    else
        timeout -s TERM 2 "$bin/rxb540-mqtt" --config "$folder/mqtt.conf" 2>"$folder/log" || status=$?
    fi
    if [ "$status" -ne 124 ] || ! grep -q "bridging the boards of host package-check" "$folder/log" ||
        ! grep -q "rxb540-mqtt: stopping" "$folder/log"; then
        echo "rxb540-mqtt from $bin ${user:+as $user }did not run until stopped (status $status):" >&2
        cat "$folder/log" >&2
        rm -rf "$folder"
        return 1
    fi
    head -1 "$folder/log"
    rm -rf "$folder"
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
    bridge=$(LD_LIBRARY_PATH=$(dirname "$(find "$work/root" -name librxb540.so.0 | head -1)") \
        run_bridge "$work/root/usr/bin" "" "$work/root/etc/rxb540/mqtt.conf")
    echo "installed packages: NOT INSTALLED, $found is on this machine already and stays as it is;" \
        "from the unpacked packages rxb540 list ended with 0 and printed $bytes bytes, the" \
        "library's example built with pkg-config ended with 0 and printed $example_bytes bytes," \
        "and rxb540-mqtt ran on the shipped configuration ($bridge)"
else
    getent passwd rxb540-mqtt >/dev/null || made_user=true
    getent group rxb540 >/dev/null || made_group=true
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
    id -nG rxb540-mqtt | grep -w rxb540-mqtt >/dev/null || { echo "the package made no system user rxb540-mqtt"; exit 1; }
    getent group rxb540 >/dev/null || { echo "the package made no group rxb540"; exit 1; }
    unit=$(dpkg -L rxb540-mqtt | grep '/rxb540-mqtt\.service$')
    systemd-analyze verify "$unit" || { echo "systemd-analyze does not accept the unit of rxb540-mqtt"; exit 1; }
    bridge=$(run_bridge /usr/bin rxb540-mqtt /etc/rxb540/mqtt.conf)
    # An administrator enables the service (the link systemctl enable makes);
    # the purge removes that link with the rest.
    wants=/etc/systemd/system/multi-user.target.wants
    if [ -d "$wants" ] && [ ! -e "$wants/rxb540-mqtt.service" ] && [ ! -L "$wants/rxb540-mqtt.service" ]; then
        enable_link=$wants/rxb540-mqtt.service
        ln -s "$unit" "$enable_link"
    fi
    dpkg --purge "${PACKAGES[@]}" >/dev/null
    installed_here=false
    link_note=""
    if [ -n "$enable_link" ]; then
        [ ! -L "$enable_link" ] || { echo "the purge of rxb540-mqtt left the enable link $enable_link"; exit 1; }
        link_note=" with the service's enable link"
        enable_link=""
    fi
    remove_made_accounts
    found=$(already_here)
    [ -z "$found" ] || { echo "after the purge, $found is still there"; exit 1; }
    echo "installed packages: rxb540 list from PATH ended with 0 and printed $bytes bytes; the library's" \
        "example built with pkg-config ended with 0 and printed $example_bytes bytes; rxb540-mqtt ran as" \
        "its service's user on the shipped configuration ($bridge); purged again$link_note"
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
