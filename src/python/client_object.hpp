// The Python object shape and the methods both client classes share: creation from `connect`,
// destruction, `is_closed`, `monitor_started`, and locked access to the connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "knxip/compose/refusal_from_transport.hpp"
#include "knxip/error.hpp"
#include "knxip/runtime.hpp"
#include "python/client_common.hpp"
#include "python/monitor_protocol.hpp"

namespace tavrel::python {

using Done = std::monostate;

template <class Slots>
struct ClientObject {
    PyObject_HEAD Slots* slots;
};

template <class Slots>
Slots& slots_of(PyObject* self) {
    return *reinterpret_cast<ClientObject<Slots>*>(self)->slots;
}

inline Failure refusal_of(const knxip::KnxIpError& error) {
    return Failure::refused(knxip::compose::from_transport(error));
}

inline PyObject* none_or_raise(const Outcome<Done>& outcome) {
    if (!outcome) return raise_failure(outcome.error());
    Py_RETURN_NONE;
}

inline PyObject* text_or_raise(const Outcome<std::string>& outcome) {
    if (!outcome) return raise_failure(outcome.error());
    return PyUnicode_FromStringAndSize(outcome->data(), static_cast<Py_ssize_t>(outcome->size()));
}

inline PyObject* bool_or_raise(const Outcome<bool>& outcome) {
    if (!outcome) return raise_failure(outcome.error());
    return PyBool_FromLong(*outcome);
}

// A millisecond option as a duration: far beyond any real wait at most, so adding it to now
// cannot overflow the clock.
inline knxip::Clock::duration option_duration(std::uint64_t ms) {
    constexpr std::uint64_t kCap = 100ull * 365 * 24 * 3600 * 1000;
    return std::chrono::milliseconds(static_cast<std::int64_t>(ms < kCap ? ms : kCap));
}

// Runs `work(client)` under the client mutex with the interpreter lock released; an unusable
// mutex or a closed client refuses first.
template <class T, class Slots, class Work>
Outcome<T> with_client(Slots& slots, Work&& work) {
    return without_gil<T>([&]() -> Outcome<T> {
        SlotMutex::Guard guard(slots.client_mutex);
        if (!guard.usable()) return std::unexpected(slots.unavailable());
        if (!slots.client) return std::unexpected(slots.closed());
        return work(*slots.client);
    });
}

// Builds the object's runtime, connects on it with `open(runtime)` (an awaitable of the client or
// a KnxIpError) and wraps the result in a new Python object of `type`.
template <class Slots, class Open>
PyObject* connect_client(PyTypeObject* type, std::unique_ptr<Slots> slots, Open&& open) {
    auto outcome = without_gil<Done>([&]() -> Outcome<Done> {
        auto runtime = knxip::Runtime::start();
        if (!runtime) return std::unexpected(Failure::runtime(runtime.error().message()));
        auto client = (*runtime)->block_on(open());
        if (!client) return std::unexpected(refusal_of(client.error()));
        slots->client.emplace(std::move(*client));
        slots->runtime = std::move(*runtime);
        return Done{};
    });
    if (!outcome) return raise_failure(outcome.error());
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        Py_BEGIN_ALLOW_THREADS;
        slots.reset();
        Py_END_ALLOW_THREADS;
        return nullptr;
    }
    reinterpret_cast<ClientObject<Slots>*>(self)->slots = slots.release();
    return self;
}

// The runtime goes first, so background tasks stop before the connection and the monitor are
// released; nothing is sent to the peer.
template <class Slots>
void dealloc_client(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Slots* slots = reinterpret_cast<ClientObject<Slots>*>(self)->slots;
    if (slots != nullptr) {
        Py_BEGIN_ALLOW_THREADS;
        if (slots->runtime) slots->runtime->shutdown();
        delete slots;
        Py_END_ALLOW_THREADS;
    }
    type->tp_free(self);
    Py_DECREF(type);
}

template <class Slots>
PyObject* client_is_closed(PyObject* self, PyObject*) {
    Slots& slots = slots_of<Slots>(self);
    return bool_or_raise(without_gil<bool>([&]() -> Outcome<bool> {
        SlotMutex::Guard guard(slots.client_mutex);
        if (!guard.usable()) return std::unexpected(slots.unavailable());
        return !slots.client.has_value();
    }));
}

template <class Slots>
PyObject* client_monitor_started(PyObject* self, PyObject*) {
    Slots& slots = slots_of<Slots>(self);
    return bool_or_raise(with_client<bool>(slots, [&](auto&) -> Outcome<bool> {
        SlotMutex::Guard guard(slots.monitor_mutex);
        if (!guard.usable()) return std::unexpected(Slots::monitor_unavailable());
        return slots.monitor.has_value() || slots.busy.load();
    }));
}

// close: the connection is released (after `farewell(client)` when there is one), then the
// monitor stream. Closing twice finds nothing and returns None.
template <class Slots, class Farewell>
PyObject* close_client(PyObject* self, Farewell&& farewell) {
    Slots& slots = slots_of<Slots>(self);
    return none_or_raise(without_gil<Done>([&]() -> Outcome<Done> {
        SlotMutex::Guard client_guard(slots.client_mutex);
        if (!client_guard.usable()) return std::unexpected(slots.unavailable());
        slots.closing.store(true);
        if (slots.client) {
            farewell(*slots.client);
            slots.client.reset();
        }
        SlotMutex::Guard monitor_guard(slots.monitor_mutex);
        if (!monitor_guard.usable()) return std::unexpected(Slots::monitor_unavailable());
        slots.monitor.reset();
        return Done{};
    }));
}

}  // namespace tavrel::python
