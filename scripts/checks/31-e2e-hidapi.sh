#!/usr/bin/env bash
# The end-to-end cases with rxb540 built on hidapi instead of its own hidraw
# backend, once on each of hidapi's Linux variants (tests/e2e/run.sh;
# docs/backends.md).
set -uo pipefail
cd "$(dirname "$0")/../.."
status=0
for platform in hidapi-hidraw hidapi-libusb; do
    echo "--- rxb540 on $platform"
    bash tests/e2e/run.sh --platform "$platform" || status=1
done
exit $status
