// The encoding engine's faults: one kind per fault, each with a stable refusal code, the data the
// message shows, and (for kinds that concern one field) the field's name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrel::encoding {

struct EncodingError {
    enum class Kind : std::uint8_t {
        Length = 0,
        ReservedViolation = 1,
        MissingTerminator = 2,
        EarlyTerminator = 3,
        UnterminatedContent = 4,
        CharCountExceeded = 5,
        UnknownField = 6,
        InsideRepeatedGroup = 7,
        KindMismatch = 8,
        RowFormMismatch = 9,
        IndexOutOfRange = 10,
        ValueTooWide = 11,
        NotSettable = 12,
        CharCountMismatch = 13,
        TrailingPad = 14,
        UnrepresentableLayout = 15,
        UnrepresentableWidth = 16,
        UnrepresentablePlacement = 17,
        UnrepresentableAlignment = 18,
        UnrepresentableSpan = 19,
        UnrepresentableNesting = 20,
        UnrepresentableTree = 21,
        UnboundedTraversal = 22,
        UnwalkableTree = 23,
        DuplicateFieldName = 24,
        UnjudgedFieldNames = 25,
        UnjudgedNameLength = 26,
        DuplicateZ8Control = 27,
        UnreachableZ8Control = 28,
        UnpairedZ8Control = 29,
        TreeWidthMismatch = 30,
        NestedZ8Control = 31,
        UnreachableRepeatChars = 32,
        UnreachableRepeatNesting = 33,
    };

    Kind kind = Kind::UnknownField;
    // Kinds that concern one field name it here; it borrows the row's static name text.
    std::string_view field{};
    // The numbers a kind carries; only the members listed for the kind are meaningful.
    std::uint64_t expected = 0;  // Length
    std::uint64_t actual = 0;    // Length
    std::uint16_t octet = 0;     // ReservedViolation
    std::uint64_t mask = 0;      // ReservedViolation
    std::uint64_t got = 0;       // ReservedViolation
    std::uint64_t index = 0;     // EarlyTerminator
    std::uint16_t count = 0;     // CharCountExceeded (the maximum), CharCountMismatch
    std::uint8_t pad = 0;        // TrailingPad
    // UnrepresentableLayout (declared bits), UnrepresentableWidth (width),
    // UnrepresentableAlignment (bit position), UnrepresentableTree (payload bits)
    std::uint32_t bits = 0;
    std::uint64_t limit = 0;         // UnrepresentableNesting, UnwalkableTree, UnjudgedFieldNames,
                                     // UnjudgedNameLength
    std::uint32_t leaves = 0;        // UnrepresentableTree
    std::uint32_t value_fields = 0;  // UnpairedZ8Control
    std::uint32_t mains = 0;         // UnpairedZ8Control
    std::uint32_t computed = 0;      // TreeWidthMismatch
    std::uint32_t declared = 0;      // TreeWidthMismatch

    static EncodingError length(std::uint64_t expected, std::uint64_t actual);
    static EncodingError reserved_violation(std::string_view field, std::uint16_t octet,
                                            std::uint64_t mask, std::uint64_t got);
    static EncodingError missing_terminator();
    static EncodingError early_terminator(std::uint64_t index);
    static EncodingError unterminated_content(std::string_view field);
    static EncodingError char_count_exceeded(std::uint16_t maximum);
    static EncodingError unknown_field();
    static EncodingError inside_repeated_group();
    static EncodingError kind_mismatch();
    static EncodingError row_form_mismatch();
    static EncodingError index_out_of_range();
    static EncodingError value_too_wide(std::string_view field);
    static EncodingError not_settable(std::string_view field);
    static EncodingError char_count_mismatch(std::uint16_t count);
    static EncodingError trailing_pad(std::uint8_t pad);
    static EncodingError unrepresentable_layout(std::uint8_t bits);
    static EncodingError unrepresentable_width(std::string_view field, std::uint32_t bits);
    static EncodingError unrepresentable_placement(std::string_view field);
    static EncodingError unrepresentable_alignment(std::string_view field, std::uint32_t bit);
    static EncodingError unrepresentable_span(std::string_view field);
    static EncodingError unrepresentable_nesting(std::uint32_t limit);
    static EncodingError unrepresentable_tree(std::uint32_t leaves, std::uint32_t bits);
    static EncodingError unbounded_traversal(std::string_view field);
    static EncodingError unwalkable_tree(std::uint64_t limit);
    static EncodingError duplicate_field_name(std::string_view field);
    static EncodingError unjudged_field_names(std::uint32_t limit);
    static EncodingError unjudged_name_length(std::uint32_t limit);
    static EncodingError duplicate_z8_control(std::string_view field);
    static EncodingError unreachable_z8_control(std::string_view field);
    static EncodingError unpaired_z8_control(std::uint32_t value_fields, std::uint32_t mains);
    static EncodingError tree_width_mismatch(std::uint32_t computed, std::uint32_t declared);
    static EncodingError nested_z8_control(std::string_view field);
    static EncodingError unreachable_repeat_chars(std::string_view field);
    static EncodingError unreachable_repeat_nesting(std::string_view field);

    // The stable refusal code, e.g. "semantic/encoding/length".
    std::string_view code() const;
    // Whether this kind concerns one field (then `field` holds its name, possibly empty).
    bool names_field() const;
    // The display text shown to users; the only operation here that allocates.
    std::string message() const;

    friend bool operator==(const EncodingError&, const EncodingError&) = default;
};

}  // namespace tavrel::encoding
