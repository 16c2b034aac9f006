# Shared by the runners that boot Debian's kernel in QEMU (tests/e2e/run.sh,
# tests/windows-e2e/run.sh): module staging and the report of the guest's
# result lines. Sourced; the runner defines fail_run.

# The modules that the guest loads, in load order (see guest/init).
MODULES="configfs usb-common usbcore udc-core dummy_hcd libcomposite usb_f_hid hid usbhid hid-generic"

# stage_modules KERNEL_DIR DEST_DIR MODULE...: copies each module of the
# unpacked kernel to DEST_DIR/NAME.ko.
stage_modules() {
    local kernel=$1 dest=$2 module path
    shift 2
    for module in "$@"; do
        path=$(grep -E "(^|/)$module\.ko(\.[a-z]+)?:" "$kernel/modules/modules.dep" | cut -d: -f1)
        [ -n "$path" ] || fail_run "module $module missing from the kernel in $kernel"
        cp "$kernel/modules/$path" "$dest/$module.ko"
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
