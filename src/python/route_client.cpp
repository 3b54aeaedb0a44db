// NativeRouteClient: KNXnet/IP routing indications to and from a multicast group, from Python.
#include <variant>

#include "knxip/routing.hpp"
#include "python/client_common.hpp"
#include "python/client_object.hpp"
#include "python/errors.hpp"
#include "python/events_json.hpp"
#include "python/module.hpp"
#include "python/monitor_protocol.hpp"
#include "python/options.hpp"
#include "python/transport.hpp"

namespace tavrel::python {
namespace {

struct RouteSlots : ClientSlots<knxip::RouteSender, knxip::RouteEvents> {
    knxip::RouteMonitorSettings monitor_settings;
    core::IndividualAddress source;
};

PyTypeObject* g_route_type = nullptr;

// Only checks that the sender is still there, under its mutex.
std::optional<Failure> check_open(RouteSlots& slots) {
    SlotMutex::Guard guard(slots.client_mutex);
    if (!guard.usable()) return slots.unavailable();
    if (!slots.client) return slots.closed();
    return std::nullopt;
}

PyObject* route_connect(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argument = single_argument("connect", "options_json", args, nargs, kwnames);
    if (argument == nullptr) return nullptr;
    std::string_view json;
    if (!text_argument(argument, "connect", "options_json", json)) return nullptr;
    auto judged = judge_routing_options(json);
    if (!judged) return to_py_value_error(judged.error());

    knxip::RouteSenderSettings sender;
    sender.ttl = judged->ttl;
    sender.bind = Endpoint(asio::ip::address_v4::any(), 0);
    sender.group = Endpoint(judged->group, judged->port);
    sender.interface = judged->interface;
    sender.loopback = judged->loopback;
    sender.text_overflow = judged->truncate_text;

    auto slots = std::make_unique<RouteSlots>();
    slots->subject = "routing client";
    slots->monitor_settings.group = judged->group;
    slots->monitor_settings.bind = judged->monitor_bind;
    slots->monitor_settings.port = judged->port;
    slots->monitor_settings.interface = judged->interface;
    slots->monitor_settings.loopback = judged->loopback;
    slots->source = judged->source;
    return connect_client(g_route_type, std::move(slots),
                          [&] { return knxip::RouteSender::bind(sender); });
}

PyObject* route_send(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr const char* kNames[] = {"group", "dpt", "value_json"};
    PyObject* values[3];
    if (!read_arguments("send", kNames, args, nargs, kwnames, values)) return nullptr;
    std::string_view texts[3];
    for (int i = 0; i < 3; ++i) {
        if (!text_argument(values[i], "send", kNames[i], texts[i])) return nullptr;
    }
    auto plan = build_plan(texts[0], texts[1], texts[2]);
    if (!plan) return refused(plan.error());
    RouteSlots& slots = slots_of<RouteSlots>(self);
    auto outcome = without_gil<std::size_t>([&]() -> Outcome<std::size_t> {
        SlotMutex::Guard guard(slots.client_mutex);
        if (!guard.usable()) return std::unexpected(slots.unavailable());
        if (!slots.client) return std::unexpected(slots.closed());
        auto now = transport::try_route(*slots.client, *plan, slots.source);
        if (!now) return std::unexpected(Failure::refused(std::move(now.error())));
        if (*now) return **now;
        auto sent = slots.runtime->block_on(transport::route(*slots.client, *plan, slots.source));
        if (!sent) return std::unexpected(Failure::refused(std::move(sent.error())));
        return *sent;
    });
    if (!outcome) return raise_failure(outcome.error());
    return PyLong_FromSize_t(*outcome);
}

PyObject* route_monitor_start(PyObject* self, PyObject*) {
    RouteSlots& slots = slots_of<RouteSlots>(self);
    return none_or_raise(without_gil<Done>([&]() -> Outcome<Done> {
        if (auto failure = check_open(slots)) return std::unexpected(std::move(*failure));
        // Held while binding, so a concurrent start waits and then finds the monitor started.
        SlotMutex::Guard guard(slots.monitor_mutex);
        if (!guard.usable()) return std::unexpected(RouteSlots::monitor_unavailable());
        if (slots.monitor || slots.busy.load()) {
            return std::unexpected(Failure::runtime(std::string(kMonitorAlreadyStarted)));
        }
        auto monitor = slots.runtime->block_on(knxip::RouteMonitor::bind(slots.monitor_settings));
        if (!monitor) return std::unexpected(refusal_of(monitor.error()));
        slots.monitor.emplace(std::move(*monitor));
        return Done{};
    }));
}

PyObject* route_monitor_next_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    static constexpr const char* kNames[] = {"timeout_ms"};
    PyObject* values[1];
    if (!read_arguments("monitor_next_json", kNames, args, nargs, kwnames, values)) return nullptr;
    unsigned long long timeout_ms = 0;
    if (!timeout_argument(values[0], "monitor_next_json", timeout_ms)) return nullptr;
    RouteSlots& slots = slots_of<RouteSlots>(self);
    auto outcome = without_gil<std::string>([&]() -> Outcome<std::string> {
        auto item = monitor_next<knxip::RouteSender, knxip::RouteEvents, knxip::RouteEvents::Next>(
            slots, timeout_ms,
            [&](knxip::RouteEvents& stream, knxip::Clock::time_point deadline) {
                return slots.runtime->block_on(stream.next(deadline));
            },
            [](const knxip::RouteEvents::Next& item) {
                return item.kind == knxip::RouteEvents::Next::Kind::TimedOut;
            });
        if (!item) return std::unexpected(std::move(item.error()));
        using Kind = knxip::RouteEvents::Next::Kind;
        switch (item->kind) {
            case Kind::Event: {
                auto json = route_event_to_json(*item->event);
                if (!json) return std::unexpected(Failure::runtime(json.error()));
                return *json;
            }
            case Kind::Error:
                return std::unexpected(refusal_of(*item->error));
            case Kind::Ended:
                return std::unexpected(Failure::runtime(std::string(kMonitorEnded)));
            case Kind::TimedOut:
                break;
        }
        return std::unexpected(Failure::runtime(std::string(kMonitorTimeout)));
    });
    return text_or_raise(outcome);
}

PyObject* route_close(PyObject* self, PyObject*) {
    // Routing has no connection to end: releasing the sender closes its socket.
    return close_client<RouteSlots>(self, [](knxip::RouteSender&) {});
}

#define TAVREL_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))
constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"connect", TAVREL_FASTCALL(route_connect), kFast | METH_STATIC,
     "connect(options_json)\n--\n\n"},
    {"send", TAVREL_FASTCALL(route_send), kFast,
     "send($self, group, dpt, value_json)\n--\n\n"
     "Multicast a GroupValueWrite RoutingIndication for `value`.\n\nThe same datapoint contract "
     "as the tunnelling write, over the\nrouting wire form. Routing has no sequence counter to "
     "prove a\nrefusal by, so the property is structural: the plan is built\nbefore the GIL is "
     "released, and a refused plan never reaches\nthe send below."},
    {"monitor_start", route_monitor_start, METH_NOARGS,
     "monitor_start($self)\n--\n\nJoin the multicast group and start receiving "
     "RoutingIndications."},
    {"monitor_started", client_monitor_started<RouteSlots>, METH_NOARGS,
     "monitor_started($self)\n--\n\n"},
    {"monitor_next_json", TAVREL_FASTCALL(route_monitor_next_json), kFast,
     "monitor_next_json($self, timeout_ms)\n--\n\n"
     "Block until the next RoutingIndication, the timeout, or an error.\nReturns "
     "{\"source\",\"destination\",\"apci\",\"payload\",\"message_code\",\"received_from\"}."},
    {"close", route_close, METH_NOARGS,
     "close($self)\n--\n\n"
     "Release the routing sockets. Idempotent; routing is connectionless\nso there is no "
     "disconnect frame to send."},
    {"is_closed", client_is_closed<RouteSlots>, METH_NOARGS, "is_closed($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char kClassDoc[] =
    "Native KNXnet/IP ROUTING client (connectionless UDP multicast).\n\n"
    "Mirrors NativeTunnelClient: `send` multicasts a GroupValueWrite RoutingIndication, the\n"
    "lazily started monitor delivers RouteEvents read from the wire, and `close` drops the\n"
    "sockets, because routing is connectionless and has no disconnect frame. Every blocking\n"
    "call releases the GIL.";

PyType_Slot kSlots[] = {
    {Py_tp_methods, kMethods},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_client<RouteSlots>)},
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "_tavrel.NativeRouteClient",
    sizeof(ClientObject<RouteSlots>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSlots,
};

}  // namespace

int add_route_client_class(PyObject* module) {
    return add_client_type(module, &kSpec, "NativeRouteClient", g_route_type);
}

}  // namespace tavrel::python
