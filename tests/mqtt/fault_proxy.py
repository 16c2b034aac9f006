"""A TCP proxy between a bridge and the broker that produces the network's
faults on demand: it holds back what the broker sends (its
acknowledgements, say) while the bridge's packets still reach the broker,
drops every connection at once, refuses new connections for a while, and
ends a connection the way a broker does (an MQTT 5 DISCONNECT with its
reason code) where the broker itself would not say why."""

import socket
import threading


class FaultProxy:
    def __init__(self, broker_port):
        self.broker_port = broker_port
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.connections = []  # (bridge side, broker side, the gate of the broker's direction)
        self.refusing = False
        self.accepted = 0
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                near, _ = self.listener.accept()
            except OSError:
                return  # closed
            with self.lock:
                refusing = self.refusing
                self.accepted += 1
            if refusing:
                near.close()
                continue
            try:
                far = socket.create_connection(("127.0.0.1", self.broker_port), timeout=5)
                far.settimeout(None)
            except OSError:
                near.close()
                continue
            gate = threading.Event()
            gate.set()
            with self.lock:
                self.connections.append((near, far, gate))
            threading.Thread(target=self._pump, args=(near, far, None), daemon=True).start()
            threading.Thread(target=self._pump, args=(far, near, gate), daemon=True).start()

    @staticmethod
    def _pump(source, target, gate):
        try:
            while True:
                if gate is not None:
                    gate.wait()  # while held, the broker's bytes wait in the socket
                data = source.recv(65536)
                if not data:
                    break
                target.sendall(data)
        except OSError:
            pass
        for side in (source, target):
            try:
                side.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def hold(self):
        """From now on nothing the broker sends on the open connections reaches the bridge."""
        with self.lock:
            for _, _, gate in self.connections:
                gate.clear()

    def drop(self, refuse=False):
        """Ends every connection (what was held back is lost); with refuse,
        new connections are closed as soon as they are accepted, until allow."""
        with self.lock:
            self.refusing = refuse
            connections, self.connections = self.connections, []
        for near, far, gate in connections:
            for side in (near, far):
                try:
                    side.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                side.close()
            gate.set()

    def disconnect(self, reason):
        """Sends the bridge the broker's DISCONNECT with reason, then drops the connections."""
        with self.lock:
            connections = list(self.connections)
        for near, _, _ in connections:
            near.sendall(bytes([0xE0, 1, reason]))
        self.drop()

    def allow(self):
        with self.lock:
            self.refusing = False

    def close(self):
        try:
            self.listener.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        self.listener.close()
        self.drop()
