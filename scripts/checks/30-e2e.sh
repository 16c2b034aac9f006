#!/usr/bin/env bash
# rxb540 on a real Linux kernel against emulated boards on a virtual USB bus,
# in a QEMU virtual machine (tests/e2e/run.sh; docs/e2e.md).
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tests/e2e/run.sh
