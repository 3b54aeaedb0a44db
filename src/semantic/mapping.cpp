#include "semantic/mapping.hpp"

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>

namespace tavrel::semantic {

using catalog::Carrier;
using catalog::Decimal;
using catalog::DescriptorKind;
using catalog::Scalar;

namespace {

std::unexpected<SemanticError> fail(SemanticError e) {
    return std::unexpected(e);
}

std::uint64_t low_mask(std::uint32_t width) {
    return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

// Whether `n` fits the field's carrier at `width` bits.
bool fits_carrier(Carrier carrier, std::int64_t n, std::uint32_t width) {
    if (carrier == Carrier::Signed) {
        if (width >= 64) return true;
        if (width == 0) return false;
        std::int64_t lo = -(std::int64_t{1} << (width - 1));
        std::int64_t hi = (std::int64_t{1} << (width - 1)) - 1;
        return n >= lo && n <= hi;
    }
    if (n < 0) return false;
    if (width >= 64) return true;
    return static_cast<std::uint64_t>(n) < (std::uint64_t{1} << width);
}

bool in_range(const Scalar& scalar, Decimal value) {
    if (!scalar.range.bounded) return true;
    return Decimal::value_cmp(value, scalar.range.min) >= 0 &&
           Decimal::value_cmp(value, scalar.range.max) <= 0;
}

std::optional<std::string_view> band_of(const catalog::CodeTable& table, std::int64_t code) {
    for (const catalog::Band& band : table.bands) {
        if (code >= band.low && code <= band.high) return band.text;
    }
    return std::nullopt;
}

}  // namespace

double decimal_to_f64(Decimal d) {
    int e = d.exponent < 0 ? -static_cast<int>(d.exponent) : d.exponent;
    double power = 1.0;
    while (e >= 8) {
        power *= 1e8;
        e -= 8;
    }
    while (e > 0) {
        power *= 10.0;
        --e;
    }
    double m = static_cast<double>(d.mantissa);
    return d.exponent >= 0 ? m * power : m / power;
}

std::int64_t sign_extend(std::uint64_t raw, std::uint32_t width) {
    if (width == 0) return 0;
    if (width >= 64) return static_cast<std::int64_t>(raw);
    std::uint64_t masked = raw & low_mask(width);
    std::uint64_t sign = std::uint64_t{1} << (width - 1);
    return static_cast<std::int64_t>(masked ^ sign) - static_cast<std::int64_t>(sign);
}

Result<void> carrier_bits(Carrier carrier, std::uint32_t width, std::string_view field) {
    bool ok = false;
    switch (carrier) {
        case Carrier::Boolean:
        case Carrier::Enumeration:
        case Carrier::Unsigned:
            ok = width >= 1 && width <= 32;
            break;
        case Carrier::Signed:
            ok = width >= 1 && width <= 64;
            break;
        case Carrier::Float16:
            ok = width == 16;
            break;
        case Carrier::Float32:
            ok = width == 32;
            break;
    }
    if (!ok) return fail(SemanticError::mapping_width(field, width));
    return {};
}

Result<Decimal> read_quantity(const Scalar& scalar, std::string_view field, std::uint64_t raw,
                              std::uint32_t width) {
    if (scalar.carrier == Carrier::Float16) {
        std::int64_t mantissa = static_cast<std::int64_t>(raw & 0x7FF);
        if (raw & 0x8000) mantissa -= 2048;
        std::uint32_t exponent = static_cast<std::uint32_t>((raw >> 11) & 0xF);
        return Decimal{mantissa * (std::int64_t{1} << exponent), -2};
    }
    bool integer_carrier = scalar.carrier == Carrier::Unsigned || scalar.carrier == Carrier::Signed;
    if (!integer_carrier || scalar.descriptor.kind != DescriptorKind::Quantity) {
        return fail(SemanticError::kind_mismatch(field));
    }
    if (scalar.resolution == nullptr || scalar.resolution->approximate) {
        return fail(SemanticError::kind_mismatch(field));
    }
    std::int64_t n = 0;
    if (scalar.carrier == Carrier::Signed) {
        n = sign_extend(raw, width);
    } else {
        std::uint64_t value = raw & low_mask(width);
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return fail(SemanticError::unrepresentable(field));
        }
        n = static_cast<std::int64_t>(value);
    }
    std::int64_t mantissa = 0;
    if (__builtin_mul_overflow(n, scalar.resolution->step.mantissa, &mantissa)) {
        return fail(SemanticError::unrepresentable(field));
    }
    return Decimal{mantissa, scalar.resolution->step.exponent};
}

Result<void> check_range(const Scalar& scalar, std::string_view field, Decimal value) {
    if (!in_range(scalar, value)) {
        return fail(
            SemanticError::range(field, scalar.range.min, scalar.range.max, decimal_to_f64(value)));
    }
    return {};
}

Result<void> check_range_f64(const Scalar& scalar, std::string_view field, double value) {
    if (!scalar.range.bounded || std::isnan(value)) return {};
    double lo = decimal_to_f64(scalar.range.min);
    double hi = decimal_to_f64(scalar.range.max);
    if (value < lo || value > hi) {
        return fail(SemanticError::range(field, scalar.range.min, scalar.range.max, value));
    }
    return {};
}

Result<std::uint64_t> Int::write(const Scalar& scalar, std::string_view field, std::int64_t value,
                                 std::uint32_t width) {
    std::int64_t raw = 0;
    switch (scalar.descriptor.kind) {
        case DescriptorKind::Int:
        case DescriptorKind::StepCode:
            raw = value;
            break;
        case DescriptorKind::Offset:
            if (__builtin_sub_overflow(value, std::int64_t{scalar.descriptor.argument}, &raw)) {
                return fail(SemanticError::unrepresentable(field));
            }
            break;
        case DescriptorKind::TwoDigitYear:
            if (value >= 1990 && value <= 1999) {
                raw = value - 1900;
            } else if (value >= 2000 && value <= 2089) {
                raw = value - 2000;
            } else {
                return fail(SemanticError::unrepresentable(field));
            }
            break;
        default:
            return fail(SemanticError::kind_mismatch(field));
    }
    if (scalar.carrier != Carrier::Unsigned && scalar.carrier != Carrier::Signed) {
        return fail(SemanticError::kind_mismatch(field));
    }
    if (!in_range(scalar, Decimal{raw, 0})) {
        return fail(SemanticError::range(field, scalar.range.min, scalar.range.max,
                                         static_cast<double>(raw)));
    }
    if (!fits_carrier(scalar.carrier, raw, width)) {
        return fail(SemanticError::unrepresentable(field));
    }
    return static_cast<std::uint64_t>(raw) & low_mask(width);
}

Result<std::uint64_t> Quantity::write(const Scalar& scalar, std::string_view field, Decimal value,
                                      std::uint32_t width) {
    if (scalar.carrier == Carrier::Float16) {
        if (auto r = check_range(scalar, field, value); !r) return std::unexpected(r.error());
        auto q = Decimal::exact_quotient(value, Decimal{1, -2});
        if (!q) return fail(SemanticError::unrepresentable(field));
        // The smallest exponent keeps the most precision; nothing is ever rounded.
        for (std::int64_t e = 0; e <= 15; ++e) {
            std::int64_t scale = std::int64_t{1} << e;
            if (*q % scale != 0) break;
            std::int64_t mantissa = *q / scale;
            if (mantissa >= -2048 && mantissa <= 2047) {
                std::uint64_t raw = (mantissa < 0 ? 0x8000u : 0u) |
                                    (static_cast<std::uint64_t>(e) << 11) |
                                    (static_cast<std::uint64_t>(mantissa) & 0x7FF);
                return raw;
            }
        }
        return fail(SemanticError::unrepresentable(field));
    }
    bool integer_carrier = scalar.carrier == Carrier::Unsigned || scalar.carrier == Carrier::Signed;
    if (!integer_carrier || scalar.descriptor.kind != DescriptorKind::Quantity) {
        return fail(SemanticError::kind_mismatch(field));
    }
    if (auto r = check_range(scalar, field, value); !r) return std::unexpected(r.error());
    if (scalar.resolution == nullptr || scalar.resolution->approximate) {
        return fail(SemanticError::kind_mismatch(field));
    }
    auto n = Decimal::exact_quotient(value, scalar.resolution->step);
    if (!n || !fits_carrier(scalar.carrier, *n, width)) {
        return fail(SemanticError::unrepresentable(field));
    }
    return static_cast<std::uint64_t>(*n) & low_mask(width);
}

Result<std::uint64_t> Linear::write(const Scalar& scalar, std::string_view field, double value,
                                    std::uint32_t width) {
    if (scalar.carrier != Carrier::Unsigned || scalar.descriptor.kind != DescriptorKind::Linear ||
        !scalar.range.bounded) {
        return fail(SemanticError::kind_mismatch(field));
    }
    double lo = decimal_to_f64(scalar.range.min);
    double hi = decimal_to_f64(scalar.range.max);
    if (std::isnan(value) || value < lo || value > hi) {
        return fail(SemanticError::range(field, scalar.range.min, scalar.range.max, value));
    }
    double steps = std::ldexp(1.0, static_cast<int>(width)) - 1.0;
    double scaled = std::floor((value - lo) * steps / (hi - lo) + 0.5);
    // Saturating conversion: a degenerate range cannot produce an out-of-bounds cast.
    if (std::isnan(scaled) || scaled <= 0.0) return std::uint64_t{0};
    if (scaled >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(scaled);
}

Result<std::uint64_t> write_scalar(const Scalar& scalar, std::string_view field,
                                   const ScalarValue& value, std::uint32_t width) {
    using Kind = ScalarValue::Kind;
    switch (scalar.carrier) {
        case Carrier::Boolean:
            if (value.kind != Kind::Boolean) return fail(SemanticError::kind_mismatch(field));
            return std::uint64_t{value.boolean ? 1u : 0u};
        case Carrier::Enumeration: {
            if (value.kind != Kind::Integer) return fail(SemanticError::kind_mismatch(field));
            std::int64_t v = value.integer;
            if (v < 0 || v > 65535) return fail(SemanticError::unrepresentable(field));
            if (scalar.code_table == nullptr) return fail(SemanticError::kind_mismatch(field));
            for (const catalog::CodeEntry& entry : scalar.code_table->entries) {
                if (entry.value == v) return static_cast<std::uint64_t>(v);
            }
            return fail(SemanticError::unknown_code(field, static_cast<std::uint64_t>(v),
                                                    band_of(*scalar.code_table, v)));
        }
        case Carrier::Float32: {
            if (value.kind != Kind::Real) return fail(SemanticError::kind_mismatch(field));
            double x = value.real;
            // A finite value beyond single precision's span has no float to convert to.
            if (std::isfinite(x) && std::fabs(x) > static_cast<double>(FLT_MAX)) {
                return fail(SemanticError::unrepresentable(field));
            }
            float f = static_cast<float>(x);
            if (static_cast<double>(f) != x) return fail(SemanticError::unrepresentable(field));
            if (auto r = check_range_f64(scalar, field, x); !r) return std::unexpected(r.error());
            return std::uint64_t{std::bit_cast<std::uint32_t>(f)};
        }
        case Carrier::Float16:
            if (value.kind != Kind::Decimal) return fail(SemanticError::kind_mismatch(field));
            return Quantity::write(scalar, field, value.decimal, width);
        case Carrier::Unsigned:
        case Carrier::Signed:
            switch (scalar.descriptor.kind) {
                case DescriptorKind::Linear:
                    if (value.kind != Kind::Real) return fail(SemanticError::kind_mismatch(field));
                    return Linear::write(scalar, field, value.real, width);
                case DescriptorKind::Quantity:
                    if (value.kind != Kind::Decimal) {
                        return fail(SemanticError::kind_mismatch(field));
                    }
                    return Quantity::write(scalar, field, value.decimal, width);
                default:
                    if (value.kind != Kind::Integer) {
                        return fail(SemanticError::kind_mismatch(field));
                    }
                    return Int::write(scalar, field, value.integer, width);
            }
    }
    return fail(SemanticError::kind_mismatch(field));
}

}  // namespace tavrel::semantic
