// Hand-made rows exercise what the shipped catalogue never declares: special values and bands of
// other meanings, flags declared out of their group's reach, and carriers at widths they are not
// read at. The layer must judge such a table, not trust it.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "semantic/compose.hpp"
#include "semantic/value.hpp"

namespace tavrel::semantic {
namespace {

using catalog::BitGroupDef;
using catalog::Carrier;
using catalog::FieldNode;
using catalog::NamedBit;
using catalog::NodeKind;
using catalog::Row;
using Octets = std::vector<std::uint8_t>;

const catalog::SpecialValue kNoAction[] = {{.raw = 7, .meaning = 1}, {.raw = 9, .meaning = 2}};
const catalog::CodeEntry kEntries[] = {{.text = "one", .value = 1}};
const catalog::Band kBands[] = {{.text = "ignored", .low = 200, .high = 255, .kind = 0},
                                {.text = "quiet", .low = 100, .high = 199, .kind = 1}};
const catalog::CodeTable kTable{.entries = kEntries, .bands = kBands};
const NamedBit kBits[] = {{.name = "NB", .position = 0, .active_state = 1},
                          {.name = "Far", .position = 9, .active_state = 1},
                          {.name = "Odd", .position = 1, .active_state = 2}};
const BitGroupDef kGroup{.bits = kBits, .reserved_mask = 0xFC};

const FieldNode kFields[] = {
    FieldNode{.name = "A",
              .kind = NodeKind::Scalar,
              .scalar = {.carrier = Carrier::Unsigned,
                         .bits = 8,
                         .descriptor = {.kind = catalog::DescriptorKind::Int},
                         .special_values = kNoAction}},
    FieldNode{.name = "B",
              .kind = NodeKind::Scalar,
              .scalar = {.carrier = Carrier::Enumeration, .bits = 8, .code_table = &kTable}},
    FieldNode{.name = "C", .kind = NodeKind::BitGroup, .bits = 8, .group = &kGroup},
};

Row fixture(catalog::Slice<catalog::ValidityEdge> edges) {
    return Row{.id = {999, 10},
               .name = "Fixture",
               .fields = kFields,
               .form = {catalog::RowForm::Kind::Octets, 3},
               .validity_edges = edges};
}

// "value", "disposition <kind> <field>", "<code> <field>" of a read-back fault, or "transmit ..."
// for a value the transmit rules refuse.
std::string read_back(const Row& row, const Octets& payload) {
    auto encoded = encoding::Encoded::decode(row, payload);
    if (!encoded) return "decode " + std::string(encoded.error().code());
    auto r = interpret(*encoded, ServiceReading::None);
    if (!r) {
        return std::string(r.error().code()) + " " + std::string(r.error().field().value_or("-"));
    }
    if (auto* d = std::get_if<FoundDisposition>(&*r)) {
        return "disposition " + std::to_string(static_cast<int>(d->disposition)) + " " +
               std::string(d->field);
    }
    auto sent = Value::validated(std::get<Value>(*r));
    if (!sent) {
        return "transmit " + std::string(sent.error().code()) + " " +
               std::string(sent.error().field().value_or("-")) + " " + sent.error().message();
    }
    return "value";
}

TEST(FixtureReadBackTest, SpecialMeaningsAndBandKinds) {
    const catalog::ValidityEdge gate[] = {{"NB", "B", true}, {"NB", "A", true}};
    Row plain = fixture({});
    Row gated = fixture(gate);
    const struct {
        const Row* row;
        Octets payload;
        const char* expected;
    } cases[] = {
        {&plain, {0, 1, 0}, "value"},
        {&plain, {7, 1, 0}, "disposition 1 A"},
        {&plain, {9, 1, 0}, "value"},  // invalid data
        {&plain, {0, 2, 0}, "semantic/unknown-code B"},
        {&plain, {0, 150, 0}, "value"},  // a band of kind 1
        {&plain, {0, 220, 0}, "disposition 0 B"},
        // Invalidated fields are skipped on reading but still may not be sent.
        {&gated,
         {0, 220, 1},
         "transmit semantic/disposition-on-encode B `B` composes an "
         "ignore-the-message value"},
        {&gated, {7, 1, 1}, "value"},  // accept-without-action is not a transmit fault
        {&gated, {0, 2, 1}, "value"},
        {&gated, {0, 2, 0}, "semantic/unknown-code B"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read_back(*c.row, c.payload), c.expected)
            << int(c.payload[0]) << " " << int(c.payload[1]) << " " << int(c.payload[2]);
    }
}

TEST(FixtureReadBackTest, FlagsOutOfTheirGroupsReach) {
    const catalog::ValidityEdge far[] = {{"Far", "A", true}};
    const catalog::ValidityEdge odd[] = {{"Odd", "A", true}};
    EXPECT_EQ(read_back(fixture(far), {0, 1, 0}), "semantic/named-bit-position Far");
    EXPECT_EQ(read_back(fixture(odd), {0, 1, 0}), "semantic/named-bit-polarity Odd");

    Row row = fixture({});
    std::array<std::uint8_t, 3> buf{};
    auto b = schema_seam::builder(row, buf);
    ASSERT_TRUE(b.has_value());
    auto r = b->set_flag_named("Far", true);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(),
              "the declared position of `Far` is bit 9, outside the positions its bit group spans "
              "in the 64-bit value carrier");
    r = b->set_flag_named("Odd", true);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(),
              "the declared active state of `Odd` is 2, and a bit holds only 0 or 1");
    EXPECT_EQ(buf, (std::array<std::uint8_t, 3>{}));
}

TEST(FixtureComposeTest, DispositionsFoundOnFinishAreRefused) {
    Row row = fixture({});
    const struct {
        std::int64_t a;
        std::int64_t b;
        const char* code;  // nullptr: accepted
        const char* message;
    } cases[] = {
        {0, 1, nullptr, nullptr},
        {7, 1, "semantic/disposition-on-encode", "`A` composes an accept-without-action value"},
        {9, 1, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 3> buf{};
        auto b = schema_seam::builder(row, buf);
        ASSERT_TRUE(b.has_value());
        ASSERT_TRUE(b->set_named("A", ScalarValue::of_integer(c.a)).has_value());
        ASSERT_TRUE(b->set_named("B", ScalarValue::of_integer(c.b)).has_value());
        auto v = b->finish();
        if (c.code == nullptr) {
            EXPECT_TRUE(v.has_value()) << v.error().message();
        } else {
            ASSERT_FALSE(v.has_value());
            EXPECT_EQ(v.error().code(), c.code);
            EXPECT_EQ(v.error().message(), c.message);
        }
    }
    // Bands name the refused code on writing, whatever their kind.
    std::array<std::uint8_t, 3> buf{};
    auto b = schema_seam::builder(row, buf);
    ASSERT_TRUE(b.has_value());
    auto r = b->set_named("B", ScalarValue::of_integer(220));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(),
              "`B` code 220 falls in the declared band `ignored` rather than a defined entry");
}

TEST(FixtureComposeTest, CarriersAtWidthsTheyAreNotReadAt) {
    const FieldNode wide[] = {
        FieldNode{.name = "Wide",
                  .kind = NodeKind::Scalar,
                  .scalar = {.carrier = Carrier::Unsigned,
                             .bits = 40,
                             .descriptor = {.kind = catalog::DescriptorKind::Int}}},
    };
    Row row{.id = {999, 11}, .fields = wide, .form = {catalog::RowForm::Kind::Octets, 5}};
    std::array<std::uint8_t, 5> buf{};
    auto b = schema_seam::builder(row, buf);
    ASSERT_TRUE(b.has_value());
    auto r = b->set_named("Wide", ScalarValue::of_integer(1));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code(), "semantic/mapping-width");
    EXPECT_EQ(r.error().message(),
              "the declared width of `Wide` is 40 bits, which is not a width its declared carrier "
              "is read and written at");
    auto v = b->finish();
    ASSERT_FALSE(v.has_value());
    EXPECT_EQ(v.error().code(), "semantic/mapping-width");
}

}  // namespace
}  // namespace tavrel::semantic
