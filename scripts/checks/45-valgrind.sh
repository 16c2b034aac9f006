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
# shellcheck source=../valgrind-logs.sh
. scripts/valgrind-logs.sh
bad=$(count_valgrind_problems "$logs")
echo "valgrind: $runs program runs, $bad with problems"
[ "$bad" -eq 0 ] && $tests_passed
