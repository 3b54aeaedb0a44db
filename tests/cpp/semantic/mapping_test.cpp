#include "semantic/mapping.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "support.hpp"

namespace tavrel::semantic {
namespace {

using catalog::Decimal;
using testing::scalar_of;

struct WriteCase {
    const char* id;
    const char* field;
    ScalarValue value;
    std::optional<std::uint64_t> raw;  // expected raw, or
    const char* code;                  // the expected fault's code
    const char* message;               // and its message (nullptr: not checked)
};

ScalarValue dec(std::int64_t mantissa, std::int8_t exponent) {
    return ScalarValue::of_decimal(Decimal{mantissa, exponent});
}
ScalarValue integer(std::int64_t v) {
    return ScalarValue::of_integer(v);
}
ScalarValue real(double x) {
    return ScalarValue::of_real(x);
}

void run(const WriteCase& c) {
    SCOPED_TRACE(std::string(c.id) + " " + c.field);
    const catalog::FieldNode& node = scalar_of(c.id, c.field);
    auto r = write_scalar(node.scalar, node.name, c.value, node.scalar.bits);
    if (c.raw) {
        ASSERT_TRUE(r.has_value()) << r.error().message();
        EXPECT_EQ(*r, *c.raw);
    } else {
        ASSERT_FALSE(r.has_value()) << "raw " << *r;
        EXPECT_EQ(r.error().code(), c.code);
        if (c.message) {
            EXPECT_EQ(r.error().message(), c.message);
        }
        EXPECT_EQ(r.error().field(), std::optional<std::string_view>(node.name));
    }
}

TEST(WriteScalarTest, Float16IsEncodedOnlyWhenExactWithTheSmallestExponent) {
    const WriteCase cases[] = {
        {"9.001", "FloatValue", dec(215, -1), 0x0C33, nullptr, nullptr},
        {"9.001", "FloatValue", dec(1, -2), 0x0001, nullptr, nullptr},
        {"9.001", "FloatValue", dec(0, 0), 0x0000, nullptr, nullptr},
        // 2048 is one above the mantissa range at exponent 0.
        {"9.001", "FloatValue", dec(2048, -2), 0x0C00, nullptr, nullptr},
        {"9.001", "FloatValue", dec(2047, -2), 0x07FF, nullptr, nullptr},
        {"9.001", "FloatValue", dec(-2048, -2), 0x8000, nullptr, nullptr},
        // -272.96 is -1706 x 2^4 as well as -853 x 2^5; the smaller exponent wins.
        {"9.001", "FloatValue", dec(-27296, -2), 0xA156, nullptr, nullptr},
        {"9.001", "FloatValue", dec(-27300, -2), std::nullopt, "semantic/unrepresentable", nullptr},
        {"9.001", "FloatValue", dec(-1, -2), 0x87FF, nullptr, nullptr},
        {"9.001", "FloatValue", dec(67043328, -2), 0x7FFE, nullptr, nullptr},
        {"9.001", "FloatValue", dec(-27301, -2), std::nullopt, "semantic/range",
         "`FloatValue` must be between -273 and 670433.28, got -273.01"},
        {"9.001", "FloatValue", dec(67043329, -2), std::nullopt, "semantic/range", nullptr},
        // Inside the range but off every exponent's grid: no rounding happens.
        {"9.001", "FloatValue", dec(-273, 0), std::nullopt, "semantic/unrepresentable",
         "value is not representable on the declared grid of `FloatValue`"},
        {"9.001", "FloatValue", dec(10001, -2), std::nullopt, "semantic/unrepresentable", nullptr},
        {"9.001", "FloatValue", dec(1, -3), std::nullopt, "semantic/unrepresentable", nullptr},
        {"9.001", "FloatValue", real(21.5), std::nullopt, "semantic/kind-mismatch", nullptr},
    };
    for (const WriteCase& c : cases) run(c);
}

TEST(WriteScalarTest, Float32TakesOnlyValuesThatSurviveSinglePrecision) {
    const WriteCase cases[] = {
        {"14.000", "Value", real(1.5), 0x3FC00000, nullptr, nullptr},
        {"14.000", "Value", real(-2.0), 0xC0000000, nullptr, nullptr},
        {"14.000", "Value", real(0.0), 0x00000000, nullptr, nullptr},
        {"14.000", "Value", real(0.1), std::nullopt, "semantic/unrepresentable", nullptr},
        {"14.000", "Value", real(1.1), std::nullopt, "semantic/unrepresentable", nullptr},
        {"14.000", "Value", real(1e300), std::nullopt, "semantic/unrepresentable", nullptr},
        {"14.000", "Value", real(std::nan("")), std::nullopt, "semantic/unrepresentable", nullptr},
        {"14.000", "Value", dec(15, -1), std::nullopt, "semantic/kind-mismatch", nullptr},
    };
    for (const WriteCase& c : cases) run(c);
}

TEST(WriteScalarTest, LinearPercentagesRoundToTheNearestStep) {
    const WriteCase cases[] = {
        {"5.001", "UnsignedValue", real(100), 255, nullptr, nullptr},
        {"5.001", "UnsignedValue", real(50), 128, nullptr, nullptr},
        {"5.001", "UnsignedValue", real(0), 0, nullptr, nullptr},
        {"5.001", "UnsignedValue", real(0.2), 1, nullptr, nullptr},   // 0.51 rounds up
        {"5.001", "UnsignedValue", real(0.19), 0, nullptr, nullptr},  // 0.4845 rounds down
        {"5.003", "UnsignedValue", real(180), 128, nullptr, nullptr},
        {"5.003", "UnsignedValue", real(360), 255, nullptr, nullptr},
        {"5.001", "UnsignedValue", real(100.5), std::nullopt, "semantic/range",
         "`UnsignedValue` must be between 0 and 100, got 100.5"},
        {"5.001", "UnsignedValue", real(-0.5), std::nullopt, "semantic/range", nullptr},
        {"5.001", "UnsignedValue", real(std::nan("")), std::nullopt, "semantic/range", nullptr},
        {"5.001", "UnsignedValue", integer(50), std::nullopt, "semantic/kind-mismatch", nullptr},
    };
    for (const WriteCase& c : cases) run(c);
}

TEST(WriteScalarTest, QuantitiesMustLieOnTheirGrid) {
    const WriteCase cases[] = {
        {"7.003", "TimePeriod", dec(650, 0), 65, nullptr, nullptr},
        {"7.003", "TimePeriod", dec(655350, 0), 65535, nullptr, nullptr},
        {"7.003", "TimePeriod", dec(655, 0), std::nullopt, "semantic/unrepresentable", nullptr},
        {"7.003", "TimePeriod", dec(15, 0), std::nullopt, "semantic/unrepresentable", nullptr},
        {"7.003", "TimePeriod", dec(655360, 0), std::nullopt, "semantic/range",
         "`TimePeriod` must be between 0 and 655350, got 655360"},
        {"8.010", "SignedValue", dec(-5, -1), 0xFFCE, nullptr, nullptr},
        {"8.010", "SignedValue", dec(-32768, -2), 0x8000, nullptr, nullptr},
        {"8.010", "SignedValue", dec(5, -3), std::nullopt, "semantic/unrepresentable", nullptr},
        {"8.010", "SignedValue", dec(32767, -2), std::nullopt, "semantic/range", nullptr},
    };
    for (const WriteCase& c : cases) run(c);
}

TEST(WriteScalarTest, IntegersOffsetsYearsAndStepCodes) {
    const WriteCase cases[] = {
        {"19.001", "Year", integer(2155), 255, nullptr, nullptr},
        {"19.001", "Year", integer(1900), 0, nullptr, nullptr},
        // The range is stated on the raw number, so the fault reports it.
        {"19.001", "Year", integer(2156), std::nullopt, "semantic/range",
         "`Year` must be between 0 and 255, got 256"},
        {"19.001", "Year", integer(1899), std::nullopt, "semantic/range", nullptr},
        {"19.001", "Year", integer(std::numeric_limits<std::int64_t>::min()), std::nullopt,
         "semantic/unrepresentable", nullptr},
        {"11.001", "Year", integer(1999), 99, nullptr, nullptr},
        {"11.001", "Year", integer(1990), 90, nullptr, nullptr},
        {"11.001", "Year", integer(2000), 0, nullptr, nullptr},
        {"11.001", "Year", integer(2089), 89, nullptr, nullptr},
        {"11.001", "Year", integer(2090), std::nullopt, "semantic/unrepresentable", nullptr},
        {"11.001", "Year", integer(1989), std::nullopt, "semantic/unrepresentable", nullptr},
        {"11.001", "Year", integer(89), std::nullopt, "semantic/unrepresentable", nullptr},
        {"3.007", "StepCode", integer(3), 3, nullptr, nullptr},
        {"3.007", "StepCode", integer(8), std::nullopt, "semantic/range", nullptr},
        {"6.010", "RelSignedValue", integer(-1), 0xFF, nullptr, nullptr},
        {"6.010", "RelSignedValue", integer(-128), 0x80, nullptr, nullptr},
        {"6.010", "RelSignedValue", integer(128), std::nullopt, "semantic/range", nullptr},
        {"13.001", "SignedValue", integer(-2), 0xFFFFFFFE, nullptr, nullptr},
        {"29.010", "SignedValue", integer(std::numeric_limits<std::int64_t>::min()),
         0x8000000000000000, nullptr, nullptr},
        {"29.010", "SignedValue", integer(-1), 0xFFFFFFFFFFFFFFFF, nullptr, nullptr},
        {"17.001", "SceneNumber", integer(63), 63, nullptr, nullptr},
        {"17.001", "SceneNumber", integer(64), std::nullopt, "semantic/range", nullptr},
        // 255 is the tariff's ignore-the-message code, outside the writable range.
        {"5.006", "UnsignedValue", integer(255), std::nullopt, "semantic/range",
         "`UnsignedValue` must be between 0 and 254, got 255"},
        {"5.010", "UnsignedValue", integer(-1), std::nullopt, "semantic/range", nullptr},
        {"5.010", "UnsignedValue", dec(1, 0), std::nullopt, "semantic/kind-mismatch", nullptr},
    };
    for (const WriteCase& c : cases) run(c);
}

TEST(WriteScalarTest, BooleansAndEnumerations) {
    const WriteCase cases[] = {
        {"1.001", "b", ScalarValue::of_boolean(true), 1, nullptr, nullptr},
        {"1.001", "b", ScalarValue::of_boolean(false), 0, nullptr, nullptr},
        {"1.001", "b", integer(1), std::nullopt, "semantic/kind-mismatch",
         "`b` does not have this access kind"},
        {"20.102", "HVACMode", integer(4), 4, nullptr, nullptr},
        {"20.102", "HVACMode", integer(0), 0, nullptr, nullptr},
        {"20.102", "HVACMode", integer(5), std::nullopt, "semantic/unknown-code",
         "`HVACMode` code 5 falls in the declared band `reserved` rather than a defined entry"},
        {"20.102", "HVACMode", integer(70000), std::nullopt, "semantic/unrepresentable", nullptr},
        {"20.102", "HVACMode", integer(-1), std::nullopt, "semantic/unrepresentable", nullptr},
        {"6.020", "f", integer(3), std::nullopt, "semantic/unknown-code",
         "`f` has no defined code 3"},
        {"6.020", "f", integer(4), 4, nullptr, nullptr},
        // A reserved band of kind 1 is still no code a writer may choose.
        {"20.611", "TestCtrl", integer(0), std::nullopt, "semantic/unknown-code", nullptr},
        {"20.102", "HVACMode", ScalarValue::of_boolean(true), std::nullopt,
         "semantic/kind-mismatch", nullptr},
    };
    for (const WriteCase& c : cases) run(c);
}

TEST(MappingTest, CarrierWidths) {
    using catalog::Carrier;
    const struct {
        Carrier carrier;
        std::uint32_t width;
        bool ok;
    } cases[] = {
        {Carrier::Boolean, 1, true},      {Carrier::Boolean, 0, false},
        {Carrier::Enumeration, 32, true}, {Carrier::Enumeration, 33, false},
        {Carrier::Unsigned, 32, true},    {Carrier::Unsigned, 33, false},
        {Carrier::Signed, 64, true},      {Carrier::Signed, 65, false},
        {Carrier::Signed, 0, false},      {Carrier::Float16, 16, true},
        {Carrier::Float16, 15, false},    {Carrier::Float32, 32, true},
        {Carrier::Float32, 64, false},
    };
    for (const auto& c : cases) {
        auto r = carrier_bits(c.carrier, c.width, "X");
        EXPECT_EQ(r.has_value(), c.ok) << static_cast<int>(c.carrier) << " " << c.width;
        if (!c.ok && !r) {
            EXPECT_EQ(r.error().kind, SemanticErrorKind::MappingWidth);
        }
    }
}

TEST(MappingTest, QuantityReadings) {
    const auto& temp = scalar_of("9.001", "FloatValue");
    const auto& percent = scalar_of("8.010", "SignedValue");
    const auto& period = scalar_of("7.003", "TimePeriod");
    const struct {
        const catalog::FieldNode* node;
        std::uint64_t raw;
        Decimal expected;
    } cases[] = {
        {&temp, 0x0C33, Decimal{2150, -2}},      {&temp, 0x7FFE, Decimal{67043328, -2}},
        {&temp, 0xF800, Decimal{-67108864, -2}}, {&temp, 0x87FF, Decimal{-1, -2}},
        {&percent, 0xFFCE, Decimal{-50, -2}},    {&period, 65535, Decimal{655350, 0}},
    };
    for (const auto& c : cases) {
        auto r = read_quantity(c.node->scalar, c.node->name, c.raw, c.node->scalar.bits);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(Decimal::value_cmp(*r, c.expected), std::strong_ordering::equal) << c.raw;
    }
    const auto& linear = scalar_of("5.001", "UnsignedValue");
    auto r = read_quantity(linear.scalar, linear.name, 1, 8);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, SemanticErrorKind::KindMismatch);

    // The top of the Float16 range passes, the bottom of the carrier does not.
    EXPECT_TRUE(check_range(temp.scalar, temp.name, Decimal{67043328, -2}).has_value());
    auto low = check_range(temp.scalar, temp.name, Decimal{-67108864, -2});
    ASSERT_FALSE(low.has_value());
    EXPECT_EQ(low.error().message(),
              "`FloatValue` must be between -273 and 670433.28, got -671088.64");
    EXPECT_TRUE(check_range_f64(temp.scalar, temp.name, std::nan("")).has_value());
    EXPECT_FALSE(check_range_f64(temp.scalar, temp.name, -273.5).has_value());
}

TEST(MappingTest, DecimalsConvertToTheNearestDouble) {
    EXPECT_EQ(decimal_to_f64(Decimal{-27301, -2}), -273.01);
    EXPECT_EQ(decimal_to_f64(Decimal{67043328, -2}), 670433.28);
    EXPECT_EQ(decimal_to_f64(Decimal{5, 3}), 5000.0);
    EXPECT_EQ(decimal_to_f64(Decimal{1, 10}), 1e10);
    EXPECT_EQ(decimal_to_f64(Decimal{-2147483648, 0}), -2147483648.0);
}

}  // namespace
}  // namespace tavrel::semantic
