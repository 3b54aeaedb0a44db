"""The routing monitor when its multicast group carries garbage: datagrams that are not KNXnet/IP,
KNXnet/IP of other services, malformed routing indications, and floods of all of them. A datagram
the monitor cannot decode reaches the consumer as a "transport/core" refusal with the decoder's
text; another service is skipped; valid indications keep coming through, in order; and memory
stays bounded while nobody reads, because the monitor's queue holds at most 64 items.

Everything is sent from sockets of this process to a group routed over loopback.
"""

import json
import random
import socket
import threading
import time

import pytest

import _tavrel
from conftest import free_udp_port
from fault_gateway import TUNNELLING_REQUEST, frame, group_write_cemi

ROUTING_INDICATION = 0x0530
MiB = 1 << 20


def routing(cemi: bytes) -> bytes:
    return frame(ROUTING_INDICATION, cemi)


VALID = group_write_cemi("1.1.5", "1/2/3", 1)  # 29 00 BC E0 11 05 0A 03 01 00 81


def cemi(message_code=0x29, info=b"", control2=0xE0, length=None, tpci=0x00, apci=0x81, data=b""):
    """An L_Data frame from 1.1.5 to 1/2/3 with each field open to damage."""
    if length is None:
        length = 1 + len(data)
    return (bytes([message_code, len(info) & 0xFF]) + info + bytes([0xBC, control2, 0x11, 0x05, 0x0A, 0x03,
                                                                      length, tpci, apci]) + data)


def event(**fields):
    base = {"apci": "group_value_write", "destination": "1/2/3", "message_code": "l_data_ind",
            "payload": [1], "source": "1.1.5"}
    return ("event", {**base, **fields})


def error(message):
    return ("error", message)


SKIPPED = None

# (what the datagram is, its octets, what the monitor reports: SKIPPED, an error with the
#  decoder's text, or an event, received_from aside).
DATAGRAMS = [
    ("empty", b"", error("buffer too short: needed 6 bytes, got 0")),
    ("one octet", b"\x06", error("buffer too short: needed 6 bytes, got 1")),
    ("header length 7", bytes.fromhex("071005300006"), error("invalid frame: invalid KNXnet/IP header length")),
    ("protocol version 0x11", bytes.fromhex("061105300006"),
     error("invalid frame: invalid KNXnet/IP protocol version")),
    ("unknown service 0x0310", bytes.fromhex("061003100006"), error("unsupported service type: 0x0310")),
    ("unknown service 0x0533", bytes.fromhex("061005330006"), error("unsupported service type: 0x0533")),
    ("total length 5", bytes.fromhex("061005300005"), error("invalid frame: total length shorter than header")),
    ("total length past the end", bytes.fromhex("061005300020") + VALID[:4],
     error("buffer too short: needed 32 bytes, got 10")),
    ("routing lost message", bytes.fromhex("061005310006"), SKIPPED),
    ("routing busy", frame(0x0532, bytes([0x06, 0x00, 0x00, 0x64, 0x00, 0x00])), SKIPPED),
    ("search request", frame(0x0201, bytes([0x08, 0x01, 127, 0, 0, 1, 0x0E, 0x57])), SKIPPED),
    ("tunnelling request", frame(TUNNELLING_REQUEST, bytes([0x04, 0x01, 0x00, 0x00]) + VALID), SKIPPED),
    ("indication without cEMI", routing(b""), error("buffer too short: needed 2 bytes, got 0")),
    ("message code 0x2B", routing(cemi(message_code=0x2B)), error("invalid frame: unsupported cEMI message code")),
    ("truncated cEMI", routing(VALID[:6]), error("buffer too short: needed 9 bytes, got 6")),
    ("APDU length past the end", routing(cemi(length=5)), error("buffer too short: needed 15 bytes, got 11")),
    ("APDU length 0", routing(cemi(length=0)), error("buffer too short: needed 2 bytes, got 1")),
    ("additional info past the end", routing(bytes([0x29, 0xFF]) + VALID[2:]),
     error("buffer too short: needed 264 bytes, got 11")),
    ("TPCI 0x01", routing(cemi(tpci=0x01)), error("invalid frame: unsupported TPCI field")),
    ("APCI service 3", routing(cemi(apci=0xC0)), error("invalid frame: unsupported APCI service")),
    ("inline bits beside octets", routing(cemi(apci=0x81, data=b"\x0c")),
     error("invalid frame: extended APDU has inline data bits")),
    ("read carrying octets", routing(cemi(apci=0x00, data=b"\x0c")),
     error("invalid frame: group read cannot carry payload")),
    ("payload of 254 octets", routing(cemi(apci=0x80, data=bytes(254))), error("invalid frame: group payload too long")),
    ("trailing octets", routing(VALID + b"\x00\x00"), error("invalid frame: routing cEMI has trailing bytes")),
    ("cut to the receive buffer", frame(ROUTING_INDICATION, VALID + bytes(4000 - 6 - len(VALID)))[:4000],
     error("buffer too short: needed 4000 bytes, got 1500")),
    # Well-formed, if unusual: each is reported.
    ("octets after the total length", routing(VALID) + b"\xde\xad", event()),
    ("three octets of additional info", routing(cemi(info=b"\x03\x01\x02")), event()),
    ("confirmation", routing(cemi(message_code=0x2E)), event(message_code="l_data_con")),
    ("request", routing(cemi(message_code=0x11)), event(message_code="l_data_req")),
    ("read with low bits set", routing(cemi(apci=0x3F)), event(apci="group_value_read", payload=[])),
    ("response of 253 octets", routing(cemi(apci=0x40, data=bytes(range(253)))),
     event(apci="group_value_response", payload=list(range(253)))),
    ("individual destination bit", routing(cemi(control2=0x60)), event()),
]


def address_text(sock) -> str:
    return "{}:{}".format(*sock.getsockname())


def multicast_sender() -> socket.socket:
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    sock.bind(("127.0.0.1", 0))
    return sock


@pytest.fixture
def group():
    """A monitoring client on a fresh group, and two senders: a gateway that sends only valid
    indications and a stranger that sends the rest."""
    target = (f"239.{random.randint(1, 254)}.{random.randint(1, 254)}.{random.randint(1, 254)}", free_udp_port())
    client = _tavrel.NativeRouteClient.connect(json.dumps(
        {"multicast_group": target[0], "multicast_port": target[1], "interface": "127.0.0.1"}))
    client.monitor_start()
    gateway, stranger = multicast_sender(), multicast_sender()
    yield client, target, gateway, stranger
    gateway.close()
    stranger.close()
    client.close()


def gateway_write(index: int) -> bytes:
    """A valid indication numbered by its destination (raw value = index) and its two octets."""
    number = index.to_bytes(2, "big")
    return routing(bytes([0x29, 0x00, 0xBC, 0xE0, 0x11, 0x05]) + number + bytes([0x03, 0x00, 0x80]) + number)


def destination_of(index: int) -> str:
    return f"{index >> 11}/{index >> 8 & 7}/{index & 0xFF}"


def next_item(client, timeout_ms=2000):
    """('event', dict) or ('error', text) for what the monitor delivers next."""
    try:
        return ("event", json.loads(client.monitor_next_json(timeout_ms)))
    except _tavrel.KnxTransportError as refused:
        assert (refused.code, refused.dpt, refused.field) == ("transport/core", None, None), refused
        return ("error", str(refused))


def test_each_foreign_or_malformed_datagram_is_skipped_or_reported(group):
    client, target, gateway, stranger = group
    expected = []
    for index, (_, datagram, outcome) in enumerate(DATAGRAMS):
        stranger.sendto(datagram, target)
        if outcome is not None:
            kind, detail = outcome
            if kind == "event":
                detail = {**detail, "received_from": address_text(stranger)}
            expected.append((kind, detail))
        # A valid indication after each one shows that nothing was lost or reordered.
        gateway.sendto(gateway_write(index + 1), target)
        expected.append(("event", {"apci": "group_value_write", "destination": destination_of(index + 1),
                                   "message_code": "l_data_ind", "payload": list((index + 1).to_bytes(2, "big")),
                                   "received_from": address_text(gateway), "source": "1.1.5"}))
    got = [next_item(client) for _ in expected]
    labels = [label for label, _, outcome in DATAGRAMS for _ in ([0] if outcome is None else [0, 1])]
    for label, want, have in zip(labels, expected, got):
        assert have == want, label
    with pytest.raises(RuntimeError, match="^monitor timeout: no telegram received$"):
        client.monitor_next_json(200)


def rss() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmRSS in /proc/self/status")


def noise(rng: random.Random) -> bytes:
    """Random garbage, some of it shaped like routing indications so that it gets past the
    header and into the frame decoder."""
    choice = rng.randrange(4)
    if choice == 0:
        return rng.randbytes(rng.randrange(0, 1600))
    if choice == 1:
        body = rng.randbytes(rng.randrange(0, 40))
        return bytes([0x06, 0x10, 0x05, 0x30]) + (6 + len(body)).to_bytes(2, "big") + body
    if choice == 2:
        body = bytes([0x29, 0x00]) + rng.randbytes(rng.randrange(0, 300))
        return bytes([0x06, 0x10, 0x05, 0x30]) + rng.randrange(65536).to_bytes(2, "big") + body
    return rng.choice(DATAGRAMS)[1]


LARGE_EVENT = routing(cemi(apci=0x80, data=bytes(253)))


def drain(client) -> int:
    """Takes everything the monitor holds; every item must be an event or a decoder refusal."""
    taken = 0
    while True:
        try:
            kind, detail = next_item(client, 300)
        except RuntimeError as timeout:
            assert str(timeout) == "monitor timeout: no telegram received"
            return taken
        taken += 1
        if kind == "event":
            assert list(detail) == ["apci", "destination", "message_code", "payload", "received_from", "source"]


def test_flood_keeps_delivery_and_memory_bounded(group):
    client, target, gateway, stranger = group
    rng = random.Random(20261211)

    # Let the runtime and the allocator reach their working size before measuring.
    for _ in range(2000):
        stranger.sendto(noise(rng), target)
    drain(client)
    baseline = rss()

    # Nobody reads: the monitor stops at 64 queued items, the kernel drops the rest. An unbounded
    # queue would hold every large event sent here, far more than the bound below.
    started = time.monotonic()
    for index in range(400_000):
        stranger.sendto(LARGE_EVENT if index % 4 else noise(rng), target)
    assert time.monotonic() - started < 60
    time.sleep(0.5)
    assert rss() - baseline < 50 * MiB, f"RSS grew by {(rss() - baseline) / MiB:.1f} MiB while nobody read"
    held = drain(client)
    assert held >= 64  # the queue was full, and what the socket buffered followed

    # Valid indications amid noise, read while the noise arrives: every one is delivered, in
    # order. Each round waits for its indication, so the kernel never has to drop anything.
    delivered = []
    arrived = threading.Condition()
    stop = threading.Event()
    failures = []

    def consume():
        while not stop.is_set():
            try:
                kind, detail = next_item(client, 100)
            except RuntimeError as timeout:
                if str(timeout) != "monitor timeout: no telegram received":
                    failures.append(repr(timeout))
                continue
            except AssertionError as wrong:  # a refusal other than the decoder's
                failures.append(str(wrong))
                continue
            if kind == "event" and detail["received_from"] == address_text(gateway):
                with arrived:
                    delivered.append(detail["destination"])
                    arrived.notify()

    consumer = threading.Thread(target=consume)
    consumer.start()
    rounds = 1500
    try:
        for index in range(1, rounds + 1):
            for _ in range(40):
                stranger.sendto(noise(rng), target)
            gateway.sendto(gateway_write(index), target)
            with arrived:
                assert arrived.wait_for(lambda: len(delivered) >= index, timeout=10), f"round {index} lost"
    finally:
        stop.set()
        consumer.join(timeout=10)
    assert not consumer.is_alive()
    assert not failures, failures[:5]
    assert delivered == [destination_of(index) for index in range(1, rounds + 1)]
    assert rss() - baseline < 50 * MiB, f"RSS grew by {(rss() - baseline) / MiB:.1f} MiB"

    # The client is still whole: a send of our own on the group arrives.
    sender = _tavrel.NativeRouteClient.connect(json.dumps(
        {"multicast_group": target[0], "multicast_port": target[1], "interface": "127.0.0.1",
         "source": "2.2.2"}))
    try:
        assert sender.send("7/7/7", "1.001", "true") == 17
        assert next_item(client)[1]["destination"] == "7/7/7"
    finally:
        sender.close()
    assert client.monitor_started() is True
