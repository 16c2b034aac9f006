# The MQTT bridge's case, sourced by cases.sh when the runner put
# rxb540-mqtt, mosquitto and its clients into the guest: a broker on the
# guest's loopback, the bridge on the emulated board, and the board switched
# by messages to the broker, a whole state and then one relay.

MQTT="-h 127.0.0.1 -p 1883"

# mqtt_retained TOPIC: the retained payload of TOPIC, or nothing.
mqtt_retained() {
    mosquitto_sub $MQTT -t "$1" -C 1 -W 2 2>/dev/null
}

# mqtt_command TOPIC PAYLOAD STATE: publishes and waits until the board has
# taken STATE; then the board must have received exactly that one report.
mqtt_command() {
    LOG_START=$(log_lines)
    LAST_RUN="mosquitto_pub $1 $2"
    mosquitto_pub $MQTT -q 1 -t "$1" -m "$2" || detail "$LAST_RUN failed"
    # wait_for evaluates its condition with positional parameters of its own.
    want_state=$3
    wait_for 100 'grep -q "^state gadget=0 serial=$SERIAL_1 state=$want_state\$" "$EMULATOR_LOG"' ||
        detail "$LAST_RUN: the board did not take state $3"
    expect_received "received gadget=0 serial=$SERIAL_1 report=$(state_report_hex "$3")
state gadget=0 serial=$SERIAL_1 state=$3"
}

case_mqtt_bridge() {
    case_begin mqtt-bridge-switches-a-board-on-a-message
    ifconfig lo 127.0.0.1 up
    start_emulator "board:$SERIAL_1" || detail "the board did not come up"
    printf 'listener 1883 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\n' >/tmp/broker.conf
    mosquitto -c /tmp/broker.conf >/tmp/broker.log 2>&1 &
    broker=$!
    wait_for 100 'mosquitto_pub $MQTT -t probe -m up 2>/dev/null' || detail "the broker did not start"
    printf 'broker-host 127.0.0.1\nhost-id vm\nrescan-interval 1\n' >/tmp/mqtt.conf
    rxb540-mqtt --config /tmp/mqtt.conf 2>/tmp/bridge.log &
    bridge=$!
    # Each try may wait 2 s for a retained message: about two minutes in all.
    wait_for 30 '[ "$(mqtt_retained rxb540/vm/boards)" = "[\"$SERIAL_1\"]" ]' ||
        detail "the bridge did not publish the board: boards '$(mqtt_retained rxb540/vm/boards)'"
    mqtt_command "rxb540/vm/$SERIAL_1/set" 5 5
    mqtt_command "rxb540/vm/$SERIAL_1/relay/3/set" TOGGLE 1
    state=$(mqtt_retained "rxb540/vm/$SERIAL_1/state")
    [ "$state" = 1 ] || detail "retained state '$state', expected 1"
    kill -TERM "$bridge"
    wait "$bridge"
    status=$?
    [ $status = 0 ] || detail "rxb540-mqtt ended with $status after SIGTERM, expected 0"
    [ "$(mqtt_retained rxb540/vm/status)" = offline ] || detail "status after the stop: '$(mqtt_retained rxb540/vm/status)'"
    [ $CASE_OK = 1 ] || sed 's/^/bridge: /' /tmp/bridge.log | while IFS= read -r line; do detail "$line"; done
    kill -TERM "$broker" "$EMULATOR_PID"
    wait "$broker" "$EMULATOR_PID"
    case_end
}

case_mqtt_bridge
