// Name look-ups in a row's field tree. All search depth first in declaration order, entering
// records and repeated groups (z8_field excepted), and compare names byte for byte. Walks stop at
// the tree depth the encoding engine admits.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "catalog/schema.hpp"

namespace tavrel::semantic {

using catalog::FieldNode;
using catalog::Slice;

// The row's main value field: the one top-level scalar marked main, or the sole top-level scalar
// when none is marked; otherwise none.
const FieldNode* main_field(Slice<FieldNode> fields);

// The first Scalar node called `name`.
const FieldNode* find_named_scalar(Slice<FieldNode> fields, std::string_view name);

struct NamedBitRef {
    const catalog::NamedBit* bit = nullptr;  // the bit's definition
    const FieldNode* group = nullptr;        // the BitGroup node holding it (name and width)
    explicit operator bool() const { return bit != nullptr; }
};
// The first named bit called `name` inside a BitGroup.
NamedBitRef find_named_bit(Slice<FieldNode> fields, std::string_view name);

// The first RepeatedGroup called `name`.
const FieldNode* find_repeat(Slice<FieldNode> fields, std::string_view name);

// Whether any node (containers included) or named bit carries `name`.
bool declared_name(Slice<FieldNode> fields, std::string_view name);

// The catalogue's own text of the first declaration (node or named bit) called `name`, so that a
// fault can name it without borrowing the caller's text; none when the name is not declared.
std::optional<std::string_view> declaration_text(Slice<FieldNode> fields, std::string_view name);

// Nodes and named bits called `name`, counting no further than 2.
std::uint32_t count_declarations(Slice<FieldNode> fields, std::string_view name);

// The first ControlOctet, searching into records but not into repeated groups.
const FieldNode* z8_field(Slice<FieldNode> fields);

// The RepeatedGroup (searching into records, not into groups) whose children declare `name`, or
// none when the name is declared outside every group or nowhere.
const FieldNode* enclosing_repeat(Slice<FieldNode> fields, std::string_view name);

}  // namespace tavrel::semantic
