"""The module frame: attributes, address functions and the exception hierarchy."""

import inspect
import json

import pytest

import _tavrel
from scripted_gateway import ScriptedGateway

FUNCTIONS = [
    ("parse_individual_address", "value"),
    ("format_individual_address", "value"),
    ("parse_group_address", "value"),
    ("format_group_address", "value"),
    ("load_knxproj_json", "path"),
    ("group_address_to_raw", "value"),
    ("group_address_from_raw", "raw"),
    ("individual_address_to_raw", "value"),
    ("individual_address_from_raw", "raw"),
    ("discover_gateways_json", "options_json"),
]
EXCEPTIONS = ["KnxError", "KnxResolveError", "KnxTransportError", "KnxSemanticError", "KnxAdapterError"]


def test_module_holds_exactly_the_documented_attributes():
    public = {name for name in dir(_tavrel) if not name.startswith("__")}
    expected = {name for name, _ in FUNCTIONS} | set(EXCEPTIONS) | {"NativeTunnelClient", "NativeRouteClient"}
    assert public == expected
    assert _tavrel.__doc__ in ("", None)


@pytest.mark.parametrize("name,argument", FUNCTIONS)
def test_function_signatures_come_from_their_docstrings(name, argument):
    function = getattr(_tavrel, name)
    assert str(inspect.signature(function)) == f"({argument})"
    assert function.__doc__ in ("", None)


# The text signature each docstring carries, for every function and method of the module.
SIGNATURES = [(None, name, f"{name}({argument})") for name, argument in FUNCTIONS] + [
    ("NativeTunnelClient", "connect", "connect(options_json)"),
    ("NativeTunnelClient", "write", "write($self, group, dpt, value_json)"),
    ("NativeTunnelClient", "read_request", "read_request($self, group)"),
    ("NativeTunnelClient", "respond", "respond($self, group, dpt, value_json)"),
    ("NativeTunnelClient", "close", "close($self)"),
    ("NativeTunnelClient", "is_closed", "is_closed($self)"),
    ("NativeTunnelClient", "lifecycle_events_json", "lifecycle_events_json($self)"),
    ("NativeTunnelClient", "monitor_start", "monitor_start($self)"),
    ("NativeTunnelClient", "monitor_started", "monitor_started($self)"),
    ("NativeTunnelClient", "monitor_next_json", "monitor_next_json($self, timeout_ms)"),
    ("NativeRouteClient", "connect", "connect(options_json)"),
    ("NativeRouteClient", "send", "send($self, group, dpt, value_json)"),
    ("NativeRouteClient", "monitor_start", "monitor_start($self)"),
    ("NativeRouteClient", "monitor_started", "monitor_started($self)"),
    ("NativeRouteClient", "monitor_next_json", "monitor_next_json($self, timeout_ms)"),
    ("NativeRouteClient", "close", "close($self)"),
    ("NativeRouteClient", "is_closed", "is_closed($self)"),
]


@pytest.fixture(scope="module")
def instances():
    """One open client of each class, to see the signatures of bound methods."""
    gateway = ScriptedGateway()
    tunnel = _tavrel.NativeTunnelClient.connect(json.dumps(gateway.options()))
    route = _tavrel.NativeRouteClient.connect(json.dumps({"multicast_group": "239.255.0.9", "interface": "127.0.0.1"}))
    yield {"NativeTunnelClient": tunnel, "NativeRouteClient": route}
    tunnel.close()
    route.close()
    gateway.close()


def test_signature_table_covers_every_callable():
    surface = {(None, name) for name in dir(_tavrel)
               if callable(getattr(_tavrel, name)) and not isinstance(getattr(_tavrel, name), type)}
    for owner in ("NativeTunnelClient", "NativeRouteClient"):
        surface |= {(owner, name) for name in vars(getattr(_tavrel, owner)) if not name.startswith("__")}
    assert surface == {(owner, name) for owner, name, _ in SIGNATURES}


@pytest.mark.parametrize("owner,name,text", SIGNATURES, ids=[f"{o or '_tavrel'}.{n}" for o, n, _ in SIGNATURES])
def test_signature_of_every_function_and_method(owner, name, text, instances):
    names = [part.strip() for part in text[len(name) + 1:-1].split(",") if part.strip()]
    takes_self = names[:1] == ["$self"]
    arguments = names[1:] if takes_self else names
    callable_ = getattr(_tavrel if owner is None else getattr(_tavrel, owner), name)
    assert callable_.__text_signature__ == text[len(name):]

    signature = inspect.signature(callable_)
    expected = (["self"] if takes_self else []) + arguments
    assert list(signature.parameters) == expected
    kinds = [parameter.kind for parameter in signature.parameters.values()]
    assert kinds == ([inspect.Parameter.POSITIONAL_ONLY] if takes_self else []) + (
        [inspect.Parameter.POSITIONAL_OR_KEYWORD] * len(arguments))
    assert all(parameter.default is inspect.Parameter.empty for parameter in signature.parameters.values())
    assert signature.return_annotation is inspect.Signature.empty

    if owner is not None:
        # connect is a static method; everything else binds to an instance and drops `self`.
        assert isinstance(vars(getattr(_tavrel, owner))[name], staticmethod) == (not takes_self)
        bound = inspect.signature(getattr(instances[owner], name))
        assert list(bound.parameters) == arguments


# Methods called with every argument by keyword: (class, method, keywords, what it returns, or
# the RuntimeError text it raises; the keyword was read if the call got that far).
METHOD_KEYWORD_CALLS = [
    ("NativeTunnelClient", "write", {"group": "1/2/3", "dpt": "1.001", "value_json": "true"}, None),
    ("NativeTunnelClient", "respond", {"group": "1/2/3", "dpt": "9.001", "value_json": "21.5"}, None),
    ("NativeTunnelClient", "read_request", {"group": "1/2/3"}, None),
    ("NativeTunnelClient", "monitor_next_json", {"timeout_ms": 0}, RuntimeError("monitor not started")),
    ("NativeRouteClient", "send", {"group": "1/2/3", "dpt": "1.001", "value_json": "true"}, 17),
    ("NativeRouteClient", "monitor_next_json", {"timeout_ms": 0}, RuntimeError("monitor not started")),
]


@pytest.mark.parametrize("owner,name,keywords,outcome", METHOD_KEYWORD_CALLS,
                         ids=[f"{o}.{n}" for o, n, _, _ in METHOD_KEYWORD_CALLS])
def test_methods_take_their_arguments_by_keyword(owner, name, keywords, outcome, instances):
    method = getattr(instances[owner], name)
    if isinstance(outcome, RuntimeError):
        with pytest.raises(RuntimeError) as info:
            method(**keywords)
        assert str(info.value) == str(outcome)
    else:
        assert method(**keywords) == outcome
    with pytest.raises(TypeError):
        method(**{key.upper(): value for key, value in keywords.items()})
    with pytest.raises(TypeError):
        method(*keywords.values(), **dict(list(keywords.items())[-1:]))


def test_connect_takes_options_json_by_keyword():
    gateway = ScriptedGateway()
    try:
        tunnel = _tavrel.NativeTunnelClient.connect(options_json=json.dumps(gateway.options()))
        assert tunnel.is_closed() is False
        tunnel.close()
    finally:
        gateway.close()
    route = _tavrel.NativeRouteClient.connect(options_json=json.dumps({"interface": "127.0.0.1"}))
    assert route.is_closed() is False
    route.close()
    with pytest.raises(TypeError):
        _tavrel.NativeRouteClient.connect(options=json.dumps({}))


def test_exception_hierarchy():
    assert issubclass(_tavrel.KnxError, Exception)
    assert _tavrel.KnxError.__module__ == "_tavrel"
    for name in EXCEPTIONS[1:]:
        cls = getattr(_tavrel, name)
        assert issubclass(cls, _tavrel.KnxError)
        assert cls.__module__ == "_tavrel"
    assert _tavrel.KnxError.__doc__ == "A refused KNX operation, carrying `code`, `dpt` and `field`."
    assert _tavrel.KnxAdapterError.__doc__ == (
        "The document does not answer the datapoint's declared composition items."
    )


@pytest.mark.parametrize(
    "function,argument,expected",
    [
        ("parse_group_address", "1/2/3", "1/2/3"),
        ("format_group_address", "1/2/3", "1/2/3"),
        ("parse_group_address", "01/2/+3", "1/2/3"),
        ("group_address_to_raw", "1/2/3", 2563),
        ("group_address_from_raw", 2563, "1/2/3"),
        ("group_address_from_raw", 65535, "31/7/255"),
        ("individual_address_to_raw", "1.1.5", 4357),
        ("individual_address_from_raw", 65535, "15.15.255"),
        ("individual_address_from_raw", 0, "0.0.0"),
        ("parse_individual_address", "01.1.+5", "1.1.5"),
        ("format_individual_address", "15.15.255", "15.15.255"),
    ],
)
def test_address_functions(function, argument, expected):
    assert getattr(_tavrel, function)(argument) == expected


# Every address function with its one keyword, a text the keyword carries, the result, and the
# keyword of the other family: a function must not take any one-argument keyword it is handed.
BY_KEYWORD = [
    ("parse_individual_address", "value", "01.1.+5", "1.1.5", "raw"),
    ("format_individual_address", "value", "15.15.255", "15.15.255", "raw"),
    ("parse_group_address", "value", "01/2/+3", "1/2/3", "raw"),
    ("format_group_address", "value", "+31/007/255", "31/7/255", "raw"),
    ("group_address_to_raw", "value", "1/2/3", 2563, "raw"),
    ("group_address_from_raw", "raw", 2563, "1/2/3", "value"),
    ("individual_address_to_raw", "value", "1.1.5", 4357, "raw"),
    ("individual_address_from_raw", "raw", 65535, "15.15.255", "value"),
]


@pytest.mark.parametrize("name,keyword,argument,expected,foreign", BY_KEYWORD, ids=[c[0] for c in BY_KEYWORD])
def test_every_address_function_takes_its_argument_by_keyword(name, keyword, argument, expected, foreign):
    function = getattr(_tavrel, name)
    assert function(**{keyword: argument}) == expected
    assert function(**{keyword: argument}) == function(argument)
    with pytest.raises(TypeError):
        function(**{foreign: argument})
    with pytest.raises(TypeError):
        function(argument, **{keyword: argument})
    with pytest.raises(TypeError):
        function(**{keyword: argument, foreign: argument})
    # A keyword argument is judged like a positional one, not skipped or defaulted.
    bad = 65536 if keyword == "raw" else "1/2/3/4" if "group" in name else "1.1"
    with pytest.raises((ValueError, OverflowError)) as info:
        function(**{keyword: bad})
    with pytest.raises(type(info.value)) as positional:
        function(bad)
    assert str(info.value) == str(positional.value)


def test_arguments_by_keyword():
    assert _tavrel.parse_group_address(value="1/2/3") == "1/2/3"
    assert _tavrel.group_address_from_raw(raw=2563) == "1/2/3"
    with pytest.raises(TypeError):
        _tavrel.parse_group_address(text="1/2/3")
    with pytest.raises(TypeError):
        _tavrel.parse_group_address()
    with pytest.raises(TypeError):
        _tavrel.parse_group_address("1/2/3", value="1/2/3")


@pytest.mark.parametrize(
    "function,argument,reason",
    [
        ("parse_group_address", "1/2", "missing group sub"),
        ("format_group_address", "32/0/0", "group main out of range"),
        ("group_address_to_raw", "1/2/3/", "too many group parts"),
        ("parse_individual_address", "1.1", "missing individual device"),
        ("individual_address_to_raw", "16.0.0", "individual area out of range"),
        ("parse_group_address", "", "invalid numeric address part"),
    ],
)
def test_bad_address_text_raises_value_error(function, argument, reason):
    with pytest.raises(ValueError) as info:
        getattr(_tavrel, function)(argument)
    assert str(info.value) == "invalid address: " + reason
    assert type(info.value) is ValueError


@pytest.mark.parametrize("function", ["group_address_from_raw", "individual_address_from_raw"])
def test_raw_conversion_errors(function):
    with pytest.raises(OverflowError):
        getattr(_tavrel, function)(65536)
    with pytest.raises(OverflowError):
        getattr(_tavrel, function)(-1)
    with pytest.raises(TypeError):
        getattr(_tavrel, function)("1")


def test_address_functions_refuse_non_str():
    with pytest.raises(TypeError):
        _tavrel.parse_group_address(2563)


def test_client_classes_cannot_be_instantiated_or_subclassed():
    for cls in (_tavrel.NativeTunnelClient, _tavrel.NativeRouteClient):
        with pytest.raises(TypeError):
            cls()
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        assert cls.__module__ == "_tavrel"
        assert "." not in cls.__name__
