#!/bin/bash
# End-to-end test: builds static rxb540 and the board emulator, boots Debian's
# stock kernel in QEMU with a busybox initramfs, where dummy_hcd connects
# emulated boards as real USB HID devices, and runs the cases inside the
# guest. Prints one line per case and a closing "N passed, N failed" line;
# exits nonzero on any failure, or when QEMU or the kernel cannot be had.
#
# --platform native|hidapi-hidraw|hidapi-libusb chooses the backend that
# rxb540 is built on (default native: the hidraw backend). The hidapi builds
# are dynamically linked; the guest carries their shared libraries. The
# native run also carries rxb540-mqtt (from the release build, dynamically
# linked) with mosquitto and its clients, for the bridge's case.
set -eEuo pipefail

platform=native
if [ $# -gt 0 ]; then
    [ "$1" = --platform ] && [ $# = 2 ] && platform=$2 || platform=
fi
case $platform in
    native) preset=e2e ;;
    hidapi-hidraw | hidapi-libusb) preset=e2e-$platform ;;
    *)
        echo "usage: $0 [--platform native|hidapi-hidraw|hidapi-libusb]" >&2
        exit 2
        ;;
esac

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
e2e_dir=$repo/tests/e2e
build_dir=$repo/build/$preset
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
trap 'stop_on_error $? $LINENO' ERR

need_tools() {
    local tool
    for tool in qemu-system-x86_64 cpio gzip cmake timeout readelf; do
        command -v "$tool" >/dev/null || fail_run "$tool not found (packages: qemu-system-x86 busybox-static cpio kmod cmake binutils)"
    done
    [ -x /bin/busybox ] || fail_run "/bin/busybox not found (package busybox-static)"
    if [ "$platform" = native ]; then
        for tool in mosquitto mosquitto_pub mosquitto_sub; do
            command -v "$tool" >/dev/null || fail_run "$tool not found (packages: mosquitto mosquitto-clients)"
        done
    fi
    # The initramfs has no C library: a dynamically linked busybox cannot start.
    if readelf -l /bin/busybox 2>/dev/null | grep -q 'program interpreter'; then
        fail_run "/bin/busybox is dynamically linked; install busybox-static"
    fi
}

build_programs() {
    echo "e2e: building rxb540 ($platform) and rxb540-board-emulator" >&2
    (cd "$repo" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset") >"$build_dir.log" 2>&1 ||
        { cat "$build_dir.log" >&2; fail_run "build failed"; }
    [ "$platform" = native ] || return 0
    echo "e2e: building rxb540-mqtt (release)" >&2
    (cd "$repo" && cmake --preset release >/dev/null && cmake --build --preset release -j2 --target rxb540-mqtt) \
        >"$build_dir-mqtt.log" 2>&1 || { cat "$build_dir-mqtt.log" >&2; fail_run "rxb540-mqtt build failed (libmosquitto-dev?)"; }
}

# The bridge's case: rxb540-mqtt, the broker and its clients, with their
# shared libraries.
stage_mqtt() {
    local staging=$1
    cp "$repo/build/release/rxb540-mqtt" "$(command -v mosquitto)" "$(command -v mosquitto_pub)" \
        "$(command -v mosquitto_sub)" "$staging/bin/"
    stage_shared_libraries "$staging" "$staging"/bin/rxb540-mqtt "$staging"/bin/mosquitto*
    # The bridge finds librxb540.so.0 through the build tree's run path, which
    # the guest may not have: a checkout under /tmp is hidden by the guest's
    # own /tmp. The system's library folder is searched after the run path.
    cp -L "$repo/build/release/librxb540.so.0" "$staging/lib/x86_64-linux-gnu/" ||
        fail_run "no librxb540.so.0 in build/release"
    cp "$e2e_dir/guest/mqtt_case.sh" "$staging/"
}

# How the platform finds and opens the boards, for the cases (guest/cases.sh):
# BOARD_ORDER lists the two boards' gadgets in the order that the platform
# enumerates them, ACCESS_NODE names the device node whose permissions decide
# whether a user can open a board; a *_NOTE says why the platform differs.
platform_facts() {
    case $platform in
        hidapi-libusb)
            echo "BOARD_ORDER='3 1'"
            echo "ORDER_NOTE='hidapi-libusb enumerates in reverse bus order: the first board is gadget 3'"
            echo "ACCESS_NODE=usbfs"
            echo "ACCESS_NOTE='hidapi-libusb opens /dev/bus/usb/BBB/DDD: the permission checks act on that node, not /dev/hidrawN'"
            ;;
        *)
            echo "BOARD_ORDER='1 3'"
            echo "ACCESS_NODE=hidraw"
            ;;
    esac
}

# A dynamically linked program needs its shared libraries and the dynamic
# loader at the paths it was linked against; hidapi's hidraw variant also
# converts strings in the C.UTF-8 character type, which the C library loads
# from the locale files that every Debian host has (package libc-bin), and
# its libusb variant reads strings through iconv, which loads the C library's
# UTF-16 converter.
C_UTF8_CTYPE=/usr/lib/locale/C.utf8/LC_CTYPE
stage_shared_libraries() {
    local staging=$1 lib libc='' gconv
    shift
    for lib in $( (ldd "$@" 2>/dev/null || true) | awk '/=> \// { print $3 } /^\t\// { print $1 }' | sort -u); do
        mkdir -p "$staging$(dirname "$lib")"
        cp -L "$lib" "$staging$lib"
        [[ $lib == */libc.so.* ]] && libc=$lib
    done
    if [ "$platform" = hidapi-hidraw ]; then
        [ -f "$C_UTF8_CTYPE" ] || fail_run "no $C_UTF8_CTYPE (package libc-bin)"
        mkdir -p "$staging$(dirname "$C_UTF8_CTYPE")"
        cp "$C_UTF8_CTYPE" "$staging$C_UTF8_CTYPE"
    fi
    [ "$platform" = hidapi-libusb ] || return 0
    [ -n "$libc" ] || fail_run "rxb540 does not link the C library dynamically"
    gconv=/usr/lib/$(basename "$(dirname "$libc")")/gconv
    [ -f "$gconv/gconv-modules.cache" ] && [ -f "$gconv/UTF-16.so" ] ||
        fail_run "no iconv modules in $gconv (package libc6)"
    mkdir -p "$staging$gconv"
    cp "$gconv/gconv-modules.cache" "$gconv/UTF-16.so" "$staging$gconv/"
}

stage_initramfs() {
    local kernel=$1 staging=$vm_dir/root
    rm -rf "$staging"
    mkdir -p "$staging"/{bin,dev,etc,proc,sys,tmp,lib/modules}
    cp /bin/busybox "$staging/bin/busybox"
    cp "$build_dir/rxb540" "$build_dir/tools/board-emulator/rxb540-board-emulator" "$staging/bin/"
    if [ "$platform" = native ]; then
        stage_mqtt "$staging"
    else
        stage_shared_libraries "$staging" "$staging"/bin/rxb540*
    fi
    stage_modules "$kernel" "$staging/lib/modules" $MODULES
    cp "$e2e_dir/guest/init" "$staging/init"
    cp "$e2e_dir/guest/cases.sh" "$e2e_dir/guest/lib.sh" "$staging/"
    chmod 755 "$staging/init"
    local manufacturer
    manufacturer=$(sed -n 's/^RXB540_MANUFACTURER:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
    [[ $manufacturer =~ ^[A-Za-z0-9.-]+$ ]] || fail_run "unexpected RXB540_MANUFACTURER '$manufacturer'"
    printf "MANUFACTURER='%s'\n" "$manufacturer" >"$staging/etc/e2e.conf"
    platform_facts >>"$staging/etc/e2e.conf"
    printf 'root:x:0:0:root:/:/bin/sh\ntester:x:1000:1000:tester:/tmp:/bin/sh\n' >"$staging/etc/passwd"
    printf 'root:x:0:\ntester:x:1000:\n' >"$staging/etc/group"
    (cd "$staging" && find . | cpio -o -H newc --quiet | gzip -1) >"$vm_dir/initramfs.cpio.gz"
}

boot_guest() {
    local kernel=$1
    echo "e2e: booting $(cat "$kernel/release") under QEMU (TCG), rxb540 on $platform" >&2
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
