// The lookup, the table's ordering, and which rows carry restrictions, validity edges and the
// HourOfDay rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "catalog/schema.hpp"

namespace tavrel::catalog {
namespace {

TEST(CatalogLookup, FindsRowsPresentAndOnlyThose) {
    struct Case {
        DptId id;
        const char* name;  // nullptr: not a row
    };
    const Case cases[] = {
        {{1, 1}, "DPT_Switch"},
        {{284, 1200}, "DPT_DateTime_11_EnergyRegisters"},
        {{14, 0}, "DPT_Value_Acceleration"},
        {{15, 0}, "DPT_Access_Data"},
        {{16, 0}, "DPT_String_ASCII"},
        {{9, 1}, "DPT_Value_Temp"},
        {{1, 1200}, "DPT_ConsumerProducer"},
        {{235, 1}, "DPT_Tariff_ActiveEnergy"},
        // Gaps: never filled in from a sibling or from the main type.
        {{1, 20}, nullptr},
        {{0, 0}, nullptr},
        {{1, 0}, nullptr},
        {{3, 1}, nullptr},
        {{5, 2}, nullptr},
        {{9, 12}, nullptr},
        {{14, 82}, nullptr},
        {{284, 1201}, nullptr},
        {{285, 0}, nullptr},
        {{65535, 65535}, nullptr},
    };
    for (const Case& c : cases) {
        const Row* row = find(c.id);
        if (c.name == nullptr) {
            EXPECT_EQ(row, nullptr) << c.id.display();
        } else {
            ASSERT_NE(row, nullptr) << c.id.display();
            EXPECT_EQ(row->id, c.id);
            EXPECT_EQ(row->name, c.name);
        }
    }
}

TEST(CatalogLookup, TableSpansTheListedRowsInOrder) {
    const Slice<Row> all = rows();
    ASSERT_EQ(all.size(), 463u);
    EXPECT_EQ(all.front().id, (DptId{1, 1}));
    EXPECT_EQ(all.back().id, (DptId{284, 1200}));
    for (std::size_t i = 1; i < all.size(); ++i) {
        EXPECT_LT(all[i - 1].id, all[i].id) << all[i].id.display();
    }
}

TEST(CatalogLookup, FindReturnsTheTableEntryItself) {
    for (const Row& row : rows()) {
        EXPECT_EQ(find(row.id), &row) << row.id.display();
    }
}

bool listed(const std::vector<DptId>& ids, DptId id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

bool in_main(DptId id, std::initializer_list<std::uint16_t> mains) {
    return std::find(mains.begin(), mains.end(), id.main) != mains.end();
}

TEST(CatalogRestrictions, AvailabilityAndContextOfEveryRow) {
    const std::vector<DptId> control_octet = {
        {200, 100}, {200, 101}, {201, 100}, {201, 102}, {201, 104}, {201, 105}, {201, 107},
        {201, 108}, {201, 109}, {202, 1},   {202, 2},   {203, 2},   {203, 3},   {203, 4},
        {203, 5},   {203, 6},   {203, 7},   {203, 11},  {203, 12},  {203, 13},  {203, 14},
        {203, 15},  {203, 17},  {203, 100}, {203, 101}, {203, 102}, {203, 104}, {204, 1},
        {205, 2},   {205, 3},   {205, 4},   {205, 5},   {205, 6},   {205, 7},   {205, 17},
        {205, 100}, {205, 101}, {205, 102}, {205, 103}, {218, 1},   {218, 2},   {229, 1}};
    const std::vector<DptId> not_for_groups = {
        {206, 102}, {206, 104}, {206, 105}, {207, 100}, {207, 101}, {207, 102}, {207, 104},
        {207, 105}, {209, 100}, {209, 101}, {209, 102}, {209, 103}, {210, 100}, {211, 100},
        {212, 100}, {212, 101}, {213, 100}, {213, 101}, {213, 102}, {214, 100}, {214, 101},
        {215, 100}, {215, 101}, {216, 100}, {220, 100}, {223, 100}, {224, 100}};
    const std::vector<DptId> parameters = {{7, 3}, {7, 4},  {7, 6},  {7, 13},  {8, 3},    {8, 4},
                                           {8, 6}, {8, 12}, {20, 4}, {20, 22}, {31, 101}, {225, 2}};
    for (const Row& row : rows()) {
        Availability availability = Availability::Standard;
        ContextRequirement context = ContextRequirement::None;
        if (listed(control_octet, row.id)) {
            availability = Availability::NotForGroupCommunication;
            context = ContextRequirement::ServiceSelected;
        } else if (listed(not_for_groups, row.id)) {
            availability = Availability::NotForGroupCommunication;
        } else if (listed(parameters, row.id)) {
            availability = Availability::ParametersAndDiagnostics;
        }
        EXPECT_EQ(row.availability, availability) << row.id.display();
        EXPECT_EQ(row.context, context) << row.id.display();
        const bool has_control =
            std::any_of(row.fields.begin(), row.fields.end(),
                        [](const FieldNode& n) { return n.kind == NodeKind::ControlOctet; });
        EXPECT_EQ(has_control, listed(control_octet, row.id)) << row.id.display();
    }
}

TEST(CatalogRestrictions, ValidityEdgesRelationsAndVariableForms) {
    const std::vector<DptId> edge_rows = {
        {19, 1},    {207, 100}, {207, 101}, {207, 104}, {207, 600}, {209, 100}, {209, 101},
        {209, 102}, {209, 103}, {210, 100}, {214, 100}, {214, 101}, {215, 100}, {215, 101},
        {235, 1},   {235, 2},   {240, 800}, {241, 800}, {242, 600}, {243, 600}, {247, 600},
        {250, 600}, {251, 600}, {252, 600}, {253, 600}, {256, 1},   {267, 1},   {274, 1}};
    const std::vector<DptId> variable = {{24, 1}, {28, 1}, {267, 1}};
    for (const Row& row : rows()) {
        const bool edges =
            listed(edge_rows, row.id) ||
            in_main(row.id, {265, 266, 268, 269, 270, 273, 277, 278, 279, 280, 281, 282, 283, 284});
        EXPECT_EQ(!row.validity_edges.empty(), edges) << row.id.display();

        const bool hour_rule = row.id == DptId{19, 1} || row.id == DptId{256, 1} ||
                               row.id == DptId{267, 1} ||
                               in_main(row.id, {265, 266, 268, 269, 270, 281, 282, 283, 284});
        ASSERT_EQ(row.relations.size(), hour_rule ? 1u : 0u) << row.id.display();
        if (hour_rule) {
            const CrossFieldRelation& rel = row.relations[0];
            EXPECT_EQ(rel.field, "HourOfDay");
            EXPECT_EQ(rel.value, 24u);
            EXPECT_EQ(rel.kind, 0u);
            ASSERT_EQ(rel.operands.size(), 2u);
            EXPECT_EQ(rel.operands[0], "Minutes");
            EXPECT_EQ(rel.operands[1], "Seconds");
        }
        EXPECT_EQ(row.form.kind == RowForm::Kind::Variable, listed(variable, row.id))
            << row.id.display();
    }
}

TEST(CatalogRestrictions, SubOctetRowsAndTheirWidths) {
    for (const Row& row : rows()) {
        std::uint16_t bits = 0;
        if (row.id.main == 1) {
            bits = 1;
        } else if (row.id.main == 2 || row.id.main == 23) {
            bits = 2;
        } else if (row.id.main == 31) {
            bits = 3;
        } else if (row.id.main == 3) {
            bits = 4;
        }
        if (bits == 0) {
            EXPECT_NE(row.form.kind, RowForm::Kind::SubOctet) << row.id.display();
        } else {
            EXPECT_EQ(row.form.kind, RowForm::Kind::SubOctet) << row.id.display();
            EXPECT_EQ(row.form.size, bits) << row.id.display();
        }
    }
    EXPECT_EQ(find({284, 1200})->form.size, 86u);
}

}  // namespace
}  // namespace tavrel::catalog
