// Walks over a row's field tree: widths, positions of named fields, leaf and visit counts, and the
// structural checks that bound every later walk. Each walk limits its depth, detects overflow of
// 32-bit bit positions and reports an EncodingError rather than failing in any other way. Nothing
// here allocates.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>
#include <utility>

#include "catalog/schema.hpp"
#include "encoding/error.hpp"

namespace tavrel::encoding {

using catalog::FieldNode;
using catalog::NodeKind;
using catalog::Slice;

// Nodes exist at depths 1 (the top level) to kMaxDepth.
inline constexpr std::uint32_t kMaxDepth = 8;
inline constexpr std::uint32_t kMaxFieldNodes = 1024;
inline constexpr std::uint32_t kMaxAddressableNames = 1024;
inline constexpr std::uint32_t kMaxNameBytes = 64;
inline constexpr std::uint32_t kMaxInstanceWork = 524288;

template <class T>
using Result = std::expected<T, EncodingError>;

inline bool is_container(const FieldNode& node) {
    return node.kind == NodeKind::Record || node.kind == NodeKind::RepeatedGroup;
}

// Width in bits of one node as declared; containers at depth kMaxDepth or deeper are refused.
Result<std::uint32_t> node_bits(const FieldNode& node, std::uint32_t depth);
// Sum of the widths of a top-level node list.
Result<std::uint32_t> tree_bits(Slice<FieldNode> nodes);
// Sum of the widths of a node list whose nodes stand at `depth`.
Result<std::uint32_t> nodes_bits_at(Slice<FieldNode> nodes, std::uint32_t depth);

struct Location {
    enum class Kind : std::uint8_t { Absent, Found, InsideRepeatedGroup };
    Kind kind = Kind::Absent;
    std::uint32_t position = 0;       // Found: bit position of the node
    const FieldNode* node = nullptr;  // Found: the node itself
    std::uint32_t depth = 0;          // Found: depth the node stands at
};

// Where `name` lies when `nodes` (at `depth`) start at bit `start`. A name that lives only inside
// a repeated group has no single position and is reported as such.
Result<Location> locate_from(Slice<FieldNode> nodes, std::string_view name, std::uint32_t start,
                             std::uint32_t depth);
// Whether any node at or below `nodes` carries `name` (named bits are not nodes).
Result<bool> contains(Slice<FieldNode> nodes, std::string_view name, std::uint32_t depth);
// Adds to `counter` the nodes and named bits called `name`; stops once it is above 1.
Result<void> count_named(Slice<FieldNode> nodes, std::string_view name, std::uint32_t depth,
                         std::uint32_t& counter);
Result<std::uint32_t> tree_leaves_at(Slice<FieldNode> nodes, std::uint32_t depth);
// Node visits a full walk makes, repeated groups counted per instance; above kMaxInstanceWork
// the tree is refused.
Result<std::uint32_t> instance_work_at(Slice<FieldNode> nodes, std::uint32_t depth);
Result<void> count_field_nodes(Slice<FieldNode> nodes, std::uint32_t depth, std::uint32_t& counter);
Result<void> count_addressable_names(Slice<FieldNode> nodes, std::uint32_t depth,
                                     std::uint32_t& counter);
// The first name (node or named bit, in pre-order) that occurs more than once in the tree.
Result<std::optional<std::string_view>> duplicate_field_name(Slice<FieldNode> nodes);
// Name of the first VariableText in pre-order; none beyond kMaxDepth.
std::optional<std::string_view> variable_field_at(Slice<FieldNode> nodes, std::uint32_t depth);

struct Misaligned {
    std::string_view name;
    std::uint32_t bit = 0;
};
// The first character container that does not start on an octet boundary.
Result<std::optional<Misaligned>> misaligned_char_field_at(Slice<FieldNode> nodes,
                                                           std::uint32_t start,
                                                           std::uint32_t depth);
// Refuses nodes standing where no per-instance or control-octet reading reaches them.
Result<void> shape_reach_at(Slice<FieldNode> nodes, bool inside_record, bool inside_repeat,
                            std::uint32_t depth);
// Records the control octet outside repeated groups in `found`; refuses a second one and any
// inside a repeated group.
Result<void> check_z8_placement(Slice<FieldNode> nodes, std::uint32_t depth, bool inside_repeat,
                                const FieldNode*& found);

struct Z8Shape {
    const FieldNode* control = nullptr;  // none when the row has no control octet
    const FieldNode* main = nullptr;     // the top-level scalar the control octet qualifies
};
Result<Z8Shape> check_z8_shape(Slice<FieldNode> nodes);
bool declares_repeat_at(const FieldNode& node, std::uint32_t depth);

// Visits every non-container node in tree order with its bit position: records at their own
// position, each instance i of a repeated group at position + i x instance width. The visitor is
// called as visit(const FieldNode&, std::uint32_t position) -> Result<void>; its first fault ends
// the walk.
template <class Visitor>
Result<void> walk_leaves_at(Slice<FieldNode> nodes, std::uint32_t start, std::uint32_t depth,
                            Visitor&& visit) {
    if (depth > kMaxDepth)
        return std::unexpected(EncodingError::unrepresentable_nesting(kMaxDepth));
    std::uint32_t position = start;
    for (const FieldNode& node : nodes) {
        if (node.kind == NodeKind::Record) {
            if (auto r = walk_leaves_at(node.children, position, depth + 1, visit); !r) return r;
        } else if (node.kind == NodeKind::RepeatedGroup) {
            if (depth >= kMaxDepth) {
                return std::unexpected(EncodingError::unrepresentable_nesting(kMaxDepth));
            }
            auto width = nodes_bits_at(node.children, depth + 1);
            if (!width) return std::unexpected(width.error());
            for (std::uint32_t i = 0; i < node.count; ++i) {
                std::uint32_t offset = 0;
                std::uint32_t instance = 0;
                if (__builtin_mul_overflow(*width, i, &offset) ||
                    __builtin_add_overflow(position, offset, &instance)) {
                    return std::unexpected(EncodingError::unrepresentable_span(node.name));
                }
                if (auto r = walk_leaves_at(node.children, instance, depth + 1, visit); !r) {
                    return r;
                }
            }
        } else {
            if (auto r = visit(node, position); !r) return r;
        }
        auto width = node_bits(node, depth);
        if (!width) return std::unexpected(width.error());
        if (__builtin_add_overflow(position, *width, &position)) {
            return std::unexpected(EncodingError::unrepresentable_span(node.name));
        }
    }
    return {};
}

}  // namespace tavrel::encoding
