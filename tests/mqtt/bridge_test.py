"""rxb540-mqtt as a process, against a real mosquitto and simulated hosts.
Run by scripts/checks/15-mqtt.sh with RXB540_MQTT_PROGRAM naming the bridge
built on the simulated host."""

import json
import os
import shutil
import signal
import socket
import subprocess
import time
import unittest
from unittest import mock

import harness
from fault_proxy import FaultProxy
from ha_schema import SCHEMAS, schema_faults
from harness import Bridge, Host, board_line, wait_until

HOST_IDS = ["h%d" % n for n in range(1, 21)] + ["svc1", "unread1", "replug1", "rs1", "rs2", "rl1", "pb1", "fg1", "ha1"]
FOLDER = None
BROKER = None


def setUpModule():
    global FOLDER, BROKER
    if not harness.PROGRAM or not os.access(harness.PROGRAM, os.X_OK):
        raise RuntimeError("RXB540_MQTT_PROGRAM must name the rxb540-mqtt program, not %r" % harness.PROGRAM)
    FOLDER = harness.temporary_folder()
    BROKER = harness.Broker(FOLDER, {host_id: "pw-" + host_id for host_id in HOST_IDS})
    BROKER.start()


def tearDownModule():
    if BROKER:
        BROKER.stop()
    if FOLDER and not os.environ.get("RXB540_KEEP_TEST_FILES"):
        shutil.rmtree(FOLDER, ignore_errors=True)


class BridgeCase(unittest.TestCase):
    """Each test uses host-ids of its own, so retained topics never mix."""

    def setUp(self):
        self.bridges = []
        self.tester = BROKER.tester()
        self.tester.subscribe("rxb540/#")
        self.tester.subscribe("homeassistant/#")
        self.addCleanup(self.tester.close)

    def tearDown(self):
        # Every bridge still running ends with a clean stop, so that memory
        # checkers report, and that stop must end with status 0: under valgrind
        # a finding makes it 99.
        unclean = []
        for bridge in self.bridges:
            if bridge.process.poll() is None:
                status = bridge.stop(signal.SIGTERM, timeout=20)
                if status != 0:
                    unclean.append("rxb540-mqtt %s ended with status %d at its clean stop" % (bridge.host_id, status))
            if self.failed() or unclean:
                harness.report("--- log of rxb540-mqtt %s:\n%s" % (bridge.host_id, bridge.log()))
        self.assertEqual(unclean, [])

    def failed(self):
        result = getattr(self._outcome, "result", None)
        return result is not None and any(test is self for test, _ in result.errors + result.failures)

    def start(self, host_id, lines, settings="", credentials=True, port=None, wait=True, name=None, **bridge):
        """name (the host-id unless given) names the files of the bridge and its
        host; bridge holds Bridge's further settings."""
        host = Host(FOLDER, name or host_id, lines)
        if credentials:
            settings = "username %s\npassword-file %s\n%s" % (
                host_id, harness.user_password(FOLDER, host_id, "pw-" + host_id), settings)
        bridge = Bridge(FOLDER, host, host_id, port or BROKER.port, settings, name, **bridge)
        self.bridges.append(bridge)
        if wait:
            self.expect("rxb540/%s/status" % host_id, "online", timeout=7)
        return bridge, host

    def expect(self, topic, payload, start=0, timeout=3.0, client=None):
        """The message on topic with payload (a text, or a test of it) from index start on."""
        client = client or self.tester
        if harness.WRAPPED:
            timeout *= 3  # valgrind slows the bridge down many times over
        test = payload if callable(payload) else (lambda text: text == payload)
        found = client.wait_for(lambda m: m.topic == topic and test(m.payload), timeout, start)
        if found is None:
            self.fail("no %r on %s within %.1f s; received: %s" % (payload, topic, timeout, client.since(start)[-12:]))
        return found

    @staticmethod
    def retained(topic_filter):
        """What the broker retains now below topic_filter, by topic."""
        snapshot = BROKER.tester()
        try:
            snapshot.subscribe(topic_filter)
            time.sleep(0.5)
            return {m.topic: m.payload for m in snapshot.since(0) if m.retain}
        finally:
            snapshot.close()

    def payloads(self, topic, start):
        return [m.payload for m in self.tester.since(start) if m.topic == topic]

    def errors(self, host_id, start):
        return [json.loads(m.payload) for m in self.tester.since(start) if m.topic == "rxb540/%s/error" % host_id]

    def command(self, host_id, suffix, payload, expect_error=None, retain=False):
        """Publishes a command; with expect_error, waits for the error that
        names it and returns it."""
        start = self.tester.mark()
        topic = "rxb540/%s/%s" % (host_id, suffix)
        self.tester.publish(topic, payload, retain=retain)
        if expect_error is None:
            return None
        message = self.expect("rxb540/%s/error" % host_id,
                              lambda text: json.loads(text)["topic"] == topic and expect_error in json.loads(text)["error"],
                              start)
        return json.loads(message.payload)


class CommandLine(unittest.TestCase):
    def run_bridge(self, *arguments):
        return subprocess.run([harness.PROGRAM, *arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, timeout=10)

    def test_options_and_faults_that_stop_it_at_once(self):
        self.assertIn("Usage: rxb540-mqtt [--config FILE] [--verbose]", self.run_bridge("--help").stdout)
        self.assertRegex(self.run_bridge("--version").stdout, r"^rxb540-mqtt \d+\.\d+\.\d+ \(librxb540 ")
        unknown = self.run_bridge("--password", "x")
        self.assertEqual(unknown.returncode, 2)
        self.assertIn("unknown argument: --password", unknown.stderr)
        config = os.path.join(FOLDER, "faulty.conf")
        secret = os.path.join(FOLDER, "readable.password")
        with open(secret, "w") as out:
            out.write("pw\n")
        os.chmod(secret, 0o644)
        for text, error in [("relays 4\ncolour red\n", config + ':2: unknown key: "colour"'),
                            ("username u\npassword-file %s\n" % secret,
                             config + ":2: password-file: %s can be read by others than its owner (mode 0644)" % secret),
                            ("broker-host mqtt.example\nusername u\npassword-file %s\n"
                             % harness.user_password(FOLDER, "plaintext", "pw"),
                             config + ':3: password-file without cafile would send the password unencrypted to '
                             '"mqtt.example": set cafile to use TLS, or allow-plaintext-password yes')]:
            with open(config, "w") as out:
                out.write(text)
            result = self.run_bridge("--config", config)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertEqual(len(result.stderr.splitlines()), 1, "one line: %r" % result.stderr)
            self.assertIn("rxb540-mqtt: " + error, result.stderr)
        missing = self.run_bridge("--config", os.path.join(FOLDER, "none.conf"))
        self.assertEqual(missing.returncode, 1)
        self.assertIn("none.conf: cannot read: No such file or directory", missing.stderr)


class Commands(BridgeCase):
    def test_payload_table_good_bad_and_retained(self):
        self.tester.publish("rxb540/h1/S1/set", "9", retain=True)  # a stale command, hours old
        bridge, host = self.start("h1", [board_line("S1"), board_line("S2")], "initial-state unknown\n")
        self.expect("rxb540/h1/error", lambda text: "retained command is ignored" in json.loads(text)["error"])
        self.assertEqual(host.reports(), [], "a retained command switches nothing")
        self.tester.publish("rxb540/h1/S1/set", "", retain=True)  # cleared again

        rows = [  # suffix, payload, the state of S1 afterwards, or the error
            ("S1/set", "5", 5, None), ("S1/set", "255", 255, None), ("S1/set", "0", 0, None),
            ("S1/set", "256", None, "0 to 255 in decimal"), ("S1/set", "-1", None, "0 to 255"),
            ("S1/set", " 5", None, "0 to 255"), ("S1/set", "5\n", None, "0 to 255"),
            ("S1/set", "abc", None, "0 to 255"), ("S1/set", "0x10", None, "0 to 255"),
            ("S1/relay/1/set", "on", None, "ON, OFF or TOGGLE"), ("S1/relay/9/set", "ON", None, "no relay 9"),
            ("S1/relay/0/set", "ON", None, "no relay 0"), ("NOPE/set", "1", None, "no board with the serial number NOPE"),
            ("S1/relay/1/set", "PULSE 0", None, "PULSE <ms> (1 to 3600000)"), ("S1/relay/1/set", "PULSE x", None, "PULSE"),
            ("S1/relay/1/set", "PULSE 3600001", None, "PULSE"), ("NOPE/relay/1/set", "", None, "no board with the serial"),
            ("S1/forget", "now", None, "board S1 is attached"),
        ]
        state = 0
        for suffix, payload, new_state, error in rows:
            with self.subTest(suffix=suffix, payload=payload):
                before = len(host.reports())
                start = self.tester.mark()
                found = self.command("h1", suffix, payload, expect_error=error)
                if error:
                    self.assertEqual(found["payload"], payload or None)
                    self.assertEqual(len(host.reports()), before, "nothing is sent")
                elif new_state is not None:
                    state = new_state
                    self.expect("rxb540/h1/S1/state", str(state), start)
                    self.assertEqual(host.state("S1"), state)
        start = self.tester.mark()
        self.command("h1", "S1/set", "7", expect_error="retained command is ignored", retain=True)
        self.tester.publish("rxb540/h1/S1/set", "", retain=True)
        self.assertEqual(host.state("S1"), state, "a retained command published live is refused as well")
        self.command("h1", "S1/set", "x", expect_error="0 to 255")  # after the clearing, in order
        self.assertEqual([e["payload"] for e in self.errors("h1", start)], ["7", "x"],
                         "an empty retained message clears a retained command and is no command")
        self.assertEqual(host.state("S2"), 0, "the other board is never touched")
        self.assertEqual(bridge.stop(), 0)

    def test_relay_read_modify_write_and_unknown_state(self):
        _, host = self.start("h2", [board_line("S1"), board_line("S9", "feature=fail")], "relays 4\ninitial-state unknown\n")
        self.command("h2", "S1/relay/2/set", "ON", expect_error="unknown")
        self.assertEqual(host.reports(), [], "nothing is sent on an unknown state")
        error = self.command("h2", "S1/relay/2/set", "ON", expect_error="send a whole state to rxb540/h2/S1/set")
        self.assertEqual(error["payload"], "ON")
        for suffix, payload, state in [("S1/set", "5", 5), ("S1/relay/2/set", "ON", 7), ("S1/relay/1/set", "TOGGLE", 6),
                                       ("S1/relay/3/set", "OFF", 2), ("S1/relay/3/set", "OFF", 2),
                                       ("S1/relay/4/set", "TOGGLE", 10)]:
            start = self.tester.mark()
            self.command("h2", suffix, payload)
            self.expect("rxb540/h2/S1/state", str(state), start)
            self.assertEqual(host.state("S1"), state, (suffix, payload))
        for relay, value in [(1, "OFF"), (2, "ON"), (3, "OFF"), (4, "ON")]:
            self.expect("rxb540/h2/S1/relay/%d" % relay, value, start)
        self.command("h2", "S1/relay/5/set", "ON", expect_error="the relays are 1 to 4")
        start = self.tester.mark()
        self.command("h2", "S9/set", "1", expect_error="refused the report")
        time.sleep(0.3)
        self.assertFalse([m for m in self.tester.since(start) if m.topic == "rxb540/h2/S9/state"],
                         "a refused report changes no state")
        self.command("h2", "S9/relay/1/set", "ON", expect_error="unknown")


class Boards(BridgeCase):
    def test_plug_unplug_replug_and_boards_not_bridged(self):
        _, host = self.start("h3", [board_line("S1")], "initial-state 3\n")
        self.expect("rxb540/h3/S1/state", "3")
        self.assertEqual(host.state("S1"), 3, "initial-state is written to a board first seen")
        start = self.tester.mark()
        host.write([board_line("S1", "state=3"), board_line("S4")])
        self.expect("rxb540/h3/boards", '["S1", "S4"]', start)
        self.expect("rxb540/h3/S4/availability", "online", start)
        self.expect("rxb540/h3/S4/lwt", "Online", start)
        self.expect("rxb540/h3/S4/state", "3", start)
        self.command("h3", "S4/set", "8")
        self.expect("rxb540/h3/S4/state", "8", start)

        start = self.tester.mark()
        host.write([board_line("S1", "state=3")])
        self.expect("rxb540/h3/S4/availability", "offline", start)
        self.expect("rxb540/h3/S4/lwt", "Offline", start)
        self.expect("rxb540/h3/boards", '["S1"]', start)
        self.command("h3", "S4/set", "1", expect_error="not attached")
        start = self.tester.mark()
        host.write([board_line("S4", "state=8"), board_line("S1", "state=3")])
        self.expect("rxb540/h3/S4/availability", "online", start)
        self.expect("rxb540/h3/S4/lwt", "Online", start)
        self.expect("rxb540/h3/boards", '["S4", "S1"]', start)

        start = self.tester.mark()
        host.write([board_line("S4", "state=3"), board_line("S1", "state=3"), board_line(""), board_line("a/b"),
                    board_line("D1"), board_line("D1")])
        for text in ["sim:3 has an empty serial number", 'sim:4 has the serial number \\"a/b\\"',
                     'sim:5, sim:6 share the serial number \\"D1\\"']:
            self.expect("rxb540/h3/error", lambda payload, text=text: text in payload, start)
        time.sleep(2.2)  # two more scans
        problems = self.errors("h3", start)
        self.assertEqual(len(problems), 3, "each problem is reported once: %s" % problems)
        self.assertTrue(all("write a new serial" in p["error"] and p["topic"] is None for p in problems), problems)
        self.command("h3", "S1/set", "1")
        self.expect("rxb540/h3/S1/state", "1", start)
        self.command("h3", "D1/set", "1", expect_error="no board with the serial number D1")


    def test_a_board_that_cannot_be_read_for_a_scan_stays_with_its_state(self):
        _, host = self.start("unread1", [board_line("S1")], "initial-state 0\nrelays 4\n")
        self.expect("rxb540/unread1/S1/relay/4", "OFF")  # the end of the snapshot on connecting
        start = self.tester.mark()
        self.command("unread1", "S1/set", "5")
        self.expect("rxb540/unread1/S1/state", "5", start)
        self.expect("rxb540/unread1/S1/relay/4", "OFF", start)
        reports = len(host.reports())
        start = self.tester.mark()
        host.write([board_line(None, "state=5")])  # its serial cannot be read
        time.sleep(2.5)
        host.write([board_line("S1", "state=5")])
        time.sleep(2.5)
        published = [(m.topic, m.payload) for m in self.tester.since(start) if m.topic.startswith("rxb540/unread1/")]
        self.assertEqual(published, [], "nothing changed, so nothing is published")
        self.assertEqual(len(host.reports()), reports, "initial-state is not written again")
        self.assertEqual(host.state("S1"), 5)
        self.command("unread1", "S1/relay/2/set", "ON")
        self.expect("rxb540/unread1/S1/state", "7", start)

    def test_a_board_plugged_in_again_between_two_scans_is_newly_plugged(self):
        bridge, host = self.start("replug1", [board_line("S1")], "initial-state 3\nrelays 4\n")
        self.expect("rxb540/replug1/S1/state", "3")
        start = self.tester.mark()
        self.command("replug1", "S1/set", "12")
        self.expect("rxb540/replug1/S1/state", "12", start)
        start = self.tester.mark()
        host.write([board_line("S1", "attachment=1")])  # same path and serial, relays off
        self.command("replug1", "S1/relay/1/set", "ON")
        self.expect("rxb540/replug1/S1/state", "3", start)
        time.sleep(1.5)
        self.assertIn(host.state("S1"), (3, 3 | 1), "never the old relays 12 switched on again")
        self.assertIn("board S1 is attached at sim:1", bridge.log().split("state 12")[-1])

    def test_boards_not_bridged_at_the_start_are_reported_once_connected(self):
        start = self.tester.mark()
        self.start("h14", [board_line(""), board_line("OK1")])
        self.expect("rxb540/h14/error", lambda text: "sim:1 has an empty serial number" in text, start)
        self.expect("rxb540/h14/boards", '["OK1"]', start)


class Restore(BridgeCase):
    """initial-state restore, the default: the state last retained on the
    broker, else 0, written only once the broker's retained state is known."""

    def test_a_restart_keeps_the_state_and_a_fresh_board_starts_at_0(self):
        for serial, state in [("S3", "9"), ("S4", "unknown"), ("S5", "3")]:
            self.tester.publish("rxb540/rs1/%s/state" % serial, state, retain=True)
        settings = "board S5 interlock 1,2\n"
        bridge, host = self.start("rs1", [board_line("S1"), board_line("S2")], settings)
        self.expect("rxb540/rs1/S1/state", "0")
        self.expect("rxb540/rs1/S1/relay/8", "OFF")
        self.command("rs1", "S1/set", "5")
        self.expect("rxb540/rs1/S1/state", "5")
        self.assertEqual(bridge.stop(), 0)
        start = self.tester.mark()
        _, host = self.start("rs1", [board_line("S1"), board_line("S2")], settings)  # the boards lost power
        self.expect("rxb540/rs1/S1/state", "5", start)
        self.assertEqual((host.state("S1"), host.state("S2")), (5, 0))
        self.assertNotIn("unknown", self.payloads("rxb540/rs1/S1/state", start),
                         "the retained state is never overwritten with unknown")

        start = self.tester.mark()  # plugged in later: a number, unknown, a state that breaks an interlock
        host.write([board_line("S1", "state=5"), board_line("S2"), board_line("S3"), board_line("S4", "state=7"),
                    board_line("S5")])
        for serial, state in [("S3", "9"), ("S4", "0"), ("S5", "0")]:
            self.expect("rxb540/rs1/%s/state" % serial, state, start)
        self.expect("rxb540/rs1/error", lambda text: "board S5: the state 3 last retained puts relays of one "
                    "interlock group on together" in text, start)
        self.assertEqual((host.state("S3"), host.state("S4"), host.state("S5")), (9, 0, 0))
        host.write([board_line("S1", "state=5")])
        self.expect("rxb540/rs1/S3/availability", "offline", start)
        host.write([board_line("S1", "state=5"), board_line("S3")])
        self.assertTrue(wait_until(lambda: host.state("S3") == 9, 4), "plugged in again, it is restored")
        start = self.tester.mark()  # plugged in again during a pulse: restored with the pulse over
        self.command("rs1", "S3/relay/1/set", "PULSE 60000")
        self.expect("rxb540/rs1/S3/state", "8", start)
        host.write([board_line("S1", "state=5"), board_line("S3", "attachment=1")])
        self.expect("rxb540/rs1/S3/state", "9", start)
        self.assertEqual(host.state("S3"), 9)

    def test_a_bridge_that_starts_while_the_broker_is_down_waits_then_restores(self):
        proxy = FaultProxy(BROKER.port)
        self.addCleanup(proxy.close)
        proxy.drop(refuse=True)
        self.tester.publish("rxb540/rs2/S1/state", "6", retain=True)
        self.tester.publish("rxb540/rs2/S2/state", "3", retain=True)
        # Both come back to the tester in order: after that, "6" is the bridge's.
        self.expect("rxb540/rs2/S2/state", "3")
        start = self.tester.mark()
        bridge, host = self.start("rs2", [board_line("S1")], port=proxy.port, wait=False)
        self.assertTrue(wait_until(lambda: "board S1 is attached" in bridge.log(), 3), bridge.log())
        time.sleep(1.5)
        self.assertEqual(host.reports(), [], "nothing is written before the broker's retained state is known")
        proxy.allow()
        self.expect("rxb540/rs2/S1/state", "6", start, timeout=10)
        self.assertEqual(host.state("S1"), 6)
        self.assertEqual(len(host.reports()), 1)
        proxy.drop(refuse=True)  # plugged in while the broker is away: restored from the snapshot read
        host.write([board_line("S1", "state=6"), board_line("S2")])
        self.assertTrue(wait_until(lambda: host.state("S2") == 3, 4), bridge.log())
        start = self.tester.mark()
        proxy.allow()
        self.expect("rxb540/rs2/S2/state", "3", start, timeout=10)
        self.expect("rxb540/rs2/S1/state", "6", start)
        self.assertEqual(len(host.reports()), 2, "a reconnection writes nothing again")


class Relays(BridgeCase):
    def test_pulse_its_cancel_the_query_and_the_interlock_on_every_path(self):
        bridge, host = self.start("rl1", [board_line("S1"), board_line("S2")],
                                  "pulse-ms 5000\nboard S1 relays 4\nboard S1 interlock 1,2\nboard S1 pulse-ms 300\n"
                                  "board S2 initial-state unknown\n")
        self.expect("rxb540/rl1/S1/relay/4", "OFF")
        start = self.tester.mark()
        self.command("rl1", "S1/relay/3/set", "PULSE")
        on = self.expect("rxb540/rl1/S1/state", "4", start)
        off = self.expect("rxb540/rl1/S1/state", "0", start)
        self.assertGreaterEqual(off.when - on.when, 0.25, "S1's own pulse-ms")
        self.expect("rxb540/rl1/S1/relay/3", "OFF", start)
        self.assertEqual(self.payloads("rxb540/rl1/S1/relay/3", start), ["ON", "OFF"])

        start = self.tester.mark()
        self.command("rl1", "S1/relay/3/set", "PULSE 800")
        self.expect("rxb540/rl1/S1/state", "4", start)
        self.command("rl1", "S1/relay/3/set", "ON")  # before the return: no return
        time.sleep(1.2)
        self.assertEqual(self.payloads("rxb540/rl1/S1/state", start), ["4", "4"])
        start = self.tester.mark()
        self.command("rl1", "S1/relay/3/set", "")  # a query
        self.expect("rxb540/rl1/S1/relay/3", "ON", start)
        self.assertEqual(self.errors("rl1", start), [])

        start = self.tester.mark()  # interlock 1,2: the other goes off in a report of its own
        for relay, payload, state in [(1, "ON", "5"), (2, "TOGGLE", "6"), (1, "PULSE", "5")]:
            self.command("rl1", "S1/relay/%d/set" % relay, payload)
            self.expect("rxb540/rl1/S1/state", state, start)
        expected = ["5", "4", "6", "4", "5", "4"]  # the pulse's return last
        self.assertTrue(wait_until(lambda: self.payloads("rxb540/rl1/S1/state", start) == expected, 3),
                        self.payloads("rxb540/rl1/S1/state", start))
        reports = len(host.reports())
        self.command("rl1", "S1/set", "7", expect_error="interlock group of board S1 on together")
        self.assertEqual(len(host.reports()), reports, "nothing is sent")
        self.command("rl1", "S1/relay/5/set", "ON", expect_error="the relays are 1 to 4")
        self.command("rl1", "S2/relay/8/set", "PULSE", expect_error="unknown")

        start = self.tester.mark()  # a pulse under way at the stop ends before the bridge
        self.command("rl1", "S1/relay/4/set", "PULSE 60000")
        self.expect("rxb540/rl1/S1/state", "12", start)
        self.assertEqual(bridge.stop(), 0)
        self.assertEqual(host.state("S1"), 4)


class Connection(BridgeCase):
    def test_broker_down_at_start_and_restarted(self):
        _, host = self.start("h4", [board_line("S1")])
        self.command("h4", "S1/set", "6")
        self.expect("rxb540/h4/S1/state", "6")
        self.tester.close()
        BROKER.stop()
        late, _ = self.start("h5", [board_line("S5")], wait=False)  # the broker is down at its start
        time.sleep(1.5)
        BROKER.start(keep_ports=True)
        self.tester = BROKER.tester()
        self.addCleanup(self.tester.close)
        self.tester.subscribe("rxb540/#")
        for host_id in ("h4", "h5"):
            self.expect("rxb540/%s/status" % host_id, "online", timeout=8)
        self.expect("rxb540/h4/S1/state", "6")  # republished: the broker kept nothing
        self.expect("rxb540/h4/boards", '["S1"]')
        start = self.tester.mark()
        self.command("h4", "S1/set", "2")
        self.expect("rxb540/h4/S1/state", "2", start)
        self.assertEqual(host.state("S1"), 2)
        self.assertIsNone(late.process.poll(), "a bridge that met no broker at its start keeps running")
        self.assertIn("cannot connect to 127.0.0.1", late.log())
        self.assertIn("lost the connection", self.bridges[0].log())

    def test_kill_9_publishes_the_will_and_sigterm_the_clean_offline(self):
        killed, _ = self.start("h6", [board_line("S1")])
        start = self.tester.mark()
        killed.stop(signal.SIGKILL)
        self.expect("rxb540/h6/status", "offline", start)
        stopped, host = self.start("h7", [board_line("S1"), board_line("S2")])
        self.expect("rxb540/h7/S2/relay/8", "OFF")  # restored: the host file is not written again
        host.write([board_line("S1")])
        self.expect("rxb540/h7/boards", '["S1"]')
        start = self.tester.mark()
        self.assertEqual(stopped.stop(signal.SIGTERM), 0)
        self.expect("rxb540/h7/status", "offline", start)
        offline = [m.topic for m in self.tester.since(start) if m.payload.lower() == "offline"]
        self.assertEqual(offline, ["rxb540/h7/S1/availability", "rxb540/h7/S1/lwt", "rxb540/h7/status"],
                         "each board present is offline before the bridge")
        with open(host.log) as log:
            events = [line.split()[0] for line in log if line.strip()]
        self.assertEqual(events.count("open"), events.count("close"), "every board handle is closed")
        snapshot = BROKER.tester()
        snapshot.subscribe("rxb540/h7/status")
        self.expect("rxb540/h7/status", "offline", client=snapshot)
        self.assertTrue(snapshot.messages[0].retain)
        snapshot.close()

    def test_refused_credentials_are_retried_at_a_bounded_pace(self):
        log_before = BROKER.read_log().count("New connection from")
        bridge, _ = self.start("h8", [board_line("S1")], credentials=False,
                               settings="username h8\npassword-file %s\n"
                               % harness.user_password(FOLDER, "h8-wrong", "not-the-password"), wait=False)
        time.sleep(7.5)
        attempts = BROKER.read_log().count("New connection from") - log_before
        refusals = bridge.log().count("refused the connection")
        self.assertGreaterEqual(attempts, 3, "it keeps trying")
        self.assertLessEqual(attempts, 5, "1, 2, 4 s apart, never a tight loop")
        self.assertIn(refusals, (attempts - 1, attempts), "one log line per attempt:\n" + bridge.log())
        self.assertIn("next attempt in", bridge.log())
        self.assertIsNone(bridge.process.poll())

    def test_health_on_connect_and_every_interval(self):
        start = self.tester.mark()
        self.start("h19", [board_line("S1")], "health-interval 1\n")
        self.expect("rxb540/h19/health", lambda text: json.loads(text)["connects"] == 1, start)
        self.command("h19", "S1/set", "x", expect_error="0 to 255")
        health = json.loads(self.expect("rxb540/h19/health", lambda text: json.loads(text)["commands"] == 1, start,
                                        timeout=2.5).payload)
        self.assertEqual({key: health[key] for key in ("boards", "errors", "connects")},
                         {"boards": 1, "errors": 1, "connects": 1})
        self.assertTrue(isinstance(health["uptime_s"], int) and 0 <= health["uptime_s"] < 10, health)

    def test_tls_with_the_right_and_a_wrong_ca(self):
        self.start("h9", [board_line("S1")], "cafile %s\n" % BROKER.ca, port=BROKER.tls_port)
        self.command("h9", "S1/set", "4")
        self.expect("rxb540/h9/S1/state", "4")
        wrong, _ = self.start("h10", [board_line("S1")], "cafile %s\n" % BROKER.wrong_ca, port=BROKER.tls_port,
                              wait=False)
        time.sleep(2)
        self.assertIsNone(self.tester.wait_for(lambda m: m.topic == "rxb540/h10/status", 0.1))
        self.assertIn("cannot connect to 127.0.0.1", wrong.log())
        self.assertIn("certificate verify failed", wrong.log())
        self.assertIsNone(wrong.process.poll())


class HomeAssistantAndFleet(BridgeCase):
    def test_discovery_payloads_and_republish_on_home_assistant_online(self):
        self.start("h11", [board_line("S.1")], "relays 2\ninitial-state unknown\n")
        topic = "homeassistant/switch/rxb540_h11_S_1/relay2/config"
        config = json.loads(self.expect(topic, lambda text: True).payload)
        self.assertEqual(config["unique_id"], "rxb540_h11_S.1_relay2")
        self.assertEqual(config["command_topic"], "rxb540/h11/S.1/relay/2/set")
        self.assertEqual(config["state_topic"], "rxb540/h11/S.1/relay/2")
        self.assertEqual([a["topic"] for a in config["availability"]], ["rxb540/h11/status", "rxb540/h11/S.1/availability"])
        self.assertEqual(config["availability_mode"], "all")
        self.assertEqual(config["device"]["identifiers"], ["rxb540_h11_S.1"])
        self.assertIsNone(self.tester.wait_for(lambda m: m.topic.endswith("/relay3/config") and "h11" in m.topic
                                               and m.payload, 0.3), "relays beyond relays are only cleared")
        self.expect("rxb540/h11/S.1/relay/1", "None")
        start = self.tester.mark()
        self.tester.publish("homeassistant/status", "online")
        self.expect(topic, lambda text: json.loads(text) == config, start)
        self.command("h11", "S.1/relay/2/set", "ON", expect_error="unknown")

    def test_info_names_pulse_button_and_relays_no_longer_bridged(self):
        version = subprocess.run([harness.PROGRAM, "--version"], stdout=subprocess.PIPE, text=True).stdout.split()[1]
        settings = "relays 3\npulse-ms 200\nboard S1 name Rack A\nboard S1 relay 1 Pump\n"
        bridge, _ = self.start("pb1", [board_line("S1"), board_line("S-2")], settings)
        info = json.loads(self.expect("rxb540/pb1/S1/info", lambda text: True).payload)
        self.assertEqual(info, {"name": "Rack A", "relays": 3, "relay_names": ["Pump", "Relay 2", "Relay 3"]})
        self.assertEqual(json.loads(self.expect("rxb540/pb1/S-2/info", lambda text: True).payload)["name"],
                         "RXB540 S-2 on pb1")
        switch = json.loads(self.expect("homeassistant/switch/rxb540_pb1_S1/relay1/config", lambda text: True).payload)
        button = json.loads(self.expect("homeassistant/button/rxb540_pb1_S1/relay1_pulse/config",
                                        lambda text: True).payload)
        self.assertEqual((switch["name"], switch["default_entity_id"], switch["object_id"]),
                         ("Pump", "switch.rxb540_pb1_s1_relay1", "rxb540_pb1_s1_relay1"))
        self.assertEqual(switch["origin"], {"name": "rxb540-mqtt", "sw": version})
        self.assertEqual((switch["device"]["name"], switch["device"]["manufacturer"], switch["device"]["sw_version"]),
                         ("Rack A", harness.MANUFACTURER, version))
        self.assertEqual((button["name"], button["payload_press"], button["default_entity_id"]),
                         ("Pump pulse", "PULSE", "button.rxb540_pb1_s1_relay1_pulse"))
        for key in ("command_topic", "availability", "availability_mode", "device", "origin"):
            self.assertEqual(button[key], switch[key], key)
        other = json.loads(self.expect("homeassistant/switch/rxb540_pb1_S-2/relay3/config", lambda text: True).payload)
        self.assertEqual(other["default_entity_id"], "switch.rxb540_pb1_s_2_relay3")
        start = self.tester.mark()
        self.tester.publish(button["command_topic"], button["payload_press"])
        self.expect("rxb540/pb1/S1/state", "1", start)
        self.expect("rxb540/pb1/S1/state", "0", start)

        self.assertEqual(bridge.stop(), 0)
        start = self.tester.mark()
        self.start("pb1", [board_line("S1"), board_line("S-2")], settings + "board S1 relays 1\n")
        self.expect("homeassistant/button/rxb540_pb1_S1/relay3_pulse/config", "", start)
        retained = self.retained("rxb540/pb1/#")
        self.assertEqual(sorted(t for t in retained if t.startswith("rxb540/pb1/S1/relay/")), ["rxb540/pb1/S1/relay/1"])
        self.assertIn("rxb540/pb1/S-2/relay/3", retained)
        self.assertEqual(json.loads(retained["rxb540/pb1/S1/info"])["relays"], 1)
        self.assertEqual(sorted(self.retained("homeassistant/+/rxb540_pb1_S1/#")),
                         ["homeassistant/button/rxb540_pb1_S1/relay1_pulse/config",
                          "homeassistant/switch/rxb540_pb1_S1/relay1/config"])

    def test_forget_clears_a_board_that_is_not_attached(self):
        _, host = self.start("fg1", [board_line("S1"), board_line("S2")], "relays 2\n")
        self.expect("homeassistant/button/rxb540_fg1_S1/relay2_pulse/config", lambda text: bool(text))
        self.command("fg1", "S1/set", "2")
        self.command("fg1", "S1/forget", "", expect_error="board S1 is attached")
        start = self.tester.mark()
        host.write([board_line("S2")])
        self.expect("rxb540/fg1/S1/availability", "offline", start)
        self.command("fg1", "S1/forget", "yes")
        self.expect("rxb540/fg1/boards", '["S2"]', start)
        self.assertEqual(self.retained("rxb540/fg1/S1/#"), {})
        self.assertEqual(self.retained("homeassistant/+/rxb540_fg1_S1/#"), {})
        self.assertIn("rxb540/fg1/S2/state", self.retained("rxb540/fg1/S2/#"))
        self.command("fg1", "S1/set", "1", expect_error="no board with the serial number S1")
        start = self.tester.mark()
        host.write([board_line("S2"), board_line("S1", "state=2")])
        self.expect("rxb540/fg1/S1/state", "0", start)  # a new board: nothing retained to restore


    def test_every_discovery_message_fits_home_assistants_documented_schema(self):
        start = self.tester.mark()
        self.start("ha1", [board_line("S.1"), board_line("S2")],
                   'board S.1 name Rack "A" \u00e9t\u00e9\nboard S.1 relay 8 Pump\\1\nboard S2 relays 3\n')
        topics = {"homeassistant/%s/rxb540_ha1_%s/relay%d%s/config" % (component, node, relay, suffix)
                  for component, suffix in (("switch", ""), ("button", "_pulse"))
                  for node, relays in (("S_1", 8), ("S2", 3)) for relay in range(1, relays + 1)}
        self.assertTrue(wait_until(lambda: topics <= {m.topic for m in self.tester.since(start)}, 5))
        for message in self.tester.since(start):
            if "/rxb540_ha1_" in message.topic and message.payload:
                with self.subTest(topic=message.topic):
                    component = message.topic.split("/")[1]
                    self.assertIn(message.topic, topics)
                    self.assertEqual(schema_faults(json.loads(message.payload), SCHEMAS[component]), [])

    def test_two_bridges_with_their_own_host_ids_on_one_broker(self):
        _, first = self.start("h12", [board_line("SAME")], "discovery-prefix none\n")
        _, second = self.start("h13", [board_line("SAME")], "discovery-prefix none\n")
        start = self.tester.mark()
        self.command("h13", "SAME/set", "12")
        self.expect("rxb540/h13/SAME/state", "12", start)
        self.assertEqual(second.state("SAME"), 12)
        self.assertEqual(first.state("SAME"), 0, "the other host's board of the same serial is untouched")
        time.sleep(1)
        for bridge in self.bridges:
            self.assertNotIn("lost the connection", bridge.log(), "no client id collision")


class Faults(BridgeCase):
    """The network's faults, made by a proxy between the bridge and the broker,
    and what another client may do on the broker."""

    def setUp(self):
        super().setUp()
        self.proxy = FaultProxy(BROKER.port)
        self.addCleanup(self.proxy.close)

    def test_a_new_connection_starts_from_the_snapshot_not_from_what_the_old_one_left(self):
        bridge, host = self.start("h15", [board_line("S1"), board_line("S2")], "discovery-prefix none\ninitial-state unknown\n",
                                  port=self.proxy.port)
        self.expect("rxb540/h15/S2/relay/8", "None")
        time.sleep(0.5)  # the first snapshot acknowledged
        self.proxy.hold()
        start = self.tester.mark()
        host.write([board_line("S1")])  # its offline and the shorter list reach the broker, unacknowledged
        self.expect("rxb540/h15/S2/availability", "offline", start)
        self.expect("rxb540/h15/boards", '["S1"]', start)
        self.proxy.drop(refuse=True)
        host.write([board_line("S1"), board_line("S2")])
        self.assertTrue(wait_until(lambda: bridge.log().count("board S2 is attached") == 2, 5), bridge.log())
        start = self.tester.mark()
        self.proxy.allow()
        self.expect("rxb540/h15/S2/availability", "online", start, timeout=10)
        time.sleep(1.5)  # anything the old connection left would come after the snapshot
        retained = self.retained("rxb540/h15/#")
        self.assertEqual((retained["rxb540/h15/S2/availability"], retained["rxb540/h15/S2/lwt"]), ("online", "Online"))
        self.assertEqual(retained["rxb540/h15/boards"], '["S1", "S2"]')
        health = json.loads(retained["rxb540/h15/health"])
        self.assertEqual((health["connects"], health["boards"]), (2, 2), health)

    def assert_ended_as_taken_over(self, bridge):
        try:
            status = bridge.process.wait(10)
        except subprocess.TimeoutExpired:
            self.fail("the bridge still runs; its log:\n" + bridge.log())
        self.assertEqual(status, 3, bridge.log())
        lines = [line for line in bridge.log().splitlines() if "another bridge" in line]
        self.assertEqual(len(lines), 1, bridge.log())
        self.assertIn("host-id %s" % bridge.host_id, lines[0])
        self.assertNotIn("next attempt", bridge.log())

    def test_a_session_taken_over_ends_the_bridge_with_status_3(self):
        bridge, _ = self.start("h18", [board_line("S1")], port=self.proxy.port)
        self.proxy.disconnect(0x8E)
        self.assert_ended_as_taken_over(bridge)

    @unittest.skipUnless(harness.mosquitto_version() >= (2, 0, 15),
                         "this mosquitto ends a taken-over connection without saying why (MQTT 5's DISCONNECT "
                         "with reason 0x8E comes from 2.0.15 on); the proxy's case stands in")
    def test_a_second_bridge_with_the_same_host_id_ends_the_first_with_status_3(self):
        first, _ = self.start("h16", [board_line("S1")])
        second, _ = self.start("h16", [board_line("S2")], name="h16-clone", wait=False)
        self.assert_ended_as_taken_over(first)
        time.sleep(1)
        self.assertIsNone(second.process.poll(), "the bridge that took over keeps running")
        self.assertEqual(self.retained("rxb540/h16/boards")["rxb540/h16/boards"], '["S2"]')

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("unshare") and shutil.which("mount"),
                         "needs root: the bridge gets a name server of its own (port 53, a mount namespace)")
    def test_a_broker_name_that_resolves_slowly_holds_up_neither_scans_nor_the_stop(self):
        silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # a name server that never answers
        self.addCleanup(silent.close)
        try:
            silent.bind(("127.0.0.153", 53))
        except OSError as error:
            self.skipTest("cannot listen on 127.0.0.153:53: %s" % error)
        resolv = os.path.join(FOLDER, "slow-resolv.conf")
        with open(resolv, "w") as out:
            out.write("nameserver 127.0.0.153\noptions timeout:6 attempts:1\n")
        own_resolver = ["unshare", "--mount", "--", "sh", "-c", 'mount --bind "$0" /etc/resolv.conf && exec "$@"',
                        resolv]
        bridge, host = self.start("h20", [board_line("S1")], "allow-plaintext-password yes\n", wait=False, broker_host="broker.slow.example",
                                  wrapper=own_resolver)
        self.assertTrue(wait_until(lambda: "board S1 is attached" in bridge.log(), 3), bridge.log())
        time.sleep(0.5)  # the lookup is under way
        plugged = time.monotonic()
        host.write([board_line("S1"), board_line("S2")])
        self.assertTrue(wait_until(lambda: "board S2 is attached" in bridge.log(), 5), bridge.log())
        self.assertLess(time.monotonic() - plugged, 2.5, "the scan waited for the lookup")
        stopping = time.monotonic()
        self.assertEqual(bridge.stop(signal.SIGTERM, timeout=20), 0)
        self.assertLess(time.monotonic() - stopping, 1.5, "the stop waited for the lookup")
        self.assertNotIn("cannot connect", bridge.log(), "the lookup was still under way")

    def test_a_huge_command_never_reaches_the_bridge(self):
        bridge, _ = self.start("h17", [board_line("S1")])
        before = harness.peak_memory(bridge.process.pid)
        start = self.tester.mark()
        self.tester.publish("rxb540/h17/S1/set", "7" * (8 << 20), timeout=30)
        self.command("h17", "S1/set", "x", expect_error="0 to 255")  # answered after the huge one
        self.assertEqual([e["payload"] for e in self.errors("h17", start)], ["x"])
        grown = harness.peak_memory(bridge.process.pid) - before
        self.assertLess(grown, 2 << 20, "peak memory grew by %d bytes" % grown)


class Service(BridgeCase):
    def test_readiness_status_and_watchdog_through_the_notification_socket(self):
        path = os.path.join(FOLDER, "notify.socket")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        listener.bind(path)
        self.addCleanup(listener.close)

        def lines(seconds):
            """(time, line) of every datagram received within seconds."""
            found, deadline = [], time.monotonic() + seconds
            while time.monotonic() < deadline:
                listener.settimeout(max(deadline - time.monotonic(), 0.01))
                try:
                    found += [(time.monotonic(), line) for line in listener.recv(4096).decode().splitlines()]
                except TimeoutError:
                    break
            return found

        with mock.patch.dict(os.environ, NOTIFY_SOCKET=path, WATCHDOG_USEC="400000"):
            bridge, host = self.start("svc1", [board_line("N1"), board_line("N2")])
        listener.settimeout(5)
        first = listener.recv(4096).decode().splitlines()
        self.assertEqual(first[0], "READY=1", "ready once the first scan is done")
        self.assertIn("STATUS=2 boards bridged to 127.0.0.1:%d (not connected)" % BROKER.port, first)
        self.expect("rxb540/svc1/N2/relay/8", "OFF")  # restored: the host file is not written again
        host.write([board_line("N1"), board_line("N2"), board_line("N3")])
        seen = lines(2.0)
        self.assertIn("STATUS=3 boards bridged to 127.0.0.1:%d" % BROKER.port, [line for _, line in seen])
        beats = [when for when, line in seen if line == "WATCHDOG=1"]
        self.assertGreaterEqual(len(beats), 6, "a keep-alive every half period of 0.4 s: %s" % seen)
        self.assertLess(max(b - a for a, b in zip(beats, beats[1:])), 0.4, "within the period")
        self.assertNotIn("READY=1", [line for _, line in seen], "ready once")
        self.assertEqual(bridge.stop(), 0)
        self.assertIn("STOPPING=1", [line for _, line in lines(0.5)])


if __name__ == "__main__":
    unittest.main(verbosity=2)
