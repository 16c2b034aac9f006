"""What the bridge's process tests stand on: a real mosquitto on loopback
ports chosen at run time (password file, ACL, a TLS listener with a throwaway
CA), simulated hosts whose boards the tests plug and unplug by rewriting the
host file, and rxb540-mqtt processes built on the simulated host."""

import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

from mqtt_client import Client

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


class Broker:
    """mosquitto with accounts tester (everything) and one per host-id, each
    confined by the ACL to rxb540/<its name>/# and Home Assistant's topics."""

    def __init__(self, folder, accounts):
        self.folder = folder
        self.log = os.path.join(folder, "broker.log")
        self.passwords = os.path.join(folder, "passwd")
        run(["mosquitto_passwd", "-c", "-b", self.passwords, "tester", TESTER_PASSWORD])
        for user, password in accounts.items():
            run(["mosquitto_passwd", "-b", self.passwords, user, password])
        self.acl = os.path.join(folder, "acl")
        with open(self.acl, "w") as out:
            out.write("user tester\ntopic readwrite #\n\n"
                      "pattern readwrite rxb540/%u/#\npattern readwrite homeassistant/#\n")
        ca_key, self.ca = make_ca(folder, "ca")
        self.key, self.cert = make_server_certificate(folder, ca_key, self.ca)
        self.wrong_ca = make_ca(folder, "wrong-ca")[1]
        self.process = None
        self.port = self.tls_port = None

    def start(self, keep_ports=False):
        for _ in range(10):
            if not keep_ports:
                self.port, self.tls_port = free_port(), free_port()
            config = os.path.join(self.folder, "broker.conf")
            with open(config, "w") as out:
                out.write("per_listener_settings false\nallow_anonymous false\npersistence false\nuser root\n"
                          "password_file %s\nacl_file %s\nlog_dest file %s\nlog_type all\n"
                          "listener %d 127.0.0.1\nlistener %d 127.0.0.1\ncafile %s\ncertfile %s\nkeyfile %s\n"
                          % (self.passwords, self.acl, self.log, self.port, self.tls_port, self.ca, self.cert,
                             self.key))
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


def board_line(serial, extra=""):
    text = "vid=0x16c0 pid=0x05df manufacturer=%s product=RXB540" % MANUFACTURER
    if serial is not None:
        text += " serial=" + serial
    return text + (" " + extra if extra else "")


class Host:
    """A simulated host: its file, rewritten whole and renamed into place as a
    plug or an unplug, and its log of HID calls."""

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
    def __init__(self, folder, host, host_id, broker_port, settings=""):
        self.folder, self.host, self.host_id = folder, host, host_id
        self.config = os.path.join(folder, host_id + ".conf")
        self.stderr_path = os.path.join(folder, host_id + ".stderr")
        with open(self.config, "w") as out:
            out.write("broker-host 127.0.0.1\nbroker-port %d\nhost-id %s\nrescan-interval 1\n%s"
                      % (broker_port, host_id, settings))
        env = dict(os.environ, RXB540_SIM_HOST=host.path, RXB540_SIM_LOG=host.log)
        self.stderr = open(self.stderr_path, "w")
        wrapper = os.environ.get("RXB540_TEST_WRAPPER", "").split()
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


def report(message):
    sys.stderr.write(message + "\n")


def temporary_folder():
    return tempfile.mkdtemp(prefix="rxb540-mqtt-test.")


def user_password(folder, user, password):
    path = os.path.join(folder, user + ".password")
    write_private(path, password + "\n")
    return path
