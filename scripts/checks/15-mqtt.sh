#!/usr/bin/env bash
# rxb540-mqtt as a process: built on the simulated host, run against a real
# mosquitto that the tests start on loopback ports of their own (password
# file, ACL, a TLS listener with a throwaway CA). Its units run in 10-unit.
set -uo pipefail
cd "$(dirname "$0")/../.."

fail() {
    echo "15-mqtt: $*" >&2
    exit 1
}

for tool in mosquitto mosquitto_passwd openssl pkg-config; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/checks/15-mqtt.packages lists the packages)"
done
pkg-config --exists libmosquitto || fail "libmosquitto-dev is missing (scripts/checks/15-mqtt.packages)"
pkg-config --exists libsystemd || fail "libsystemd-dev is missing (scripts/checks/15-mqtt.packages)"

cmake --preset library-sim >/dev/null || fail "configuring the library-sim build failed"
cmake --build --preset library-sim --target rxb540-mqtt || fail "building rxb540-mqtt on the simulated host failed"
program=$PWD/build/library-sim/rxb540-mqtt
[ -x "$program" ] || fail "the build made no $program (was libmosquitto found?)"

"$program" --version >/dev/null || fail "rxb540-mqtt --version failed"

cd tests/mqtt || fail "tests/mqtt is missing"
export PYTHONDONTWRITEBYTECODE=1 RXB540_MQTT_PROGRAM=$program
timeout 300 /usr/bin/python3 bridge_test.py || fail "the bridge's process tests failed (see above)"

# The command, board, restore and relay cases again with every bridge under valgrind
# memcheck: no memory error, no leak of any kind (but OpenSSL's own, in
# valgrind.supp), no descriptor left open at the clean stop that ends each.
# A finding makes the bridge end with status 99, which fails its case; the
# records are printed from the logs either way.
command -v valgrind >/dev/null || fail "valgrind is missing (scripts/checks/15-mqtt.packages)"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
cases_passed=true
RXB540_TEST_WRAPPER="valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all
 --num-callers=40 --track-fds=yes --error-exitcode=99 --suppressions=$PWD/valgrind.supp --log-file=$logs/%p.log" \
    timeout 600 /usr/bin/python3 bridge_test.py Commands Boards Restore Relays || cases_passed=false
runs=$(find "$logs" -name '*.log' | wc -l)
# shellcheck source=../valgrind-logs.sh
. ../../scripts/valgrind-logs.sh
bad=$(count_valgrind_problems "$logs")
$cases_passed || fail "the bridge's command, board, restore and relay cases failed under valgrind (see above)"
[ "$runs" -gt 0 ] || fail "no bridge ran under valgrind"
[ "$bad" -eq 0 ] || fail "valgrind found problems in $bad of $runs bridge runs"
echo "valgrind: $runs bridge runs clean"
