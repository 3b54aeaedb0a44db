#include "contract/document.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace tavrel::contract {
namespace {

using namespace std::string_literals;

std::string nested(int levels, const std::string& inner) {
    return std::string(levels, '[') + inner + std::string(levels, ']');
}

TEST(Classify, SyntaxErrorsNameLineAndColumn) {
    struct Case {
        std::string text;
        std::string description;
    };
    const Case cases[] = {
        {"", "The document is empty at line 1 column 1"},
        {"   \n  ", "The document is empty at line 2 column 3"},
        {"1 2", "The document root must not be followed by other values at line 1 column 3"},
        {"[1,\n 2,\n x]", "Invalid value at line 3 column 2"},
        {"{\"a\": 1,}", "Missing a name for object member at line 1 column 9"},
        {"{\"a\" 1}", "Missing a colon after a name of object member at line 1 column 6"},
        {"[1 2]", "Missing a comma or ']' after an array element at line 1 column 4"},
        {"\"abc", "Missing a closing quotation mark in string at line 1 column 5"},
        // Columns count characters: the two octets of ü are one column.
        {"[\"ü\" 1]", "Missing a comma or ']' after an array element at line 1 column 6"},
        {"\r\n\r\n  tru", "Invalid value at line 3 column 6"},
        {"\"\\ud800\"", "The surrogate pair in string is invalid at line 1 column 2"},
        {"\"\\x\"", "Invalid escape character in string at line 1 column 2"},
        {"\"\xff\"", "Invalid encoding in string at line 1 column 2"},
        {"01", "The document root must not be followed by other values at line 1 column 2"},
        {"1.", "Miss fraction part in number at line 1 column 3"},
        {"NaN", "Invalid value at line 1 column 1"},
        {"'a'", "Invalid value at line 1 column 1"},
        {"\xef\xbb\xbf"
         "1",
         "Invalid value at line 1 column 1"},
        // The reader cannot hold numbers beyond the double range, even as text.
        {"1e400", "Number too big to be stored in double at line 1 column 1"},
        // A NUL octet ends nothing: it is itself the fault, wherever it stands.
        {"1\0"s, "Invalid NUL octet at line 1 column 2"},
        {"[1,\0 2]"s, "Invalid NUL octet at line 1 column 4"},
        {"[x\0"s, "Invalid value at line 1 column 2"},
        {"\"a\0b\""s, "Invalid NUL octet at line 1 column 3"},
    };
    for (const auto& c : cases) {
        auto doc = classify(c.text, 1);
        ASSERT_FALSE(doc.has_value()) << c.text;
        EXPECT_EQ(doc.error().kind, DocumentFault::Kind::NotJson) << c.text;
        EXPECT_EQ(doc.error().description, c.description) << c.text;
    }
}

TEST(Classify, DepthIsJudgedAfterSyntax) {
    struct Case {
        std::string text;
        bool too_deep;
    };
    const Case cases[] = {
        {nested(7, "1"), false},
        {nested(8, "1"), true},
        {nested(8, ""), false},  // eight containers, none holding a ninth level
        {nested(9, ""), true},
        {"{\"a\":{\"b\":{\"c\":{\"d\":{\"e\":{\"f\":{\"g\":1}}}}}}}", false},
        {"{\"a\":{\"b\":{\"c\":{\"d\":{\"e\":{\"f\":{\"g\":{\"h\":1}}}}}}}}", true},
        {"[1, [2, " + nested(7, "3") + "]]", true},
        {nested(200000, "1"), true},
    };
    for (const auto& c : cases) {
        auto doc = classify(c.text, 1);
        if (c.too_deep) {
            ASSERT_FALSE(doc.has_value()) << c.text.substr(0, 60);
            EXPECT_EQ(doc.error(), (DocumentFault{DocumentFault::Kind::TooDeep, {}, 8}));
        } else {
            EXPECT_TRUE(doc.has_value()) << c.text.substr(0, 60);
        }
    }
    // Unbalanced deep nesting is a syntax fault, and reading it must not exhaust the stack.
    auto open_only = classify(std::string(500000, '['), 1);
    ASSERT_FALSE(open_only.has_value());
    EXPECT_EQ(open_only.error().kind, DocumentFault::Kind::NotJson);
    auto deep_and_broken = classify(nested(20, "1") + ",", 1);
    ASSERT_FALSE(deep_and_broken.has_value());
    EXPECT_EQ(deep_and_broken.error().kind, DocumentFault::Kind::NotJson);
}

TEST(Classify, StartingDepthCountsTowardTheLimit) {
    EXPECT_TRUE(classify("1", 8).has_value());
    EXPECT_TRUE(classify("[]", 8).has_value());
    auto deep = classify("[1]", 8);
    ASSERT_FALSE(deep.has_value());
    EXPECT_EQ(deep.error().kind, DocumentFault::Kind::TooDeep);
    EXPECT_FALSE(classify("1", 9).has_value());
}

TEST(Classify, BuildsTheTree) {
    auto doc = classify(" {\"b\": 1, \"a\": [true, null, \"x\\u00fc\\u0000\"], \"b\": 3} ", 1);
    ASSERT_TRUE(doc.has_value());
    ASSERT_EQ(doc->kind, Doc::Kind::Object);
    ASSERT_EQ(doc->members.size(), 2u);
    EXPECT_EQ(doc->members[0].first, "a");
    EXPECT_EQ(doc->members[1].first, "b");
    const Doc* b = doc->find("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->kind, Doc::Kind::Number);
    EXPECT_EQ(b->text, "3");
    EXPECT_EQ(doc->find("c"), nullptr);
    const Doc& a = doc->members[0].second;
    ASSERT_EQ(a.kind, Doc::Kind::List);
    ASSERT_EQ(a.items.size(), 3u);
    EXPECT_EQ(a.items[0].kind, Doc::Kind::Bool);
    EXPECT_TRUE(a.items[0].boolean);
    EXPECT_EQ(a.items[1].kind, Doc::Kind::Null);
    EXPECT_EQ(a.items[2].kind, Doc::Kind::Text);
    EXPECT_EQ(a.items[2].text, "x\xc3\xbc\0"s);
}

TEST(Classify, KeysSortByBytesAndTheLastRepeatWins) {
    auto doc = classify(R"({"b":1,"a":2,"b":3,"B":4,"é":5,"a":6,"":7})", 1);
    ASSERT_TRUE(doc.has_value());
    std::string order;
    for (const auto& [key, value] : doc->members) order += "[" + key + "=" + value.text + "]";
    EXPECT_EQ(order, "[=7][B=4][a=6][b=3][é=5]");
    // A repeated key is judged by its last value only: the earlier one may be anything.
    auto replaced = classify(R"({"k":{"deep":[1]},"k":false})", 1);
    ASSERT_TRUE(replaced.has_value());
    EXPECT_EQ(replaced->find("k")->kind, Doc::Kind::Bool);
}

TEST(Classify, NumbersKeepTheirSourceText) {
    for (const char* text :
         {"-0", "12345678901234567890", "1e-99999", "1.8e308", "2.15E+1", "-0.000", "0.10"}) {
        auto doc = classify(std::string(" ") + text + "\n", 1);
        ASSERT_TRUE(doc.has_value()) << text;
        EXPECT_EQ(doc->kind, Doc::Kind::Number);
        EXPECT_EQ(doc->text, text);
    }
}

TEST(ReadDocument, RefusalsCarryTheIdentifierAndNoField) {
    const catalog::DptId id{9, 1};
    auto bad = read_document(id, "{");
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error(),
              (Refusal{"the value is not JSON: Missing a name for object member at line 1 column 2",
                       code::invalid_json, id, std::nullopt}));
    auto deep = read_document(id, nested(8, "0"));
    ASSERT_FALSE(deep.has_value());
    EXPECT_EQ(deep.error(), (Refusal{"the value nests deeper than 8 levels",
                                     code::document_too_deep, id, std::nullopt}));
    EXPECT_TRUE(read_document(id, "21.5").has_value());
}

TEST(NumberReadings, ExactInteger) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"-0", 0},
        {"255", 255},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"12345678901234567890", std::nullopt},
        {"1.0", std::nullopt},
        {"1e2", std::nullopt},
        {"1E0", std::nullopt},
        {"-", std::nullopt},
        {"", std::nullopt},
        {"+1", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(read_exact_integer(c.text), c.value) << c.text;
}

TEST(NumberReadings, ExactDecimalIsNotNormalised) {
    struct Case {
        const char* text;
        bool ok;
        std::int64_t mantissa;
        int exponent;
    };
    const Case cases[] = {
        {"21.5", true, 215, -1},
        {"2.15e1", true, 215, -1},
        {"215e-1", true, 215, -1},
        {"0.10", true, 10, -2},
        {"21.50", true, 2150, -2},
        {"1e3", true, 1, 3},
        {"-0", true, 0, 0},
        {"-0.5", true, -5, -1},
        {"-273.01", true, -27301, -2},
        {"0.001", true, 1, -3},
        {"1E+127", true, 1, 127},
        {"1e-128", true, 1, -128},
        {"0.1e-127", true, 1, -128},
        {"-9223372036854775808", true, INT64_MIN, 0},
        {"-922337203685477580.8", true, INT64_MIN, -1},
        {"9223372036854775808", false, 0, 0},
        {"12345678901234567890", false, 0, 0},
        {"1e200", false, 0, 0},
        {"1e128", false, 0, 0},
        {"1e-129", false, 0, 0},
        {"0.1e-128", false, 0, 0},
        {"1e-99999", false, 0, 0},
        {"1e99999999999999999999999", false, 0, 0},
        {"1.8e308", false, 0, 0},
        {"1.", false, 0, 0},
    };
    for (const auto& c : cases) {
        auto d = read_exact_decimal(c.text);
        ASSERT_EQ(d.has_value(), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(d->mantissa, c.mantissa) << c.text;
        EXPECT_EQ(d->exponent, c.exponent) << c.text;
    }
}

TEST(NumberReadings, RealAndSinglePrecision) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* text;
        double real;
        double single;
    };
    const Case cases[] = {
        {"0.1", 0.1, static_cast<double>(0.1f)},
        {"21.5", 21.5, 21.5},
        {"-0", -0.0, -0.0},
        {"1e39", 1e39, inf},
        {"-1e39", -1e39, -inf},
        {"3.4028235e38", 3.4028235e38, static_cast<double>(3.4028235e38f)},
        {"1.8e308", inf, inf},
        {"-1.8e308", -inf, -inf},
        {"1e-99999", 0.0, 0.0},
        {"-1e-99999", -0.0, -0.0},
        {"1e-40", 1e-40, static_cast<double>(1e-40f)},
        {"0.000000e999999", 0.0, 0.0},
        {"12345678901234567890", 12345678901234567890.0,
         static_cast<double>(12345678901234567890.0f)},
    };
    for (const auto& c : cases) {
        auto real = read_real(c.text);
        auto single = read_single(c.text);
        ASSERT_TRUE(real.has_value() && single.has_value()) << c.text;
        EXPECT_EQ(*real, c.real) << c.text;
        EXPECT_EQ(std::signbit(*real), std::signbit(c.real)) << c.text;
        EXPECT_EQ(*single, c.single) << c.text;
        EXPECT_EQ(std::signbit(*single), std::signbit(c.single)) << c.text;
    }
    // Rounding straight to single precision, not through double: this text lies just above the
    // midpoint between two floats, but its nearest double is the midpoint itself, which would
    // round to the even float below.
    EXPECT_EQ(*read_single("1.00000005960464477550"), static_cast<double>(1.0000001192092896f));
    EXPECT_EQ(*read_single("0.1"), 0.100000001490116119384765625);
    EXPECT_FALSE(read_real("abc").has_value());
    EXPECT_FALSE(read_single("1e").has_value());
}

}  // namespace
}  // namespace tavrel::contract
