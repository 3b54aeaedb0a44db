// Building, reading, verifying and canonicalising payloads: bit placement on real catalogue rows,
// character containers, repeated groups, reserved bits and the faults of each operation.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/schema.hpp"
#include "encoding/encoded.hpp"
#include "fixture.hpp"

namespace tavrel::encoding {
namespace {

using namespace fixture;
using E = EncodingError;
using Octets = std::vector<std::uint8_t>;

const Row& dpt(std::string_view id) {
    auto parsed = catalog::DptId::parse(id);
    const Row* row = parsed ? catalog::find(*parsed) : nullptr;
    if (row == nullptr) {
        ADD_FAILURE() << "no catalogue row " << id;
        static const Row kNone{};
        return kNone;
    }
    return *row;
}

// The literal's octets without its final NUL, embedded NULs kept.
template <std::size_t N>
Octets bytes(const char (&text)[N]) {
    return Octets(text, text + N - 1);
}

template <class T>
E fault(const Result<T>& result) {
    EXPECT_FALSE(result.has_value());
    return result.has_value() ? E{} : result.error();
}

// ---- bit placement ----

struct Placed {
    const char* dpt;
    std::vector<std::pair<std::string_view, std::uint64_t>> fields;
    Octets expected;
};

TEST(BitPlacement, FieldsLandMostSignificantBitFirst) {
    const Placed cases[] = {
        {"1.001", {{"b", 1}}, {0x01}},
        {"2.001", {{"ControlValue", 0b10}}, {0x02}},
        {"3.007", {{"c", 1}, {"StepCode", 3}}, {0x0B}},
        {"6.020", {{"Status", 0b10101}, {"f", 4}}, {0xAC}},
        {"7.001", {{"UnsignedValue", 0x1234}}, {0x12, 0x34}},
        {"200.100", {{"Heat/Cool", 1}, {"Status/Command", 0x11}}, {0x01, 0x11}},
        {"13.001", {{"SignedValue", 0xFFFFFFFE}}, {0xFF, 0xFF, 0xFF, 0xFE}},
        {"19.001",
         {{"Year", 123},
          {"Month", 12},
          {"DayOfMonth", 31},
          {"DayOfWeek", 5},
          {"HourOfDay", 23},
          {"Minutes", 59},
          {"Seconds", 58},
          {"Flags", 0x8080}},
         {0x7B, 0x0C, 0x1F, 0xB7, 0x3B, 0x3A, 0x80, 0x80}},
    };
    for (const Placed& c : cases) {
        SCOPED_TRACE(c.dpt);
        const Row& row = dpt(c.dpt);
        Octets buffer(c.expected.size(), 0xAA);
        auto writer = Writer::create(row, buffer);
        ASSERT_TRUE(writer.has_value());
        for (auto [name, value] : c.fields) {
            ASSERT_TRUE(writer->set_bits(name, value).has_value()) << name;
        }
        auto encoded = writer->finish();
        ASSERT_TRUE(encoded.has_value()) << ::testing::PrintToString(encoded.error());
        EXPECT_EQ(Octets(encoded->payload().begin(), encoded->payload().end()), c.expected);

        auto decoded = Encoded::decode(row, c.expected);
        ASSERT_TRUE(decoded.has_value());
        for (auto [name, value] : c.fields) {
            EXPECT_EQ(decoded->bits(name), value) << name;
            EXPECT_EQ(writer->bits(name), value) << name;
        }
    }
}

constexpr FieldNode kStraddle[] = {scalar("head", 4), scalar("wide", 64), scalar("tail", 4)};
constexpr FieldNode kTooWide[] = {scalar("wide", 72)};
constexpr FieldNode kNoWidth[] = {scalar("none", 0), scalar("v", 8)};

TEST(BitPlacement, SixtyFourBitFieldAcrossNineOctets) {
    const Row row = row_of(kStraddle, octets(9));
    Octets buffer(9);
    auto writer = Writer::create(row, buffer);
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->set_bits("wide", 0x0123456789ABCDEF).has_value());
    EXPECT_EQ(buffer, (Octets{0x00, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}));
    ASSERT_TRUE(writer->set_bits("head", 0xF).has_value());
    ASSERT_TRUE(writer->set_bits("tail", 0xA).has_value());
    EXPECT_EQ(buffer, (Octets{0xF0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xFA}));
    // No value is too wide for 64 bits; a later write replaces every bit of the field.
    ASSERT_TRUE(writer->set_bits("wide", ~std::uint64_t{0}).has_value());
    EXPECT_EQ(writer->bits("wide"), ~std::uint64_t{0});
    ASSERT_TRUE(writer->set_bits("wide", 0).has_value());
    EXPECT_EQ(buffer, (Octets{0xF0, 0, 0, 0, 0, 0, 0, 0, 0x0A}));
}

TEST(BitPlacement, WidthsOutsideOneToSixtyFourAreRefused) {
    static const Row kWideRow = row_of(kTooWide, octets(9));
    static const Row kNoWidthRow = row_of(kNoWidth, octets(1));
    Octets nine(9);
    auto wide = Writer::create(kWideRow, nine);
    ASSERT_TRUE(wide.has_value());
    EXPECT_EQ(fault(wide->set_bits("wide", 1)), E::unrepresentable_width("wide", 72));
    EXPECT_EQ(fault(wide->bits("wide")), E::unrepresentable_width("wide", 72));

    Octets one(1);
    auto none = Writer::create(kNoWidthRow, one);
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(fault(none->set_bits("none", 0)), E::unrepresentable_width("none", 0));
}

TEST(Writer, SetBitsFaults) {
    struct Case {
        const char* dpt;
        std::string_view field;
        std::uint64_t value;
        E expected;
    };
    const Case cases[] = {
        {"5.010", "UnsignedValue", 256, E::value_too_wide("UnsignedValue")},
        {"1.001", "b", 2, E::value_too_wide("b")},
        {"19.001", "reserved1", 0, E::not_settable("reserved1")},
        {"16.001", "Characters", 0, E::kind_mismatch()},
        {"5.010", "unsigned value", 1, E::unknown_field()},
        {"277.1200", "Tariff", 1, E::inside_repeated_group()},
        {"277.1200", "EnergyRegisters", 1, E::kind_mismatch()},
        // Reserved bits of a group are judged before the width.
        {"235.001", "Validity", 0x104, E::reserved_violation("Validity", 5, 0xFC, 0x104)},
        {"19.001", "Flags", 0x0001, E::reserved_violation("Flags", 6, 0x7F, 0x0001)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpt);
        const Row& row = dpt(c.dpt);
        Octets buffer(row.form.kind == catalog::RowForm::Kind::SubOctet ? 1 : row.form.size);
        auto writer = Writer::create(row, buffer);
        ASSERT_TRUE(writer.has_value());
        EXPECT_EQ(fault(writer->set_bits(c.field, c.value)), c.expected);
        EXPECT_EQ(buffer, Octets(buffer.size(), 0)) << "a failed write leaves no trace";
    }
}

TEST(Writer, ReadsRefuseReservedAndCharacterFields) {
    Octets buffer(8);
    auto writer = Writer::create(dpt("19.001"), buffer);
    ASSERT_TRUE(writer.has_value());
    EXPECT_EQ(fault(writer->bits("reserved1")), E::kind_mismatch());
    auto encoded = Encoded::decode(dpt("16.001"), Octets(14));
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(fault(encoded->bits("Characters")), E::kind_mismatch());
    EXPECT_EQ(fault(encoded->bits("characters")), E::unknown_field());
}

TEST(Writer, BufferLengthFollowsTheForm) {
    struct Case {
        const char* dpt;
        std::size_t length;
        std::optional<E> expected;
    };
    const Case cases[] = {
        {"1.001", 1, std::nullopt},
        {"1.001", 2, E::length(1, 2)},
        {"9.001", 3, E::length(2, 3)},
        {"9.001", 1, E::length(2, 1)},
        {"267.001", 9, std::nullopt},
        {"267.001", 8, E::length(9, 8)},
        {"267.001", 8 + 65536, std::nullopt},
        {"267.001", 8 + 65537, E::length(8 + 65536, 8 + 65537)},
        // A sole text field is built with encode_variable.
        {"24.001", 3, E::row_form_mismatch()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.dpt << " / " << c.length);
        Octets buffer(c.length, 0xAA);
        auto writer = Writer::create(dpt(c.dpt), buffer);
        if (c.expected) {
            EXPECT_EQ(fault(writer), *c.expected);
        } else {
            ASSERT_TRUE(writer.has_value());
            EXPECT_EQ(buffer, Octets(c.length, 0)) << "the writer starts from zero";
        }
    }
}

TEST(Writer, RefusesARowThatFailsItsShapeChecks) {
    constexpr static FieldNode kDupes[] = {scalar("x", 4), scalar("x", 4)};
    const Row row = row_of(kDupes, octets(1));
    Octets buffer(1);
    EXPECT_EQ(fault(Writer::create(row, buffer)), E::duplicate_field_name("x"));
    EXPECT_EQ(fault(Encoded::decode(row, buffer)), E::duplicate_field_name("x"));
}

// ---- characters ----

constexpr FieldNode kSpacePadded[] = {chars("c", 4, true, 0x20)};
constexpr FieldNode kEmptyText[] = {text("t", 0), scalar("v", 8)};
constexpr FieldNode kStarText[] = {text("t", 4, '*')};

TEST(Chars, ContentIsCheckedCopiedAndPadded) {
    struct Case {
        const char* dpt;
        std::string_view field;
        Octets content;
        std::optional<E> expected;
        Octets payload;  // when accepted
    };
    Octets fourteen = bytes("ABCDEFGHIJKLMN");
    Octets fifteen = bytes("ABCDEFGHIJKLMNO");
    const Case cases[] = {
        {"16.001",
         "Characters",
         bytes("ABC"),
         std::nullopt,
         {'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"16.001", "Characters", fourteen, std::nullopt, fourteen},
        {"16.001", "Characters", fifteen, E::char_count_mismatch(14), {}},
        {"16.001", "Characters", {'A', 'B', 0}, E::trailing_pad(0), {}},
        {"16.001", "Characters", {}, std::nullopt, Octets(14, 0)},
        {"4.001", "Character", {}, E::char_count_mismatch(1), {}},
        {"4.001", "Character", bytes("AB"), E::char_count_mismatch(1), {}},
        {"4.001", "Character", {0x00}, std::nullopt, {0x00}},
        {"9.001", "FloatValue", bytes("AB"), E::kind_mismatch(), {}},
        {"9.001", "Text", bytes("AB"), E::unknown_field(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.dpt << " " << c.content.size());
        const Row& row = dpt(c.dpt);
        Octets buffer(row.form.size);
        auto writer = Writer::create(row, buffer);
        ASSERT_TRUE(writer.has_value());
        auto result = writer->set_chars(c.field, c.content);
        if (c.expected) {
            EXPECT_EQ(fault(result), *c.expected);
        } else {
            ASSERT_TRUE(result.has_value()) << ::testing::PrintToString(result.error());
            EXPECT_EQ(buffer, c.payload);
            EXPECT_TRUE(writer->finish().has_value());
        }
    }
}

TEST(Chars, PadOctetOtherThanZero) {
    static const Row kRow = row_of(kSpacePadded, octets(4));
    Octets buffer(4);
    auto writer = Writer::create(kRow, buffer);
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->set_chars("c", bytes("AB")).has_value());
    EXPECT_EQ(buffer, bytes("AB  "));
    EXPECT_EQ(fault(writer->set_chars("c", bytes("AB "))), E::trailing_pad(0x20));
    ASSERT_TRUE(writer->set_chars("c", bytes("A\0B")).has_value());
    EXPECT_EQ(buffer, (Octets{'A', 0, 'B', ' '}));
}

TEST(Chars, TerminatedTextHoldsContentTerminatorAndZeros) {
    const Row& row = dpt("277.1200");
    Octets buffer(36);
    auto writer = Writer::create(row, buffer);
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->set_chars("Text", bytes("ABCDEFGHIJK")).has_value());
    EXPECT_EQ(Octets(buffer.begin(), buffer.begin() + 12), bytes("ABCDEFGHIJK\0"));
    EXPECT_EQ(fault(writer->set_chars("Text", bytes("ABCDEFGHIJKL"))), E::char_count_exceeded(11));
    EXPECT_EQ(fault(writer->set_chars("Text", bytes("AB\0D"))), E::early_terminator(2));
    // A shorter text clears what a longer one left behind.
    ASSERT_TRUE(writer->set_chars("Text", bytes("Hi")).has_value());
    EXPECT_EQ(Octets(buffer.begin(), buffer.begin() + 12), bytes("Hi\0\0\0\0\0\0\0\0\0\0"));
    EXPECT_TRUE(writer->finish().has_value());

    static const Row kStarRow = row_of(kStarText, octets(4));
    static const Row kEmptyRow = row_of(kEmptyText, octets(1));
    Octets four(4);
    auto star = Writer::create(kStarRow, four);
    ASSERT_TRUE(star.has_value());
    ASSERT_TRUE(star->set_chars("t", bytes("A")).has_value());
    EXPECT_EQ(four, (Octets{'A', '*', 0, 0}));
    EXPECT_EQ(fault(star->set_chars("t", bytes("A*"))), E::early_terminator(1));

    Octets one(1);
    auto empty = Writer::create(kEmptyRow, one);
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(fault(empty->set_chars("t", {})), E::unterminated_content("t"));
    EXPECT_EQ(fault(empty->finish()), E::unterminated_content("t"));
}

TEST(Chars, VariableTailLengthIsFixedByTheBuffer) {
    const Row& row = dpt("267.001");
    Octets buffer(8 + 5 + 1, 0xAA);
    auto writer = Writer::create(row, buffer);
    ASSERT_TRUE(writer.has_value());
    EXPECT_EQ(fault(writer->set_chars("UTF-8 String", bytes("ABCD"))), E::char_count_mismatch(5));
    EXPECT_EQ(fault(writer->set_chars("UTF-8 String", bytes("ABCDEF"))), E::char_count_mismatch(5));
    ASSERT_TRUE(writer->set_chars("UTF-8 String", bytes("ABCDE")).has_value());
    ASSERT_TRUE(writer->set_bits("Year", 126).has_value());
    auto encoded = writer->finish();
    ASSERT_TRUE(encoded.has_value()) << ::testing::PrintToString(encoded.error());
    EXPECT_EQ(buffer, (Octets{126, 0, 0, 0, 0, 0, 0, 0, 'A', 'B', 'C', 'D', 'E', 0}));
    EXPECT_EQ(encoded->bits("Year"), 126u);

    // The derived count is capped at what the fault can carry.
    Octets huge(8 + 65536);
    auto big = Writer::create(row, huge);
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(fault(big->set_chars("UTF-8 String", bytes("A"))), E::char_count_mismatch(65535));
}

// ---- repeated groups ----

TEST(Repeat, EachInstanceHasItsOwnPlace) {
    const Row& row = dpt("277.1200");
    Octets buffer(36);
    auto writer = Writer::create(row, buffer);
    ASSERT_TRUE(writer.has_value());
    for (std::uint16_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(
            writer->set_repeat_bits("EnergyRegisters", i, "ActiveElectricalEnergy", 0x01020300u + i)
                .has_value());
        ASSERT_TRUE(writer->set_repeat_bits("EnergyRegisters", i, "Tariff", 10u + i).has_value());
        ASSERT_TRUE(writer->set_repeat_bits("EnergyRegisters", i, "Validity", i & 3u).has_value());
        auto placed = writer->repeat_instance("EnergyRegisters", i, "Tariff");
        ASSERT_TRUE(placed.has_value());
        EXPECT_EQ(placed->position, 96u + 48u * i + 32u);
        EXPECT_EQ(placed->node->name, "Tariff");
    }
    for (std::uint16_t i = 0; i < 4; ++i) {
        const std::size_t at = 12 + 6 * i;
        EXPECT_EQ(Octets(buffer.begin() + at, buffer.begin() + at + 6),
                  (Octets{0x01, 0x02, 0x03, static_cast<std::uint8_t>(i),
                          static_cast<std::uint8_t>(10 + i), static_cast<std::uint8_t>(i & 3)}));
    }
    auto encoded = writer->finish();
    ASSERT_TRUE(encoded.has_value());
    auto registers = encoded->repeat("EnergyRegisters");
    ASSERT_TRUE(registers.has_value());
    EXPECT_EQ(registers->count(), 4u);
    EXPECT_EQ(registers->width(), 48u);
    EXPECT_EQ(registers->base(), 96u);
    for (std::uint16_t i = 0; i < 4; ++i) {
        EXPECT_EQ(registers->bits(i, "Tariff"), 10u + i);
        EXPECT_EQ(writer->repeat_bits("EnergyRegisters", i, "ActiveElectricalEnergy"),
                  0x01020300u + i);
    }
}

TEST(Repeat, Faults) {
    const Row& row = dpt("277.1200");
    Octets buffer(36);
    auto writer = Writer::create(row, buffer);
    ASSERT_TRUE(writer.has_value());
    auto registers = Encoded::decode(row, buffer)->repeat("EnergyRegisters");
    ASSERT_TRUE(registers.has_value());

    EXPECT_EQ(fault(writer->repeat_bits("EnergyRegisters", 4, "Tariff")), E::index_out_of_range());
    EXPECT_EQ(fault(registers->bits(4, "Tariff")), E::index_out_of_range());
    // The index is judged before the name.
    EXPECT_EQ(fault(registers->bits(4, "nope")), E::index_out_of_range());
    EXPECT_EQ(fault(registers->bits(0, "nope")), E::unknown_field());
    EXPECT_EQ(fault(writer->repeat_bits("Registers", 0, "Tariff")), E::unknown_field());
    EXPECT_EQ(fault(writer->repeat_bits("Text", 0, "Tariff")), E::kind_mismatch());
    EXPECT_EQ(fault(Encoded::decode(row, buffer)->repeat("Text")), E::kind_mismatch());
    EXPECT_EQ(fault(writer->repeat_bits("EnergyRegisters", 0, "Text")), E::unknown_field());
    EXPECT_EQ(fault(writer->set_repeat_bits("EnergyRegisters", 0, "Tariff", 256)),
              E::value_too_wide("Tariff"));
    // Validity of instance 2 sits at bit 96 + 2 x 48 + 40, in octet 29.
    EXPECT_EQ(fault(writer->set_repeat_bits("EnergyRegisters", 2, "Validity", 0x80)),
              E::reserved_violation("Validity", 29, 0xFC, 0x80));
    EXPECT_EQ(buffer, Octets(36, 0));
}

constexpr FieldNode kSlot[] = {scalar("level", 4)};
constexpr FieldNode kNibbleSlots[] = {scalar("head", 4), repeated("slots", kSlot, 3),
                                      reserved("pad", 8)};

TEST(Repeat, SubOctetInstancesCrossOctetBoundaries) {
    const Row row = row_of(kNibbleSlots, octets(3));
    Octets buffer(3);
    auto writer = Writer::create(row, buffer);
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->set_bits("head", 0x1).has_value());
    for (std::uint16_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(writer->set_repeat_bits("slots", i, "level", 0xA + i).has_value());
    }
    EXPECT_EQ(buffer, (Octets{0x1A, 0xBC, 0x00}));
    EXPECT_EQ(fault(writer->set_bits("level", 1)), E::inside_repeated_group());
}

// ---- finish, decode and reserved bits ----

TEST(Decode, LengthAndTerminatorFaults) {
    struct Case {
        const char* dpt;
        Octets payload;
        std::optional<E> expected;
    };
    const Case cases[] = {
        {"9.001", {0x0C, 0x1A, 0x00}, E::length(2, 3)},
        {"9.001", {0x0C, 0x1A}, std::nullopt},
        {"1.001", {}, E::length(1, 0)},
        {"24.001", {}, E::missing_terminator()},
        {"24.001", {0x41, 0x00, 0x42, 0x00}, E::early_terminator(1)},
        {"24.001", {0x41, 0x42}, E::missing_terminator()},
        {"24.001", {0x00}, std::nullopt},
        {"24.001", {0x41, 0x42, 0x00}, std::nullopt},
        {"267.001", {}, E::missing_terminator()},
        {"267.001", {1, 2, 3, 4, 0}, E::length(9, 5)},
        {"267.001", {1, 2, 3, 4, 5, 6, 7, 8, 'A', 0}, std::nullopt},
        {"267.001", {1, 2, 3, 4, 5, 6, 7, 8, 'A', 0, 'B', 0}, E::early_terminator(1)},
        {"267.001", {1, 2, 3, 4, 5, 6, 7, 8, 'A'}, E::missing_terminator()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.dpt << " " << c.payload.size());
        auto decoded = Encoded::decode(dpt(c.dpt), c.payload);
        if (c.expected) {
            EXPECT_EQ(fault(decoded), *c.expected);
        } else {
            EXPECT_TRUE(decoded.has_value()) << ::testing::PrintToString(decoded.error());
        }
    }
}

constexpr FieldNode kLooseNibble[] = {scalar("v", 4), reserved("r", 4, true)};
constexpr FieldNode kLongReserved[] = {reserved("r", 72)};
constexpr catalog::NamedBit kLooseBits[] = {{"on", {}, 0, 1}};
constexpr BitGroupDef kLooseGroup{kLooseBits, 0xFE, true};
constexpr FieldNode kLooseGroupRow[] = {bit_group("g", 8, &kLooseGroup)};

TEST(Reserved, DecodeAcceptsWhatCheckReservedRefuses) {
    struct Case {
        const char* label;
        Row row;
        Octets payload;
        std::optional<E> expected;
    };
    Octets text_tail(36, 0);
    text_tail[0] = 'A';
    text_tail[2] = 'B';
    Octets text_full(36, 0);
    for (int i = 0; i < 12; ++i) text_full[i] = 'A';
    Octets validity(36, 0);
    validity[12 + 6 * 3 + 5] = 0x06;
    const Case cases[] = {
        {"19.001 clean",
         dpt("19.001"),
         {0x7B, 0x0C, 0x1F, 0xB7, 0x3B, 0x3A, 0x80, 0x80},
         std::nullopt},
        {"19.001 reserved nibble",
         dpt("19.001"),
         {0x7B, 0x1C, 0x1F, 0xB7, 0x3B, 0x3A, 0, 0},
         E::reserved_violation("reserved1", 1, 0xF, 0x1)},
        {"19.001 reserved top bits",
         dpt("19.001"),
         {0x7B, 0x0C, 0xFF, 0xB7, 0x3B, 0x3A, 0, 0},
         E::reserved_violation("reserved2", 2, 0x7, 0x7)},
        {"19.001 flag group",
         dpt("19.001"),
         {0x7B, 0x0C, 0x1F, 0xB7, 0x3B, 0x3A, 0x80, 0x81},
         E::reserved_violation("Flags", 6, 0x7F, 0x8081)},
        {"2.001 bits above the field", dpt("2.001"), {0xFE}, std::nullopt},
        {"text after its terminator", dpt("277.1200"), text_tail,
         E::reserved_violation("Text", 2, 0xFF, 'B')},
        {"text without terminator", dpt("277.1200"), text_full, E::unterminated_content("Text")},
        {"register validity", dpt("277.1200"), validity,
         E::reserved_violation("Validity", 35, 0xFC, 0x06)},
        {"unchecked reserved", row_of(kLooseNibble, octets(1)), {0x5F}, std::nullopt},
        {"unchecked group", row_of(kLooseGroupRow, octets(1)), {0xFF}, std::nullopt},
        {"long reserved, first chunk",
         row_of(kLongReserved, octets(9)),
         {0, 0, 0, 0, 0, 0, 0, 0x01, 0},
         E::reserved_violation("r", 0, ~std::uint64_t{0}, 1)},
        {"long reserved, second chunk",
         row_of(kLongReserved, octets(9)),
         {0, 0, 0, 0, 0, 0, 0, 0, 0x30},
         E::reserved_violation("r", 8, 0xFF, 0x30)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto decoded = Encoded::decode(c.row, c.payload);
        ASSERT_TRUE(decoded.has_value()) << ::testing::PrintToString(decoded.error());
        auto checked = decoded->check_reserved();
        if (c.expected) {
            EXPECT_EQ(fault(checked), *c.expected);
        } else {
            EXPECT_TRUE(checked.has_value()) << ::testing::PrintToString(checked.error());
        }
    }
}

TEST(Reserved, FinishVerifiesWhatTheWriterLeft) {
    // Only Year set: every other field and reserved bit is zero.
    Octets buffer(8, 0xFF);
    auto writer = Writer::create(dpt("19.001"), buffer);
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->set_bits("Year", 126).has_value());
    auto encoded = writer->finish();
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(buffer, (Octets{126, 0, 0, 0, 0, 0, 0, 0}));

    // The caller owns the buffer; finish judges what it holds.
    buffer[1] = 0x80;
    EXPECT_EQ(fault(writer->finish()), E::reserved_violation("reserved1", 1, 0xF, 0x8));
}

// ---- canonical form ----

TEST(Canonicalize, ClearsReservedBitsAndTextTails) {
    struct Case {
        const char* label;
        Row row;
        Octets source;
        Octets expected;
    };
    Octets registers(36, 0);
    registers[0] = 'A';
    registers[2] = 'B';  // after the terminator
    registers[11] = 'C';
    registers[12] = 0x80;
    registers[12 + 5] = 0xFF;  // validity: reserved 0xFC set
    Octets registers_canonical(36, 0);
    registers_canonical[0] = 'A';
    registers_canonical[12] = 0x80;
    registers_canonical[12 + 5] = 0x03;
    const Case cases[] = {
        {"2.001", dpt("2.001"), {0xFE}, {0x02}},
        {"1.001", dpt("1.001"), {0xFF}, {0x01}},
        {"19.001",
         dpt("19.001"),
         {0x7B, 0xFC, 0xFF, 0xB7, 0xFB, 0xFA, 0x80, 0xFF},
         {0x7B, 0x0C, 0x1F, 0xB7, 0x3B, 0x3A, 0x80, 0x80}},
        {"16.001 keeps pad octets", dpt("16.001"), bytes("AB\0\0\0\0\0\0\0\0\0\0\0\0"),
         bytes("AB\0\0\0\0\0\0\0\0\0\0\0\0")},
        {"277.1200", dpt("277.1200"), registers, registers_canonical},
        {"unchecked reserved", row_of(kLooseNibble, octets(1)), {0x5F}, {0x50}},
        {"unchecked group", row_of(kLooseGroupRow, octets(1)), {0xFF}, {0x01}},
        {"24.001", dpt("24.001"), bytes("AB\0"), bytes("AB\0")},
        {"267.001",
         dpt("267.001"),
         {0x7B, 0xFC, 0xFF, 0xB7, 0xFB, 0xFA, 0x80, 0xFF, 'x', 0},
         {0x7B, 0x0C, 0x1F, 0xB7, 0x3B, 0x3A, 0x80, 0xC0, 'x', 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto source = Encoded::decode(c.row, c.source);
        ASSERT_TRUE(source.has_value()) << ::testing::PrintToString(source.error());
        Octets destination(c.source.size(), 0xEE);
        auto canonical = canonicalize(*source, destination);
        ASSERT_TRUE(canonical.has_value()) << ::testing::PrintToString(canonical.error());
        EXPECT_EQ(destination, c.expected);
        EXPECT_EQ(canonical->payload().data(), destination.data());
        EXPECT_TRUE(canonical->check_reserved().has_value());
    }
}

TEST(Canonicalize, Faults) {
    Octets source = {0x0C, 0x1A};
    auto encoded = Encoded::decode(dpt("9.001"), source);
    ASSERT_TRUE(encoded.has_value());
    Octets three(3);
    EXPECT_EQ(fault(canonicalize(*encoded, three)), E::length(2, 3));
    EXPECT_EQ(source, (Octets{0x0C, 0x1A})) << "the source is never changed";

    Octets text = bytes("AB\0");
    auto variable = Encoded::decode(dpt("24.001"), text);
    ASSERT_TRUE(variable.has_value());
    Octets four(4);
    EXPECT_EQ(fault(canonicalize(*variable, four)), E::length(3, 4));
    EXPECT_EQ(fault(canonicalize(*variable, {})), E::length(3, 0));

    // A text container without a terminator has no canonical form.
    Octets unterminated(36, 'A');
    auto registers = Encoded::decode(dpt("277.1200"), unterminated);
    ASSERT_TRUE(registers.has_value());
    Octets destination(36);
    EXPECT_EQ(fault(canonicalize(*registers, destination)), E::unterminated_content("Text"));

    Octets prefixed = {1, 2, 3, 4, 5, 6, 7, 8, 'A', 'B', 0};
    auto dated = Encoded::decode(dpt("267.001"), prefixed);
    ASSERT_TRUE(dated.has_value());
    Octets shorter(10);
    EXPECT_EQ(fault(canonicalize(*dated, shorter)), E::length(11, 10));
}

// ---- pure text rows ----

TEST(EncodeVariable, ContentThenTerminator) {
    Octets destination(3, 0xEE);
    auto encoded = encode_variable(dpt("24.001"), bytes("AB"), destination);
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(destination, bytes("AB\0"));
    EXPECT_EQ(encoded->payload().size(), 3u);

    Octets one(1, 0xEE);
    ASSERT_TRUE(encode_variable(dpt("28.001"), {}, one).has_value());
    EXPECT_EQ(one, Octets{0});

    Octets four(4);
    EXPECT_EQ(fault(encode_variable(dpt("24.001"), bytes("A\0B"), four)), E::early_terminator(1));
    Octets two(2);
    EXPECT_EQ(fault(encode_variable(dpt("24.001"), bytes("AB"), two)), E::length(3, 2));
    EXPECT_EQ(fault(encode_variable(dpt("24.001"), {}, {})), E::length(1, 0));
    EXPECT_EQ(fault(encode_variable(dpt("9.001"), bytes("A"), two)), E::row_form_mismatch());
    Octets ten(10);
    EXPECT_EQ(fault(encode_variable(dpt("267.001"), bytes("A"), ten)), E::row_form_mismatch());
}

TEST(PrefixedOctets, OnlyForAPrefixBeforeAText) {
    EXPECT_EQ(prefixed_octets(dpt("267.001"), 5), std::optional<std::size_t>(14));
    EXPECT_EQ(prefixed_octets(dpt("267.001"), 0), std::optional<std::size_t>(9));
    EXPECT_EQ(prefixed_octets(dpt("267.001"), SIZE_MAX - 8), std::nullopt);
    EXPECT_EQ(prefixed_octets(dpt("24.001"), 5), std::nullopt);
    EXPECT_EQ(prefixed_octets(dpt("9.001"), 5), std::nullopt);
}

TEST(CarrySpan, CopiesOneSpanAndChecksBothBuffers) {
    const Octets source = {0xAB, 0xCD};
    Octets destination = {0x00, 0xFF};
    ASSERT_TRUE(carry_span(source, destination, 4, 8, "f").has_value());
    EXPECT_EQ(destination, (Octets{0x0B, 0xCF}));
    ASSERT_TRUE(carry_span(source, destination, 4, 8, "f", 0x0F).has_value());
    EXPECT_EQ(destination, (Octets{0x0B, 0x0F}));
    ASSERT_TRUE(carry_span(source, destination, 4, 8, "f", 0xF0).has_value());
    EXPECT_EQ(destination, (Octets{0x00, 0xCF}));
    Octets one(1);
    EXPECT_EQ(fault(carry_span(source, one, 4, 8, "f")), E::length(2, 1));
    EXPECT_EQ(fault(carry_span(one, destination, 4, 8, "f")), E::length(2, 1));
    EXPECT_EQ(fault(carry_span(source, destination, 0, 0, "f")), E::unrepresentable_width("f", 0));
    EXPECT_EQ(fault(carry_span(source, destination, 0xFFFFFFF0u, 32, "f")),
              E::unrepresentable_span("f"));
}

}  // namespace
}  // namespace tavrel::encoding
