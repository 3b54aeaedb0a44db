// A thin asynchronous UDP socket on a client's runtime; every socket failure is reported once, as
// KnxIpError kind Io, and never retried or interpreted.
#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/udp.hpp>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <utility>

#include "knxip/error.hpp"

namespace tavrel::knxip {

using Endpoint = asio::ip::udp::endpoint;

struct Datagram {
    std::size_t length;  // cut to the buffer's size when the datagram was larger
    Endpoint sender;
};

class UdpTransport {
  public:
    // Opens a socket of `local`'s family on `executor` and binds it to `local` (port 0: the system
    // picks one). No address-reuse option is set.
    static std::expected<UdpTransport, KnxIpError> bind(const asio::any_io_executor& executor,
                                                        const Endpoint& local);
    // The same on the executor of the calling coroutine.
    static asio::awaitable<std::expected<UdpTransport, KnxIpError>> bind(Endpoint local);

    UdpTransport(UdpTransport&&) noexcept = default;
    UdpTransport& operator=(UdpTransport&&) noexcept = default;

    // The address the system actually bound (the real port when 0 was asked for).
    std::expected<Endpoint, KnxIpError> local_addr() const;
    std::expected<void, KnxIpError> set_broadcast(bool on);

    asio::awaitable<std::expected<void, KnxIpError>> send_to(std::span<const std::uint8_t> octets,
                                                             Endpoint target);
    // No time limit of its own: bound it with `until` (runtime.hpp); the wait is cancellable.
    asio::awaitable<std::expected<Datagram, KnxIpError>> recv_from(std::span<std::uint8_t> buffer);

    // For options this type does not wrap (multicast membership, TTL, loop, interface).
    asio::ip::udp::socket& socket() { return socket_; }

  private:
    explicit UdpTransport(asio::ip::udp::socket socket) : socket_(std::move(socket)) {}

    asio::ip::udp::socket socket_;
};

}  // namespace tavrel::knxip
