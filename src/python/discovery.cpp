// discover_gateways_json: one search on a runtime that lives for the call.
#include <chrono>
#include <variant>

#include "knxip/discovery.hpp"
#include "python/client_common.hpp"
#include "python/client_object.hpp"
#include "python/errors.hpp"
#include "python/events_json.hpp"
#include "python/module.hpp"
#include "python/options.hpp"

namespace tavrel::python {

PyObject* discover_gateways_json(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    PyObject* argument =
        single_argument("discover_gateways_json", "options_json", args, nargs, kwnames);
    if (argument == nullptr) return nullptr;
    std::string_view json;
    if (!text_argument(argument, "discover_gateways_json", "options_json", json)) return nullptr;
    auto judged = judge_discovery_options(json);
    if (!judged) return to_py_value_error(judged.error());

    auto timeout = option_duration(judged->timeout_ms);
    auto outcome = without_gil<std::string>([&]() -> Outcome<std::string> {
        auto runtime = knxip::Runtime::start();
        if (!runtime) return std::unexpected(Failure::runtime(runtime.error().message()));
        auto gateways = (*runtime)->block_on(
            knxip::discover_gateways(judged->local_bind, judged->search, timeout));
        if (!gateways) return std::unexpected(refusal_of(gateways.error()));
        auto text = gateways_to_json(*gateways);
        if (!text) return std::unexpected(Failure::runtime(text.error()));
        return *text;
    });
    return text_or_raise(outcome);
}

}  // namespace tavrel::python
