#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "knxip/error.hpp"
#include "knxip/runtime.hpp"
#include "knxip/transport.hpp"

namespace tavrel::knxip {
namespace {

using asio::ip::make_address_v4;

struct Fault final : PipelineFault {
    std::string display() const override { return "`9.001`: value out of range"; }
};

TEST(KnxIpError, DisplayTexts) {
    const catalog::DptId dpt{9, 1};
    const std::pair<KnxIpError, std::string> cases[] = {
        {KnxIpError::core(core::KnxError::buffer_too_short(6, 5)),
         "buffer too short: needed 6 bytes, got 5"},
        {KnxIpError::pipeline(std::make_shared<Fault>()), "`9.001`: value out of range"},
        {KnxIpError::payload_budget(dpt, 300, 253),
         "`9.001` needs 300 octets, a group telegram carries at most 253"},
        {KnxIpError::variable_row(dpt),
         "`9.001` has no declared width; a whole-row variable row writes its content with "
         "`group_write_text`, a prefixed row composes through `group_write_prefixed`"},
        {KnxIpError::fixed_row(catalog::DptId{16, 0}),
         "`16.000` is not a whole-row variable row; a declared width composes with "
         "`group_write`, a prefixed row through `group_write_prefixed`"},
        {KnxIpError::prefixed_row(dpt),
         "`9.001` is a prefixed-variable row; compose its prefix and content through "
         "`group_write_prefixed`"},
        {KnxIpError::no_value(dpt),
         "the telegram asked for `9.001` and carries no value: it is a group read request"},
        {KnxIpError::timeout(), "operation timed out"},
        {KnxIpError::ack_timeout(), "tunnel ACK timed out"},
        {KnxIpError::heartbeat_timeout(), "tunnel heartbeat timed out"},
        {KnxIpError::disconnect_timeout(), "tunnel disconnect timed out"},
        {KnxIpError::gateway_status(0x21), "gateway returned status 0x21"},
        {KnxIpError::gateway_status(0x05), "gateway returned status 0x05"},
        {KnxIpError::gateway_status(0xAB), "gateway returned status 0xab"},
        {KnxIpError::receive_loop_stopped(), "tunnel receive loop stopped"},
        {KnxIpError::unsupported_ipv6(), "IPv6 is not supported for KNXnet/IP tunneling"},
        {KnxIpError::reconnect_attempts_exhausted(3),
         "tunnel reconnect attempts exhausted after 3 attempts"},
        {KnxIpError::invalid_response("expected connect response"),
         "invalid KNXnet/IP response: expected connect response"},
        {KnxIpError::monitor_lagged(), "monitor event stream lagged"},
        {KnxIpError::io(std::error_code(EADDRINUSE, std::system_category())),
         std::string(std::strerror(EADDRINUSE)) + " (os error " + std::to_string(EADDRINUSE) + ")"},
    };
    for (const auto& [error, text] : cases) {
        EXPECT_EQ(error.display(), text) << "kind " << static_cast<int>(error.kind());
        EXPECT_EQ(error.display(), text) << "rendering twice changes nothing";
    }
}

TEST(UdpTransport, BindReportsRealPortAndTakenPortFailsWithOsText) {
    auto runtime = Runtime::start(1);
    ASSERT_TRUE(runtime);
    auto& rt = **runtime;
    auto first = UdpTransport::bind(rt.executor(), Endpoint(make_address_v4("0.0.0.0"), 0));
    ASSERT_TRUE(first);
    auto bound = first->local_addr();
    ASSERT_TRUE(bound);
    EXPECT_EQ(bound->address().to_string(), "0.0.0.0");
    EXPECT_NE(bound->port(), 0);

    auto second =
        UdpTransport::bind(rt.executor(), Endpoint(make_address_v4("0.0.0.0"), bound->port()));
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().kind(), KnxIpError::Kind::Io);
    EXPECT_EQ(second.error().display(), std::string(std::strerror(EADDRINUSE)) + " (os error " +
                                            std::to_string(EADDRINUSE) + ")");
}

TEST(UdpTransport, SendsReceivesAndCutsOversizedDatagrams) {
    auto runtime = Runtime::start(2);
    ASSERT_TRUE(runtime);
    auto& rt = **runtime;
    auto a = UdpTransport::bind(rt.executor(), Endpoint(make_address_v4("127.0.0.1"), 0));
    auto b = UdpTransport::bind(rt.executor(), Endpoint(make_address_v4("127.0.0.1"), 0));
    ASSERT_TRUE(a && b);
    const std::uint8_t octets[] = {1, 2, 3, 4, 5};
    auto sent = rt.block_on(a->send_to(octets, *b->local_addr()));
    ASSERT_TRUE(sent) << sent.error().display();
    std::uint8_t small[3] = {};
    auto got = rt.block_on(until(Clock::now() + std::chrono::seconds(2), b->recv_from(small)));
    ASSERT_TRUE(got && *got);
    EXPECT_EQ((*got)->length, 3u);
    EXPECT_EQ((*got)->sender, *a->local_addr());
    EXPECT_EQ(small[2], 3);

    // Nothing more is coming: the deadline ends the wait and cancels the receive.
    auto none =
        rt.block_on(until(Clock::now() + std::chrono::milliseconds(30), b->recv_from(small)));
    EXPECT_FALSE(none);
}

}  // namespace
}  // namespace tavrel::knxip
