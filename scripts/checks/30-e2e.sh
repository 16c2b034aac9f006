#!/usr/bin/env bash
# rxb540 on a real Linux kernel against emulated boards on a virtual USB bus,
# in a QEMU virtual machine (tests/e2e/run.sh; docs/e2e.md): on the kernel of
# this machine's Debian release, and on Debian 13's (6.12, fetched once and
# cached), where the gadget side's HID function behaves otherwise.
set -uo pipefail
cd "$(dirname "$0")/../.."
status=0
# The staging of kernel modules, which both end-to-end runners share, on a
# made-up kernel: cases that no one kernel has at once.
bash tests/e2e/vm-lib-test.sh || status=1
bash tests/e2e/run.sh || status=1
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ "$codename" != trixie ]; then
    echo "--- on Debian 13's kernel"
    RXB540_E2E_KERNEL_SUITE=trixie bash tests/e2e/run.sh || status=1
fi
exit $status
