// Judging the options JSON of the three calls that take one: connect_tunnel, connect_routing and
// discover_gateways. Every refusal is a message for a ValueError; nothing here touches a socket.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include <asio/ip/address_v4.hpp>
#include <asio/ip/udp.hpp>

#include "core/address.hpp"

namespace tavrel::python {

using Endpoint = asio::ip::udp::endpoint;

struct TunnelOptionValues {
    Endpoint server;
    Endpoint local_bind;
    std::optional<Endpoint> control_endpoint;
    std::optional<Endpoint> data_endpoint;
    std::uint64_t ack_timeout_ms = 1000;
    bool truncate_text = false;
};

struct RoutingOptionValues {
    asio::ip::address_v4 group;
    std::uint16_t port = 3671;
    std::optional<asio::ip::address_v4> interface;
    bool loopback = false;
    std::uint32_t ttl = 1;
    core::IndividualAddress source;
    asio::ip::address_v4 monitor_bind;  // 0.0.0.0 unless local_bind_endpoint names one
    bool truncate_text = false;
};

struct DiscoveryOptionValues {
    Endpoint local_bind;
    Endpoint search;
    std::uint64_t timeout_ms = 3000;
};

// The ValueError message of a refused option text.
using OptionMessage = std::string;

std::expected<TunnelOptionValues, OptionMessage> judge_tunnel_options(std::string_view json);
std::expected<RoutingOptionValues, OptionMessage> judge_routing_options(std::string_view json);
std::expected<DiscoveryOptionValues, OptionMessage> judge_discovery_options(std::string_view json);

// Numeric socket address text: a.b.c.d:port or [v6]:port. Never a name lookup.
std::optional<Endpoint> parse_socket_address(std::string_view text);

// "a.b.c.d:port" for an IPv4 endpoint (what results and events print).
std::string endpoint_text(const Endpoint& endpoint);

}  // namespace tavrel::python
