#include "catalog/decimal.hpp"

#include <cstdlib>

namespace tavrel::catalog {
namespace {

using i128 = __int128;

// mantissa x 10^places in 128 bits, or none on overflow.
std::optional<i128> scale(std::int64_t mantissa, int places) {
    i128 value = mantissa;
    static constexpr i128 kLimit = static_cast<i128>(~static_cast<unsigned __int128>(0) >> 1);
    for (int i = 0; i < places; ++i) {
        if (value > kLimit / 10 || value < -(kLimit / 10)) return std::nullopt;
        value *= 10;
    }
    return value;
}

struct Aligned {
    std::optional<i128> a;
    std::optional<i128> b;
};

Aligned align(Decimal a, Decimal b) {
    int common = a.exponent < b.exponent ? a.exponent : b.exponent;
    return {scale(a.mantissa, a.exponent - common), scale(b.mantissa, b.exponent - common)};
}

}  // namespace

std::strong_ordering Decimal::value_cmp(Decimal a, Decimal b) {
    if (a.mantissa == 0 || b.mantissa == 0 || (a.mantissa < 0) != (b.mantissa < 0)) {
        return a.mantissa <=> b.mantissa;
    }
    Aligned aligned = align(a, b);
    if (!aligned.a)
        return a.mantissa > 0 ? std::strong_ordering::greater : std::strong_ordering::less;
    if (!aligned.b)
        return b.mantissa > 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    return *aligned.a <=> *aligned.b;
}

std::optional<std::int64_t> Decimal::exact_quotient(Decimal dividend, Decimal divisor) {
    if (divisor.mantissa == 0) return std::nullopt;
    if (dividend.mantissa == 0) return 0;
    Aligned aligned = align(dividend, divisor);
    if (!aligned.a || !aligned.b) return std::nullopt;
    if (*aligned.a % *aligned.b != 0) return std::nullopt;
    i128 quotient = *aligned.a / *aligned.b;
    if (quotient > INT64_MAX || quotient < INT64_MIN) return std::nullopt;
    return static_cast<std::int64_t>(quotient);
}

std::string Decimal::display() const {
    if (exponent >= 0) {
        if (mantissa == 0) return "0";
        return std::to_string(mantissa) + std::string(static_cast<std::size_t>(exponent), '0');
    }
    std::size_t places = static_cast<std::size_t>(-static_cast<int>(exponent));
    std::uint64_t magnitude = mantissa < 0 ? 0 - static_cast<std::uint64_t>(mantissa)
                                           : static_cast<std::uint64_t>(mantissa);
    std::string digits = std::to_string(magnitude);
    std::string text = mantissa < 0 ? "-" : "";
    if (digits.size() > places) {
        text += digits.substr(0, digits.size() - places);
        text += '.';
        text += digits.substr(digits.size() - places);
    } else {
        text += "0.";
        text += std::string(places - digits.size(), '0');
        text += digits;
    }
    return text;
}

}  // namespace tavrel::catalog
