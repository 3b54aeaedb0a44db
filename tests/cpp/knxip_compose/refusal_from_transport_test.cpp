#include "knxip/compose/refusal_from_transport.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "contract/contract.hpp"
#include "knxip/compose/datapoint.hpp"

namespace tavrel::knxip::compose {
namespace {

using contract::Refusal;

const catalog::DptId temp{9, 1};

struct Case {
    KnxIpError error;
    std::string_view code;
    std::optional<catalog::DptId> dpt;
};

TEST(FromTransport, EveryClientKindHasItsCode) {
    const Case cases[] = {
        {KnxIpError::io(std::make_error_code(std::errc::connection_refused)), "transport/io", {}},
        {KnxIpError::core(core::KnxError::invalid_frame("bad")), "transport/core", {}},
        {KnxIpError::payload_budget(temp, 300, 253), "transport/payload-budget", temp},
        {KnxIpError::variable_row(temp), "transport/variable-row", temp},
        {KnxIpError::fixed_row(temp), "transport/fixed-row", temp},
        {KnxIpError::prefixed_row(temp), "transport/prefixed-row", temp},
        {KnxIpError::no_value(temp), "transport/no-value", temp},
        {KnxIpError::timeout(), "transport/timeout", {}},
        {KnxIpError::ack_timeout(), "transport/ack-timeout", {}},
        {KnxIpError::heartbeat_timeout(), "transport/heartbeat-timeout", {}},
        {KnxIpError::disconnect_timeout(), "transport/disconnect-timeout", {}},
        {KnxIpError::gateway_status(0x21), "transport/gateway-status", {}},
        {KnxIpError::receive_loop_stopped(), "transport/receive-loop-stopped", {}},
        {KnxIpError::unsupported_ipv6(), "transport/unsupported-ipv6", {}},
        {KnxIpError::reconnect_attempts_exhausted(3), "transport/reconnect-attempts-exhausted", {}},
        {KnxIpError::invalid_response("expected search response"),
         "transport/invalid-response",
         {}},
        {KnxIpError::monitor_lagged(), "transport/monitor-lagged", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(from_transport(c.error),
                  (Refusal{c.error.display(), c.code, c.dpt, std::nullopt}))
            << c.code;
    }
    EXPECT_EQ(from_transport(KnxIpError::gateway_status(0x21)).message,
              "gateway returned status 0x21");
}

TEST(FromTransport, ForwardedPipelineRefusalsKeepTheirCode) {
    const auto range = semantic::PipelineError::from_semantic(
        temp, semantic::SemanticError::range("FloatValue", {-273, 0}, {67043328, -2}, -273.01));
    EXPECT_EQ(from_transport(pipeline_error(range)),
              (Refusal{"`9.001`: `FloatValue` must be between -273 and 670433.28, got -273.01",
                       "semantic/range", temp, "FloatValue"}));

    const auto forbidden = semantic::PipelineError::make(
        semantic::PipelineError::Kind::GroupTransportForbidden, catalog::DptId{201, 100});
    EXPECT_EQ(
        from_transport(pipeline_error(forbidden)),
        (Refusal{"`201.100` is not available for standard group communication",
                 "pipeline/group-transport-forbidden", catalog::DptId{201, 100}, std::nullopt}));
}

// The write path as the client runs it: the contract's composition fills the builder, and a
// refusal of the replay reaches the caller with the semantic code and field.
TEST(FromTransport, ReplayedCompositionRefusalsReachTheCaller) {
    struct Case {
        const char* document;
        std::string_view code;
        std::optional<std::string> field;
    };
    const Case cases[] = {
        {"100.01", "semantic/unrepresentable", "FloatValue"},
        {"-273.01", "semantic/range", "FloatValue"},
        {"21.5", {}, {}},
    };
    for (const auto& c : cases) {
        auto form = contract::group_write(temp, c.document);
        ASSERT_TRUE(form.has_value()) << c.document;
        auto payload = compose_group_payload(
            temp, [&](semantic::Builder& b) { return form->composition.apply(b); });
        if (c.code.empty()) {
            ASSERT_TRUE(payload.has_value()) << c.document;
            EXPECT_EQ(*payload, core::GroupPayload::octets({0x0C, 0x33}));
            continue;
        }
        ASSERT_FALSE(payload.has_value()) << c.document;
        Refusal r = from_transport(payload.error());
        EXPECT_EQ(r.code, c.code) << c.document;
        EXPECT_EQ(r.dpt, temp) << c.document;
        EXPECT_EQ(r.field, c.field) << c.document;
        EXPECT_TRUE(r.message.starts_with("`9.001`: ")) << r.message;
    }
}

}  // namespace
}  // namespace tavrel::knxip::compose
