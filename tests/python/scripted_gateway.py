"""A KNXnet/IP tunnelling gateway driven by the test: it answers CONNECT_REQUEST, records every
TUNNELLING_REQUEST it receives, and acknowledges them only while `acknowledge` is set."""

import socket
import threading


def header(service: int, body_length: int) -> bytes:
    return bytes([0x06, 0x10]) + service.to_bytes(2, "big") + (6 + body_length).to_bytes(2, "big")


class ScriptedGateway:
    CHANNEL = 7
    INDIVIDUAL_ADDRESS = bytes([0x11, 0x05])  # 1.1.5

    def __init__(self, acknowledge: bool = True):
        self.acknowledge = acknowledge
        self.requests = []  # (sequence, cEMI octets) in arrival order
        self.disconnects = 0
        self.client = None
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self._socket.bind(("127.0.0.1", 0))
        self._socket.settimeout(0.05)
        self.port = self._socket.getsockname()[1]
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def options(self, **extra) -> dict:
        return {"host": "127.0.0.1", "port": self.port, **extra}

    def sequences(self):
        return [sequence for sequence, _ in self.requests]

    def send_indication(self, cemi: bytes, sequence: int = 0) -> None:
        """Tunnels a frame to the connected client, as a gateway does for bus traffic."""
        body = bytes([0x04, self.CHANNEL, sequence, 0x00]) + cemi
        self._socket.sendto(header(0x0420, len(body)) + body, self.client)

    def _serve(self) -> None:
        while not self._stop.is_set():
            try:
                datagram, sender = self._socket.recvfrom(1024)
            except socket.timeout:
                continue
            except OSError:
                return
            if len(datagram) < 6:
                continue
            service = int.from_bytes(datagram[2:4], "big")
            if service == 0x0205:  # CONNECT_REQUEST
                self.client = sender
                body = bytes([self.CHANNEL, 0x00, 0x08, 0x01, 127, 0, 0, 1]) + self.port.to_bytes(2, "big")
                body += bytes([0x04, 0x04]) + self.INDIVIDUAL_ADDRESS
                self._socket.sendto(header(0x0206, len(body)) + body, sender)
            elif service == 0x0420:  # TUNNELLING_REQUEST
                sequence = datagram[8]
                if datagram[7] != self.CHANNEL:
                    continue
                if sender == self.client and datagram[6] == 0x04:
                    self.requests.append((sequence, datagram[10:]))
                    if self.acknowledge:
                        ack = bytes([0x04, self.CHANNEL, sequence, 0x00])
                        self._socket.sendto(header(0x0421, len(ack)) + ack, sender)
            elif service == 0x0209:  # DISCONNECT_REQUEST
                self.disconnects += 1
                body = bytes([self.CHANNEL, 0x00])
                self._socket.sendto(header(0x020A, len(body)) + body, sender)

    def close(self) -> None:
        self._stop.set()
        self._thread.join(timeout=2)
        self._socket.close()
