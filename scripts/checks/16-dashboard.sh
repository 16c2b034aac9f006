#!/usr/bin/env bash
# The web dashboard: built (npm ci fetches the pinned mqtt.js) and installed
# alone as the component "dashboard" below a scratch prefix, then served by a
# real mosquitto (the example configuration's WebSockets listener, accounts
# and ACL) to headless Chromium, with two bridges on simulated hosts. The
# screenshots of docs/dashboard.md are written to build/dashboard-screenshots.
set -uo pipefail
cd "$(dirname "$0")/../.."

fail() {
    echo "16-dashboard: $*" >&2
    exit 1
}

for tool in npm mosquitto mosquitto_passwd openssl chromium chromedriver; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/checks/16-dashboard.packages lists the packages)"
done
/usr/bin/python3 -c 'import selenium, paho.mqtt.client' 2>/dev/null ||
    fail "python3-selenium or python3-paho-mqtt is missing (scripts/checks/16-dashboard.packages)"

cmake --preset library-sim >/dev/null || fail "configuring the library-sim build failed"
cmake --build --preset library-sim --target rxb540-mqtt || fail "building rxb540-mqtt on the simulated host failed"
program=$PWD/build/library-sim/rxb540-mqtt

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# mosquitto (running as root in the test) serves the page; the scratch
# folder must be readable on the way there.
chmod a+rx "$work"
# shellcheck source=../install-dashboard.sh
. scripts/install-dashboard.sh
install_dashboard "$work/prefix" || fail "the dashboard could not be installed (see above)"
page=$work/prefix/share/rxb540/dashboard
for file in index.html dashboard.css js/main.js mqtt/mqtt.min.js mqtt/mqtt.min.js.license.md; do
    [ -f "$page/$file" ] || fail "the component dashboard lacks share/rxb540/dashboard/$file"
done

screenshots=$PWD/build/dashboard-screenshots
mkdir -p "$screenshots"
export PYTHONDONTWRITEBYTECODE=1 RXB540_MQTT_PROGRAM=$program
timeout 300 /usr/bin/python3 tests/dashboard/dashboard_test.py "$page" "$PWD" "$screenshots" ||
    fail "the dashboard's cases failed (see above)"
echo "16-dashboard: screenshots in $screenshots (docs/images/ holds copies: docs/dashboard.md)"
