"""NativeRouteClient over loopback multicast, and discover_gateways_json."""

import inspect
import json
import random
import socket
import threading
import time

import pytest

import _tavrel
from conftest import free_udp_port

Route = _tavrel.NativeRouteClient


def loopback_options(port, **extra):
    group = f"239.{random.randint(1, 254)}.{random.randint(1, 254)}.{random.randint(1, 254)}"
    return {"multicast_group": group, "multicast_port": port, "interface": "127.0.0.1",
            "loopback": True, **extra}


@pytest.fixture
def route_pair():
    options = loopback_options(free_udp_port())
    sender = Route.connect(json.dumps({**options, "source": "1.2.3"}))
    listener = Route.connect(json.dumps(options))
    listener.monitor_start()
    yield sender, listener
    sender.close()
    listener.close()


def test_methods_in_order_with_signatures_and_docstrings():
    methods = [name for name in Route.__dict__ if not name.startswith("__")]
    assert methods == ["connect", "send", "monitor_start", "monitor_started", "monitor_next_json",
                       "close", "is_closed"]
    assert str(inspect.signature(Route.send)) == "(self, /, group, dpt, value_json)"
    assert str(inspect.signature(Route.connect)) == "(options_json)"
    assert Route.__doc__.startswith("Native KNXnet/IP ROUTING client (connectionless UDP multicast).")
    assert Route.monitor_start.__doc__ == "Join the multicast group and start receiving RoutingIndications."


def test_send_reaches_the_monitor_with_sender_and_size(route_pair):
    sender, listener = route_pair
    size = sender.send("1/2/3", "9.001", "21.5")
    # 6 octets of KNXnet/IP header, 11 of cEMI up to and including the APCI, 2 of value.
    assert size == 19
    text = listener.monitor_next_json(3000)
    event = json.loads(text)
    assert event["apci"] == "group_value_write"
    assert event["destination"] == "1/2/3"
    assert event["source"] == "1.2.3"
    assert event["payload"] == [12, 51]
    assert event["message_code"] == "l_data_ind"
    assert event["received_from"].startswith("127.0.0.1:")
    assert list(event) == ["apci", "destination", "message_code", "payload", "received_from", "source"]


def test_text_and_one_bit_rows(route_pair):
    sender, listener = route_pair
    assert sender.send("1/2/3", "1.001", "true") == 17
    assert json.loads(listener.monitor_next_json(3000))["payload"] == [1]
    sender.send("1/2/4", "28.001", json.dumps("héllo"))
    assert json.loads(listener.monitor_next_json(3000))["payload"] == list("héllo".encode()) + [0]


def test_refused_send_sends_nothing(route_pair):
    sender, listener = route_pair
    with pytest.raises(_tavrel.KnxSemanticError) as info:
        sender.send("1/2/3", "5.010", "300")
    assert info.value.code == "semantic/range"
    with pytest.raises(RuntimeError, match="^monitor timeout: no telegram received$"):
        listener.monitor_next_json(300)


def test_monitor_protocol_and_closed_state():
    client = Route.connect(json.dumps(loopback_options(free_udp_port())))
    with pytest.raises(RuntimeError, match="^monitor not started$"):
        client.monitor_next_json(0)
    assert client.monitor_started() is False
    client.monitor_start()
    assert client.monitor_started() is True
    with pytest.raises(RuntimeError, match="^monitor already started$"):
        client.monitor_start()
    assert client.close() is None
    assert client.close() is None
    assert client.is_closed() is True
    for call in [lambda: client.send("1/2/3", "1.001", "true"), client.monitor_start,
                 client.monitor_started, lambda: client.monitor_next_json(0)]:
        with pytest.raises(_tavrel.KnxTransportError) as info:
            call()
        assert info.value.code == "transport/closed"
        assert str(info.value) == "the routing client is closed"


def test_close_while_waiting(route_pair):
    _, listener = route_pair
    outcome = {}

    def wait():
        try:
            listener.monitor_next_json(10_000)
        except Exception as error:  # noqa: BLE001
            outcome["error"] = error

    waiter = threading.Thread(target=wait)
    waiter.start()
    time.sleep(0.3)
    listener.close()
    waiter.join(timeout=5)
    assert not waiter.is_alive()
    assert outcome["error"].code == "transport/closed"


def test_monitor_bind_on_a_held_port_is_a_transport_refusal():
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", 0))
    port = holder.getsockname()[1]
    try:
        client = Route.connect(json.dumps(loopback_options(port)))
        with pytest.raises(_tavrel.KnxTransportError) as info:
            client.monitor_start()
        assert info.value.code == "transport/io"
        assert client.monitor_started() is False
        client.close()
    finally:
        holder.close()


def test_discovery_finds_knxd(knxd):
    text = _tavrel.discover_gateways_json(json.dumps({"discovery_endpoint": knxd.endpoint, "timeout_ms": 500}))
    gateways = json.loads(text)
    assert len(gateways) == 1
    gateway = gateways[0]
    assert list(gateway) == ["control_endpoint", "received_from", "service_families"]
    assert gateway["received_from"] == knxd.endpoint
    assert {"id": 4, "version": 1} in gateway["service_families"]
    assert " " not in text


def test_discovery_without_answer_is_an_empty_array():
    silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    silent.bind(("127.0.0.1", 0))
    try:
        endpoint = f"127.0.0.1:{silent.getsockname()[1]}"
        assert _tavrel.discover_gateways_json(json.dumps({"discovery_endpoint": endpoint, "timeout_ms": 200})) == "[]"
    finally:
        silent.close()


def test_discovery_fails_on_an_invalid_answer():
    responder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    responder.bind(("127.0.0.1", 0))
    responder.settimeout(3)
    endpoint = f"127.0.0.1:{responder.getsockname()[1]}"

    def answer_garbage():
        try:
            _, sender = responder.recvfrom(1024)
            responder.sendto(b"\x06\x10\x02\x02\x00\x07\x00", sender)
        except OSError:
            pass

    thread = threading.Thread(target=answer_garbage)
    thread.start()
    try:
        with pytest.raises(_tavrel.KnxTransportError) as info:
            _tavrel.discover_gateways_json(json.dumps({"discovery_endpoint": endpoint, "timeout_ms": 1000}))
        assert info.value.code.startswith("transport/")
    finally:
        thread.join()
        responder.close()
