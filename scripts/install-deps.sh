#!/usr/bin/env bash
# Installs what building and testing rxb540 needs on Debian or Ubuntu (as root).
# With the argument "base", only what building the programs needs; with
# --no-update, the package lists are taken as they are (CI updates them first).
set -euo pipefail
update=yes
if [ "${1:-}" = --no-update ]; then
    update=no
    shift
fi
scope=${1:-all}
export DEBIAN_FRONTEND=noninteractive
packages=(cmake g++ make libgtest-dev libgmock-dev)
# Each check may need more; it lists them in scripts/checks/<name>.packages.
here=$(dirname "$0")
for list in "$here"/checks/*.packages; do
    [ -e "$list" ] && [ "$scope" != base ] || continue
    while read -r package _; do
        case "$package" in ''|'#'*) ;; *) packages+=("$package") ;; esac
    done <"$list"
done
[ "$update" = no ] || apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
echo "installed: ${packages[*]}"
