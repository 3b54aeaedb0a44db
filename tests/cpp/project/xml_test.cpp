#include "project/xml.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace tavrel::project {
namespace {

using Attrs = std::vector<std::pair<std::string, std::string>>;
struct Tag {
    std::string name;
    Attrs attributes;
    friend bool operator==(const Tag&, const Tag&) = default;
};

std::ostream& operator<<(std::ostream& out, const Tag& tag) {
    out << '<' << tag.name;
    for (const auto& [name, value] : tag.attributes) out << " [" << name << "]=[" << value << ']';
    return out << '>';
}

std::vector<Tag> scan(const std::string& content) {
    auto tags = StartTags::scan(content);
    EXPECT_TRUE(tags) << content;
    std::vector<Tag> out;
    if (!tags) return out;
    for (const Element& element : tags->elements()) {
        Tag tag{std::string(element.name), {}};
        for (const Attribute& a : element.attributes) {
            tag.attributes.emplace_back(std::string(a.name), std::string(a.value));
        }
        out.push_back(std::move(tag));
    }
    return out;
}

TEST(StartTagsTest, ReadsNamesAndAttributes) {
    const std::pair<std::string, std::vector<Tag>> cases[] = {
        {"no tags at all", {}},
        {"", {}},
        {"<a/>", {{"a", {}}}},
        {"<ga:GroupAddress ga:Address=\"1/2/3\" dpt='9.001'/>",
         {{"GroupAddress", {{"Address", "1/2/3"}, {"dpt", "9.001"}}}}},
        // Attributes are ordered by name in byte order; upper case sorts first.
        {"<e z=\"1\" a=\"2\" Address=\"3\" address=\"4\">",
         {{"e", {{"Address", "3"}, {"a", "2"}, {"address", "4"}, {"z", "1"}}}}},
        // A later byte-identical name replaces the earlier value, also across prefixes.
        {"<e a=\"1\" x:a=\"2\" A=\"3\"/>", {{"e", {{"A", "3"}, {"a", "2"}}}}},
        {"<e  a = \"spaced\"\tb\n=\n'x' />", {{"e", {{"a", "spaced"}, {"b", "x"}}}}},
        // Values are raw: references stay, white space stays, the other quote is content.
        {"<e v=\" &amp; it's \"/>", {{"e", {{"v", " &amp; it's "}}}}},
        // Comments, closing tags, declarations and instructions are no elements.
        {"<?xml version=\"1.0\"?><!-- c --><!DOCTYPE x><a></a><b/>", {{"a", {}}, {"b", {}}}},
        {"< >< /x><  c  >", {{"c", {}}}},
        // Every trailing slash goes, then the white space before it.
        {"<a x=\"1\" ///>", {{"a", {{"x", "1"}}}}},
        {"<a//>", {{"a", {}}}},
        // The reader does not know about quoting: a '>' in a value ends the tag.
        {"<a v=\"1>2\" w=\"3\"/>", {{"a", {}}}},
        {"<!-- <x> --><y>", {{"y", {}}}},
        // An unquoted value, a missing quote or a missing '=' ends the attributes there.
        {"<a x=1 y=\"2\"/>", {{"a", {}}}},
        {"<a y=\"2\" x=\"open/>", {{"a", {{"y", "2"}}}}},
        {"<a y=\"2\" flag/>", {{"a", {{"y", "2"}}}}},
        {"<a q=\"1\"r=\"2\">", {{"a", {{"q", "1"}, {"r", "2"}}}}},
        // The name is the text up to the first white space; everything after ':' is local.
        {"<a:b:Device\tAddress=\"1.1.1\"/>", {{"Device", {{"Address", "1.1.1"}}}}},
        {"<Device\xC2\xA0"
         "Address=\"1\">",
         {{"Device", {{"Address", "1"}}}}},  // U+00A0
        {"<\xE3\x80\x80Line\xE2\x80\x83"
         "Address=\"2\"\xE2\x80\xA8/>",
         {{"Line", {{"Address", "2"}}}}},  // U+3000, U+2003, U+2028
        {"<K\xC3\xBC"
         "che a=\"\xC3\xA4\"/>",
         {{"K\xC3\xBC"
           "che",
           {{"a", "\xC3\xA4"}}}}},
        {"<n:>", {{"", {}}}},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(scan(content), expected) << content;
    }
}

TEST(StartTagsTest, UnterminatedTagFailsTheEntry) {
    for (std::string content : {"<a", "<a/><b x=\"1\"", "text < more text"}) {
        auto tags = StartTags::scan(content);
        ASSERT_FALSE(tags) << content;
        EXPECT_EQ(tags.error(), ProjectImportError::xml("unterminated XML tag"));
    }
}

TEST(StartTagsTest, KeepFilterLeavesOtherElementsOut) {
    auto tags =
        StartTags::scan("<x:Keep a=\"1\"/><Drop b=\"2\"/><keep/><Keeper/>",
                        [](std::string_view name) { return name == "Keep" || name == "keep"; });
    ASSERT_TRUE(tags);
    ASSERT_EQ(tags->elements().size(), 2u);
    EXPECT_EQ(tags->elements()[0].name, "Keep");
    ASSERT_EQ(tags->elements()[0].attributes.size(), 1u);
    EXPECT_EQ(tags->elements()[0].attributes[0].value, "1");
    EXPECT_EQ(tags->elements()[1].name, "keep");
    EXPECT_TRUE(tags->elements()[1].attributes.empty());
    // A rejected element's unterminated tag is still a fault.
    EXPECT_FALSE(StartTags::scan("<Keep/><Drop", [](std::string_view) { return false; }));
}

TEST(StartTagsTest, TagWithVeryManyAttributesStaysOrderedAndFast) {
    // Names arrive in descending order, each one twice: the worst case for keeping the run sorted
    // while reading, which would take quadratic time here.
    constexpr int kCount = 200000;
    std::string content = "<e";
    for (int round = 0; round < 2; ++round) {
        for (int i = kCount - 1; i >= 0; --i) {
            content += " n" + std::to_string(1000000 + i) + "=\"" + std::to_string(round) + "\"";
        }
    }
    content += "/><f b=\"x\" a=\"y\"/>";
    auto tags = StartTags::scan(content);
    ASSERT_TRUE(tags);
    ASSERT_EQ(tags->elements().size(), 2u);
    auto attributes = tags->elements()[0].attributes;
    ASSERT_EQ(attributes.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(attributes[i].name, "n" + std::to_string(1000000 + i));
        ASSERT_EQ(attributes[i].value, "1");  // the later value replaced the earlier
    }
    auto second = tags->elements()[1].attributes;
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].name, "a");
    EXPECT_EQ(second[1].value, "x");
}

TEST(AttrAnyTest, CandidateOrderThenNameOrder) {
    const std::array<std::string_view, 3> group = {"Address", "GroupAddress", "AddressValue"};
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"<g GroupAddress=\"2\" Address=\"1\"/>", "1"},
        {"<g AddressValue=\"3\" GroupAddress=\"2\"/>", "2"},
        {"<g addressvalue=\"3\"/>", "3"},
        {"<g address=\"lower\" Address=\"upper\"/>", "upper"},
        {"<g ADDRESS=\"caps\" address=\"lower\"/>", "caps"},
        {"<g Adress=\"typo\" Name=\"n\"/>", std::nullopt},
        {"<g/>", std::nullopt},
    };
    for (const auto& [content, expected] : cases) {
        auto tags = StartTags::scan(content);
        ASSERT_TRUE(tags);
        auto value = attr_any(tags->elements().front(), group);
        EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, expected) << content;
    }
}

}  // namespace
}  // namespace tavrel::project
