#!/usr/bin/env bash
# Cross-builds rxb540.exe with MinGW-w64 and runs it under Wine as a whole
# process: its standard output, standard error (CR LF folded to LF) and exit
# status are compared byte for byte with what a user of the program sees.
#
# Wine has no RXB540 board, but it offers HID interfaces of its own (a virtual
# mouse and keyboard, vendor ID 0x845E). So these runs go through the real
# SetupAPI enumeration, CreateFileA, HidD_GetAttributes and string calls, and
# show that foreign HID devices are passed over.
#
# Usage: tests/windows/run-wine-tests.sh [--install] [--no-build]
#   --install   apt-get install the cross compiler and Wine when they are missing
#   --no-build  test the rxb540.exe already in build/windows
# Prints one line per case and a closing "N passed, N failed" line; exits
# nonzero when a case fails or the tools are missing.
set -u

readonly REPO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
readonly BUILD_DIR="$REPO_ROOT/build/windows"
readonly EXE="$BUILD_DIR/rxb540.exe"
readonly DISCOVERY_TEST="$BUILD_DIR/tests/windows/rxb540_wine_discovery_test.exe"
readonly DLL_CLIENT="$BUILD_DIR/tests/windows/rxb540_dll_client.exe"
readonly MINGW_CXX=x86_64-w64-mingw32-g++-posix
readonly MINGW_OBJDUMP=x86_64-w64-mingw32-objdump
readonly PACKAGES="g++-mingw-w64-x86-64 wine cmake"
# Every program that may wait on something (Wine's server and services, apt's
# downloads) runs with a time limit, in seconds, so that a stuck one fails
# the run, or its case, with a message instead of hanging it: one program
# under Wine, the creation of the prefix, a wineserver call, apt.
readonly PROGRAM_LIMIT=${RXB540_WINE_PROGRAM_LIMIT:-120}
readonly PREFIX_LIMIT=600
readonly SERVER_LIMIT=60
readonly APT_LIMIT=900

install_tools=0
build=1
for arg in "$@"; do
    case "$arg" in
    --install) install_tools=1 ;;
    --no-build) build=0 ;;
    *)
        echo "usage: $0 [--install] [--no-build]" >&2
        exit 2
        ;;
    esac
done

missing_tools() {
    local tool
    for tool in "$MINGW_CXX" "$MINGW_OBJDUMP" wine wineserver cmake perl; do
        command -v "$tool" >/dev/null 2>&1 || printf '%s ' "$tool"
    done
}

ensure_tools() {
    local missing
    missing="$(missing_tools)"
    if [ -n "$missing" ] && [ "$install_tools" = 1 ]; then
        echo "wine-tests: installing $PACKAGES (missing: $missing)"
        if ! { timeout -k 10 "$APT_LIMIT" apt-get update -qq &&
            DEBIAN_FRONTEND=noninteractive timeout -k 10 "$APT_LIMIT" apt-get install -y -qq $PACKAGES; } \
            >"${TMPDIR:-/tmp}/rxb540-wine-apt.log" 2>&1; then
            tail -n 20 "${TMPDIR:-/tmp}/rxb540-wine-apt.log" >&2
        fi
        missing="$(missing_tools)"
    fi
    if [ -n "$missing" ]; then
        echo "wine-tests: CANNOT RUN the Windows tests: missing $missing" >&2
        echo "wine-tests: the Debian packages $PACKAGES could not be installed or were not asked for (--install)" >&2
        exit 1
    fi
}

build_exe() {
    (cd "$REPO_ROOT" && cmake --preset windows >/dev/null && cmake --build --preset windows) || {
        echo "wine-tests: the cross build of rxb540.exe failed" >&2
        exit 1
    }
}

# A private prefix under the build folder: about 700 MB, never in the
# repository. Created once; later runs reuse it.
setup_wine() {
    export WINEPREFIX="$BUILD_DIR/wineprefix"
    export WINEDEBUG=-all
    # A crashing program must not start Wine's debugger, which would write
    # its dump into the program's standard output.
    export WINEDLLOVERRIDES="winedbg.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
    mkdir -p "$WINEPREFIX"
    # One persistent wineserver for the whole run; without it every start
    # waits for Wine's background processes to wind down. Those processes
    # outlive each program, so none of them may hold this script's output
    # open (whoever reads it would wait for them); they all end with the
    # server. A server left behind by an interrupted run is stopped first.
    timeout -k 10 "$SERVER_LIMIT" wineserver -k </dev/null >/dev/null 2>&1
    trap 'timeout -k 10 "$SERVER_LIMIT" wineserver -k </dev/null >/dev/null 2>&1; rm -rf "$WORK"' EXIT
    trap 'exit 130' INT TERM
    if ! timeout -k 10 "$SERVER_LIMIT" wineserver -p </dev/null >/dev/null 2>&1; then
        echo "wine-tests: CANNOT RUN: wineserver did not start within $SERVER_LIMIT s" >&2
        exit 1
    fi
    # The server writes the registry when it ends, so system.reg marks a
    # prefix that was set up completely.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        local started=$SECONDS
        local status=0
        timeout -k 10 "$PREFIX_LIMIT" wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || status=$?
        if [ "$status" != 0 ]; then
            echo "wine-tests: CANNOT RUN: creating the Wine prefix $WINEPREFIX failed$(time_limit_note "$status" "$PREFIX_LIMIT")" >&2
            exit 1
        fi
        echo "wine-tests: created Wine prefix in $((SECONDS - started)) s"
    fi
}

# The program's name as Wine hands it in argv[0] when started by its Unix
# path: the full path on drive Z:, which maps to /.
readonly EXE_AS_STARTED="Z:${EXE//\//\\}"

# The usage text from the fixture that the unit tests read too, with the
# program's name in place of @PROGRAM@ (quoted, so that the name's
# backslashes and ampersands stay as they are).
usage_text() {
    local text
    text="$(<"$REPO_ROOT/tests/support/usage.txt")"
    printf '%s\n' "${text//@PROGRAM@/"$1"}"
}

WORK=""
passed=0
failed=0

fold_crlf() { perl -0777 -pe 's/\r\n/\n/g' "$1"; }

# time_limit_note STATUS LIMIT: says so when STATUS is timeout's for a
# program that it ended (124, or 137 after SIGKILL).
time_limit_note() {
    if [ "$1" = 124 ] || [ "$1" = 137 ]; then
        printf ' (no end within %s s; stopped)' "$2"
    fi
}

# check NAME EXPECTED_STATUS EXPECTED_STDOUT EXPECTED_STDERR -- COMMAND...
check() {
    local name="$1" want_status="$2" want_out="$3" want_err="$4"
    shift 5
    local status problems=""
    timeout -k 10 "$PROGRAM_LIMIT" "$@" </dev/null >"$WORK/out.raw" 2>"$WORK/err.raw"
    status=$?
    fold_crlf "$WORK/out.raw" >"$WORK/out"
    fold_crlf "$WORK/err.raw" >"$WORK/err"
    printf '%s' "$want_out" >"$WORK/want_out"
    printf '%s' "$want_err" >"$WORK/want_err"
    [ "$status" = "$want_status" ] ||
        problems+=" status $status, expected $want_status$(time_limit_note "$status" "$PROGRAM_LIMIT");"
    cmp -s "$WORK/out" "$WORK/want_out" || problems+=" stdout differs;"
    cmp -s "$WORK/err" "$WORK/want_err" || problems+=" stderr differs;"
    if [ -z "$problems" ]; then
        passed=$((passed + 1))
        echo "PASS $name"
        return
    fi
    failed=$((failed + 1))
    echo "FAIL $name:$problems"
    local stream
    for stream in out err; do
        if ! cmp -s "$WORK/$stream" "$WORK/want_$stream"; then
            # cat -A marks each line end with $ and shows control bytes.
            diff -u --label "expected std$stream" --label "actual std$stream" \
                <(cat -A "$WORK/want_$stream") <(cat -A "$WORK/$stream") | sed 's/^/  /'
        fi
    done
}

# rxb540.exe, rxb540.dll and a program on the DLL must start on a Windows
# machine without MinGW's runtime DLLs; the first two reach the HID services
# themselves, the third through rxb540.dll.
check_static_runtime() {
    local program needed imports
    for program in "$EXE:hid.dll setupapi.dll" "$BUILD_DIR/rxb540.dll:hid.dll setupapi.dll" \
        "$DLL_CLIENT:rxb540.dll"; do
        needed=${program#*:}
        program=${program%%:*}
        imports="$("$MINGW_OBJDUMP" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')"
        if grep -qE '^(libstdc\+\+|libgcc|libwinpthread)' <<<"$imports"; then
            failed=$((failed + 1))
            echo "FAIL $(basename "$program") imports MinGW runtime DLLs:" $imports
        elif ! for dll in $needed; do grep -qx "$dll" <<<"$imports" || exit 1; done; then
            failed=$((failed + 1))
            echo "FAIL $(basename "$program") does not import $needed:" $imports
        else
            passed=$((passed + 1))
            echo "PASS $(basename "$program") imports only system DLLs:" $imports
        fi
    done
}

run_cases() {
    local not_found='The specified device was not found'

    # cmd.exe starts the program as a user types it, so argv[0] is "rxb540".
    check "no command, typed in cmd: usage with the name as typed, status 1" \
        1 "" "$(usage_text rxb540)"$'\n' \
        -- bash -c 'cd "$1" && wine cmd /c rxb540' _ "$BUILD_DIR"
    check "no command: usage, status 1" \
        1 "" "$(usage_text "$EXE_AS_STARTED")"$'\n' -- wine "$EXE"
    check "unknown command: usage, status 1" \
        1 "" "$(usage_text "$EXE_AS_STARTED")"$'\n' -- wine "$EXE" help
    check "command words are case-sensitive: LIST is unknown, status 1" \
        1 "" "$(usage_text "$EXE_AS_STARTED")"$'\n' -- wine "$EXE" LIST
    check "list passes over Wine's own HID devices: no output, status 0" \
        0 "" "" -- wine "$EXE" list
    check "set without a state: invalid arguments and usage, status 1" \
        1 "" "Invalid arguments."$'\n'"$(usage_text "$EXE_AS_STARTED")"$'\n' -- wine "$EXE" set ANY
    check "set ANY 1 without a board: not found, status 1" \
        1 "" "error finding ANY: $not_found"$'\n' -- wine "$EXE" set ANY 1
    check "set by serial number without a board: the serial as typed, status 1" \
        1 "" "error finding 1735000000: $not_found"$'\n' -- wine "$EXE" set 1735000000 5
    check "init without a board: not found, nothing on stdout, status 1" \
        1 "" "error finding ANY: $not_found"$'\n' -- wine "$EXE" init
    check "init ignores an extra argument" \
        1 "" "error finding ANY: $not_found"$'\n' -- wine "$EXE" init extra
    # rxb540.dll beside the program, as a user of the DLL ships it.
    cp "$BUILD_DIR/rxb540.dll" "$(dirname "$DLL_CLIENT")/"
    check "a C program on rxb540.dll lists Wine's HID devices: no boards, status 0" \
        0 "" "" -- wine "$DLL_CLIENT"
    check "a C program on rxb540.dll finds no board to set: not found, status 1" \
        1 "set 1735000000 5: $not_found"$'\n' "" -- wine "$DLL_CLIENT" 1735000000 5
}

# Discovery pointed at the identity of Wine's own virtual mouse and keyboard:
# selection, string comparison, the handed-over handle and a refused report.
run_discovery_checks() {
    check "discovery lists the serial number of Wine's mouse" \
        0 "0000"$'\n' "" -- wine "$DISCOVERY_TEST" list-mouse
    local line status reported=0
    timeout -k 10 "$PROGRAM_LIMIT" wine "$DISCOVERY_TEST" </dev/null >"$WORK/discovery.raw" 2>&1
    status=$?
    while IFS= read -r line; do
        case "$line" in
        "PASS "*) passed=$((passed + 1)) ;;
        "FAIL "*) failed=$((failed + 1)) ;;
        *) line="FAIL unexpected output: $line" && failed=$((failed + 1)) ;;
        esac
        reported=$((reported + 1))
        echo "$line (discovery under Wine)"
    done < <(fold_crlf "$WORK/discovery.raw")
    # A crash may end the program before it reports a failure of its own.
    if [ "$reported" = 0 ] || { [ "$status" != 0 ] && ! grep -q '^FAIL ' "$WORK/discovery.raw"; }; then
        failed=$((failed + 1))
        echo "FAIL discovery checks ended with status $status$(time_limit_note "$status" "$PROGRAM_LIMIT") after $reported results"
    fi
}

main() {
    ensure_tools
    [ "$build" = 1 ] && build_exe
    local program
    for program in "$EXE" "$DISCOVERY_TEST" "$DLL_CLIENT" "$BUILD_DIR/rxb540.dll"; do
        if [ ! -f "$program" ]; then
            echo "wine-tests: $program is missing; build with: cmake --preset windows && cmake --build --preset windows" >&2
            exit 1
        fi
    done
    setup_wine
    WORK="$(mktemp -d)"
    local started=$SECONDS
    check_static_runtime
    run_cases
    run_discovery_checks
    echo "wine-tests: cases ran in $((SECONDS - started)) s"
    echo "$passed passed, $failed failed"
    [ "$failed" = 0 ]
}

main
