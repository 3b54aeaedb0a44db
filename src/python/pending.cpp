// Entry points whose subsystems have not landed yet. Each is removed from this file when its real
// implementation arrives; the file goes away with the last of them.
#include "python/module.hpp"

namespace tavrel::python {

PyObject* discover_gateways_json(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
    PyErr_SetString(PyExc_NotImplementedError, "discover_gateways_json is not built yet");
    return nullptr;
}

int add_tunnel_client_class(PyObject*) { return 0; }
int add_route_client_class(PyObject*) { return 0; }

}  // namespace tavrel::python
