# Sourced by the dashboard's check (16-dashboard) and its bench.
#
# install_dashboard PREFIX: builds the page under build/dashboard (npm ci
# fetches the pinned mqtt.js), installs the component "dashboard" alone
# below PREFIX and makes it readable to all (mosquitto serves it from
# there). Says which step failed, on standard error, and returns 1.
install_dashboard() {
    cmake -S . -B build/dashboard -DCMAKE_BUILD_TYPE=Release -DRXB540_BUILD_TESTS=OFF \
        -DRXB540_BUILD_DASHBOARD=ON >/dev/null ||
        { echo "configuring the dashboard's build failed" >&2; return 1; }
    cmake --build build/dashboard --target rxb540_dashboard >&2 ||
        { echo "building the dashboard (npm ci) failed" >&2; return 1; }
    cmake --install build/dashboard --prefix "$1" --component dashboard >/dev/null ||
        { echo "installing the component dashboard failed" >&2; return 1; }
    chmod -R a+rX "$1"
}
