// Whole datagrams as the client's receivers meet them: routing indications, search responses and
// connect responses built from arbitrary octets. The first octet picks the decoder.
#include <asio/ip/address_v4.hpp>
#include <cstddef>
#include <cstdint>
#include <span>

#include "check.hpp"
#include "core/cemi.hpp"
#include "knxip/discovery.hpp"
#include "knxip/routing.hpp"
#include "knxip/tunnel.hpp"

using namespace tavrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const core::Octets datagram(data + 1, size - 1);
    const knxip::Endpoint sender(asio::ip::make_address_v4("127.0.0.1"), 3671);
    switch (data[0] % 3) {
        case 0: {
            auto event = knxip::decode_routing_packet(datagram, sender);
            if (!event || !event->has_value()) break;
            const knxip::RouteEvent& e = **event;
            FUZZ_CHECK(e.received_from == sender, "routing event lost its sender");
            // An event is only ever made of a telegram that could be sent again.
            auto telegram = core::GroupTelegram::create(e.source, e.destination, e.apci, e.payload);
            FUZZ_CHECK(telegram.has_value(), "routing event holds an invalid telegram");
            break;
        }
        case 1: {
            auto gateway = knxip::decode_search_response(datagram, sender);
            if (!gateway) break;
            FUZZ_CHECK(gateway->received_from == sender, "gateway lost its sender");
            FUZZ_CHECK(gateway->service_families.size() * 2 <= datagram.size(),
                       "more service families than octets");
            break;
        }
        case 2: {
            auto response = knxip::decode_connect_response(datagram);
            if (!response) break;
            FUZZ_CHECK(datagram.size() >= 6 + 2 + 8 + 4, "connect response accepted short");
            break;
        }
    }
    return 0;
}
