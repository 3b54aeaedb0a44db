#include "knxip/compose/datapoint.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrel::knxip::compose {
namespace {

using catalog::DptId;
using semantic::ScalarValue;
using Kind = KnxIpError::Kind;

std::span<const std::uint8_t> bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

const Fill kNothing = [](semantic::Builder&) -> semantic::Result<void> { return {}; };

TEST(ComposeGroupPayload, FixedAndSubOctetRows) {
    auto two_octets = compose_group_payload({9, 1}, [](semantic::Builder& b) {
        return b.set_named("FloatValue", ScalarValue::of_decimal({2150, -2}));
    });
    ASSERT_TRUE(two_octets.has_value()) << two_octets.error().display();
    EXPECT_EQ(*two_octets, core::GroupPayload::octets({0x0C, 0x33}));

    auto one_bit = compose_group_payload({1, 1}, [](semantic::Builder& b) {
        return b.set_named("b", ScalarValue::of_boolean(true));
    });
    ASSERT_TRUE(one_bit.has_value()) << one_bit.error().display();
    EXPECT_EQ(*one_bit, core::GroupPayload::optimized(1));
}

TEST(ComposeGroupPayload, RefusalsKeepTheirOrigin) {
    auto variable = compose_group_payload({28, 1}, kNothing);
    ASSERT_FALSE(variable.has_value());
    EXPECT_EQ(variable.error().kind(), Kind::VariableRow);

    // A value the semantic layer refuses comes back as a pipeline fault naming the identifier.
    auto out_of_range = compose_group_payload({5, 10}, [](semantic::Builder& b) {
        return b.set_named("UnsignedValue", ScalarValue::of_integer(256));
    });
    ASSERT_FALSE(out_of_range.has_value());
    ASSERT_EQ(out_of_range.error().kind(), Kind::Pipeline);
    auto* failure =
        dynamic_cast<const PipelineFailure*>(out_of_range.error().pipeline_fault().get());
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->error().kind, semantic::PipelineError::Kind::Semantic);
    EXPECT_EQ(out_of_range.error().display().rfind("`5.010`: ", 0), 0u);

    auto unknown = compose_group_payload({1, 20}, kNothing);
    ASSERT_FALSE(unknown.has_value());
    EXPECT_EQ(unknown.error().kind(), Kind::Pipeline);
}

TEST(ComposeRowShapes, EachEntryPointRefusesTheOtherShapes) {
    struct Case {
        const char* what;
        std::expected<core::GroupPayload, KnxIpError> result;
        Kind expected;
    };
    const std::string text = "abc";
    Case cases[] = {
        {"text on a fixed row", compose_group_text({9, 1}, bytes(text), false), Kind::FixedRow},
        {"text on a prefixed row", compose_group_text({267, 1}, bytes(text), false),
         Kind::PrefixedRow},
        {"prefixed on a fixed row", compose_group_prefixed({9, 1}, kNothing, bytes(text), false),
         Kind::FixedRow},
        {"prefixed on a whole-row text",
         compose_group_prefixed({28, 1}, kNothing, bytes(text), false), Kind::VariableRow},
    };
    for (auto& c : cases) {
        ASSERT_FALSE(c.result.has_value()) << c.what;
        EXPECT_EQ(c.result.error().kind(), c.expected) << c.what;
    }
}

TEST(ComposeGroupText, TransportBudget) {
    std::string fits(252, 'a');
    auto accepted = compose_group_text({28, 1}, bytes(fits), false);
    ASSERT_TRUE(accepted.has_value()) << accepted.error().display();
    ASSERT_EQ(accepted->octets().size(), 253u);
    EXPECT_EQ(accepted->octets().back(), 0x00);

    std::string too_long(253, 'a');
    auto refused = compose_group_text({28, 1}, bytes(too_long), false);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind(), Kind::PayloadBudget);
    EXPECT_EQ(refused.error().needed(), 254u);
    EXPECT_EQ(refused.error().budget(), 253u);
}

TEST(ComposeGroupText, TruncationCutsToCapacityWithoutSplittingCharacters) {
    std::string ascii(300, 'x');
    auto cut = compose_group_text({24, 1}, bytes(ascii), true);
    ASSERT_TRUE(cut.has_value()) << cut.error().display();
    EXPECT_EQ(cut->octets().size(), 253u);

    // 251 ASCII octets then "é" (two octets): the capacity boundary (252) falls inside it.
    std::string utf8 = std::string(251, 'x') + "\xc3\xa9" + "yz";
    auto clipped = compose_group_text({28, 1}, bytes(utf8), true);
    ASSERT_TRUE(clipped.has_value()) << clipped.error().display();
    EXPECT_EQ(clipped->octets().size(), 252u);  // 251 octets of text and the terminator

    std::string short_text = "h\xc3\xa9llo";
    for (bool truncate : {false, true}) {
        auto same = compose_group_text({28, 1}, bytes(short_text), truncate);
        ASSERT_TRUE(same.has_value());
        std::vector<std::uint8_t> expected(short_text.begin(), short_text.end());
        expected.push_back(0);
        EXPECT_EQ(same->octets(), expected);
    }
}

TEST(ComposeGroupPrefixed, DateTimeWithText) {
    auto fill = [](semantic::Builder& b) -> semantic::Result<void> {
        const std::pair<const char*, std::int64_t> fields[] = {
            {"Year", 2024},    {"Month", 5},    {"DayOfMonth", 17}, {"DayOfWeek", 5},
            {"HourOfDay", 12}, {"Minutes", 30}, {"Seconds", 0}};
        for (auto [name, value] : fields) {
            if (auto set = b.set_named(name, ScalarValue::of_integer(value)); !set) return set;
        }
        return {};
    };
    std::string text = "ok";
    auto payload = compose_group_prefixed({267, 1}, fill, bytes(text), false);
    ASSERT_TRUE(payload.has_value()) << payload.error().display();
    const auto& octets = payload->octets();
    ASSERT_EQ(octets.size(), 8u + text.size() + 1);
    EXPECT_EQ(octets[0], 2024 - 1900);
    EXPECT_EQ(octets[8], 'o');
    EXPECT_EQ(octets.back(), 0x00);
}

}  // namespace
}  // namespace tavrel::knxip::compose
