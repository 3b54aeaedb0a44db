#include "encoding/error.hpp"

#include <charconv>
#include <initializer_list>

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

// One placeholder's filling: a decimal, an upper-case hexadecimal number (at least `digits`
// digits), or a text.
struct Arg {
    enum class Form : std::uint8_t { Decimal, Hex, Text };
    Form form;
    std::uint64_t number = 0;
    int digits = 1;
    std::string_view text_value{};

    static Arg dec(std::uint64_t n) { return {Form::Decimal, n}; }
    static Arg hex(std::uint64_t n) { return {Form::Hex, n}; }
    static Arg octet(std::uint8_t n) { return {Form::Hex, n, 2}; }
    static Arg text(std::string_view t) { return {Form::Text, 0, 1, t}; }

    void append_to(std::string& out) const {
        if (form == Form::Text) {
            out.append(text_value);
            return;
        }
        char digits_text[24];
        auto end = std::to_chars(digits_text, digits_text + sizeof digits_text, number,
                                 form == Form::Hex ? 16 : 10)
                       .ptr;
        for (int n = static_cast<int>(end - digits_text); n < digits; ++n) out.push_back('0');
        for (char* c = digits_text; c != end; ++c) {
            out.push_back(*c >= 'a' && *c <= 'f' ? static_cast<char>(*c - 'a' + 'A') : *c);
        }
    }
};

// Replaces each "{}" of the template by the next argument, in order.
std::string fill(std::string_view pattern, std::initializer_list<Arg> args) {
    std::string out;
    const Arg* next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}' &&
            next != args.end()) {
            (next++)->append_to(out);
            ++i;
        } else {
            out.push_back(pattern[i]);
        }
    }
    return out;
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
EncodingError EncodingError::missing_terminator() {
    return of(Kind::MissingTerminator);
}
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
EncodingError EncodingError::unknown_field() {
    return of(Kind::UnknownField);
}
EncodingError EncodingError::inside_repeated_group() {
    return of(Kind::InsideRepeatedGroup);
}
EncodingError EncodingError::kind_mismatch() {
    return of(Kind::KindMismatch);
}
EncodingError EncodingError::row_form_mismatch() {
    return of(Kind::RowFormMismatch);
}
EncodingError EncodingError::index_out_of_range() {
    return of(Kind::IndexOutOfRange);
}
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
        case Kind::Length:
            return "semantic/encoding/length";
        case Kind::ReservedViolation:
            return "semantic/encoding/reserved-violation";
        case Kind::MissingTerminator:
            return "semantic/encoding/missing-terminator";
        case Kind::EarlyTerminator:
            return "semantic/encoding/early-terminator";
        case Kind::UnterminatedContent:
            return "semantic/encoding/unterminated-content";
        case Kind::CharCountExceeded:
            return "semantic/encoding/char-count-exceeded";
        case Kind::UnknownField:
            return "semantic/encoding/unknown-field";
        case Kind::InsideRepeatedGroup:
            return "semantic/encoding/inside-repeated-group";
        case Kind::KindMismatch:
            return "semantic/encoding/kind-mismatch";
        case Kind::RowFormMismatch:
            return "semantic/encoding/row-form-mismatch";
        case Kind::IndexOutOfRange:
            return "semantic/encoding/index-out-of-range";
        case Kind::ValueTooWide:
            return "semantic/encoding/value-too-wide";
        case Kind::NotSettable:
            return "semantic/encoding/not-settable";
        case Kind::CharCountMismatch:
            return "semantic/encoding/char-count-mismatch";
        case Kind::TrailingPad:
            return "semantic/encoding/trailing-pad";
        case Kind::UnrepresentableLayout:
            return "semantic/encoding/unrepresentable-layout";
        case Kind::UnrepresentableWidth:
            return "semantic/encoding/unrepresentable-width";
        case Kind::UnrepresentablePlacement:
            return "semantic/encoding/unrepresentable-placement";
        case Kind::UnrepresentableAlignment:
            return "semantic/encoding/unrepresentable-alignment";
        case Kind::UnrepresentableSpan:
            return "semantic/encoding/unrepresentable-span";
        case Kind::UnrepresentableNesting:
            return "semantic/encoding/unrepresentable-nesting";
        case Kind::UnrepresentableTree:
            return "semantic/encoding/unrepresentable-tree";
        case Kind::UnboundedTraversal:
            return "semantic/encoding/unbounded-traversal";
        case Kind::UnwalkableTree:
            return "semantic/encoding/unwalkable-tree";
        case Kind::DuplicateFieldName:
            return "semantic/encoding/duplicate-field-name";
        case Kind::UnjudgedFieldNames:
            return "semantic/encoding/unjudged-field-names";
        case Kind::UnjudgedNameLength:
            return "semantic/encoding/unjudged-name-length";
        case Kind::DuplicateZ8Control:
            return "semantic/encoding/duplicate-z8-control";
        case Kind::UnreachableZ8Control:
            return "semantic/encoding/unreachable-z8-control";
        case Kind::UnpairedZ8Control:
            return "semantic/encoding/unpaired-z8-control";
        case Kind::TreeWidthMismatch:
            return "semantic/encoding/tree-width-mismatch";
        case Kind::NestedZ8Control:
            return "semantic/encoding/nested-z8-control";
        case Kind::UnreachableRepeatChars:
            return "semantic/encoding/unreachable-repeat-chars";
        case Kind::UnreachableRepeatNesting:
            return "semantic/encoding/unreachable-repeat-nesting";
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
    using A = Arg;
    switch (kind) {
        case Kind::Length:
            return fill("payload octet count must be {}, got {}",
                        {A::dec(expected), A::dec(actual)});
        case Kind::ReservedViolation:
            return fill("reserved bits of `{}` at octet {} must be zero: mask 0x{}, got 0x{}",
                        {A::text(field), A::dec(octet), A::hex(mask), A::hex(got)});
        case Kind::MissingTerminator:
            return "variable payload must end with its declared terminator";
        case Kind::EarlyTerminator:
            return fill("terminator before the final position: tail byte {}", {A::dec(index)});
        case Kind::UnterminatedContent:
            return fill(
                "`{}` holds no terminator octet, which its declared form requires at every "
                "content length",
                {A::text(field)});
        case Kind::CharCountExceeded:
            return fill("character content must have at most {} octets", {A::dec(count)});
        case Kind::UnknownField:
            return "no field of this name";
        case Kind::InsideRepeatedGroup:
            return "the field lives inside a repeated group and is reachable only per instance";
        case Kind::KindMismatch:
            return "the field does not have the requested kind";
        case Kind::RowFormMismatch:
            return "the operation does not fit the row's declared form";
        case Kind::IndexOutOfRange:
            return "repeat index at or beyond the declared count";
        case Kind::ValueTooWide:
            return fill("value does not fit the declared width of `{}`", {A::text(field)});
        case Kind::NotSettable:
            return fill("`{}` is reserved and transmits as zero", {A::text(field)});
        case Kind::CharCountMismatch:
            return fill(
                "character content must have exactly {} elements (a declared count, or a "
                "prefixed tail's derived width)",
                {A::dec(count)});
        case Kind::TrailingPad:
            return fill("padded content must not end with the pad byte 0x{}", {A::octet(pad)});
        case Kind::UnrepresentableLayout:
            return fill("a sub-octet row must declare 1 to 6 bits, got {}", {A::dec(bits)});
        case Kind::UnrepresentableWidth:
            return fill(
                "the declared width of `{}` is {} bits, outside the 1 to 64 bits a value span "
                "carries",
                {A::text(field), A::dec(bits)});
        case Kind::UnrepresentablePlacement:
            return fill(
                "the declared placement of `{}` is inside a fixed-width row, which carries no "
                "variable-length field",
                {A::text(field)});
        case Kind::UnrepresentableAlignment:
            return fill(
                "the declared placement of `{}` starts at bit {}, not on the octet boundary a "
                "character container is addressed by",
                {A::text(field), A::dec(bits)});
        case Kind::UnrepresentableSpan:
            return fill("the declared span of `{}` leaves the payload bit positions",
                        {A::text(field)});
        case Kind::UnrepresentableNesting:
            return fill("the field tree nests deeper than the {} levels the traversal enters",
                        {A::dec(limit)});
        case Kind::UnrepresentableTree:
            return fill(
                "the field tree declares {} leaves, more than the {} bit positions the payload "
                "width holds",
                {A::dec(leaves), A::dec(bits)});
        case Kind::UnboundedTraversal:
            return fill("the field tree gives `{}` no leaf count to bound the walk it declares",
                        {A::text(field)});
        case Kind::UnwalkableTree:
            return fill(
                "the field tree declares more repeated node visits than the {} a walk of it "
                "performs, so it is refused rather than walked",
                {A::dec(limit)});
        case Kind::DuplicateFieldName:
            return fill(
                "the field tree gives the name `{}` to more than 1 addressable declaration, so "
                "it identifies no single one",
                {A::text(field)});
        case Kind::UnjudgedFieldNames:
            return fill(
                "the field tree addresses more than the {} declarations the name judgement "
                "scans, so it is refused rather than admitted unjudged",
                {A::dec(limit)});
        case Kind::UnjudgedNameLength:
            return fill(
                "the field tree declares a name of more than {} bytes, which every comparison "
                "of that name would cost, so it is refused rather than admitted unjudged",
                {A::dec(limit)});
        case Kind::DuplicateZ8Control:
            return fill(
                "the field tree declares `{}` as a second control octet, and a row's reading "
                "resolves 1",
                {A::text(field)});
        case Kind::UnreachableZ8Control:
            return fill(
                "the declared placement of `{}` is inside a repeated group, which no reading of "
                "a control octet reaches",
                {A::text(field)});
        case Kind::UnpairedZ8Control:
            return fill(
                "the field tree declares {} value fields at its top level beside its control "
                "octet and designates {} as `main`; the coupling resolves a sole value field or "
                "exactly 1 designated main",
                {A::dec(value_fields), A::dec(mains)});
        case Kind::TreeWidthMismatch:
            return fill("the declared field tree computes {} bits, the row declares {}",
                        {A::dec(computed), A::dec(declared)});
        case Kind::NestedZ8Control:
            return fill(
                "the declared placement of `{}` is inside an embedded record, and a control "
                "octet is declared only at a row's top level",
                {A::text(field)});
        case Kind::UnreachableRepeatChars:
            return fill(
                "the declared placement of `{}` is inside a repeated group, whose per-instance "
                "surface carries value bits and no character content",
                {A::text(field)});
        case Kind::UnreachableRepeatNesting:
            return fill(
                "the field tree declares `{}` as a repeated group inside a repeated group, which "
                "no per-instance view reaches",
                {A::text(field)});
    }
    return "unknown encoding fault";
}

}  // namespace tavrel::encoding
