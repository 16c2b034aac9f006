# The end-to-end cases, run by the guest's init as root. Each case runs
# rxb540 once or a few times and compares its standard output, standard
# error and exit status byte for byte, and the lines in which the board
# emulator reports what each gadget received.
#
# Output for the runner: "E2E-RESULT pass|fail CASE", "E2E-DETAIL CASE text"
# for every difference, "E2E-ERROR text" when the machine cannot be set up,
# "E2E-NOTE CASE text" where the platform makes a case check something else.

. /etc/e2e.conf
. /lib.sh

# The second board's serial number ends in U+00E9, UTF-8 for the emulator.
# rxb540 narrows UTF-16 units below 256 to one byte: it prints and takes
# byte E9 there.
SERIAL_2_TEXT=$SERIAL_2$(printf '\351')
SERIAL_2=$SERIAL_2$(printf '\303\251')

# The boards in the platform's enumeration order (BOARD_ORDER, from the
# runner): gadget 1 carries SERIAL_1, gadget 3 SERIAL_2. *_TEXT: as rxb540
# prints them.
set -- $BOARD_ORDER
FIRST_GADGET=$1
SECOND_GADGET=$2
if [ "$FIRST_GADGET" = 1 ]; then
    FIRST_SERIAL=$SERIAL_1 SECOND_SERIAL=$SERIAL_2 FIRST_TEXT=$SERIAL_1 SECOND_TEXT=$SERIAL_2_TEXT
else
    FIRST_SERIAL=$SERIAL_2 SECOND_SERIAL=$SERIAL_1 FIRST_TEXT=$SERIAL_2_TEXT SECOND_TEXT=$SERIAL_1
fi
SERIAL_2_GADGET=3
LINE_END=

# --- helpers ---------------------------------------------------------------

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

# The HID device that the kernel made for gadget $1's interface, such as
# 0003:1209:05DF.0004. The number after the dot is new each time a driver
# takes the interface, so a device that was taken from its driver and given
# back has another name.
hid_device_of() {
    node=$(gadget_node "$1") && basename "$(readlink "/sys/class/hidraw/${node#/dev/}/device")"
}

# The serial number that the host read from gadget $1.
host_serial_of() {
    node=$(gadget_node "$1") && cat "/sys/class/hidraw/${node#/dev/}/device/../../serial"
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

# --- cases -----------------------------------------------------------------

case_list_shows_boards_in_order() {
    case_begin list-shows-both-boards-only
    note "$ORDER_NOTE"
    run_rxb540 list
    expect_run "$FIRST_TEXT
$SECOND_TEXT
" "" 0
    expect_received ""
    case_end
}

# Gadget 2 has another vendor ID: discovery must not open it, since hidapi's
# libusb variant takes an open device from the kernel's driver for the while.
case_other_device_left_alone() {
    case_begin list-leaves-other-devices-to-their-driver
    before=$(hid_device_of 2) || detail "gadget 2 has no hidraw node"
    run_rxb540 list
    [ "$STATUS" = 0 ] || detail "$LAST_RUN: exit status $STATUS, expected 0"
    after=$(hid_device_of 2)
    [ "$before" = "$after" ] || detail "gadget 2 was HID device '$before', after list '$after'"
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
    expect_run "$SECOND_TEXT
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
    expect_init_sets_serial
    wait_for 100 '[ "$(host_serial_of $FIRST_GADGET)" = "$NEW_SERIAL" ]' ||
        detail "the host did not see serial $NEW_SERIAL"
    run_rxb540 list
    expect_run "$NEW_SERIAL
$SECOND_TEXT
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

# A container given the host's node of board B as its own /dev/hidrawA
# (docker run --device) sees the host's /sys, where hidrawA is board A. The
# node is B by its device number, whatever its name: A's node made to reach
# B must list B and must never let "set <A's serial>" switch B. A node of
# another class under a hidraw name (/dev/null's number) is never opened. The
# libusb variant of hidapi does not use hidraw nodes at all.
case_node_known_by_number() {
    case_begin node-is-the-device-its-number-names
    if [ "$ACCESS_NODE" = usbfs ]; then
        note "hidapi-libusb opens USB devices, not hidraw nodes: nothing to check"
        case_end
        return
    fi
    node_a=$(gadget_node $FIRST_GADGET) && node_b=$(gadget_node $SECOND_GADGET) ||
        detail "the boards have no hidraw nodes"
    serial_a=$(host_serial_of $FIRST_GADGET)
    number_a=$(tr ':' ' ' <"/sys/class/hidraw/${node_a#/dev/}/dev")
    number_b=$(tr ':' ' ' <"/sys/class/hidraw/${node_b#/dev/}/dev")
    for reached in "$number_b" "1 3"; do
        rm -f "$node_a" && mknod -m 600 "$node_a" c $reached || detail "cannot make $node_a as $reached"
        listing="$SECOND_TEXT
"
        [ "$reached" = "$number_b" ] && listing="$listing$listing"
        run_rxb540 list
        expect_run "$listing" "" 0
        run_rxb540 set "$serial_a" 2
        expect_run "" "error finding $serial_a: $NOT_FOUND
" 1
        expect_received ""
    done
    rm -f "$node_a" && mknod -m 600 "$node_a" c $number_a || detail "cannot restore $node_a"
    case_end
}

# A board without a serial number string is neither listed nor selected: its
# serial cannot be read. Started alone, after the other emulators stopped.
case_board_without_serial() {
    case_begin board-without-serial-is-unreadable
    start_emulator noserial || detail "the board without serial did not come up"
    run_rxb540 list
    expect_run "" "" 0
    expect_received ""
    run_rxb540 set ANY 2
    expect_run "" "error finding ANY: $COMM_ERROR
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
    case_other_device_left_alone
    case_set_state_by_serial
    case_set_state_any
    case_set_absent_serial
    case_unreadable_boards
    case_access_granted
    case_init_sets_serial
    case_set_state_by_new_serial
    case_node_known_by_number
    case_emulator_stops_cleanly
    case_refused_report
    case_board_without_serial
fi
