#include "semantic/pipeline.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support.hpp"

namespace tavrel::semantic {
namespace {

using catalog::DptId;
using Octets = std::vector<std::uint8_t>;

DptId id_of(std::string_view text) {
    return *DptId::parse(text);
}

TEST(PipelineTest, SupportChecksAndTheGroupTransportRule) {
    const struct {
        const char* id;
        const char* code;  // nullptr: supported
        const char* message;
    } cases[] = {
        {"9.001", nullptr, nullptr},
        {"1.001", nullptr, nullptr},
        {"206.100", nullptr, nullptr},
        {"284.1200", nullptr, nullptr},
        {"1.020", "resolve/not-in-catalogue", "`1.020` is not a catalogued subtype"},
        {"0.000", "resolve/not-in-catalogue", "`0.000` is not a catalogued subtype"},
        {"201.100", "pipeline/group-transport-forbidden",
         "`201.100` is not available for standard group communication"},
        {"229.001", "pipeline/group-transport-forbidden",
         "`229.001` is not available for standard group communication"},
        {"207.100", "pipeline/group-transport-forbidden",
         "`207.100` is not available for standard group communication"},
        {"7.003", "pipeline/parameters-and-diagnostics-only",
         "`7.003` is confined to parameters and diagnostic data"},
        {"20.004", "pipeline/parameters-and-diagnostics-only",
         "`20.004` is confined to parameters and diagnostic data"},
        {"31.101", "pipeline/parameters-and-diagnostics-only",
         "`31.101` is confined to parameters and diagnostic data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        auto s = group_support(id_of(c.id), Direction::Encode);
        std::array<std::uint8_t, 16> buf{};
        auto b = group_builder(id_of(c.id), buf);
        if (c.code == nullptr) {
            ASSERT_TRUE(s.has_value()) << s.error().message();
            EXPECT_EQ(&s->row(), catalog::find(id_of(c.id)));
            continue;
        }
        ASSERT_FALSE(s.has_value());
        EXPECT_EQ(s.error().code(), c.code);
        EXPECT_EQ(s.error().message(), c.message);
        EXPECT_EQ(s.error().id, id_of(c.id));
        EXPECT_FALSE(s.error().field().has_value());
        // The builder is refused the same way, before the buffer is looked at.
        ASSERT_FALSE(b.has_value());
        EXPECT_EQ(b.error().code(), c.code);
    }
}

TEST(PipelineTest, EveryCatalogueRowIsRegisteredForBothDirections) {
    for (const catalog::Row& row : catalog::rows()) {
        const Registration* entry = row_support_of(row.id);
        ASSERT_NE(entry, nullptr) << row.id.display();
        EXPECT_TRUE(entry->decode && entry->encode) << row.id.display();
    }
    EXPECT_EQ(row_support_of(DptId{1, 20}), nullptr);
    EXPECT_EQ(registrations().size(), catalog::rows().size());
}

TEST(PipelineTest, PipelineErrorsOfEveryKind) {
    const struct {
        PipelineError error;
        const char* code;
        const char* message;
        std::optional<std::string_view> field;
    } cases[] = {
        {PipelineError::make(PipelineError::Kind::NotImplemented, DptId{9, 1}),
         "resolve/not-implemented", "`9.001` is catalogued but not implemented", std::nullopt},
        {PipelineError::operation_unsupported(DptId{9, 1}, Direction::Decode),
         "resolve/operation-unsupported", "`9.001` is registered but does not support decode",
         std::nullopt},
        {PipelineError::operation_unsupported(DptId{1, 1200}, Direction::Encode),
         "resolve/operation-unsupported", "`1.1200` is registered but does not support encode",
         std::nullopt},
        {PipelineError::make(PipelineError::Kind::FormMismatch, DptId{1, 1}),
         "pipeline/form-mismatch", "`1.001` does not transmit in this group-value form",
         std::nullopt},
        {PipelineError::make(PipelineError::Kind::RowNotFromCatalogue, DptId{1, 1}),
         "pipeline/row-not-from-catalogue", "`1.001` is bound to a row the catalogue does not own",
         std::nullopt},
        {PipelineError::from_semantic(DptId{9, 1}, SemanticError::unrepresentable("FloatValue")),
         "semantic/unrepresentable",
         "`9.001`: value is not representable on the declared grid of `FloatValue`", "FloatValue"},
        {PipelineError::from_semantic(
             DptId{24, 1},
             SemanticError::from_encoding(encoding::EncodingError::row_form_mismatch())),
         "semantic/encoding/row-form-mismatch",
         "`24.001`: the operation does not fit the row's declared form", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.code(), c.code);
        EXPECT_EQ(c.error.message(), c.message);
        EXPECT_EQ(c.error.field(), c.field);
    }
}

TEST(PipelineTest, BuildersRefuseRowsOfTheOtherForm) {
    const struct {
        const char* id;
        bool prefixed;
    } cases[] = {{"24.001", false},
                 {"28.001", false},
                 {"267.001", false},
                 {"9.001", true},
                 {"24.001", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        std::array<std::uint8_t, 16> buf{};
        auto b =
            c.prefixed ? group_prefixed_builder(id_of(c.id), buf) : group_builder(id_of(c.id), buf);
        ASSERT_FALSE(b.has_value());
        EXPECT_EQ(b.error().code(), "semantic/encoding/row-form-mismatch");
        EXPECT_EQ(b.error().message(), "`" + std::string(c.id) +
                                           "`: the operation does not fit the row's declared form");
    }
    // A buffer of the wrong length is the encoding engine's refusal, with the identifier.
    std::array<std::uint8_t, 3> three{};
    auto b = group_builder(id_of("9.001"), three);
    ASSERT_FALSE(b.has_value());
    EXPECT_EQ(b.error().code(), "semantic/encoding/length");
    EXPECT_EQ(b.error().message(), "`9.001`: payload octet count must be 2, got 3");
}

TEST(PipelineTest, GroupValuesRenderCanonicalOctets) {
    std::array<std::uint8_t, 1> sw{};
    auto b = group_builder(id_of("1.001"), sw);
    ASSERT_TRUE(b.has_value());
    ASSERT_TRUE(b->set_named("b", ScalarValue::of_boolean(true)).has_value());
    auto v = b->finish();
    ASSERT_TRUE(v.has_value());
    std::array<std::uint8_t, 1> out{};
    auto g = group_value(*v, out);
    ASSERT_TRUE(g.has_value()) << g.error().message();
    EXPECT_EQ(g->kind, GroupValue::Kind::Optimized);
    EXPECT_EQ(g->octet, 0x01);

    std::array<std::uint8_t, 2> temp{};
    auto t = group_builder(id_of("9.001"), temp);
    ASSERT_TRUE(t.has_value());
    ASSERT_TRUE(
        t->set_named("FloatValue", ScalarValue::of_decimal(catalog::Decimal{215, -1})).has_value());
    auto tv = t->finish();
    ASSERT_TRUE(tv.has_value());
    std::array<std::uint8_t, 2> wire{};
    auto tg = group_value(*tv, wire);
    ASSERT_TRUE(tg.has_value());
    EXPECT_EQ(tg->kind, GroupValue::Kind::Octets);
    EXPECT_EQ(Octets(tg->octets.begin(), tg->octets.end()), (Octets{0x0C, 0x33}));
    EXPECT_EQ(tg->octets.data(), wire.data());

    // The rendering buffer must have the payload's length.
    std::array<std::uint8_t, 3> wrong{};
    auto bad = group_value(*tv, wrong);
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().code(), "semantic/encoding/length");
}

TEST(PipelineTest, ValuesBoundToARowTheCatalogueDoesNotOwnAreRefused) {
    const catalog::Row& original = testing::row_of("9.001");
    catalog::Row copy = original;
    Octets payload = {0x0C, 0x33};
    auto encoded = encoding::Encoded::decode(copy, payload);
    ASSERT_TRUE(encoded.has_value());
    auto read = interpret(*encoded, ServiceReading::None);
    ASSERT_TRUE(read.has_value());
    std::array<std::uint8_t, 2> out{};
    auto g = group_value(std::get<Value>(*read), out);
    ASSERT_FALSE(g.has_value());
    EXPECT_EQ(g.error().code(), "pipeline/row-not-from-catalogue");
    EXPECT_EQ(g.error().message(), "`9.001` is bound to a row the catalogue does not own");

    // A value of a restricted row never reaches the wire either.
    const catalog::Row& z8 = testing::row_of("201.100");
    Octets status = {1, 0};
    auto z = encoding::Encoded::decode(z8, status);
    ASSERT_TRUE(z.has_value());
    auto zr = interpret(*z, ServiceReading::Status);
    ASSERT_TRUE(zr.has_value());
    auto zg = group_value(std::get<Value>(*zr), out);
    ASSERT_FALSE(zg.has_value());
    EXPECT_EQ(zg.error().code(), "pipeline/group-transport-forbidden");
}

TEST(PipelineTest, WholeRowTexts) {
    const std::uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
    std::array<std::uint8_t, 6> buf{};
    auto v = group_write_text(id_of("28.001"), hello, buf);
    ASSERT_TRUE(v.has_value()) << v.error().message();
    std::array<std::uint8_t, 6> wire{};
    auto g = group_value(*v, wire);
    ASSERT_TRUE(g.has_value()) << g.error().message();
    EXPECT_EQ(Octets(g->octets.begin(), g->octets.end()), (Octets{'h', 'e', 'l', 'l', 'o', 0}));

    const std::uint8_t early[] = {'a', 0, 'b'};
    std::array<std::uint8_t, 4> four{};
    auto e = group_write_text(id_of("24.001"), early, four);
    ASSERT_FALSE(e.has_value());
    EXPECT_EQ(e.error().code(), "semantic/encoding/early-terminator");

    auto fixed = group_write_text(id_of("9.001"), hello, buf);
    ASSERT_FALSE(fixed.has_value());
    EXPECT_EQ(fixed.error().code(), "semantic/encoding/row-form-mismatch");
}

TEST(PipelineTest, PrefixedRowsComposeTheirPrefixAndText) {
    auto support = group_support(id_of("267.001"), Direction::Encode);
    ASSERT_TRUE(support.has_value());
    auto total = support->prefixed_octets(3);
    ASSERT_TRUE(total.has_value());
    EXPECT_EQ(*total, 12u);
    std::vector<std::uint8_t> buf(*total);
    auto b = group_prefixed_builder(id_of("267.001"), buf);
    ASSERT_TRUE(b.has_value()) << b.error().message();
    ASSERT_TRUE(b->set_named("Year", ScalarValue::of_integer(2024)).has_value());
    ASSERT_TRUE(b->set_named("Month", ScalarValue::of_integer(6)).has_value());
    ASSERT_TRUE(b->set_named("DayOfMonth", ScalarValue::of_integer(30)).has_value());
    const std::uint8_t text[] = {'U', 'T', 'C'};
    ASSERT_TRUE(b->set_text_named("UTF-8 String", text).has_value());
    auto v = b->finish();
    ASSERT_TRUE(v.has_value()) << v.error().message();
    std::vector<std::uint8_t> wire(*total);
    auto g = group_value(*v, wire);
    ASSERT_TRUE(g.has_value()) << g.error().message();
    EXPECT_EQ(Octets(g->octets.begin(), g->octets.end()),
              (Octets{124, 6, 30, 0, 0, 0, 0, 0, 'U', 'T', 'C', 0}));
}

TEST(PipelineTest, TextCapacities) {
    const struct {
        const char* id;
        std::size_t budget;
        std::optional<std::size_t> capacity;
    } cases[] = {
        {"28.001", 253, 252},
        {"24.001", 1, 0},
        {"28.001", 0, std::nullopt},
        {"267.001", 253, 244},
        {"267.001", 9, 0},
        {"267.001", 8, std::nullopt},
        {"9.001", 253, std::nullopt},
        {"16.001", 253, std::nullopt},
    };
    for (const auto& c : cases) {
        auto s = group_support(id_of(c.id), Direction::Encode);
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->text_capacity(c.budget), c.capacity) << c.id << " " << c.budget;
    }
}

}  // namespace
}  // namespace tavrel::semantic
