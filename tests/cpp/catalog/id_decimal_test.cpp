#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "catalog/decimal.hpp"
#include "catalog/id.hpp"

namespace tavrel::catalog {
namespace {

TEST(DptId, ParseOutcomes) {
    struct Case {
        const char* text;
        const char* outcome;  // display of the id, or the error message
    };
    const Case cases[] = {
        {"9.001", "9.001"},
        {"9.1", "9.001"},
        {"09.001", "9.001"},
        {"9.00001", "9.001"},
        {"00001.00001", "1.001"},
        {"65535.65535", "65535.65535"},
        {"1.1200", "1.1200"},
        {"", "identifier has no `.` separator"},
        {"9", "identifier has no `.` separator"},
        {".", "identifier component is empty"},
        {".abc", "identifier component is empty"},
        {"abc.", "identifier component contains a non-digit byte"},
        {"1.2.3", "identifier component contains a non-digit byte"},
        {" 9.001", "identifier component contains a non-digit byte"},
        {"+9.001", "identifier component contains a non-digit byte"},
        {"DPT-9.001", "identifier component contains a non-digit byte"},
        {"9.0\xc3\xa9", "identifier component contains a non-digit byte"},
        {"123456.1", "identifier component has more than 5 digits"},
        {"000001.1", "identifier component has more than 5 digits"},
        {"65536.1", "identifier component exceeds 65535"},
        {"1.65536", "identifier component exceeds 65535"},
    };
    for (const auto& c : cases) {
        auto id = DptId::parse(c.text);
        std::string got = id ? id->display() : std::string(message(id.error()));
        EXPECT_EQ(got, c.outcome) << "input: '" << c.text << "'";
    }
}

TEST(DptId, DisplayAndOrder) {
    EXPECT_EQ((DptId{5, 1000}).display(), "5.1000");
    EXPECT_EQ((DptId{0, 0}).display(), "0.000");
    EXPECT_EQ((DptId{232, 600}).display(), "232.600");
    EXPECT_LT((DptId{9, 1}), (DptId{9, 2}));
    EXPECT_LT((DptId{9, 999}), (DptId{10, 1}));
}

TEST(Decimal, Display) {
    struct Case {
        std::int64_t mantissa;
        std::int8_t exponent;
        const char* text;
    };
    const Case cases[] = {
        {12345, -2, "123.45"},
        {-2730, -1, "-273.0"},
        {1, -3, "0.001"},
        {-5, -1, "-0.5"},
        {0, -2, "0.00"},
        {100, -2, "1.00"},
        {5, 3, "5000"},
        {0, 3, "0"},
        {2730, -2, "27.30"},
        {273, -1, "27.3"},
        {std::numeric_limits<std::int64_t>::min(), -2, "-92233720368547758.08"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ((Decimal{c.mantissa, c.exponent}).display(), c.text);
    }
}

TEST(Decimal, ValueCmp) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(Decimal::value_cmp({1, 0}, {10, -1}), std::strong_ordering::equal);
    EXPECT_EQ(Decimal::value_cmp({-1, 0}, {5, 3}), std::strong_ordering::less);
    EXPECT_EQ(Decimal::value_cmp({kMax, 127}, {1, -128}), std::strong_ordering::greater);
    EXPECT_EQ(Decimal::value_cmp({1, -128}, {kMax, 127}), std::strong_ordering::less);
    EXPECT_EQ(Decimal::value_cmp({-kMax, 127}, {-1, -128}), std::strong_ordering::less);
    EXPECT_EQ(Decimal::value_cmp({-1, -128}, {-kMax, 127}), std::strong_ordering::greater);
    EXPECT_EQ(Decimal::value_cmp({0, 100}, {-1, -100}), std::strong_ordering::greater);
    EXPECT_EQ(Decimal::value_cmp({2730, -2}, {273, -1}), std::strong_ordering::equal);
    EXPECT_EQ(Decimal::value_cmp({-27301, -3}, {-2730, -2}), std::strong_ordering::less);
}

TEST(Decimal, ExactQuotient) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(Decimal::exact_quotient({2150, -2}, {1, -2}), 2150);
    EXPECT_EQ(Decimal::exact_quotient({215, -1}, {1, -2}), 2150);
    EXPECT_EQ(Decimal::exact_quotient({1, -3}, {1, -2}), std::nullopt);
    EXPECT_EQ(Decimal::exact_quotient({7, 0}, {5, -1}), 14);
    EXPECT_EQ(Decimal::exact_quotient({-4, -2}, {2, -2}), -2);
    EXPECT_EQ(Decimal::exact_quotient({5, 0}, {0, 0}), std::nullopt);
    EXPECT_EQ(Decimal::exact_quotient({0, 0}, {0, 0}), std::nullopt);
    EXPECT_EQ(Decimal::exact_quotient({0, 5}, {3, 0}), 0);
    EXPECT_EQ(Decimal::exact_quotient({kMax, 1}, {1, 0}), std::nullopt);
    EXPECT_EQ(Decimal::exact_quotient({1, 127}, {1, -128}), std::nullopt);
}

}  // namespace
}  // namespace tavrel::catalog
