# Shared by the runners that boot Debian's kernel in QEMU (tests/e2e/run.sh,
# tests/windows-e2e/run.sh): module staging and the report of the guest's
# result lines. Sourced; the runner defines fail_run.

# The ERR trap of the runners (with set -eE): a command that fails where
# nothing handles its failure ends the run, and this names it. A failure in
# a subshell is named where the subshell's own failure ends the runner.
stop_on_error() {
    [ "$BASHPID" = "$$" ] || return 0
    fail_run "stopped at line $2: '$BASH_COMMAND' ended with status $1"
}

# The modules that the guest loads, in load order (see guest/init).
MODULES="configfs usb-common usbcore udc-core dummy_hcd libcomposite usb_f_hid hid usbhid hid-generic"

# stage_modules KERNEL_DIR DEST_DIR MODULE...: copies each module of the
# unpacked kernel to DEST_DIR/NAME.ko, decompressed (Debian 13 ships them as
# .ko.xz; the guest's insmod then needs no decompressor of its own). A module
# that the kernel has built in (listed in modules.builtin, absent from
# modules.dep) is marked by an empty DEST_DIR/NAME.builtin instead, and the
# guest leaves it out of loading.
stage_modules() {
    local kernel=$1 dest=$2 module path
    shift 2
    for module in "$@"; do
        # Under set -e a failing command substitution would end the runner
        # without a word: no match leaves path empty instead.
        path=$(grep -E "(^|/)$module\.ko(\.[a-z]+)?:" "$kernel/modules/modules.dep" | cut -d: -f1) || path=
        if [ -z "$path" ]; then
            grep -qE "(^|/)$module\.ko\$" "$kernel/modules/modules.builtin" 2>/dev/null ||
                fail_run "module $module missing from the kernel in $kernel (neither in modules.dep nor built in)"
            : >"$dest/$module.builtin"
            continue
        fi
        case $path in
            *.ko) cp "$kernel/modules/$path" "$dest/$module.ko" ;;
            *.ko.xz) /bin/busybox xzcat "$kernel/modules/$path" >"$dest/$module.ko" ;;
            *.ko.gz) /bin/busybox zcat "$kernel/modules/$path" >"$dest/$module.ko" ;;
            *) fail_run "module $module: no decompressor for $path" ;;
        esac || fail_run "cannot stage module $module from $kernel/modules/$path"
    done
}

# report_results CONSOLE_LOG: turns the guest's E2E-RESULT and E2E-DETAIL
# lines into the report.
report_results() {
    awk '
        /^E2E-DETAIL / { detail[$2] = detail[$2] "    " substr($0, length($1) + length($2) + 3) "\n"; next }
        /^E2E-ERROR / { print "FAIL " substr($0, 11); failed++; next }
        /^E2E-NOTE / { print "NOTE " substr($0, 10); next }
        /^E2E-RESULT pass / { print "PASS " $3; passed++; next }
        /^E2E-RESULT fail / {
            print "FAIL " $3
            printf "%s", detail[$3]
            failed++
            next
        }
        /^E2E-END$/ { ended = 1 }
        END {
            if (!ended) {
                print "FAIL guest did not finish (crash or time limit)"
                failed++
            }
            if (passed + failed == 0) {
                print "FAIL guest ran no case"
                failed++
            }
            printf "%d passed, %d failed\n", passed, failed
            exit failed > 0
        }
    ' "$1"
}
