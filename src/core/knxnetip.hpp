// The fixed-layout building blocks of KNXnet/IP datagrams. Decoders read from the front of a
// slice and hand back the structure with the octets after it; encoders append to a caller-owned
// buffer. Nothing here knows about sockets or sessions.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "core/address.hpp"
#include "core/error.hpp"

namespace tavrel::core {

using Octets = std::span<const std::uint8_t>;
using Buffer = std::vector<std::uint8_t>;

// A decoded structure and the octets that follow it (borrowed from the input).
template <class T>
struct Decoded {
    T value;
    Octets rest;
};

namespace service {
inline constexpr std::uint16_t kSearchRequest = 0x0201;
inline constexpr std::uint16_t kSearchResponse = 0x0202;
inline constexpr std::uint16_t kDescriptionRequest = 0x0203;
inline constexpr std::uint16_t kDescriptionResponse = 0x0204;
inline constexpr std::uint16_t kConnectRequest = 0x0205;
inline constexpr std::uint16_t kConnectResponse = 0x0206;
inline constexpr std::uint16_t kConnectionStateRequest = 0x0207;
inline constexpr std::uint16_t kConnectionStateResponse = 0x0208;
inline constexpr std::uint16_t kDisconnectRequest = 0x0209;
inline constexpr std::uint16_t kDisconnectResponse = 0x020A;
inline constexpr std::uint16_t kTunnellingRequest = 0x0420;
inline constexpr std::uint16_t kTunnellingAck = 0x0421;
inline constexpr std::uint16_t kRoutingIndication = 0x0530;
inline constexpr std::uint16_t kRoutingLostMessage = 0x0531;
inline constexpr std::uint16_t kRoutingBusy = 0x0532;
}  // namespace service

// The 6-octet header opening every datagram.
struct KnxNetIpHeader {
    static constexpr std::size_t kSize = 6;

    std::uint16_t service_type = 0;
    std::uint16_t total_length = 0;  // the whole datagram, header included

    // `rest` is the body: exactly the octets up to `total_length`; anything beyond is ignored.
    static std::expected<Decoded<KnxNetIpHeader>, KnxError> decode(Octets bytes);
    // The caller computes `total_length`; it is not checked.
    static std::expected<void, KnxError> encode(std::uint16_t service_type,
                                                std::uint16_t total_length, Buffer& buffer);

    friend bool operator==(const KnxNetIpHeader&, const KnxNetIpHeader&) = default;
};

// Host Protocol Address Information.
struct Hpai {
    static constexpr std::size_t kSize = 8;
    static constexpr std::uint8_t kIpv4Udp = 0x01;
    static constexpr std::uint8_t kIpv4Tcp = 0x02;

    std::uint8_t protocol = kIpv4Udp;
    std::array<std::uint8_t, 4> address{};
    std::uint16_t port = 0;

    static std::expected<Decoded<Hpai>, KnxError> decode(Octets bytes);
    std::expected<void, KnxError> encode(Buffer& buffer) const;

    friend bool operator==(const Hpai&, const Hpai&) = default;
};

// Connection Response Data of a tunnelling connection: the address the gateway assigned.
struct TunnellingCrd {
    static constexpr std::size_t kSize = 4;

    IndividualAddress individual_address;

    static std::expected<Decoded<TunnellingCrd>, KnxError> decode(Octets bytes);

    friend bool operator==(const TunnellingCrd&, const TunnellingCrd&) = default;
};

// Header of tunnelling requests and acknowledgements. `status` is reserved in a request and the
// result in an acknowledgement; it is carried unchecked, the tunnel decides what it means.
struct ConnectionHeader {
    static constexpr std::size_t kSize = 4;

    std::uint8_t channel_id = 0;
    std::uint8_t sequence_counter = 0;
    std::uint8_t status = 0;

    static std::expected<Decoded<ConnectionHeader>, KnxError> decode(Octets bytes);
    std::expected<void, KnxError> encode(Buffer& buffer) const;

    friend bool operator==(const ConnectionHeader&, const ConnectionHeader&) = default;
};

}  // namespace tavrel::core
