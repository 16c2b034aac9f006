"""The WebSockets listener of the shipped example configuration
(packaging/dashboard/mosquitto-dashboard.conf), for the tests' and the
bench's broker: on a port chosen at the broker's start ({ws_port} for
harness.Broker), serving page_dir."""

import os

PAGE_DIR_OF_PACKAGE = "/usr/share/rxb540/dashboard"


def example_listener(source_dir, page_dir):
    with open(os.path.join(source_dir, "packaging/dashboard/mosquitto-dashboard.conf")) as example:
        lines = [line.strip() for line in example if line.strip() and not line.startswith("#")]
    listener = lines[lines.index("listener 8080"):]
    assert listener[:3] == ["listener 8080", "protocol websockets", "http_dir " + PAGE_DIR_OF_PACKAGE], listener
    return "\n".join(["listener {ws_port}", "protocol websockets", "http_dir " + page_dir] + listener[3:]) + "\n"
