# Sourced by the checks that build a copy of the source (26-install,
# 90-debian13).
#
# copy_work_tree DEST: copies the work tree as it is into DEST: in a git
# checkout the files git tracks and the new ones it does not ignore (a tracked
# file deleted in the work tree is left out); elsewhere, as in the Debian 13
# root, every file but the builds and .git.
copy_work_tree() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' file; do [ ! -e "$file" ] || printf '%s\0' "$file"; done |
            tar --null -T - -cf - | tar -C "$1" -xf -
    else
        tar --exclude=./build --exclude=./.git -cf - . | tar -C "$1" -xf -
    fi
}
