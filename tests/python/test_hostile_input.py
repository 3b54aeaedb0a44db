"""Hostile arguments at every entry point: wrong types, huge texts, deeply nested JSON, NUL
characters and lone surrogates. Each must be answered with a clear exception of a documented
class, never a crash, a hang or a silently altered argument.

Everything that could reach the network is aimed at 127.0.0.1 (a scripted gateway, multicast with
time-to-live 0 on the loopback interface), so even a wrongly accepted argument stays on this host.
"""

import json
import zipfile

import pytest

import _tavrel
from fault_gateway import FaultGateway

HUGE = 8 * 1024 * 1024  # characters
DEPTH = 100_000

NESTED_DOCUMENTS = {
    "arrays": "[" * DEPTH + "]" * DEPTH,
    "objects": '{"a":' * DEPTH + "1" + "}" * DEPTH,
    "unterminated": "[" * DEPTH,
    "mixed": '[{"a":' * (DEPTH // 2) + "null" + "}]" * (DEPTH // 2),
}

NOT_TEXT = [None, 1, 1.5, b"1/2/3", bytearray(b"1/2/3"), ["1/2/3"], {"1/2/3": 1}, object()]

ADDRESS_PARSERS = [
    "parse_group_address",
    "format_group_address",
    "group_address_to_raw",
    "parse_individual_address",
    "format_individual_address",
    "individual_address_to_raw",
]

# Texts that are no address; the NUL ones would be read as a valid address by anything that
# stopped at the first NUL.
BAD_ADDRESS_TEXTS = [
    "1/2/3\x00",
    "1.1.5\x00",
    "\x001/2/3",
    "1/2\x00/3",
    "1/2/3" + "\x00" * 1000,
    "1/2/" + "3" * HUGE,
    "1" * HUGE,
    "/" * HUGE,
    "1/2/3 " + " " * HUGE,
    "1/2/\udc80",
    "\ud800",
    "1.1.\udfff",
    "１/２/３",  # full-width digits
    "1/2/3\u200b",
]


@pytest.mark.parametrize("name", ADDRESS_PARSERS)
@pytest.mark.parametrize("value", NOT_TEXT, ids=lambda v: type(v).__name__)
def test_address_functions_refuse_anything_but_str(name, value):
    with pytest.raises(TypeError):
        getattr(_tavrel, name)(value)


@pytest.mark.parametrize("name", ADDRESS_PARSERS)
@pytest.mark.parametrize("text", BAD_ADDRESS_TEXTS, ids=range(len(BAD_ADDRESS_TEXTS)))
def test_address_functions_refuse_hostile_texts(name, text):
    # ValueError covers UnicodeEncodeError, the conversion error of a lone surrogate.
    with pytest.raises(ValueError):
        getattr(_tavrel, name)(text)


@pytest.mark.parametrize("name", ["group_address_from_raw", "individual_address_from_raw"])
@pytest.mark.parametrize(
    "raw,error",
    [
        (-1, OverflowError),
        (65536, OverflowError),
        (2**64, OverflowError),
        (10**100, OverflowError),
        (-(10**100), OverflowError),
        ("1", TypeError),
        (1.0, TypeError),
        (None, TypeError),
        (b"\x01", TypeError),
    ],
    ids=repr,
)
def test_raw_conversions_refuse_hostile_numbers(name, raw, error):
    with pytest.raises(error):
        getattr(_tavrel, name)(raw)


def write_project(path):
    content = (
        '<KNX><Project><GroupAddress Address="2305" Name="Light" DatapointType="DPST-1-1"/>'
        "</Project></KNX>"
    )
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("P-0001/0.xml", content)


def test_project_path_with_a_nul_is_refused_not_shortened(tmp_path):
    project = tmp_path / "valid.knxproj"
    write_project(project)
    assert json.loads(_tavrel.load_knxproj_json(str(project)))["group_addresses"]

    # The part before the NUL names a readable project: importing it would be silent truncation.
    with pytest.raises((ValueError, OSError)):
        _tavrel.load_knxproj_json(str(project) + "\x00.ignored")


@pytest.mark.parametrize(
    "path,error",
    [
        ("\ud800.knxproj", (ValueError, OSError)),
        ("x" * HUGE, (ValueError, OSError)),
        ("/" * 5000 + "x.knxproj", (ValueError, OSError)),
        ("", (ValueError, OSError)),
        (None, TypeError),
        (42, TypeError),
        (["a.knxproj"], TypeError),
    ],
    ids=["lone-surrogate", "huge", "long-path", "empty", "none", "int", "list"],
)
def test_project_paths_hostile(path, error):
    with pytest.raises(error):
        _tavrel.load_knxproj_json(path)


def test_project_of_arbitrary_octets_is_refused(tmp_path):
    cases = {
        "empty": b"",
        "not a zip": b"\x00" * 1000,
        "zip signature only": b"PK\x03\x04" + b"\xff" * 100,
        "end record only": b"PK\x05\x06" + b"\x00" * 18,
        "truncated archive": None,
    }
    full = tmp_path / "full.knxproj"
    write_project(full)
    cases["truncated archive"] = full.read_bytes()[:-10]
    for name, octets in cases.items():
        path = tmp_path / f"{name}.knxproj"
        path.write_bytes(octets)
        with pytest.raises(ValueError):
            _tavrel.load_knxproj_json(str(path))


@pytest.fixture(scope="module")
def gateway():
    scripted = FaultGateway()
    yield scripted
    scripted.close()


@pytest.fixture(scope="module")
def tunnel(gateway):
    client = _tavrel.NativeTunnelClient.connect(json.dumps(gateway.options(ack_timeout_ms=500)))
    yield client
    client.close()


@pytest.fixture(scope="module")
def router():
    options = {
        "multicast_group": "239.255.0.77",
        "interface": "127.0.0.1",
        "ttl": 0,
        "local_bind_endpoint": "127.0.0.1:0",
    }
    client = _tavrel.NativeRouteClient.connect(json.dumps(options))
    yield client
    client.close()


def options_calls(gateway):
    """Each options call with a valid loopback-only option object and a way to call it."""
    return {
        "connect_tunnel": (
            gateway.options(ack_timeout_ms=200),
            lambda text: _tavrel.NativeTunnelClient.connect(text).close(),
        ),
        "connect_routing": (
            {"multicast_group": "239.255.0.77", "interface": "127.0.0.1", "ttl": 0},
            lambda text: _tavrel.NativeRouteClient.connect(text).close(),
        ),
        "discover_gateways": (
            {
                "local_bind_endpoint": "127.0.0.1:0",
                "discovery_endpoint": f"127.0.0.1:{gateway.port}",
                "timeout_ms": 0,
            },
            _tavrel.discover_gateways_json,
        ),
    }


CALLS = ["connect_tunnel", "connect_routing", "discover_gateways"]


@pytest.mark.parametrize("call", CALLS)
def test_valid_loopback_options_are_accepted(gateway, call):
    # The baseline of the hostile cases below: the same object unaltered works.
    options, run = options_calls(gateway)[call]
    run(json.dumps(options))


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("document", NESTED_DOCUMENTS, ids=str)
def test_deeply_nested_options_are_refused(gateway, call, document):
    _, run = options_calls(gateway)[call]
    with pytest.raises(ValueError):
        run(NESTED_DOCUMENTS[document])


@pytest.mark.parametrize("call", CALLS)
def test_options_nested_inside_a_valid_object_are_refused(gateway, call):
    options, run = options_calls(gateway)[call]
    text = json.dumps(options)[:-1] + ', "deep": ' + NESTED_DOCUMENTS["arrays"] + "}"
    with pytest.raises(ValueError):
        run(text)


def altered(options, how):
    """The option text with one hostile alteration."""
    text = json.dumps(options)
    first_key = next(iter(options))
    value = options[first_key]
    if how == "trailing raw NUL":
        return text + "\x00"
    if how == "trailing NUL and garbage":
        return text + "\x00garbage"
    if how == "escaped NUL in a value":
        return json.dumps({**options, first_key: f"{value}\x00x"}) if isinstance(value, str) else None
    if how == "raw NUL in a value":
        return text.replace(json.dumps(value), json.dumps(value)[:-1] + '\x00"', 1) if isinstance(value, str) else None
    if how == "NUL in a key":
        return json.dumps({**{k: v for k, v in options.items() if k != first_key}, first_key + "\x00": value})
    if how == "escaped lone surrogate in a value":
        return text.replace(json.dumps(value), '"\\ud800"', 1) if isinstance(value, str) else None
    if how == "lone surrogate in the text":
        return text[:-1] + ', "\ud800": 1}'
    if how == "huge value":
        return json.dumps({**options, first_key: "1" * HUGE})
    if how == "huge unknown key":
        return json.dumps({**options, "k" * HUGE: 1})
    if how == "many unknown keys":
        return json.dumps({**options, **{f"k{i}": i for i in range(100_000)}})
    raise AssertionError(how)


ALTERATIONS = [
    "trailing raw NUL",
    "trailing NUL and garbage",
    "escaped NUL in a value",
    "raw NUL in a value",
    "NUL in a key",
    "escaped lone surrogate in a value",
    "lone surrogate in the text",
    "huge value",
    "huge unknown key",
    "many unknown keys",
]


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("how", ALTERATIONS)
def test_hostile_option_texts_are_refused(gateway, call, how):
    options, run = options_calls(gateway)[call]
    text = altered(options, how)
    if text is None:
        pytest.skip("the first option of this call is not a text")
    with pytest.raises(ValueError):
        run(text)


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("value", NOT_TEXT, ids=lambda v: type(v).__name__)
def test_options_must_be_str(gateway, call, value):
    _, run = options_calls(gateway)[call]
    with pytest.raises(TypeError):
        run(value)


def tunnel_writes(tunnel):
    return {"write": tunnel.write, "respond": tunnel.respond}


WRITE_ARGUMENTS = [
    # (group, dpt, value_json, exception class, code or None)
    (1, "1.001", "true", TypeError, None),
    ("1/2/3", b"1.001", "true", TypeError, None),
    ("1/2/3", "1.001", b"true", TypeError, None),
    ("1/2/3", "1.001", None, TypeError, None),
    ("1/2/3\x00", "1.001", "true", _tavrel.KnxAdapterError, "adapter/malformed-address"),
    ("1/2/3", "1.001\x00", "true", _tavrel.KnxAdapterError, "adapter/malformed-datapoint"),
    ("1/2/3", "1.001", "true\x00", _tavrel.KnxAdapterError, "adapter/invalid-json"),
    ("1/2/3", "1.001", "true\x00false", _tavrel.KnxAdapterError, "adapter/invalid-json"),
    ("1/2/3", "28.001", '"a\x00b"', _tavrel.KnxAdapterError, "adapter/invalid-json"),
    ("1/2/" + "3" * HUGE, "1.001", "true", _tavrel.KnxAdapterError, "adapter/malformed-address"),
    ("1/2/3", "1." + "0" * HUGE + "1", "true", _tavrel.KnxAdapterError, "adapter/malformed-datapoint"),
    ("1/2/3", "9.001", "1" * HUGE, _tavrel.KnxError, None),
    ("1/2/3", "9.001", "0." + "0" * HUGE + "1", _tavrel.KnxError, None),
    ("1/2/3", "9.001", "1e" + "9" * HUGE, _tavrel.KnxError, None),
    ("1/2/3", "28.001", json.dumps("a" * HUGE), _tavrel.KnxError, None),
    ("1/2/3", "1.001", " " * HUGE + "true" + "\n" * 10, None, None),
    ("1/2/\ud800", "1.001", "true", ValueError, None),
    ("1/2/3", "1.0\udc00", "true", ValueError, None),
    ("1/2/3", "28.001", '"\ud800"', ValueError, None),
    ("1/2/3", "28.001", '"\\ud800"', _tavrel.KnxAdapterError, "adapter/invalid-json"),
    ("1/2/3", "28.001", '"\\udc00\\ud800"', _tavrel.KnxAdapterError, "adapter/invalid-json"),
]


@pytest.mark.parametrize("method", ["write", "respond"])
@pytest.mark.parametrize(
    "group,dpt,value,error,code", WRITE_ARGUMENTS, ids=range(len(WRITE_ARGUMENTS))
)
def test_hostile_write_arguments(tunnel, method, group, dpt, value, error, code):
    call = tunnel_writes(tunnel)[method]
    if error is None:
        assert call(group, dpt, value) is None
        return
    with pytest.raises(error) as raised:
        call(group, dpt, value)
    if issubclass(error, _tavrel.KnxError):
        assert isinstance(raised.value.code, str) and "/" in raised.value.code
        assert str(raised.value)
    if code is not None:
        assert raised.value.code == code


@pytest.mark.parametrize("method", ["write", "respond"])
@pytest.mark.parametrize("document", NESTED_DOCUMENTS, ids=str)
def test_deeply_nested_value_documents_are_refused(tunnel, method, document):
    call = tunnel_writes(tunnel)[method]
    with pytest.raises(_tavrel.KnxAdapterError) as raised:
        call("1/2/3", "277.1200", NESTED_DOCUMENTS[document])
    assert raised.value.code in ("adapter/document-too-deep", "adapter/invalid-json")


def test_text_with_an_escaped_nul_is_never_sent_shortened(gateway, tunnel):
    # A NUL ends a variable text on the wire; a text holding one must be refused or arrive whole.
    before = len(gateway.services())
    try:
        tunnel.write("1/2/3", "28.001", json.dumps("ab\x00cd"))
    except _tavrel.KnxError as refused:
        assert refused.code.startswith(("adapter/", "semantic/"))
        assert len(gateway.services()) == before
        return
    with gateway.lock:
        sent = gateway.received[-1][1]
    assert sent.endswith(b"ab\x00cd\x00"), sent


@pytest.mark.parametrize(
    "group,error",
    [
        (1, TypeError),
        (b"1/2/3", TypeError),
        ("1/2/3\x00", ValueError),
        ("1/2/" + "3" * HUGE, ValueError),
        ("1/2/\ud800", ValueError),
    ],
    ids=["int", "bytes", "nul", "huge", "surrogate"],
)
def test_hostile_read_request_groups(tunnel, group, error):
    with pytest.raises(error):
        tunnel.read_request(group)


@pytest.mark.parametrize(
    "timeout,error",
    [(-1, OverflowError), (2**64, OverflowError), (10**100, OverflowError), ("1", TypeError),
     (0.5, TypeError), (None, TypeError)],
    ids=repr,
)
def test_hostile_monitor_timeouts(tunnel, router, timeout, error):
    for client in (tunnel, router):
        with pytest.raises(error):
            client.monitor_next_json(timeout)


@pytest.mark.parametrize(
    "group,dpt,value,error",
    [
        (None, "1.001", "true", TypeError),
        ("1/2/3", "1.001", b"true", TypeError),
        ("1/2/3\x00", "1.001", "true", _tavrel.KnxAdapterError),
        ("1/2/3", "1.001", NESTED_DOCUMENTS["arrays"], _tavrel.KnxAdapterError),
        ("1/2/3", "1.001", "true\x00", _tavrel.KnxAdapterError),
        ("1/2/3", "28.001", '"\ud800"', ValueError),
        ("1/2/3", "28.001", '"\\ud800"', _tavrel.KnxAdapterError),
    ],
    ids=["none", "bytes", "nul-group", "nested", "nul-value", "surrogate", "escaped-surrogate"],
)
def test_hostile_routing_send_arguments(router, group, dpt, value, error):
    with pytest.raises(error):
        router.send(group, dpt, value)


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t.write("1/2/3", "1.001"),
        lambda t: t.write("1/2/3", "1.001", "true", "extra"),
        lambda t: t.write(group="1/2/3", dpt="1.001", value="true"),
        lambda t: t.read_request(),
        lambda t: t.monitor_next_json(),
        lambda t: t.close(1),
        lambda t: _tavrel.parse_group_address(),
        lambda t: _tavrel.parse_group_address("1/2/3", "1/2/4"),
        lambda t: _tavrel.parse_group_address(text="1/2/3"),
        lambda t: _tavrel.NativeTunnelClient(),
        lambda t: _tavrel.NativeRouteClient(),
    ],
    ids=["few", "many", "bad-keyword", "no-group", "no-timeout", "close-arg", "no-value",
         "two-values", "bad-function-keyword", "tunnel-constructor", "route-constructor"],
)
def test_wrong_argument_lists_raise_type_error(tunnel, call):
    with pytest.raises(TypeError):
        call(tunnel)


def test_the_client_still_works_after_the_hostile_calls(gateway, tunnel):
    heard = len(gateway.services())
    tunnel.write("1/2/3", "1.001", "true")
    assert not tunnel.is_closed()
    assert len(gateway.services()) > heard
