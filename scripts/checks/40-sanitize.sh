#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (preset asan): the unit tests, and the process-level tests with rxb540-sim
# built the same way. Any sanitizer report, a leak included, ends the process
# that made it with status 86 and so fails its test.
set -euo pipefail
cd "$(dirname "$0")/../.."

export ASAN_OPTIONS=detect_leaks=1:exitcode=86:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
ctest --preset asan -j2
