// The _tavrel module: its ten functions, the two client classes and the exception classes.
#include "python/module.hpp"

#include <string>

#include "core/address.hpp"
#include "python/errors.hpp"

namespace tavrel::python {

PyObject* single_argument(const char* function, const char* name, PyObject* const* args,
                          Py_ssize_t nargs, PyObject* kwnames) {
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs + nkw != 1) {
        PyErr_Format(PyExc_TypeError, "%s() takes exactly one argument (%zd given)", function,
                     nargs + nkw);
        return nullptr;
    }
    if (nargs == 1) return args[0];
    PyObject* key = PyTuple_GET_ITEM(kwnames, 0);
    if (PyUnicode_CompareWithASCIIString(key, name) != 0) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function,
                     key);
        return nullptr;
    }
    return args[0];
}

const char* utf8_argument(PyObject* value, const char* function, const char* name,
                          Py_ssize_t* size) {
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, not %.50s", function, name,
                     Py_TYPE(value)->tp_name);
        return nullptr;
    }
    return PyUnicode_AsUTF8AndSize(value, size);
}

namespace {

PyObject* text(const std::string& value) {
    return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
}

template <class Address>
PyObject* parse_address(const char* function, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames, bool want_raw) {
    PyObject* value = single_argument(function, "value", args, nargs, kwnames);
    if (value == nullptr) return nullptr;
    Py_ssize_t size = 0;
    const char* utf8 = utf8_argument(value, function, "value", &size);
    if (utf8 == nullptr) return nullptr;
    auto address = Address::parse(std::string_view(utf8, static_cast<std::size_t>(size)));
    if (!address) return to_py_value_error(address.error().display());
    if (want_raw) return PyLong_FromUnsignedLong(address->raw());
    return text(address->display());
}

template <class Address>
PyObject* address_from_raw(const char* function, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    PyObject* value = single_argument(function, "raw", args, nargs, kwnames);
    if (value == nullptr) return nullptr;
    if (!PyLong_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s() argument 'raw' must be int, not %.50s", function,
                     Py_TYPE(value)->tp_name);
        return nullptr;
    }
    unsigned long raw = PyLong_AsUnsignedLong(value);
    if (raw == static_cast<unsigned long>(-1) && PyErr_Occurred()) return nullptr;
    if (raw > 0xFFFF) {
        PyErr_SetString(PyExc_OverflowError, "raw address is greater than 65535");
        return nullptr;
    }
    return text(Address::from_raw(static_cast<std::uint16_t>(raw)).display());
}

#define TAVREL_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyObject* parse_individual_address(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* k) {
    return parse_address<core::IndividualAddress>("parse_individual_address", a, n, k, false);
}
PyObject* format_individual_address(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* k) {
    return parse_address<core::IndividualAddress>("format_individual_address", a, n, k, false);
}
PyObject* parse_group_address(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* k) {
    return parse_address<core::GroupAddress>("parse_group_address", a, n, k, false);
}
PyObject* format_group_address(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* k) {
    return parse_address<core::GroupAddress>("format_group_address", a, n, k, false);
}
PyObject* group_address_to_raw(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* k) {
    return parse_address<core::GroupAddress>("group_address_to_raw", a, n, k, true);
}
PyObject* group_address_from_raw(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* k) {
    return address_from_raw<core::GroupAddress>("group_address_from_raw", a, n, k);
}
PyObject* individual_address_to_raw(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* k) {
    return parse_address<core::IndividualAddress>("individual_address_to_raw", a, n, k, true);
}
PyObject* individual_address_from_raw(PyObject*, PyObject* const* a, Py_ssize_t n, PyObject* k) {
    return address_from_raw<core::IndividualAddress>("individual_address_from_raw", a, n, k);
}

constexpr int kFlags = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kFunctions[] = {
    {"parse_individual_address", TAVREL_FASTCALL(parse_individual_address), kFlags,
     "parse_individual_address(value)\n--\n\n"},
    {"format_individual_address", TAVREL_FASTCALL(format_individual_address), kFlags,
     "format_individual_address(value)\n--\n\n"},
    {"parse_group_address", TAVREL_FASTCALL(parse_group_address), kFlags,
     "parse_group_address(value)\n--\n\n"},
    {"format_group_address", TAVREL_FASTCALL(format_group_address), kFlags,
     "format_group_address(value)\n--\n\n"},
    {"load_knxproj_json", TAVREL_FASTCALL(load_knxproj_json), kFlags,
     "load_knxproj_json(path)\n--\n\n"},
    {"group_address_to_raw", TAVREL_FASTCALL(group_address_to_raw), kFlags,
     "group_address_to_raw(value)\n--\n\n"},
    {"group_address_from_raw", TAVREL_FASTCALL(group_address_from_raw), kFlags,
     "group_address_from_raw(raw)\n--\n\n"},
    {"individual_address_to_raw", TAVREL_FASTCALL(individual_address_to_raw), kFlags,
     "individual_address_to_raw(value)\n--\n\n"},
    {"individual_address_from_raw", TAVREL_FASTCALL(individual_address_from_raw), kFlags,
     "individual_address_from_raw(raw)\n--\n\n"},
    {"discover_gateways_json", TAVREL_FASTCALL(discover_gateways_json), kFlags,
     "discover_gateways_json(options_json)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_tavrel", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace tavrel::python

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__tavrel() {
    using namespace tavrel::python;
    PyRef module(PyModule_Create(&kModule));
    if (!module) return nullptr;
    if (PyModule_AddFunctions(module.get(), kFunctions) < 0) return nullptr;
    if (add_tunnel_client_class(module.get()) < 0) return nullptr;
    if (add_route_client_class(module.get()) < 0) return nullptr;
    if (register_exceptions(module.get()) < 0) return nullptr;
    return module.release();
}
