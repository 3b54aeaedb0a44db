#include "semantic/compose.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "semantic/pipeline.hpp"
#include "support.hpp"

namespace tavrel::semantic {
namespace {

using catalog::Decimal;
using catalog::DptId;
using Octets = std::vector<std::uint8_t>;

DptId id_of(std::string_view text) {
    return *DptId::parse(text);
}

// A builder for `id` over `buffer`; fails the test when the pipeline refuses it.
Builder builder_for(std::string_view id, std::span<std::uint8_t> buffer) {
    auto b = group_builder(id_of(id), buffer);
    if (!b) {
        ADD_FAILURE() << b.error().message();
        std::abort();
    }
    return *b;
}

ScalarValue integer(std::int64_t v) {
    return ScalarValue::of_integer(v);
}

void expect_fault(const Result<void>& r, std::string_view code, std::string_view message) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code(), code);
    EXPECT_EQ(r.error().message(), message);
}

void expect_fault(const Result<Value>& r, std::string_view code, std::string_view message) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code(), code);
    EXPECT_EQ(r.error().message(), message);
}

TEST(BuilderTest, SetsScalarsByNameAndFinishesAProvenPayload) {
    std::array<std::uint8_t, 3> buf{};
    Builder b = builder_for("232.600", buf);
    ASSERT_TRUE(b.set_named("R", integer(0x12)).has_value());
    ASSERT_TRUE(b.set_named("G", integer(0x34)).has_value());
    ASSERT_TRUE(b.set_named("B", integer(0x99)).has_value());
    ASSERT_TRUE(b.set_named("B", integer(0x56)).has_value());  // a later write replaces
    auto v = b.finish();
    ASSERT_TRUE(v.has_value()) << v.error().message();
    EXPECT_EQ(Octets(v->payload().begin(), v->payload().end()), (Octets{0x12, 0x34, 0x56}));
    EXPECT_EQ(v->reading(), ServiceReading::None);
    EXPECT_EQ(&v->row(), catalog::find(id_of("232.600")));
}

TEST(BuilderTest, AFailedSetterWritesNothing) {
    std::array<std::uint8_t, 2> buf{};
    Builder b = builder_for("9.001", buf);
    ASSERT_TRUE(b.set_named("FloatValue", ScalarValue::of_decimal(Decimal{215, -1})).has_value());
    EXPECT_FALSE(b.set_named("FloatValue", ScalarValue::of_decimal(Decimal{-273, 0})));
    EXPECT_EQ(Octets(buf.begin(), buf.end()), (Octets{0x0C, 0x33}));
}

TEST(BuilderTest, NamesOfTheWrongKindOrUndeclared) {
    std::array<std::uint8_t, 8> buf{};
    Builder b = builder_for("19.001", buf);
    expect_fault(b.set_named("ND", integer(1)), "semantic/kind-mismatch",
                 "`ND` does not have this access kind");
    expect_fault(b.set_named("reserved1", integer(0)), "semantic/kind-mismatch",
                 "`reserved1` does not have this access kind");
    expect_fault(b.set_named("Nope", integer(1)), "semantic/encoding/unknown-field",
                 "no field of this name");
    expect_fault(b.set_flag_named("Year", true), "semantic/kind-mismatch",
                 "`Year` does not have this access kind");
    expect_fault(b.set_flag_named("Nope", true), "semantic/encoding/unknown-field",
                 "no field of this name");
    expect_fault(b.set_invalid_named("ND"), "semantic/kind-mismatch",
                 "`ND` does not have this access kind");
    std::array<std::uint8_t, 1> text{'a'};
    expect_fault(b.set_text_named("Year", text), "semantic/kind-mismatch",
                 "`Year` does not have this access kind");
    expect_fault(b.set_text_named("Nope", text), "semantic/encoding/unknown-field",
                 "no field of this name");
    // The fault names the catalogue's field, whatever the caller's text lives in.
    std::string transient = "ND";
    auto r = b.set_named(transient, integer(1));
    transient.assign("xx");
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().field(), std::optional<std::string_view>("ND"));
}

TEST(BuilderTest, ValuesOfTheWrongKindAreRefusedBeforeAnythingIsWritten) {
    std::array<std::uint8_t, 1> buf{};
    Builder b = builder_for("1.001", buf);
    expect_fault(b.set_named("b", integer(1)), "semantic/kind-mismatch",
                 "`b` does not have this access kind");
    ASSERT_TRUE(b.set_named("b", ScalarValue::of_boolean(true)).has_value());
    auto v = b.finish();
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->payload()[0], 0x01);
}

TEST(BuilderTest, FlagsGoToTheirActiveStateOrTheOpposite) {
    // 6.020's a..e are active at 0: switching a on clears its bit.
    std::array<std::uint8_t, 1> buf{};
    Builder b = builder_for("6.020", buf);
    ASSERT_TRUE(b.set_flag_named("b", false).has_value());
    ASSERT_TRUE(b.set_flag_named("a", false).has_value());
    EXPECT_EQ(buf[0], 0xC0);  // Status sits in the top five bits: a at 0x80, b at 0x40
    ASSERT_TRUE(b.set_flag_named("a", true).has_value());
    EXPECT_EQ(buf[0], 0x40);
    ASSERT_TRUE(b.set_named("f", integer(2)).has_value());
    auto v = b.finish();
    ASSERT_TRUE(v.has_value()) << v.error().message();
    EXPECT_EQ(v->payload()[0], 0x42);
}

TEST(BuilderTest, InvalidDataCodes) {
    std::array<std::uint8_t, 2> buf{};
    Builder b = builder_for("9.001", buf);
    ASSERT_TRUE(b.set_invalid_named("FloatValue").has_value());
    auto v = b.finish();  // the invalid-data code is exempt from the range
    ASSERT_TRUE(v.has_value()) << v.error().message();
    EXPECT_EQ(Octets(buf.begin(), buf.end()), (Octets{0x7F, 0xFF}));

    std::array<std::uint8_t, 2> other{};
    Builder count = builder_for("7.001", other);
    expect_fault(count.set_invalid_named("UnsignedValue"), "semantic/kind-mismatch",
                 "`UnsignedValue` does not have this access kind");
}

TEST(BuilderTest, UnsetFieldsAreJudgedByTheReadBack) {
    const struct {
        const char* id;
        std::size_t octets;
        const char* code;  // nullptr: finish succeeds
        const char* message;
    } cases[] = {
        // 0 lies in a reserved band of kind 1: accepted on reading.
        {"20.611", 1, nullptr, nullptr},
        {"20.102", 1, nullptr, nullptr},
        {"6.020", 1, "semantic/unknown-code", "`f` has no defined code 0"},
        {"11.001", 3, "semantic/range", "`Day` must be between 1 and 31, got 0"},
        {"206.100", 3, nullptr, nullptr},  // Time 0 is its invalid-data code
        {"5.001", 1, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        std::vector<std::uint8_t> buf(c.octets);
        Builder b = builder_for(c.id, buf);
        auto v = b.finish();
        if (c.code == nullptr) {
            EXPECT_TRUE(v.has_value()) << v.error().message();
        } else {
            expect_fault(v, c.code, c.message);
        }
    }
}

TEST(BuilderTest, DateAndTimeValidityAndTheMidnightRelation) {
    struct Step {
        const char* name;
        std::int64_t value;  // flags: 1 on, 0 off
        bool flag;
    };
    const struct {
        const char* title;
        std::vector<Step> steps;
        const char* code;  // nullptr: accepted
        const char* message;
    } cases[] = {
        {"only a year",
         {{"Year", 2024, false}},
         "semantic/range",
         "`Month` must be between 1 and 12, got 0"},
        {"no date", {{"Year", 2024, false}, {"ND", 1, true}}, nullptr, nullptr},
        {"24:00:00",
         {{"Month", 1, false}, {"DayOfMonth", 1, false}, {"HourOfDay", 24, false}},
         nullptr,
         nullptr},
        {"24:00:01",
         {{"Month", 1, false},
          {"DayOfMonth", 1, false},
          {"HourOfDay", 24, false},
          {"Seconds", 1, false}},
         "semantic/disposition-on-encode",
         "`HourOfDay` composes an ignore-the-message value"},
        // No valid time: the read-back skips the time fields, the transmit rules do not.
        {"24:30 without time",
         {{"ND", 1, true}, {"NT", 1, true}, {"HourOfDay", 24, false}, {"Minutes", 30, false}},
         "semantic/disposition-on-encode",
         "`HourOfDay` composes an ignore-the-message value"},
        {"25 o'clock",
         {{"ND", 1, true}, {"HourOfDay", 25, false}},
         "semantic/range",
         "`HourOfDay` must be between 0 and 24, got 25"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::array<std::uint8_t, 8> buf{};
        Builder b = builder_for("19.001", buf);
        Result<void> set;
        for (const Step& s : c.steps) {
            set = s.flag ? b.set_flag_named(s.name, s.value != 0)
                         : b.set_named(s.name, integer(s.value));
            if (!set) break;
        }
        Result<Value> v = set ? b.finish() : Result<Value>(std::unexpected(set.error()));
        if (c.code == nullptr) {
            EXPECT_TRUE(v.has_value()) << v.error().message();
        } else {
            expect_fault(v, c.code, c.message);
        }
    }
}

TEST(BuilderTest, DateAndTimeOctets) {
    std::array<std::uint8_t, 8> buf{};
    Builder b = builder_for("19.001", buf);
    const std::pair<const char*, std::int64_t> fields[] = {
        {"Year", 2024},    {"Month", 12},   {"DayOfMonth", 11}, {"DayOfWeek", 5},
        {"HourOfDay", 13}, {"Minutes", 30}, {"Seconds", 59},
    };
    for (auto [name, value] : fields) ASSERT_TRUE(b.set_named(name, integer(value)).has_value());
    ASSERT_TRUE(b.set_flag_named("SUTI", true).has_value());
    ASSERT_TRUE(b.set_flag_named("CLQ", true).has_value());
    auto v = b.finish();
    ASSERT_TRUE(v.has_value()) << v.error().message();
    EXPECT_EQ(Octets(buf.begin(), buf.end()),
              (Octets{124, 12, 11, (5 << 5) | 13, 30, 59, 0x01, 0x80}));
}

TEST(BuilderTest, RepeatedGroupsAreSetPerInstance) {
    std::array<std::uint8_t, 36> buf{};
    Builder b = builder_for("277.1200", buf);
    expect_fault(b.set_named("Tariff", integer(1)), "semantic/encoding/inside-repeated-group",
                 "the field lives inside a repeated group and is reachable only per instance");
    expect_fault(b.set_named_at("EnergyRegisters", 4, "Tariff", integer(1)),
                 "semantic/encoding/index-out-of-range",
                 "repeat index at or beyond the declared count");
    expect_fault(b.set_flag_named_at("EnergyRegisters", 4, "E", true),
                 "semantic/encoding/index-out-of-range",
                 "repeat index at or beyond the declared count");
    expect_fault(b.set_named_at("EnergyRegisters", 0, "Tariff", integer(255)), "semantic/range",
                 "`Tariff` must be between 0 and 254, got 255");

    const std::uint8_t text[] = {'M', 'e', 't', 'e', 'r'};
    ASSERT_TRUE(b.set_text_named("Text", text).has_value());
    for (std::uint16_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(b.set_named_at("EnergyRegisters", i, "ActiveElectricalEnergy",
                                   integer(i == 2 ? -2 : 1000 + i))
                        .has_value());
        ASSERT_TRUE(b.set_named_at("EnergyRegisters", i, "Tariff", integer(i + 1)).has_value());
    }
    // E and T are active at 0: switching T off in instance 3 sets its bit.
    ASSERT_TRUE(b.set_flag_named_at("EnergyRegisters", 3, "T", false).has_value());
    auto v = b.finish();
    ASSERT_TRUE(v.has_value()) << v.error().message();
    Octets expected = {'M',  'e',  't',  'e',  'r', 0,    0,    0,    0,    0,    0, 0,
                       0x00, 0x00, 0x03, 0xE8, 1,   0x00, 0x00, 0x00, 0x03, 0xE9, 2, 0x00,
                       0xFF, 0xFF, 0xFF, 0xFE, 3,   0x00, 0x00, 0x00, 0x03, 0xEB, 4, 0x01};
    EXPECT_EQ(Octets(buf.begin(), buf.end()), expected);
}

TEST(BuilderTest, DateTimeWithElevenEnergyRegisters) {
    // 8 octets of date and time, 12 of text, then 11 registers of 6 octets.
    std::array<std::uint8_t, 86> buf{};
    Builder b = builder_for("284.1200", buf);
    ASSERT_TRUE(b.set_flag_named("ND", true).has_value());
    ASSERT_TRUE(b.set_named("HourOfDay", integer(24)).has_value());
    for (std::uint16_t i = 0; i < 11; ++i) {
        ASSERT_TRUE(
            b.set_named_at("EnergyRegisters", i, "ActiveElectricalEnergy", integer(i)).has_value());
        ASSERT_TRUE(b.set_named_at("EnergyRegisters", i, "Tariff", integer(10 + i)).has_value());
    }
    ASSERT_TRUE(b.set_flag_named_at("EnergyRegisters", 10, "E", false).has_value());
    auto v = b.finish();
    ASSERT_TRUE(v.has_value()) << v.error().message();
    EXPECT_EQ(buf[3], 24);
    EXPECT_EQ(buf[6], 0x08);  // ND
    EXPECT_EQ(Octets(buf.begin() + 20, buf.begin() + 26), (Octets{0, 0, 0, 0, 10, 0}));
    EXPECT_EQ(Octets(buf.begin() + 80, buf.end()), (Octets{0, 0, 0, 10, 20, 0x02}));

    // The midnight relation holds in a row that embeds the date-and-time layout too.
    ASSERT_TRUE(b.set_named("Minutes", integer(1)).has_value());
    expect_fault(b.finish(), "semantic/disposition-on-encode",
                 "`HourOfDay` composes an ignore-the-message value");
}

TEST(ReadBackTest, EnergyRegisterInstancesAreReadInTheirOwnScope) {
    const catalog::Row& row = testing::row_of("284.1200");
    Octets payload(86, 0);
    payload[1] = 1;                  // Month
    payload[2] = 1;                  // DayOfMonth
    payload[20 + 5 * 6 + 4] = 0xFF;  // the sixth register's tariff
    auto encoded = encoding::Encoded::decode(row, payload);
    ASSERT_TRUE(encoded.has_value());
    auto r = interpret(*encoded, ServiceReading::None);
    ASSERT_TRUE(r.has_value()) << r.error().message();
    ASSERT_TRUE(std::holds_alternative<FoundDisposition>(*r));
    EXPECT_EQ(std::get<FoundDisposition>(*r).field, "Tariff");

    payload[20 + 5 * 6 + 5] = 0x01;  // its T flag off: the tariff is not read...
    r = interpret(*encoded, ServiceReading::None);
    ASSERT_TRUE(r.has_value()) << r.error().message();
    ASSERT_TRUE(std::holds_alternative<Value>(*r));
    expect_fault(Value::validated(std::get<Value>(*r)), "semantic/disposition-on-encode",
                 "`Tariff` composes an ignore-the-message value");  // ...nor sent

    payload[20 + 4 * 6 + 5] = 0x01;  // a flag of another instance leaves this one alone
    payload[20 + 5 * 6 + 5] = 0x00;
    r = interpret(*encoded, ServiceReading::None);
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(std::holds_alternative<FoundDisposition>(*r));
}

TEST(ReadBackTest, Float16SpecialValueAndRange) {
    const catalog::Row& row = testing::row_of("9.001");
    const struct {
        Octets payload;
        const char* code;  // nullptr: accepted
    } cases[] = {
        {{0x7F, 0xFF}, nullptr},  // invalid data: no range check
        {{0x7F, 0xFE}, nullptr},  // 670433.28, the top of the range
        {{0xF8, 0x00}, "semantic/range"},
        {{0x8A, 0x9B}, nullptr},
    };
    for (const auto& c : cases) {
        auto encoded = encoding::Encoded::decode(row, c.payload);
        ASSERT_TRUE(encoded.has_value());
        auto r = interpret(*encoded, ServiceReading::None);
        if (c.code == nullptr) {
            ASSERT_TRUE(r.has_value()) << r.error().message();
            EXPECT_TRUE(std::holds_alternative<Value>(*r));
        } else {
            ASSERT_FALSE(r.has_value());
            EXPECT_EQ(r.error().code(), c.code);
        }
    }
}

// What a received payload reads back as: a fault, a disposition, or a value that the transmit
// rules still refuse.
struct ReadCase {
    const char* id;
    Octets payload;
    ServiceReading reading;
    const char* fault;                       // interpret fails with this code, or
    std::optional<Disposition> disposition;  // interpret finds this disposition, or
    const char* field;                       // (the field of either)
    const char* transmit;                    // a Value whose transmit check fails with this code
};

TEST(ReadBackTest, ReadingsOfRealRows) {
    using R = ServiceReading;
    const ReadCase cases[] = {
        // Reserved bits.
        {"19.001",
         {124, 0x1C, 1, 0, 0, 0, 0, 0},
         R::None,
         "semantic/encoding/reserved-violation",
         {},
         "reserved1",
         nullptr},
        {"235.001",
         {0, 0, 0, 0, 0, 0x04},
         R::None,
         "semantic/encoding/reserved-violation",
         {},
         "Validity",
         nullptr},
        // Code tables and bands: kind 1 passes, kind 2 is named.
        {"20.611", {0}, R::None, nullptr, {}, nullptr, nullptr},
        {"20.611", {200}, R::None, nullptr, {}, nullptr, nullptr},
        {"20.102", {200}, R::None, "semantic/unknown-code", {}, "HVACMode", nullptr},
        {"6.020", {0x03}, R::None, "semantic/unknown-code", {}, "f", nullptr},
        {"3.007", {0x0B}, R::None, nullptr, {}, nullptr, nullptr},
        // The tariff's 255 means "ignore the message" while its validity flag holds...
        {"235.001",
         {0, 0, 0, 1, 0xFF, 0x00},
         R::None,
         nullptr,
         Disposition::IgnoreMessage,
         "Tariff",
         nullptr},
        // ...and an invalid energy is not range-checked, but 255 still may not be sent.
        {"235.001",
         {0, 0, 0, 1, 0xFF, 0x01},
         R::None,
         nullptr,
         {},
         nullptr,
         "semantic/disposition-on-encode"},
        {"235.001", {0xFF, 0xFF, 0xFF, 0xFF, 3, 0x02}, R::None, nullptr, {}, nullptr, nullptr},
        // Midnight with minutes.
        {"19.001",
         {124, 1, 1, 24, 30, 0, 0, 0},
         R::None,
         nullptr,
         Disposition::IgnoreMessage,
         "HourOfDay",
         nullptr},
        {"19.001", {124, 1, 1, 24, 0, 0, 0, 0}, R::None, nullptr, {}, nullptr, nullptr},
        {"19.001",
         {124, 0, 0, 24, 30, 0, 0x0A, 0},
         R::None,
         nullptr,
         {},
         nullptr,
         "semantic/disposition-on-encode"},
        // Forecasts keep the physical floor of the type their values are encoded as: -273.28
        // is below absolute zero, and a wind speed is never negative.
        {"273.001",
         {0x0F, 0x00, 0x01, 0x00, 0xA1, 0x54, 0x00, 0x00},
         R::None,
         "semantic/range",
         {},
         "Maximum Value",
         nullptr},
        {"273.002",
         {0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x87, 0xFF},
         R::None,
         "semantic/range",
         {},
         "Minimum Value",
         nullptr},
        {"273.001",
         {0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0xAC, 0xAB},
         R::None,
         nullptr,
         {},
         nullptr,
         nullptr},
        // Reading rules.
        {"201.100", {1, 0}, R::None, "semantic/context-missing", {}, nullptr, nullptr},
        {"9.001", {0, 0}, R::Status, "semantic/context-not-required", {}, nullptr, nullptr},
        {"9.001", {0, 0}, R::Command, "semantic/context-not-required", {}, nullptr, nullptr},
        // Z8 status and command octets.
        {"201.100", {1, 0x21}, R::Status, "semantic/z8-reserved", {}, nullptr, nullptr},
        {"201.100", {1, 0x03}, R::Status, "semantic/z8-illegal-combination", {}, nullptr, nullptr},
        {"201.100", {1, 0x05}, R::Status, "semantic/z8-illegal-combination", {}, nullptr, nullptr},
        {"201.100", {1, 0x09}, R::Command, "semantic/unknown-z8-command", {}, nullptr, nullptr},
        {"201.100", {1, 0x00}, R::Status, nullptr, {}, nullptr, nullptr},
        {"201.100", {7, 0x00}, R::Status, "semantic/unknown-code", {}, "HVACMode", nullptr},
        {"201.100", {7, 0x01}, R::Status, nullptr, {}, nullptr, nullptr},  // out of service
        {"201.100", {7, 0x02}, R::Status, nullptr, {}, nullptr, nullptr},  // fault
        {"201.100", {7, 0x06}, R::Status, "semantic/unknown-code", {}, "HVACMode", nullptr},
        {"201.100", {7, 0x00}, R::Command, "semantic/unknown-code", {}, "HVACMode", nullptr},
        {"201.100", {7, 0x02}, R::Command, nullptr, {}, nullptr, nullptr},  // Release
        {"201.100", {7, 0x01}, R::Command, "semantic/unknown-code", {}, "HVACMode", nullptr},
        {"201.100", {7, 0x06}, R::Command, nullptr, {}, nullptr, nullptr},  // SetToDefault
        {"204.001", {0x9B, 0x00}, R::Command, "semantic/range", {}, "RelSignedValue", nullptr},
        {"204.001", {0x9B, 0x00}, R::Status, "semantic/range", {}, "RelSignedValue", nullptr},
        {"204.001", {0x9B, 0x03}, R::Command, nullptr, {}, nullptr, nullptr},  // SetOSV
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " reading " + std::to_string(int(c.reading)) + " octet0 " +
                     std::to_string(c.payload[0]));
        const catalog::Row& row = testing::row_of(c.id);
        auto encoded = encoding::Encoded::decode(row, c.payload);
        ASSERT_TRUE(encoded.has_value()) << encoded.error().message();
        auto r = interpret(*encoded, c.reading);
        if (c.fault) {
            ASSERT_FALSE(r.has_value());
            EXPECT_EQ(r.error().code(), c.fault) << r.error().message();
            if (c.field) {
                EXPECT_EQ(r.error().field(), std::optional<std::string_view>(c.field));
            }
            continue;
        }
        ASSERT_TRUE(r.has_value()) << r.error().message();
        if (c.disposition) {
            ASSERT_TRUE(std::holds_alternative<FoundDisposition>(*r));
            EXPECT_EQ(std::get<FoundDisposition>(*r).disposition, *c.disposition);
            EXPECT_EQ(std::get<FoundDisposition>(*r).field, c.field);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Value>(*r));
        auto sent = Value::validated(std::get<Value>(*r));
        if (c.transmit) {
            ASSERT_FALSE(sent.has_value());
            EXPECT_EQ(sent.error().code(), c.transmit);
        } else {
            EXPECT_TRUE(sent.has_value()) << sent.error().message();
        }
    }
}

TEST(ReadBackTest, ValidityEdgesOfEnergyRegisters) {
    const catalog::Row& row = testing::row_of("235.001");
    Octets payload = {0, 0, 0, 0, 0xFF, 0x00};
    auto encoded = encoding::Encoded::decode(row, payload);
    ASSERT_TRUE(encoded.has_value());
    // E and T are active at 0 and make their targets valid only while active.
    const struct {
        std::uint8_t validity;
        const char* target;
        std::optional<std::string_view> flag;
    } cases[] = {
        {0x00, "Tariff", std::nullopt},
        {0x01, "Tariff", "T"},
        {0x02, "Tariff", std::nullopt},
        {0x02, "ActiveElectricalEnergy", "E"},
        {0x01, "ActiveElectricalEnergy", std::nullopt},
        {0x03, "Validity", std::nullopt},
    };
    for (const auto& c : cases) {
        payload[5] = c.validity;
        auto r = invalidated(ReadScope::whole(*encoded), row.fields, row.validity_edges, c.target);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(*r, c.flag) << int(c.validity) << " " << c.target;
    }
}

}  // namespace
}  // namespace tavrel::semantic
