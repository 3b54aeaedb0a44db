// Documents the contract accepts but whose values the composition refuses: the caller receives the
// whole refusal (message, code, identifier, field) the builder's fault becomes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/contract.hpp"
#include "semantic/pipeline.hpp"

namespace tavrel::contract {
namespace {

catalog::DptId dpt(const char* text) {
    return *catalog::DptId::parse(text);
}

Refusal semantic_refusal(catalog::DptId id, const semantic::SemanticError& e) {
    const auto pipeline = semantic::PipelineError::from_semantic(id, e);
    return Refusal::from_pipeline(pipeline, pipeline.message());
}

// The accepted document replayed on the row's builder and proven; the refusal, if any.
std::optional<Refusal> compose(catalog::DptId id, const WriteForm& form) {
    auto support = semantic::group_support(id, semantic::Direction::Encode);
    if (!support) return Refusal::from_pipeline(support.error(), support.error().message());
    const catalog::Row& row = support->row();
    const bool prefixed = form.kind == WriteForm::Kind::SettingsAndText;
    std::size_t size = row.form.kind == catalog::RowForm::Kind::SubOctet ? 1 : row.form.size;
    std::string_view tail;
    if (prefixed) {
        size = support->prefixed_octets(form.text.size()).value_or(0);
        semantic::ComposeItems items(row.fields);
        while (auto item = items.next()) {
            if (item->kind == semantic::kItemVariableText && !item->scope) tail = item->name;
        }
    }
    std::vector<std::uint8_t> buffer(size);
    auto builder = prefixed ? semantic::group_prefixed_builder(id, buffer)
                            : semantic::group_builder(id, buffer);
    if (!builder) return Refusal::from_pipeline(builder.error(), builder.error().message());
    if (auto applied = form.composition.apply(*builder); !applied) {
        return semantic_refusal(id, applied.error());
    }
    if (prefixed) {
        std::span<const std::uint8_t> text(reinterpret_cast<const std::uint8_t*>(form.text.data()),
                                           form.text.size());
        if (auto set = builder->set_text_named(tail, text); !set) {
            return semantic_refusal(id, set.error());
        }
    }
    if (auto value = builder->finish(); !value) return semantic_refusal(id, value.error());
    return std::nullopt;
}

TEST(ComposedRefusals, TheCallerSeesTheWholeRefusal) {
    const struct {
        const char* dpt;
        std::string document;
        std::string message;
        std::string_view code;
        std::optional<std::string> field;
    } cases[] = {
        {"1.001", "null", "`1.001`: `b` does not have this access kind", "semantic/kind-mismatch",
         "b"},
        {"9.001", "-273.01",
         "`9.001`: `FloatValue` must be between -273 and 670433.28, got -273.01", "semantic/range",
         "FloatValue"},
        {"9.001", "100.01",
         "`9.001`: value is not representable on the declared grid of `FloatValue`",
         "semantic/unrepresentable", "FloatValue"},
        {"9.001", "-273",
         "`9.001`: value is not representable on the declared grid of `FloatValue`",
         "semantic/unrepresentable", "FloatValue"},
        {"5.001", "100.5", "`5.001`: `UnsignedValue` must be between 0 and 100, got 100.5",
         "semantic/range", "UnsignedValue"},
        {"14.000", "1e38", std::string(), "",
         std::nullopt},  // accepted: 1e38 is finite in binary32
        {"19.001", R"({"Year": 2024})", "`19.001`: `Month` must be between 1 and 12, got 0",
         "semantic/range", "Month"},
        {"19.001", R"({"Month": 1, "DayOfMonth": 1, "HourOfDay": 24, "Seconds": 1})",
         "`19.001`: `HourOfDay` composes an ignore-the-message value",
         "semantic/disposition-on-encode", "HourOfDay"},
        {"19.001", R"({"Year": 2156, "ND": true})",
         "`19.001`: `Year` must be between 0 and 255, got 256", "semantic/range", "Year"},
        {"11.001", R"({"Day": 1, "Month": 1, "Year": 1989})",
         "`11.001`: value is not representable on the declared grid of `Year`",
         "semantic/unrepresentable", "Year"},
        {"20.102", "5",
         "`20.102`: `HVACMode` code 5 falls in the declared band `reserved` rather than a defined "
         "entry",
         "semantic/unknown-code", "HVACMode"},
        {"6.020", "{}", "`6.020`: `f` has no defined code 0", "semantic/unknown-code", "f"},
        {"232.600", R"({"G": 256})", "`232.600`: `G` must be between 0 and 255, got 256",
         "semantic/range", "G"},
        {"235.001", R"({"Tariff": 255})", "`235.001`: `Tariff` must be between 0 and 254, got 255",
         "semantic/range", "Tariff"},
        {"267.001", R"({"UTF-8 String": "x"})",
         "`267.001`: `Month` must be between 1 and 12, got 0", "semantic/range", "Month"},
        {"277.1200", R"({"EnergyRegisters": [{}, {}, {"Tariff": 255}, {}]})",
         "`277.1200`: `Tariff` must be between 0 and 254, got 255", "semantic/range", "Tariff"},
        {"3.007", R"({"StepCode": 8})", "`3.007`: `StepCode` must be between 0 and 7, got 8",
         "semantic/range", "StepCode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.dpt) + " " + c.document);
        auto form = group_write(dpt(c.dpt), c.document);
        ASSERT_TRUE(form.has_value()) << form.error().message;
        const std::optional<Refusal> refusal = compose(dpt(c.dpt), *form);
        if (c.code.empty()) {
            EXPECT_FALSE(refusal.has_value()) << refusal->message;
            continue;
        }
        ASSERT_TRUE(refusal.has_value());
        EXPECT_EQ(*refusal, (Refusal{c.message, c.code, dpt(c.dpt), c.field}));
    }
}

}  // namespace
}  // namespace tavrel::contract
