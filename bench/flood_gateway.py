"""A KNXnet/IP tunnelling gateway on loopback that floods its one client with bus indications as
fast as the client acknowledges them: the next TUNNELLING_REQUEST leaves as soon as the previous
one is acknowledged (the tunnelling protocol's one-frame window), so the flood runs at the
client's own pace and what a monitor loses is lost inside the client.

knxd relays telegrams into its tunnels at bus speed (a few dozen per second), far below what
either client takes, so it cannot show a difference between monitors; this gateway can.
"""

import socket
import struct
import threading
import time

CHANNEL = 9


def header(service, body_length):
    return struct.pack(">BBHH", 0x06, 0x10, service, 6 + body_length)


def indication(sequence_number, value):
    # cEMI L_Data.ind from 1.1.250 to 1/2/4: GroupValueWrite carrying two octets (the value).
    cemi = bytes([0x29, 0x00, 0xBC, 0xE0, 0x11, 0xFA, 0x0A, 0x04, 0x03, 0x00, 0x80])
    cemi += struct.pack(">H", value)
    body = bytes([0x04, CHANNEL, sequence_number & 0xFF, 0x00]) + cemi
    return header(0x0420, len(body)) + body


class FloodGateway:
    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]
        self.client = None
        self.connected = threading.Event()
        self.acks = {}  # sequence number -> event
        self.ack_seen = threading.Condition()
        self.last_ack = None
        self.resent = 0
        self.stopping = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        self.socket.settimeout(0.2)
        while not self.stopping:
            try:
                datagram, sender = self.socket.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            if len(datagram) < 6:
                continue
            service = struct.unpack(">H", datagram[2:4])[0]
            if service == 0x0205:  # CONNECT_REQUEST
                self.client = sender
                body = bytes([CHANNEL, 0x00, 0x08, 0x01, 127, 0, 0, 1]) + struct.pack(
                    ">H", self.port)
                body += bytes([0x04, 0x04, 0x11, 0x05])
                self.socket.sendto(header(0x0206, len(body)) + body, sender)
                self.connected.set()
            elif service == 0x0207:  # CONNECTIONSTATE_REQUEST
                self.socket.sendto(header(0x0208, 2) + bytes([CHANNEL, 0]), sender)
            elif service == 0x0209:  # DISCONNECT_REQUEST
                self.socket.sendto(header(0x020A, 2) + bytes([CHANNEL, 0]), sender)
            elif service == 0x0421:  # TUNNELLING_ACK
                with self.ack_seen:
                    self.last_ack = datagram[8]
                    self.ack_seen.notify()
            elif service == 0x0420:  # TUNNELLING_REQUEST from the client: acknowledge it
                body = bytes([0x04, CHANNEL, datagram[8], 0x00])
                self.socket.sendto(header(0x0421, len(body)) + body, sender)

    def paced_flood(self, count, rate):
        """Sends `count` indications at `rate` per second in sequence order without waiting for
        the acknowledgements, as a gateway relaying a busy line ahead of a slow client would.
        Returns the seconds it took."""
        start = time.perf_counter()
        for value in range(count):
            if value % 10 == 0:
                due = start + value / rate
                while time.perf_counter() < due:
                    pass
            self.socket.sendto(indication(value & 0xFF, value), self.client)
        return time.perf_counter() - start

    def flood(self, count, ack_timeout=1.0):
        """Sends `count` indications, each after the previous one's acknowledgement; a lost
        acknowledgement is waited for once and the frame repeated, as a gateway does. Returns
        the seconds the flood took."""
        start = time.perf_counter()
        for value in range(count):
            sequence = value & 0xFF
            for attempt in range(2):
                with self.ack_seen:
                    self.last_ack = None
                    self.socket.sendto(indication(sequence, value), self.client)
                    if self.ack_seen.wait_for(lambda: self.last_ack == sequence, ack_timeout):
                        break
                    self.resent += 1
        return time.perf_counter() - start

    def close(self):
        self.stopping = True
        self.thread.join()
        self.socket.close()
