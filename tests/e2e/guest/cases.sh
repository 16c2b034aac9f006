# The end-to-end cases, run by the guest's init as root. Each case runs
# rxb540 once or a few times and compares its standard output, standard
# error and exit status byte for byte, and the lines in which the board
# emulator reports what each gadget received.
#
# Output for the runner: "E2E-RESULT pass|fail CASE", "E2E-DETAIL CASE text"
# for every difference, "E2E-ERROR text" when the machine cannot be set up,
# "E2E-NOTE CASE text" where the platform makes a case check something else.

. /etc/e2e.conf

EMULATOR_LOG=/tmp/emulator.log
EMULATOR_ERR=/tmp/emulator.err
SERIAL_1=1704067200
SERIAL_2=1717200000
ABSENT_SERIAL=1234567890
NOT_FOUND="The specified device was not found"
COMM_ERROR="Communication error with device"
# The boards in the platform's enumeration order (BOARD_ORDER, from the
# runner): gadget 1 carries SERIAL_1, gadget 3 SERIAL_2.
set -- $BOARD_ORDER
FIRST_GADGET=$1
SECOND_GADGET=$2
if [ "$FIRST_GADGET" = 1 ]; then
    FIRST_SERIAL=$SERIAL_1 SECOND_SERIAL=$SERIAL_2
else
    FIRST_SERIAL=$SERIAL_2 SECOND_SERIAL=$SERIAL_1
fi

# --- helpers ---------------------------------------------------------------

# Polls a shell condition every 50 ms for up to $1 tenths of a second.
wait_for() {
    tenths=$1
    shift
    elapsed=0
    while ! eval "$@"; do
        [ $elapsed -ge $((tenths * 2)) ] && return 1
        usleep 50000
        elapsed=$((elapsed + 1))
    done
}

log_lines() {
    wc -l <"$EMULATOR_LOG"
}

# The /dev node of the host-side hidraw interface of gadget $1: gadget N is
# bound to dummy_udc.N, whose host side is dummy_hcd.N.
gadget_node() {
    for dir in /sys/class/hidraw/hidraw*; do
        if grep -q "^HID_PHYS=usb-dummy_hcd\.$1-" "$dir/device/uevent" 2>/dev/null; then
            echo "/dev/${dir##*/}"
            return 0
        fi
    done
    return 1
}

# The usbfs node of the USB device behind gadget $1, on dummy_hcd.$1's port.
usb_node() {
    for dir in /sys/devices/platform/dummy_hcd.$1/usb*/*-1; do
        [ -f "$dir/devnum" ] || continue
        printf '/dev/bus/usb/%03d/%03d\n' "$(cat "$dir/busnum")" "$(cat "$dir/devnum")"
        return 0
    done
    return 1
}

# The node whose permissions decide whether a user can open gadget $1.
access_node() {
    if [ "$ACCESS_NODE" = usbfs ]; then usb_node "$1"; else gadget_node "$1"; fi
}

# The serial number that the host read from gadget $1.
host_serial_of() {
    node=$(gadget_node "$1") && cat "/sys/class/hidraw/${node#/dev/}/device/../../serial"
}

hidraw_count() {
    ls /sys/class/hidraw 2>/dev/null | wc -l
}

# 32 hex digits: the 16 bytes that a gadget receives for a set-state report.
state_report_hex() {
    printf '31%02x%028d' "$1" 0
}

# The set-serial report: 82, the ASCII text, then zeros up to 16 bytes.
serial_report_hex() {
    text_hex=$(printf '%s' "$1" | xxd -p | tr -d '\n')
    zeros=$((32 - 2 - ${#text_hex}))
    printf "82%s%0${zeros}d" "$text_hex" 0
}

case_begin() {
    CASE=$1
    CASE_OK=1
}

case_end() {
    if [ $CASE_OK = 1 ]; then
        echo "E2E-RESULT pass $CASE"
    else
        echo "E2E-RESULT fail $CASE"
    fi
}

detail() {
    CASE_OK=0
    echo "E2E-DETAIL $CASE $*"
}

# note TEXT: says how the platform changes the current case; no-op when empty.
note() {
    [ -z "$1" ] || echo "E2E-NOTE $CASE: $1"
}

# Shows a file line by line, each line closed by "$" and tabs and carriage
# returns written as \t and \r, so that blanks and line ends are visible.
detail_lines() {
    awk '{ gsub(/\t/, "\\t"); gsub(/\r/, "\\r"); print $0 "$" }' "$2" | while IFS= read -r line; do
        detail "  $1 $line"
    done
    if [ -s "$2" ] && [ "$(tail -c 1 "$2" | od -An -c | tr -d ' ')" != '\n' ]; then
        detail "  $1 (no line end after the last line)"
    fi
    [ -s "$2" ] || detail "  $1 (empty)"
}

# compare WHAT EXPECTED_TEXT ACTUAL_FILE
compare() {
    printf '%s' "$2" >/tmp/expected
    if ! cmp -s /tmp/expected "$3"; then
        detail "$1 differs"
        detail_lines "expected:" /tmp/expected
        detail_lines "actual:  " "$3"
    fi
}

# run_rxb540 [--tester] ARGS...: runs rxb540 as root or as the unprivileged
# tester and keeps its output and status for expect_run.
run_rxb540() {
    LOG_START=$(log_lines)
    if [ "$1" = --tester ]; then
        shift
        LAST_RUN="rxb540 $* (as tester)"
        su -s /bin/sh tester -c 'exec /bin/rxb540 "$@"' rxb540 "$@" >/tmp/stdout 2>/tmp/stderr
    else
        LAST_RUN="rxb540 $*"
        /bin/rxb540 "$@" >/tmp/stdout 2>/tmp/stderr
    fi
    STATUS=$?
}

# expect_run STDOUT STDERR STATUS
expect_run() {
    compare "$LAST_RUN: stdout" "$1" /tmp/stdout
    compare "$LAST_RUN: stderr" "$2" /tmp/stderr
    if [ "$STATUS" != "$3" ]; then
        detail "$LAST_RUN: exit status $STATUS, expected $3"
    fi
}

# expect_received LINES: the emulator lines since the last run_rxb540 must be
# exactly LINES (empty: no gadget received anything). A report reaches the
# gadget before rxb540 ends, and the emulator prints its next marker only
# after every report that had reached a gadget: the lines before the marker
# are all there is.
expect_received() {
    MARKS=$((MARKS + 1))
    kill -USR1 "$EMULATOR_PID"
    wait_for 100 'grep -qx "mark $MARKS" "$EMULATOR_LOG"' || detail "the emulator printed no marker"
    tail -n +$((LOG_START + 1)) "$EMULATOR_LOG" | sed "/^mark $MARKS\$/,\$d" >/tmp/received
    if [ -n "$1" ]; then
        compare "$LAST_RUN: emulator report" "$1
" /tmp/received
    else
        compare "$LAST_RUN: emulator report" "" /tmp/received
    fi
}

# --- machine setup ---------------------------------------------------------

# start_emulator GADGET...: starts the emulator and waits until the host has
# a hidraw node for each gadget.
start_emulator() {
    gadget_count=$#
    MARKS=0
    rxb540-board-emulator "$@" >"$EMULATOR_LOG" 2>"$EMULATOR_ERR" &
    EMULATOR_PID=$!
    if ! wait_for 300 '[ $(grep -c "^bound .*host=configured" "$EMULATOR_LOG") -ge $gadget_count ]' ||
        ! wait_for 100 '[ $(hidraw_count) -ge $gadget_count ]'; then
        echo "E2E-ERROR the emulated gadgets did not come up"
        sed 's/^/E2E-ERROR   emulator: /' "$EMULATOR_LOG" "$EMULATOR_ERR"
        dmesg | tail -n 20 | sed 's/^/E2E-ERROR   kernel: /'
        return 1
    fi
}

# --- cases -----------------------------------------------------------------

case_list_shows_boards_in_order() {
    case_begin list-shows-both-boards-only
    note "$ORDER_NOTE"
    run_rxb540 list
    expect_run "$FIRST_SERIAL
$SECOND_SERIAL
" "" 0
    expect_received ""
    case_end
}

case_set_state_by_serial() {
    case_begin set-by-serial-reaches-only-that-board
    run_rxb540 set "$SERIAL_2" 5
    expect_run "" "" 0
    expect_received "received gadget=3 serial=$SERIAL_2 report=$(state_report_hex 5)
state gadget=3 serial=$SERIAL_2 state=5"
    case_end
}

case_set_state_any() {
    case_begin set-any-reaches-the-first-board
    note "$ORDER_NOTE"
    run_rxb540 set ANY 3
    expect_run "" "" 0
    expect_received "received gadget=$FIRST_GADGET serial=$FIRST_SERIAL report=$(state_report_hex 3)
state gadget=$FIRST_GADGET serial=$FIRST_SERIAL state=3"
    case_end
}

case_set_absent_serial() {
    case_begin set-absent-serial-fails
    run_rxb540 set "$ABSENT_SERIAL" 7
    expect_run "" "error finding $ABSENT_SERIAL: $NOT_FOUND
" 1
    expect_received ""
    case_end
}

case_unreadable_boards() {
    case_begin unreadable-boards-are-not-found
    note "$ACCESS_NOTE"
    run_rxb540 --tester list
    expect_run "" "" 0
    expect_received ""
    run_rxb540 --tester set ANY 3
    expect_run "" "error finding ANY: $NOT_FOUND
" 1
    expect_received ""
    case_end
}

# Only the second board's node is given to the tester: the first board is
# passed over, so ANY selects the second.
case_access_granted() {
    case_begin access-granted-to-one-board
    note "$ACCESS_NOTE"
    node=$(access_node $SECOND_GADGET) || detail "gadget $SECOND_GADGET has no $ACCESS_NODE node"
    chown tester "$node"
    run_rxb540 --tester list
    expect_run "$SECOND_SERIAL
" "" 0
    expect_received ""
    run_rxb540 --tester set ANY 4
    expect_run "" "" 0
    expect_received "received gadget=$SECOND_GADGET serial=$SECOND_SERIAL report=$(state_report_hex 4)
state gadget=$SECOND_GADGET serial=$SECOND_SERIAL state=4"
    chown root "$node"
    case_end
}

# init writes the current time as the first board's serial number; the board
# then enumerates anew and the host sees the new serial.
case_init_sets_serial() {
    case_begin init-sets-first-board-serial
    note "$ORDER_NOTE"
    g=$FIRST_GADGET
    before=$(date +%s)
    run_rxb540 init
    after=$(date +%s)
    NEW_SERIAL=$(sed -n 's/^Set serial number to \([0-9]\{10\}\)$/\1/p' /tmp/stdout)
    if [ -z "$NEW_SERIAL" ] || [ "$NEW_SERIAL" -lt "$before" ] || [ "$NEW_SERIAL" -gt "$after" ]; then
        detail "stdout does not name a serial between $before and $after"
        NEW_SERIAL=0000000000
    fi
    expect_run "Set serial number to $NEW_SERIAL
" "" 0
    expect_received "received gadget=$g serial=$FIRST_SERIAL report=$(serial_report_hex "$NEW_SERIAL")
serial gadget=$g old=$FIRST_SERIAL new=$NEW_SERIAL
bound gadget=$g serial=$NEW_SERIAL udc=dummy_udc.$g vid=16c0 pid=05df hidg=/dev/hidg$g host=configured"
    wait_for 100 '[ "$(host_serial_of $g)" = "$NEW_SERIAL" ]' ||
        detail "the host did not see serial $NEW_SERIAL"
    run_rxb540 list
    expect_run "$NEW_SERIAL
$SECOND_SERIAL
" "" 0
    case_end
}

case_set_state_by_new_serial() {
    case_begin set-by-new-serial-after-init
    note "$ORDER_NOTE"
    run_rxb540 set "$NEW_SERIAL" 6
    expect_run "" "" 0
    expect_received "received gadget=$FIRST_GADGET serial=$NEW_SERIAL report=$(state_report_hex 6)
state gadget=$FIRST_GADGET serial=$NEW_SERIAL state=6"
    case_end
}

# On SIGTERM the emulator removes its gadgets: the host loses the devices
# and configfs is left as it was found.
case_emulator_stops_cleanly() {
    case_begin emulator-removes-its-gadgets-on-stop
    kill -TERM "$EMULATOR_PID"
    wait "$EMULATOR_PID"
    status=$?
    [ $status = 0 ] || detail "emulator exit status $status, expected 0"
    [ "$(tail -n 1 "$EMULATOR_LOG")" = stopped ] || detail "last emulator line: $(tail -n 1 "$EMULATOR_LOG")"
    [ -s "$EMULATOR_ERR" ] && detail "emulator stderr: $(head -n 3 "$EMULATOR_ERR")"
    left=$(ls /sys/kernel/config/usb_gadget)
    [ -n "$left" ] && detail "gadget folders left in configfs: $left"
    wait_for 50 '[ $(hidraw_count) = 0 ]' || detail "hidraw nodes left: $(ls /sys/class/hidraw)"
    case_end
}

# A board that refuses every report; the emulator of the other cases has
# stopped, since the host side allows only four HID gadgets at a time.
case_refused_report() {
    case_begin refused-report-is-a-communication-error
    start_emulator "refusing:$SERIAL_1" || detail "the refusing board did not come up"
    run_rxb540 set "$SERIAL_1" 5
    expect_run "" "error writing data: $COMM_ERROR
" 1
    expect_received ""
    kill -TERM "$EMULATOR_PID"
    wait "$EMULATOR_PID"
    case_end
}

# Gadget 0 has the board's IDs but another manufacturer, gadget 2 another
# vendor ID: both carry a board's serial number, so that selecting either of
# them instead of the board shows up as a report to the wrong gadget.
if start_emulator "hid:16c0:05df:other.example:RXB540:$SERIAL_2" "board:$SERIAL_1" \
    "hid:1209:05df:$MANUFACTURER:RXB540:$SERIAL_1" "board:$SERIAL_2"; then
    case_list_shows_boards_in_order
    case_set_state_by_serial
    case_set_state_any
    case_set_absent_serial
    case_unreadable_boards
    case_access_granted
    case_init_sets_serial
    case_set_state_by_new_serial
    case_emulator_stops_cleanly
    case_refused_report
fi
