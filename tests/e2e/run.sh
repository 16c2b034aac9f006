#!/bin/bash
# End-to-end test: builds static rxb540 and the board emulator, boots Debian's
# stock kernel in QEMU with a busybox initramfs, where dummy_hcd connects
# emulated boards as real USB HID devices, and runs the cases inside the
# guest. Prints one line per case and a closing "N passed, N failed" line;
# exits nonzero on any failure, or when QEMU or the kernel cannot be had.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
e2e_dir=$repo/tests/e2e
build_dir=$repo/build/e2e
vm_dir=$build_dir/vm
# The whole guest run normally takes well under a minute; the limit only
# stops a guest that hangs.
time_limit=${RXB540_E2E_TIME_LIMIT:-240}
# shellcheck source=vm-lib.sh
. "$e2e_dir/vm-lib.sh"

fail_run() {
    echo "e2e: $*" >&2
    echo "0 passed, 1 failed"
    exit 1
}

need_tools() {
    local tool
    for tool in qemu-system-x86_64 cpio gzip cmake timeout readelf; do
        command -v "$tool" >/dev/null || fail_run "$tool not found (packages: qemu-system-x86 busybox-static cpio kmod cmake binutils)"
    done
    [ -x /bin/busybox ] || fail_run "/bin/busybox not found (package busybox-static)"
    # The initramfs has no C library: a dynamically linked busybox cannot start.
    if readelf -l /bin/busybox 2>/dev/null | grep -q 'program interpreter'; then
        fail_run "/bin/busybox is dynamically linked; install busybox-static"
    fi
}

build_programs() {
    echo "e2e: building static rxb540 and rxb540-board-emulator" >&2
    (cd "$repo" && cmake --preset e2e >/dev/null && cmake --build --preset e2e) >"$build_dir.log" 2>&1 ||
        { cat "$build_dir.log" >&2; fail_run "build failed"; }
}

stage_initramfs() {
    local kernel=$1 staging=$vm_dir/root
    rm -rf "$staging"
    mkdir -p "$staging"/{bin,dev,etc,proc,sys,tmp,lib/modules}
    cp /bin/busybox "$staging/bin/busybox"
    cp "$build_dir/rxb540" "$build_dir/tools/board-emulator/rxb540-board-emulator" "$staging/bin/"
    stage_modules "$kernel" "$staging/lib/modules" $MODULES
    cp "$e2e_dir/guest/init" "$staging/init"
    cp "$e2e_dir/guest/cases.sh" "$e2e_dir/guest/lib.sh" "$staging/"
    chmod 755 "$staging/init"
    local manufacturer
    manufacturer=$(sed -n 's/^RXB540_MANUFACTURER:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
    [[ $manufacturer =~ ^[A-Za-z0-9.-]+$ ]] || fail_run "unexpected RXB540_MANUFACTURER '$manufacturer'"
    printf "MANUFACTURER='%s'\n" "$manufacturer" >"$staging/etc/e2e.conf"
    printf 'root:x:0:0:root:/:/bin/sh\ntester:x:1000:1000:tester:/tmp:/bin/sh\n' >"$staging/etc/passwd"
    printf 'root:x:0:\ntester:x:1000:\n' >"$staging/etc/group"
    (cd "$staging" && find . | cpio -o -H newc --quiet | gzip -1) >"$vm_dir/initramfs.cpio.gz"
}

boot_guest() {
    local kernel=$1
    echo "e2e: booting $(cat "$kernel/release") under QEMU (TCG)" >&2
    # QEMU exits 0 whatever the guest found; the verdict comes from the lines
    # that the guest prints.
    timeout "$time_limit" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults -display none \
        -serial stdio -no-reboot -kernel "$kernel/vmlinuz" -initrd "$vm_dir/initramfs.cpio.gz" \
        -append "console=ttyS0 panic=-1 quiet loglevel=3" </dev/null | tr -d '\r' >"$vm_dir/console.log" || true
}

main() {
    need_tools
    mkdir -p "$build_dir"
    build_programs
    local kernel
    kernel=$("$e2e_dir/fetch-kernel.sh" | tail -n 1) || fail_run "cannot fetch the kernel"
    [ -f "$kernel/vmlinuz" ] || fail_run "no kernel image in $kernel"
    mkdir -p "$vm_dir"
    stage_initramfs "$kernel"
    local started=$SECONDS
    boot_guest "$kernel"
    echo "e2e: guest ran $((SECONDS - started)) s; console log in $vm_dir/console.log" >&2
    if ! report_results "$vm_dir/console.log"; then
        echo "e2e: last lines of the console log:" >&2
        tail -n 30 "$vm_dir/console.log" >&2
        exit 1
    fi
}

main "$@"
