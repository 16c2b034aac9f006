"""rxb540-mqtt benchmarks on the simulated host (bench/mqtt.sh runs this).

1. Latency from a command's publish to the bridge's state message (sent
   after the board took the report), p50 and p99, and commands per second,
   side by side with the script a user would otherwise write:
   mosquitto_sub -t ... | while read s; do rxb540-sim set SERIAL "$s"; done
   whose latency is taken from the publish to the report in the simulated
   host's log.
2. A fleet: many bridges with several boards each on one broker, commands
   spread over all boards: every one applied, p99 latency, resident memory
   per bridge.

Prints Markdown to standard output. Needs python3-paho-mqtt, as the tests do."""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "mqtt"))
import harness  # noqa: E402
from harness import board_line  # noqa: E402
from harness import Client  # noqa: E402

BRIDGE = os.environ["RXB540_MQTT_PROGRAM"]
SIM = os.environ["RXB540_SIM_PROGRAM"]
SCALE = int(os.environ.get("BENCH_SCALE", "1"))


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def start_broker(folder):
    port = harness.free_port()
    config = os.path.join(folder, "broker.conf")
    with open(config, "w") as out:
        out.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\n"
                  "max_queued_messages 100000\n" % port)
    process = subprocess.Popen(["mosquitto", "-c", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        try:
            client = Client(port, "probe")
            client.close()
            return process, port
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("mosquitto did not start")


def start_bridge(folder, host_id, port, boards):
    host = harness.Host(folder, host_id, [board_line(serial) for serial in boards])
    config = os.path.join(folder, host_id + ".conf")
    with open(config, "w") as out:
        out.write("broker-host 127.0.0.1\nbroker-port %d\nhost-id %s\nrescan-interval 5\n"
                  "discovery-prefix none\n" % (port, host_id))
    env = dict(os.environ, RXB540_SIM_HOST=host.path, RXB540_SIM_LOG=host.log)
    process = subprocess.Popen([BRIDGE, "--config", config], env=env, stdout=subprocess.DEVNULL,
                               stderr=open(os.path.join(folder, host_id + ".stderr"), "w"))
    return process, host


def wait_online(client, host_ids, timeout=30):
    pending = set("rxb540/%s/status" % host_id for host_id in host_ids)
    deadline = time.monotonic() + timeout
    while pending and time.monotonic() < deadline:
        found = client.wait_for(lambda m: m.topic in pending and m.payload == "online", 1)
        if found:
            pending.discard(found.topic)
    if pending:
        raise RuntimeError("bridges not online: %s" % sorted(pending)[:5])


def count_reports(log):
    try:
        with open(log) as lines:
            return sum(1 for line in lines if line.startswith("feature "))
    except FileNotFoundError:
        return 0


def timed_reports(client, topic, log, rounds):
    """Latency of each of rounds commands, one at a time: from the publish to
    the report in the simulated host's log."""
    latencies = []
    for i in range(rounds):
        before = count_reports(log)
        sent = time.monotonic()
        client.publish(topic, str(i % 256), qos=0)
        while count_reports(log) == before:
            if time.monotonic() - sent > 5:
                raise RuntimeError("command %d on %s not applied" % (i, topic))
            time.sleep(0.0002)
        latencies.append(time.monotonic() - sent)
    return latencies


def report_rate(client, topic, log, count):
    """Commands per second with count commands published back to back."""
    before = count_reports(log)
    began = time.monotonic()
    for i in range(count):
        client.publish(topic, str(i % 256), qos=0)
    while count_reports(log) < before + count and time.monotonic() - began < 120:
        time.sleep(0.002)
    return (count_reports(log) - before) / (time.monotonic() - began), count_reports(log) - before


def script_run(folder, port, rounds, rate_count):
    """The shell loop a user would write, timed the same way."""
    host = harness.Host(folder, "script", [board_line("S1")])
    env = dict(os.environ, RXB540_SIM_HOST=host.path, RXB540_SIM_LOG=host.log)
    loop = subprocess.Popen(
        ["sh", "-c", 'mosquitto_sub -h 127.0.0.1 -p %d -t script/set | while read s; do "%s" set S1 "$s"; done'
         % (port, SIM)], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    client = Client(port, "script-driver")
    time.sleep(0.5)  # mosquitto_sub subscribes
    latencies = timed_reports(client, "script/set", host.log, rounds)
    rate, _ = report_rate(client, "script/set", host.log, rate_count)
    client.close()
    os.killpg(loop.pid, 15)
    loop.wait()
    return latencies, rate


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    folder = tempfile.mkdtemp(prefix="rxb540-mqtt-bench.")
    broker, port = start_broker(folder)
    processes = []
    try:
        rounds, rate_count = 400 // SCALE, 2000 // SCALE
        client = Client(port, "bench")
        client.subscribe("rxb540/#")
        process, single = start_bridge(folder, "single", port, ["S1"])
        processes.append(process)
        wait_online(client, ["single"])
        bridge_lat = timed_reports(client, "rxb540/single/S1/set", single.log, rounds)
        bridge_cps, applied = report_rate(client, "rxb540/single/S1/set", single.log, rate_count)
        script_lat, script_cps = script_run(folder, port, rounds // 4, rate_count // 10)

        print("### 1. One bridge, one board: publish to report\n")
        print("Latency: from the publish of a command to its report in the simulated host's log.\n")
        print("%d sequential commands for latency, %d (bridge) and %d (script) back to back for the rate.\n"
              % (rounds, rate_count, rate_count // 10))
        print("| | p50 latency | p99 latency | commands per second |")
        print("|---|---|---|---|")
        print("| rxb540-mqtt | %.2f ms | %.2f ms | %.0f |" % (1000 * percentile(bridge_lat, 0.5),
                                                           1000 * percentile(bridge_lat, 0.99), bridge_cps))
        print("| `mosquitto_sub … \\| while read s; do rxb540-sim set …; done` | %.2f ms | %.2f ms | %.0f |"
              % (1000 * percentile(script_lat, 0.5), 1000 * percentile(script_lat, 0.99), script_cps))
        print("\nBridge / script rate: %.1f×; bridge commands applied in the rate run: %d of %d.\n"
              % (bridge_cps / script_cps, applied, rate_count))

        bridges, boards, commands = 50 // SCALE, 4, 1000 // SCALE
        ids = ["fleet%02d" % n for n in range(bridges)]
        hosts = {}
        for host_id in ids:
            process, host = start_bridge(folder, host_id, port, ["B%d" % b for b in range(boards)])
            processes.append(process)
            hosts[host_id] = (process, host)
        wait_online(client, ids, timeout=60)
        time.sleep(1)
        latencies = []
        expected = {}
        for i in range(commands):
            host_id = ids[i % bridges]
            serial = "B%d" % ((i // bridges) % boards)
            state = (i * 7) % 256
            log = hosts[host_id][1].log
            before = count_reports(log)
            sent = time.monotonic()
            client.publish("rxb540/%s/%s/set" % (host_id, serial), str(state), qos=1)
            while count_reports(log) == before and time.monotonic() - sent < 5:
                time.sleep(0.0002)
            if count_reports(log) > before:
                latencies.append(time.monotonic() - sent)
            expected[(host_id, serial)] = state
        time.sleep(0.5)  # the simulated host logs a report before it rewrites its file
        applied_right = sum(1 for (host_id, serial), state in expected.items()
                            if hosts[host_id][1].state(serial) == state)
        rss = [resident_kib(hosts[host_id][0].pid) for host_id in ids]
        print("### 2. A fleet: %d bridges × %d simulated boards on one broker\n" % (bridges, boards))
        print("| commands | reports taken | boards with the last state written | p50 | p99 |"
              " resident memory per bridge (mean, max) |")
        print("|---|---|---|---|---|---|")
        print("| %d | %d | %d of %d | %.2f ms | %.2f ms | %.0f KiB, %d KiB |"
              % (commands, len(latencies), applied_right, len(expected), 1000 * percentile(latencies, 0.5),
                 1000 * percentile(latencies, 0.99), statistics.mean(rss), max(rss)))
        client.close()
    finally:
        for process in processes:
            process.terminate()
        for process in processes:
            process.wait()
        broker.terminate()
        broker.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
