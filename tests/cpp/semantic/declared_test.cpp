#include "semantic/declared.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "semantic/fields.hpp"
#include "semantic/z8.hpp"
#include "support.hpp"

namespace tavrel::semantic {
namespace {

using catalog::BitGroupDef;
using catalog::Carrier;
using catalog::CrossFieldRelation;
using catalog::FieldNode;
using catalog::NamedBit;
using catalog::NodeKind;
using catalog::Row;
using catalog::ValidityEdge;

// A small hand-made table that the declared checks must judge: a value, a bit group of two flags,
// and a repeated group holding a value and a flag of its own.
const NamedBit kFlags[] = {{.name = "Flag", .position = 0}, {.name = "Other", .position = 1}};
const BitGroupDef kFlagGroup{.bits = kFlags, .reserved_mask = 0xFC};
const NamedBit kInnerFlags[] = {{.name = "InnerFlag", .position = 0}};
const BitGroupDef kInnerGroup{.bits = kInnerFlags, .reserved_mask = 0xFE};

FieldNode scalar(std::string_view name) {
    return FieldNode{.name = name,
                     .kind = NodeKind::Scalar,
                     .scalar = {.carrier = Carrier::Unsigned, .bits = 8}};
}

const FieldNode kInner[] = {
    scalar("Inner"),
    FieldNode{.name = "InnerFlags", .kind = NodeKind::BitGroup, .bits = 8, .group = &kInnerGroup},
};
const FieldNode kFields[] = {
    scalar("Value"),
    FieldNode{.name = "Flags", .kind = NodeKind::BitGroup, .bits = 8, .group = &kFlagGroup},
    FieldNode{.name = "Group", .kind = NodeKind::RepeatedGroup, .count = 2, .children = kInner},
};

Row fixture(catalog::Slice<ValidityEdge> edges, catalog::Slice<CrossFieldRelation> relations) {
    return Row{.id = {999, 1},
               .name = "Fixture",
               .fields = kFields,
               .form = {catalog::RowForm::Kind::Octets, 6},
               .validity_edges = edges,
               .relations = relations};
}

void expect_refusal(const Result<void>& r, std::string_view code, std::string_view message) {
    ASSERT_FALSE(r.has_value()) << "accepted";
    EXPECT_EQ(r.error().code(), code);
    EXPECT_EQ(r.error().message(), message);
}

TEST(DeclaredChecksTest, EveryCatalogueRowPasses) {
    for (const Row& row : catalog::rows()) {
        auto r = check_declared_work(row);
        EXPECT_TRUE(r.has_value()) << row.id.display() << ": " << r.error().message();
    }
}

TEST(DeclaredChecksTest, ValidityEdgesMustResolveInOneScope) {
    const struct {
        ValidityEdge edge;
        const char* code;  // nullptr: accepted
        const char* message;
    } cases[] = {
        {{"Flag", "Value", true}, nullptr, nullptr},
        {{"InnerFlag", "Inner", false}, nullptr, nullptr},
        {{"Flag", "Other", true}, nullptr, nullptr},
        {{"Flag", "Flag", true},
         "semantic/self-gating-validity-flag",
         "the validity edge names `Flag` as its own target, and a flag cannot gate itself"},
        {{"Value", "Flag", true},
         "semantic/unresolved-validity-flag",
         "`Value` gates a declared validity edge and is not a named bit any reader of that edge "
         "resolves"},
        {{"Nope", "Value", true}, "semantic/unresolved-validity-flag", nullptr},
        {{"Flag", "Flags", true},
         "semantic/unqueried-validity-target",
         "`Flags` is gated by a declared validity edge and is not a declaration any reader asks "
         "about"},
        {{"Flag", "Nope", true}, "semantic/unqueried-validity-target", nullptr},
        {{"Flag", "Inner", true},
         "semantic/split-validity-scope",
         "the declared validity edge from `Flag` to `Inner` crosses a repeated group, and no "
         "reader opens both scopes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.edge.flag) + " -> " + std::string(c.edge.target));
        const ValidityEdge edges[] = {c.edge};
        Row row = fixture(edges, {});
        auto r = check_declared_work(row);
        if (c.code == nullptr) {
            EXPECT_TRUE(r.has_value()) << r.error().message();
        } else {
            ASSERT_FALSE(r.has_value());
            EXPECT_EQ(r.error().code(), c.code);
            if (c.message) {
                EXPECT_EQ(r.error().message(), c.message);
            }
        }
    }
}

TEST(DeclaredChecksTest, CrossFieldOperandsMustBeValueFieldsOfTheSameScope) {
    const std::string_view to_flag[] = {"Flag"};
    const std::string_view to_inner[] = {"Inner"};
    const std::string_view to_value[] = {"Value"};
    const CrossFieldRelation flag[] = {{.field = "Value", .operands = to_flag, .value = 1}};
    const CrossFieldRelation split[] = {{.field = "Value", .operands = to_inner, .value = 1}};
    const CrossFieldRelation fine[] = {{.field = "Inner", .operands = to_inner, .value = 1}};
    const CrossFieldRelation back[] = {{.field = "Inner", .operands = to_value, .value = 1}};
    expect_refusal(check_declared_work(fixture({}, flag)), "semantic/unresolved-cross-field-name",
                   "`Flag` names an operand of a declared cross-field relation and is not a value "
                   "field of the scope that relation is read in");
    expect_refusal(check_declared_work(fixture({}, split)), "semantic/split-cross-field-scope",
                   "the declared cross-field relation from `Value` reaches `Inner` in a different "
                   "repeated-group scope, and no reader opens both scopes");
    expect_refusal(check_declared_work(fixture({}, back)), "semantic/split-cross-field-scope",
                   "the declared cross-field relation from `Inner` reaches `Value` in a different "
                   "repeated-group scope, and no reader opens both scopes");
    EXPECT_TRUE(check_declared_work(fixture({}, fine)).has_value());
}

TEST(DeclaredChecksTest, ListWorkBudget) {
    // 1024 list entries are admitted, 1025 are not, however they are made up.
    std::vector<ValidityEdge> edges(1024, ValidityEdge{"Flag", "Value", true});
    EXPECT_TRUE(check_declared_work(fixture(edges, {})).has_value());
    edges.push_back(ValidityEdge{"Flag", "Value", true});
    expect_refusal(check_declared_work(fixture(edges, {})), "semantic/unwalkable-lists",
                   "the row declares more list work than the 1024 this layer admits, so it is "
                   "refused rather than walked");

    const std::string_view ops[] = {"Value"};
    std::vector<CrossFieldRelation> relations(512, CrossFieldRelation{"Value", ops, 1, 0});
    EXPECT_TRUE(check_declared_work(fixture({}, relations)).has_value());
    edges.assign(1, ValidityEdge{"Flag", "Value", true});
    auto r = check_declared_work(fixture(edges, relations));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().number, 1024u);

    // A scalar's own lists count too.
    std::vector<catalog::CodeEntry> entries(1024);
    catalog::CodeTable table{.entries = entries};
    FieldNode coded[] = {
        FieldNode{.name = "Value",
                  .kind = NodeKind::Scalar,
                  .scalar = {.carrier = Carrier::Enumeration, .bits = 8, .code_table = &table}}};
    Row row{.id = {999, 2}, .fields = coded, .form = {catalog::RowForm::Kind::Octets, 1}};
    EXPECT_TRUE(check_declared_work(row).has_value());
    const ValidityEdge bad[] = {{"Nope", "Value", true}};
    row.validity_edges = bad;
    r = check_declared_work(row);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, SemanticErrorKind::UnwalkableLists);
}

TEST(DeclaredChecksTest, InstanceAndTotalWorkBudgets) {
    const FieldNode many_inner[] = {scalar("Inner")};
    const FieldNode many[] = {
        scalar("Value"),
        FieldNode{.name = "Flags", .kind = NodeKind::BitGroup, .bits = 8, .group = &kFlagGroup},
        FieldNode{.name = "Group",
                  .kind = NodeKind::RepeatedGroup,
                  .count = 4096,
                  .children = many_inner},
    };
    Row row{.id = {999, 3}, .fields = many, .form = {catalog::RowForm::Kind::Octets, 4098}};

    // 4097 scalar visits x 2 x 16 x 6 names stays below the total budget; 101 passes do not.
    std::vector<ValidityEdge> edges(1, ValidityEdge{"Flag", "Value", true});
    row.validity_edges = edges;
    EXPECT_TRUE(check_declared_work(row).has_value());
    edges.assign(100, ValidityEdge{"Flag", "Value", true});
    row.validity_edges = edges;
    expect_refusal(check_declared_work(row), "semantic/unwalkable-lists",
                   "the row declares more list work than the 16777216 this layer admits, so it "
                   "is refused rather than walked");
    // 1024 list entries x 4099 node visits exceeds the instance budget.
    edges.assign(1024, ValidityEdge{"Flag", "Value", true});
    row.validity_edges = edges;
    auto r = check_declared_work(row);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().number, 4194304u);
}

TEST(DeclaredChecksTest, AControlOctetNeedsADeclaredContext) {
    const FieldNode fields[] = {
        scalar("Value"), FieldNode{.name = "Status/Command", .kind = NodeKind::ControlOctet}};
    Row row{.id = {999, 4}, .fields = fields, .form = {catalog::RowForm::Kind::Octets, 2}};
    expect_refusal(check_declared_work(row), "semantic/undeclared-z8-context",
                   "the row declares the control octet `Status/Command` and no context "
                   "requirement, so no reading of that octet is derived");
    row.context = catalog::ContextRequirement::ServiceSelected;
    EXPECT_TRUE(check_declared_work(row).has_value());
}

TEST(FieldLookupTest, MainFieldsControlOctetsAndNames) {
    const struct {
        const char* id;
        const char* main;  // nullptr: none
        const char* control;
    } cases[] = {
        {"229.001", "CountVal", "Status/Command"},
        {"201.100", "HVACMode", "Status/Command"},
        {"200.100", "Heat/Cool", "Status/Command"},
        {"9.001", "FloatValue", nullptr},
        {"19.001", nullptr, nullptr},
        {"2.001", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const auto& fields = testing::row_of(c.id).fields;
        const FieldNode* main = main_field(fields);
        const FieldNode* control = z8_field(fields);
        EXPECT_EQ(main ? main->name : "", c.main ? c.main : "") << c.id;
        EXPECT_EQ(control ? control->name : "", c.control ? c.control : "") << c.id;
    }

    const auto& fields = testing::row_of("277.1200").fields;
    const FieldNode* tariff = find_named_scalar(fields, "Tariff");
    ASSERT_NE(tariff, nullptr);
    EXPECT_EQ(tariff->scalar.bits, 8);
    EXPECT_EQ(find_named_scalar(fields, "Validity"), nullptr);  // a bit group, not a scalar
    NamedBitRef e = find_named_bit(fields, "E");
    ASSERT_TRUE(e);
    EXPECT_EQ(e.group->name, "Validity");
    EXPECT_EQ(e.bit->position, 1);
    EXPECT_FALSE(find_named_bit(fields, "Tariff"));
    const FieldNode* group = find_repeat(fields, "EnergyRegisters");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->count, 4);
    EXPECT_EQ(find_repeat(fields, "Text"), nullptr);
    EXPECT_TRUE(declared_name(fields, "EnergyRegisters"));
    EXPECT_TRUE(declared_name(fields, "T"));
    EXPECT_FALSE(declared_name(fields, "t"));
    EXPECT_EQ(count_declarations(fields, "T"), 1u);
    EXPECT_EQ(count_declarations(fields, "Nope"), 0u);
    EXPECT_EQ(enclosing_repeat(fields, "T"), group);
    EXPECT_EQ(enclosing_repeat(fields, "Text"), nullptr);
}

TEST(Z8Test, StatusAndCommandOctets) {
    const struct {
        std::uint8_t octet;
        const char* fault;  // nullptr: accepted
        const char* message;
        bool main_excluded;
    } statuses[] = {
        {0x00, nullptr, nullptr, false},
        {0x01, nullptr, nullptr, true},   // out of service
        {0x02, nullptr, nullptr, true},   // faulty
        {0x06, nullptr, nullptr, false},  // faulty but overridden
        {0x1C, nullptr, nullptr, false},
        {0x21, "semantic/z8-reserved", "reserved Z8 status bits must be zero: mask 0xE0, got 0x21",
         false},
        {0x80, "semantic/z8-reserved", "reserved Z8 status bits must be zero: mask 0xE0, got 0x80",
         false},
        {0x03, "semantic/z8-illegal-combination",
         "illegal Z8 status combination: OutOfService with Fault", false},
        {0x05, "semantic/z8-illegal-combination",
         "illegal Z8 status combination: OutOfService with Overridden", false},
    };
    for (const auto& c : statuses) {
        SCOPED_TRACE(static_cast<int>(c.octet));
        auto r = check_status(c.octet);
        if (c.fault == nullptr) {
            EXPECT_TRUE(r.has_value());
            EXPECT_EQ(status_main_value(c.octet), c.main_excluded);
        } else {
            expect_refusal(r, c.fault, c.message);
        }
    }
    EXPECT_TRUE(Z8Status::active(0x10, "AlarmUnAck"));
    EXPECT_TRUE(Z8Status::active(0x08, "InAlarm"));
    EXPECT_FALSE(Z8Status::active(0x08, "AlarmUnAck"));
    EXPECT_FALSE(Z8Status::active(0xFF, "NoSuchBit"));

    const struct {
        std::uint8_t octet;
        bool known;
        bool ignores_main;
    } commands[] = {
        {0, true, false},  {1, true, false},    {2, true, true}, {3, true, true},
        {4, true, false},  {5, true, true},     {6, true, true}, {7, false, false},
        {9, false, false}, {255, false, false},
    };
    for (const auto& c : commands) {
        auto r = command(c.octet);
        ASSERT_EQ(r.has_value(), c.known) << static_cast<int>(c.octet);
        if (r) {
            EXPECT_EQ(r->ignores_main, c.ignores_main) << static_cast<int>(c.octet);
        } else {
            EXPECT_EQ(r.error().message(), "no defined Z8 command " + std::to_string(c.octet));
        }
    }
}

}  // namespace
}  // namespace tavrel::semantic
