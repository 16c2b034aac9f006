#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a bounded time, starting
# from its seed corpus in tests/fuzz/corpus/<target>. A crash, a sanitizer
# report, a leak or a broken promise fails the check; the input that caused it
# is kept in build/fuzz/artifacts/<target>/ (replay it with
# build/fuzz/tests/fuzz/<target>_fuzzer <file>).
#
# Usage: bash scripts/checks/55-fuzz.sh [target...]
#   targets: command_line host_file narrow_string bridge_config bridge_message
#   (default: all)
#   FUZZ_SECONDS=N runs each target N seconds instead of its CI share.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

# About a minute and a half in all; the command line gets most, as it has the
# most paths.
declare -A ci_seconds=([command_line]=30 [host_file]=20 [narrow_string]=10 [bridge_config]=10 [bridge_message]=15)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(command_line host_file narrow_string bridge_config bridge_message)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${targets[@]}"; do
    if [ -z "${ci_seconds[$target]+set}" ]; then
        echo "unknown fuzz target: $target" >&2
        exit 2
    fi
    artifacts="build/fuzz/artifacts/$target"
    mkdir -p "$work/$target" "$artifacts"
    options=(
        -max_total_time="${FUZZ_SECONDS:-${ci_seconds[$target]}}"
        -close_fd_mask=3 -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
        -artifact_prefix="$artifacts/"
    )
    [ ! -f "tests/fuzz/$target.dict" ] || options+=(-dict="tests/fuzz/$target.dict")
    [ "$target" != narrow_string ] || options+=(-max_len=512)
    log="$work/$target.log"
    # New inputs go to the scratch corpus; the seeds in the repository stay as they are.
    if "build/fuzz/tests/fuzz/${target}_fuzzer" "${options[@]}" "$work/$target" "tests/fuzz/corpus/$target" \
        >"$log" 2>&1; then
        echo "$target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)"
    else
        tail -n 60 "$log"
        echo "$target: FAILED; the input is in $artifacts/"
        status=1
    fi
done
exit "$status"
