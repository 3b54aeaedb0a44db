"""The tunnel client when the network misbehaves: a gateway that stops answering or disappears,
datagrams that are malformed or come from strangers, and many threads using one client while it
is closed under them. Every call must return or raise a documented error in bounded time.

The gateway is scripted (fault_gateway.py) and lives on 127.0.0.1.
"""

import json
import random
import socket
import struct
import threading
import time

import pytest

import _tavrel
from fault_gateway import (
    DISCONNECT_REQUEST,
    TUNNELLING_ACK,
    TUNNELLING_REQUEST,
    FaultGateway,
    frame,
    group_write_cemi,
)

ACK_TIMEOUT_S = 0.3
# Scheduling noise on a loaded machine; far below anything that would hide a hang.
SLACK_S = 1.0


@pytest.fixture
def gateway():
    scripted = FaultGateway()
    yield scripted
    scripted.close()


def connect(gateway, **extra):
    options = gateway.options(ack_timeout_ms=int(ACK_TIMEOUT_S * 1000), **extra)
    return _tavrel.NativeTunnelClient.connect(json.dumps(options))


def timed(call, *args):
    """(result or exception, seconds taken)."""
    start = time.monotonic()
    try:
        outcome = call(*args)
    except Exception as error:  # noqa: BLE001 - the test judges what was raised
        outcome = error
    return outcome, time.monotonic() - start


def test_silent_gateway_ends_every_exchange_with_the_ack_timeout(gateway):
    client = connect(gateway)
    client.write("1/2/3", "1.001", "true")  # the session works

    gateway.silence()
    calls = [
        ("write", lambda: client.write("1/2/3", "1.001", "false")),
        ("respond", lambda: client.respond("1/2/3", "9.001", "21.5")),
        ("read_request", lambda: client.read_request("1/2/3")),
    ]
    for name, call in calls:
        outcome, seconds = timed(call)
        assert isinstance(outcome, _tavrel.KnxTransportError), (name, outcome)
        assert outcome.code == "transport/ack-timeout", name
        assert ACK_TIMEOUT_S * 0.9 <= seconds <= ACK_TIMEOUT_S + SLACK_S, (name, seconds)

    # The disconnect goes unanswered too; close still returns, bounded by the ack timeout.
    outcome, seconds = timed(client.close)
    assert outcome is None
    assert seconds <= ACK_TIMEOUT_S + SLACK_S
    assert DISCONNECT_REQUEST in gateway.services()
    assert client.is_closed()
    with pytest.raises(_tavrel.KnxTransportError) as closed:
        client.write("1/2/3", "1.001", "true")
    assert closed.value.code == "transport/closed"


def test_refused_value_touches_no_socket_even_with_a_silent_gateway(gateway):
    client = connect(gateway)
    gateway.silence()
    heard = len(gateway.services())
    outcome, seconds = timed(client.write, "1/2/3", "5.010", "256")
    assert isinstance(outcome, _tavrel.KnxSemanticError)
    assert seconds < ACK_TIMEOUT_S
    time.sleep(0.05)
    assert len(gateway.services()) == heard
    client.close()


@pytest.mark.parametrize("timeout_ms", [200, 600])
def test_monitor_wait_ends_at_its_timeout_when_the_gateway_goes_away(gateway, timeout_ms):
    client = connect(gateway)
    client.monitor_start()
    result = {}

    def wait():
        result["outcome"], result["seconds"] = timed(client.monitor_next_json, timeout_ms)

    waiter = threading.Thread(target=wait)
    waiter.start()
    time.sleep(0.05)
    gateway.go_away()
    waiter.join(timeout=timeout_ms / 1000 + 5)
    assert not waiter.is_alive(), "monitor_next_json outlived its timeout"
    outcome = result["outcome"]
    assert isinstance(outcome, RuntimeError) and not isinstance(outcome, _tavrel.KnxError)
    assert str(outcome) == "monitor timeout: no telegram received"
    assert timeout_ms / 1000 * 0.9 <= result["seconds"] <= timeout_ms / 1000 + SLACK_S

    outcome, seconds = timed(client.close)
    assert outcome is None
    assert seconds <= ACK_TIMEOUT_S + SLACK_S
    assert client.is_closed()


def test_close_releases_a_waiting_monitor_with_the_closed_refusal(gateway):
    client = connect(gateway)
    client.monitor_start()
    result = {}

    def wait():
        result["outcome"], result["seconds"] = timed(client.monitor_next_json, 3000)

    waiter = threading.Thread(target=wait)
    waiter.start()
    time.sleep(0.1)
    gateway.silence()  # the disconnect goes unanswered as well
    assert client.close() is None
    waiter.join(timeout=6)
    assert not waiter.is_alive()
    outcome = result["outcome"]
    assert isinstance(outcome, _tavrel.KnxTransportError), outcome
    assert outcome.code == "transport/closed"


def malformed_datagrams(channel: int):
    """Datagrams a confused or hostile peer could send, none of them a valid telegram."""
    valid_cemi = group_write_cemi("1.1.5", "7/7/7", 1)
    request = lambda body: frame(TUNNELLING_REQUEST, body)  # noqa: E731
    header = bytes([0x04, channel, 0x00, 0x00])
    return [
        b"",
        b"\x06",
        b"\x06\x10\x04\x20",
        b"\x06\x10\x04\x20\x00\x06",  # a request with no body
        b"\x06\x10\x04\x20\xff\xff" + header + valid_cemi,  # announces more than it holds
        b"\x06\x10\x04\x20\x00\x02",  # total length shorter than the header
        b"\x06\x11" + frame(TUNNELLING_REQUEST, header + valid_cemi)[2:],  # wrong version
        b"\x07\x10" + frame(TUNNELLING_REQUEST, header + valid_cemi)[2:],  # wrong header size
        frame(0x0999, header + valid_cemi),  # unknown service
        request(bytes([0x04, channel])),  # truncated connection header
        request(bytes([0x05, channel, 0, 0]) + valid_cemi),  # wrong connection header size
        request(header),  # no cEMI at all
        request(header + valid_cemi[:5]),  # truncated cEMI
        request(header + bytes([0x29, 0xFF]) + valid_cemi[2:]),  # additional info past the end
        request(header + valid_cemi[:8] + b"\xff" + valid_cemi[9:]),  # APDU length past the end
        request(header + bytes([0xF0]) + valid_cemi[1:]),  # unknown message code
        request(header + valid_cemi[:10] + b"\xc0"),  # APCI outside the group services
        request(bytes([0x04, (channel + 1) & 0xFF, 0, 0]) + valid_cemi),  # someone else's channel
        frame(TUNNELLING_ACK, bytes([0x04, channel, 0x55, 0x00])),  # ack for nothing we sent
        frame(0x0206, bytes([channel, 0x00])),  # a connect response nobody asked for
        bytes(range(256)) * 4,
    ]


def test_flood_of_malformed_and_foreign_datagrams_does_not_stop_delivery(gateway):
    client = connect(gateway)
    client.monitor_start()
    channel, client_address = gateway.latest_client()

    rng = random.Random(20261211)
    stranger = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    stranger.bind(("127.0.0.1", 0))
    try:
        valid_from_stranger = frame(
            TUNNELLING_REQUEST, bytes([0x04, channel, 0, 0]) + group_write_cemi("2.2.2", "9/9/9", 9)
        )
        for _ in range(20):
            for datagram in malformed_datagrams(channel):
                gateway.send_raw(datagram)
            for _ in range(10):
                noise = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 64)))
                gateway.send_raw(b"\x06\x10\x04\x20" + noise if rng.random() < 0.5 else noise)
            # A well-formed telegram from a stranger must not be taken for the gateway's.
            stranger.sendto(valid_from_stranger, client_address)
            # Pace the rounds on an answered telegram, as a gateway waits for each acknowledgement.
            assert gateway.push_group_write_acknowledged("1/2/4", 0)
    finally:
        stranger.close()

    for value in range(5):
        gateway.push_group_write("1/2/3", value)

    delivered = []
    deadline = time.monotonic() + 5
    while len(delivered) < 5 and time.monotonic() < deadline:
        try:
            event = json.loads(client.monitor_next_json(500))
        except RuntimeError as timeout:
            assert str(timeout) == "monitor timeout: no telegram received"
            continue
        except _tavrel.KnxTransportError as lagged:
            # The flood may outrun a slow consumer; a lag is reported, never skipped silently.
            assert lagged.code == "transport/monitor-lagged"
            continue
        assert event["destination"] != "9/9/9", "a stranger's datagram was delivered"
        if event["destination"] == "1/2/3":
            delivered.append(event["payload"])
    assert delivered == [[0], [1], [2], [3], [4]]

    # Each delivered request was acknowledged, and the session still carries writes.
    assert gateway.wait_for(lambda: len([a for a in gateway.acks_from_client if a[0] == channel]) >= 5)
    client.write("1/2/3", "1.001", "true")
    client.close()


WRITER_THREADS = 8
MONITOR_THREADS = 2
ROUNDS = 200  # about 0.3 s each
ROUND_DEADLINE_S = 10.0

DOCUMENTED_WRITE_CODES = {"transport/closed", "transport/ack-timeout"}
DOCUMENTED_MONITOR_TEXTS = {
    "monitor timeout: no telegram received",
    "monitor busy: another monitor_next is pending",
    # A wait that passed its closed check just before a close emptied the slot.
    "monitor not started",
}


def test_threads_writing_and_monitoring_while_the_client_is_closed(gateway):
    rng = random.Random(7)
    for round_number in range(ROUNDS):
        client = connect(gateway)
        client.monitor_start()
        stop = threading.Event()
        faults = []

        def record(kind, outcome):
            faults.append((round_number, kind, repr(outcome)))

        def writer(index):
            values = ["true", "false"]
            while not stop.is_set():
                try:
                    client.write(f"1/0/{index}", "1.001", values[index % 2])
                except _tavrel.KnxTransportError as refused:
                    if refused.code not in DOCUMENTED_WRITE_CODES:
                        record("write", refused)
                    if refused.code == "transport/closed":
                        return
                except Exception as unexpected:  # noqa: BLE001
                    record("write", unexpected)
                    return

        def monitor():
            while not stop.is_set():
                try:
                    json.loads(client.monitor_next_json(20))
                except _tavrel.KnxTransportError as refused:
                    if refused.code == "transport/closed":
                        return
                    if refused.code != "transport/monitor-lagged":
                        record("monitor", refused)
                except RuntimeError as error:
                    if str(error) not in DOCUMENTED_MONITOR_TEXTS:
                        record("monitor", error)
                except Exception as unexpected:  # noqa: BLE001
                    record("monitor", unexpected)
                    return

        def closer():
            time.sleep(rng.uniform(0.0, 0.2))
            try:
                assert client.close() is None
            except Exception as unexpected:  # noqa: BLE001
                record("close", unexpected)

        threads = [threading.Thread(target=writer, args=(i,)) for i in range(WRITER_THREADS)]
        threads += [threading.Thread(target=monitor) for _ in range(MONITOR_THREADS)]
        threads.append(threading.Thread(target=closer))
        for thread in threads:
            thread.start()
        for value in range(3):
            try:
                gateway.push_group_write("1/2/3", value)
            except (OSError, ValueError):
                break
        threads[-1].join(timeout=ROUND_DEADLINE_S)
        # After the close every writer ends with "transport/closed"; monitors stop on the flag.
        deadline = time.monotonic() + ROUND_DEADLINE_S
        for thread in threads[:WRITER_THREADS]:
            thread.join(timeout=max(0.0, deadline - time.monotonic()))
        stop.set()
        for thread in threads:
            thread.join(timeout=max(0.0, deadline - time.monotonic()))
        hung = [thread.name for thread in threads if thread.is_alive()]
        assert not hung, f"round {round_number}: threads still blocked: {hung}"
        assert not faults, faults
        assert client.is_closed()
        with pytest.raises(_tavrel.KnxTransportError) as closed:
            client.monitor_next_json(0)
        assert closed.value.code == "transport/closed"
