# The MQTT bridge's cases, sourced by cases.sh when the runner put
# rxb540-mqtt, mosquitto and its clients into the guest: a broker on the
# guest's loopback, the bridge on the emulated board, and the board switched
# by messages to the broker, a whole state and then one relay; then the
# board plugged in again between two scans.

MQTT="-h 127.0.0.1 -p 1883"

# mqtt_retained TOPIC: the retained payload of TOPIC, or nothing.
mqtt_retained() {
    mosquitto_sub $MQTT -t "$1" -C 1 -W 2 2>/dev/null
}

# mqtt_command TOPIC PAYLOAD STATE: publishes and waits until the board has
# taken STATE since then; then the board must have received exactly that one
# report.
mqtt_command() {
    LOG_START=$(log_lines)
    LAST_RUN="mosquitto_pub $1 $2"
    mosquitto_pub $MQTT -q 1 -t "$1" -m "$2" || detail "$LAST_RUN failed"
    # wait_for evaluates its condition with positional parameters of its own.
    want_state=$3
    wait_for 100 'tail -n +$((LOG_START + 1)) "$EMULATOR_LOG" | grep -q "^state gadget=0 serial=$SERIAL_1 state=$want_state\$"' ||
        detail "$LAST_RUN: the board did not take state $3"
    expect_received "received gadget=0 serial=$SERIAL_1 report=$(state_report_hex "$3")
state gadget=0 serial=$SERIAL_1 state=$3"
}

# start_bridge LINE...: the board, a broker and the bridge with these lines
# of configuration, until the bridge has published the board.
start_bridge() {
    ifconfig lo 127.0.0.1 up
    start_emulator "board:$SERIAL_1" || detail "the board did not come up"
    printf 'listener 1883 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\n' >/tmp/broker.conf
    mosquitto -c /tmp/broker.conf >/tmp/broker.log 2>&1 &
    broker=$!
    wait_for 100 'mosquitto_pub $MQTT -t probe -m up 2>/dev/null' || detail "the broker did not start"
    printf 'broker-host 127.0.0.1\nhost-id vm\n' >/tmp/mqtt.conf
    printf '%s\n' "$@" >>/tmp/mqtt.conf
    rxb540-mqtt --config /tmp/mqtt.conf 2>/tmp/bridge.log &
    bridge=$!
    # Each try may wait 2 s for a retained message: about two minutes in all.
    wait_for 30 '[ "$(mqtt_retained rxb540/vm/boards)" = "[\"$SERIAL_1\"]" ]' ||
        detail "the bridge did not publish the board: boards '$(mqtt_retained rxb540/vm/boards)'"
}

# stop_bridge: SIGTERM ends the bridge with status 0 and "offline"; then the
# broker and the emulator are stopped. A failed case shows the bridge's log.
stop_bridge() {
    kill -TERM "$bridge"
    wait "$bridge"
    status=$?
    [ $status = 0 ] || detail "rxb540-mqtt ended with $status after SIGTERM, expected 0"
    [ "$(mqtt_retained rxb540/vm/status)" = offline ] || detail "status after the stop: '$(mqtt_retained rxb540/vm/status)'"
    [ $CASE_OK = 1 ] || sed 's/^/bridge: /' /tmp/bridge.log | while IFS= read -r line; do detail "$line"; done
    kill -TERM "$broker" "$EMULATOR_PID"
    wait "$broker" "$EMULATOR_PID"
}

case_mqtt_bridge() {
    case_begin mqtt-bridge-switches-a-board-on-a-message
    start_bridge 'rescan-interval 1'
    # The default, initial-state restore: a broker that retained no state for
    # the board gives 0, written once the bridge has read what it retained.
    wait_for 100 '[ "$(mqtt_retained "rxb540/vm/$SERIAL_1/state")" = 0 ]' ||
        detail "the board was not restored to 0: state '$(mqtt_retained "rxb540/vm/$SERIAL_1/state")'"
    grep -q "^state gadget=0 serial=$SERIAL_1 state=0\$" "$EMULATOR_LOG" || detail "the board did not take the restored 0"
    mqtt_command "rxb540/vm/$SERIAL_1/set" 5 5
    mqtt_command "rxb540/vm/$SERIAL_1/relay/3/set" TOGGLE 1
    state=$(mqtt_retained "rxb540/vm/$SERIAL_1/state")
    [ "$state" = 1 ] || detail "retained state '$state', expected 1"
    stop_bridge
    case_end
}

# The board's gadget is unbound and bound again between two scans: the host
# enumerates it anew at the same /dev/hidraw0 with the same serial number,
# its relays off. The bridge must not switch it as the board it knew (state
# 5 with relay 2 on gives 7, relays 1 and 3 on again): the relay command is
# refused, the scan that follows at once takes the board as newly plugged
# and writes initial-state 2. With a scan interval of an hour, no other
# scan runs during the case.
case_mqtt_board_replugged() {
    case_begin mqtt-board-replugged-within-a-scan
    start_bridge 'rescan-interval 3600' 'initial-state 2'
    wait_for 100 'grep -q "^state gadget=0 serial=$SERIAL_1 state=2\$" "$EMULATOR_LOG"' ||
        detail "initial-state 2 was not written when the board was first seen"
    mqtt_command "rxb540/vm/$SERIAL_1/set" 5 5
    gadget=/sys/kernel/config/usb_gadget/rxb540-emu0
    udc=$(cat "$gadget/UDC")
    before=$(readlink /sys/class/hidraw/hidraw0/device)
    echo >"$gadget/UDC"
    wait_for 100 '[ $(hidraw_count) = 0 ]' || detail "the board's node did not go away on the unbind"
    echo "$udc" >"$gadget/UDC"
    wait_for 300 '[ -e /sys/class/hidraw/hidraw0/device ]' || detail "the board did not come back at hidraw0"
    after=$(readlink /sys/class/hidraw/hidraw0/device)
    [ "${before##*/}" != "${after##*/}" ] || detail "the kernel kept the HID device ${after##*/}"
    mqtt_command "rxb540/vm/$SERIAL_1/relay/2/set" ON 2
    state=$(mqtt_retained "rxb540/vm/$SERIAL_1/state")
    [ "$state" = 2 ] || detail "retained state '$state', expected 2 (initial-state)"
    grep -q "plugged in again" /tmp/bridge.log || detail "the bridge did not say that the board was plugged in again"
    stop_bridge
    case_end
}

case_mqtt_bridge
case_mqtt_board_replugged
