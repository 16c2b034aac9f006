#!/bin/bash
# Checks the module staging of vm-lib.sh on a made-up kernel tree, without a
# virtual machine, under the runners' set -euo pipefail: a plain module is
# copied, an xz-compressed one (as Debian 13 ships them) decompressed, one
# that the kernel has built in is marked as such, and a module found nowhere
# ends the staging with a message that names it. Prints one line per case
# and "N passed, N failed"; exits nonzero on a failure.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
modules=$work/kernel/modules
mkdir -p "$modules/kernel/fs" "$work/dest"
printf 'plain module\n' >"$modules/kernel/fs/plain.ko"
# "packed module\n", compressed with xz.
base64 -d >"$modules/kernel/fs/packed.ko.xz" <<<'/Td6WFoAAAFpIt42AgAhARwAAAAQz1jMAQANcGFja2VkIG1vZHVsZQoAAAAmTr2RAAEiDgzejGCQQpkNAQAAAAABWVo='
printf 'kernel/fs/plain.ko:\nkernel/fs/packed.ko.xz: kernel/fs/plain.ko\n' >"$modules/modules.dep"
printf 'kernel/drivers/inner.ko\n' >"$modules/modules.builtin"

passed=0
failed=0
# expect NAME CONDITION: one case; CONDITION is shell code.
expect() {
    if eval "$2"; then
        passed=$((passed + 1))
        echo "PASS $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
    fi
}

# stage MODULE...: stages into a fresh folder as a runner does; leaves its
# status, standard output and standard error in the work folder.
stage() {
    rm -rf "$work/dest" && mkdir "$work/dest"
    status=0
    bash -c 'set -euo pipefail
        fail_run() { echo "runner: $*" >&2; exit 1; }
        . "$1/vm-lib.sh"
        shift
        stage_modules "$@"' _ "$here" "$work/kernel" "$work/dest" "$@" >"$work/out" 2>"$work/err" || status=$?
}

stage plain packed inner
expect "staging ends with status 0" '[ "$status" = 0 ]'
expect "a plain module is copied" 'cmp -s "$modules/kernel/fs/plain.ko" "$work/dest/plain.ko"'
expect "an xz-compressed module is decompressed" 'grep -qx "packed module" "$work/dest/packed.ko"'
expect "a built-in module is marked, not copied" '[ -e "$work/dest/inner.builtin" ] && [ ! -e "$work/dest/inner.ko" ]'
stage plain absent
expect "a missing module ends the staging with status 1" '[ "$status" = 1 ]'
expect "a missing module is named on standard error" 'grep -q "module absent missing" "$work/err"'
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
