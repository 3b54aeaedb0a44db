// A group telegram heard on a tunnel, as handed to monitors.
#pragma once

#include <cstdint>
#include <optional>

#include "core/address.hpp"
#include "core/cemi.hpp"

namespace tavrel::knxip {

// What the gateway reports about a transmission it performed for this client.
enum class Confirmation : std::uint8_t { Ok, Error };

struct GroupEvent {
    core::GroupPayload payload = core::GroupPayload::absent();
    core::IndividualAddress source;
    core::GroupAddress destination;
    core::GroupApci apci = core::GroupApci::Read;
    // Present only on an L_Data.con: Error when the confirm bit (bit 0 of control field 1) is set.
    std::optional<Confirmation> confirmation;
    std::uint8_t message_code = 0;

    static GroupEvent from_frame(core::CemiFrame frame);

    friend bool operator==(const GroupEvent&, const GroupEvent&) = default;
};

inline GroupEvent GroupEvent::from_frame(core::CemiFrame frame) {
    GroupEvent event;
    event.payload = std::move(frame.telegram.payload);
    event.source = frame.telegram.source;
    event.destination = frame.telegram.destination;
    event.apci = frame.telegram.apci;
    if (frame.message_code == core::cemi::kLDataCon) {
        event.confirmation = (frame.control1 & 0x01) ? Confirmation::Error : Confirmation::Ok;
    }
    event.message_code = frame.message_code;
    return event;
}

}  // namespace tavrel::knxip
