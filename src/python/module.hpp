// What the module frame needs from the other sources of the extension.
#pragma once

#include "python/py_ref.hpp"

#include <string_view>

namespace tavrel::python {

// Reads the single argument of a one-argument function called with METH_FASTCALL|METH_KEYWORDS,
// passed positionally or by keyword under `name`. Returns a borrowed reference, or nullptr with
// TypeError set.
PyObject* single_argument(const char* function, const char* name, PyObject* const* args,
                          Py_ssize_t nargs, PyObject* kwnames);

// A str argument as UTF-8; nullptr with TypeError set when it is not a str.
const char* utf8_argument(PyObject* value, const char* function, const char* name,
                          Py_ssize_t* size);

PyObject* load_knxproj_json(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* discover_gateways_json(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);

int add_tunnel_client_class(PyObject* module);
int add_route_client_class(PyObject* module);

}  // namespace tavrel::python
