"""NativeTunnelClient end to end: against knxd on loopback and against a scripted gateway."""

import inspect
import json
import threading
import time

import pytest

import _tavrel
from scripted_gateway import ScriptedGateway

Tunnel = _tavrel.NativeTunnelClient


def connect(options) -> "_tavrel.NativeTunnelClient":
    return Tunnel.connect(json.dumps(options))


@pytest.fixture
def gateway():
    scripted = ScriptedGateway()
    yield scripted
    scripted.close()


@pytest.fixture
def pair(shared_knxd):
    """A writer and a listener on the same gateway; the listener's monitor is started."""
    writer = connect(shared_knxd.tunnel_options())
    listener = connect(shared_knxd.tunnel_options())
    listener.monitor_start()
    yield writer, listener
    writer.close()
    listener.close()


def next_event(client, timeout_ms=3000) -> dict:
    return json.loads(client.monitor_next_json(timeout_ms))


def test_methods_in_order_with_signatures_and_docstrings():
    methods = [name for name in Tunnel.__dict__ if not name.startswith("__")]
    assert methods == [
        "connect", "write", "read_request", "respond", "close", "is_closed",
        "lifecycle_events_json", "monitor_start", "monitor_started", "monitor_next_json",
    ]
    assert str(inspect.signature(Tunnel.connect)) == "(options_json)"
    assert str(inspect.signature(Tunnel.write)) == "(self, /, group, dpt, value_json)"
    assert str(inspect.signature(Tunnel.monitor_next_json)) == "(self, /, timeout_ms)"
    assert str(inspect.signature(Tunnel.close)) == "(self, /)"
    assert Tunnel.__doc__ is None
    assert Tunnel.write.__doc__.startswith("Writes a group value through the semantic pipeline.\n\n")
    assert Tunnel.close.__doc__.endswith("Closing twice is a no-op.")
    assert Tunnel.is_closed.__doc__ in (None, "")


@pytest.mark.parametrize(
    "dpt,value,payload",
    [
        ("1.001", "true", [1]),
        ("5.001", "100", [255]),
        ("9.001", "21.5", [12, 51]),
        ("16.001", '"hello"', list(b"hello") + [0] * 9),
        ("19.001", json.dumps({"Year": 2024, "Month": 5, "DayOfMonth": 17, "DayOfWeek": 5,
                                "HourOfDay": 12, "Minutes": 30, "Seconds": 0}),
         [124, 5, 17, 172, 30, 0, 0, 0]),
    ],
)
def test_write_reaches_another_tunnel_and_is_confirmed(pair, dpt, value, payload):
    writer, listener = pair
    writer.monitor_start()
    writer.write("1/2/3", dpt, value)
    indication = next_event(listener)
    assert indication == {
        "apci": "group_value_write", "confirmation": None, "destination": "1/2/3",
        "message_code": "l_data_ind", "payload": payload, "source": indication["source"],
    }
    confirmation = next_event(writer)
    assert confirmation["message_code"] == "l_data_con"
    assert confirmation["confirmation"] == "ok"
    assert confirmation["payload"] == payload


def test_respond_and_read_request(pair):
    writer, listener = pair
    writer.respond("2/0/1", "9.001", "-5")
    event = next_event(listener)
    assert event["apci"] == "group_value_response"
    writer.read_request(group="2/0/2")
    event = next_event(listener)
    assert (event["apci"], event["payload"], event["destination"]) == ("group_value_read", [], "2/0/2")


def test_event_json_keys_are_in_byte_order(pair):
    writer, listener = pair
    writer.write("1/2/3", "1.001", "false")
    text = listener.monitor_next_json(3000)
    assert text.startswith('{"apci":"group_value_write","confirmation":null,"destination":"1/2/3",')
    assert " " not in text


@pytest.mark.parametrize(
    "group,dpt,value,cls,code,dpt_attr,field",
    [
        ("1/2", "9.001", "1", _tavrel.KnxAdapterError, "adapter/malformed-address", None, None),
        ("1/2", "nope", "{", _tavrel.KnxAdapterError, "adapter/malformed-address", None, None),
        ("1/2/3", "9.1x", "1", _tavrel.KnxAdapterError, "adapter/malformed-datapoint", None, None),
        ("1/2/3", "1.020", "true", _tavrel.KnxResolveError, None, "1.020", None),
        ("1/2/3", "9.001", "[1", _tavrel.KnxAdapterError, "adapter/invalid-json", "9.001", None),
        ("1/2/3", "5.010", "256", _tavrel.KnxSemanticError, "semantic/range", "5.010", "UnsignedValue"),
        ("1/2/3", "1.001", "1.5", _tavrel.KnxAdapterError, "adapter/kind-mismatch", "1.001", None),
    ],
)
def test_refusals_raise_the_class_their_code_selects(pair, group, dpt, value, cls, code, dpt_attr, field):
    writer, _ = pair
    with pytest.raises(_tavrel.KnxError) as info:
        writer.write(group, dpt, value)
    error = info.value
    assert type(error) is cls
    if code is not None:
        assert error.code == code
    assert error.code.split("/")[0] in {"adapter", "resolve", "semantic", "pipeline", "transport"}
    assert error.dpt == dpt_attr
    if field is not None:
        assert error.field == field
    assert error.args == (str(error),)


def test_read_request_with_bad_group_is_a_value_error(pair):
    writer, _ = pair
    with pytest.raises(ValueError) as info:
        writer.read_request("1/2")
    assert type(info.value) is ValueError
    assert str(info.value) == "invalid address: missing group sub"


def test_monitor_protocol(pair):
    writer, listener = pair
    with pytest.raises(RuntimeError, match="^monitor not started$"):
        writer.monitor_next_json(0)
    assert writer.monitor_started() is False
    writer.monitor_start()
    assert writer.monitor_started() is True
    with pytest.raises(RuntimeError, match="^monitor already started$"):
        writer.monitor_start()
    # Nothing buffered: a zero timeout answers at once.
    started = time.monotonic()
    with pytest.raises(RuntimeError, match="^monitor timeout: no telegram received$"):
        listener.monitor_next_json(0)
    assert time.monotonic() - started < 1.0
    writer.write("3/3/3", "1.001", "true")
    # The listener has it buffered once the writer's confirmation arrived.
    assert next_event(writer)["message_code"] == "l_data_con"
    deadline = time.monotonic() + 3
    while True:
        try:
            event = json.loads(listener.monitor_next_json(0))
            break
        except RuntimeError:
            assert time.monotonic() < deadline
            time.sleep(0.01)
    assert event["destination"] == "3/3/3"


def test_two_waiters_one_is_busy_at_once(pair):
    _, listener = pair
    results = {}

    def wait():
        try:
            listener.monitor_next_json(1500)
        except RuntimeError as error:
            results["first"] = str(error)

    waiter = threading.Thread(target=wait)
    waiter.start()
    time.sleep(0.3)
    started = time.monotonic()
    with pytest.raises(RuntimeError, match="^monitor busy: another monitor_next is pending$"):
        listener.monitor_next_json(5000)
    assert time.monotonic() - started < 1.0
    assert listener.monitor_started() is True
    with pytest.raises(RuntimeError, match="^monitor already started$"):
        listener.monitor_start()
    waiter.join()
    assert results["first"] == "monitor timeout: no telegram received"


def test_close_while_another_thread_waits(shared_knxd):
    client = connect(shared_knxd.tunnel_options())
    client.monitor_start()
    outcome = {}

    def wait():
        try:
            client.monitor_next_json(10_000)
        except Exception as error:  # noqa: BLE001 - the class is what is checked
            outcome["error"] = error

    waiter = threading.Thread(target=wait)
    waiter.start()
    time.sleep(0.3)
    started = time.monotonic()
    client.close()
    waiter.join(timeout=5)
    assert not waiter.is_alive()
    assert time.monotonic() - started < 3
    assert isinstance(outcome["error"], _tavrel.KnxTransportError)
    assert outcome["error"].code == "transport/closed"


def test_closed_state(shared_knxd):
    client = connect(shared_knxd.tunnel_options())
    assert client.is_closed() is False
    assert client.lifecycle_events_json() == "[]"
    assert client.close() is None
    assert client.close() is None
    assert client.is_closed() is True
    calls = [
        lambda: client.write("1/2/3", "9.001", "1"),
        lambda: client.respond("1/2/3", "9.001", "1"),
        lambda: client.read_request("1/2/3"),
        client.lifecycle_events_json,
        client.monitor_start,
        client.monitor_started,
        lambda: client.monitor_next_json(0),
    ]
    for call in calls:
        with pytest.raises(_tavrel.KnxTransportError) as info:
            call()
        assert info.value.code == "transport/closed"
        assert str(info.value) == "the tunnel client is closed"
        assert info.value.dpt is None and info.value.field is None
    # Argument refusals come before the closed check.
    with pytest.raises(_tavrel.KnxAdapterError):
        client.write("1/2", "9.001", "1")


def test_connect_timeout_is_a_transport_refusal():
    silent = ScriptedGateway()
    silent._stop.set()
    silent._thread.join()
    try:
        with pytest.raises(_tavrel.KnxTransportError) as info:
            connect(silent.options(ack_timeout_ms=200))
        assert info.value.code == "transport/timeout"
    finally:
        silent.close()


def test_refused_write_leaves_the_sequence_number_unchanged(gateway):
    client = connect(gateway.options())
    try:
        client.write("1/1/1", "1.001", "true")
        for bad in [("1/1/1", "5.010", "256"), ("1/1", "1.001", "true"), ("1/1/1", "1.001", "7")]:
            with pytest.raises(_tavrel.KnxError):
                client.write(*bad)
        client.write("1/1/1", "1.001", "false")
        assert gateway.sequences() == [0, 1]
        # GroupValueWrite from the assigned address 1.1.5 to 1/1/1, value 0 in the APCI octet.
        assert gateway.requests[1][1] == bytes([0x11, 0x00, 0xBC, 0xE0, 0x11, 0x05, 0x09, 0x01, 0x01, 0x00, 0x80])
    finally:
        client.close()
    assert gateway.disconnects == 1


def test_destroying_an_open_client_sends_no_disconnect(gateway):
    client = connect(gateway.options())
    client.write("1/1/1", "1.001", "true")
    del client
    time.sleep(0.3)
    assert gateway.disconnects == 0


def test_ack_timeout_releases_the_interpreter_lock(gateway):
    gateway.acknowledge = False
    client = connect(gateway.options(ack_timeout_ms=600))
    ticks = 0
    stop = threading.Event()

    def count():
        nonlocal ticks
        while not stop.is_set():
            ticks += 1
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        before = ticks
        with pytest.raises(_tavrel.KnxTransportError) as info:
            client.write("1/1/1", "1.001", "true")
        assert info.value.code == "transport/ack-timeout"
        assert ticks - before > 50
    finally:
        stop.set()
        counter.join()
        started = time.monotonic()
        client.close()
        assert time.monotonic() - started < 2


@pytest.mark.parametrize("policy,expected_length", [(None, None), ("refuse", None), ("truncate_to_capacity", 252)])
def test_text_overflow_policy(gateway, policy, expected_length):
    options = gateway.options() if policy is None else gateway.options(text_overflow=policy)
    client = connect(options)
    try:
        text = json.dumps("x" * 300)
        if expected_length is None:
            with pytest.raises(_tavrel.KnxError) as info:
                client.write("1/1/1", "28.001", text)
            assert info.value.code == "transport/payload-budget"
            assert gateway.sequences() == []
        else:
            client.write("1/1/1", "28.001", text)
            cemi = gateway.requests[-1][1]
            # cEMI: message code, info length, two control octets, two addresses, length, TPCI and
            # APCI octets; then the text with its terminator.
            payload = cemi[11:]
            assert payload == b"x" * expected_length + b"\x00"
    finally:
        client.close()


def test_incoming_telegram_from_scripted_gateway(gateway):
    client = connect(gateway.options())
    try:
        client.monitor_start()
        # L_Data.ind GroupValueWrite 1.1.9 -> 0/0/1 with two octets.
        gateway.send_indication(bytes([0x29, 0x00, 0xBC, 0xE0, 0x11, 0x09, 0x00, 0x01, 0x03, 0x00, 0x80, 0x0C, 0x33]))
        event = json.loads(client.monitor_next_json(3000))
        assert event == {"apci": "group_value_write", "confirmation": None, "destination": "0/0/1",
                         "message_code": "l_data_ind", "payload": [12, 51], "source": "1.1.9"}
    finally:
        client.close()
