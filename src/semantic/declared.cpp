#include "semantic/declared.hpp"

#include <algorithm>

#include "encoding/schema_seam.hpp"
#include "encoding/traverse.hpp"
#include "semantic/fields.hpp"

namespace tavrel::semantic {

using catalog::FieldNode;
using catalog::NodeKind;
using catalog::Row;
using catalog::Slice;

namespace {

constexpr std::uint32_t kMaxDepth = encoding::kMaxDepth;

std::unexpected<SemanticError> over(std::uint64_t limit) {
    return std::unexpected(SemanticError::unwalkable_lists(limit));
}

// The longest list a single scalar makes a walk scan: special values, entries and bands.
std::uint64_t widest_scalar_list(Slice<FieldNode> nodes, std::uint32_t depth) {
    std::uint64_t widest = 0;
    if (depth > kMaxDepth) return widest;
    for (const FieldNode& node : nodes) {
        if (node.kind == NodeKind::Scalar) {
            std::uint64_t n = node.scalar.special_values.size();
            if (node.scalar.code_table != nullptr) {
                n += node.scalar.code_table->entries.size() + node.scalar.code_table->bands.size();
            }
            widest = std::max(widest, n);
        } else if (encoding::is_container(node)) {
            widest = std::max(widest, widest_scalar_list(node.children, depth + 1));
        }
    }
    return widest;
}

// Scalar visits of a full sweep, repeated groups counted per instance; none on overflow.
std::optional<std::uint64_t> scalar_visits(Slice<FieldNode> nodes, std::uint32_t depth) {
    if (depth > kMaxDepth) return std::nullopt;
    std::uint64_t total = 0;
    for (const FieldNode& node : nodes) {
        std::uint64_t n = 0;
        if (node.kind == NodeKind::Scalar) {
            n = 1;
        } else if (encoding::is_container(node)) {
            auto inner = scalar_visits(node.children, depth + 1);
            if (!inner) return std::nullopt;
            n = *inner;
            if (node.kind == NodeKind::RepeatedGroup &&
                __builtin_mul_overflow(n, std::uint64_t{node.count}, &n)) {
                return std::nullopt;
            }
        }
        if (__builtin_add_overflow(total, n, &total)) return std::nullopt;
    }
    return total;
}

bool resolve_in(Slice<FieldNode> nodes, std::string_view name, const FieldNode* scope,
                std::uint32_t depth, ResolvedName& out) {
    if (depth > kMaxDepth) return false;
    for (const FieldNode& node : nodes) {
        if (node.name == name) {
            switch (node.kind) {
                case NodeKind::Scalar:
                    out.kind = ResolvedName::Kind::ValueField;
                    break;
                case NodeKind::Reserved:
                case NodeKind::TerminatedText:
                case NodeKind::VariableText:
                    out.kind = ResolvedName::Kind::PlainField;
                    break;
                default:
                    out.kind = ResolvedName::Kind::Container;
                    break;
            }
            out.scope = scope;
            return true;
        }
        if (node.kind == NodeKind::BitGroup && node.group != nullptr) {
            for (const catalog::NamedBit& bit : node.group->bits) {
                if (bit.name == name) {
                    out.kind = ResolvedName::Kind::NamedBit;
                    out.scope = scope;
                    return true;
                }
            }
        }
        if (node.kind == NodeKind::Record) {
            if (resolve_in(node.children, name, scope, depth + 1, out)) return true;
        } else if (node.kind == NodeKind::RepeatedGroup && scope == nullptr) {
            // A group inside a group is never entered: no reader opens such a scope.
            if (resolve_in(node.children, name, &node, depth + 1, out)) return true;
        }
    }
    return false;
}

}  // namespace

ResolvedName resolve_name(Slice<FieldNode> fields, std::string_view name) {
    ResolvedName out;
    resolve_in(fields, name, nullptr, 1, out);
    return out;
}

namespace {

Result<void> prove_declared_work(const Row& row) {
    std::uint64_t edges = row.validity_edges.size();
    std::uint64_t list = edges;
    for (const catalog::CrossFieldRelation& relation : row.relations) {
        if (list > kListWorkBudget) return over(kListWorkBudget);
        list += relation.operands.size() + 1;
    }
    if (list > kListWorkBudget) return over(kListWorkBudget);

    std::uint64_t lists = list + widest_scalar_list(row.fields, 1);
    if (lists > kListWorkBudget) return over(kListWorkBudget);

    auto instance = encoding::instance_work(row);
    if (!instance) return std::unexpected(SemanticError::from_encoding(instance.error()));
    if (lists * std::uint64_t{*instance} > kInstanceWorkBudget) return over(kInstanceWorkBudget);

    auto resolution = encoding::resolution_work(row);
    if (!resolution) return std::unexpected(SemanticError::from_encoding(resolution.error()));

    auto scalars = scalar_visits(row.fields, 1);
    if (!scalars) return over(kTotalWorkBudget);
    std::uint64_t relation_visits = 0;
    for (const catalog::CrossFieldRelation& relation : row.relations) {
        std::uint64_t per = relation.operands.size() + 1;
        std::uint64_t instances = 1;
        if (const FieldNode* group = enclosing_repeat(row.fields, relation.field)) {
            instances = group->count;
        }
        std::uint64_t visits = 0;
        if (__builtin_mul_overflow(per, instances, &visits) ||
            __builtin_add_overflow(relation_visits, visits, &relation_visits)) {
            return over(kTotalWorkBudget);
        }
    }
    std::uint64_t total = 0;
    if (__builtin_add_overflow(relation_visits, *scalars, &total) ||
        __builtin_mul_overflow(total, edges + 1, &total) ||
        __builtin_mul_overflow(total, std::uint64_t{*resolution}, &total) ||
        total > kTotalWorkBudget) {
        return over(kTotalWorkBudget);
    }

    if (const FieldNode* control = z8_field(row.fields);
        control != nullptr && row.context == catalog::ContextRequirement::None) {
        return std::unexpected(SemanticError::undeclared_z8_context(control->name));
    }
    return check_declared_references(row);
}

}  // namespace

Result<void> check_declared_work(const Row& row) {
    static constinit catalog::RowProofs proven;
    return proven.prove(row, prove_declared_work);
}

Result<void> check_declared_references(const Row& row) {
    using K = ResolvedName::Kind;
    for (const catalog::ValidityEdge& edge : row.validity_edges) {
        ResolvedName flag = resolve_name(row.fields, edge.flag);
        if (flag.kind != K::NamedBit) {
            return std::unexpected(SemanticError::unresolved_validity_flag(edge.flag));
        }
        ResolvedName target = resolve_name(row.fields, edge.target);
        bool queried = target.kind == K::ValueField || target.kind == K::NamedBit ||
                       (target.kind == K::PlainField && target.scope == nullptr);
        if (!queried) {
            return std::unexpected(SemanticError::unqueried_validity_target(edge.target));
        }
        if (edge.flag == edge.target) {
            return std::unexpected(SemanticError::self_gating_validity_flag(edge.flag));
        }
        if (flag.scope != target.scope) {
            return std::unexpected(SemanticError::split_validity_scope(edge.flag, edge.target));
        }
    }
    for (const catalog::CrossFieldRelation& relation : row.relations) {
        for (std::string_view operand : relation.operands) {
            if (resolve_name(row.fields, operand).kind != K::ValueField) {
                return std::unexpected(SemanticError::unresolved_cross_field_name(operand));
            }
        }
        const FieldNode* scope = resolve_name(row.fields, relation.field).scope;
        for (std::string_view operand : relation.operands) {
            if (resolve_name(row.fields, operand).scope != scope) {
                return std::unexpected(
                    SemanticError::split_cross_field_scope(relation.field, operand));
            }
        }
    }
    return {};
}

}  // namespace tavrel::semantic
