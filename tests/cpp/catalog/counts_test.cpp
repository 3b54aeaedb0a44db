// How many rows of each kind the table holds. The membership tests elsewhere check that every
// row present is classified right; these totals also catch a row that is missing or doubled, which
// a membership list cannot see.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "catalog/schema.hpp"

namespace tavrel::catalog {
namespace {

bool sub_octet(const Row& row, std::uint16_t bits) {
    return row.form.kind == RowForm::Kind::SubOctet && row.form.size == bits;
}

bool has_node(Slice<FieldNode> nodes, const std::function<bool(const FieldNode&)>& match) {
    for (const FieldNode& n : nodes) {
        if (match(n) || has_node(n.children, match)) return true;
    }
    return false;
}

TEST(CatalogCounts, RowsOfEachFormRestrictionAndRule) {
    const struct {
        const char* what;
        std::function<bool(const Row&)> match;
        std::size_t expected;
    } cases[] = {
        {"all rows", [](const Row&) { return true; }, 463},
        {"one bit", [](const Row& r) { return sub_octet(r, 1); }, 27},
        {"two bits", [](const Row& r) { return sub_octet(r, 2); }, 16},
        {"three bits", [](const Row& r) { return sub_octet(r, 3); }, 1},
        {"four bits", [](const Row& r) { return sub_octet(r, 4); }, 2},
        {"five or six bits", [](const Row& r) { return sub_octet(r, 5) || sub_octet(r, 6); }, 0},
        {"whole octets", [](const Row& r) { return r.form.kind == RowForm::Kind::Octets; }, 414},
        {"variable", [](const Row& r) { return r.form.kind == RowForm::Kind::Variable; }, 3},
        {"control octet, service-selected, not for groups",
         [](const Row& r) {
             return r.availability == Availability::NotForGroupCommunication &&
                    r.context == ContextRequirement::ServiceSelected;
         },
         42},
        {"rows with a control octet",
         [](const Row& r) {
             return has_node(r.fields,
                             [](const FieldNode& n) { return n.kind == NodeKind::ControlOctet; });
         },
         42},
        {"other rows not for groups",
         [](const Row& r) {
             return r.availability == Availability::NotForGroupCommunication &&
                    r.context == ContextRequirement::None;
         },
         27},
        {"parameters and diagnostics",
         [](const Row& r) { return r.availability == Availability::ParametersAndDiagnostics; }, 12},
        {"service-selected outside the not-for-groups rows",
         [](const Row& r) {
             return r.context == ContextRequirement::ServiceSelected &&
                    r.availability != Availability::NotForGroupCommunication;
         },
         0},
        {"standard", [](const Row& r) { return r.availability == Availability::Standard; }, 382},
        {"with validity edges", [](const Row& r) { return !r.validity_edges.empty(); }, 66},
        {"with the midnight relation", [](const Row& r) { return !r.relations.empty(); }, 30},
    };
    const Slice<Row> all = rows();
    for (const auto& c : cases) {
        std::size_t n = 0;
        for (const Row& row : all) n += c.match(row) ? 1 : 0;
        EXPECT_EQ(n, c.expected) << c.what;
    }
}

TEST(CatalogCounts, MainNumbers) {
    std::set<std::uint16_t> mains;
    for (const Row& row : rows()) mains.insert(row.id.main);
    EXPECT_EQ(mains.size(), 103u);
}

// Field-level totals of the integer and linear conventions, counted over every row's tree.
TEST(CatalogCounts, IntegerAndLinearFieldConventions) {
    std::size_t int_exact_one = 0;
    std::size_t int_without_resolution = 0;
    std::size_t int_other = 0;
    std::size_t linear_percent = 0;
    std::size_t linear_angle = 0;
    std::size_t linear_other = 0;
    const std::function<void(Slice<FieldNode>, const Row&)> walk = [&](Slice<FieldNode> nodes,
                                                                       const Row& row) {
        for (const FieldNode& n : nodes) {
            walk(n.children, row);
            if (n.kind != NodeKind::Scalar) continue;
            const Scalar& s = n.scalar;
            if (s.descriptor.kind == DescriptorKind::Int) {
                if (s.resolution == nullptr) {
                    ++int_without_resolution;
                } else if (!s.resolution->approximate &&
                           Decimal::value_cmp(s.resolution->step, Decimal{1, 0}) == 0) {
                    ++int_exact_one;
                } else {
                    ++int_other;
                    ADD_FAILURE() << row.id.display() << " " << n.name
                                  << ": an Int field with a step other than exactly 1";
                }
            } else if (s.descriptor.kind == DescriptorKind::Linear) {
                const bool eight_bit = s.carrier == Carrier::Unsigned && s.bits == 8 &&
                                       s.range.bounded &&
                                       Decimal::value_cmp(s.range.min, Decimal{0, 0}) == 0 &&
                                       s.resolution != nullptr && s.resolution->approximate;
                if (eight_bit && Decimal::value_cmp(s.range.max, Decimal{100, 0}) == 0 &&
                    Decimal::value_cmp(s.resolution->step, Decimal{4, -1}) == 0) {
                    ++linear_percent;
                } else if (eight_bit && Decimal::value_cmp(s.range.max, Decimal{360, 0}) == 0 &&
                           Decimal::value_cmp(s.resolution->step, Decimal{14, -1}) == 0) {
                    ++linear_angle;
                } else {
                    ++linear_other;
                    ADD_FAILURE() << row.id.display() << " " << n.name
                                  << ": a Linear field of neither convention";
                }
            }
        }
    };
    for (const Row& row : rows()) walk(row.fields, row);
    EXPECT_EQ(int_exact_one, 250u);
    EXPECT_EQ(int_without_resolution, 127u);
    EXPECT_EQ(int_other, 0u);
    EXPECT_EQ(linear_percent, 26u);
    EXPECT_EQ(linear_angle, 3u);
    EXPECT_EQ(linear_other, 0u);
}

}  // namespace
}  // namespace tavrel::catalog
