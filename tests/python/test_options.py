"""Options JSON of the three calls that take one: every refusal happens before any socket."""

import json

import pytest

import _tavrel

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
