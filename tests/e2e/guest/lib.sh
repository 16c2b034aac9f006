# Helpers of the end-to-end guest cases, sourced by tests/e2e/guest/cases.sh
# and tests/windows-e2e/guest/cases.sh. A case's run_rxb540 leaves the
# program's output in /tmp/stdout and /tmp/stderr, its status in STATUS, a
# description in LAST_RUN and the emulator log's length in LOG_START. The
# cases set FIRST_GADGET and FIRST_SERIAL, the board that the platform
# enumerates first; SERIAL_2_GADGET, the gadget of the board with SERIAL_2;
# and LINE_END, what comes before each line feed of the program's output (a
# carriage return on Windows).

EMULATOR_LOG=/tmp/emulator.log
EMULATOR_ERR=/tmp/emulator.err
SERIAL_1=1704067200
SERIAL_2=1717200000
# SERIAL_2 as rxb540 prints and takes it; the Linux guest makes it differ.
SERIAL_2_TEXT=$SERIAL_2
ABSENT_SERIAL=1234567890
NOT_FOUND="The specified device was not found"
COMM_ERROR="Communication error with device"

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
    printf 'E2E-DETAIL %s %s\n' "$CASE" "$*"
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

# launch_emulator GADGET...: starts the emulator in the background.
launch_emulator() {
    gadget_count=$#
    MARKS=0
    rxb540-board-emulator "$@" >"$EMULATOR_LOG" 2>"$EMULATOR_ERR" &
    EMULATOR_PID=$!
}

# Waits until the host has a hidraw node for each gadget.
gadgets_up() {
    if ! wait_for 300 '[ $(grep -c "^bound .*host=configured" "$EMULATOR_LOG") -ge $gadget_count ]' ||
        ! wait_for 100 '[ $(hidraw_count) -ge $gadget_count ]'; then
        echo "E2E-ERROR the emulated gadgets did not come up"
        sed 's/^/E2E-ERROR   emulator: /' "$EMULATOR_LOG" "$EMULATOR_ERR"
        dmesg | tail -n 20 | sed 's/^/E2E-ERROR   kernel: /'
        return 1
    fi
}

# start_emulator GADGET...: starts the emulator and waits for its gadgets.
start_emulator() {
    launch_emulator "$@"
    gadgets_up
}

# --- cases of both guests ------------------------------------------------

case_set_state_by_serial() {
    case_begin set-by-serial-reaches-only-that-board
    run_rxb540 set "$SERIAL_2_TEXT" 5
    expect_run "" "" 0
    expect_received "received gadget=$SERIAL_2_GADGET serial=$SERIAL_2 report=$(state_report_hex 5)
state gadget=$SERIAL_2_GADGET serial=$SERIAL_2 state=5"
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
    expect_run "" "error finding $ABSENT_SERIAL: $NOT_FOUND$LINE_END
" 1
    expect_received ""
    case_end
}

# Runs init, which must print the current time as the new serial number; the
# first board must receive it and enumerate anew. Sets NEW_SERIAL.
expect_init_sets_serial() {
    note "$ORDER_NOTE"
    before=$(date +%s)
    run_rxb540 init
    after=$(date +%s)
    NEW_SERIAL=$(sed -n "s/^Set serial number to \([0-9]\{10\}\)$LINE_END\$/\1/p" /tmp/stdout)
    if [ -z "$NEW_SERIAL" ] || [ "$NEW_SERIAL" -lt "$before" ] || [ "$NEW_SERIAL" -gt "$after" ]; then
        detail "stdout does not name a serial between $before and $after"
        NEW_SERIAL=0000000000
    fi
    expect_run "Set serial number to $NEW_SERIAL$LINE_END
" "" 0
    g=$FIRST_GADGET
    expect_received "received gadget=$g serial=$FIRST_SERIAL report=$(serial_report_hex "$NEW_SERIAL")
serial gadget=$g old=$FIRST_SERIAL new=$NEW_SERIAL
bound gadget=$g serial=$NEW_SERIAL udc=dummy_udc.$g vid=16c0 pid=05df hidg=/dev/hidg$g host=configured"
}
