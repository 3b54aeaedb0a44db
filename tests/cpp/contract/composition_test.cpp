// Accepted documents composed end to end into the octets of a group telegram: the settings
// replayed on the row's builder, the payload proven and rendered by the pipeline.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "contract/contract.hpp"
#include "semantic/pipeline.hpp"

namespace tavrel::contract {
namespace {

catalog::DptId dpt(const char* text) {
    return *catalog::DptId::parse(text);
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

std::span<const std::uint8_t> bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string refused(catalog::DptId id, const semantic::SemanticError& error) {
    auto pipeline = semantic::PipelineError::from_semantic(id, error);
    Refusal r = Refusal::from_pipeline(pipeline, pipeline.message());
    return std::string(r.code) + " (" + r.field.value_or("-") + ")";
}

std::string refused(const semantic::PipelineError& error) {
    Refusal r = Refusal::from_pipeline(error, error.message());
    return std::string(r.code) + " (" + r.field.value_or("-") + ")";
}

std::string rendered(const semantic::Value& value, std::size_t size) {
    std::vector<std::uint8_t> canonical(size);
    auto group = semantic::group_value(value, canonical);
    if (!group) return refused(group.error());
    if (group->kind == semantic::GroupValue::Kind::Optimized) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "short %02X", group->octet);
        return buffer;
    }
    return hex(group->octets);
}

// The composition the client performs before sending, done here through the pipeline directly.
std::string compose(catalog::DptId id, const WriteForm& form) {
    auto support = semantic::group_support(id, semantic::Direction::Encode);
    if (!support) return refused(support.error());
    const catalog::Row& row = support->row();

    if (form.kind == WriteForm::Kind::Text) {
        std::vector<std::uint8_t> buffer(form.text.size() + 1);
        auto value = semantic::group_write_text(id, bytes(form.text), buffer);
        if (!value) return refused(value.error());
        return rendered(*value, buffer.size());
    }

    std::size_t size = row.form.kind == catalog::RowForm::Kind::SubOctet ? 1 : row.form.size;
    std::string_view tail;
    if (form.kind == WriteForm::Kind::SettingsAndText) {
        size = *support->prefixed_octets(form.text.size());
        semantic::ComposeItems items(row.fields);
        while (auto item = items.next()) {
            if (item->kind == semantic::kItemVariableText && !item->scope) tail = item->name;
        }
    }
    std::vector<std::uint8_t> buffer(size);
    auto builder = form.kind == WriteForm::Kind::SettingsAndText
                       ? semantic::group_prefixed_builder(id, buffer)
                       : semantic::group_builder(id, buffer);
    if (!builder) return refused(builder.error());
    if (auto applied = form.composition.apply(*builder); !applied) {
        return refused(id, applied.error());
    }
    if (form.kind == WriteForm::Kind::SettingsAndText) {
        if (auto set = builder->set_text_named(tail, bytes(form.text)); !set) {
            return refused(id, set.error());
        }
    }
    auto value = builder->finish();
    if (!value) return refused(id, value.error());
    return rendered(*value, size);
}

struct Case {
    const char* dpt;
    std::string document;
    std::string payload;  // octets, "short XX" for a sub-octet row, or "code (field)"
};

TEST(Composition, AcceptedDocumentsComposeIntoPayloads) {
    const Case cases[] = {
        {"1.001", "true", "short 01"},
        {"1.001", R"({"b": false})", "short 00"},
        // A boolean field has no invalid-data code; the replay refuses the marker.
        {"1.001", "null", "semantic/kind-mismatch (b)"},
        {"3.007", R"({"c": true, "StepCode": 3})", "short 0B"},
        {"5.001", "50", "80"},
        {"5.001", "100", "FF"},
        {"5.001", "0", "00"},
        {"5.001", "100.5", "semantic/range (UnsignedValue)"},
        {"5.010", "255", "FF"},
        {"5.010", "256", "semantic/range (UnsignedValue)"},
        {"9.001", "21.5", "0C 33"},
        {"9.001", "2.15e1", "0C 33"},
        {"9.001", "0.01", "00 01"},
        {"9.001", "null", "7F FF"},
        {"9.001", "-273.01", "semantic/range (FloatValue)"},
        {"9.001", "100.01", "semantic/unrepresentable (FloatValue)"},
        {"14.068", "1.5", "3F C0 00 00"},
        {"14.068", "0.1", "3D CC CC CD"},
        {"14.068", "-0", "80 00 00 00"},
        {"16.001", "\"Grüße\"", "47 72 FC DF 65 00 00 00 00 00 00 00 00 00"},
        {"16.000", "\"\"", "00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"19.001",
         R"({"Year": 2024, "Month": 5, "DayOfMonth": 17, "HourOfDay": 12, "Minutes": 0,
             "Seconds": 0, "NDoW": true})",
         "7C 05 11 0C 00 00 04 00"},
        // Month and day start at 1: left at 0 they fail the read-back unless ND exempts them.
        {"19.001", R"({"Year": 2024})", "semantic/range (Month)"},
        {"19.001", R"({"Year": 2024, "ND": true})", "7C 00 00 00 00 00 08 00"},
        {"19.001", R"({"Month": 1, "DayOfMonth": 1, "HourOfDay": 24, "Seconds": 1})",
         "semantic/disposition-on-encode (HourOfDay)"},
        {"20.102", "1", "01"},
        {"20.102", "5", "semantic/unknown-code (HVACMode)"},
        {"232.600", R"({"R": 255, "G": 128, "B": 0})", "FF 80 00"},
        {"232.600", R"({"G": 256})", "semantic/range (G)"},
        {"235.001", R"({"ActiveElectricalEnergy": -1, "Tariff": 1, "E": true, "T": true})",
         "FF FF FF FF 01 00"},
        {"235.001", R"({"ActiveElectricalEnergy": 7, "E": false})", "00 00 00 07 00 02"},
        {"235.001", R"({"Tariff": 255})", "semantic/range (Tariff)"},
        // Flags whose active state is 0: setting one clears its bit.
        {"6.020", R"({"a": false, "f": 2})", "82"},
        {"6.020", R"({"a": true, "b": false, "f": 4})", "44"},
        {"24.001", "\"abc\"", "61 62 63 00"},
        {"24.001", "{}", "00"},
        {"28.001", "\"€\"", "E2 82 AC 00"},
        {"267.001",
         R"({"UTF-8 String": "x", "Year": 2024, "Month": 5, "DayOfMonth": 17, "HourOfDay": 12,
             "NDoW": true})",
         "7C 05 11 0C 00 00 04 00 78 00"},
        {"267.001", R"({"UTF-8 String": "x"})", "semantic/range (Month)"},
        {"277.1200",
         R"({"Text": "ab", "EnergyRegisters": [{"ActiveElectricalEnergy": 1, "Tariff": 2},
             {"E": false, "T": false}, {}, {"ActiveElectricalEnergy": -2}]})",
         "61 62 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 01 02 00 "
         "00 00 00 00 00 03 "
         "00 00 00 00 00 00 "
         "FF FF FF FE 00 00"},
    };
    for (const auto& c : cases) {
        auto form = group_write(dpt(c.dpt), c.document);
        ASSERT_TRUE(form.has_value()) << c.dpt << " " << c.document << ": " << form.error().message;
        EXPECT_EQ(compose(dpt(c.dpt), *form), c.payload) << c.dpt << " " << c.document;
    }
}

TEST(Composition, ReplayStopsAtTheFirstFault) {
    const auto id = dpt("232.600");
    auto form = group_write(id, R"({"R": 1, "G": 300, "B": 400})");
    ASSERT_TRUE(form.has_value());
    std::vector<std::uint8_t> buffer(3);
    auto builder = semantic::group_builder(id, buffer);
    ASSERT_TRUE(builder.has_value());
    auto applied = form->composition.apply(*builder);
    ASSERT_FALSE(applied.has_value());
    EXPECT_EQ(applied.error().code(), "semantic/range");
    EXPECT_EQ(applied.error().field(), "G");
    // R was written before the fault; nothing after it was.
    EXPECT_EQ(hex(buffer), "01 00 00");
    // An empty composition changes nothing.
    EXPECT_TRUE(Composition{}.apply(*builder).has_value());
    EXPECT_EQ(hex(buffer), "01 00 00");
}

}  // namespace
}  // namespace tavrel::contract
