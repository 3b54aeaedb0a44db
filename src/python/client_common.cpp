#include "python/client_common.hpp"

#include "python/errors.hpp"

namespace tavrel::python {

bool read_arguments(const char* function, std::span<const char* const> names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out) {
    const auto expected = static_cast<Py_ssize_t>(names.size());
    if (nargs > expected) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd were given",
                     function, expected, nargs);
        return false;
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        out[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        std::size_t index = 0;
        while (index < names.size() && PyUnicode_CompareWithASCIIString(key, names[index]) != 0) {
            ++index;
        }
        if (index == names.size()) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function,
                         key);
            return false;
        }
        if (out[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                         names[index]);
            return false;
        }
        out[index] = args[nargs + k];
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (out[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", function,
                         names[i]);
            return false;
        }
    }
    return true;
}

bool text_argument(PyObject* value, const char* function, const char* name, std::string_view& out) {
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, not %.50s", function, name,
                     Py_TYPE(value)->tp_name);
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 == nullptr) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

bool timeout_argument(PyObject* value, const char* function, unsigned long long& out) {
    if (!PyLong_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s() argument 'timeout_ms' must be int, not %.50s", function,
                     Py_TYPE(value)->tp_name);
        return false;
    }
    out = PyLong_AsUnsignedLongLong(value);
    return !(out == static_cast<unsigned long long>(-1) && PyErr_Occurred());
}

PyObject* raise_failure(const Failure& failure) {
    if (failure.kind == Failure::Kind::Refused) return refused(failure.refusal);
    return to_py_runtime_error(failure.message);
}

int add_client_type(PyObject* module, PyType_Spec* spec, const char* name, PyTypeObject*& out) {
    PyRef type(PyType_FromSpec(spec));
    if (!type) return -1;
    // The dotted spec name gives the type its __module__ (a dotless one leaves it without, which
    // pydoc and pickle trip over); re-setting __name__ keeps the type's own name unprefixed.
    PyRef short_name(PyUnicode_FromString(name));
    if (!short_name) return -1;
    if (PyObject_SetAttrString(type.get(), "__name__", short_name.get()) < 0) return -1;
    if (PyModule_AddObjectRef(module, name, type.get()) < 0) return -1;
    // Kept for the life of the process, as the module keeps the type itself.
    out = reinterpret_cast<PyTypeObject*>(type.release());
    return 0;
}

}  // namespace tavrel::python
