#include "encoding/error.hpp"

#include <charconv>

namespace tavrel::encoding {

namespace {

using Kind = EncodingError::Kind;

EncodingError of(Kind kind) {
    EncodingError e;
    e.kind = kind;
    return e;
}

EncodingError named(Kind kind, std::string_view field) {
    EncodingError e = of(kind);
    e.field = field;
    return e;
}

void append_decimal(std::string& out, std::uint64_t value) {
    char text[24];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

void append_hex(std::string& out, std::uint64_t value, int min_digits) {
    char text[24];
    auto end = std::to_chars(text, text + sizeof text, value, 16).ptr;
    for (int n = static_cast<int>(end - text); n < min_digits; ++n) out.push_back('0');
    for (char* c = text; c != end; ++c) {
        out.push_back(*c >= 'a' && *c <= 'f' ? static_cast<char>(*c - 'a' + 'A') : *c);
    }
}

}  // namespace

EncodingError EncodingError::length(std::uint64_t expected, std::uint64_t actual) {
    EncodingError e = of(Kind::Length);
    e.expected = expected;
    e.actual = actual;
    return e;
}
EncodingError EncodingError::reserved_violation(std::string_view field, std::uint16_t octet,
                                                std::uint64_t mask, std::uint64_t got) {
    EncodingError e = named(Kind::ReservedViolation, field);
    e.octet = octet;
    e.mask = mask;
    e.got = got;
    return e;
}
EncodingError EncodingError::missing_terminator() { return of(Kind::MissingTerminator); }
EncodingError EncodingError::early_terminator(std::uint64_t index) {
    EncodingError e = of(Kind::EarlyTerminator);
    e.index = index;
    return e;
}
EncodingError EncodingError::unterminated_content(std::string_view field) {
    return named(Kind::UnterminatedContent, field);
}
EncodingError EncodingError::char_count_exceeded(std::uint16_t maximum) {
    EncodingError e = of(Kind::CharCountExceeded);
    e.count = maximum;
    return e;
}
EncodingError EncodingError::unknown_field() { return of(Kind::UnknownField); }
EncodingError EncodingError::inside_repeated_group() { return of(Kind::InsideRepeatedGroup); }
EncodingError EncodingError::kind_mismatch() { return of(Kind::KindMismatch); }
EncodingError EncodingError::row_form_mismatch() { return of(Kind::RowFormMismatch); }
EncodingError EncodingError::index_out_of_range() { return of(Kind::IndexOutOfRange); }
EncodingError EncodingError::value_too_wide(std::string_view field) {
    return named(Kind::ValueTooWide, field);
}
EncodingError EncodingError::not_settable(std::string_view field) {
    return named(Kind::NotSettable, field);
}
EncodingError EncodingError::char_count_mismatch(std::uint16_t count) {
    EncodingError e = of(Kind::CharCountMismatch);
    e.count = count;
    return e;
}
EncodingError EncodingError::trailing_pad(std::uint8_t pad) {
    EncodingError e = of(Kind::TrailingPad);
    e.pad = pad;
    return e;
}
EncodingError EncodingError::unrepresentable_layout(std::uint8_t bits) {
    EncodingError e = of(Kind::UnrepresentableLayout);
    e.bits = bits;
    return e;
}
EncodingError EncodingError::unrepresentable_width(std::string_view field, std::uint32_t bits) {
    EncodingError e = named(Kind::UnrepresentableWidth, field);
    e.bits = bits;
    return e;
}
EncodingError EncodingError::unrepresentable_placement(std::string_view field) {
    return named(Kind::UnrepresentablePlacement, field);
}
EncodingError EncodingError::unrepresentable_alignment(std::string_view field, std::uint32_t bit) {
    EncodingError e = named(Kind::UnrepresentableAlignment, field);
    e.bits = bit;
    return e;
}
EncodingError EncodingError::unrepresentable_span(std::string_view field) {
    return named(Kind::UnrepresentableSpan, field);
}
EncodingError EncodingError::unrepresentable_nesting(std::uint32_t limit) {
    EncodingError e = of(Kind::UnrepresentableNesting);
    e.limit = limit;
    return e;
}
EncodingError EncodingError::unrepresentable_tree(std::uint32_t leaves, std::uint32_t bits) {
    EncodingError e = of(Kind::UnrepresentableTree);
    e.leaves = leaves;
    e.bits = bits;
    return e;
}
EncodingError EncodingError::unbounded_traversal(std::string_view field) {
    return named(Kind::UnboundedTraversal, field);
}
EncodingError EncodingError::unwalkable_tree(std::uint64_t limit) {
    EncodingError e = of(Kind::UnwalkableTree);
    e.limit = limit;
    return e;
}
EncodingError EncodingError::duplicate_field_name(std::string_view field) {
    return named(Kind::DuplicateFieldName, field);
}
EncodingError EncodingError::unjudged_field_names(std::uint32_t limit) {
    EncodingError e = of(Kind::UnjudgedFieldNames);
    e.limit = limit;
    return e;
}
EncodingError EncodingError::unjudged_name_length(std::uint32_t limit) {
    EncodingError e = of(Kind::UnjudgedNameLength);
    e.limit = limit;
    return e;
}
EncodingError EncodingError::duplicate_z8_control(std::string_view field) {
    return named(Kind::DuplicateZ8Control, field);
}
EncodingError EncodingError::unreachable_z8_control(std::string_view field) {
    return named(Kind::UnreachableZ8Control, field);
}
EncodingError EncodingError::unpaired_z8_control(std::uint32_t value_fields, std::uint32_t mains) {
    EncodingError e = of(Kind::UnpairedZ8Control);
    e.value_fields = value_fields;
    e.mains = mains;
    return e;
}
EncodingError EncodingError::tree_width_mismatch(std::uint32_t computed, std::uint32_t declared) {
    EncodingError e = of(Kind::TreeWidthMismatch);
    e.computed = computed;
    e.declared = declared;
    return e;
}
EncodingError EncodingError::nested_z8_control(std::string_view field) {
    return named(Kind::NestedZ8Control, field);
}
EncodingError EncodingError::unreachable_repeat_chars(std::string_view field) {
    return named(Kind::UnreachableRepeatChars, field);
}
EncodingError EncodingError::unreachable_repeat_nesting(std::string_view field) {
    return named(Kind::UnreachableRepeatNesting, field);
}

std::string_view EncodingError::code() const {
    switch (kind) {
        case Kind::Length: return "semantic/encoding/length";
        case Kind::ReservedViolation: return "semantic/encoding/reserved-violation";
        case Kind::MissingTerminator: return "semantic/encoding/missing-terminator";
        case Kind::EarlyTerminator: return "semantic/encoding/early-terminator";
        case Kind::UnterminatedContent: return "semantic/encoding/unterminated-content";
        case Kind::CharCountExceeded: return "semantic/encoding/char-count-exceeded";
        case Kind::UnknownField: return "semantic/encoding/unknown-field";
        case Kind::InsideRepeatedGroup: return "semantic/encoding/inside-repeated-group";
        case Kind::KindMismatch: return "semantic/encoding/kind-mismatch";
        case Kind::RowFormMismatch: return "semantic/encoding/row-form-mismatch";
        case Kind::IndexOutOfRange: return "semantic/encoding/index-out-of-range";
        case Kind::ValueTooWide: return "semantic/encoding/value-too-wide";
        case Kind::NotSettable: return "semantic/encoding/not-settable";
        case Kind::CharCountMismatch: return "semantic/encoding/char-count-mismatch";
        case Kind::TrailingPad: return "semantic/encoding/trailing-pad";
        case Kind::UnrepresentableLayout: return "semantic/encoding/unrepresentable-layout";
        case Kind::UnrepresentableWidth: return "semantic/encoding/unrepresentable-width";
        case Kind::UnrepresentablePlacement: return "semantic/encoding/unrepresentable-placement";
        case Kind::UnrepresentableAlignment: return "semantic/encoding/unrepresentable-alignment";
        case Kind::UnrepresentableSpan: return "semantic/encoding/unrepresentable-span";
        case Kind::UnrepresentableNesting: return "semantic/encoding/unrepresentable-nesting";
        case Kind::UnrepresentableTree: return "semantic/encoding/unrepresentable-tree";
        case Kind::UnboundedTraversal: return "semantic/encoding/unbounded-traversal";
        case Kind::UnwalkableTree: return "semantic/encoding/unwalkable-tree";
        case Kind::DuplicateFieldName: return "semantic/encoding/duplicate-field-name";
        case Kind::UnjudgedFieldNames: return "semantic/encoding/unjudged-field-names";
        case Kind::UnjudgedNameLength: return "semantic/encoding/unjudged-name-length";
        case Kind::DuplicateZ8Control: return "semantic/encoding/duplicate-z8-control";
        case Kind::UnreachableZ8Control: return "semantic/encoding/unreachable-z8-control";
        case Kind::UnpairedZ8Control: return "semantic/encoding/unpaired-z8-control";
        case Kind::TreeWidthMismatch: return "semantic/encoding/tree-width-mismatch";
        case Kind::NestedZ8Control: return "semantic/encoding/nested-z8-control";
        case Kind::UnreachableRepeatChars: return "semantic/encoding/unreachable-repeat-chars";
        case Kind::UnreachableRepeatNesting: return "semantic/encoding/unreachable-repeat-nesting";
    }
    return "semantic/encoding/unknown";
}

bool EncodingError::names_field() const {
    switch (kind) {
        case Kind::ReservedViolation:
        case Kind::UnterminatedContent:
        case Kind::ValueTooWide:
        case Kind::NotSettable:
        case Kind::UnrepresentableWidth:
        case Kind::UnrepresentablePlacement:
        case Kind::UnrepresentableAlignment:
        case Kind::UnrepresentableSpan:
        case Kind::UnboundedTraversal:
        case Kind::DuplicateFieldName:
        case Kind::DuplicateZ8Control:
        case Kind::UnreachableZ8Control:
        case Kind::NestedZ8Control:
        case Kind::UnreachableRepeatChars:
        case Kind::UnreachableRepeatNesting:
            return true;
        default:
            return false;
    }
}

std::string EncodingError::message() const {
    std::string out;
    auto text = [&](std::string_view s) { out.append(s); };
    auto num = [&](std::uint64_t v) { append_decimal(out, v); };
    auto name = [&]() {
        out.push_back('`');
        out.append(field);
        out.push_back('`');
    };
    switch (kind) {
        case Kind::Length:
            text("payload octet count must be "), num(expected), text(", got "), num(actual);
            break;
        case Kind::ReservedViolation:
            text("reserved bits of "), name(), text(" at octet "), num(octet);
            text(" must be zero: mask 0x"), append_hex(out, mask, 1);
            text(", got 0x"), append_hex(out, got, 1);
            break;
        case Kind::MissingTerminator:
            text("variable payload must end with its declared terminator");
            break;
        case Kind::EarlyTerminator:
            text("terminator before the final position: tail byte "), num(index);
            break;
        case Kind::UnterminatedContent:
            name();
            text(" holds no terminator octet, which its declared form requires at every content "
                 "length");
            break;
        case Kind::CharCountExceeded:
            text("character content must have at most "), num(count), text(" octets");
            break;
        case Kind::UnknownField:
            text("no field of this name");
            break;
        case Kind::InsideRepeatedGroup:
            text("the field lives inside a repeated group and is reachable only per instance");
            break;
        case Kind::KindMismatch:
            text("the field does not have the requested kind");
            break;
        case Kind::RowFormMismatch:
            text("the operation does not fit the row's declared form");
            break;
        case Kind::IndexOutOfRange:
            text("repeat index at or beyond the declared count");
            break;
        case Kind::ValueTooWide:
            text("value does not fit the declared width of "), name();
            break;
        case Kind::NotSettable:
            name(), text(" is reserved and transmits as zero");
            break;
        case Kind::CharCountMismatch:
            text("character content must have exactly "), num(count);
            text(" elements (a declared count, or a prefixed tail's derived width)");
            break;
        case Kind::TrailingPad:
            text("padded content must not end with the pad byte 0x"), append_hex(out, pad, 2);
            break;
        case Kind::UnrepresentableLayout:
            text("a sub-octet row must declare 1 to 6 bits, got "), num(bits);
            break;
        case Kind::UnrepresentableWidth:
            text("the declared width of "), name(), text(" is "), num(bits);
            text(" bits, outside the 1 to 64 bits a value span carries");
            break;
        case Kind::UnrepresentablePlacement:
            text("the declared placement of "), name();
            text(" is inside a fixed-width row, which carries no variable-length field");
            break;
        case Kind::UnrepresentableAlignment:
            text("the declared placement of "), name(), text(" starts at bit "), num(bits);
            text(", not on the octet boundary a character container is addressed by");
            break;
        case Kind::UnrepresentableSpan:
            text("the declared span of "), name(), text(" leaves the payload bit positions");
            break;
        case Kind::UnrepresentableNesting:
            text("the field tree nests deeper than the "), num(limit);
            text(" levels the traversal enters");
            break;
        case Kind::UnrepresentableTree:
            text("the field tree declares "), num(leaves), text(" leaves, more than the ");
            num(bits), text(" bit positions the payload width holds");
            break;
        case Kind::UnboundedTraversal:
            text("the field tree gives "), name();
            text(" no leaf count to bound the walk it declares");
            break;
        case Kind::UnwalkableTree:
            text("the field tree declares more repeated node visits than the "), num(limit);
            text(" a walk of it performs, so it is refused rather than walked");
            break;
        case Kind::DuplicateFieldName:
            text("the field tree gives the name "), name();
            text(" to more than 1 addressable declaration, so it identifies no single one");
            break;
        case Kind::UnjudgedFieldNames:
            text("the field tree addresses more than the "), num(limit);
            text(" declarations the name judgement scans, so it is refused rather than admitted "
                 "unjudged");
            break;
        case Kind::UnjudgedNameLength:
            text("the field tree declares a name of more than "), num(limit);
            text(" bytes, which every comparison of that name would cost, so it is refused "
                 "rather than admitted unjudged");
            break;
        case Kind::DuplicateZ8Control:
            text("the field tree declares "), name();
            text(" as a second control octet, and a row's reading resolves 1");
            break;
        case Kind::UnreachableZ8Control:
            text("the declared placement of "), name();
            text(" is inside a repeated group, which no reading of a control octet reaches");
            break;
        case Kind::UnpairedZ8Control:
            text("the field tree declares "), num(value_fields);
            text(" value fields at its top level beside its control octet and designates ");
            num(mains);
            text(" as `main`; the coupling resolves a sole value field or exactly 1 designated "
                 "main");
            break;
        case Kind::TreeWidthMismatch:
            text("the declared field tree computes "), num(computed), text(" bits, the row declares ");
            num(declared);
            break;
        case Kind::NestedZ8Control:
            text("the declared placement of "), name();
            text(" is inside an embedded record, and a control octet is declared only at a row's "
                 "top level");
            break;
        case Kind::UnreachableRepeatChars:
            text("the declared placement of "), name();
            text(" is inside a repeated group, whose per-instance surface carries value bits and "
                 "no character content");
            break;
        case Kind::UnreachableRepeatNesting:
            text("the field tree declares "), name();
            text(" as a repeated group inside a repeated group, which no per-instance view "
                 "reaches");
            break;
    }
    return out;
}

}  // namespace tavrel::encoding
