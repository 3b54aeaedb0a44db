// Group telegrams (GroupValueRead/Response/Write) and the cEMI L_Data frame that carries them in
// tunnelling and routing datagrams. Only group-value services are representable: the strict
// decoder refuses everything else, which is how receivers filter what they hear.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "core/address.hpp"
#include "core/error.hpp"
#include "core/knxnetip.hpp"

namespace tavrel::core {

namespace cemi {
inline constexpr std::uint8_t kLDataReq = 0x11;
inline constexpr std::uint8_t kLDataInd = 0x29;
inline constexpr std::uint8_t kLDataCon = 0x2E;
// Standard frame, do-not-repeat, broadcast, low priority, no ack request, confirm clear.
inline constexpr std::uint8_t kControl1Standard = 0xBC;
// The same with the frame-type bit clear: an APDU too long for a standard frame.
inline constexpr std::uint8_t kControl1Extended = 0x3C;
// Group destination, hop count 6.
inline constexpr std::uint8_t kControl2Group = 0xE0;
inline constexpr std::size_t kMaxPayloadOctets = 253;
}  // namespace cemi

// The group-value service; the numbers are the top two bits of the APCI octet.
enum class GroupApci : std::uint8_t { Read = 0, Response = 1, Write = 2 };

// The value a telegram carries.
class GroupPayload {
  public:
    enum class Kind : std::uint8_t { Absent, Optimized, Octets };

    static GroupPayload absent() { return GroupPayload(Kind::Absent, 0, {}); }
    // At most 6 bits, carried inside the APCI octet (checked when a telegram is built).
    static GroupPayload optimized(std::uint8_t value) {
        return GroupPayload(Kind::Optimized, value, {});
    }
    // 1 to 253 octets after the APCI octet (checked when a telegram is built).
    static GroupPayload octets(std::vector<std::uint8_t> octets) {
        return GroupPayload(Kind::Octets, 0, std::move(octets));
    }

    Kind kind() const { return kind_; }
    std::uint8_t optimized_value() const { return optimized_; }
    const std::vector<std::uint8_t>& octets() const { return octets_; }

    friend bool operator==(const GroupPayload&, const GroupPayload&) = default;

  private:
    GroupPayload(Kind kind, std::uint8_t optimized, std::vector<std::uint8_t> octets)
        : kind_(kind), optimized_(optimized), octets_(std::move(octets)) {}

    Kind kind_;
    std::uint8_t optimized_;
    std::vector<std::uint8_t> octets_;
};

struct GroupTelegram {
    IndividualAddress source;
    GroupAddress destination;
    GroupApci apci = GroupApci::Read;
    GroupPayload payload = GroupPayload::absent();

    // A Read carries Absent; a Response or Write carries Optimized (<= 63) or 1..253 octets.
    static std::expected<GroupTelegram, KnxError> create(IndividualAddress source,
                                                         GroupAddress destination, GroupApci apci,
                                                         GroupPayload payload);
    std::expected<void, KnxError> validate() const;

    friend bool operator==(const GroupTelegram&, const GroupTelegram&) = default;
};

struct CemiFrame {
    std::uint8_t message_code = cemi::kLDataReq;
    std::vector<std::uint8_t> additional_info;  // raw, never interpreted
    std::uint8_t control1 = cemi::kControl1Standard;
    std::uint8_t control2 = cemi::kControl2Group;
    GroupTelegram telegram;

    // L_Data.req frames as senders build them, from their own individual address.
    static CemiFrame group_value_read(IndividualAddress source, GroupAddress destination);
    static std::expected<CemiFrame, KnxError> group_value_write(IndividualAddress source,
                                                                GroupAddress destination,
                                                                GroupPayload payload);
    static std::expected<CemiFrame, KnxError> group_value_response(IndividualAddress source,
                                                                   GroupAddress destination,
                                                                   GroupPayload payload);

    // Appends the wire form; on failure nothing is appended. A frame whose APDU no longer fits a
    // standard frame goes out with the frame-type bit of control field 1 cleared, whatever is
    // stored.
    std::expected<void, KnxError> encode(Buffer& buffer) const;
    // The frame owns copies of what it keeps; `rest` is what follows its last octet.
    static std::expected<Decoded<CemiFrame>, KnxError> decode(Octets bytes);

    friend bool operator==(const CemiFrame&, const CemiFrame&) = default;
};

}  // namespace tavrel::core
