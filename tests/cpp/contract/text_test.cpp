#include "contract/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tavrel::contract {
namespace {

using catalog::Repertoire;
using namespace std::string_literals;

const catalog::DptId id{16, 0};

TEST(TextOctets, ConvertsByRepertoire) {
    struct Case {
        Repertoire repertoire;
        bool reserves_nul;
        std::string text;
        std::string octets_or_reason;  // the octets, or the refusal's reason
        bool ok;
    };
    const std::string nul_reason =
        "U+0000 is reserved by this field's declared text shape (its pad or terminator) and "
        "cannot be carried";
    const Case cases[] = {
        {Repertoire::Ascii, true, "ABC", "ABC", true},
        {Repertoire::Ascii, false, "", "", true},
        {Repertoire::Ascii, false, "a\0b"s, "a\0b"s, true},
        {Repertoire::Ascii, true, "a\0b"s, nul_reason, false},
        {Repertoire::Ascii, false, "\x7f", "\x7f", true},
        {Repertoire::Ascii, false, "Grüße", "U+00FC is above U+007F and has no ASCII octet", false},
        {Repertoire::Ascii, false, "x\xf0\x9f\x98\x80",
         "U+1F600 is above U+007F and has no ASCII octet", false},
        // The NUL rule comes first, even where the repertoire would also refuse.
        {Repertoire::Ascii, true, "é\0"s, nul_reason, false},
        {Repertoire::Latin1, false, "Grüße",
         "Gr\xfc\xdf"
         "e",
         true},
        {Repertoire::Latin1, false, "\xc3\xbf", "\xff", true},
        {Repertoire::Latin1, false, "\xc4\x80",
         "U+0100 is above U+00FF and has no ISO-8859-1 octet", false},
        {Repertoire::Latin1, false, "€", "U+20AC is above U+00FF and has no ISO-8859-1 octet",
         false},
        {Repertoire::Latin1, true, "\0"s, nul_reason, false},
        // An overlong encoding of U+0000 (never produced by the document reader) is still NUL.
        {Repertoire::Latin1, true, "a\xc0\x80", nul_reason, false},
        {Repertoire::Utf8, false, "Grüße €", "Grüße €", true},
        {Repertoire::Utf8, false, "\0"s, "\0"s, true},
        {Repertoire::Utf8, true, "ok\0"s, nul_reason, false},
    };
    for (const auto& c : cases) {
        auto out = text::octets(id, "Text", c.repertoire, c.reserves_nul, c.text);
        ASSERT_EQ(out.has_value(), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(*out, c.octets_or_reason) << c.text;
        } else {
            EXPECT_EQ(out.error(),
                      (Refusal{"`Text` cannot carry this content: " + c.octets_or_reason,
                               code::text_repertoire, id, "Text"}))
                << c.text;
        }
    }
}

TEST(TextBudget, CountsConvertedOctets) {
    // é is one octet in a Latin-1 field and two in a UTF-8 field.
    auto latin = text::octets(id, "Text", Repertoire::Latin1, false, "ééééééé");
    auto utf8 = text::octets(id, "Text", Repertoire::Utf8, false, "ééééééé");
    ASSERT_TRUE(latin && utf8);
    EXPECT_TRUE(text::within_budget(id, "Text", 7, latin->size()).has_value());
    auto over = text::within_budget(id, "Text", 7, utf8->size());
    ASSERT_FALSE(over.has_value());
    EXPECT_EQ(over.error(),
              (Refusal{"`Text` carries at most 7 octets of content, the value needs 14",
                       code::text_budget, id, "Text"}));
    EXPECT_TRUE(text::within_budget(id, "Text", std::nullopt, 100000).has_value());
    EXPECT_TRUE(text::within_budget(id, "Text", 0, 0).has_value());
    EXPECT_FALSE(text::within_budget(id, "Text", 0, 1).has_value());
}

}  // namespace
}  // namespace tavrel::contract
