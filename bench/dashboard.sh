#!/usr/bin/env bash
# The dashboard's benchmark (bench/dashboard_bench.py): the time from the
# retained topics' arrival to the page showing every switch, in headless
# Chromium, for 50 hosts x 4 boards x 8 relays. Markdown on standard output:
#
#   bash bench/dashboard.sh             # five page loads
#   bash bench/dashboard.sh 2 1 8 1     # hosts boards relays runs
#
# Needs what scripts/checks/16-dashboard.packages lists. Builds the page
# under build/dashboard. Nothing here is part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
# shellcheck source=../scripts/install-dashboard.sh
. scripts/install-dashboard.sh
install_dashboard "$prefix" >/dev/null
PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 bench/dashboard_bench.py "$prefix/share/rxb540/dashboard" "$@"
