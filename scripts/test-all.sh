#!/usr/bin/env bash
# Builds and runs every test: each script in scripts/checks/, in name order.
# Prints one line per check and a closing count; exits non-zero when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
passed=0
failed=0
failures=()
for check in scripts/checks/*.sh; do
    name=$(basename "$check" .sh)
    echo "=== $name"
    start=$(date +%s)
    if bash "$check"; then
        passed=$((passed + 1))
        echo "=== $name: passed ($(( $(date +%s) - start )) s)"
    else
        failed=$((failed + 1))
        failures+=("$name")
        echo "=== $name: FAILED ($(( $(date +%s) - start )) s)"
    fi
done
[ "$failed" -eq 0 ] || echo "failed checks: ${failures[*]}"
echo "checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
