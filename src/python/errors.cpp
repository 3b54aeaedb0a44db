#include "python/errors.hpp"

#include <string>

namespace tavrel::python {
namespace {

enum class ErrorClass { Base, Resolve, Transport, Semantic, Adapter, Count };

struct ClassSpec {
    const char* qualified_name;
    const char* short_name;
    const char* doc;
};

constexpr ClassSpec kSpecs[] = {
    {"_tavrel.KnxError", "KnxError",
     "A refused KNX operation, carrying `code`, `dpt` and `field`."},
    {"_tavrel.KnxResolveError", "KnxResolveError",
     "The datapoint identifier does not resolve to a row this build writes."},
    {"_tavrel.KnxTransportError", "KnxTransportError",
     "The transport or the standard's transport rules refused the operation."},
    {"_tavrel.KnxSemanticError", "KnxSemanticError",
     "The value does not satisfy the datapoint's declared semantics."},
    {"_tavrel.KnxAdapterError", "KnxAdapterError",
     "The document does not answer the datapoint's declared composition items."},
};

// Created once per process on first need; read and written only under the interpreter lock.
PyObject* g_classes[static_cast<int>(ErrorClass::Count)] = {};

PyObject* exception_class(ErrorClass which) {
    int index = static_cast<int>(which);
    if (g_classes[index] != nullptr) return g_classes[index];
    PyObject* base = PyExc_Exception;
    if (which != ErrorClass::Base) {
        base = exception_class(ErrorClass::Base);
        if (base == nullptr) return nullptr;
    }
    const ClassSpec& spec = kSpecs[index];
    g_classes[index] = PyErr_NewExceptionWithDoc(spec.qualified_name, spec.doc, base, nullptr);
    return g_classes[index];
}

ErrorClass class_for_code(std::string_view code) {
    std::string_view segment = code.substr(0, code.find('/'));
    if (segment == "resolve") return ErrorClass::Resolve;
    if (segment == "adapter") return ErrorClass::Adapter;
    if (segment == "semantic") return ErrorClass::Semantic;
    if (segment == "pipeline" || segment == "transport") return ErrorClass::Transport;
    return ErrorClass::Base;
}

PyObject* text(std::string_view value) {
    return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
}

PyObject* raise_with_message(PyObject* type, std::string_view message) {
    PyRef value(text(message));
    if (value) PyErr_SetObject(type, value.get());
    return nullptr;
}

// Builds the instance and its attributes; nullptr with the Python error set on failure.
PyRef make_refusal_instance(const contract::Refusal& refusal) {
    PyObject* type = exception_class(class_for_code(refusal.code));
    if (type == nullptr) return {};
    PyRef message(text(refusal.message));
    if (!message) return {};
    PyRef instance(PyObject_CallOneArg(type, message.get()));
    if (!instance) return {};
    PyRef code(text(refusal.code));
    if (!code || PyObject_SetAttrString(instance.get(), "code", code.get()) < 0) return {};
    PyRef dpt = refusal.dpt ? PyRef(text(refusal.dpt->display())) : PyRef::borrow(Py_None);
    if (!dpt || PyObject_SetAttrString(instance.get(), "dpt", dpt.get()) < 0) return {};
    PyRef field = refusal.field ? PyRef(text(*refusal.field)) : PyRef::borrow(Py_None);
    if (!field || PyObject_SetAttrString(instance.get(), "field", field.get()) < 0) return {};
    return instance;
}

}  // namespace

int register_exceptions(PyObject* module) {
    for (int index = 0; index < static_cast<int>(ErrorClass::Count); ++index) {
        PyObject* type = exception_class(static_cast<ErrorClass>(index));
        if (type == nullptr) return -1;
        if (PyModule_AddObjectRef(module, kSpecs[index].short_name, type) < 0) return -1;
    }
    return 0;
}

PyObject* refused(const contract::Refusal& refusal) {
    PyGILState_STATE state = PyGILState_Ensure();
    PyRef instance = make_refusal_instance(refusal);
    if (instance)
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())), instance.get());
    PyGILState_Release(state);
    return nullptr;
}

PyObject* to_py_value_error(std::string_view message) {
    return raise_with_message(PyExc_ValueError, message);
}

PyObject* to_py_runtime_error(std::string_view message) {
    return raise_with_message(PyExc_RuntimeError, message);
}

PyObject* option_refusal(std::string_view call, std::string_view key, std::string_view what) {
    std::string message =
        std::string(call) + ": option '" + std::string(key) + "' must be " + std::string(what);
    return to_py_value_error(message);
}

PyObject* alternate_options(std::string_view call, std::string_view first,
                            std::string_view second) {
    std::string message = std::string(call) + ": options '" + std::string(first) + "' and '" +
                          std::string(second) + "' are alternates - name 1, not both";
    return to_py_value_error(message);
}

}  // namespace tavrel::python
