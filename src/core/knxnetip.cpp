#include "core/knxnetip.hpp"

namespace tavrel::core {

namespace {

std::uint16_t read_be16(Octets bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void append_be16(Buffer& buffer, std::uint16_t value) {
    buffer.push_back(static_cast<std::uint8_t>(value >> 8));
    buffer.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

bool known_service(std::uint16_t type) {
    return (type >= 0x0201 && type <= 0x020A) || type == 0x0420 || type == 0x0421 ||
           (type >= 0x0530 && type <= 0x0532);
}

}  // namespace

std::expected<Decoded<KnxNetIpHeader>, KnxError> KnxNetIpHeader::decode(Octets bytes) {
    if (bytes.size() < kSize)
        return std::unexpected(KnxError::buffer_too_short(kSize, bytes.size()));
    if (bytes[0] != 0x06) {
        return std::unexpected(KnxError::invalid_frame("invalid KNXnet/IP header length"));
    }
    if (bytes[1] != 0x10) {
        return std::unexpected(KnxError::invalid_frame("invalid KNXnet/IP protocol version"));
    }
    std::uint16_t type = read_be16(bytes, 2);
    if (!known_service(type)) return std::unexpected(KnxError::unsupported_service_type(type));
    std::uint16_t total = read_be16(bytes, 4);
    if (total < kSize) {
        return std::unexpected(KnxError::invalid_frame("total length shorter than header"));
    }
    if (bytes.size() < total)
        return std::unexpected(KnxError::buffer_too_short(total, bytes.size()));
    return Decoded<KnxNetIpHeader>{{type, total}, bytes.subspan(kSize, total - kSize)};
}

std::expected<void, KnxError> KnxNetIpHeader::encode(std::uint16_t service_type,
                                                     std::uint16_t total_length, Buffer& buffer) {
    buffer.push_back(0x06);
    buffer.push_back(0x10);
    append_be16(buffer, service_type);
    append_be16(buffer, total_length);
    return {};
}

std::expected<Decoded<Hpai>, KnxError> Hpai::decode(Octets bytes) {
    if (bytes.size() < kSize)
        return std::unexpected(KnxError::buffer_too_short(kSize, bytes.size()));
    if (bytes[0] != 0x08) return std::unexpected(KnxError::invalid_frame("invalid HPAI length"));
    if (bytes[1] != kIpv4Udp && bytes[1] != kIpv4Tcp) {
        return std::unexpected(KnxError::invalid_frame("unsupported host protocol"));
    }
    Hpai hpai;
    hpai.protocol = bytes[1];
    hpai.address = {bytes[2], bytes[3], bytes[4], bytes[5]};
    hpai.port = read_be16(bytes, 6);
    return Decoded<Hpai>{hpai, bytes.subspan(kSize)};
}

std::expected<void, KnxError> Hpai::encode(Buffer& buffer) const {
    buffer.push_back(0x08);
    buffer.push_back(protocol);
    buffer.insert(buffer.end(), address.begin(), address.end());
    append_be16(buffer, port);
    return {};
}

std::expected<Decoded<TunnellingCrd>, KnxError> TunnellingCrd::decode(Octets bytes) {
    if (bytes.size() < kSize)
        return std::unexpected(KnxError::buffer_too_short(kSize, bytes.size()));
    if (bytes[0] != 0x04) {
        return std::unexpected(KnxError::invalid_frame("invalid tunnelling CRD length"));
    }
    if (bytes[1] != 0x04) {
        return std::unexpected(
            KnxError::invalid_frame("connection response data is not a tunnelling CRD"));
    }
    TunnellingCrd crd{IndividualAddress::from_raw(read_be16(bytes, 2))};
    return Decoded<TunnellingCrd>{crd, bytes.subspan(kSize)};
}

std::expected<Decoded<ConnectionHeader>, KnxError> ConnectionHeader::decode(Octets bytes) {
    if (bytes.size() < kSize)
        return std::unexpected(KnxError::buffer_too_short(kSize, bytes.size()));
    if (bytes[0] != 0x04) {
        return std::unexpected(KnxError::invalid_frame("invalid connection header length"));
    }
    return Decoded<ConnectionHeader>{{bytes[1], bytes[2], bytes[3]}, bytes.subspan(kSize)};
}

std::expected<void, KnxError> ConnectionHeader::encode(Buffer& buffer) const {
    buffer.push_back(0x04);
    buffer.push_back(channel_id);
    buffer.push_back(sequence_counter);
    buffer.push_back(status);
    return {};
}

}  // namespace tavrel::core
