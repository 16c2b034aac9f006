"""labgrid's own MQTT power driver (TasmotaPowerDriver on a TasmotaPowerPort)
switching a relay through rxb540-mqtt on the simulated host, with the
environment file that docs/mqtt.md shows, as it is. That driver connects to
port 1883 without TLS or credentials: scripts/checks/15-mqtt.sh runs this in
a network namespace of its own, where mosquitto takes port 1883 on loopback."""

import os
import re
import shutil
import socket
import subprocess
import unittest

import harness
from harness import Bridge, Host, board_line, wait_until

DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "mqtt.md")
PORT = 1883  # the driver's, fixed


def documented_environment():
    """The environment file of docs/mqtt.md's labgrid section and the host-id,
    serial and relay its power port names."""
    with open(DOCS) as docs:
        section = docs.read().split("\n## labgrid\n", 1)[1]
    yaml = section.split("```yaml\n", 1)[1].split("```", 1)[0]
    host_id, serial, relay = re.search(r"power_topic: rxb540/([^/]+)/([^/]+)/relay/(\d)/set", yaml).groups()
    return yaml, host_id, serial, int(relay)


def listening():
    try:
        socket.create_connection(("127.0.0.1", PORT), timeout=1).close()
        return True
    except OSError:
        return False


class Labgrid(unittest.TestCase):
    def setUp(self):
        folder = harness.temporary_folder()
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        config = os.path.join(folder, "broker.conf")
        with open(config, "w") as out:
            out.write("listener %d\nallow_anonymous true\npersistence false\nuser root\n" % PORT)
        broker = subprocess.Popen(["mosquitto", "-c", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(broker.wait, 5)
        self.addCleanup(broker.terminate)
        if not wait_until(lambda: broker.poll() is not None or listening(), 5) or broker.poll() is not None:
            self.fail("mosquitto cannot listen on port %d (is another broker there? run in a network namespace "
                      "of its own)" % PORT)
        self.watcher = harness.Client(PORT, "watcher")
        self.addCleanup(self.watcher.close)
        self.watcher.subscribe("rxb540/#")

        yaml, self.host_id, self.serial, self.relay = documented_environment()
        self.environment = os.path.join(folder, "lab.yaml")
        with open(self.environment, "w") as out:
            out.write(yaml)
        self.host = Host(folder, "lab", [board_line(self.serial)])
        self.bridge = Bridge(folder, self.host, self.host_id, PORT, "relays 4\n")  # restores: a known state
        self.addCleanup(self.bridge.stop)

    def relay_on(self):
        return (self.host.state(self.serial) >> (self.relay - 1)) & 1

    def states_since(self, start):
        topic = "rxb540/%s/%s/state" % (self.host_id, self.serial)
        return [int(m.payload) for m in self.watcher.since(start) if m.topic == topic]

    def test_labgrids_power_driver_switches_a_relay(self):
        from labgrid import Environment

        target = Environment(self.environment).get_target("main")
        self.addCleanup(target.cleanup)
        power = target.get_driver("PowerProtocol")  # activated once the lwt says Online
        self.assertIs(power.get(), False)
        for switch, expected in [(power.on, 1), (power.off, 0), (power.on, 1)]:
            switch()
            self.assertEqual(self.relay_on(), expected, switch.__name__)
            self.assertIs(power.get(), bool(expected), switch.__name__)
        start = self.watcher.mark()
        power.cycle()
        self.assertEqual(self.relay_on(), 1)
        bit = 1 << (self.relay - 1)
        self.assertTrue(wait_until(lambda: self.states_since(start)[-2:] == [0, bit], 2),
                        "off, then on again: %s" % self.states_since(start))

        errors = [m for m in self.watcher.since(0) if m.topic == "rxb540/%s/error" % self.host_id]
        self.assertEqual(errors, [], "get's empty publish is a query, no error")

        self.host.write([])  # unplugged: Offline on the lwt
        target.await_resources([target.get_resource("TasmotaPowerPort", wait_avail=False)], timeout=6.0, avail=False)


if __name__ == "__main__":
    unittest.main(verbosity=2)
