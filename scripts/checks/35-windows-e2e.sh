#!/usr/bin/env bash
# rxb540.exe under Wine 10 in a QEMU virtual machine, against emulated boards
# on a virtual USB bus (tests/windows-e2e/run.sh; docs/windows.md).
set -euo pipefail
bash "$(dirname "$0")/../../tests/windows-e2e/run.sh"
