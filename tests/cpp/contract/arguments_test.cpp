#include "contract/arguments.hpp"

#include <gtest/gtest.h>

namespace tavrel::contract {
namespace {

TEST(Arguments, GroupAddressText) {
    auto ok = group_address("01/2/3");
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->raw(), (1u << 11) | (2u << 8) | 3u);
    auto bad = group_address("1/2");
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error(),
              (Refusal{"`1/2` is not a group address: invalid address: missing group sub",
                       code::malformed_address, std::nullopt, std::nullopt}));
}

TEST(Arguments, DatapointText) {
    auto ok = datapoint("9.001");
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(*ok, (catalog::DptId{9, 1}));
    auto bad = datapoint("9");
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error(),
              (Refusal{"`9` is not a datapoint identifier: identifier has no `.` separator",
                       code::malformed_datapoint, std::nullopt, std::nullopt}));
    auto wide = datapoint("9.65536");
    ASSERT_FALSE(wide.has_value());
    EXPECT_EQ(wide.error().message,
              "`9.65536` is not a datapoint identifier: identifier component exceeds 65535");
}

TEST(Refusal, TransportStateRefusals) {
    EXPECT_EQ(Refusal::closed_transport("tunnel client"),
              (Refusal{"the tunnel client is closed", code::transport_closed, std::nullopt,
                       std::nullopt}));
    EXPECT_EQ(Refusal::unavailable("monitor"),
              (Refusal{"the transport is unavailable: monitor", code::transport_unavailable,
                       std::nullopt, std::nullopt}));
}

}  // namespace
}  // namespace tavrel::contract
