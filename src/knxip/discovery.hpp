// Gateway discovery: one SEARCH_REQUEST, then every SEARCH_RESPONSE that arrives before a deadline.
// Nothing is filtered or de-duplicated; any datagram that is not a well-formed search response
// fails the whole search, so a confused network is reported instead of half-trusted.
#pragma once

#include <asio/awaitable.hpp>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <vector>

#include "core/knxnetip.hpp"
#include "knxip/error.hpp"
#include "knxip/runtime.hpp"
#include "knxip/transport.hpp"

namespace tavrel::knxip {

// One supported service family of a gateway; identifiers are reported as numbers, uninterpreted.
struct ServiceFamily {
    std::uint8_t id = 0;
    std::uint8_t version = 0;

    friend bool operator==(const ServiceFamily&, const ServiceFamily&) = default;
};

struct Gateway {
    Endpoint control_endpoint;  // from the response's HPAI; its host protocol is not kept
    Endpoint received_from;     // the UDP sender of the response
    std::vector<ServiceFamily> service_families;  // every family DIB entry, in wire order

    friend bool operator==(const Gateway&, const Gateway&) = default;
};

// A search ends early once this many answers are collected.
inline constexpr std::size_t kMaxGateways = 256;

// SEARCH_REQUEST whose HPAI names `local`; an IPv6 local address is carried as 0.0.0.0 with the
// local port, since the HPAI holds only IPv4.
std::expected<core::Buffer, KnxIpError> encode_search_request(const Endpoint& local);

std::expected<Gateway, KnxIpError> decode_search_response(core::Octets datagram,
                                                          const Endpoint& received_from);

// Binds `local_bind`, sends one request to `target` (broadcast permission only for
// 255.255.255.255) and collects answers until `timeout` has passed or kMaxGateways arrived.
asio::awaitable<std::expected<std::vector<Gateway>, KnxIpError>> discover_gateways(
    Endpoint local_bind, Endpoint target, Clock::duration timeout);

}  // namespace tavrel::knxip
