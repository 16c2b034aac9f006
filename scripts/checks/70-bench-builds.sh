#!/usr/bin/env bash
# Keeps the benchmarks building: the bench programs and a static rxb540, as
# bench/run.sh builds them. Times nothing; bench/run.sh is run by hand.
set -euo pipefail
cd "$(dirname "$0")/../.."
for script in bench/run.sh bench/mqtt.sh bench/dashboard.sh; do
    bash -n "$script"
done
for script in bench/mqtt_bench.py bench/dashboard_bench.py; do
    /usr/bin/python3 -c 'import ast, sys; ast.parse(open(sys.argv[1]).read(), sys.argv[1])' "$script"
done
cmake -S . -B build/bench-check -DCMAKE_BUILD_TYPE=Release -DRXB540_BUILD_TESTS=OFF \
    -DRXB540_BUILD_BENCH=ON -DRXB540_STATIC=ON >/dev/null
cmake --build build/bench-check -j"$(nproc)" --target rxb540 rxb540-spawn-timer rxb540-bench-hidraw
# A static PIE: position-independent (type DYN), with no program interpreter.
program=build/bench-check/rxb540
if ! readelf -h "$program" | grep 'DYN' >/dev/null || readelf -l "$program" | grep 'INTERP' >/dev/null; then
    echo "$program is not a static PIE"
    exit 1
fi
# One pass over a few prepared entries: the bench lays out what the Linux
# backend reads, and must still find its boards there.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
if ! build/bench-check/bench/rxb540-bench-hidraw "$tree/tree" 1 4 >/dev/null; then
    echo "rxb540-bench-hidraw cannot find its boards in the entries it laid out" >&2
    exit 1
fi
echo "bench programs and the static rxb540 build; the hidraw bench finds its boards"
