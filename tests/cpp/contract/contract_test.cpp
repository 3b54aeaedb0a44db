#include "contract/contract.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "semantic/pipeline.hpp"

namespace tavrel::contract {
namespace {

catalog::DptId dpt(const char* text) {
    return *catalog::DptId::parse(text);
}

std::string render(const semantic::ScalarValue& v) {
    char buffer[64];
    switch (v.kind) {
        case semantic::ScalarValue::Kind::Boolean:
            return v.boolean ? "true" : "false";
        case semantic::ScalarValue::Kind::Integer:
            return std::to_string(v.integer);
        case semantic::ScalarValue::Kind::Decimal:
            return std::to_string(v.decimal.mantissa) + "e" + std::to_string(v.decimal.exponent);
        case semantic::ScalarValue::Kind::Real:
            std::snprintf(buffer, sizeof buffer, "real %.17g", v.real);
            return buffer;
    }
    return "?";
}

std::string hex(std::string_view octets) {
    std::string out;
    char buffer[4];
    for (unsigned char c : octets) {
        std::snprintf(buffer, sizeof buffer, out.empty() ? "%02X" : " %02X", c);
        out += buffer;
    }
    return out;
}

// One line per setting, so a table row states the whole composition.
std::string render(const WriteForm& form) {
    std::string out;
    switch (form.kind) {
        case WriteForm::Kind::Settings:
            out = "settings";
            break;
        case WriteForm::Kind::Text:
            out = "text [" + hex(form.text) + "]";
            break;
        case WriteForm::Kind::SettingsAndText:
            out = "settings+text [" + hex(form.text) + "]";
            break;
    }
    for (const Setting& s : form.composition.settings) {
        out += "; ";
        const std::string at = std::string(s.group) + "[" + std::to_string(s.index) + "].";
        switch (s.kind) {
            case Setting::Kind::Named:
                out += std::string(s.name) + "=" + render(s.value);
                break;
            case Setting::Kind::NamedAt:
                out += at + std::string(s.name) + "=" + render(s.value);
                break;
            case Setting::Kind::InvalidNamed:
                out += std::string(s.name) + "=invalid";
                break;
            case Setting::Kind::FlagNamed:
                out += std::string(s.name) + (s.on ? "=on" : "=off");
                break;
            case Setting::Kind::FlagNamedAt:
                out += at + std::string(s.name) + (s.on ? "=on" : "=off");
                break;
            case Setting::Kind::TextNamed:
                out += std::string(s.name) + "=[" + hex(s.octets) + "]";
                break;
        }
    }
    return out;
}

struct Refused {
    std::string_view code;
    std::string message;
    std::optional<std::string> field;
};

struct RefusalCase {
    const char* dpt;
    std::string document;
    Refused refused;
};

void expect_refusals(const std::vector<RefusalCase>& cases) {
    for (const auto& c : cases) {
        auto form = group_write(dpt(c.dpt), c.document);
        if (form.has_value()) {
            ADD_FAILURE() << c.dpt << " " << c.document << " accepted: " << render(*form);
            continue;
        }
        EXPECT_EQ(form.error(),
                  (Refusal{c.refused.message, c.refused.code, dpt(c.dpt), c.refused.field}))
            << c.dpt << " " << c.document << "\n  got: " << form.error().code << " | "
            << form.error().message;
    }
}

TEST(GroupWrite, RefusesScalarsOfTheWrongKind) {
    expect_refusals({
        // Booleans take JSON booleans only.
        {"1.001", "1", {code::kind_mismatch, "`b` takes a boolean", "b"}},
        {"1.001", "\"true\"", {code::kind_mismatch, "`b` takes a boolean", "b"}},
        {"1.001", R"({"b": 1})", {code::kind_mismatch, "`b` takes a boolean", "b"}},
        {"1.001", "[true]", {code::kind_mismatch, "`b` takes a boolean", "b"}},
        {"1.001",
         R"({"x": true})",
         {code::unknown_field, "`1.001` declares no item named `x`", "x"}},
        // Enumerations take their code by number, never by name.
        {"20.102", "\"Auto\"", {code::kind_mismatch, "`HVACMode` takes a number", "HVACMode"}},
        {"20.102", "1.5", {code::kind_mismatch, "`HVACMode` takes an exact integer", "HVACMode"}},
        {"20.102", "1e0", {code::kind_mismatch, "`HVACMode` takes an exact integer", "HVACMode"}},
        // Quantities take exact decimals.
        {"9.001", "\"21.5\"", {code::kind_mismatch, "`FloatValue` takes a number", "FloatValue"}},
        {"9.001", "true", {code::kind_mismatch, "`FloatValue` takes a number", "FloatValue"}},
        {"9.001",
         "1e200",
         {code::kind_mismatch, "`FloatValue` takes an exact decimal quantity", "FloatValue"}},
        {"9.001",
         "12345678901234567890",
         {code::kind_mismatch, "`FloatValue` takes an exact decimal quantity", "FloatValue"}},
        {"9.001",
         "1.8e308",
         {code::kind_mismatch, "`FloatValue` takes an exact decimal quantity", "FloatValue"}},
        // Integers.
        {"5.010",
         "255.0",
         {code::kind_mismatch, "`UnsignedValue` takes an exact integer", "UnsignedValue"}},
        {"5.010",
         "9223372036854775808",
         {code::kind_mismatch, "`UnsignedValue` takes an exact integer", "UnsignedValue"}},
        // Linear percentages take any number, but a number.
        {"5.001",
         "\"50\"",
         {code::kind_mismatch, "`UnsignedValue` takes a number", "UnsignedValue"}},
        {"5.001",
         "null]",
         {code::invalid_json,
          "the value is not JSON: The document root must not be followed by "
          "other values at line 1 column 5",
          std::nullopt}},
        // Single-precision values must stay finite.
        {"14.000",
         "1e39",
         {code::off_grid,
          "`Value` takes a number the binary32 carrier represents; `1e39` overflows it", "Value"}},
        {"14.068",
         "-1.8e308",
         {code::off_grid,
          "`Value` takes a number the binary32 carrier represents; `-1.8e308` overflows it",
          "Value"}},
        {"14.068", "\"1.5\"", {code::kind_mismatch, "`Value` takes a number", "Value"}},
    });
}

TEST(GroupWrite, RefusesTexts) {
    const std::string nul =
        "U+0000 is reserved by this field's declared text shape (its pad or terminator) and "
        "cannot be carried";
    expect_refusals({
        {"16.000",
         "\"ABCDEFGHIJKLMNO\"",
         {code::text_budget,
          "`Characters` carries at most 14 octets of content, the value needs 15", "Characters"}},
        {"16.000",
         "\"grün\"",
         {code::text_repertoire,
          "`Characters` cannot carry this content: U+00FC is above U+007F and has no ASCII octet",
          "Characters"}},
        {"16.000",
         "\"a\\u0000\"",
         {code::text_repertoire, "`Characters` cannot carry this content: " + nul, "Characters"}},
        {"16.000",
         "42",
         {code::kind_mismatch, "`Characters` is a character item and takes a string",
          "Characters"}},
        {"16.000",
         R"({"Characters": 42})",
         {code::kind_mismatch, "`Characters` is a character item and takes a string",
          "Characters"}},
        {"16.001",
         "\"€\"",
         {code::text_repertoire,
          "`Characters` cannot carry this content: U+20AC is above U+00FF and has no ISO-8859-1 "
          "octet",
          "Characters"}},
        // 15 characters of one octet each in Latin-1.
        {"16.001",
         "\"ééééééééééééééé\"",
         {code::text_budget,
          "`Characters` carries at most 14 octets of content, the value needs 15", "Characters"}},
        {"24.001",
         R"({"Characters": "x", "y": 1})",
         {code::unknown_field, "`24.001` declares no item named `y`", "y"}},
        {"24.001",
         "42",
         {code::kind_mismatch, "`Characters` is a character item and takes a string",
          "Characters"}},
        {"24.001",
         R"({"Characters": null})",
         {code::kind_mismatch, "`Characters` is a character item and takes a string",
          "Characters"}},
        {"24.001",
         "\"€\"",
         {code::text_repertoire,
          "`Characters` cannot carry this content: U+20AC is above U+00FF and has no ISO-8859-1 "
          "octet",
          "Characters"}},
        {"28.001",
         "\"a\\u0000b\"",
         {code::text_repertoire, "`Characters` cannot carry this content: " + nul, "Characters"}},
        // A prefixed row takes only an object, and its text is judged before anything else.
        {"267.001",
         "\"text\"",
         {code::kind_mismatch, "`UTF-8 String` is a character item and takes a string",
          "UTF-8 String"}},
        {"267.001",
         R"({"UTF-8 String": 5})",
         {code::kind_mismatch, "`UTF-8 String` is a character item and takes a string",
          "UTF-8 String"}},
        {"267.001",
         R"({"UTF-8 String": "x", "Zzz": 1})",
         {code::unknown_field, "`267.001` declares no item named `Zzz`", "Zzz"}},
        {"267.001",
         R"({"UTF-8 String": "\u0000", "Zzz": 1, "Year": "x"})",
         {code::text_repertoire, "`UTF-8 String` cannot carry this content: " + nul,
          "UTF-8 String"}},
        {"267.001", R"({"Year": "2024"})", {code::kind_mismatch, "`Year` takes a number", "Year"}},
        {"277.1200",
         R"({"Text": "twelve chars"})",
         {code::text_budget, "`Text` carries at most 11 octets of content, the value needs 12",
          "Text"}},
        {"277.1200",
         R"({"Text": "ééééää"})",
         {code::text_budget, "`Text` carries at most 11 octets of content, the value needs 12",
          "Text"}},
    });
}

TEST(GroupWrite, RefusesRecordsAndGroupsOfTheWrongShape) {
    expect_refusals({
        {"19.001", R"({"ND": 1})", {code::kind_mismatch, "`ND` takes a boolean", "ND"}},
        {"19.001",
         "2024",
         {code::kind_mismatch, "`19.001` composes from an object of its declared item names",
          std::nullopt}},
        {"3.007",
         "3",
         {code::kind_mismatch, "`3.007` composes from an object of its declared item names",
          std::nullopt}},
        {"2.001",
         "true",
         {code::kind_mismatch, "`2.001` composes from an object of its declared item names",
          std::nullopt}},
        {"3.007",
         R"({"c": true, "StepCode": 3, "x": 1})",
         {code::unknown_field, "`3.007` declares no item named `x`", "x"}},
        // Unknown keys are reported in the byte order of the keys.
        {"3.007",
         R"({"b": 1, "a": 2})",
         {code::unknown_field, "`3.007` declares no item named `a`", "a"}},
        {"3.007",
         R"({"StepCode": 3, "C": true})",
         {code::unknown_field, "`3.007` declares no item named `C`", "C"}},
        {"277.1200",
         R"({"EnergyRegisters": [{}, {}, {}]})",
         {code::group_count, "`EnergyRegisters` declares 4 instances, the value carries 3",
          "EnergyRegisters"}},
        {"277.1200",
         R"({"EnergyRegisters": [{}, {}, {}, {}, {}]})",
         {code::group_count, "`EnergyRegisters` declares 4 instances, the value carries 5",
          "EnergyRegisters"}},
        {"277.1200",
         R"({"EnergyRegisters": {}})",
         {code::kind_mismatch,
          "`EnergyRegisters` is a repeated group and takes an array of objects",
          "EnergyRegisters"}},
        {"277.1200",
         R"({"EnergyRegisters": [{}, 1, {}, {}]})",
         {code::kind_mismatch,
          "each instance of `EnergyRegisters` is an object of its declared items",
          "EnergyRegisters"}},
        {"277.1200",
         R"({"EnergyRegisters": [{"Tariff": null}, {}, {}, {}]})",
         {code::kind_mismatch, "`Tariff` has no per-instance invalid-marker setting", "Tariff"}},
        {"277.1200",
         R"({"EnergyRegisters": [{}, {}, {}, {"Text": "a"}]})",
         {code::unknown_field, "`277.1200` declares no item named `Text`", "Text"}},
        {"277.1200",
         R"({"EnergyRegisters": [{}, {"E": 1}, {}, {}]})",
         {code::kind_mismatch, "`E` takes a boolean", "E"}},
        {"277.1200",
         R"({"EnergyRegisters": [{}, {"Tariff": 1.5}, {}, {}]})",
         {code::kind_mismatch, "`Tariff` takes an exact integer", "Tariff"}},
        // Members of a group are not row-level keys.
        {"277.1200",
         R"({"Tariff": 1})",
         {code::unknown_field, "`277.1200` declares no item named `Tariff`", "Tariff"}},
        {"277.1200",
         "[]",
         {code::kind_mismatch, "`277.1200` composes from an object of its declared item names",
          std::nullopt}},
    });
}

TEST(GroupWrite, RefusesRowsThePipelineRefuses) {
    expect_refusals({
        {"1.020",
         "true",
         {"resolve/not-in-catalogue", "`1.020` is not a catalogued subtype", std::nullopt}},
        {"201.100",
         R"({"HVACMode": 1})",
         {"pipeline/group-transport-forbidden",
          "`201.100` is not available for standard group communication", std::nullopt}},
        {"200.100",
         "{}",
         {"pipeline/group-transport-forbidden",
          "`200.100` is not available for standard group communication", std::nullopt}},
        {"229.001",
         "{}",
         {"pipeline/group-transport-forbidden",
          "`229.001` is not available for standard group communication", std::nullopt}},
        {"7.003",
         "650",
         {"pipeline/parameters-and-diagnostics-only",
          "`7.003` is confined to parameters and diagnostic data", std::nullopt}},
        // The document is read before the row is looked at.
        {"1.020",
         "tru",
         {code::invalid_json, "the value is not JSON: Invalid value at line 1 column 4",
          std::nullopt}},
        {"201.100",
         "[[[[[[[[1]]]]]]]]",
         {code::document_too_deep, "the value nests deeper than 8 levels", std::nullopt}},
        {"9.001",
         "",
         {code::invalid_json, "the value is not JSON: The document is empty at line 1 column 1",
          std::nullopt}},
        {"9.001",
         "21.5 1",
         {code::invalid_json,
          "the value is not JSON: The document root must not be followed by other values at line "
          "1 column 6",
          std::nullopt}},
    });
}

struct AcceptCase {
    const char* dpt;
    std::string document;
    std::string form;
};

TEST(GroupWrite, AcceptedDocumentsBecomeSettingsInItemOrder) {
    const AcceptCase cases[] = {
        {"1.001", "true", "settings; b=true"},
        {"1.001", R"({"b": true})", "settings; b=true"},
        {"1.001", R"({"b": false, "b": true})", "settings; b=true"},
        {"1.001", "null", "settings; b=invalid"},
        {"1.001", "{}", "settings"},
        {"9.001", "21.5", "settings; FloatValue=215e-1"},
        {"9.001", "21.50", "settings; FloatValue=2150e-2"},
        {"9.001", "-0", "settings; FloatValue=0e0"},
        {"9.001", "null", "settings; FloatValue=invalid"},
        {"5.010", "255", "settings; UnsignedValue=255"},
        {"5.010", "-0", "settings; UnsignedValue=0"},
        {"5.001", "50", "settings; UnsignedValue=real 50"},
        {"5.001", "1e-99999", "settings; UnsignedValue=real 0"},
        {"20.102", "3", "settings; HVACMode=3"},
        // Read in single precision before composition, so the exactness check downstream passes.
        {"14.000", "0.1", "settings; Value=real 0.10000000149011612"},
        {"14.068", "1e-99999", "settings; Value=real 0"},
        {"3.007", R"({"StepCode": 3, "c": true})", "settings; c=true; StepCode=3"},
        {"2.001", R"({"v": false, "c": true})", "settings; c=on; v=off"},
        {"19.001",
         R"({"NDoW": true, "Seconds": 0, "Minutes": 0, "HourOfDay": 12, "DayOfMonth": 17,
             "Month": 5, "Year": 2024})",
         "settings; Year=2024; Month=5; DayOfMonth=17; HourOfDay=12; Minutes=0; Seconds=0; "
         "NDoW=on"},
        {"16.000", "\"ABC\"", "settings; Characters=[41 42 43]"},
        {"16.000", R"({"Characters": ""})", "settings; Characters=[]"},
        {"16.001", "\"Grüße\"", "settings; Characters=[47 72 FC DF 65]"},
        {"16.001", "\"éééééééééééééé\"",
         "settings; Characters=[E9 E9 E9 E9 E9 E9 E9 E9 E9 E9 E9 E9 E9 E9]"},
        {"24.001", "\"x\"", "text [78]"},
        {"24.001", R"({"Characters": "ü"})", "text [FC]"},
        {"24.001", "{}", "text []"},
        {"28.001", "\"€\"", "text [E2 82 AC]"},
        // No capacity check for variable texts: the transport judges the telegram budget.
        {"28.001", "\"" + std::string(400, 'a') + "\"",
         "text [" + hex(std::string(400, 'a')) + "]"},
        {"267.001", R"({"UTF-8 String": "x"})", "settings+text [78]"},
        {"267.001", "{}", "settings+text []"},
        {"267.001", R"({"Year": 2024, "UTF-8 String": "€", "SRC": true})",
         "settings+text [E2 82 AC]; Year=2024; SRC=on"},
        {"277.1200",
         R"({"EnergyRegisters": [{"Tariff": 2, "E": true}, {}, {}, {"ActiveElectricalEnergy": -5}],
             "Text": "ab"})",
         "settings; Text=[61 62]; EnergyRegisters[0].Tariff=2; EnergyRegisters[0].E=on; "
         "EnergyRegisters[3].ActiveElectricalEnergy=-5"},
        {"6.020", R"({"f": null, "a": true})", "settings; a=on; f=invalid"},
    };
    for (const auto& c : cases) {
        auto form = group_write(dpt(c.dpt), c.document);
        ASSERT_TRUE(form.has_value()) << c.dpt << " " << c.document << ": " << form.error().message;
        EXPECT_EQ(render(*form), c.form) << c.dpt << " " << c.document;
    }
}

TEST(JudgeGroupWrite, ParsesAddressThenIdentifierThenValue) {
    auto ok = judge_group_write("1/2/3", "9.001", "21.5");
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->group.display(), "1/2/3");
    EXPECT_EQ(ok->dpt, dpt("9.001"));
    EXPECT_EQ(render(ok->form), "settings; FloatValue=215e-1");

    auto bad_group = judge_group_write("1/2/3/4", "x", "{");
    ASSERT_FALSE(bad_group.has_value());
    EXPECT_EQ(bad_group.error().code, code::malformed_address);
    auto bad_dpt = judge_group_write("1/2/3", "9.0x1", "{");
    ASSERT_FALSE(bad_dpt.has_value());
    EXPECT_EQ(bad_dpt.error().code, code::malformed_datapoint);
    EXPECT_EQ(bad_dpt.error().message,
              "`9.0x1` is not a datapoint identifier: identifier component contains a non-digit "
              "byte");
    auto bad_value = judge_group_write("1/2/3", "9.001", "{");
    ASSERT_FALSE(bad_value.has_value());
    EXPECT_EQ(bad_value.error().code, code::invalid_json);
    EXPECT_EQ(bad_value.error().dpt, dpt("9.001"));
}

}  // namespace
}  // namespace tavrel::contract
