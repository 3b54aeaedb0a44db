// The exception hierarchy rooted at _tavrel.KnxError and the helpers that turn error values into
// Python exceptions. Each helper sets the Python error indicator and returns nullptr, so a caller
// can write `return refused(r);`.
#pragma once

#include "contract/refusal.hpp"
#include "python/py_ref.hpp"

#include <string_view>

namespace tavrel::python {

// Adds the five exception classes to the module in their documented order; -1 on failure.
int register_exceptions(PyObject* module);

// Raises the refusal as the class its code's first segment selects. Takes the interpreter lock
// itself, so it is safe to call from a thread that released it.
PyObject* refused(const contract::Refusal& refusal);

PyObject* to_py_value_error(std::string_view message);
PyObject* to_py_runtime_error(std::string_view message);
PyObject* option_refusal(std::string_view call, std::string_view key, std::string_view what);
PyObject* alternate_options(std::string_view call, std::string_view first, std::string_view second);

}  // namespace tavrel::python
