#!/bin/bash
# End-to-end test of the Windows program: cross-builds rxb540.exe, boots
# Debian's stock kernel in QEMU on a cached Debian trixie image with Wine 10,
# and runs rxb540.exe under Wine there, where Wine's HID stack reaches boards
# that the board emulator connects through dummy_hcd. Prints one line per
# case and a closing "N passed, N failed" line; exits nonzero on any failure,
# or when a tool, the kernel or the image cannot be had.
set -eEuo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here=$repo/tests/windows-e2e
e2e_dir=$repo/tests/e2e
vm_dir=$repo/build/windows-e2e
# The whole run, the first image build included; a cached run takes about
# two minutes at most.
run_limit=${RXB540_WINE_E2E_RUN_LIMIT:-1200}
guest_limit=${RXB540_WINE_E2E_TIME_LIMIT:-300}
# Modules that mount the image, in load order, beside the e2e test's own.
DISK_MODULES="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci virtio_blk crc16 mbcache jbd2 crc32c_generic ext4"
# shellcheck source=../e2e/vm-lib.sh
. "$e2e_dir/vm-lib.sh"

fail_run() {
    echo "windows-e2e: $*" >&2
    echo "0 passed, 1 failed"
    exit 1
}
trap 'stop_on_error $? $LINENO' ERR

need_tools() {
    local tool
    for tool in qemu-system-x86_64 cpio gzip cmake timeout debootstrap mke2fs unshare x86_64-w64-mingw32-g++-posix; do
        command -v "$tool" >/dev/null || fail_run "$tool not found (see scripts/checks/35-windows-e2e.packages)"
    done
    [ -x /bin/busybox ] || fail_run "/bin/busybox not found (package busybox-static)"
}

build_programs() {
    echo "windows-e2e: building rxb540.exe, rxb540.dll with a C program on it, and the static board emulator" >&2
    (cd "$repo" && cmake --preset windows >/dev/null &&
        cmake --build --preset windows --target rxb540 rxb540_shared rxb540_dll_client &&
        cmake --preset e2e >/dev/null && cmake --build --preset e2e) >"$vm_dir/build.log" 2>&1 ||
        { cat "$vm_dir/build.log" >&2; fail_run "build failed"; }
}

# The manufacturer string that rxb540.exe looks for must be the emulator's.
manufacturer_of() {
    sed -n 's/^RXB540_MANUFACTURER:[A-Z]*=//p' "$repo/build/$1/CMakeCache.txt"
}

stage_initramfs() {
    local kernel=$1 staging=$vm_dir/root manufacturer
    manufacturer=$(manufacturer_of windows)
    [[ $manufacturer =~ ^[A-Za-z0-9.-]+$ ]] || fail_run "unexpected RXB540_MANUFACTURER '$manufacturer'"
    [ "$manufacturer" = "$(manufacturer_of e2e)" ] || fail_run "the windows and e2e builds name other manufacturers"
    rm -rf "$staging"
    mkdir -p "$staging"/{bin,dev,etc,proc,sys,tmp,lib/modules,e2e}
    cp /bin/busybox "$staging/bin/busybox"
    stage_modules "$kernel" "$staging/lib/modules" $MODULES $DISK_MODULES
    cp "$e2e_dir/guest/init" "$staging/init"
    cp "$here/guest/enter-image" "$staging/cases.sh"
    chmod 755 "$staging/init"
    # The Python package with the Linux librxb540 for its case.
    mkdir -p "$staging/e2e/python"
    cp -r "$repo/python/rxb540" "$staging/e2e/python/"
    cp "$repo/build/e2e/librxb540.so.0" "$staging/e2e/" || fail_run "the e2e build made no librxb540.so.0"
    cp "$repo/build/windows/rxb540.exe" "$repo/build/windows/rxb540.dll" \
        "$repo/build/windows/tests/windows/rxb540_dll_client.exe" \
        "$repo/build/e2e/tools/board-emulator/rxb540-board-emulator" \
        "$here/guest/cases.sh" "$e2e_dir/guest/lib.sh" "$repo/tests/support/usage.txt" "$staging/e2e/"
    printf "MANUFACTURER='%s'\nDISK_MODULES='%s'\n" "$manufacturer" "$DISK_MODULES" >"$staging/etc/e2e.conf"
    cp "$staging/etc/e2e.conf" "$staging/e2e/"
    (cd "$staging" && find . | cpio -o -H newc --quiet | gzip -1) >"$vm_dir/initramfs.cpio.gz"
}

boot_guest() {
    local kernel=$1 image=$2
    echo "windows-e2e: booting $(cat "$kernel/release") on $image under QEMU (TCG)" >&2
    timeout "$guest_limit" qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m 2048 -nodefaults -display none \
        -serial stdio -no-reboot -kernel "$kernel/vmlinuz" -initrd "$vm_dir/initramfs.cpio.gz" \
        -drive "file=$image,format=raw,if=virtio,cache=unsafe,snapshot=on" \
        -append "console=ttyS0 panic=-1 quiet loglevel=3" </dev/null | tr -d '\r' >"$vm_dir/console.log" || true
}

main() {
    need_tools
    mkdir -p "$vm_dir"
    build_programs
    local kernel image
    kernel=$("$e2e_dir/fetch-kernel.sh" | tail -n 1) || fail_run "cannot fetch the kernel"
    [ -f "$kernel/vmlinuz" ] || fail_run "no kernel image in $kernel"
    # The image is cached beside the kernels.
    image=$("$here/build-image.sh" "$(dirname "$kernel")" | tail -n 1) || fail_run "cannot build the guest image"
    stage_initramfs "$kernel"
    local started=$SECONDS
    boot_guest "$kernel" "$image"
    echo "windows-e2e: guest ran $((SECONDS - started)) s; console log in $vm_dir/console.log" >&2
    if ! report_results "$vm_dir/console.log"; then
        echo "windows-e2e: last lines of the console log:" >&2
        tail -n 30 "$vm_dir/console.log" >&2
        exit 1
    fi
}

# The whole run is limited: timeout ends this script and everything it
# started (debootstrap, QEMU) as one process group.
if [ -z "${RXB540_WINE_E2E_TIMED:-}" ]; then
    status=0
    RXB540_WINE_E2E_TIMED=1 timeout -k 10 "$run_limit" bash "$0" "$@" || status=$?
    if [ "$status" = 124 ] || [ "$status" = 137 ]; then
        echo "FAIL the run took longer than $run_limit s"
        echo "0 passed, 1 failed"
    fi
    exit "$status"
fi
main "$@"
