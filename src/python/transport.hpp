// Transport plans: a write judged completely with the interpreter lock held (group, identifier,
// document, in that order), then executed on a client's runtime. A refused plan never reaches a
// socket, so it never advances the tunnel's sequence counter.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>
#include <vector>

#include <asio/awaitable.hpp>

#include "contract/contract.hpp"
#include "contract/refusal.hpp"
#include "core/address.hpp"
#include "core/cemi.hpp"
#include "knxip/error.hpp"
#include "knxip/routing.hpp"
#include "knxip/tunnel.hpp"
#include "python/py_ref.hpp"

namespace tavrel::python {

using Plan = contract::GroupWrite;

std::expected<Plan, contract::Refusal> build_plan(std::string_view group, std::string_view dpt,
                                                  std::string_view value_json);

namespace transport {

asio::awaitable<std::expected<void, contract::Refusal>> write(knxip::TunnelClient& client,
                                                              const Plan& plan);
asio::awaitable<std::expected<void, contract::Refusal>> respond(knxip::TunnelClient& client,
                                                                const Plan& plan);
// The number of octets of the datagram sent.
asio::awaitable<std::expected<std::size_t, contract::Refusal>> route(
    const knxip::RouteSender& sender, const Plan& plan, core::IndividualAddress source);
// `route` done on the calling thread when the socket takes the datagram at once; nullopt when it
// would have to wait, and then nothing was sent (the caller awaits `route` on the runtime).
std::expected<std::optional<std::size_t>, contract::Refusal> try_route(
    const knxip::RouteSender& sender, const Plan& plan, core::IndividualAddress source);

}  // namespace transport

// The octets a received payload carries: none for a read, the 6-bit value of an optimized one.
std::vector<std::uint8_t> payload_octets(const core::GroupPayload& payload);

// Raise helpers of the transport side; each returns nullptr with the exception set.
PyObject* transport_refusal(const knxip::KnxIpError& error);
PyObject* closed_tunnel_error();
PyObject* closed_route_error();

}  // namespace tavrel::python
