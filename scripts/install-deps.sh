#!/usr/bin/env bash
# Installs what building and testing rxb540 needs on Debian (as root).
# Usage: install-deps.sh [--no-update] [--simulate] [base]
# With the argument "base", only what building the programs needs; with
# --no-update, the package lists are taken as they are (CI updates them first);
# with --simulate, apt only works out the installation and changes nothing (it
# fails when a package does not exist or cannot be installed).
set -euo pipefail
update=yes
simulate=no
while [ $# -gt 0 ]; do
    case "$1" in
    --no-update) update=no ;;
    --simulate) simulate=yes ;;
    *) break ;;
    esac
    shift
done
scope=${1:-all}
export DEBIAN_FRONTEND=noninteractive
# The README's first command: the programs, the library and the bridge
# (pkg-config finds libmosquitto), and Python with pytest for the Python
# package's first run without a board.
packages=(cmake g++ make libgtest-dev libgmock-dev pkg-config libmosquitto-dev python3 python3-pytest)
# Each check may need more; it lists them in scripts/checks/<name>.packages,
# one package a line, the line's first word:
#   package          always
#   ?package         where the release has it (the check says what it skips
#                    without it)
#   package/command  unless the command is on the PATH already (npm: a
#                    Node.js from another source brings its own, and Debian's
#                    npm package conflicts with it)
[ "$update" = no ] || apt-get update -qq
here=$(dirname "$0")
for list in "$here"/checks/*.packages; do
    [ -e "$list" ] && [ "$scope" != base ] || continue
    while read -r package _; do
        case "$package" in
        ''|'#'*) ;;
        '?'*)
            package=${package#\?}
            if apt-cache show "$package" >/dev/null 2>&1; then
                packages+=("$package")
            else
                echo "not in this release, left out: $package"
            fi
            ;;
        */*)
            command -v "${package#*/}" >/dev/null || packages+=("${package%%/*}")
            ;;
        *) packages+=("$package") ;;
        esac
    done <"$list"
done
if [ "$simulate" = yes ]; then
    apt-get install --simulate -qq --no-install-recommends "${packages[@]}" >/dev/null
    echo "installable: ${packages[*]}"
    exit 0
fi
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
echo "installed: ${packages[*]}"
