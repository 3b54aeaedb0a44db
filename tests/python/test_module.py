"""The module frame: attributes, address functions and the exception hierarchy."""

import inspect

import pytest

import _tavrel

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
