#include "knxip/discovery.hpp"

#include <array>
#include <asio/ip/address_v4.hpp>
#include <span>
#include <utility>

namespace tavrel::knxip {

namespace {

constexpr std::uint8_t kDibSupportedServiceFamilies = 0x02;
constexpr std::size_t kDibHeaderSize = 2;
constexpr std::size_t kReceiveBufferSize = 1500;

}  // namespace

std::expected<core::Buffer, KnxIpError> encode_search_request(const Endpoint& local) {
    core::Hpai hpai;
    hpai.protocol = core::Hpai::kIpv4Udp;
    if (local.address().is_v4()) hpai.address = local.address().to_v4().to_bytes();
    hpai.port = local.port();

    core::Buffer datagram;
    const auto total = static_cast<std::uint16_t>(core::KnxNetIpHeader::kSize + core::Hpai::kSize);
    if (auto r = core::KnxNetIpHeader::encode(core::service::kSearchRequest, total, datagram); !r) {
        return std::unexpected(KnxIpError::core(r.error()));
    }
    if (auto r = hpai.encode(datagram); !r) return std::unexpected(KnxIpError::core(r.error()));
    return datagram;
}

std::expected<Gateway, KnxIpError> decode_search_response(core::Octets datagram,
                                                          const Endpoint& received_from) {
    auto header = core::KnxNetIpHeader::decode(datagram);
    if (!header) return std::unexpected(KnxIpError::core(header.error()));
    if (header->value.service_type != core::service::kSearchResponse) {
        return std::unexpected(KnxIpError::invalid_response("expected search response"));
    }
    auto hpai = core::Hpai::decode(header->rest);
    if (!hpai) return std::unexpected(KnxIpError::core(hpai.error()));

    Gateway gateway;
    gateway.control_endpoint =
        Endpoint(asio::ip::address_v4(hpai->value.address), hpai->value.port);
    gateway.received_from = received_from;

    core::Octets dibs = hpai->rest;
    while (!dibs.empty()) {
        if (dibs.size() == 1)
            return std::unexpected(KnxIpError::invalid_response("truncated DIB header"));
        const std::size_t length = dibs[0];
        const std::uint8_t type = dibs[1];
        if (length < kDibHeaderSize || length > dibs.size()) {
            return std::unexpected(KnxIpError::invalid_response("invalid DIB length"));
        }
        if (type == kDibSupportedServiceFamilies) {
            if (length % 2 != 0) {
                return std::unexpected(KnxIpError::invalid_response("invalid service family list"));
            }
            for (std::size_t at = kDibHeaderSize; at < length; at += 2) {
                gateway.service_families.push_back({dibs[at], dibs[at + 1]});
            }
        }
        dibs = dibs.subspan(length);
    }
    return gateway;
}

asio::awaitable<std::expected<std::vector<Gateway>, KnxIpError>> discover_gateways(
    Endpoint local_bind, Endpoint target, Clock::duration timeout) {
    auto transport = co_await UdpTransport::bind(local_bind);
    if (!transport) co_return std::unexpected(std::move(transport.error()));

    // Only the limited broadcast gets permission; any other target goes out as an ordinary
    // datagram, so a directed broadcast fails where the system insists on the permission.
    if (target.address().is_v4() && target.address().to_v4() == asio::ip::address_v4::broadcast()) {
        if (auto on = transport->set_broadcast(true); !on) co_return std::unexpected(on.error());
    }

    auto local = transport->local_addr();
    if (!local) co_return std::unexpected(std::move(local.error()));
    auto request = encode_search_request(*local);
    if (!request) co_return std::unexpected(std::move(request.error()));
    if (auto sent = co_await transport->send_to(*request, target); !sent) {
        co_return std::unexpected(std::move(sent.error()));
    }

    const Clock::time_point deadline = Clock::now() + timeout;
    std::vector<Gateway> gateways;
    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    while (gateways.size() < kMaxGateways) {
        if (Clock::now() >= deadline) break;
        auto received = co_await until(deadline, transport->recv_from(buffer));
        if (!received) break;
        if (!*received) co_return std::unexpected(std::move(received->error()));
        auto gateway = decode_search_response(
            std::span<const std::uint8_t>(buffer.data(), (*received)->length), (*received)->sender);
        if (!gateway) co_return std::unexpected(std::move(gateway.error()));
        gateways.push_back(std::move(*gateway));
    }
    co_return gateways;
}

}  // namespace tavrel::knxip
