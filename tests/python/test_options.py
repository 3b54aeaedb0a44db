"""Options JSON of the three calls that take one: every refusal happens before any socket, and
every accepted option shows in what the call then does."""

import json
import os
import pathlib
import socket
import struct
import subprocess
import sys
import time

import pytest

import _tavrel
from namespaces import private_namespace_command
from conftest import free_udp_port

tunnel = _tavrel.NativeTunnelClient.connect
routing = _tavrel.NativeRouteClient.connect
discover = _tavrel.discover_gateways_json


def refusal(call, options):
    text = options if isinstance(options, str) else json.dumps(options)
    with pytest.raises(ValueError) as info:
        call(text)
    assert type(info.value) is ValueError
    return str(info.value)


@pytest.mark.parametrize(
    "options,message",
    [
        ([], "connect_tunnel: options must be an object"),
        ({}, "connect_tunnel requires host or server_control_endpoint"),
        ({"foo": 1, "bar": 2, "host": 5}, "connect_tunnel: unknown options 'bar', 'foo'"),
        ({"Host": "127.0.0.1"}, "connect_tunnel: unknown option 'Host'"),
        (
            {"host": None, "server_control_endpoint": "127.0.0.1:3671"},
            "connect_tunnel: options 'host' and 'server_control_endpoint' are alternates - name 1, not both",
        ),
        (
            {"server_control_endpoint": "127.0.0.1:3671", "port": 3671},
            "connect_tunnel: option 'port' rides with 'host' and has no effect beside 'server_control_endpoint'",
        ),
        ({"host": "127.0.0.1", "port": 65536}, "connect_tunnel port is out of range"),
        ({"host": "127.0.0.1", "port": -1}, "connect_tunnel: option 'port' must be a non-negative whole number"),
        ({"host": "127.0.0.1", "port": 3671.0}, "connect_tunnel: option 'port' must be a non-negative whole number"),
        ({"host": "127.0.0.1", "port": "3671"}, "connect_tunnel: option 'port' must be a non-negative whole number"),
        ({"host": "localhost"}, "connect_tunnel: option 'host' must be an IP address"),
        ({"host": "::1"}, "connect_tunnel: option 'host' must be an IP address"),
        ({"host": 127}, "connect_tunnel: option 'host' must be an IP address"),
        ({"server_control_endpoint": "gateway:3671"}, 'connect_tunnel: option \'server_control_endpoint\' must be an "address:port" endpoint'),
        ({"server_control_endpoint": "127.0.0.1"}, 'connect_tunnel: option \'server_control_endpoint\' must be an "address:port" endpoint'),
        ({"host": "127.0.0.1", "local_bind_endpoint": None}, 'connect_tunnel: option \'local_bind_endpoint\' must be an "address:port" endpoint'),
        ({"host": "127.0.0.1", "ack_timeout_ms": 1e3}, "connect_tunnel: option 'ack_timeout_ms' must be a non-negative whole number"),
        ({"host": "127.0.0.1", "text_overflow": "truncate"}, 'text_overflow must be "refuse" or "truncate_to_capacity"'),
        ({"host": "127.0.0.1", "text_overflow": None}, 'text_overflow must be "refuse" or "truncate_to_capacity"'),
    ],
)
def test_tunnel_option_refusals(options, message):
    assert refusal(tunnel, options) == message


@pytest.mark.parametrize(
    "options,message",
    [
        ("[]", "connect_routing: options must be an object"),
        ({"multicast_group": "192.168.1.10"}, "routing requires an IPv4 multicast group (224.0.0.0/4)"),
        ({"multicast_group": 224}, "connect_routing: option 'multicast_group' must be an IPv4 address"),
        ({"multicast_port": 65536}, "multicast_port is out of range"),
        (
            {"local_ip": "127.0.0.1", "interface": "127.0.0.1"},
            "connect_routing: options 'local_ip' and 'interface' are alternates - name 1, not both",
        ),
        ({"interface": "eth0"}, "connect_routing: option 'interface' must be an IPv4 address"),
        ({"loopback": None}, "connect_routing: option 'loopback' must be a boolean"),
        ({"ttl": 4294967296}, "ttl is out of range"),
        ({"source": "1.1"}, "connect_routing: option 'source' must be an individual address"),
        (
            {"source": "1.1.1", "individual_address": "1.1.2"},
            "connect_routing: options 'source' and 'individual_address' are alternates - name 1, not both",
        ),
        (
            {"local_bind_endpoint": "0.0.0.0:5000"},
            "connect_routing: option 'local_bind_endpoint' must bind the group's port or port 0",
        ),
        (
            {"local_bind_endpoint": "[::1]:0"},
            'connect_routing: option \'local_bind_endpoint\' must be an IPv4 "address:port" endpoint',
        ),
        ({"text_overflow": 1}, 'text_overflow must be "refuse" or "truncate_to_capacity"'),
    ],
)
def test_routing_option_refusals(options, message):
    assert refusal(routing, options) == message


@pytest.mark.parametrize(
    "options,message",
    [
        ("[1]", "discover_gateways: options must be an object"),
        ({"timeout": 1}, "discover_gateways: unknown option 'timeout'"),
        ({"timeout_ms": -5}, "discover_gateways: option 'timeout_ms' must be a non-negative whole number"),
        ({"discovery_endpoint": "255.255.255.255"}, 'discover_gateways: option \'discovery_endpoint\' must be an "address:port" endpoint'),
    ],
)
def test_discovery_option_refusals(options, message):
    assert refusal(discover, options) == message


@pytest.mark.parametrize("call", [tunnel, routing, discover])
def test_syntax_errors_name_line_and_column(call):
    message = refusal(call, '{\n  "host": }')
    assert message.endswith("line 2 column 11")


@pytest.mark.parametrize("call", [tunnel, routing, discover])
def test_options_must_be_str(call):
    with pytest.raises(TypeError):
        call({"host": "127.0.0.1"})


def test_unknown_keys_are_reported_before_any_other_judgement():
    assert refusal(tunnel, {"zz": 1, "port": 99999}) == "connect_tunnel: unknown option 'zz'"


def test_last_duplicate_key_wins():
    message = refusal(tunnel, '{"host": "127.0.0.1", "port": 1, "port": 70000}')
    assert message == "connect_tunnel port is out of range"


# ---------------------------------------------------------------------------------------------
# Options that pass judging. Each case is checked by what the call then does on the wire, since
# an accepted option is only worth something if the client acts on it.

IPV6_REFUSAL = "IPv6 is not supported for KNXnet/IP tunneling"
# Linux socket option values that Python 3.11 does not export.
IP_RECVTTL = 12
# A ROUTING_INDICATION of GroupValueWrite 1.1.5 -> 1/2/3 carrying 1.
INDICATION = bytes.fromhex("06100530001129 00bce0 1105 0a03 01 00 81".replace(" ", ""))
SLACK_S = 1.0


def only_loopback() -> bool:
    """Inside scripts/isolated: no interface but lo, so the standard port and group are ours."""
    return [name for _, name in socket.if_nameindex()] == ["lo"]


needs_private_namespace = pytest.mark.skipif(
    not only_loopback(), reason="uses the standard port; run under scripts/isolated")


def os_error_text(number: int) -> str:
    return f"{os.strerror(number)} (os error {number})"


def hpai(address: str, port: int) -> bytes:
    return bytes([0x08, 0x01]) + socket.inet_aton(address) + port.to_bytes(2, "big")


@pytest.fixture
def silent_gateway():
    """A UDP socket on 127.0.0.1 that records what reaches it and never answers."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    sock.settimeout(0.2)
    yield sock
    sock.close()


def heard(sock):
    try:
        return sock.recvfrom(1500)
    except socket.timeout:
        return None


# (options, with {gw} standing for the silent gateway's port; the refusal's code and message;
#  the CONNECT_REQUEST the gateway must hear: None for nothing, else (control HPAI, data HPAI)
#  where "bound" is the client socket's own address as the gateway sees it).
TUNNEL_ACCEPTED = [
    ({"host": "[::1]"}, "transport/unsupported-ipv6", IPV6_REFUSAL, None),
    ({"host": "[::1]", "port": 3671}, "transport/unsupported-ipv6", IPV6_REFUSAL, None),
    ({"host": "[::ffff:127.0.0.1]", "port": "{gw}"}, "transport/unsupported-ipv6", IPV6_REFUSAL, None),
    ({"server_control_endpoint": "[::1]:{gw}"}, "transport/unsupported-ipv6", IPV6_REFUSAL, None),
    ({"server_control_endpoint": "127.0.0.1:{gw}", "local_bind_endpoint": "[::]:0"},
     "transport/unsupported-ipv6", IPV6_REFUSAL, None),
    ({"server_control_endpoint": "127.0.0.1:{gw}", "control_endpoint": "[::1]:3671"},
     "transport/unsupported-ipv6", IPV6_REFUSAL, None),
    ({"server_control_endpoint": "127.0.0.1:{gw}", "data_endpoint": "[::1]:3671"},
     "transport/unsupported-ipv6", IPV6_REFUSAL, None),
    # A zero acknowledgement timeout is allowed: the request goes out, the wait ends at once.
    ({"host": "127.0.0.1", "port": "{gw}", "ack_timeout_ms": 0}, "transport/timeout",
     "operation timed out", ("0.0.0.0:bound", "0.0.0.0:bound")),
    ({"server_control_endpoint": "127.0.0.1:{gw}", "local_bind_endpoint": "127.0.0.1:0",
      "ack_timeout_ms": 100, "text_overflow": "refuse"},
     "transport/timeout", "operation timed out", ("bound", "bound")),
    ({"server_control_endpoint": "127.0.0.1:{gw}", "local_bind_endpoint": "127.0.0.1:0",
      "control_endpoint": "127.0.0.2:1234", "ack_timeout_ms": 100},
     "transport/timeout", "operation timed out", ("127.0.0.2:1234", "bound")),
    ({"server_control_endpoint": "127.0.0.1:{gw}", "data_endpoint": "127.0.0.3:4321",
      "ack_timeout_ms": 100},
     "transport/timeout", "operation timed out", ("0.0.0.0:bound", "127.0.0.3:4321")),
]


def fill(options: dict, port: int) -> dict:
    def one(value):
        if value == "{gw}":
            return port
        return value.replace("{gw}", str(port)) if isinstance(value, str) else value
    return {key: one(value) for key, value in options.items()}


@pytest.mark.parametrize("options,code,message,request_hpais", TUNNEL_ACCEPTED)
def test_tunnel_options_accepted(silent_gateway, options, code, message, request_hpais):
    port = silent_gateway.getsockname()[1]
    with pytest.raises(_tavrel.KnxTransportError) as info:
        tunnel(json.dumps(fill(options, port)))
    assert (info.value.code, str(info.value), info.value.dpt, info.value.field) == (code, message, None, None)
    datagram = heard(silent_gateway)
    if request_hpais is None:
        assert datagram is None, "an IPv6 endpoint must be refused before any datagram is sent"
        return
    request, (address, client_port) = datagram

    def expected(text):
        host, _, rest = text.rpartition(":")
        if rest == "bound":
            return hpai(host or address, client_port)
        return hpai(host, int(rest))

    control, data = request_hpais
    assert request == bytes.fromhex("06100205001a") + expected(control) + expected(data) + bytes.fromhex("04040200")


@needs_private_namespace
def test_tunnel_port_defaults_to_3671():
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.bind(("127.0.0.1", 3671))
    listener.settimeout(0.5)
    try:
        with pytest.raises(_tavrel.KnxTransportError) as info:
            tunnel(json.dumps({"host": "127.0.0.1", "ack_timeout_ms": 50}))
        assert info.value.code == "transport/timeout"
        request, _ = listener.recvfrom(1500)
        assert request[:6] == bytes.fromhex("06100205001a")
    finally:
        listener.close()


def group_listener(group: str, port: int) -> socket.socket:
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("0.0.0.0", port))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                    socket.inet_aton(group) + socket.inet_aton("127.0.0.1"))
    sock.setsockopt(socket.IPPROTO_IP, IP_RECVTTL, 1)
    sock.settimeout(2)
    return sock


def received_with_ttl(sock):
    data, ancillary, _, sender = sock.recvmsg(1500, socket.CMSG_SPACE(4))
    ttls = [struct.unpack("i", payload)[0] for level, kind, payload in ancillary
            if level == socket.IPPROTO_IP and kind == socket.IP_TTL]
    return data, sender, ttls


# (options beside the group and port; the time-to-live the datagram arrives with; the source
#  individual address written into it, as raw octets).
ROUTING_ACCEPTED = [
    ({"interface": "127.0.0.1"}, 1, b"\x00\x00"),
    ({"local_ip": None, "interface": "127.0.0.1"}, 1, b"\x00\x00"),
    ({"local_ip": "127.0.0.1", "interface": None}, 1, b"\x00\x00"),
    ({"interface": "127.0.0.1", "ttl": 255}, 255, b"\x00\x00"),
    ({"interface": "127.0.0.1", "ttl": 0}, 0, b"\x00\x00"),
    ({"interface": "127.0.0.1", "source": None, "individual_address": "1.2.3"}, 1, b"\x12\x03"),
    ({"interface": "127.0.0.1", "source": "15.15.255", "individual_address": None}, 1, b"\xff\xff"),
    ({"interface": "127.0.0.1", "loopback": False, "text_overflow": "refuse"}, 1, b"\x00\x00"),
    ({"interface": "127.0.0.1", "local_bind_endpoint": "0.0.0.0:0"}, 1, b"\x00\x00"),
]


@pytest.mark.parametrize("group", ["239.255.0.1", "224.0.1.200"])
@pytest.mark.parametrize("options,ttl,source", ROUTING_ACCEPTED)
def test_routing_options_accepted(group, options, ttl, source):
    port = free_udp_port()
    listener = group_listener(group, port)
    try:
        client = routing(json.dumps({"multicast_group": group, "multicast_port": port, **options}))
        try:
            assert client.send("1/2/3", "1.001", "true") == 17
            data, _, ttls = received_with_ttl(listener)
        finally:
            client.close()
    finally:
        listener.close()
    assert data == bytes.fromhex("0610053000112900bce0") + source + bytes.fromhex("0a03010081")
    assert ttls == [ttl]


# Accepted by the options reader, refused when the operating system sets the socket up.
ROUTING_SOCKET_REFUSALS = [
    ({"ttl": 256}, 22),
    ({"ttl": 4294967295}, 22),
    ({"interface": "192.0.2.1"}, 99),
    ({"local_ip": "192.0.2.1", "interface": None}, 99),
]


@pytest.mark.parametrize("options,number", ROUTING_SOCKET_REFUSALS)
def test_routing_options_accepted_then_refused_by_the_socket(options, number):
    with pytest.raises(_tavrel.KnxTransportError) as info:
        routing(json.dumps({"multicast_group": "239.255.0.1", "multicast_port": free_udp_port(), **options}))
    assert (info.value.code, str(info.value)) == ("transport/io", os_error_text(number))


# (multicast port, None for the default; local_bind_endpoint; whether the monitor then hears a
#  datagram sent to 127.0.0.1 at the group's port and one sent to the group). A monitor bound to
# a unicast address does not get the group's datagrams, which shows the address was used.
MONITOR_BINDS = [
    pytest.param(None, "127.0.0.1:0", True, False, marks=needs_private_namespace),
    pytest.param(None, "127.0.0.1:3671", True, False, marks=needs_private_namespace),
    pytest.param(None, "0.0.0.0:3671", True, True, marks=needs_private_namespace),
    pytest.param(None, "0.0.0.0:0", True, True, marks=needs_private_namespace),
    pytest.param("free", "0.0.0.0:{port}", True, True),
    pytest.param("free", "127.0.0.1:0", True, False),
]


@pytest.mark.parametrize("port,bind,hears_unicast,hears_group", MONITOR_BINDS)
def test_routing_monitor_bind_endpoint_accepted(port, bind, hears_unicast, hears_group):
    group_port = 3671 if port is None else free_udp_port()
    options = {"interface": "127.0.0.1", "local_bind_endpoint": bind.replace("{port}", str(group_port))}
    if port is not None:
        options["multicast_port"] = group_port
    client = routing(json.dumps(options))
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    try:
        client.monitor_start()
        outcomes = []
        for target in ["127.0.0.1", "224.0.23.12"]:
            sender.sendto(INDICATION, (target, group_port))
            try:
                event = json.loads(client.monitor_next_json(300))
                assert (event["destination"], event["source"]) == ("1/2/3", "1.1.5")
                outcomes.append(True)
            except RuntimeError as error:
                assert str(error) == "monitor timeout: no telegram received"
                outcomes.append(False)
    finally:
        sender.close()
        client.close()
    assert outcomes == [hears_unicast, hears_group]


# (options, with {gw} for a silent socket's port; the wait the call must take, in seconds; the
#  HPAI address the SEARCH_REQUEST carries, "bound" for the socket's own; or the refusal).
DISCOVERY_ACCEPTED = [
    ({"local_bind_endpoint": "127.0.0.1:0", "discovery_endpoint": "127.0.0.1:{gw}", "timeout_ms": 0},
     0.0, "bound", None),
    ({"local_bind_endpoint": "127.0.0.1:0", "discovery_endpoint": "127.0.0.1:{gw}", "timeout_ms": 400},
     0.4, "bound", None),
    ({"discovery_endpoint": "127.0.0.1:{gw}", "timeout_ms": 100}, 0.1, "0.0.0.0", None),
    # From an IPv6 socket the HPAI says 0.0.0.0 with the socket's port.
    ({"local_bind_endpoint": "[::1]:0", "discovery_endpoint": "[::1]:{gw}", "timeout_ms": 200},
     0.2, "0.0.0.0", None),
    # The default bind is IPv4, which cannot send to an IPv6 target.
    ({"discovery_endpoint": "[::1]:{gw}", "timeout_ms": 200}, None, None, ("transport/io", os_error_text(97))),
]


@pytest.mark.parametrize("options,seconds,hpai_address,refused", DISCOVERY_ACCEPTED)
def test_discovery_options_accepted(options, seconds, hpai_address, refused):
    family = socket.AF_INET6 if "[::1]" in options["discovery_endpoint"] else socket.AF_INET
    silent = socket.socket(family, socket.SOCK_DGRAM)
    silent.bind(("::1" if family == socket.AF_INET6 else "127.0.0.1", 0))
    silent.settimeout(0.3)
    try:
        started = time.monotonic()
        try:
            outcome = discover(json.dumps(fill(options, silent.getsockname()[1])))
        except _tavrel.KnxTransportError as error:
            outcome = (error.code, str(error))
        took = time.monotonic() - started
        datagram = heard(silent)
    finally:
        silent.close()
    if refused is not None:
        assert outcome == refused
        assert datagram is None
        return
    assert outcome == "[]"
    assert seconds * 0.95 <= took <= seconds + SLACK_S
    request, sender = datagram
    address = sender[0] if hpai_address == "bound" else hpai_address
    assert request == bytes.fromhex("06100201000e") + hpai(address, sender[1])


def namespace_with_broadcast() -> list:
    """A namespace whose loopback carries the limited broadcast address, so that a search to
    255.255.255.255 stays inside it."""
    return private_namespace_command("broadcast 255.255.255.255 dev lo table local src 127.0.0.1")


def test_discovery_with_an_empty_object_searches_the_broadcast_address_for_three_seconds():
    here = pathlib.Path(__file__).resolve().parent
    module_dir = pathlib.Path(_tavrel.__file__).resolve().parent
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(here), str(module_dir), os.environ.get("PYTHONPATH", "")])}
    run = subprocess.run([*namespace_with_broadcast(), sys.executable, str(here / "default_discovery_netns.py")],
                         capture_output=True, env=env, timeout=30)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    result = json.loads(run.stdout)
    assert "error" not in result, result
    sender_port = result["sender"][1]
    # Sent from 0.0.0.0 and an ephemeral port, to 255.255.255.255:3671 (the only socket that
    # heard it listens there).
    assert sender_port != 0
    assert result["request"] == (bytes.fromhex("06100201000e") + hpai("0.0.0.0", sender_port)).hex()
    # The answer came 2.5 s after the request and is still collected; the call ends at 3 s.
    assert result.get("returned") == [{
        "control_endpoint": "127.0.0.1:3671", "received_from": "127.0.0.1:3671",
        "service_families": [{"id": 2, "version": 1}, {"id": 4, "version": 1}, {"id": 5, "version": 1}],
    }], result
    assert 3.0 * 0.98 <= result["seconds"] <= 3.0 + SLACK_S, result["seconds"]
