#include "knxip/transport.hpp"

#include <asio/buffer.hpp>
#include <asio/socket_base.hpp>
#include <asio/this_coro.hpp>

#include "knxip/runtime.hpp"

namespace tavrel::knxip {

std::expected<UdpTransport, KnxIpError> UdpTransport::bind(const asio::any_io_executor& executor,
                                                           const Endpoint& local) {
    asio::ip::udp::socket socket(executor);
    std::error_code ec;
    socket.open(local.protocol(), ec);
    if (ec) return std::unexpected(KnxIpError::io(ec));
    socket.bind(local, ec);
    if (ec) return std::unexpected(KnxIpError::io(ec));
    return UdpTransport(std::move(socket));
}

asio::awaitable<std::expected<UdpTransport, KnxIpError>> UdpTransport::bind(Endpoint local) {
    co_return bind(co_await asio::this_coro::executor, local);
}

std::expected<Endpoint, KnxIpError> UdpTransport::local_addr() const {
    std::error_code ec;
    Endpoint bound = socket_.local_endpoint(ec);
    if (ec) return std::unexpected(KnxIpError::io(ec));
    return bound;
}

std::expected<void, KnxIpError> UdpTransport::set_broadcast(bool on) {
    std::error_code ec;
    socket_.set_option(asio::socket_base::broadcast(on), ec);
    if (ec) return std::unexpected(KnxIpError::io(ec));
    return {};
}

asio::awaitable<std::expected<void, KnxIpError>> UdpTransport::send_to(
    std::span<const std::uint8_t> octets, Endpoint target) {
    auto [ec, sent] = co_await socket_.async_send_to(asio::buffer(octets.data(), octets.size()),
                                                     target, use_nothrow);
    (void)sent;
    if (ec) co_return std::unexpected(KnxIpError::io(ec));
    co_return std::expected<void, KnxIpError>();
}

asio::awaitable<std::expected<Datagram, KnxIpError>> UdpTransport::recv_from(
    std::span<std::uint8_t> buffer) {
    Endpoint sender;
    auto [ec, length] = co_await socket_.async_receive_from(
        asio::buffer(buffer.data(), buffer.size()), sender, use_nothrow);
    if (ec) co_return std::unexpected(KnxIpError::io(ec));
    co_return Datagram{length, sender};
}

}  // namespace tavrel::knxip
