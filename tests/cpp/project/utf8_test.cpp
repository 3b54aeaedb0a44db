#include "project/utf8.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tavrel::project {
namespace {

TEST(Utf8Test, AcceptsWellFormedText) {
    const std::string cases[] = {
        "",
        "plain ASCII that is longer than one eight-octet word",
        "Licht K\xC3\xBC"
        "che",                               // U+00FC
        "\xE2\x82\xAC and \xEF\xBF\xBF",     // U+20AC, U+FFFF
        "\xED\x9F\xBF",                      // U+D7FF, last before the surrogates
        "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",  // U+10000, U+10FFFF
        "12345678\xC3\xA4",                  // multi-octet right after a full word
    };
    for (const auto& text : cases) EXPECT_EQ(describe_invalid_utf8(text), std::nullopt) << text;
}

TEST(Utf8Test, DescribesTheFirstIllFormedSequence) {
    const std::pair<std::string, std::string> cases[] = {
        {"ab\x80", "invalid sequence 0x80 at byte offset 2"},
        {"\xC0\x80", "invalid sequence 0xC0 at byte offset 0"},  // overlong NUL
        {"\xC1\xBF", "invalid sequence 0xC1 at byte offset 0"},
        {"\xE0\x80\x80", "invalid sequence 0xE0 at byte offset 0"},      // overlong
        {"\xED\xA0\x80", "invalid sequence 0xED at byte offset 0"},      // surrogate
        {"\xF0\x8F\xBF\xBF", "invalid sequence 0xF0 at byte offset 0"},  // overlong
        {"\xF4\x90\x80\x80", "invalid sequence 0xF4 at byte offset 0"},  // above U+10FFFF
        {"\xF5\x80\x80\x80", "invalid sequence 0xF5 at byte offset 0"},
        {"\xFF", "invalid sequence 0xFF at byte offset 0"},
        {"0123456789\xE2\x82(", "invalid sequence 0xE2 0x82 at byte offset 10"},
        {"x\xF0\x9F\x98", "incomplete sequence 0xF0 0x9F 0x98 at byte offset 1"},
        {"x\xC3", "incomplete sequence 0xC3 at byte offset 1"},
        {"\xC3\xA4\xFE\xFF", "invalid sequence 0xFE at byte offset 2"},  // the first one wins
    };
    for (const auto& [text, description] : cases) {
        EXPECT_EQ(describe_invalid_utf8(text), description) << description;
    }
}

}  // namespace
}  // namespace tavrel::project
