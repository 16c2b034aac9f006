#!/usr/bin/env bash
# The MQTT bridge's benchmarks (bench/mqtt_bench.py): publish-to-report
# latency and rate of rxb540-mqtt beside a mosquitto_sub shell loop, and a
# fleet of bridges on one broker. Markdown on standard output:
#
#   bash bench/mqtt.sh                 # about a minute on two cores
#   BENCH_QUICK=1 bash bench/mqtt.sh   # a fifth of the work, for a first look
#
# Needs mosquitto and mosquitto-clients (scripts/checks/15-mqtt.packages).
# Builds under build/library-sim (preset library-sim). Nothing here is part
# of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in mosquitto mosquitto_sub; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install mosquitto mosquitto-clients)" >&2; exit 1; }
done
echo "bench: building build/library-sim" >&2
cmake --preset library-sim >/dev/null
cmake --build --preset library-sim --target rxb540-mqtt rxb540-sim >/dev/null
scale=1
[ -z "${BENCH_QUICK:-}" ] || scale=5
PYTHONDONTWRITEBYTECODE=1 BENCH_SCALE=$scale RXB540_MQTT_PROGRAM=$PWD/build/library-sim/rxb540-mqtt \
    RXB540_SIM_PROGRAM=$PWD/build/library-sim/rxb540-sim /usr/bin/python3 bench/mqtt_bench.py
