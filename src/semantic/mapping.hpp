// Value-to-raw mapping of one scalar field and the quantity readings and range checks the read-back
// shares with it. A raw value is the unsigned number the bit writer places: bits above the field's
// width are zero, negatives are two's complement over the width.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

#include "catalog/decimal.hpp"
#include "catalog/schema.hpp"
#include "semantic/error.hpp"

namespace tavrel::semantic {

template <class T>
using Result = std::expected<T, SemanticError>;

// A decimal as a double: mantissa x 10^exponent, the power built by repeated multiplication
// (eight at a time while the exponent is 8 or more) and divided for negative exponents.
double decimal_to_f64(catalog::Decimal d);

// A scalar is read and written only at its carrier's widths (1..32 bits, 1..64 for Signed,
// exactly 16 for Float16 and 32 for Float32); any other is MappingWidth.
Result<void> carrier_bits(catalog::Carrier carrier, std::uint32_t width, std::string_view field);

// The exact decimal a Quantity field (raw x step) or a Float16 field (0.01 x M x 2^E) carries.
Result<catalog::Decimal> read_quantity(const catalog::Scalar& scalar, std::string_view field,
                                       std::uint64_t raw, std::uint32_t width);
// Exact comparison against a bounded range; the fault reports the value as a double.
Result<void> check_range(const catalog::Scalar& scalar, std::string_view field,
                         catalog::Decimal value);
// Comparison as doubles; a value that is not a number passes.
Result<void> check_range_f64(const catalog::Scalar& scalar, std::string_view field, double value);

// The raw number `value` becomes in the field, dispatched by carrier and descriptor.
Result<std::uint64_t> write_scalar(const catalog::Scalar& scalar, std::string_view field,
                                   const ScalarValue& value, std::uint32_t width);

// The descriptor kinds' own mappings.
struct Int {
    // Int, Offset, TwoDigitYear and StepCode descriptors on an Unsigned or Signed carrier.
    static Result<std::uint64_t> write(const catalog::Scalar& scalar, std::string_view field,
                                       std::int64_t value, std::uint32_t width);
};
struct Quantity {
    // Exactly on the field's grid: Quantity descriptors, and the Float16 carrier (smallest
    // exponent, no rounding).
    static Result<std::uint64_t> write(const catalog::Scalar& scalar, std::string_view field,
                                       catalog::Decimal value, std::uint32_t width);
};
struct Linear {
    // [min, max] onto 0..2^width - 1, rounded to the nearest step.
    static Result<std::uint64_t> write(const catalog::Scalar& scalar, std::string_view field,
                                       double value, std::uint32_t width);
};

// Two's-complement sign extension of the low `width` bits of `raw` (width 1..64).
std::int64_t sign_extend(std::uint64_t raw, std::uint32_t width);

}  // namespace tavrel::semantic
