// The monitor protocol both client classes share: a stream slot guarded by its own mutex, a busy
// flag while a waiter has taken the stream out, and the checks around the wait. Lock order is
// always client mutex before monitor mutex; no wait happens while both are held.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string_view>

#include "contract/refusal.hpp"
#include "knxip/runtime.hpp"
#include "python/client_common.hpp"

namespace tavrel::python {

// What a client class keeps for the protocol. `Client` is the optional connection (TunnelClient
// or RouteSender); `Stream` is the monitor's event stream.
template <class Client, class Stream>
struct ClientSlots {
    std::unique_ptr<knxip::Runtime> runtime;
    SlotMutex client_mutex;
    std::optional<Client> client;
    SlotMutex monitor_mutex;
    std::optional<Stream> monitor;
    std::atomic<bool> busy{false};
    // Set by close, so a waiter holding the stream stops waiting instead of running to its
    // deadline on a client that no longer exists.
    std::atomic<bool> closing{false};
    std::string_view subject;  // "tunnel client" or "routing client"

    Failure unavailable() const {
        return Failure::refused(contract::Refusal::unavailable(subject));
    }
    Failure closed() const {
        return Failure::refused(contract::Refusal::closed_transport(subject));
    }
    static Failure monitor_unavailable() {
        return Failure::refused(contract::Refusal::unavailable("monitor"));
    }
};

// A deadline `timeout_ms` from now; none when it cannot be represented.
inline std::optional<knxip::Clock::time_point> deadline_after(unsigned long long timeout_ms) {
    using namespace std::chrono;
    auto now = knxip::Clock::now();
    auto room = duration_cast<milliseconds>(knxip::Clock::time_point::max() - now).count();
    if (room < 0 || timeout_ms >= static_cast<unsigned long long>(room)) return std::nullopt;
    return now + milliseconds(static_cast<long long>(timeout_ms));
}

// How often a waiter looks whether its client was closed meanwhile.
inline constexpr std::chrono::milliseconds kClosePoll{100};

// Takes the stream out, waits for its next item with `wait(stream, deadline)` on the runtime, and
// puts it back; returns what the wait produced. An item already buffered is taken on the calling
// thread (`stream.try_next()`), sparing the round trip to the runtime's workers. The wait goes in
// slices so a close from another thread ends it promptly; `timed_out(item)` tells a slice that
// ran out. Runs without the interpreter lock.
template <class Client, class Stream, class Item, class Wait, class TimedOut>
Outcome<Item> monitor_next(ClientSlots<Client, Stream>& slots, unsigned long long timeout_ms,
                           Wait&& wait, TimedOut&& timed_out) {
    {
        SlotMutex::Guard guard(slots.client_mutex);
        if (!guard.usable()) return std::unexpected(slots.unavailable());
        if (!slots.client) return std::unexpected(slots.closed());
    }
    std::optional<Stream> stream;
    {
        SlotMutex::Guard guard(slots.monitor_mutex);
        if (!guard.usable()) return std::unexpected(slots.monitor_unavailable());
        if (!slots.monitor) {
            return std::unexpected(Failure::runtime(
                std::string(slots.busy.load() ? kMonitorBusy : kMonitorNotStarted)));
        }
        stream.emplace(std::move(*slots.monitor));
        slots.monitor.reset();
        slots.busy.store(true);
    }
    const auto deadline = deadline_after(timeout_ms);
    Item item = [&] {
        if (auto ready = stream->try_next()) return std::move(*ready);
        for (;;) {
            auto slice = knxip::Clock::now() + kClosePoll;
            bool last = deadline && *deadline <= slice;
            Item got = wait(*stream, last ? *deadline : slice);
            if (last || !timed_out(got) || slots.closing.load()) return got;
        }
    }();
    {
        SlotMutex::Guard guard(slots.client_mutex);
        if (!guard.usable() || !slots.client) {
            Failure failure = guard.usable() ? slots.closed() : slots.unavailable();
            stream.reset();
            slots.busy.store(false);
            return std::unexpected(std::move(failure));
        }
    }
    {
        SlotMutex::Guard guard(slots.monitor_mutex);
        if (!guard.usable()) {
            stream.reset();
            slots.busy.store(false);
            return std::unexpected(slots.monitor_unavailable());
        }
        slots.monitor.emplace(std::move(*stream));
    }
    slots.busy.store(false);
    return item;
}

}  // namespace tavrel::python
