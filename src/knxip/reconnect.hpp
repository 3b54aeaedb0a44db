// Retrying a tunnel connect with exponential back-off, and the lifecycle records a connect leaves
// in the client it creates.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "knxip/runtime.hpp"

namespace tavrel::knxip {

struct ReconnectPolicy {
    std::size_t max_attempts = 1;     // the first attempt included; 0 and 1 both mean one attempt
    Clock::duration initial_delay{};  // pause before the second attempt
    Clock::duration max_delay{};      // upper bound of every pause after the first

    // `current` doubled (saturating instead of overflowing), capped at `max_delay`.
    Clock::duration next_delay(Clock::duration current) const;
};

struct ConnectionEvent {
    // Declaration order is relied on by the JSON rendering.
    enum class Kind : std::uint8_t { Connected, Disconnected, Reconnecting, Reconnected };

    Kind kind = Kind::Connected;
    std::uint8_t channel_id = 0;  // Connected, Reconnected
    std::size_t attempt = 0;  // Reconnecting: the attempt about to be made; Reconnected: the one
                              // that succeeded
    Clock::duration delay{};  // Reconnecting: the pause about to be taken

    static ConnectionEvent connected(std::uint8_t channel_id) {
        return {Kind::Connected, channel_id, 0, {}};
    }
    static ConnectionEvent disconnected() { return {Kind::Disconnected, 0, 0, {}}; }
    static ConnectionEvent reconnecting(std::size_t attempt, Clock::duration delay) {
        return {Kind::Reconnecting, 0, attempt, delay};
    }
    static ConnectionEvent reconnected(std::size_t attempt, std::uint8_t channel_id) {
        return {Kind::Reconnected, channel_id, attempt, {}};
    }

    friend bool operator==(const ConnectionEvent&, const ConnectionEvent&) = default;
};

}  // namespace tavrel::knxip
