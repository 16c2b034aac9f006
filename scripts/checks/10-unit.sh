#!/usr/bin/env bash
# The release build and its unit and process-level tests. Each test runs three
# times in a row (stopping at its first failure), so that a test whose result
# depends on chance fails here rather than at random in someone's run.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
ctest --preset release -j"$(nproc)" --repeat until-fail:3
