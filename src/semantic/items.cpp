#include "semantic/items.hpp"

#include <limits>

#include "encoding/traverse.hpp"

namespace tavrel::semantic {

using catalog::Carrier;
using catalog::DescriptorKind;
using catalog::FieldNode;
using catalog::NodeKind;
using catalog::Slice;

namespace {

struct Walk {
    std::uint32_t wanted;
    std::uint32_t seen = 0;
    std::optional<ComposeItem> hit;

    // Counts `item`; true once the wanted one is reached.
    bool yield(const ComposeItem& item) {
        if (seen == wanted) {
            hit = item;
            return true;
        }
        ++seen;
        return false;
    }

    bool nodes(Slice<FieldNode> list, std::optional<std::string_view> scope, std::uint32_t depth) {
        if (depth > encoding::kMaxDepth) return false;
        for (const FieldNode& node : list) {
            if (this->node(node, scope, depth)) return true;
        }
        return false;
    }

    bool node(const FieldNode& node, std::optional<std::string_view> scope, std::uint32_t depth) {
        ComposeItem item;
        item.name = node.name;
        item.scope = scope;
        switch (node.kind) {
            case NodeKind::Scalar:
                item.kind = kItemScalar;
                item.parameter = input_kind(node.scalar);
                return yield(item);
            case NodeKind::BitGroup:
                if (node.group == nullptr) return false;
                for (const catalog::NamedBit& bit : node.group->bits) {
                    ComposeItem flag;
                    flag.name = bit.name;
                    flag.scope = scope;
                    flag.kind = kItemNamedBit;
                    if (yield(flag)) return true;
                }
                return false;
            case NodeKind::Chars:
                item.kind = kItemFixedText;
                item.parameter = node.count;
                item.reserves_nul = node.padded && node.pad == 0;
                item.repertoire = node.repertoire;
                return yield(item);
            case NodeKind::TerminatedText:
                item.kind = kItemFixedText;
                item.parameter = node.octets == 0 ? 0 : static_cast<std::uint16_t>(node.octets - 1);
                item.reserves_nul = node.terminator == 0;
                item.repertoire = node.repertoire;
                return yield(item);
            case NodeKind::VariableText:
                item.kind = kItemVariableText;
                item.reserves_nul = node.terminator == 0;
                item.repertoire = node.repertoire;
                return yield(item);
            case NodeKind::RepeatedGroup:
                item.kind = kItemRepeatedGroup;
                item.parameter = node.count;
                if (yield(item)) return true;
                return nodes(node.children, node.name, depth + 1);
            case NodeKind::Record:
                return nodes(node.children, scope, depth + 1);
            case NodeKind::Reserved:
            case NodeKind::ControlOctet:
                return false;
        }
        return false;
    }
};

}  // namespace

std::uint16_t input_kind(const catalog::Scalar& scalar) {
    switch (scalar.carrier) {
        case Carrier::Boolean:
            return kInputBoolean;
        case Carrier::Enumeration:
            return kInputEnumeration;
        case Carrier::Float16:
            return kInputDecimal;
        case Carrier::Float32:
            return kInputFloat32;
        case Carrier::Unsigned:
        case Carrier::Signed:
            if (scalar.descriptor.kind == DescriptorKind::Quantity) return kInputDecimal;
            if (scalar.descriptor.kind == DescriptorKind::Linear) return kInputLinear;
            return kInputInteger;
    }
    return kInputInteger;
}

std::optional<ComposeItem> item_at(Slice<FieldNode> fields, std::uint32_t position) {
    Walk walk{position};
    walk.nodes(fields, std::nullopt, 1);
    return walk.hit;
}

std::optional<ComposeItem> ComposeItems::next() {
    auto item = item_at(fields_, position_);
    if (item && position_ < std::numeric_limits<std::uint32_t>::max()) ++position_;
    return item;
}

}  // namespace tavrel::semantic
