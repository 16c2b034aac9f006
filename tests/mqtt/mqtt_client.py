"""A small MQTT 3.1.1 client for the bridge's tests: connect (plain or TLS),
subscribe, publish at QoS 0 or 1, and a record of every message received,
retain flag included. Python's standard library only."""

import socket
import ssl
import struct
import threading
import time


def _encode_length(length):
    out = bytearray()
    while True:
        byte = length % 128
        length //= 128
        out.append(byte | (0x80 if length else 0))
        if not length:
            return bytes(out)


def _text(value):
    data = value.encode() if isinstance(value, str) else value
    return struct.pack("!H", len(data)) + data


class Message:
    def __init__(self, topic, payload, retain, when):
        self.topic = topic
        self.payload = payload
        self.retain = retain
        self.when = when

    def __repr__(self):
        return "%s%s=%r" % (self.topic, " (retained)" if self.retain else "", self.payload)


class Client:
    """One connection. messages grows as messages arrive (from a reader thread)."""

    def __init__(self, port, client_id, username=None, password=None, tls_context=None, timeout=5.0):
        raw = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sock = tls_context.wrap_socket(raw, server_hostname="localhost") if tls_context else raw
        self.messages = []
        self.cond = threading.Condition()
        self.next_id = 1
        self.acks = set()
        flags = 0x02  # clean session
        body = _text("MQTT") + bytes([4])
        payload = _text(client_id)
        if username is not None:
            flags |= 0x80
            payload += _text(username)
        if password is not None:
            flags |= 0x40
            payload += _text(password)
        body += bytes([flags]) + struct.pack("!H", 60) + payload
        self._send(0x10, body)
        header, data = self._read_packet()
        if header & 0xF0 != 0x20:
            raise RuntimeError("expected CONNACK, got packet type %#x" % header)
        self.return_code = data[1]
        if self.return_code != 0:
            self.sock.close()
            return
        self.sock.settimeout(None)
        self.reader = threading.Thread(target=self._read_loop, daemon=True)
        self.reader.start()

    def _send(self, header, body):
        self.sock.sendall(bytes([header]) + _encode_length(len(body)) + body)

    def _read_exact(self, count):
        data = b""
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                raise EOFError("connection closed")
            data += chunk
        return data

    def _read_packet(self):
        header = self._read_exact(1)[0]
        length, shift = 0, 0
        while True:
            byte = self._read_exact(1)[0]
            length |= (byte & 0x7F) << shift
            shift += 7
            if not byte & 0x80:
                break
        return header, self._read_exact(length)

    def _read_loop(self):
        try:
            while True:
                header, body = self._read_packet()
                kind = header & 0xF0
                if kind == 0x30:
                    qos = (header >> 1) & 3
                    topic_length = struct.unpack("!H", body[:2])[0]
                    topic = body[2 : 2 + topic_length].decode()
                    rest = body[2 + topic_length :]
                    if qos:
                        message_id = rest[:2]
                        rest = rest[2:]
                        self._send(0x40, message_id)
                    with self.cond:
                        self.messages.append(Message(topic, rest.decode("latin-1"), bool(header & 1), time.monotonic()))
                        self.cond.notify_all()
                elif kind in (0x40, 0x90):
                    with self.cond:
                        self.acks.add(struct.unpack("!H", body[:2])[0])
                        self.cond.notify_all()
        except (EOFError, OSError, ssl.SSLError):
            pass

    def _new_id(self):
        message_id = self.next_id
        self.next_id += 1
        return message_id

    def _wait_ack(self, message_id, timeout=5.0):
        with self.cond:
            if not self.cond.wait_for(lambda: message_id in self.acks, timeout):
                raise TimeoutError("no acknowledgement of packet %d" % message_id)

    def subscribe(self, topic_filter):
        message_id = self._new_id()
        self._send(0x82, struct.pack("!H", message_id) + _text(topic_filter) + bytes([1]))
        self._wait_ack(message_id)

    def publish(self, topic, payload, retain=False, qos=1):
        data = payload.encode("latin-1") if isinstance(payload, str) else payload
        if qos:
            message_id = self._new_id()
            self._send(0x32 | int(retain), _text(topic) + struct.pack("!H", message_id) + data)
            self._wait_ack(message_id)
        else:
            self._send(0x30 | int(retain), _text(topic) + data)

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
        try:
            self._send(0xE0, b"")
        except OSError:
            pass
        self.sock.close()
