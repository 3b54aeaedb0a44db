"""A KNXnet/IP tunnelling gateway on 127.0.0.1 whose misbehaviour a fault test controls.

It answers CONNECT, TUNNELLING, CONNECTIONSTATE and DISCONNECT requests like a well-behaved
gateway, serving any number of connections, until the test tells it to fall silent or to go away;
it can push telegrams or arbitrary datagrams at a connected client. Everything stays on loopback.
"""

import socket
import struct
import threading
import time

CONNECT_REQUEST = 0x0205
CONNECT_RESPONSE = 0x0206
CONNECTIONSTATE_REQUEST = 0x0207
CONNECTIONSTATE_RESPONSE = 0x0208
DISCONNECT_REQUEST = 0x0209
DISCONNECT_RESPONSE = 0x020A
TUNNELLING_REQUEST = 0x0420
TUNNELLING_ACK = 0x0421


def frame(service: int, body: bytes) -> bytes:
    return struct.pack(">BBHH", 0x06, 0x10, service, 6 + len(body)) + body


def group_raw(text: str) -> int:
    main, middle, sub = (int(part) for part in text.split("/"))
    return (main << 11) | (middle << 8) | sub


def individual_raw(text: str) -> int:
    area, line, device = (int(part) for part in text.split("."))
    return (area << 12) | (line << 8) | device


def group_write_cemi(source: str, destination: str, value: int) -> bytes:
    """An L_Data.ind GroupValueWrite carrying a 6-bit value inside the APCI octet."""
    return bytes([0x29, 0x00, 0xBC, 0xE0]) + struct.pack(
        ">HHBBB", individual_raw(source), group_raw(destination), 1, 0x00, 0x80 | (value & 0x3F)
    )


class FaultGateway:
    """One UDP socket on 127.0.0.1 and a thread answering on it."""

    def __init__(self, assigned: str = "1.1.200"):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(0.05)
        self.port = self.socket.getsockname()[1]
        self.assigned = individual_raw(assigned)
        self.answering = True
        self.lock = threading.Lock()
        self.clients = {}  # channel -> the client's address
        self.next_channel = 1
        self.sequence = {}  # channel -> our next sequence number towards the client
        self.received = []  # (service, body) of every datagram heard
        self.acks_from_client = []  # (channel, sequence) of the client's TUNNELLING_ACKs
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, name="fault-gateway", daemon=True)
        self._thread.start()

    # -- for the test -------------------------------------------------------------------------

    def options(self, ack_timeout_ms: int = 300, **extra) -> dict:
        return {
            "server_control_endpoint": f"127.0.0.1:{self.port}",
            "local_bind_endpoint": "127.0.0.1:0",
            "ack_timeout_ms": ack_timeout_ms,
            **extra,
        }

    def silence(self) -> None:
        """Keep receiving, answer nothing."""
        self.answering = False

    def go_away(self) -> None:
        """Stop and close the socket, as a gateway that was switched off."""
        self._stop.set()
        self._thread.join(timeout=5)
        self.socket.close()

    def latest_client(self):
        with self.lock:
            channel = max(self.clients)
            return channel, self.clients[channel]

    def send_raw(self, datagram: bytes, to=None) -> None:
        if to is None:
            to = self.latest_client()[1]
        self.socket.sendto(datagram, to)

    def push_group_write(self, destination: str, value: int, source: str = "1.1.5") -> None:
        """A TUNNELLING_REQUEST carrying an indicated GroupValueWrite to the latest client."""
        _, address, _, datagram = self._next_group_write(destination, value, source)
        self.socket.sendto(datagram, address)

    def push_group_write_acknowledged(self, destination: str, value: int, timeout: float = 3.0) -> bool:
        """Push a GroupValueWrite and wait for the client's acknowledgement of it.

        Like a real gateway, which sends its next request only once the last one is answered
        and repeats an unanswered one, this keeps a flood from outrunning the client's socket
        buffer: the kernel drops what does not fit, and a test that counts deliveries would then
        be measuring the scheduler rather than the client."""
        channel, address, sequence, datagram = self._next_group_write(destination, value, "1.1.5")
        with self.lock:
            seen = self.acks_from_client.count((channel, sequence))
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.socket.sendto(datagram, address)
            if self.wait_for(lambda: self.acks_from_client.count((channel, sequence)) > seen, 1.0):
                return True
        return False

    def _next_group_write(self, destination: str, value: int, source: str):
        channel, address = self.latest_client()
        with self.lock:
            sequence = self.sequence[channel]
            self.sequence[channel] = (sequence + 1) & 0xFF
        body = bytes([0x04, channel, sequence, 0x00]) + group_write_cemi(source, destination, value)
        return channel, address, sequence, frame(TUNNELLING_REQUEST, body)

    def services(self):
        with self.lock:
            return [service for service, _ in self.received]

    def wait_for(self, predicate, timeout: float = 3.0) -> bool:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return True
            time.sleep(0.01)
        return predicate()

    def close(self) -> None:
        if not self._stop.is_set():
            self.go_away()

    # -- the gateway itself -------------------------------------------------------------------

    def _serve(self) -> None:
        while not self._stop.is_set():
            try:
                datagram, sender = self.socket.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            if len(datagram) < 6:
                continue
            service, total = struct.unpack(">HH", datagram[2:6])
            body = datagram[6:total]
            with self.lock:
                self.received.append((service, body))
                if service == TUNNELLING_ACK and len(body) >= 4:
                    self.acks_from_client.append((body[1], body[2]))
            if self.answering:
                try:
                    self._answer(service, body, sender)
                except OSError:
                    return

    def _answer(self, service: int, body: bytes, sender) -> None:
        if service == CONNECT_REQUEST:
            with self.lock:
                channel = self.next_channel
                self.next_channel = self.next_channel % 255 + 1
                self.clients[channel] = sender
                self.sequence[channel] = 0
            hpai = bytes([0x08, 0x01, 127, 0, 0, 1]) + struct.pack(">H", self.port)
            crd = bytes([0x04, 0x04]) + struct.pack(">H", self.assigned)
            self.socket.sendto(frame(CONNECT_RESPONSE, bytes([channel, 0x00]) + hpai + crd), sender)
        elif service == TUNNELLING_REQUEST and len(body) >= 4:
            channel, sequence = body[1], body[2]
            ack = frame(TUNNELLING_ACK, bytes([0x04, channel, sequence, 0x00]))
            self.socket.sendto(ack, sender)
        elif service == CONNECTIONSTATE_REQUEST and len(body) >= 1:
            self.socket.sendto(frame(CONNECTIONSTATE_RESPONSE, bytes([body[0], 0x00])), sender)
        elif service == DISCONNECT_REQUEST and len(body) >= 1:
            self.socket.sendto(frame(DISCONNECT_RESPONSE, bytes([body[0], 0x00])), sender)
