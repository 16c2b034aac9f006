"""What the bridge's process tests stand on: a real mosquitto on loopback
ports chosen at run time (password file, ACL, a TLS listener with a throwaway
CA), an MQTT client on Debian's paho-mqtt (1.6 and 2.x), simulated hosts
whose boards the tests plug and unplug by rewriting the host file, and
rxb540-mqtt processes built on the simulated host."""

import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import paho.mqtt.client as paho

PROGRAM = os.environ.get("RXB540_MQTT_PROGRAM", "")
MANUFACTURER = os.environ.get("RXB540_TEST_MANUFACTURER", "example.com")
TESTER_PASSWORD = "tester-pw"
# RXB540_TEST_WRAPPER: a command that the bridge runs under (valgrind).
WRAPPED = bool(os.environ.get("RXB540_TEST_WRAPPER", "").split())


def run(argv):
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(argv), result.stdout))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_private(path, text):
    with open(path, "w") as out:
        out.write(text)
    os.chmod(path, 0o600)


def make_ca(folder, name):
    """A throwaway CA; with server, also a certificate for 127.0.0.1 signed by it."""
    key, cert = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".crt")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=" + name, "-keyout", key, "-out", cert])
    return key, cert


def make_server_certificate(folder, ca_key, ca_cert):
    key, csr, cert = (os.path.join(folder, "server." + ext) for ext in ("key", "csr", "crt"))
    ext = os.path.join(folder, "server.ext")
    with open(ext, "w") as out:
        out.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", key,
         "-out", csr])
    run(["openssl", "x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial",
         "-days", "2", "-extfile", ext, "-out", cert])
    return key, cert


class Message:
    def __init__(self, topic, payload, retain, when):
        self.topic = topic
        self.payload = payload
        self.retain = retain
        self.when = when

    def __repr__(self):
        return "%s%s=%r" % (self.topic, " (retained)" if self.retain else "", self.payload)


class Client:
    """One MQTT 3.1.1 connection (clean session) on paho's own network thread.
    messages grows as messages arrive, each with its retain flag and payload
    as Latin-1 text; publish and subscribe wait for the broker's
    acknowledgement. return_code is the broker's answer to the connection,
    0 when it was accepted."""

    def __init__(self, port, client_id, username=None, password=None, tls_context=None, timeout=5.0):
        if hasattr(paho, "CallbackAPIVersion"):  # paho 2.x
            self.client = paho.Client(paho.CallbackAPIVersion.VERSION2, client_id=client_id,
                                      protocol=paho.MQTTv311)
        else:
            self.client = paho.Client(client_id=client_id, protocol=paho.MQTTv311)
        self.messages = []
        self.cond = threading.Condition()
        self.acks = set()
        self.return_code = None
        # The callbacks take the arguments of both callback interfaces: the
        # fourth of on_connect is the broker's code, the third of on_publish
        # and on_subscribe the packet id.
        self.client.on_connect = self._on_connect
        self.client.on_message = self._on_message
        self.client.on_publish = self.client.on_subscribe = self._on_ack
        if username is not None:
            self.client.username_pw_set(username, password)
        if tls_context is not None:
            self.client.tls_set_context(tls_context)
        self.client.connect("127.0.0.1", port, keepalive=60)
        self.client.loop_start()
        with self.cond:
            if not self.cond.wait_for(lambda: self.return_code is not None, timeout):
                self.close()
                raise TimeoutError("no answer to the connection within %.1f s" % timeout)
        if self.return_code != 0:
            self.close()

    def _on_connect(self, client, userdata, flags, code, *rest):
        with self.cond:
            self.return_code = int(getattr(code, "value", code))
            self.cond.notify_all()

    def _on_message(self, client, userdata, message):
        with self.cond:
            self.messages.append(Message(message.topic, message.payload.decode("latin-1"), bool(message.retain),
                                         time.monotonic()))
            self.cond.notify_all()

    def _on_ack(self, client, userdata, message_id, *rest):
        with self.cond:
            self.acks.add(message_id)
            self.cond.notify_all()

    def _wait_ack(self, message_id, timeout):
        with self.cond:
            if not self.cond.wait_for(lambda: message_id in self.acks, timeout):
                raise TimeoutError("no acknowledgement of packet %d" % message_id)

    def subscribe(self, topic_filter):
        result, message_id = self.client.subscribe(topic_filter, qos=1)
        if result != paho.MQTT_ERR_SUCCESS:
            raise RuntimeError("cannot subscribe to %s: %s" % (topic_filter, paho.error_string(result)))
        self._wait_ack(message_id, 5.0)

    def publish(self, topic, payload, retain=False, qos=1, timeout=5.0):
        data = payload.encode("latin-1") if isinstance(payload, str) else payload
        info = self.client.publish(topic, data, qos=qos, retain=retain)
        if info.rc != paho.MQTT_ERR_SUCCESS:
            raise RuntimeError("cannot publish to %s: %s" % (topic, paho.error_string(info.rc)))
        if qos:
            self._wait_ack(info.mid, timeout)

    def wait_for(self, predicate, timeout=5.0, start=0):
        """The first message from index start on for which predicate holds, or None."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for message in self.messages[start:]:
                    if predicate(message):
                        return message
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self.cond.wait(remaining)

    def mark(self):
        with self.cond:
            return len(self.messages)

    def since(self, start):
        with self.cond:
            return list(self.messages[start:])

    def close(self):
        self.client.disconnect()
        self.client.loop_stop()


class Broker:
    """mosquitto with accounts tester (everything) and one per host-id, each
    confined by the ACL to rxb540/<its name>/# and Home Assistant's topics.
    acl_extra is added to the ACL; listener_extra, with {ws_port} for a port
    chosen at each start (ws_port), is added to the configuration."""

    def __init__(self, folder, accounts, acl_extra="", listener_extra=""):
        self.folder = folder
        self.log = os.path.join(folder, "broker.log")
        self.passwords = os.path.join(folder, "passwd")
        run(["mosquitto_passwd", "-c", "-b", self.passwords, "tester", TESTER_PASSWORD])
        for user, password in accounts.items():
            run(["mosquitto_passwd", "-b", self.passwords, user, password])
        self.acl = os.path.join(folder, "acl")
        with open(self.acl, "w") as out:
            out.write("user tester\ntopic readwrite #\n\n"
                      "pattern readwrite rxb540/%u/#\npattern readwrite homeassistant/#\n" + acl_extra)
        ca_key, self.ca = make_ca(folder, "ca")
        self.key, self.cert = make_server_certificate(folder, ca_key, self.ca)
        self.wrong_ca = make_ca(folder, "wrong-ca")[1]
        self.listener_extra = listener_extra
        self.process = None
        self.port = self.tls_port = self.ws_port = None

    def start(self, keep_ports=False):
        for _ in range(10):
            if not keep_ports:
                self.port, self.tls_port, self.ws_port = free_port(), free_port(), free_port()
            config = os.path.join(self.folder, "broker.conf")
            with open(config, "w") as out:
                out.write("per_listener_settings false\nallow_anonymous false\npersistence false\nuser root\n"
                          "password_file %s\nacl_file %s\nlog_dest file %s\nlog_type all\n"
                          "listener %d 127.0.0.1\nlistener %d 127.0.0.1\ncafile %s\ncertfile %s\nkeyfile %s\n"
                          % (self.passwords, self.acl, self.log, self.port, self.tls_port, self.ca, self.cert,
                             self.key))
                out.write(self.listener_extra.format(ws_port=self.ws_port))
            self.process = subprocess.Popen(["mosquitto", "-c", config], stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and self.process.poll() is None:
                try:
                    socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                    return
                except OSError:
                    time.sleep(0.05)
            self.stop()
            if "Address already in use" not in self.read_log():
                raise RuntimeError("mosquitto did not start; its log:\n" + self.read_log()[-2000:])
        raise RuntimeError("no free loopback ports for mosquitto after 10 tries")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(5)
        self.process = None

    def read_log(self):
        try:
            with open(self.log, errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def tester(self):
        client = Client(self.port, "tester-%d-%f" % (os.getpid(), time.monotonic()), "tester", TESTER_PASSWORD)
        if client.return_code != 0:
            raise RuntimeError("the broker refused the tester: code %d" % client.return_code)
        return client


def mosquitto_version():
    """The broker's version as a tuple of numbers, (0,) when it does not say."""
    result = subprocess.run(["mosquitto", "-h"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    words = result.stdout.split()
    if "version" in words and words.index("version") + 1 < len(words):
        text = words[words.index("version") + 1]
        if all(part.isdigit() for part in text.split(".")):
            return tuple(int(part) for part in text.split("."))
    return (0,)


def board_line(serial, extra=""):
    text = "vid=0x16c0 pid=0x05df manufacturer=%s product=RXB540" % MANUFACTURER
    if serial is not None:
        text += " serial=" + serial
    return text + (" " + extra if extra else "")


class Host:
    """A simulated host: its file, rewritten whole and renamed into place as a
    plug or an unplug, and its log of HID calls. A bridge that writes a state
    rewrites the file as well: a test rewrites it only after the bridge's
    writes under way have shown on the broker (a bridge restores each board
    it first sees once connected)."""

    def __init__(self, folder, name, lines):
        self.path = os.path.join(folder, name + ".host")
        self.log = os.path.join(folder, name + ".log")
        self.write(lines)

    def write(self, lines):
        temporary = self.path + ".new"
        with open(temporary, "w") as out:
            out.write("# keyboard first, then the boards\nvid=0x046d pid=0xc31c manufacturer=Logitech product=Keyboard\n")
            out.write("".join(line + "\n" for line in lines))
        os.rename(temporary, self.path)

    def state(self, serial):
        with open(self.path) as host:
            for line in host:
                fields = dict(field.split("=", 1) for field in line.split() if "=" in field)
                if fields.get("serial") == serial:
                    return int(fields.get("state", "0"))
        raise KeyError(serial)

    def reports(self):
        """The feature reports sent so far (lines of the log)."""
        try:
            with open(self.log) as log:
                return [line.strip() for line in log if line.startswith("feature ")]
        except FileNotFoundError:
            return []


class Bridge:
    """name (the host-id unless given) names the bridge's files; wrapper is a
    command that the bridge runs under."""

    def __init__(self, folder, host, host_id, broker_port, settings="", name=None, broker_host="127.0.0.1",
                 wrapper=()):
        self.folder, self.host, self.host_id = folder, host, host_id
        self.config = os.path.join(folder, (name or host_id) + ".conf")
        self.stderr_path = os.path.join(folder, (name or host_id) + ".stderr")
        with open(self.config, "w") as out:
            out.write("broker-host %s\nbroker-port %d\nhost-id %s\nrescan-interval 1\n%s"
                      % (broker_host, broker_port, host_id, settings))
        env = dict(os.environ, RXB540_SIM_HOST=host.path, RXB540_SIM_LOG=host.log)
        self.stderr = open(self.stderr_path, "w")
        wrapper = list(wrapper) + os.environ.get("RXB540_TEST_WRAPPER", "").split()
        self.process = subprocess.Popen(wrapper + [PROGRAM, "--config", self.config], env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr)

    def stop(self, sig=signal.SIGTERM, timeout=5):
        """Sends sig and returns the exit status (negative: the signal that ended it)."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("rxb540-mqtt %s did not end within %d s of signal %d"
                                 % (self.host_id, timeout, sig))
        finally:
            self.stderr.close()
        return status

    def log(self):
        with open(self.stderr_path, errors="replace") as log:
            return log.read()


def wait_until(condition, timeout):
    """Whether condition() became true within timeout seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.05)
    return True


def peak_memory(pid):
    """The process's peak resident memory in bytes (VmHWM)."""
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM for process %d" % pid)


def report(message):
    sys.stderr.write(message + "\n")


def temporary_folder():
    return tempfile.mkdtemp(prefix="rxb540-mqtt-test.")


def user_password(folder, user, password):
    path = os.path.join(folder, user + ".password")
    write_private(path, password + "\n")
    return path
