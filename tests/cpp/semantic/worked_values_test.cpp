// Known values composed end to end: builder, proof and rendering, compared with hand-checked
// octets, or refused with the exact code, field and whole message a caller sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "catalog/schema.hpp"
#include "encoding/encoded.hpp"
#include "semantic/compose.hpp"
#include "semantic/mapping.hpp"
#include "semantic/pipeline.hpp"
#include "semantic/value.hpp"
#include "support.hpp"

namespace tavrel::semantic {
namespace {

using catalog::Decimal;
using catalog::DptId;
using Octets = std::vector<std::uint8_t>;

// One setter call on the builder.
struct Step {
    enum class Kind { Value, Flag, Text, Invalid };
    Kind kind = Kind::Value;
    const char* name = nullptr;
    ScalarValue value{};
    bool on = false;
    std::string text;
    const char* group = nullptr;  // set: the instance `index` of this repeated group
    std::uint16_t index = 0;
};

Step set(const char* name, ScalarValue value) {
    return Step{.kind = Step::Kind::Value, .name = name, .value = value};
}
Step set_at(const char* group, std::uint16_t index, const char* name, ScalarValue value) {
    return Step{
        .kind = Step::Kind::Value, .name = name, .value = value, .group = group, .index = index};
}
Step flag(const char* name, bool on) {
    return Step{.kind = Step::Kind::Flag, .name = name, .on = on};
}
Step flag_at(const char* group, std::uint16_t index, const char* name, bool on) {
    return Step{.kind = Step::Kind::Flag, .name = name, .on = on, .group = group, .index = index};
}
Step text(const char* name, std::string octets) {
    return Step{.kind = Step::Kind::Text, .name = name, .text = std::move(octets)};
}
Step invalid(const char* name) {
    return Step{.kind = Step::Kind::Invalid, .name = name};
}

ScalarValue dec(std::int64_t mantissa, std::int8_t exponent) {
    return ScalarValue::of_decimal(Decimal{mantissa, exponent});
}
ScalarValue integer(std::int64_t v) {
    return ScalarValue::of_integer(v);
}
ScalarValue real(double x) {
    return ScalarValue::of_real(x);
}
ScalarValue boolean(bool b) {
    return ScalarValue::of_boolean(b);
}

std::string hex(std::span<const std::uint8_t> octets) {
    std::string out;
    char buffer[4];
    for (std::uint8_t c : octets) {
        std::snprintf(buffer, sizeof buffer, out.empty() ? "%02X" : " %02X", c);
        out += buffer;
    }
    return out;
}

struct Case {
    const char* id;
    std::vector<Step> steps;
    // The octets that travel ("short XX" for a value carried in the APCI octet), or, when a step
    // or the proof refuses, "code (field): message" as the caller sees it.
    std::string outcome;
};

Result<void> apply(Builder& b, const Step& s) {
    std::span<const std::uint8_t> octets(reinterpret_cast<const std::uint8_t*>(s.text.data()),
                                         s.text.size());
    switch (s.kind) {
        case Step::Kind::Value:
            return s.group ? b.set_named_at(s.group, s.index, s.name, s.value)
                           : b.set_named(s.name, s.value);
        case Step::Kind::Flag:
            return s.group ? b.set_flag_named_at(s.group, s.index, s.name, s.on)
                           : b.set_flag_named(s.name, s.on);
        case Step::Kind::Text:
            return b.set_text_named(s.name, octets);
        case Step::Kind::Invalid:
            return b.set_invalid_named(s.name);
    }
    return {};
}

std::string refused(const PipelineError& e) {
    return std::string(e.code()) + " (" + std::string(e.field().value_or("-")) +
           "): " + e.message();
}

// A row groups may carry goes through the whole pipeline; a parameter row's value is composed
// the same way and proven, though it never travels as a group telegram.
std::string run(const Case& c) {
    const DptId id = *DptId::parse(c.id);
    const catalog::Row& row = testing::row_of(c.id);
    const std::size_t size = row.form.kind == catalog::RowForm::Kind::SubOctet ? 1 : row.form.size;
    Octets buffer(size);
    const bool supported = group_support(id, Direction::Encode).has_value();
    std::optional<Builder> builder;
    if (supported) {
        auto b = group_builder(id, buffer);
        if (!b) return refused(b.error());
        builder.emplace(*b);
    } else {
        auto b = schema_seam::builder(row, buffer);
        if (!b) return refused(PipelineError::from_semantic(id, b.error()));
        builder.emplace(*b);
    }
    for (const Step& s : c.steps) {
        if (auto r = apply(*builder, s); !r) {
            return refused(PipelineError::from_semantic(id, r.error()));
        }
    }
    auto value = builder->finish();
    if (!value) return refused(PipelineError::from_semantic(id, value.error()));
    if (!supported) return hex(value->payload());
    Octets wire(size);
    auto group = group_value(*value, wire);
    if (!group) return refused(group.error());
    if (group->kind == GroupValue::Kind::Optimized) {
        char buffer_text[16];
        std::snprintf(buffer_text, sizeof buffer_text, "short %02X", group->octet);
        return buffer_text;
    }
    return hex(group->octets);
}

void run_all(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(run(c), c.outcome) << c.id;
    }
}

TEST(WorkedValues, Float16) {
    const std::string grid =
        "semantic/unrepresentable (FloatValue): `9.001`: value is not "
        "representable on the declared grid of `FloatValue`";
    run_all({
        {"9.001", {set("FloatValue", dec(215, -1))}, "0C 33"},
        // 2048 hundredths is one above the mantissa range at exponent 0.
        {"9.001", {set("FloatValue", dec(2048, -2))}, "0C 00"},
        {"9.001", {set("FloatValue", dec(1, -2))}, "00 01"},
        // The smallest exponent whose mantissa fits: E 4, M -1706. The form E 5, M -853 (0xACAB)
        // carries the same value but is not the one composed; see below.
        {"9.001", {set("FloatValue", dec(-27296, -2))}, "A1 56"},
        // 10001 is odd and above the mantissa range; -27300 is -6825 x 4 and no further.
        {"9.001", {set("FloatValue", dec(10001, -2))}, grid},
        {"9.001", {set("FloatValue", dec(-273, 0))}, grid},
        {"9.001",
         {set("FloatValue", dec(-27301, -2))},
         "semantic/range (FloatValue): `9.001`: `FloatValue` must be between -273 and 670433.28, "
         "got -273.01"},
        {"9.001", {invalid("FloatValue")}, "7F FF"},
    });
}

TEST(WorkedValues, QuantitiesLinearAndFloat32) {
    run_all({
        // 7.003 is a parameter row: composed and proven, never sent to a group.
        {"7.003", {set("TimePeriod", dec(650, 0))}, "00 41"},
        {"7.003",
         {set("TimePeriod", dec(655, 0))},
         "semantic/unrepresentable (TimePeriod): `7.003`: value is not representable on the "
         "declared grid of `TimePeriod`"},
        {"8.010", {set("SignedValue", dec(-5, -1))}, "FF CE"},
        {"8.010",
         {set("SignedValue", dec(5, -3))},
         "semantic/unrepresentable (SignedValue): `8.010`: value is not representable on the "
         "declared grid of `SignedValue`"},
        {"5.001", {set("UnsignedValue", real(50))}, "80"},
        {"5.001", {set("UnsignedValue", real(100))}, "FF"},
        {"5.001", {set("UnsignedValue", real(0))}, "00"},
        {"5.001",
         {set("UnsignedValue", real(100.5))},
         "semantic/range (UnsignedValue): `5.001`: `UnsignedValue` must be between 0 and 100, got "
         "100.5"},
        {"5.006",
         {set("UnsignedValue", integer(255))},
         "semantic/range (UnsignedValue): `5.006`: `UnsignedValue` must be between 0 and 254, got "
         "255"},
        {"7.001", {set("UnsignedValue", integer(0x1234))}, "12 34"},
        {"13.001", {set("SignedValue", integer(-2))}, "FF FF FF FE"},
        {"14.000", {set("Value", real(1.5))}, "3F C0 00 00"},
        {"14.000",
         {set("Value", real(0.1))},
         "semantic/unrepresentable (Value): `14.000`: value is not representable on the declared "
         "grid of `Value`"},
    });
}

TEST(WorkedValues, Years) {
    run_all({
        {"11.001",
         {set("Day", integer(11)), set("Month", integer(12)), set("Year", integer(1999))},
         "0B 0C 63"},
        {"11.001",
         {set("Day", integer(1)), set("Month", integer(1)), set("Year", integer(2000))},
         "01 01 00"},
        {"11.001",
         {set("Day", integer(31)), set("Month", integer(1)), set("Year", integer(2089))},
         "1F 01 59"},
        {"11.001",
         {set("Year", integer(1989))},
         "semantic/unrepresentable (Year): `11.001`: value is not representable on the declared "
         "grid of `Year`"},
        {"11.001",
         {set("Year", integer(2090))},
         "semantic/unrepresentable (Year): `11.001`: value is not representable on the declared "
         "grid of `Year`"},
        {"19.001",
         {set("Year", integer(2155)), set("Month", integer(1)), set("DayOfMonth", integer(1))},
         "FF 01 01 00 00 00 00 00"},
        {"19.001",
         {set("Year", integer(1900)), set("Month", integer(1)), set("DayOfMonth", integer(1))},
         "00 01 01 00 00 00 00 00"},
        // The range is stated on the raw number, so the refusal reports 256.
        {"19.001",
         {set("Year", integer(2156))},
         "semantic/range (Year): `19.001`: `Year` must be between 0 and 255, got 256"},
    });
}

TEST(WorkedValues, MidnightAndReservedBands) {
    const Step date[] = {set("Month", integer(1)), set("DayOfMonth", integer(1))};
    auto with_date = [&](std::vector<Step> steps) {
        steps.insert(steps.begin(), std::begin(date), std::end(date));
        return steps;
    };
    run_all({
        {"19.001",
         with_date({set("HourOfDay", integer(24)), set("Minutes", integer(0)),
                    set("Seconds", integer(0))}),
         "00 01 01 18 00 00 00 00"},
        {"19.001",
         with_date({set("HourOfDay", integer(24)), set("Minutes", integer(0)),
                    set("Seconds", integer(1))}),
         "semantic/disposition-on-encode (HourOfDay): `19.001`: `HourOfDay` composes an "
         "ignore-the-message value"},
        {"19.001", with_date({set("HourOfDay", integer(24)), set("Minutes", integer(1))}),
         "semantic/disposition-on-encode (HourOfDay): `19.001`: `HourOfDay` composes an "
         "ignore-the-message value"},
        {"19.001",
         with_date({set("HourOfDay", integer(23)), set("Minutes", integer(59)),
                    set("Seconds", integer(59))}),
         "00 01 01 17 3B 3B 00 00"},
        // Zero lies in a band marked reserved with no effect: it passes the proof.
        {"20.611", {}, "00"},
        {"20.102",
         {set("HVACMode", integer(5))},
         "semantic/unknown-code (HVACMode): `20.102`: `HVACMode` code 5 falls in the declared "
         "band `reserved` rather than a defined entry"},
    });
}

TEST(WorkedValues, SubOctetRows) {
    run_all({
        {"1.001", {set("b", boolean(true))}, "short 01"},
        {"2.001", {flag("c", true), flag("v", false)}, "short 02"},
        {"2.001", {flag("c", true), flag("v", true)}, "short 03"},
        {"3.007", {set("c", boolean(true)), set("StepCode", integer(3))}, "short 0B"},
        {"3.007", {set("c", boolean(false)), set("StepCode", integer(0))}, "short 00"},
        {"3.007",
         {set("StepCode", integer(8))},
         "semantic/range (StepCode): `3.007`: `StepCode` must be between 0 and 7, got 8"},
    });
}

TEST(WorkedValues, RepeatedGroupsAreAddressedPerInstance) {
    run_all({
        {"277.1200",
         {set_at("EnergyRegisters", 1, "Tariff", integer(7)),
          set_at("EnergyRegisters", 3, "ActiveElectricalEnergy", integer(-5)),
          flag_at("EnergyRegisters", 2, "E", false)},
         "00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 "
         "00 00 00 00 07 00 "
         "00 00 00 00 00 02 "
         "FF FF FF FB 00 00"},
        {"277.1200",
         {set("Tariff", integer(1))},
         "semantic/encoding/inside-repeated-group (-): `277.1200`: the field lives inside a "
         "repeated group and is reachable only per instance"},
        {"277.1200",
         {set_at("EnergyRegisters", 4, "Tariff", integer(1))},
         "semantic/encoding/index-out-of-range (-): `277.1200`: repeat index at or beyond the "
         "declared count"},
        {"277.1200",
         {set_at("EnergyRegisters", 0, "Tariff", integer(255))},
         "semantic/range (Tariff): `277.1200`: `Tariff` must be between 0 and 254, got 255"},
    });
}

TEST(WorkedValues, PaddedCharacters) {
    run_all({
        {"16.001", {text("Characters", "ABC")}, "41 42 43 00 00 00 00 00 00 00 00 00 00 00"},
        {"16.001",
         {text("Characters", std::string("AB\0", 3))},
         "semantic/encoding/trailing-pad (-): `16.001`: padded content must not end with the pad "
         "byte 0x00"},
        {"16.001",
         {text("Characters", std::string(15, 'x'))},
         "semantic/encoding/char-count-mismatch (-): `16.001`: character content must have "
         "exactly 14 elements (a declared count, or a prefixed tail's derived width)"},
        {"16.001",
         {text("Characters", std::string(14, 'x'))},
         "78 78 78 78 78 78 78 78 78 78 78 78 78 78"},
    });
}

// -272.96 has two raw forms: E 4, M -1706 (0xA156), the one composed, and E 5, M -853 (0xACAB).
// A receiver must take either; both read as the same exact value.
TEST(WorkedValues, BothFormsOfMinus272Point96ReadTheSame) {
    const catalog::Row& row = testing::row_of("9.001");
    const catalog::FieldNode& field = testing::scalar_of("9.001", "FloatValue");
    for (std::uint64_t raw : {0xA156u, 0xACABu}) {
        SCOPED_TRACE(raw);
        auto value = read_quantity(field.scalar, field.name, raw, 16);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(Decimal::value_cmp(*value, Decimal{-27296, -2}), std::strong_ordering::equal);
        const Octets payload = {static_cast<std::uint8_t>(raw >> 8),
                                static_cast<std::uint8_t>(raw & 0xFF)};
        auto encoded = encoding::Encoded::decode(row, payload);
        ASSERT_TRUE(encoded.has_value());
        auto read = interpret(*encoded, ServiceReading::None);
        ASSERT_TRUE(read.has_value()) << read.error().message();
        EXPECT_TRUE(std::holds_alternative<Value>(*read));
        auto again = write_scalar(field.scalar, field.name, ScalarValue::of_decimal(*value), 16);
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(*again, 0xA156u);
    }
}

}  // namespace
}  // namespace tavrel::semantic
