// What a caller may name when composing a value for a row: the row's composable items, in the
// depth-first declaration order of its field tree, each with the kind of value it takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "catalog/schema.hpp"

namespace tavrel::semantic {

// Item kinds.
inline constexpr std::uint16_t kItemVariableText = 0;
inline constexpr std::uint16_t kItemFixedText = 1;
inline constexpr std::uint16_t kItemScalar = 2;
inline constexpr std::uint16_t kItemNamedBit = 3;
inline constexpr std::uint16_t kItemRepeatedGroup = 5;

// Input kinds of a scalar item: which ScalarValue it takes.
inline constexpr std::uint16_t kInputBoolean = 0;      // Boolean
inline constexpr std::uint16_t kInputEnumeration = 1;  // Integer (a defined code)
inline constexpr std::uint16_t kInputInteger = 2;      // Integer
inline constexpr std::uint16_t kInputDecimal = 3;      // Decimal (exact, on the field's grid)
inline constexpr std::uint16_t kInputLinear = 4;       // Real
inline constexpr std::uint16_t kInputFloat32 = 5;      // Real within single precision

struct ComposeItem {
    std::string_view name;
    // The repeated group whose instances hold the item; none at the row level.
    std::optional<std::string_view> scope;
    std::uint16_t kind = kItemScalar;
    // Fixed text: capacity in octets; repeated group: instance count; scalar: input kind.
    std::uint16_t parameter = 0;
    // Texts: the declared shape uses octet 0x00 (pad or terminator), so content may not hold it.
    bool reserves_nul = false;
    catalog::Repertoire repertoire = catalog::Repertoire::Ascii;
};

// The input kind a scalar takes, from its carrier and descriptor.
std::uint16_t input_kind(const catalog::Scalar& scalar);

// The item at `position` of the enumeration, or none past the end.
std::optional<ComposeItem> item_at(catalog::Slice<catalog::FieldNode> fields,
                                   std::uint32_t position);

// Iterates a row's items from the first.
class ComposeItems {
  public:
    explicit ComposeItems(catalog::Slice<catalog::FieldNode> fields) : fields_(fields) {}
    std::optional<ComposeItem> next();

  private:
    catalog::Slice<catalog::FieldNode> fields_;
    std::uint32_t position_ = 0;
};

}  // namespace tavrel::semantic
