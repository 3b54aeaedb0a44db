// Exact decimals: mantissa x 10^exponent, never normalised, compared and divided exactly.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace tavrel::catalog {

struct Decimal {
    std::int64_t mantissa = 0;
    std::int8_t exponent = 0;

    static std::strong_ordering value_cmp(Decimal a, Decimal b);
    // n with dividend = n x divisor exactly, or none (zero divisor, off the grid, overflow).
    static std::optional<std::int64_t> exact_quotient(Decimal dividend, Decimal divisor);
    // Written as stated: (2730, -2) prints 27.30, (5, 3) prints 5000.
    std::string display() const;
};

}  // namespace tavrel::catalog
