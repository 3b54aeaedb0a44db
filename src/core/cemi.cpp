#include "core/cemi.hpp"

namespace tavrel::core {

namespace {

std::uint16_t read_be16(Octets bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void append_be16(Buffer& buffer, std::uint16_t value) {
    buffer.push_back(static_cast<std::uint8_t>(value >> 8));
    buffer.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

constexpr std::string_view kReadWithPayload = "group read cannot carry payload";
constexpr std::string_view kMissingPayload = "group write/response must carry payload";
constexpr std::string_view kPayloadTooLong = "group payload too long";

std::expected<CemiFrame, KnxError> valued_frame(IndividualAddress source, GroupAddress destination,
                                                GroupApci apci, GroupPayload payload) {
    auto telegram = GroupTelegram::create(source, destination, apci, std::move(payload));
    if (!telegram) return std::unexpected(telegram.error());
    CemiFrame frame;
    // A standard frame holds at most 15 APDU octets after the TPCI: 14 payload octets.
    bool extended = telegram->payload.kind() == GroupPayload::Kind::Octets &&
                    telegram->payload.octets().size() >= 15;
    frame.control1 = extended ? cemi::kControl1Extended : cemi::kControl1Standard;
    frame.telegram = std::move(*telegram);
    return frame;
}

}  // namespace

std::expected<void, KnxError> GroupTelegram::validate() const {
    using Kind = GroupPayload::Kind;
    if (apci == GroupApci::Read) {
        if (payload.kind() != Kind::Absent) {
            return std::unexpected(KnxError::invalid_frame(kReadWithPayload));
        }
        return {};
    }
    switch (payload.kind()) {
        case Kind::Absent:
            return std::unexpected(KnxError::invalid_frame(kMissingPayload));
        case Kind::Optimized:
            if (payload.optimized_value() > 63) {
                return std::unexpected(
                    KnxError::invalid_frame("optimized group value exceeds 6 bits"));
            }
            return {};
        case Kind::Octets:
            if (payload.octets().empty()) {
                return std::unexpected(KnxError::invalid_frame(kMissingPayload));
            }
            if (payload.octets().size() > cemi::kMaxPayloadOctets) {
                return std::unexpected(KnxError::invalid_frame(kPayloadTooLong));
            }
            return {};
    }
    return {};
}

std::expected<GroupTelegram, KnxError> GroupTelegram::create(IndividualAddress source,
                                                             GroupAddress destination,
                                                             GroupApci apci, GroupPayload payload) {
    GroupTelegram telegram{source, destination, apci, std::move(payload)};
    if (auto valid = telegram.validate(); !valid) return std::unexpected(valid.error());
    return telegram;
}

CemiFrame CemiFrame::group_value_read(IndividualAddress source, GroupAddress destination) {
    CemiFrame frame;
    frame.telegram = GroupTelegram{source, destination, GroupApci::Read, GroupPayload::absent()};
    return frame;
}

std::expected<CemiFrame, KnxError> CemiFrame::group_value_write(IndividualAddress source,
                                                                GroupAddress destination,
                                                                GroupPayload payload) {
    return valued_frame(source, destination, GroupApci::Write, std::move(payload));
}

std::expected<CemiFrame, KnxError> CemiFrame::group_value_response(IndividualAddress source,
                                                                   GroupAddress destination,
                                                                   GroupPayload payload) {
    return valued_frame(source, destination, GroupApci::Response, std::move(payload));
}

std::expected<void, KnxError> CemiFrame::encode(Buffer& buffer) const {
    if (auto valid = telegram.validate(); !valid) return std::unexpected(valid.error());
    if (additional_info.size() > 255) {
        return std::unexpected(KnxError::invalid_frame("additional info too long"));
    }
    const auto& payload = telegram.payload;
    std::uint8_t apci = static_cast<std::uint8_t>(static_cast<unsigned>(telegram.apci) << 6);
    std::size_t data_length = 1;  // the APCI octet
    if (payload.kind() == GroupPayload::Kind::Optimized) apci |= payload.optimized_value();
    if (payload.kind() == GroupPayload::Kind::Octets) data_length += payload.octets().size();
    std::uint8_t c1 = control1;
    if (data_length >= 16) c1 &= 0x7F;

    buffer.reserve(buffer.size() + 10 + additional_info.size() + data_length);
    buffer.push_back(message_code);
    buffer.push_back(static_cast<std::uint8_t>(additional_info.size()));
    buffer.insert(buffer.end(), additional_info.begin(), additional_info.end());
    buffer.push_back(c1);
    buffer.push_back(control2);
    append_be16(buffer, telegram.source.raw());
    append_be16(buffer, telegram.destination.raw());
    buffer.push_back(static_cast<std::uint8_t>(data_length));
    buffer.push_back(0x00);  // TPCI: unnumbered data
    buffer.push_back(apci);
    if (payload.kind() == GroupPayload::Kind::Octets) {
        buffer.insert(buffer.end(), payload.octets().begin(), payload.octets().end());
    }
    return {};
}

std::expected<Decoded<CemiFrame>, KnxError> CemiFrame::decode(Octets bytes) {
    if (bytes.size() < 2) return std::unexpected(KnxError::buffer_too_short(2, bytes.size()));
    std::uint8_t code = bytes[0];
    if (code != cemi::kLDataReq && code != cemi::kLDataInd && code != cemi::kLDataCon) {
        return std::unexpected(KnxError::invalid_frame("unsupported cEMI message code"));
    }
    std::size_t n = bytes[1];
    if (bytes.size() < n + 9)
        return std::unexpected(KnxError::buffer_too_short(n + 9, bytes.size()));
    std::size_t length = bytes[8 + n];
    if (bytes.size() < n + 10 + length) {
        return std::unexpected(KnxError::buffer_too_short(n + 10 + length, bytes.size()));
    }
    // Without an APCI octet there is no service at all.
    if (length == 0) return std::unexpected(KnxError::buffer_too_short(2, 1));
    if (bytes[9 + n] != 0x00)
        return std::unexpected(KnxError::invalid_frame("unsupported TPCI field"));
    std::uint8_t apci_octet = bytes[10 + n];
    unsigned service = apci_octet >> 6;
    if (service == 3) return std::unexpected(KnxError::invalid_frame("unsupported APCI service"));
    auto apci = static_cast<GroupApci>(service);

    GroupPayload payload = GroupPayload::absent();
    if (length == 1) {
        if (apci != GroupApci::Read) payload = GroupPayload::optimized(apci_octet & 0x3F);
    } else {
        if ((apci_octet & 0x3F) != 0) {
            return std::unexpected(KnxError::invalid_frame("extended APDU has inline data bits"));
        }
        if (apci == GroupApci::Read)
            return std::unexpected(KnxError::invalid_frame(kReadWithPayload));
        if (length == 255) return std::unexpected(KnxError::invalid_frame(kPayloadTooLong));
        auto data = bytes.subspan(11 + n, length - 1);
        payload = GroupPayload::octets(std::vector<std::uint8_t>(data.begin(), data.end()));
    }

    CemiFrame frame;
    frame.message_code = code;
    frame.additional_info.assign(bytes.begin() + 2, bytes.begin() + 2 + static_cast<long>(n));
    frame.control1 = bytes[2 + n];
    frame.control2 = bytes[3 + n];
    frame.telegram =
        GroupTelegram{IndividualAddress::from_raw(read_be16(bytes, 4 + n)),
                      GroupAddress::from_raw(read_be16(bytes, 6 + n)), apci, std::move(payload)};
    return Decoded<CemiFrame>{std::move(frame), bytes.subspan(10 + n + length)};
}

}  // namespace tavrel::core
