// Small hand-built field trees for the encoding tests. Arrays of nodes must outlive the rows that
// borrow them, so tests keep them in static storage.
#pragma once

#include <cstdint>
#include <string_view>

#include "catalog/schema.hpp"
#include "encoding/error.hpp"

namespace tavrel::encoding::fixture {

using catalog::BitGroupDef;
using catalog::FieldNode;
using catalog::NodeKind;
using catalog::Row;
using catalog::RowForm;
using catalog::Slice;

constexpr FieldNode scalar(std::string_view name, std::uint8_t bits, bool main = false) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::Scalar;
    n.scalar.bits = bits;
    n.scalar.main = main;
    return n;
}

constexpr FieldNode reserved(std::string_view name, std::uint8_t bits, bool unchecked = false) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::Reserved;
    n.bits = bits;
    n.unchecked = unchecked;
    return n;
}

constexpr FieldNode bit_group(std::string_view name, std::uint8_t bits, const BitGroupDef* def) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::BitGroup;
    n.bits = bits;
    n.group = def;
    return n;
}

constexpr FieldNode chars(std::string_view name, std::uint16_t count, bool padded = false,
                          std::uint8_t pad = 0) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::Chars;
    n.count = count;
    n.padded = padded;
    n.pad = pad;
    return n;
}

constexpr FieldNode text(std::string_view name, std::uint16_t octets, std::uint8_t end = 0) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::TerminatedText;
    n.octets = octets;
    n.terminator = end;
    return n;
}

constexpr FieldNode variable(std::string_view name, std::uint8_t end = 0) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::VariableText;
    n.terminator = end;
    return n;
}

constexpr FieldNode control(std::string_view name) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::ControlOctet;
    return n;
}

constexpr FieldNode record(std::string_view name, Slice<FieldNode> children) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::Record;
    n.children = children;
    return n;
}

constexpr FieldNode repeated(std::string_view name, Slice<FieldNode> children,
                             std::uint16_t count) {
    FieldNode n;
    n.name = name;
    n.kind = NodeKind::RepeatedGroup;
    n.children = children;
    n.count = count;
    return n;
}

constexpr Row row_of(Slice<FieldNode> fields, RowForm form) {
    Row r;
    r.name = "test";
    r.fields = fields;
    r.form = form;
    return r;
}

constexpr RowForm sub_octet(std::uint16_t bits) {
    return {RowForm::Kind::SubOctet, bits};
}
constexpr RowForm octets(std::uint16_t count) {
    return {RowForm::Kind::Octets, count};
}
constexpr RowForm variable_form() {
    return {RowForm::Kind::Variable, 0};
}

}  // namespace tavrel::encoding::fixture

#include <ostream>

namespace tavrel::encoding {

// Readable failures: gtest prints the fault's code and text instead of raw bytes.
inline void PrintTo(const EncodingError& e, std::ostream* os) {
    *os << e.code() << ": " << e.message();
}

}  // namespace tavrel::encoding
