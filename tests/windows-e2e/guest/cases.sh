# The Windows end-to-end cases, run as root in the guest image (Debian trixie
# with Wine 10): rxb540.exe under Wine, whose winebus reaches the emulated
# boards through /dev/hidraw*. Same output lines and comparisons as the
# Linux cases (tests/e2e/guest/lib.sh).

. /tmp/e2e/e2e.conf
. /tmp/e2e/lib.sh

# busybox applets (usleep, xxd) where trixie's minimal system has none.
mkdir -p /tmp/e2e/bin && busybox --install -s /tmp/e2e/bin
export PATH=$PATH:/tmp/e2e:/tmp/e2e/bin
# The prefix was made with the image; -all also keeps Wine's hint about the
# missing 32-bit loader off standard error.
export WINEPREFIX=/root/.wine WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d

# Wine builds a device's instance ID from its USB serial number and cannot
# open one with characters beyond ASCII, so all serials here are ASCII.
REFUSING_SERIAL=1735689600
FIRST_GADGET=0
FIRST_SERIAL=$SERIAL_1
SERIAL_2_GADGET=2
# A Windows console program ends its lines in CR LF.
LINE_END=$(printf '\r')
EXE_AS_STARTED='Z:\tmp\e2e\rxb540.exe'

# run_rxb540 ARGS...: runs rxb540.exe under Wine and keeps its output and
# status for expect_run.
run_rxb540() {
    LOG_START=$(log_lines)
    LAST_RUN="rxb540.exe $*"
    wine /tmp/e2e/rxb540.exe "$@" </dev/null >/tmp/stdout 2>/tmp/stderr
    STATUS=$?
}

# The first program starts Wine's services, winebus among them (a cold start
# of half a minute), so this case runs while the gadgets are bound.
case_usage() {
    case_begin no-argument-prints-usage
    run_rxb540
    program=$(printf '%s' "$EXE_AS_STARTED" | sed 's/\\/\\\\/g')
    expect_run "" "$(sed "s/@PROGRAM@/$program/; s/\$/$LINE_END/" /tmp/e2e/usage.txt)
" 1
    case_end
}

# winebus registers hidraw devices in the background, so a listing may miss
# boards at first: it is repeated, for a bounded time, until all boards
# show; that listing must then hold exactly them, in order.
case_list() {
    case_begin list-shows-the-boards-only
    tries=0
    until run_rxb540 list && grep -q $SERIAL_2 /tmp/stdout && grep -q $REFUSING_SERIAL /tmp/stdout &&
        grep -q $SERIAL_1 /tmp/stdout; do
        tries=$((tries + 1))
        if [ $tries -ge 20 ]; then
            echo "E2E-ERROR Wine did not see the boards in $tries listings"
            return 1
        fi
        sleep 2
    done
    expect_run "$SERIAL_1$LINE_END
$SERIAL_2$LINE_END
$REFUSING_SERIAL$LINE_END
" "" 0
    expect_received ""
    case_end
}

case_refused_report() {
    case_begin refused-report-is-a-communication-error
    run_rxb540 set "$REFUSING_SERIAL" 5
    expect_run "" "error writing data: $COMM_ERROR$LINE_END
" 1
    expect_received ""
    case_end
}

# A C program on rxb540.dll (tests/windows/dll_client.c) lists the boards,
# opens the second one by the interface path that the list gives for its
# serial number, and sets its state.
case_dll_client() {
    case_begin dll-client-sets-a-board-by-its-path
    LOG_START=$(log_lines)
    LAST_RUN="rxb540_dll_client.exe $SERIAL_2 6"
    wine /tmp/e2e/rxb540_dll_client.exe "$SERIAL_2" 6 </dev/null >/tmp/stdout 2>/tmp/stderr
    STATUS=$?
    expect_run "$SERIAL_1$LINE_END
$SERIAL_2$LINE_END
$REFUSING_SERIAL$LINE_END
set $SERIAL_2 6: Success$LINE_END
" "" 0
    expect_received "received gadget=$SERIAL_2_GADGET serial=$SERIAL_2 report=$(state_report_hex 6)
state gadget=$SERIAL_2_GADGET serial=$SERIAL_2 state=6"
    case_end
}

# The Python package on the Linux librxb540 (hidraw, beside Wine) lists the
# boards, opens one by serial and switches it whole, then one relay. The
# gadget keeps only the latest report until the emulator reads it, so the
# second report waits until the emulator has logged the first.
case_python_package() {
    case_begin python-package-sets-a-board
    LOG_START=$(log_lines)
    LAST_RUN="python3 rxb540 $SERIAL_2"
    PYTHONPATH=/tmp/e2e/python RXB540_LIBRARY=/tmp/e2e/librxb540.so.0 timeout 60 python3 -c '
import sys, time, rxb540
print(*[board.serial for board in rxb540.list_boards()])
with rxb540.open(sys.argv[1]) as board:
    board.set_state(9)
    for _ in range(100):
        if "state=9" in open(sys.argv[2]).read():
            break
        time.sleep(0.1)
    board.set_relay(1, False)
' "$SERIAL_2" "$EMULATOR_LOG" </dev/null >/tmp/stdout 2>/tmp/stderr
    STATUS=$?
    expect_run "$SERIAL_1 $SERIAL_2 $REFUSING_SERIAL
" "" 0
    expect_received "received gadget=$SERIAL_2_GADGET serial=$SERIAL_2 report=$(state_report_hex 9)
state gadget=$SERIAL_2_GADGET serial=$SERIAL_2 state=9
received gadget=$SERIAL_2_GADGET serial=$SERIAL_2 report=$(state_report_hex 8)
state gadget=$SERIAL_2_GADGET serial=$SERIAL_2 state=8"
    case_end
}

# Checked by what the board received: Wine does not always see a board that
# enumerates anew, so listing again would test Wine rather than rxb540.exe.
case_init() {
    case_begin init-sets-first-board-serial
    expect_init_sets_serial
    case_end
}

# Gadget 1 has another vendor ID but the first board's serial number: a
# report to it instead of the board shows up.
launch_emulator "board:$SERIAL_1" "hid:1209:05df:$MANUFACTURER:RXB540:$SERIAL_1" "board:$SERIAL_2" \
    "refusing:$REFUSING_SERIAL"
# One persistent server: without it every program waits for Wine's
# background processes to wind down.
wineserver -p
case_usage
if gadgets_up && case_list; then
    case_set_state_by_serial
    case_set_state_any
    case_set_absent_serial
    case_refused_report
    case_dll_client
    case_python_package
    case_init
fi
wineserver -k
