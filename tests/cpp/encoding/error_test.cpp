// Every encoding fault's refusal code and display text, with its placeholders filled in order.
#include <gtest/gtest.h>

#include "encoding/error.hpp"
#include "fixture.hpp"

namespace tavrel::encoding {
namespace {

using E = EncodingError;

struct Shown {
    E error;
    std::string_view code;
    std::string_view message;
    bool names_field;
};

TEST(EncodingErrorText, CodesAndMessages) {
    const Shown cases[] = {
        {E::length(2, 3), "semantic/encoding/length", "payload octet count must be 2, got 3",
         false},
        {E::reserved_violation("reserved1", 1, 0xF, 0x1A), "semantic/encoding/reserved-violation",
         "reserved bits of `reserved1` at octet 1 must be zero: mask 0xF, got 0x1A", true},
        {E::reserved_violation("r", 300, ~std::uint64_t{0}, 0x00ABCDEF00000000),
         "semantic/encoding/reserved-violation",
         "reserved bits of `r` at octet 300 must be zero: mask 0xFFFFFFFFFFFFFFFF, got "
         "0xABCDEF00000000",
         true},
        {E::reserved_violation("g", 0, 0xFC, 0), "semantic/encoding/reserved-violation",
         "reserved bits of `g` at octet 0 must be zero: mask 0xFC, got 0x0", true},
        {E::missing_terminator(), "semantic/encoding/missing-terminator",
         "variable payload must end with its declared terminator", false},
        {E::early_terminator(1), "semantic/encoding/early-terminator",
         "terminator before the final position: tail byte 1", false},
        {E::unterminated_content("Text"), "semantic/encoding/unterminated-content",
         "`Text` holds no terminator octet, which its declared form requires at every content "
         "length",
         true},
        {E::char_count_exceeded(11), "semantic/encoding/char-count-exceeded",
         "character content must have at most 11 octets", false},
        {E::unknown_field(), "semantic/encoding/unknown-field", "no field of this name", false},
        {E::inside_repeated_group(), "semantic/encoding/inside-repeated-group",
         "the field lives inside a repeated group and is reachable only per instance", false},
        {E::kind_mismatch(), "semantic/encoding/kind-mismatch",
         "the field does not have the requested kind", false},
        {E::row_form_mismatch(), "semantic/encoding/row-form-mismatch",
         "the operation does not fit the row's declared form", false},
        {E::index_out_of_range(), "semantic/encoding/index-out-of-range",
         "repeat index at or beyond the declared count", false},
        {E::value_too_wide("UnsignedValue"), "semantic/encoding/value-too-wide",
         "value does not fit the declared width of `UnsignedValue`", true},
        {E::not_settable("reserved1"), "semantic/encoding/not-settable",
         "`reserved1` is reserved and transmits as zero", true},
        {E::char_count_mismatch(14), "semantic/encoding/char-count-mismatch",
         "character content must have exactly 14 elements (a declared count, or a prefixed "
         "tail's derived width)",
         false},
        {E::trailing_pad(0x00), "semantic/encoding/trailing-pad",
         "padded content must not end with the pad byte 0x00", false},
        {E::trailing_pad(0x2a), "semantic/encoding/trailing-pad",
         "padded content must not end with the pad byte 0x2A", false},
        {E::unrepresentable_layout(7), "semantic/encoding/unrepresentable-layout",
         "a sub-octet row must declare 1 to 6 bits, got 7", false},
        {E::unrepresentable_width("wide", 72), "semantic/encoding/unrepresentable-width",
         "the declared width of `wide` is 72 bits, outside the 1 to 64 bits a value span carries",
         true},
        {E::unrepresentable_placement("tail"), "semantic/encoding/unrepresentable-placement",
         "the declared placement of `tail` is inside a fixed-width row, which carries no "
         "variable-length field",
         true},
        {E::unrepresentable_alignment("c", 4), "semantic/encoding/unrepresentable-alignment",
         "the declared placement of `c` starts at bit 4, not on the octet boundary a character "
         "container is addressed by",
         true},
        {E::unrepresentable_span("many"), "semantic/encoding/unrepresentable-span",
         "the declared span of `many` leaves the payload bit positions", true},
        {E::unrepresentable_nesting(8), "semantic/encoding/unrepresentable-nesting",
         "the field tree nests deeper than the 8 levels the traversal enters", false},
        {E::unrepresentable_tree(9, 8), "semantic/encoding/unrepresentable-tree",
         "the field tree declares 9 leaves, more than the 8 bit positions the payload width holds",
         false},
        {E::unbounded_traversal("grp"), "semantic/encoding/unbounded-traversal",
         "the field tree gives `grp` no leaf count to bound the walk it declares", true},
        {E::unwalkable_tree(524288), "semantic/encoding/unwalkable-tree",
         "the field tree declares more repeated node visits than the 524288 a walk of it "
         "performs, so it is refused rather than walked",
         false},
        {E::duplicate_field_name("flag"), "semantic/encoding/duplicate-field-name",
         "the field tree gives the name `flag` to more than 1 addressable declaration, so it "
         "identifies no single one",
         true},
        {E::unjudged_field_names(1024), "semantic/encoding/unjudged-field-names",
         "the field tree addresses more than the 1024 declarations the name judgement scans, so "
         "it is refused rather than admitted unjudged",
         false},
        {E::unjudged_name_length(64), "semantic/encoding/unjudged-name-length",
         "the field tree declares a name of more than 64 bytes, which every comparison of that "
         "name would cost, so it is refused rather than admitted unjudged",
         false},
        {E::duplicate_z8_control("c2"), "semantic/encoding/duplicate-z8-control",
         "the field tree declares `c2` as a second control octet, and a row's reading resolves 1",
         true},
        {E::unreachable_z8_control("ctl"), "semantic/encoding/unreachable-z8-control",
         "the declared placement of `ctl` is inside a repeated group, which no reading of a "
         "control octet reaches",
         true},
        {E::unpaired_z8_control(2, 0), "semantic/encoding/unpaired-z8-control",
         "the field tree declares 2 value fields at its top level beside its control octet and "
         "designates 0 as `main`; the coupling resolves a sole value field or exactly 1 "
         "designated main",
         false},
        {E::tree_width_mismatch(8, 16), "semantic/encoding/tree-width-mismatch",
         "the declared field tree computes 8 bits, the row declares 16", false},
        {E::nested_z8_control("ctl"), "semantic/encoding/nested-z8-control",
         "the declared placement of `ctl` is inside an embedded record, and a control octet is "
         "declared only at a row's top level",
         true},
        {E::unreachable_repeat_chars("c"), "semantic/encoding/unreachable-repeat-chars",
         "the declared placement of `c` is inside a repeated group, whose per-instance surface "
         "carries value bits and no character content",
         true},
        {E::unreachable_repeat_nesting("inner"), "semantic/encoding/unreachable-repeat-nesting",
         "the field tree declares `inner` as a repeated group inside a repeated group, which no "
         "per-instance view reaches",
         true},
    };
    for (const Shown& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.error.code(), c.code);
        EXPECT_EQ(c.error.message(), c.message);
        EXPECT_EQ(c.error.names_field(), c.names_field);
    }
}

}  // namespace
}  // namespace tavrel::encoding
