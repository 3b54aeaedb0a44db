// NativeTunnelClient: one KNXnet/IP tunnelling connection, driven from Python.
#include <chrono>
#include <variant>

#include "knxip/tunnel.hpp"
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

using Slots = ClientSlots<knxip::TunnelClient, knxip::TunnelMonitor>;

PyTypeObject* g_tunnel_type = nullptr;

PyObject* tunnel_connect(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argument = single_argument("connect", "options_json", args, nargs, kwnames);
    if (argument == nullptr) return nullptr;
    std::string_view json;
    if (!text_argument(argument, "connect", "options_json", json)) return nullptr;
    auto judged = judge_tunnel_options(json);
    if (!judged) return to_py_value_error(judged.error());

    knxip::TunnelOptions options;
    options.ack_timeout = option_duration(judged->ack_timeout_ms);
    options.server_control_endpoint = judged->server;
    options.local_bind_endpoint = judged->local_bind;
    options.control_endpoint = judged->control_endpoint;
    options.data_endpoint = judged->data_endpoint;
    options.text_overflow = judged->truncate_text;

    auto slots = std::make_unique<Slots>();
    slots->subject = "tunnel client";
    return connect_client(g_tunnel_type, std::move(slots),
                          [&] { return knxip::TunnelClient::connect_with_options(options); });
}

template <bool kRespond>
PyObject* tunnel_send_value(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    const char* function = kRespond ? "respond" : "write";
    static constexpr const char* kNames[] = {"group", "dpt", "value_json"};
    PyObject* values[3];
    if (!read_arguments(function, kNames, args, nargs, kwnames, values)) return nullptr;
    std::string_view texts[3];
    for (int i = 0; i < 3; ++i) {
        if (!text_argument(values[i], function, kNames[i], texts[i])) return nullptr;
    }
    auto plan = build_plan(texts[0], texts[1], texts[2]);
    if (!plan) return refused(plan.error());
    Slots& slots = slots_of<Slots>(self);
    return none_or_raise(
        with_client<Done>(slots, [&](knxip::TunnelClient& client) -> Outcome<Done> {
            auto sent = slots.runtime->block_on(kRespond ? transport::respond(client, *plan)
                                                         : transport::write(client, *plan));
            if (!sent) return std::unexpected(Failure::refused(std::move(sent.error())));
            return Done{};
        }));
}

PyObject* tunnel_read_request(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    static constexpr const char* kNames[] = {"group"};
    PyObject* values[1];
    if (!read_arguments("read_request", kNames, args, nargs, kwnames, values)) return nullptr;
    std::string_view text;
    if (!text_argument(values[0], "read_request", "group", text)) return nullptr;
    auto group = core::GroupAddress::parse(text);
    if (!group) return to_py_value_error(group.error().display());
    Slots& slots = slots_of<Slots>(self);
    return none_or_raise(
        with_client<Done>(slots, [&](knxip::TunnelClient& client) -> Outcome<Done> {
            auto sent = slots.runtime->block_on(client.group_read_request(*group));
            if (!sent) return std::unexpected(refusal_of(sent.error()));
            return Done{};
        }));
}

PyObject* tunnel_close(PyObject* self, PyObject*) {
    Slots& slots = slots_of<Slots>(self);
    return close_client<Slots>(self, [&](knxip::TunnelClient& client) {
        // The gateway frees its slot on this; an error or a silent gateway changes nothing.
        (void)slots.runtime->block_on(client.disconnect());
    });
}

PyObject* tunnel_lifecycle_events_json(PyObject* self, PyObject*) {
    Slots& slots = slots_of<Slots>(self);
    return text_or_raise(
        with_client<std::string>(slots, [&](knxip::TunnelClient& client) -> Outcome<std::string> {
            auto json = lifecycle_events_to_json(client.lifecycle_events());
            if (!json) return std::unexpected(Failure::runtime(json.error()));
            return *json;
        }));
}

PyObject* tunnel_monitor_start(PyObject* self, PyObject*) {
    Slots& slots = slots_of<Slots>(self);
    return none_or_raise(
        with_client<Done>(slots, [&](knxip::TunnelClient& client) -> Outcome<Done> {
            SlotMutex::Guard guard(slots.monitor_mutex);
            if (!guard.usable()) return std::unexpected(Slots::monitor_unavailable());
            if (slots.monitor || slots.busy.load()) {
                return std::unexpected(Failure::runtime(std::string(kMonitorAlreadyStarted)));
            }
            slots.monitor.emplace(client.monitor());
            return Done{};
        }));
}

PyObject* tunnel_monitor_next_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    static constexpr const char* kNames[] = {"timeout_ms"};
    PyObject* values[1];
    if (!read_arguments("monitor_next_json", kNames, args, nargs, kwnames, values)) return nullptr;
    unsigned long long timeout_ms = 0;
    if (!timeout_argument(values[0], "monitor_next_json", timeout_ms)) return nullptr;
    Slots& slots = slots_of<Slots>(self);
    auto outcome = without_gil<std::string>([&]() -> Outcome<std::string> {
        auto item = monitor_next<knxip::TunnelClient, knxip::TunnelMonitor, knxip::MonitorItem>(
            slots, timeout_ms,
            [&](knxip::TunnelMonitor& stream, knxip::Clock::time_point deadline) {
                return slots.runtime->block_on(stream.next(deadline));
            },
            [](const knxip::MonitorItem& item) {
                return item.kind == knxip::MonitorItem::Kind::TimedOut;
            });
        if (!item) return std::unexpected(std::move(item.error()));
        using Kind = knxip::MonitorItem::Kind;
        switch (item->kind) {
            case Kind::Event: {
                auto json = group_event_to_json(*item->event);
                if (!json) return std::unexpected(Failure::runtime(json.error()));
                return *json;
            }
            case Kind::Lagged:
                return std::unexpected(
                    refusal_of(item->error.value_or(knxip::KnxIpError::monitor_lagged())));
            case Kind::Ended:
                return std::unexpected(Failure::runtime(std::string(kMonitorEnded)));
            case Kind::TimedOut:
                break;
        }
        return std::unexpected(Failure::runtime(std::string(kMonitorTimeout)));
    });
    return text_or_raise(outcome);
}

#define TAVREL_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))
constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"connect", TAVREL_FASTCALL(tunnel_connect), kFast | METH_STATIC,
     "connect(options_json)\n--\n\n"},
    {"write", TAVREL_FASTCALL(tunnel_send_value<false>), kFast,
     "write($self, group, dpt, value_json)\n--\n\n"
     "Writes a group value through the semantic pipeline.\n\nThe whole judgement - the identifier, "
     "the address, the row's\nregistered encode support, the standard's group-transport rule\nand "
     "the document itself - happens before the GIL is released,\nso a refused write touches no "
     "socket and advances no sequence\ncounter. What reaches the wire is composed from the row's\n"
     "declared fields and transmitted in the form the row's declared\nwidth chooses."},
    {"read_request", TAVREL_FASTCALL(tunnel_read_request), kFast,
     "read_request($self, group)\n--\n\n"
     "Send a GroupValueRead request without waiting for a response\n(fire-and-forget; completes "
     "after the tunnelling ack). Any\nanswer arrives as a bus indication via the monitor stream."},
    {"respond", TAVREL_FASTCALL(tunnel_send_value<true>), kFast,
     "respond($self, group, dpt, value_json)\n--\n\n"
     "Send a GroupValueResponse telegram (answering a group read).\n\nThe same composition "
     "contract as `write`, with the response\nservice."},
    {"close", tunnel_close, METH_NOARGS,
     "close($self)\n--\n\n"
     "Best-effort orderly shutdown.\n\nWhen connected, sends `DISCONNECT_REQUEST` so the gateway "
     "can free the\ntunnel slot. The request is timeout-bounded and runs without the GIL; a\n"
     "missing or late response does not fail teardown. Closing twice is a no-op."},
    {"is_closed", client_is_closed<Slots>, METH_NOARGS, "is_closed($self)\n--\n\n"},
    {"lifecycle_events_json", tunnel_lifecycle_events_json, METH_NOARGS,
     "lifecycle_events_json($self)\n--\n\n"
     "Recorded connection lifecycle events as a JSON array of objects:\n{\"type\": \"connected\", "
     "\"channel_id\": n} | {\"type\": \"disconnected\"} |\n{\"type\": \"reconnecting\", "
     "\"attempt\": n, \"delay_ms\": n} |\n{\"type\": \"reconnected\", \"attempt\": n, "
     "\"channel_id\": n}."},
    {"monitor_start", tunnel_monitor_start, METH_NOARGS,
     "monitor_start($self)\n--\n\n"
     "Subscribe to incoming group telegrams (bus indications).\n\nEvents arriving before this "
     "call are not delivered (broadcast\nsemantics). Errors if the client is closed or a monitor "
     "is\nalready started."},
    {"monitor_started", client_monitor_started<Slots>, METH_NOARGS,
     "monitor_started($self)\n--\n\n"},
    {"monitor_next_json", TAVREL_FASTCALL(tunnel_monitor_next_json), kFast,
     "monitor_next_json($self, timeout_ms)\n--\n\n"
     "Block until the next incoming group telegram, the timeout, or an\nerror. Returns a JSON "
     "object {\"source\", \"destination\", \"apci\",\n\"payload\", \"message_code\", "
     "\"confirmation\"} with apci one of\n\"group_value_read\" / \"group_value_response\" / "
     "\"group_value_write\"\nand message_code \"l_data_ind\" for a telegram the bus indicated "
     "or\n\"l_data_con\" for the gateway confirming a frame this client sent.\nOn a "
     "confirmation, confirmation is \"ok\" or \"error\" - what the\nserver reports about the "
     "transmission it performed; null on an\nindication. A lagged monitor (events dropped "
     "because the consumer\nfell behind) raises rather than silently skipping."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_methods, kMethods},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_client<Slots>)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "_tavrel.NativeTunnelClient",
    sizeof(ClientObject<Slots>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSlots,
};

}  // namespace

int add_tunnel_client_class(PyObject* module) {
    return add_client_type(module, &kSpec, "NativeTunnelClient", g_tunnel_type);
}

}  // namespace tavrel::python
