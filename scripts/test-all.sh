#!/usr/bin/env bash
# Builds and runs every test: each script in scripts/checks/, in name order.
# Prints one line per check and a closing count; exits non-zero when any failed.
# No check can hang the suite: each one is stopped after an hour
# (RXB540_CHECK_TIME_LIMIT, in seconds); the programs that the checks start
# have shorter limits of their own. RXB540_SKIP_CHECKS names checks (by their
# file names without .sh, separated by spaces) that this run leaves out; each
# is reported as skipped.
set -uo pipefail
cd "$(dirname "$0")/.."
passed=0
failed=0
skipped=0
failures=()
limit=${RXB540_CHECK_TIME_LIMIT:-3600}
for check in scripts/checks/*.sh; do
    name=$(basename "$check" .sh)
    case " ${RXB540_SKIP_CHECKS:-} " in
    *" $name "*)
        skipped=$((skipped + 1))
        echo "=== $name: skipped (RXB540_SKIP_CHECKS)"
        continue
        ;;
    esac
    echo "=== $name"
    start=$(date +%s)
    # timeout runs the check in a process group of its own, which a Ctrl-C
    # at the terminal does not reach: the trap passes it on.
    timeout -k 30 "$limit" bash "$check" &
    check_pid=$!
    trap 'kill -TERM "$check_pid" 2>/dev/null; exit 130' INT TERM
    status=0
    wait "$check_pid" || status=$?
    trap - INT TERM
    if [ "$status" = 0 ]; then
        passed=$((passed + 1))
        echo "=== $name: passed ($(( $(date +%s) - start )) s)"
    else
        failed=$((failed + 1))
        failures+=("$name")
        cause=""
        [ "$status" != 124 ] && [ "$status" != 137 ] || cause=", stopped after the time limit of $limit s"
        echo "=== $name: FAILED ($(( $(date +%s) - start )) s$cause)"
    fi
done
[ "$failed" -eq 0 ] || echo "failed checks: ${failures[*]}"
if [ "$skipped" -eq 0 ]; then
    echo "checks: $passed passed, $failed failed"
else
    echo "checks: $passed passed, $failed failed, $skipped skipped"
fi
[ "$failed" -eq 0 ]
