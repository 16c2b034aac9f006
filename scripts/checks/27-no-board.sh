#!/usr/bin/env bash
# A newcomer's first hour without a board: the build of the README's first
# command, then the "No board?" sections of docs/python.md, docs/library.md
# and docs/mqtt.md, each run as written from the repository's folder (the
# bridge's in a network namespace of its own, with a mosquitto on port 1883).
set -euo pipefail
cd "$(dirname "$0")/../.."

fail() {
    echo "no-board: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# The README's first command after its package installation, which the
# check's own package lists cover.
first=$(grep -m1 '^bash scripts/install-deps.sh base && ' README.md) || fail "README.md has no first command"
bash -c "${first#*&& }" >"$work/first.log" 2>&1 || {
    tail -20 "$work/first.log" >&2
    fail "the README's first command failed"
}

# The shell block of a page's "No board?" section.
section() {
    sed -n '/^## No board?$/,/^## [^N]/p' "$1" | sed -n '/^```sh$/,/^```$/{/^```/d;p}'
}

# Runs a page's section in a clean environment; its output must hold every
# expected line.
run_section() {
    local page=$1 out="$work/$(basename "$1").out"
    shift
    section "$page" >"$work/section.sh"
    [ -s "$work/section.sh" ] || fail "$page has no \"No board?\" section with commands"
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work" bash -euo pipefail "$work/section.sh" >"$out" 2>&1 || {
        cat "$out" >&2
        fail "the \"No board?\" section of $page failed"
    }
    for line in "$@"; do
        grep -qxF -- "$line" "$out" || {
            cat "$out" >&2
            fail "the \"No board?\" section of $page did not print: $line"
        }
    done
    echo "no board: the section of $page ran as written"
}

run_section docs/python.md 1700000001 1700000002 "1700000001 sim:1" 7 "serial=1700000002 state=7"
grep -q ' 1 passed' "$work/python.md.out" || fail "the fixture's test of docs/python.md did not pass"
grep -q 'serial=1700000001 state=0' /tmp/boards.host || fail "the safe state of docs/python.md was not written"
run_section docs/library.md "sim:1 1700000001" "sim:2 1700000002" \
    "vid=0x16c0 pid=0x05df manufacturer=example.com product=RXB540 serial=1700000002 state=5"

# The bridge's section: all but its last line as written, then the bridge,
# switched through the broker and a board unplugged by deleting its line.
section docs/mqtt.md >"$work/mqtt-section.sh"
[ -s "$work/mqtt-section.sh" ] || fail "docs/mqtt.md has no \"No board?\" section with commands"
cat >"$work/mqtt-run.sh" <<'RUN'
set -euo pipefail
work=$1
ip link set lo up
mosquitto -p 1883 >"$work/broker.log" 2>&1 &
broker=$!
bridge=
trap 'kill $bridge $broker 2>/dev/null; wait' EXIT
for _ in $(seq 50); do
    mosquitto_pub -t probe -m 1 2>/dev/null && break
    sleep 0.1
done
head -n -1 "$work/mqtt-section.sh" >"$work/setup.sh"
bash -euo pipefail "$work/setup.sh"
tail -n 1 "$work/mqtt-section.sh" >"$work/bridge.sh"
bash "$work/bridge.sh" >"$work/bridge.log" 2>&1 &
bridge=$!
# The first board's topics: rxb540/<host-id>/1700000001.
topic=$(timeout 20 mosquitto_sub -C 1 -F %t -t 'rxb540/+/1700000001/availability') || {
    cat "$work/bridge.log" >&2
    echo "the bridge published no availability for 1700000001" >&2
    exit 1
}
board=${topic%/availability}
# Waits until a retained topic holds a payload.
wait_for() {
    for _ in $(seq 40); do
        [ "$(mosquitto_sub -C 1 -W 2 -t "$1" 2>/dev/null)" = "$2" ] && return 0
        sleep 0.5
    done
    cat "$work/bridge.log" >&2
    echo "$1 did not become $2" >&2
    return 1
}
# A fresh install: the board starts at 0, so a relay's switch (what Home
# Assistant's click sends) works at once.
mosquitto_pub -q 1 -t "$board/relay/1/set" -m ON
wait_for "$board/relay/1" ON
grep -q 'serial=1700000001 state=1' /tmp/boards.host || { echo "relay 1 was not switched on" >&2; exit 1; }
mosquitto_pub -q 1 -t "$board/set" -m 5
wait_for "$board/state" 5
grep -q 'serial=1700000001 state=5' /tmp/boards.host || { echo "the host file was not switched" >&2; exit 1; }
sed -i '/serial=1700000002/d' /tmp/boards.host
wait_for "${board%/*}/1700000002/availability" offline
RUN
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work" unshare --net bash "$work/mqtt-run.sh" "$work" ||
    fail "the \"No board?\" section of docs/mqtt.md: the bridge did not work as the page says"
echo "no board: the section of docs/mqtt.md ran as written; a board was switched and unplugged"

# Without a configuration file, the bridge's one line says where the example is.
status=0
err=$(build/release/rxb540-mqtt --config "$work/none.conf" 2>&1) || status=$?
[ "$status" = 1 ] && [ "$(wc -l <<<"$err")" = 1 ] && grep -q 'packaging/mqtt/mqtt.conf' <<<"$err" ||
    fail "rxb540-mqtt without a configuration file: status $status, '$err'"
echo "no board: rxb540-mqtt without a configuration file says where the example is"
