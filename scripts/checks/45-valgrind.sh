#!/usr/bin/env bash
# valgrind memcheck over every program that the process-level tests start
# (rxb540-sim, and rxb540 where its tests run it): no memory error, no leak of
# any kind, and no file descriptor left open at exit except those the program
# inherited. The test harness hands each program its standard streams alone
# (valgrind 3.23 and later count any other inherited descriptor as an error,
# earlier releases only list it), so every descriptor found is the program's
# own. The test harness starts each program under the command in
# RXB540_TEST_WRAPPER, which only this check sets; the tests themselves still
# compare output and exit status byte for byte.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset release >/dev/null
cmake --build --preset release -j2

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
export RXB540_TEST_WRAPPER="valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all
 --errors-for-leak-kinds=all --track-fds=yes --error-exitcode=99 --log-file=$logs/%p.log"
# Only the tests that start programs are affected; the rest run as they are.
# valgrind's findings make a program end with status 99, which fails its test;
# the logs below say what was found.
tests_passed=true
ctest --preset release -j2 || tests_passed=false

runs=$(find "$logs" -name '*.log' | wc -l)
if [ "$runs" -eq 0 ]; then
    echo "valgrind: no program was run under valgrind" >&2
    exit 1
fi
bad=0
for log in "$logs"/*.log; do
    problem=""
    grep -q 'ERROR SUMMARY: 0 errors' "$log" || problem="memory errors or leaks"
    # A descriptor still open at exit is listed with where it was opened; one
    # the program inherited says so on the line after it.
    if awk '/Open (file descriptor|AF_UNIX socket|AF_INET socket)/ { getline next_line;
            if (next_line !~ /<inherited from parent>/) found = 1 } END { exit !found }' "$log"; then
        problem="${problem:+$problem, }a descriptor left open"
    fi
    if [ -n "$problem" ]; then
        echo "valgrind: $problem in $(sed -n 's/.*Command: //p' "$log" | head -1)" >&2
        cat "$log" >&2
        bad=$((bad + 1))
    fi
done
echo "valgrind: $runs program runs, $bad with problems"
[ "$bad" -eq 0 ] && $tests_passed
