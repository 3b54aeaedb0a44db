// A row that repeats the date-and-time layout (a period: start and end) reads its validity flags
// and its midnight rule per instance: one instance's flags and minutes never excuse or condemn the
// other's fields.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "semantic/compose.hpp"
#include "semantic/pipeline.hpp"
#include "semantic/value.hpp"
#include "support.hpp"

namespace tavrel::semantic {
namespace {

using Octets = std::vector<std::uint8_t>;

struct Step {
    std::uint16_t index;
    const char* name;
    std::int64_t value;  // flags: nonzero is on
    bool flag = false;
};

std::string hex(std::span<const std::uint8_t> octets) {
    std::string out;
    char buffer[4];
    for (std::uint8_t c : octets) {
        std::snprintf(buffer, sizeof buffer, out.empty() ? "%02X" : " %02X", c);
        out += buffer;
    }
    return out;
}

std::string compose_period(const std::vector<Step>& steps) {
    const catalog::DptId id{256, 1};
    Octets buffer(16);
    auto b = group_builder(id, buffer);
    if (!b) return b.error().message();
    for (const Step& s : steps) {
        auto r = s.flag ? b->set_flag_named_at("Date and Time", s.index, s.name, s.value != 0)
                        : b->set_named_at("Date and Time", s.index, s.name,
                                          ScalarValue::of_integer(s.value));
        if (!r) return std::string(r.error().code()) + ": " + r.error().message();
    }
    auto v = b->finish();
    if (!v) return std::string(v.error().code()) + ": " + v.error().message();
    Octets wire(16);
    auto g = group_value(*v, wire);
    if (!g) return g.error().message();
    return hex(g->octets);
}

TEST(InstanceScope, ValidityAndTheMidnightRuleHoldPerInstance) {
    const std::string midnight =
        "semantic/disposition-on-encode: `HourOfDay` composes an ignore-the-message value";
    const struct {
        const char* title;
        std::vector<Step> steps;
        std::string outcome;
    } cases[] = {
        {"midnight in the first, minutes in the second",
         {{0, "Month", 1},
          {0, "DayOfMonth", 1},
          {0, "HourOfDay", 24},
          {1, "Month", 2},
          {1, "DayOfMonth", 3},
          {1, "HourOfDay", 12},
          {1, "Minutes", 30}},
         "00 01 01 18 00 00 00 00 00 02 03 0C 1E 00 00 00"},
        {"midnight with seconds in the second",
         {{0, "Month", 1},
          {0, "DayOfMonth", 1},
          {1, "Month", 1},
          {1, "DayOfMonth", 1},
          {1, "HourOfDay", 24},
          {1, "Seconds", 5}},
         midnight},
        {"no date in the first only",
         {{0, "ND", 1, true}, {1, "Month", 1}, {1, "DayOfMonth", 1}},
         "00 00 00 00 00 00 08 00 00 01 01 00 00 00 00 00"},
        {"no date in the second does not excuse the first",
         {{1, "ND", 1, true}},
         "semantic/range: `Month` must be between 1 and 12, got 0"},
        {"no time does not excuse midnight with minutes on the wire",
         {{0, "ND", 1, true},
          {0, "NT", 1, true},
          {0, "HourOfDay", 24},
          {0, "Minutes", 30},
          {1, "ND", 1, true}},
         midnight},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compose_period(c.steps), c.outcome) << c.title;
    }
}

TEST(InstanceScope, ReadBackFindsMidnightWithMinutesInTheSecondInstance) {
    const catalog::Row& row = testing::row_of("256.001");
    Octets payload = {0, 1, 1, 24, 0, 0, 0, 0, 0, 1, 1, 24, 30, 0, 0, 0};
    auto encoded = encoding::Encoded::decode(row, payload);
    ASSERT_TRUE(encoded.has_value());
    auto r = interpret(*encoded, ServiceReading::None);
    ASSERT_TRUE(r.has_value()) << r.error().message();
    ASSERT_TRUE(std::holds_alternative<FoundDisposition>(*r));
    EXPECT_EQ(std::get<FoundDisposition>(*r).field, "HourOfDay");
    EXPECT_EQ(std::get<FoundDisposition>(*r).disposition, Disposition::IgnoreMessage);

    // With no valid time in that instance, the read-back passes it over.
    payload[14] = 0x02;  // NT of the second instance
    r = interpret(*encoded, ServiceReading::None);
    ASSERT_TRUE(r.has_value()) << r.error().message();
    EXPECT_TRUE(std::holds_alternative<Value>(*r));
}

}  // namespace
}  // namespace tavrel::semantic
