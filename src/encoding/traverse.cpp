#include "encoding/traverse.hpp"

namespace tavrel::encoding {

namespace {

std::unexpected<EncodingError> too_deep() {
    return std::unexpected(EncodingError::unrepresentable_nesting(kMaxDepth));
}

}  // namespace

Result<std::uint32_t> nodes_bits_at(Slice<FieldNode> nodes, std::uint32_t depth) {
    std::uint32_t sum = 0;
    for (const FieldNode& node : nodes) {
        auto width = node_bits(node, depth);
        if (!width) return width;
        if (__builtin_add_overflow(sum, *width, &sum)) {
            return std::unexpected(EncodingError::unrepresentable_span(node.name));
        }
    }
    return sum;
}

Result<std::uint32_t> node_bits(const FieldNode& node, std::uint32_t depth) {
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
            return 0u;
        case NodeKind::ControlOctet:
            return 8u;
        case NodeKind::Record:
        case NodeKind::RepeatedGroup:
            break;
    }
    if (depth >= kMaxDepth) return too_deep();
    auto sum = nodes_bits_at(node.children, depth + 1);
    if (!sum || node.kind == NodeKind::Record) return sum;
    std::uint32_t total = 0;
    if (__builtin_mul_overflow(*sum, std::uint32_t{node.count}, &total)) {
        return std::unexpected(EncodingError::unrepresentable_span(node.name));
    }
    return total;
}

Result<std::uint32_t> tree_bits(Slice<FieldNode> nodes) {
    return nodes_bits_at(nodes, 1);
}

Result<Location> locate_from(Slice<FieldNode> nodes, std::string_view name, std::uint32_t start,
                             std::uint32_t depth) {
    if (depth > kMaxDepth) return too_deep();
    std::uint32_t position = start;
    for (const FieldNode& node : nodes) {
        if (node.name == name) {
            return Location{Location::Kind::Found, position, &node, depth};
        }
        if (node.kind == NodeKind::Record) {
            auto inner = locate_from(node.children, name, position, depth + 1);
            if (!inner || inner->kind != Location::Kind::Absent) return inner;
        } else if (node.kind == NodeKind::RepeatedGroup) {
            auto inside = contains(node.children, name, depth + 1);
            if (!inside) return std::unexpected(inside.error());
            if (*inside) return Location{Location::Kind::InsideRepeatedGroup};
        }
        auto width = node_bits(node, depth);
        if (!width) return std::unexpected(width.error());
        if (__builtin_add_overflow(position, *width, &position)) {
            return std::unexpected(EncodingError::unrepresentable_span(node.name));
        }
    }
    return Location{};
}

Result<bool> contains(Slice<FieldNode> nodes, std::string_view name, std::uint32_t depth) {
    if (depth > kMaxDepth) return too_deep();
    for (const FieldNode& node : nodes) {
        if (node.name == name) return true;
        if (is_container(node)) {
            auto inner = contains(node.children, name, depth + 1);
            if (!inner || *inner) return inner;
        }
    }
    return false;
}

Result<void> count_named(Slice<FieldNode> nodes, std::string_view name, std::uint32_t depth,
                         std::uint32_t& counter) {
    if (depth > kMaxDepth) return too_deep();
    for (const FieldNode& node : nodes) {
        if (counter > 1) break;
        if (node.name == name) ++counter;
        if (node.kind == NodeKind::BitGroup && node.group != nullptr) {
            for (const catalog::NamedBit& bit : node.group->bits) {
                if (bit.name == name) ++counter;
            }
        }
        if (is_container(node)) {
            if (auto r = count_named(node.children, name, depth + 1, counter); !r) return r;
        }
    }
    return {};
}

Result<std::uint32_t> tree_leaves_at(Slice<FieldNode> nodes, std::uint32_t depth) {
    if (depth > kMaxDepth) return too_deep();
    std::uint32_t sum = 0;
    for (const FieldNode& node : nodes) {
        std::uint32_t leaves = 1;
        if (is_container(node)) {
            auto inner = tree_leaves_at(node.children, depth + 1);
            if (!inner) return inner;
            leaves = *inner;
            if (node.kind == NodeKind::RepeatedGroup) {
                if (leaves == 0 ||
                    __builtin_mul_overflow(leaves, std::uint32_t{node.count}, &leaves)) {
                    return std::unexpected(EncodingError::unbounded_traversal(node.name));
                }
            }
        }
        if (__builtin_add_overflow(sum, leaves, &sum)) {
            return std::unexpected(EncodingError::unbounded_traversal(node.name));
        }
    }
    return sum;
}

Result<std::uint32_t> instance_work_at(Slice<FieldNode> nodes, std::uint32_t depth) {
    if (depth > kMaxDepth) return too_deep();
    const auto unwalkable = std::unexpected(EncodingError::unwalkable_tree(kMaxInstanceWork));
    std::uint32_t total = 0;
    for (const FieldNode& node : nodes) {
        std::uint32_t cost = 1;
        if (is_container(node)) {
            auto inner = instance_work_at(node.children, depth + 1);
            if (!inner) return inner;
            std::uint32_t below = *inner;
            if (node.kind == NodeKind::RepeatedGroup &&
                __builtin_mul_overflow(below, std::uint32_t{node.count}, &below)) {
                return unwalkable;
            }
            if (__builtin_add_overflow(cost, below, &cost)) return unwalkable;
        }
        if (__builtin_add_overflow(total, cost, &total) || total > kMaxInstanceWork) {
            return unwalkable;
        }
    }
    return total;
}

Result<void> count_field_nodes(Slice<FieldNode> nodes, std::uint32_t depth,
                               std::uint32_t& counter) {
    if (depth > kMaxDepth) return too_deep();
    for (const FieldNode& node : nodes) {
        if (++counter > kMaxFieldNodes) {
            return std::unexpected(EncodingError::unjudged_field_names(kMaxFieldNodes));
        }
        if (is_container(node)) {
            if (auto r = count_field_nodes(node.children, depth + 1, counter); !r) return r;
        }
    }
    return {};
}

Result<void> count_addressable_names(Slice<FieldNode> nodes, std::uint32_t depth,
                                     std::uint32_t& counter) {
    if (depth > kMaxDepth) return too_deep();
    auto judge = [&](std::string_view name) -> Result<void> {
        if (++counter > kMaxAddressableNames) {
            return std::unexpected(EncodingError::unjudged_field_names(kMaxAddressableNames));
        }
        if (name.size() > kMaxNameBytes) {
            return std::unexpected(EncodingError::unjudged_name_length(kMaxNameBytes));
        }
        return {};
    };
    for (const FieldNode& node : nodes) {
        if (auto r = judge(node.name); !r) return r;
        if (node.kind == NodeKind::BitGroup && node.group != nullptr) {
            for (const catalog::NamedBit& bit : node.group->bits) {
                if (auto r = judge(bit.name); !r) return r;
            }
        }
        if (is_container(node)) {
            if (auto r = count_addressable_names(node.children, depth + 1, counter); !r) return r;
        }
    }
    return {};
}

namespace {

Result<std::optional<std::string_view>> first_repeated_name(Slice<FieldNode> whole,
                                                            Slice<FieldNode> nodes,
                                                            std::uint32_t depth) {
    if (depth > kMaxDepth) return too_deep();
    auto repeated = [&](std::string_view name) -> Result<bool> {
        std::uint32_t counter = 0;
        if (auto r = count_named(whole, name, 1, counter); !r) return std::unexpected(r.error());
        return counter > 1;
    };
    for (const FieldNode& node : nodes) {
        auto hit = repeated(node.name);
        if (!hit) return std::unexpected(hit.error());
        if (*hit) return node.name;
        if (node.kind == NodeKind::BitGroup && node.group != nullptr) {
            for (const catalog::NamedBit& bit : node.group->bits) {
                auto bit_hit = repeated(bit.name);
                if (!bit_hit) return std::unexpected(bit_hit.error());
                if (*bit_hit) return bit.name;
            }
        }
        if (is_container(node)) {
            auto inner = first_repeated_name(whole, node.children, depth + 1);
            if (!inner || inner->has_value()) return inner;
        }
    }
    return std::nullopt;
}

}  // namespace

Result<std::optional<std::string_view>> duplicate_field_name(Slice<FieldNode> nodes) {
    std::uint32_t counter = 0;
    if (auto r = count_addressable_names(nodes, 1, counter); !r) return std::unexpected(r.error());
    return first_repeated_name(nodes, nodes, 1);
}

std::optional<std::string_view> variable_field_at(Slice<FieldNode> nodes, std::uint32_t depth) {
    if (depth > kMaxDepth) return std::nullopt;
    for (const FieldNode& node : nodes) {
        if (node.kind == NodeKind::VariableText) return node.name;
        if (is_container(node)) {
            if (auto inner = variable_field_at(node.children, depth + 1)) return inner;
        }
    }
    return std::nullopt;
}

Result<std::optional<Misaligned>> misaligned_char_field_at(Slice<FieldNode> nodes,
                                                           std::uint32_t start,
                                                           std::uint32_t depth) {
    if (depth > kMaxDepth) return too_deep();
    std::uint32_t position = start;
    for (const FieldNode& node : nodes) {
        switch (node.kind) {
            case NodeKind::Chars:
            case NodeKind::TerminatedText:
            case NodeKind::VariableText:
                if (position % 8 != 0) return Misaligned{node.name, position};
                break;
            case NodeKind::Record: {
                auto inner = misaligned_char_field_at(node.children, position, depth + 1);
                if (!inner || inner->has_value()) return inner;
                break;
            }
            case NodeKind::RepeatedGroup: {
                if (depth >= kMaxDepth) return too_deep();
                auto width = nodes_bits_at(node.children, depth + 1);
                if (!width) return std::unexpected(width.error());
                for (std::uint32_t i = 0; i < node.count; ++i) {
                    std::uint32_t offset = 0;
                    std::uint32_t instance = 0;
                    if (__builtin_mul_overflow(*width, i, &offset) ||
                        __builtin_add_overflow(position, offset, &instance)) {
                        return std::unexpected(EncodingError::unrepresentable_span(node.name));
                    }
                    auto inner = misaligned_char_field_at(node.children, instance, depth + 1);
                    if (!inner || inner->has_value()) return inner;
                }
                break;
            }
            default:
                break;
        }
        auto width = node_bits(node, depth);
        if (!width) return std::unexpected(width.error());
        if (__builtin_add_overflow(position, *width, &position)) {
            return std::unexpected(EncodingError::unrepresentable_span(node.name));
        }
    }
    return std::nullopt;
}

Result<void> shape_reach_at(Slice<FieldNode> nodes, bool inside_record, bool inside_repeat,
                            std::uint32_t depth) {
    if (depth > kMaxDepth) return too_deep();
    for (const FieldNode& node : nodes) {
        switch (node.kind) {
            case NodeKind::ControlOctet:
                if (inside_record) {
                    return std::unexpected(EncodingError::nested_z8_control(node.name));
                }
                break;
            case NodeKind::Chars:
            case NodeKind::TerminatedText:
                if (inside_repeat) {
                    return std::unexpected(EncodingError::unreachable_repeat_chars(node.name));
                }
                break;
            case NodeKind::Record:
                if (auto r = shape_reach_at(node.children, true, inside_repeat, depth + 1); !r) {
                    return r;
                }
                break;
            case NodeKind::RepeatedGroup:
                if (inside_repeat) {
                    return std::unexpected(EncodingError::unreachable_repeat_nesting(node.name));
                }
                if (auto r = shape_reach_at(node.children, inside_record, true, depth + 1); !r) {
                    return r;
                }
                break;
            default:
                break;
        }
    }
    return {};
}

Result<void> check_z8_placement(Slice<FieldNode> nodes, std::uint32_t depth, bool inside_repeat,
                                const FieldNode*& found) {
    if (depth > kMaxDepth) return too_deep();
    for (const FieldNode& node : nodes) {
        if (node.kind == NodeKind::ControlOctet) {
            if (inside_repeat) {
                return std::unexpected(EncodingError::unreachable_z8_control(node.name));
            }
            if (found != nullptr) {
                return std::unexpected(EncodingError::duplicate_z8_control(node.name));
            }
            found = &node;
        } else if (is_container(node)) {
            bool repeat = inside_repeat || node.kind == NodeKind::RepeatedGroup;
            if (auto r = check_z8_placement(node.children, depth + 1, repeat, found); !r) {
                return r;
            }
        }
    }
    return {};
}

Result<Z8Shape> check_z8_shape(Slice<FieldNode> nodes) {
    Z8Shape shape;
    if (auto r = check_z8_placement(nodes, 1, false, shape.control); !r) {
        return std::unexpected(r.error());
    }
    if (shape.control == nullptr) return shape;
    std::uint32_t scalars = 0;
    std::uint32_t mains = 0;
    const FieldNode* sole = nullptr;
    const FieldNode* designated = nullptr;
    for (const FieldNode& node : nodes) {
        if (node.kind != NodeKind::Scalar) continue;
        ++scalars;
        sole = &node;
        if (node.scalar.main) {
            ++mains;
            designated = &node;
        }
    }
    if (mains == 1) {
        shape.main = designated;
    } else if (mains == 0 && scalars == 1) {
        shape.main = sole;
    } else {
        return std::unexpected(EncodingError::unpaired_z8_control(scalars, mains));
    }
    return shape;
}

bool declares_repeat_at(const FieldNode& node, std::uint32_t depth) {
    if (node.kind == NodeKind::RepeatedGroup) return true;
    if (node.kind != NodeKind::Record || depth >= kMaxDepth) return false;
    for (const FieldNode& child : node.children) {
        if (declares_repeat_at(child, depth + 1)) return true;
    }
    return false;
}

}  // namespace tavrel::encoding
