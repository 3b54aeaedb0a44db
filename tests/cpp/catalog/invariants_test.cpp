// Structural rules every catalogue row keeps, checked over the whole table: the encoder and the
// semantic layer rely on them without re-checking.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/schema.hpp"

namespace tavrel::catalog {
namespace {

std::string where(const Row& row, std::string_view field = {}) {
    std::string out = row.id.display();
    if (!field.empty()) {
        out += " / ";
        out += field;
    }
    return out;
}

std::uint64_t width(const FieldNode& node) {
    switch (node.kind) {
        case NodeKind::Scalar:
            return node.scalar.bits;
        case NodeKind::Reserved:
        case NodeKind::BitGroup:
            return node.bits;
        case NodeKind::Chars:
            return 8u * node.count;
        case NodeKind::TerminatedText:
            return 8u * node.octets;
        case NodeKind::VariableText:
            return 0;
        case NodeKind::ControlOctet:
            return 8;
        case NodeKind::Record:
        case NodeKind::RepeatedGroup: {
            std::uint64_t sum = 0;
            for (const FieldNode& child : node.children) {
                sum += width(child);
            }
            return node.kind == NodeKind::Record ? sum : sum * node.count;
        }
    }
    return 0;
}

// Collects names, depth and the bit offset of every node; flags structural faults as it goes.
struct Walk {
    const Row& row;
    std::vector<std::string_view> names;
    std::set<std::string_view> scalar_names;
    std::set<std::string_view> bit_names;
    // The repeated group enclosing each name (nullptr outside any): an edge or a relation may
    // only join names read in the same instance.
    std::map<std::string_view, const FieldNode*> scope;
    const FieldNode* repeat = nullptr;
    std::size_t max_depth = 0;
    std::uint64_t offset = 0;

    void node(const FieldNode& n, std::size_t depth, bool in_repeat) {
        max_depth = std::max(max_depth, depth);
        names.push_back(n.name);
        scope.emplace(n.name, repeat);
        const bool character = n.kind == NodeKind::Chars || n.kind == NodeKind::TerminatedText ||
                               n.kind == NodeKind::VariableText;
        if (character) {
            EXPECT_EQ(offset % 8, 0u) << where(row, n.name) << ": text off an octet boundary";
            EXPECT_FALSE(in_repeat) << where(row, n.name) << ": text inside a repeated group";
        }
        if (n.kind == NodeKind::RepeatedGroup) {
            EXPECT_FALSE(in_repeat) << where(row, n.name) << ": nested repeated group";
            EXPECT_GE(n.count, 1u) << where(row, n.name);
        }
        if (n.kind == NodeKind::ControlOctet) {
            EXPECT_EQ(depth, 1u) << where(row, n.name) << ": control octet below the top level";
        }
        if (n.kind == NodeKind::VariableText) {
            EXPECT_EQ(depth, 1u) << where(row, n.name);
        }
        if (n.kind == NodeKind::Scalar) {
            scalar_names.insert(n.name);
            scalar(n);
        }
        if (n.kind == NodeKind::Reserved) {
            EXPECT_GE(n.bits, 1u) << where(row, n.name);
        }
        if (n.kind == NodeKind::BitGroup) {
            group(n);
        }
        if (n.kind == NodeKind::Record || n.kind == NodeKind::RepeatedGroup) {
            EXPECT_FALSE(n.children.empty()) << where(row, n.name);
            const std::uint64_t start = offset;
            const FieldNode* outer = repeat;
            if (n.kind == NodeKind::RepeatedGroup) {
                repeat = &n;
            }
            for (const FieldNode& child : n.children) {
                node(child, depth + 1, in_repeat || n.kind == NodeKind::RepeatedGroup);
            }
            repeat = outer;
            offset = start + width(n);
            return;
        }
        offset += width(n);
    }

    void scalar(const FieldNode& n) {
        const Scalar& s = n.scalar;
        switch (s.carrier) {
            case Carrier::Boolean:
                EXPECT_EQ(s.bits, 1u) << where(row, n.name);
                break;
            case Carrier::Float16:
                EXPECT_EQ(s.bits, 16u) << where(row, n.name);
                break;
            case Carrier::Float32:
                EXPECT_EQ(s.bits, 32u) << where(row, n.name);
                break;
            case Carrier::Signed:
                EXPECT_TRUE(s.bits >= 1 && s.bits <= 64) << where(row, n.name);
                break;
            default:
                EXPECT_TRUE(s.bits >= 1 && s.bits <= 32) << where(row, n.name);
        }
        if (s.range.bounded) {
            EXPECT_NE(Decimal::value_cmp(s.range.min, s.range.max), std::strong_ordering::greater)
                << where(row, n.name);
        }
        const std::uint64_t limit = s.bits >= 64 ? ~0ull : (1ull << s.bits) - 1;
        for (const SpecialValue& sv : s.special_values) {
            EXPECT_LE(sv.raw, limit) << where(row, n.name) << ": special value wider than field";
            EXPECT_TRUE(sv.meaning == 0 || sv.meaning == 2 || sv.meaning == 4)
                << where(row, n.name);
        }
        if (s.code_table != nullptr) {
            std::set<std::uint16_t> values;
            for (const CodeEntry& e : s.code_table->entries) {
                EXPECT_LE(e.value, limit) << where(row, n.name);
                EXPECT_TRUE(values.insert(e.value).second) << where(row, n.name) << ": code twice";
                EXPECT_FALSE(e.text.empty()) << where(row, n.name);
                for (const Band& b : s.code_table->bands) {
                    EXPECT_FALSE(e.value >= b.low && e.value <= b.high)
                        << where(row, n.name) << ": code " << e.value << " inside a band";
                }
            }
            for (const Band& b : s.code_table->bands) {
                EXPECT_LE(b.low, b.high) << where(row, n.name);
                EXPECT_LE(b.high, limit) << where(row, n.name);
                EXPECT_TRUE(b.kind == 1 || b.kind == 2) << where(row, n.name);
            }
        }
        if (s.carrier == Carrier::Enumeration) {
            ASSERT_NE(s.code_table, nullptr) << where(row, n.name) << ": enumeration without codes";
            EXPECT_FALSE(s.code_table->entries.empty()) << where(row, n.name);
        }
        if (s.descriptor.kind == DescriptorKind::Quantity) {
            ASSERT_NE(s.resolution, nullptr) << where(row, n.name);
            EXPECT_FALSE(s.resolution->approximate) << where(row, n.name);
            ASSERT_TRUE(s.range.bounded) << where(row, n.name);
            // Both bounds lie on the grid.
            EXPECT_TRUE(Decimal::exact_quotient(s.range.min, s.resolution->step).has_value())
                << where(row, n.name);
            EXPECT_TRUE(Decimal::exact_quotient(s.range.max, s.resolution->step).has_value())
                << where(row, n.name);
        }
        if (s.descriptor.kind == DescriptorKind::Linear) {
            EXPECT_EQ(s.bits, 8u) << where(row, n.name);
            ASSERT_NE(s.resolution, nullptr) << where(row, n.name);
            EXPECT_TRUE(s.resolution->approximate) << where(row, n.name);
        }
        if (s.carrier == Carrier::Float16) {
            ASSERT_TRUE(s.range.bounded) << where(row, n.name);
            EXPECT_EQ(Decimal::value_cmp(s.range.max, Decimal{67043328, -2}),
                      std::strong_ordering::equal)
                << where(row, n.name);
            EXPECT_NE(Decimal::value_cmp(s.range.min, Decimal{-67108864, -2}),
                      std::strong_ordering::less)
                << where(row, n.name);
            ASSERT_EQ(s.special_values.size(), 1u) << where(row, n.name);
            EXPECT_EQ(s.special_values[0].raw, 0x7FFFu) << where(row, n.name);
            EXPECT_EQ(s.special_values[0].meaning, 2u) << where(row, n.name);
        }
        if (s.carrier == Carrier::Float32) {
            EXPECT_FALSE(s.range.bounded) << where(row, n.name);
            EXPECT_EQ(s.resolution, nullptr) << where(row, n.name);
        }
    }

    void group(const FieldNode& n) {
        ASSERT_NE(n.group, nullptr) << where(row, n.name);
        EXPECT_TRUE(n.bits >= 1 && n.bits <= 32) << where(row, n.name);
        const std::uint64_t all = n.bits >= 32 ? 0xFFFFFFFFull : (1ull << n.bits) - 1;
        EXPECT_EQ(n.group->reserved_mask & ~all, 0u) << where(row, n.name) << ": mask too wide";
        EXPECT_FALSE(n.group->unchecked) << where(row, n.name);
        std::uint64_t used = n.group->reserved_mask;
        for (const NamedBit& bit : n.group->bits) {
            names.push_back(bit.name);
            bit_names.insert(bit.name);
            scope.emplace(bit.name, repeat);
            EXPECT_LT(bit.position, n.bits) << where(row, bit.name);
            EXPECT_TRUE(bit.active_state == 0 || bit.active_state == 1) << where(row, bit.name);
            const std::uint64_t mask = 1ull << bit.position;
            EXPECT_EQ(used & mask, 0u) << where(row, bit.name) << ": bit used twice or reserved";
            used |= mask;
        }
        // Every bit of a group is either named or reserved.
        EXPECT_EQ(used, all) << where(row, n.name);
    }
};

TEST(CatalogInvariants, EveryRowKeepsTheStructuralRules) {
    for (const Row& row : rows()) {
        Walk walk{row};
        std::uint64_t total = 0;
        for (const FieldNode& n : row.fields) {
            walk.node(n, 1, false);
            total += width(n);
        }
        ASSERT_FALSE(row.fields.empty()) << where(row);
        EXPECT_FALSE(row.name.empty()) << where(row);

        std::set<std::string_view> unique;
        for (std::string_view name : walk.names) {
            EXPECT_FALSE(name.empty()) << where(row);
            EXPECT_LE(name.size(), 64u) << where(row, name);
            EXPECT_TRUE(unique.insert(name).second) << where(row, name) << ": name used twice";
        }
        EXPECT_LE(walk.names.size(), 1024u) << where(row);
        EXPECT_LE(walk.max_depth, 8u) << where(row);

        switch (row.form.kind) {
            case RowForm::Kind::SubOctet:
                EXPECT_TRUE(row.form.size >= 1 && row.form.size <= 6) << where(row);
                EXPECT_EQ(total, row.form.size) << where(row);
                break;
            case RowForm::Kind::Octets:
                EXPECT_GE(row.form.size, 1u) << where(row);
                EXPECT_EQ(total, 8u * row.form.size) << where(row);
                break;
            case RowForm::Kind::Variable: {
                EXPECT_EQ(total % 8, 0u) << where(row);
                EXPECT_EQ(row.fields.back().kind, NodeKind::VariableText) << where(row);
                // The prefix holds only fixed-width values, never a second text.
                for (std::size_t i = 0; i + 1 < row.fields.size(); ++i) {
                    const NodeKind k = row.fields[i].kind;
                    EXPECT_TRUE(k == NodeKind::Scalar || k == NodeKind::Reserved ||
                                k == NodeKind::BitGroup || k == NodeKind::Record)
                        << where(row, row.fields[i].name);
                    if (k == NodeKind::Record) {
                        for (const FieldNode& c : row.fields[i].children) {
                            EXPECT_TRUE(c.kind == NodeKind::Scalar ||
                                        c.kind == NodeKind::Reserved ||
                                        c.kind == NodeKind::BitGroup)
                                << where(row, c.name);
                        }
                    }
                }
                break;
            }
        }
        if (row.form.kind != RowForm::Kind::Variable) {
            for (const FieldNode& n : row.fields) {
                EXPECT_NE(n.kind, NodeKind::VariableText) << where(row, n.name);
            }
        }

        // Control octet: at most one; either a single plain scalar beside it or several with
        // exactly one marked main.
        std::size_t controls = 0;
        std::size_t scalars = 0;
        std::size_t mains = 0;
        for (const FieldNode& n : row.fields) {
            controls += n.kind == NodeKind::ControlOctet;
            if (n.kind == NodeKind::Scalar) {
                ++scalars;
                mains += n.scalar.main;
            }
        }
        EXPECT_LE(controls, 1u) << where(row);
        if (controls == 1) {
            EXPECT_GE(scalars, 1u) << where(row);
            EXPECT_EQ(mains, scalars == 1 ? 0u : 1u) << where(row);
            EXPECT_EQ(row.availability, Availability::NotForGroupCommunication) << where(row);
            EXPECT_EQ(row.context, ContextRequirement::ServiceSelected) << where(row);
        } else {
            EXPECT_EQ(mains, 0u) << where(row);
            EXPECT_EQ(row.context, ContextRequirement::None) << where(row);
        }

        for (const ValidityEdge& edge : row.validity_edges) {
            EXPECT_TRUE(walk.bit_names.contains(edge.flag)) << where(row, edge.flag);
            EXPECT_TRUE(walk.scalar_names.contains(edge.target) ||
                        walk.bit_names.contains(edge.target))
                << where(row, edge.target);
            EXPECT_NE(edge.flag, edge.target) << where(row, edge.flag);
            EXPECT_EQ(walk.scope[edge.flag], walk.scope[edge.target]) << where(row, edge.target);
        }
        for (const CrossFieldRelation& rel : row.relations) {
            EXPECT_EQ(rel.kind, 0u) << where(row);
            EXPECT_TRUE(walk.scalar_names.contains(rel.field)) << where(row, rel.field);
            for (std::string_view op : rel.operands) {
                EXPECT_TRUE(walk.scalar_names.contains(op)) << where(row, op);
                EXPECT_EQ(walk.scope[rel.field], walk.scope[op]) << where(row, op);
            }
        }
    }
}

}  // namespace
}  // namespace tavrel::catalog
