#include "semantic/fields.hpp"

#include "encoding/traverse.hpp"

namespace tavrel::semantic {

using catalog::NodeKind;

namespace {

constexpr std::uint32_t kMaxDepth = encoding::kMaxDepth;

bool is_container(const FieldNode& node) {
    return node.kind == NodeKind::Record || node.kind == NodeKind::RepeatedGroup;
}

const FieldNode* find_node(Slice<FieldNode> nodes, std::string_view name, NodeKind kind,
                           std::uint32_t depth) {
    if (depth > kMaxDepth) return nullptr;
    for (const FieldNode& node : nodes) {
        if (node.kind == kind && node.name == name) return &node;
        if (is_container(node)) {
            if (const FieldNode* hit = find_node(node.children, name, kind, depth + 1)) return hit;
        }
    }
    return nullptr;
}

NamedBitRef find_bit(Slice<FieldNode> nodes, std::string_view name, std::uint32_t depth) {
    if (depth > kMaxDepth) return {};
    for (const FieldNode& node : nodes) {
        if (node.kind == NodeKind::BitGroup && node.group != nullptr) {
            for (const catalog::NamedBit& bit : node.group->bits) {
                if (bit.name == name) return NamedBitRef{&bit, &node};
            }
        }
        if (is_container(node)) {
            if (NamedBitRef hit = find_bit(node.children, name, depth + 1)) return hit;
        }
    }
    return {};
}

void count_names(Slice<FieldNode> nodes, std::string_view name, std::uint32_t depth,
                 std::uint32_t& counter) {
    if (depth > kMaxDepth) return;
    for (const FieldNode& node : nodes) {
        if (counter >= 2) return;
        if (node.name == name) ++counter;
        if (node.kind == NodeKind::BitGroup && node.group != nullptr) {
            for (const catalog::NamedBit& bit : node.group->bits) {
                if (counter >= 2) return;
                if (bit.name == name) ++counter;
            }
        }
        if (is_container(node)) count_names(node.children, name, depth + 1, counter);
    }
}

const FieldNode* find_control(Slice<FieldNode> nodes, std::uint32_t depth) {
    if (depth > kMaxDepth) return nullptr;
    for (const FieldNode& node : nodes) {
        if (node.kind == NodeKind::ControlOctet) return &node;
        if (node.kind == NodeKind::Record) {
            if (const FieldNode* hit = find_control(node.children, depth + 1)) return hit;
        }
    }
    return nullptr;
}

std::optional<std::string_view> find_text(Slice<FieldNode> nodes, std::string_view name,
                                          std::uint32_t depth) {
    if (depth > kMaxDepth) return std::nullopt;
    for (const FieldNode& node : nodes) {
        if (node.name == name) return node.name;
        if (node.kind == NodeKind::BitGroup && node.group != nullptr) {
            for (const catalog::NamedBit& bit : node.group->bits) {
                if (bit.name == name) return bit.name;
            }
        }
        if (is_container(node)) {
            if (auto hit = find_text(node.children, name, depth + 1)) return hit;
        }
    }
    return std::nullopt;
}

const FieldNode* find_enclosing(Slice<FieldNode> nodes, std::string_view name,
                                std::uint32_t depth) {
    if (depth > kMaxDepth) return nullptr;
    for (const FieldNode& node : nodes) {
        if (node.kind == NodeKind::RepeatedGroup) {
            if (count_declarations(node.children, name) > 0) return &node;
        } else if (node.kind == NodeKind::Record) {
            if (const FieldNode* hit = find_enclosing(node.children, name, depth + 1)) return hit;
        }
    }
    return nullptr;
}

}  // namespace

const FieldNode* main_field(Slice<FieldNode> fields) {
    const FieldNode* marked = nullptr;
    const FieldNode* only = nullptr;
    std::uint32_t marked_count = 0;
    std::uint32_t scalar_count = 0;
    for (const FieldNode& node : fields) {
        if (node.kind != NodeKind::Scalar) continue;
        ++scalar_count;
        only = &node;
        if (node.scalar.main) {
            ++marked_count;
            marked = &node;
        }
    }
    if (marked_count == 1) return marked;
    if (marked_count == 0 && scalar_count == 1) return only;
    return nullptr;
}

const FieldNode* find_named_scalar(Slice<FieldNode> fields, std::string_view name) {
    return find_node(fields, name, NodeKind::Scalar, 1);
}

NamedBitRef find_named_bit(Slice<FieldNode> fields, std::string_view name) {
    return find_bit(fields, name, 1);
}

const FieldNode* find_repeat(Slice<FieldNode> fields, std::string_view name) {
    return find_node(fields, name, NodeKind::RepeatedGroup, 1);
}

bool declared_name(Slice<FieldNode> fields, std::string_view name) {
    return count_declarations(fields, name) > 0;
}

std::optional<std::string_view> declaration_text(Slice<FieldNode> fields, std::string_view name) {
    return find_text(fields, name, 1);
}

std::uint32_t count_declarations(Slice<FieldNode> fields, std::string_view name) {
    std::uint32_t counter = 0;
    count_names(fields, name, 1, counter);
    return counter;
}

const FieldNode* z8_field(Slice<FieldNode> fields) {
    return find_control(fields, 1);
}

const FieldNode* enclosing_repeat(Slice<FieldNode> fields, std::string_view name) {
    return find_enclosing(fields, name, 1);
}

}  // namespace tavrel::semantic
