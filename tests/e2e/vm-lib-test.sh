#!/bin/bash
# Checks vm-lib.sh, which the end-to-end runners share, without a virtual
# machine and under the runners' shell settings. The module staging, on a
# made-up kernel tree: a plain module is copied, an xz-compressed one (as
# Debian 13 ships them) decompressed, one that the kernel has built in is
# marked as such, and a module found nowhere ends the staging with a message
# that names it. And a command that fails unhandled in a runner's function
# is named on standard error. Prints one line per case and
# "N passed, N failed"; exits nonzero on a failure.
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

# as_runner COMMAND...: runs COMMAND in a shell set up as a runner's; leaves
# its status, standard output and standard error in the work folder.
as_runner() {
    status=0
    bash -c 'set -eEuo pipefail
        . "$1/vm-lib.sh"
        fail_run() { echo "runner: $*" >&2; exit 1; }
        trap '\''stop_on_error $? $LINENO'\'' ERR
        shift
        "$@"' _ "$here" "$@" >"$work/out" 2>"$work/err" || status=$?
}

# stage MODULE...: stages into a fresh folder as a runner does.
stage() {
    rm -rf "$work/dest" && mkdir "$work/dest"
    as_runner stage_modules "$work/kernel" "$work/dest" "$@"
}

stage plain packed inner
expect "staging ends with status 0" '[ "$status" = 0 ]'
expect "a plain module is copied" 'cmp -s "$modules/kernel/fs/plain.ko" "$work/dest/plain.ko"'
expect "an xz-compressed module is decompressed" 'grep -qx "packed module" "$work/dest/packed.ko"'
expect "a built-in module is marked, not copied" '[ -e "$work/dest/inner.builtin" ] && [ ! -e "$work/dest/inner.ko" ]'
stage plain absent
expect "a missing module ends the staging with status 1" '[ "$status" = 1 ]'
expect "a missing module is named on standard error" 'grep -q "module absent missing" "$work/err"'
as_runner eval 'step() { false; }; step'
expect "an unhandled failure is named" '[ "$status" = 1 ] && grep -q "'"'"'false'"'"' ended with status 1" "$work/err"'
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
