// The structural checks a row passes before any payload of it is built or read: each fault from a
// small tree that shows it, the order in which they are judged, and the walks they rest on.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "encoding/encoded.hpp"
#include "encoding/schema_seam.hpp"
#include "encoding/traverse.hpp"
#include "fixture.hpp"

namespace tavrel::encoding {
namespace {

using namespace fixture;
using E = EncodingError;

constexpr FieldNode kOneBit[] = {scalar("b", 1)};
constexpr FieldNode kByte[] = {scalar("v", 8)};
constexpr FieldNode kDupes[] = {scalar("x", 1), scalar("x", 1)};

// A chain of records: kChain[k] is the list standing at depth k + 1 when kChain1 is the top level.
constexpr FieldNode kChain9[] = {scalar("leaf", 8)};
constexpr FieldNode kChain8[] = {record("r8", kChain9)};
constexpr FieldNode kChain7[] = {record("r7", kChain8)};
constexpr FieldNode kChain6[] = {record("r6", kChain7)};
constexpr FieldNode kChain5[] = {record("r5", kChain6)};
constexpr FieldNode kChain4[] = {record("r4", kChain5)};
constexpr FieldNode kChain3[] = {record("r3", kChain4)};
constexpr FieldNode kChain2[] = {record("r2", kChain3)};
constexpr FieldNode kChain1[] = {record("r1", kChain2)};

constexpr FieldNode kHollow[] = {record("hollow", {})};
constexpr FieldNode kHollowRepeat[] = {scalar("a", 8), repeated("grp", kHollow, 3)};

constexpr FieldNode kFixedWithTail[] = {scalar("a", 8), variable("tail")};

constexpr FieldNode kEightBits[] = {scalar("b0", 1), scalar("b1", 1), scalar("b2", 1),
                                    scalar("b3", 1), scalar("b4", 1), scalar("b5", 1),
                                    scalar("b6", 1), scalar("b7", 1)};
constexpr FieldNode kNineLeaves[] = {scalar("b0", 1), scalar("b1", 1), scalar("b2", 1),
                                     scalar("b3", 1), scalar("b4", 1), scalar("b5", 1),
                                     scalar("b6", 1), scalar("b7", 1), reserved("z", 0)};
constexpr FieldNode kVariableNineLeaves[] = {record("flags", kEightBits), variable("t")};

constexpr FieldNode kVariableNoTail[] = {scalar("a", 8), scalar("b", 8)};
constexpr FieldNode kVariableSoleRepeat[] = {repeated("grp", kByte, 2)};
constexpr FieldNode kRepeatInside[] = {repeated("grp", kByte, 2)};
constexpr FieldNode kVariableSoleRecordWithRepeat[] = {record("rec", kRepeatInside)};
constexpr FieldNode kVariableCharsPrefix[] = {chars("c", 2), variable("t")};
constexpr FieldNode kNibble[] = {scalar("n", 4)};
constexpr FieldNode kVariableNibblePrefix[] = {record("rec", kNibble), variable("t")};

constexpr FieldNode kRegister[] = {record("reg", kEightBits)};
constexpr FieldNode kHeavy[] = {repeated("regs", kRegister, 65535)};

constexpr FieldNode kCharsAfterNibble[] = {scalar("n", 4), chars("c", 1), reserved("z", 4)};
constexpr FieldNode kSoleChars[] = {chars("c", 1)};
constexpr FieldNode kOddInstance[] = {chars("c", 1), scalar("n", 4)};
constexpr FieldNode kRepeatOdd[] = {repeated("grp", kOddInstance, 2)};

constexpr catalog::NamedBit kFlagBits[] = {{"a", {}, 1, 1}, {"flag", {}, 0, 1}};
constexpr BitGroupDef kFlagGroup{kFlagBits, 0xC, false};
constexpr FieldNode kBitNamedLikeField[] = {scalar("flag", 4), bit_group("g", 4, &kFlagGroup)};
constexpr FieldNode kV4[] = {scalar("v", 4)};
constexpr FieldNode kDupAcrossRecords[] = {record("r1", kV4), record("r2", kV4)};
constexpr FieldNode kRecordNamedLikeChild[] = {record("v", kByte)};

constexpr FieldNode kControlOnly[] = {control("ctl")};
constexpr FieldNode kControlInRecord[] = {record("rec", kControlOnly), scalar("v", 8)};
constexpr FieldNode kCharsOnly[] = {chars("c", 1)};
constexpr FieldNode kCharsInRepeat[] = {repeated("grp", kCharsOnly, 2)};
constexpr FieldNode kTextOnly[] = {text("t", 2)};
constexpr FieldNode kTextRecord[] = {record("rec", kTextOnly)};
constexpr FieldNode kTextInRecordInRepeat[] = {repeated("grp", kTextRecord, 1)};
constexpr FieldNode kInner[] = {repeated("inner", kByte, 2)};
constexpr FieldNode kRepeatInRepeat[] = {repeated("outer", kInner, 2)};
constexpr FieldNode kControlRecord[] = {record("rec", kControlOnly)};
constexpr FieldNode kControlInRecordInRepeat[] = {repeated("grp", kControlRecord, 1)};
constexpr FieldNode kControlInRepeat[] = {repeated("grp", kControlOnly, 1), scalar("v", 8)};

constexpr FieldNode kTwoControls[] = {control("c1"), control("c2"), scalar("v", 8)};
constexpr FieldNode kNoMain[] = {scalar("a", 8), scalar("b", 8), control("ctl")};
constexpr FieldNode kTwoMains[] = {scalar("a", 8, true), scalar("b", 8, true), control("ctl")};
constexpr FieldNode kScalarOnlyInRecord[] = {record("rec", kByte), control("ctl")};
constexpr FieldNode kOneMain[] = {scalar("a", 8), scalar("b", 8, true), control("ctl")};
constexpr FieldNode kSoleValue[] = {control("ctl"), scalar("v", 16)};

constexpr char kName64[] = "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijkl";
constexpr char kName65[] = "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklm";
constexpr FieldNode kLongName[] = {scalar(kName65, 8)};
constexpr FieldNode kLongestName[] = {scalar(kName64, 8)};

struct ShapeCase {
    const char* label;
    Row row;
    std::optional<E> fault;  // none: the row passes
};

const ShapeCase kShapeCases[] = {
    // The sub-octet width is judged before anything else in the tree.
    {"sub-octet of 0 bits", row_of(kDupes, sub_octet(0)), E::unrepresentable_layout(0)},
    {"sub-octet of 7 bits", row_of(kOneBit, sub_octet(7)), E::unrepresentable_layout(7)},
    {"sub-octet of 1 bit", row_of(kOneBit, sub_octet(1)), std::nullopt},
    {"nine levels", row_of(kChain1, octets(1)), E::unrepresentable_nesting(8)},
    {"eight levels", row_of(kChain2, octets(1)), std::nullopt},
    {"repeat of a leafless record", row_of(kHollowRepeat, octets(1)),
     E::unbounded_traversal("grp")},
    {"variable text in a fixed row", row_of(kFixedWithTail, octets(1)),
     E::unrepresentable_placement("tail")},
    {"more leaves than bits", row_of(kNineLeaves, octets(1)), E::unrepresentable_tree(9, 8)},
    {"more leaves than prefix bits", row_of(kVariableNineLeaves, variable_form()),
     E::unrepresentable_tree(9, 8)},
    {"variable row without a text tail", row_of(kVariableNoTail, variable_form()),
     E::row_form_mismatch()},
    {"variable row without fields", row_of({}, variable_form()), E::row_form_mismatch()},
    {"variable row of one repeat", row_of(kVariableSoleRepeat, variable_form()),
     E::row_form_mismatch()},
    {"variable row of one record holding a repeat",
     row_of(kVariableSoleRecordWithRepeat, variable_form()), E::row_form_mismatch()},
    {"characters in a variable prefix", row_of(kVariableCharsPrefix, variable_form()),
     E::row_form_mismatch()},
    {"variable tail after a nibble", row_of(kVariableNibblePrefix, variable_form()),
     E::unrepresentable_alignment("t", 4)},
    {"too many visits", row_of(kHeavy, octets(65535)), E::unwalkable_tree(524288)},
    {"characters after a nibble", row_of(kCharsAfterNibble, octets(2)),
     E::unrepresentable_alignment("c", 4)},
    {"characters in a 4-bit sub-octet row", row_of(kSoleChars, sub_octet(4)),
     E::unrepresentable_alignment("c", 4)},
    // Instance 0 starts aligned; instance 1 starts at 12.
    {"characters in the second instance", row_of(kRepeatOdd, octets(3)),
     E::unrepresentable_alignment("c", 12)},
    {"named bit named like a field", row_of(kBitNamedLikeField, octets(1)),
     E::duplicate_field_name("flag")},
    {"same name in two records", row_of(kDupAcrossRecords, octets(1)),
     E::duplicate_field_name("v")},
    {"record named like its child", row_of(kRecordNamedLikeChild, octets(1)),
     E::duplicate_field_name("v")},
    {"duplicate before width", row_of(kDupes, octets(1)), E::duplicate_field_name("x")},
    {"name of 65 bytes", row_of(kLongName, octets(1)), E::unjudged_name_length(64)},
    {"name of 64 bytes", row_of(kLongestName, octets(1)), std::nullopt},
    {"control octet in a record", row_of(kControlInRecord, octets(2)), E::nested_z8_control("ctl")},
    {"characters in a repeat", row_of(kCharsInRepeat, octets(2)), E::unreachable_repeat_chars("c")},
    {"text in a record in a repeat", row_of(kTextInRecordInRepeat, octets(2)),
     E::unreachable_repeat_chars("t")},
    {"repeat in a repeat", row_of(kRepeatInRepeat, octets(4)),
     E::unreachable_repeat_nesting("inner")},
    {"control octet in a record in a repeat", row_of(kControlInRecordInRepeat, octets(1)),
     E::nested_z8_control("ctl")},
    {"control octet in a repeat", row_of(kControlInRepeat, octets(2)),
     E::unreachable_z8_control("ctl")},
    {"two control octets", row_of(kTwoControls, octets(3)), E::duplicate_z8_control("c2")},
    {"control octet beside two scalars", row_of(kNoMain, octets(3)), E::unpaired_z8_control(2, 0)},
    {"control octet beside two mains", row_of(kTwoMains, octets(3)), E::unpaired_z8_control(2, 2)},
    {"control octet alone", row_of(kControlOnly, octets(1)), E::unpaired_z8_control(0, 0)},
    {"control octet beside a record", row_of(kScalarOnlyInRecord, octets(2)),
     E::unpaired_z8_control(0, 0)},
    {"control octet with one main", row_of(kOneMain, octets(3)), std::nullopt},
    {"control octet with a sole value", row_of(kSoleValue, octets(3)), std::nullopt},
    {"tree narrower than the octets", row_of(kByte, octets(2)), E::tree_width_mismatch(8, 16)},
    {"tree narrower than the sub-octet", row_of(kOneBit, sub_octet(2)),
     E::tree_width_mismatch(1, 2)},
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
    *os << c.label;
}

class ShapeCheck : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeCheck, ReportsTheFirstFault) {
    const ShapeCase& c = GetParam();
    auto result = check_row_form(c.row);
    if (c.fault) {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), *c.fault);
    } else {
        EXPECT_TRUE(result.has_value()) << ::testing::PrintToString(result.error());
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ShapeCheck, ::testing::ValuesIn(kShapeCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.label; *p; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return name;
});

// Trees of generated one-bit fields around the node and name limits.
struct WideTree {
    std::vector<std::string> names;
    std::vector<FieldNode> nodes;
    std::vector<catalog::NamedBit> bits;
    BitGroupDef group{};

    explicit WideTree(std::size_t scalars) {
        names.reserve(scalars);
        for (std::size_t i = 0; i < scalars; ++i) names.push_back("f" + std::to_string(i));
        for (const auto& n : names) nodes.push_back(scalar(n, 1));
    }
};

TEST(ShapeLimits, NodeCountAboveTheLimitIsRefusedBeforeTheLayoutIsJudged) {
    WideTree at_limit(1024);
    EXPECT_TRUE(check_row_form(row_of(at_limit.nodes, octets(128))).has_value());

    // 1025 bits would also miss the declared width; the node count is judged first.
    WideTree above(1025);
    auto result = check_row_form(row_of(above.nodes, octets(129)));
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), E::unjudged_field_names(1024));
}

TEST(ShapeLimits, NamedBitsCountTowardTheNameLimit) {
    WideTree tree(1017);
    for (std::uint8_t i = 0; i < 8; ++i) {
        tree.bits.push_back({tree.names[i], {}, i, 1});  // renamed below to stay unique
    }
    static const char* const kBitNames[] = {"g0", "g1", "g2", "g3", "g4", "g5", "g6", "g7"};
    for (std::size_t i = 0; i < 8; ++i) tree.bits[i].name = kBitNames[i];
    tree.group = BitGroupDef{tree.bits, 0, false};
    tree.nodes.push_back(bit_group("g", 8, &tree.group));
    // 1018 nodes, 1026 names.
    auto result = check_row_form(row_of(tree.nodes, octets(129)));
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), E::unjudged_field_names(1024));

    tree.nodes.erase(tree.nodes.begin(), tree.nodes.begin() + 2);  // 1024 names
    std::uint32_t counter = 0;
    EXPECT_TRUE(count_addressable_names(tree.nodes, 1, counter).has_value());
    EXPECT_EQ(counter, 1024u);
    auto work = resolution_work(row_of(tree.nodes, octets(128)));
    ASSERT_TRUE(work.has_value());
    EXPECT_EQ(*work, 16u * 1024u);
}

// ---- the walks ----

constexpr FieldNode kInstance[] = {scalar("x", 3), reserved("pad", 1)};
constexpr FieldNode kInnerRecord[] = {scalar("y", 4), scalar("z", 4)};
constexpr FieldNode kMixed[] = {scalar("head", 4), record("rec", kInnerRecord),
                                repeated("grp", kInstance, 3), scalar("tail", 4)};

TEST(Walks, WidthsSumRecordsAndMultiplyRepeats) {
    auto bits = tree_bits(kMixed);
    ASSERT_TRUE(bits.has_value());
    EXPECT_EQ(*bits, 4u + 8u + 3u * 4u + 4u);

    static constexpr FieldNode kEmptyRepeat[] = {repeated("none", kByte, 0)};
    EXPECT_EQ(tree_bits(kEmptyRepeat).value(), 0u);
    EXPECT_EQ(tree_leaves_at(kEmptyRepeat, 1).value(), 0u);
    EXPECT_EQ(tree_leaves_at(kMixed, 1).value(), 1u + 2u + 3u * 2u + 1u);
}

TEST(Walks, WidthOverflowNamesTheNodeThatOverflowed) {
    static constexpr FieldNode kHugeChars[] = {chars("c", 65535)};
    static constexpr FieldNode kProduct[] = {repeated("many", kHugeChars, 65535)};
    EXPECT_EQ(tree_bits(kProduct).error(), E::unrepresentable_span("many"));
    // 8192 x 524280 bits still fits in 32 bits; the next node does not.
    static constexpr FieldNode kSum[] = {repeated("big", kHugeChars, 8192), chars("after", 65535)};
    EXPECT_EQ(tree_bits(kSum).error(), E::unrepresentable_span("after"));
}

TEST(Walks, ContainersAtTheDepthLimitHaveNoWidth) {
    EXPECT_EQ(node_bits(kChain8[0], 8).error(), E::unrepresentable_nesting(8));
    EXPECT_EQ(node_bits(kChain8[0], 7).value(), 8u);
    EXPECT_EQ(node_bits(kChain9[0], 8).value(), 8u);
}

TEST(Walks, LocateFindsPositionsAndRefusesRepeatedFields) {
    struct Case {
        std::string_view name;
        Location::Kind kind;
        std::uint32_t position;
    };
    const Case cases[] = {
        {"head", Location::Kind::Found, 0},
        {"rec", Location::Kind::Found, 4},
        {"z", Location::Kind::Found, 8},
        {"grp", Location::Kind::Found, 12},
        {"x", Location::Kind::InsideRepeatedGroup, 0},
        {"pad", Location::Kind::InsideRepeatedGroup, 0},
        {"tail", Location::Kind::Found, 24},
        {"absent", Location::Kind::Absent, 0},
        {"Head", Location::Kind::Absent, 0},
    };
    for (const Case& c : cases) {
        auto found = locate_from(kMixed, c.name, 0, 1);
        ASSERT_TRUE(found.has_value()) << c.name;
        EXPECT_EQ(found->kind, c.kind) << c.name;
        if (c.kind == Location::Kind::Found) {
            EXPECT_EQ(found->position, c.position) << c.name;
            EXPECT_EQ(found->node->name, c.name);
        }
    }
    // A start position shifts every answer.
    EXPECT_EQ(locate_from(kMixed, "tail", 3, 1)->position, 27u);
    EXPECT_EQ(locate_from(kChain1, "leaf", 0, 1).error(), E::unrepresentable_nesting(8));
}

TEST(Walks, LeavesAreVisitedPerInstanceAtTheirPositions) {
    std::vector<std::pair<std::string_view, std::uint32_t>> seen;
    auto walked = walk_leaves_at(kMixed, 2, 1, [&](const FieldNode& node, std::uint32_t at) {
        seen.emplace_back(node.name, at);
        return Result<void>{};
    });
    ASSERT_TRUE(walked.has_value());
    const std::vector<std::pair<std::string_view, std::uint32_t>> expected = {
        {"head", 2}, {"y", 6},    {"z", 10}, {"x", 14},   {"pad", 17},
        {"x", 18},   {"pad", 21}, {"x", 22}, {"pad", 25}, {"tail", 26},
    };
    EXPECT_EQ(seen, expected);

    // The visitor's first fault ends the walk.
    int visits = 0;
    auto stopped = walk_leaves_at(kMixed, 0, 1, [&](const FieldNode& node, std::uint32_t) {
        ++visits;
        if (node.name == "z") return Result<void>{std::unexpected(E::kind_mismatch())};
        return Result<void>{};
    });
    EXPECT_EQ(stopped.error(), E::kind_mismatch());
    EXPECT_EQ(visits, 3);
}

TEST(Walks, InstanceWorkCountsRepeatedVisitsUpToTheLimit) {
    EXPECT_EQ(instance_work_at(kMixed, 1).value(), 1u + 3u + (1u + 3u * 2u) + 1u);

    // Each group costs 1 + 65535 visits: eight of them make exactly the limit, nine exceed it.
    static constexpr FieldNode g[] = {
        repeated("g0", kByte, 65535), repeated("g1", kByte, 65535), repeated("g2", kByte, 65535),
        repeated("g3", kByte, 65535), repeated("g4", kByte, 65535), repeated("g5", kByte, 65535),
        repeated("g6", kByte, 65535), repeated("g7", kByte, 65535), repeated("g8", kByte, 65535)};
    EXPECT_EQ(instance_work_at(Slice<FieldNode>(g, 8), 1).value(), 524288u);
    EXPECT_EQ(instance_work_at(Slice<FieldNode>(g, 9), 1).error(), E::unwalkable_tree(524288));
    EXPECT_EQ(instance_work(row_of(kMixed, octets(4))).value(), 12u);
}

TEST(Walks, Z8ShapeResolvesTheMainValueField) {
    auto designated = check_z8_shape(kOneMain);
    ASSERT_TRUE(designated.has_value());
    EXPECT_EQ(designated->control->name, "ctl");
    EXPECT_EQ(designated->main->name, "b");

    auto sole = check_z8_shape(kSoleValue);
    ASSERT_TRUE(sole.has_value());
    EXPECT_EQ(sole->main->name, "v");

    auto none = check_z8_shape(kMixed);
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->control, nullptr);
    EXPECT_EQ(none->main, nullptr);
}

TEST(Walks, DuplicateScanReportsTheFirstRepeatedNameInTreeOrder) {
    static constexpr FieldNode kLater[] = {scalar("a", 1), scalar("b", 1), scalar("b", 1),
                                           scalar("a", 1)};
    EXPECT_EQ(duplicate_field_name(kLater).value(), std::optional<std::string_view>("a"));
    EXPECT_EQ(duplicate_field_name(kMixed).value(), std::nullopt);
}

}  // namespace
}  // namespace tavrel::encoding
