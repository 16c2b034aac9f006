#!/usr/bin/env bash
# librxb540 as its users meet it: the shared library's name and exported
# symbols (against the Debian symbols file), the header as C and C++, and the
# example of docs/library.md built against an install in a scratch prefix
# with pkg-config and with CMake, shared and static, then run on the
# simulated host together with rxb540 of the same build.
set -euo pipefail
# A pipe into grep reads its input whole (no grep -q): grep -q ends at the
# first match, and the writer it leaves behind fails the pipe under pipefail.
cd "$(dirname "$0")/../.."

fail() {
    echo "library check: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# The names librxb540.so exports, as name@version, one a line.
exported_symbols() {
    # The version node itself is listed as name@name, as dpkg-gensymbols does.
    nm -D --defined-only "$1" | awk '{ print $NF }' | sed 's/@@/@/; /@/!s/.*/&@&/' | sort
}

check_abi() {
    local so=$1 soname
    [ -f "$so" ] || fail "$so was not built"
    soname=$(readelf -d "$so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
    [ "$soname" = librxb540.so.0 ] || fail "$so has the SONAME '$soname', not librxb540.so.0"
    sed -n 's/^ \([^ ]*\) .*/\1/p' packaging/debian/librxb540-0/symbols | sort >"$work/symbols-expected"
    exported_symbols "$so" >"$work/symbols-exported"
    diff -u --label packaging/debian/librxb540-0/symbols --label "exported by $so" \
        "$work/symbols-expected" "$work/symbols-exported" >&2 ||
        fail "$so exports other symbols than packaging/debian/librxb540-0/symbols lists"
    echo "ABI: $so is librxb540.so.0 and exports exactly the $(wc -l <"$work/symbols-expected") listed symbols"
}

# librxb540.a defines nothing global but the rxb540_* functions (and what the
# C++ runtime's templates emit), so its insides cannot clash with a program's.
check_static_symbols() {
    local others
    others=$(nm -g --defined-only "$1" | awk 'NF == 3 { print $3 }' | grep -v '^rxb540_' | c++filt |
        grep -Ev '^((typeinfo|typeinfo name|vtable|guard variable) for |[^ (:]+ )?(std|__gnu_cxx)::' || true)
    [ -z "$others" ] || fail "$1 defines global symbols besides rxb540_*: $(echo "$others" | tr '\n' ' ')"
    echo "static: $1 defines no global symbol but the rxb540_* functions"
}

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target rxb540_shared rxb540_static
check_abi build/release/librxb540.so
check_static_symbols build/release/librxb540.a

cmake --preset library-sim >/dev/null
cmake --build --preset library-sim
check_abi build/library-sim/librxb540.so
check_static_symbols build/library-sim/librxb540.a

for compiler in "cc -std=c99 -x c" "c++ -std=c++11 -x c++"; do
    echo '#include <rxb540.h>' | $compiler -Wall -Wextra -pedantic -Werror -Iinclude -fsyntax-only - ||
        fail "include/rxb540.h does not compile with $compiler -pedantic -Werror"
done
echo "header: compiles as C99 and C++11 with -Wall -Wextra -pedantic -Werror"

# The example: examples/relays.c, which docs/library.md shows whole.
cp examples/relays.c "$work/relays.c"
sed -n '/^```c$/,/^```$/{/^```/d;p}' docs/library.md |
    diff -u --label docs/library.md --label examples/relays.c - examples/relays.c >&2 ||
    fail "the C example of docs/library.md is not examples/relays.c"

prefix="$work/prefix"
cmake --install build/library-sim --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name rxb540.pc)
[ -n "$pc" ] || fail "the install has no rxb540.pc"
libdir=$(dirname "$(dirname "$pc")")
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")

# shellcheck disable=SC2046 # pkg-config's flags are meant to be split
cc -std=c99 -Wall -Wextra -pedantic -Werror "$work/relays.c" -o "$work/relays-pc-shared" \
    $(pkg-config --cflags --libs rxb540) || fail "the example does not build with pkg-config"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror "$work/relays.c" -o "$work/relays-pc-static" \
    $(pkg-config --cflags rxb540) -L"$libdir" -Wl,-Bstatic -lrxb540 -Wl,-Bdynamic \
    $(pkg-config --static --libs-only-l rxb540 | sed 's/-lrxb540//') ||
    fail "the example does not build statically with pkg-config --static"
cmake -S tests/library/consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    -DRXB540_EXAMPLE="$work/relays.c" -DCMAKE_C_FLAGS="-Wall -Wextra -pedantic -Werror" >/dev/null ||
    fail "find_package(rxb540) fails on the install"
cmake --build "$work/consumer" >/dev/null || fail "the example does not build with CMake"
echo "consumers: the example built with pkg-config and CMake, shared and static"

# A C program with a CloseHandle and a CopyText of its own, linked statically.
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror tests/library/own_names.c -o "$work/own-names" \
    $(pkg-config --cflags rxb540) "$libdir/librxb540.a" $(pkg-config --static --libs-only-l rxb540 | sed 's/-lrxb540//') ||
    fail "a program with its own CloseHandle and CopyText does not link with librxb540.a"
cp examples/two-boards.host "$work/own.host"
RXB540_SIM_HOST="$work/own.host" "$work/own-names" || fail "a program with its own CloseHandle and CopyText fails"
grep -q 'serial=1700000001 state=5' "$work/own.host" || fail "the program's board did not get state 5"

for program in relays-pc-shared consumer/relays-shared; do
    LD_LIBRARY_PATH=$libdir ldd "$work/$program" | grep "librxb540.so.0 => $libdir/" >/dev/null || fail "$program does not load $libdir/librxb540.so.0"
done
for program in relays-pc-static consumer/relays-static; do
    ! ldd "$work/$program" | grep librxb540 >/dev/null || fail "$program loads librxb540 though linked statically"
done

# One run: lists, sets board 1700000002 to 5, lists again; compared as a whole.
run_example() {
    local program=$1 host="$work/boards.host" log="$work/sim.log"
    cp examples/two-boards.host "$host"
    rm -f "$log"
    {
        RXB540_SIM_HOST=$host RXB540_SIM_LOG=$log LD_LIBRARY_PATH=$libdir "$program"
        echo "status $?"
        RXB540_SIM_HOST=$host RXB540_SIM_LOG=$log LD_LIBRARY_PATH=$libdir "$program" 1700000002 5
        echo "status $?"
        RXB540_SIM_HOST=$host LD_LIBRARY_PATH=$libdir "$program" 999 5
        echo "status $?"
        RXB540_SIM_HOST="$work/absent.host" LD_LIBRARY_PATH=$libdir "$program"
        echo "status $?"
        grep -c 'state=5' "$host"
        cat "$log"
    } >"$work/run" 2>&1 || true
    cat >"$work/want" <<WANT
sim:1 1700000001
sim:2 1700000002
status 0
status 0
cannot open 999: The specified device was not found
status 1
cannot list the boards: The host's HID devices could not be listed
status 1
1
enumerate
open 0
close 0
open 1
close 1
open 2
close 2
end open=0
enumerate
open 0
close 0
open 1
close 1
open 2
feature 2 0031050000000000000000000000000000 ok
close 2
end open=0
WANT
    diff -u --label expected --label "$program" "$work/want" "$work/run" >&2 || fail "the example's run differs"
}
for program in relays-pc-shared relays-pc-static consumer/relays-shared consumer/relays-static; do
    run_example "$work/$program"
done
echo "runs: all four builds of the example list, set and fail as expected on the simulated host"

# From another language: Python's ctypes on the installed librxb540.so.0,
# reading the serial numbers as the bytes they are.
cp examples/two-boards.host "$work/ctypes.host"
out=$(RXB540_SIM_HOST="$work/ctypes.host" /usr/bin/python3 - "$libdir/librxb540.so.0" <<'PYTHON'
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
lib.rxb540_version.restype = ctypes.c_char_p
lib.rxb540_list_count.restype = ctypes.c_size_t
lib.rxb540_list_count.argtypes = [ctypes.c_void_p]
for name in ("rxb540_list_serial", "rxb540_list_path"):
    getattr(lib, name).restype = ctypes.c_char_p
    getattr(lib, name).argtypes = [ctypes.c_void_p, ctypes.c_size_t]
lib.rxb540_list_free.argtypes = [ctypes.c_void_p]
boards = ctypes.c_void_p()
assert lib.rxb540_list_boards(ctypes.byref(boards)) == 0
print(lib.rxb540_version().decode("latin-1"))
for i in range(lib.rxb540_list_count(boards)):
    print(lib.rxb540_list_path(boards, i).decode("latin-1"), lib.rxb540_list_serial(boards, i).decode("latin-1"))
lib.rxb540_list_free(boards)
PYTHON
) || fail "Python's ctypes could not list the boards through librxb540.so.0"
version=$(sed -n 's/^project(rxb540 VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ "$out" = "$version"$'\nsim:1 1700000001\nsim:2 1700000002' ] || fail "Python's ctypes listed: $out"
echo "ctypes: Python lists the boards through librxb540.so.0"

# rxb540 of the sim build: the same boards, and a host that cannot be listed.
cp examples/two-boards.host "$work/cli.host"
out=$(RXB540_SIM_HOST="$work/cli.host" build/library-sim/rxb540 list) || fail "rxb540 list failed on the simulated host"
[ "$out" = $'1700000001\n1700000002' ] || fail "rxb540 list printed: $out"
status=0
err=$(RXB540_SIM_HOST="$work/absent.host" build/library-sim/rxb540 list 2>&1) || status=$?
[ "$status" = 1 ] && [ "$err" = "error listing devices: No such file or directory" ] ||
    fail "rxb540 list without a host file: status $status, '$err'"
status=0
err=$(RXB540_SIM_HOST="$work/absent.host" build/library-sim/rxb540 set ANY 1 2>&1) || status=$?
[ "$status" = 1 ] && [ "$err" = "error finding ANY: No such file or directory" ] ||
    fail "rxb540 set without a host file: status $status, '$err'"
echo "rxb540 on the library: lists the boards; an unlistable host is status 1 with its reason"
