#include "semantic/error.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

namespace tavrel::semantic {
namespace {

using catalog::Decimal;
using catalog::DptId;

struct ErrorCase {
    SemanticError error;
    std::string code;
    std::string message;
    std::optional<std::string> field;
};

TEST(SemanticErrorTest, EveryVariantHasItsCodeMessageAndField) {
    const ErrorCase cases[] = {
        {SemanticError::from_encoding(encoding::EncodingError::value_too_wide("UnsignedValue")),
         "semantic/encoding/value-too-wide",
         "value does not fit the declared width of `UnsignedValue`", "UnsignedValue"},
        {SemanticError::from_encoding(encoding::EncodingError::length(2, 3)),
         "semantic/encoding/length", "payload octet count must be 2, got 3", std::nullopt},
        {SemanticError::context_missing(), "semantic/context-missing",
         "the row requires a service-selected reading and none was supplied", std::nullopt},
        {SemanticError::context_not_required(), "semantic/context-not-required",
         "the row declares no context requirement; a service reading was supplied", std::nullopt},
        {SemanticError::kind_mismatch("ND"), "semantic/kind-mismatch",
         "`ND` does not have this access kind", "ND"},
        {SemanticError::descriptor_mismatch(DptId{9, 1}, DptId{1, 1200}),
         "semantic/descriptor-mismatch",
         "descriptor belongs to 9.001, the value is bound to 1.1200", std::nullopt},
        {SemanticError::range("FloatValue", Decimal{-273, 0}, Decimal{67043328, -2}, -273.01),
         "semantic/range", "`FloatValue` must be between -273 and 670433.28, got -273.01",
         "FloatValue"},
        {SemanticError::unknown_code("f", 3, std::nullopt), "semantic/unknown-code",
         "`f` has no defined code 3", "f"},
        {SemanticError::unknown_code("HVACMode", 200, "reserved"), "semantic/unknown-code",
         "`HVACMode` code 200 falls in the declared band `reserved` rather than a defined entry",
         "HVACMode"},
        {SemanticError::no_z8_control(), "semantic/no-z8-control",
         "the row carries no Z8 control field", std::nullopt},
        {SemanticError::unknown_z8_command(9), "semantic/unknown-z8-command",
         "no defined Z8 command 9", std::nullopt},
        {SemanticError::z8_reserved(0xE0, 0x21), "semantic/z8-reserved",
         "reserved Z8 status bits must be zero: mask 0xE0, got 0x21", std::nullopt},
        {SemanticError::z8_reserved(0xE0, 0x03), "semantic/z8-reserved",
         "reserved Z8 status bits must be zero: mask 0xE0, got 0x03", std::nullopt},
        {SemanticError::z8_illegal_combination("OutOfService", "Fault"),
         "semantic/z8-illegal-combination",
         "illegal Z8 status combination: OutOfService with Fault", std::nullopt},
        {SemanticError::mapping_width("Value", 33), "semantic/mapping-width",
         "the declared width of `Value` is 33 bits, which is not a width its declared carrier is "
         "read and written at",
         "Value"},
        {SemanticError::named_bit_position("a", 9), "semantic/named-bit-position",
         "the declared position of `a` is bit 9, outside the positions its bit group spans in the "
         "64-bit value carrier",
         "a"},
        {SemanticError::named_bit_polarity("a", 2), "semantic/named-bit-polarity",
         "the declared active state of `a` is 2, and a bit holds only 0 or 1", "a"},
        {SemanticError::unrepresentable("TimePeriod"), "semantic/unrepresentable",
         "value is not representable on the declared grid of `TimePeriod`", "TimePeriod"},
        {SemanticError::unwalkable_lists(1024), "semantic/unwalkable-lists",
         "the row declares more list work than the 1024 this layer admits, so it is refused "
         "rather than walked",
         std::nullopt},
        {SemanticError::unresolved_validity_flag("Year"), "semantic/unresolved-validity-flag",
         "`Year` gates a declared validity edge and is not a named bit any reader of that edge "
         "resolves",
         "Year"},
        {SemanticError::unqueried_validity_target("Flags"), "semantic/unqueried-validity-target",
         "`Flags` is gated by a declared validity edge and is not a declaration any reader asks "
         "about",
         "Flags"},
        {SemanticError::split_validity_scope("E", "Tariff"), "semantic/split-validity-scope",
         "the declared validity edge from `E` to `Tariff` crosses a repeated group, and no reader "
         "opens both scopes",
         "Tariff"},
        {SemanticError::unresolved_cross_field_name("Minutes"),
         "semantic/unresolved-cross-field-name",
         "`Minutes` names an operand of a declared cross-field relation and is not a value field "
         "of the scope that relation is read in",
         "Minutes"},
        {SemanticError::split_cross_field_scope("HourOfDay", "Minutes"),
         "semantic/split-cross-field-scope",
         "the declared cross-field relation from `HourOfDay` reaches `Minutes` in a different "
         "repeated-group scope, and no reader opens both scopes",
         "Minutes"},
        {SemanticError::undeclared_z8_context("Status/Command"), "semantic/undeclared-z8-context",
         "the row declares the control octet `Status/Command` and no context requirement, so no "
         "reading of that octet is derived",
         "Status/Command"},
        {SemanticError::disposition_on_encode("HourOfDay", Disposition::IgnoreMessage),
         "semantic/disposition-on-encode", "`HourOfDay` composes an ignore-the-message value",
         "HourOfDay"},
        {SemanticError::disposition_on_encode("TestCtrl", Disposition::AcceptWithoutAction),
         "semantic/disposition-on-encode", "`TestCtrl` composes an accept-without-action value",
         "TestCtrl"},
        {SemanticError::self_gating_validity_flag("ND"), "semantic/self-gating-validity-flag",
         "the validity edge names `ND` as its own target, and a flag cannot gate itself", "ND"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(c.error.code(), c.code);
        EXPECT_EQ(c.error.message(), c.message);
        auto field = c.error.field();
        if (c.field) {
            ASSERT_TRUE(field.has_value());
            EXPECT_EQ(*field, *c.field);
        } else {
            EXPECT_FALSE(field.has_value());
        }
    }
}

TEST(SemanticErrorTest, RealsPrintInTheShortestFormThatReadsBackWithoutExponent) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {256.0, "256"},
        {0.5, "0.5"},
        {-273.15, "-273.15"},
        {100.5, "100.5"},
        {-273.01, "-273.01"},
        {0.0000001, "0.0000001"},
        {1e21, "1000000000000000000000"},
        {-0.0, "-0"},
        {670433.28, "670433.28"},
        {0.1, "0.1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_real(c.value), c.text);
        EXPECT_EQ(std::strtod(format_real(c.value).c_str(), nullptr), c.value);
    }
    std::string huge = format_real(std::numeric_limits<double>::max());
    EXPECT_EQ(huge.size(), 309u);
    EXPECT_EQ(huge.find('e'), std::string::npos);
    std::string tiny = format_real(std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(tiny.rfind("0.000", 0), 0u);
    EXPECT_EQ(std::strtod(tiny.c_str(), nullptr), std::numeric_limits<double>::denorm_min());
}

}  // namespace
}  // namespace tavrel::semantic
