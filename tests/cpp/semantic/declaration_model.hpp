// A test-side reading of catalogue declarations, independent of the code under test: which raw
// numbers a scalar field admits on reading, the value a caller composes to get each of them, a
// handful of raw values worth composing per field, and a valid starting payload per row. The
// round-trip properties of the semantic layer and of the value contract are stated against it.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalog/schema.hpp"
#include "encoding/encoded.hpp"
#include "semantic/mapping.hpp"
#include "semantic/pipeline.hpp"

namespace tavrel::semantic::model {

using catalog::Carrier;
using catalog::Decimal;
using catalog::DescriptorKind;
using catalog::FieldNode;
using catalog::NodeKind;
using catalog::Row;
using catalog::Scalar;
using Octets = std::vector<std::uint8_t>;

inline std::uint64_t width_mask(std::uint32_t width) {
    return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

inline std::int64_t number_of(const Scalar& s, std::uint64_t raw) {
    if (s.carrier == Carrier::Signed && s.bits < 64 && ((raw >> (s.bits - 1)) & 1)) {
        return static_cast<std::int64_t>(raw) -
               static_cast<std::int64_t>(std::uint64_t{1} << s.bits);
    }
    return static_cast<std::int64_t>(raw);
}

inline bool within(const Scalar& s, Decimal d) {
    if (!s.range.bounded) return true;
    return Decimal::value_cmp(s.range.min, d) <= 0 && Decimal::value_cmp(d, s.range.max) <= 0;
}

// A Float16 raw value as its mantissa and exponent: 0.01 x M x 2^E.
struct Half {
    std::int64_t mantissa = 0;
    std::uint32_t exponent = 0;
    std::int64_t hundredths() const { return mantissa * (std::int64_t{1} << exponent); }
};

inline Half half_of(std::uint64_t raw) {
    std::int64_t low = static_cast<std::int64_t>(raw & 0x7FF);
    return Half{(raw & 0x8000) ? low - 2048 : low, static_cast<std::uint32_t>((raw >> 11) & 0xF)};
}

// The raw value with the smallest exponent whose mantissa holds `hundredths`.
inline std::optional<std::uint64_t> half_raw(std::int64_t hundredths) {
    for (std::uint32_t e = 0; e < 16; ++e) {
        const std::int64_t unit = std::int64_t{1} << e;
        if (hundredths % unit != 0) return std::nullopt;
        const std::int64_t m = hundredths / unit;
        if (m >= -2048 && m <= 2047) {
            return (m < 0 ? 0x8000u : 0u) | (e << 11) | (static_cast<std::uint64_t>(m) & 0x7FF);
        }
    }
    return std::nullopt;
}

inline std::optional<Decimal> quantity_of(const Scalar& s, std::uint64_t raw) {
    if (s.resolution == nullptr || s.resolution->approximate) return std::nullopt;
    std::int64_t product = 0;
    if (__builtin_mul_overflow(number_of(s, raw), s.resolution->step.mantissa, &product)) {
        return std::nullopt;
    }
    return Decimal{product, s.resolution->step.exponent};
}

inline bool special_with_meaning(const Scalar& s, std::uint64_t raw,
                                 std::initializer_list<int> meanings) {
    for (const catalog::SpecialValue& sv : s.special_values) {
        if (sv.raw != raw) continue;
        for (int m : meanings) {
            if (sv.meaning == m) return true;
        }
    }
    return false;
}

// Whether the read-back of a finished payload takes `raw` in this field without a fault or a
// special meaning.
inline bool read_admits(const Scalar& s, std::uint64_t raw) {
    if (special_with_meaning(s, raw, {0, 1, 3})) return false;
    if (special_with_meaning(s, raw, {2})) return true;
    if (const catalog::CodeTable* table = s.code_table) {
        bool entry = false;
        for (const catalog::CodeEntry& e : table->entries) entry = entry || e.value == raw;
        bool band = false;
        for (const catalog::Band& b : table->bands) band = band || (b.low <= raw && raw <= b.high);
        switch (s.carrier) {
            case Carrier::Enumeration:
                // A band of kind 1 passes on reading, but no writer may choose it.
                if (!entry) {
                    for (const catalog::Band& b : table->bands) {
                        if (b.low <= raw && raw <= b.high) return b.kind == 1;
                    }
                    return false;
                }
                break;
            case Carrier::Boolean:
            case Carrier::Unsigned:
            case Carrier::Signed:
                if (!entry && !band) return false;
                break;
            default:
                break;
        }
    }
    switch (s.carrier) {
        case Carrier::Boolean:
            return raw <= 1;
        case Carrier::Enumeration:
            return s.code_table != nullptr;
        case Carrier::Float16:
            return within(s, Decimal{half_of(raw).hundredths(), -2});
        case Carrier::Float32: {
            const float f = std::bit_cast<float>(static_cast<std::uint32_t>(raw));
            if (!s.range.bounded || std::isnan(f)) return true;
            return decimal_to_f64(s.range.min) <= f && f <= decimal_to_f64(s.range.max);
        }
        case Carrier::Unsigned:
        case Carrier::Signed:
            break;
    }
    switch (s.descriptor.kind) {
        case DescriptorKind::Linear:
        case DescriptorKind::Natural:
            return true;
        case DescriptorKind::Quantity: {
            auto d = quantity_of(s, raw);
            return d && within(s, *d);
        }
        default:
            return within(s, Decimal{number_of(s, raw), 0});
    }
}

// The value a caller composes to get `raw`, or none when no value the writer takes maps to it.
inline std::optional<ScalarValue> value_for(const Scalar& s, std::uint64_t raw) {
    switch (s.carrier) {
        case Carrier::Boolean:
            return ScalarValue::of_boolean(raw != 0);
        case Carrier::Enumeration: {
            if (s.code_table == nullptr) return std::nullopt;
            for (const catalog::CodeEntry& e : s.code_table->entries) {
                if (e.value == raw) return ScalarValue::of_integer(static_cast<std::int64_t>(raw));
            }
            return std::nullopt;
        }
        case Carrier::Float16: {
            const Half h = half_of(raw);
            if (half_raw(h.hundredths()) != raw) return std::nullopt;  // another form is chosen
            return ScalarValue::of_decimal(Decimal{h.hundredths(), -2});
        }
        case Carrier::Float32: {
            const float f = std::bit_cast<float>(static_cast<std::uint32_t>(raw));
            if (std::isnan(f)) return std::nullopt;
            return ScalarValue::of_real(f);
        }
        case Carrier::Unsigned:
        case Carrier::Signed:
            break;
    }
    const std::int64_t n = number_of(s, raw);
    switch (s.descriptor.kind) {
        case DescriptorKind::Int:
        case DescriptorKind::StepCode:
            return ScalarValue::of_integer(n);
        case DescriptorKind::Offset:
            return ScalarValue::of_integer(n + s.descriptor.argument);
        case DescriptorKind::TwoDigitYear:
            if (n < 0 || n > 99) return std::nullopt;
            return ScalarValue::of_integer(n >= 90 ? 1900 + n : 2000 + n);
        case DescriptorKind::Quantity: {
            auto d = quantity_of(s, raw);
            if (!d) return std::nullopt;
            return ScalarValue::of_decimal(*d);
        }
        case DescriptorKind::Linear: {
            const double lo = decimal_to_f64(s.range.min);
            const double hi = decimal_to_f64(s.range.max);
            const double top = static_cast<double>(width_mask(s.bits));
            return ScalarValue::of_real(lo + static_cast<double>(raw) * (hi - lo) / top);
        }
        case DescriptorKind::Natural:
            return std::nullopt;
    }
    return std::nullopt;
}

// An invalid-data code is composed with its own setter, which exists only at the row level.
inline bool invalid_data(const Scalar& s, std::uint64_t raw) {
    return special_with_meaning(s, raw, {2});
}

inline bool composable(const Scalar& s, std::uint64_t raw) {
    if (!read_admits(s, raw)) return false;
    return invalid_data(s, raw) || value_for(s, raw).has_value();
}

inline std::int64_t rounded(double x) {
    if (!(x > -9.2e18 && x < 9.2e18))
        return x < 0 ? std::numeric_limits<std::int64_t>::min()
                     : std::numeric_limits<std::int64_t>::max();
    return std::llround(x);
}

// Raw values worth composing for a field: every value of a narrow field; for a wide one the
// edges of the carrier and of the declared range, their neighbours, and a few ordinary values.
inline std::vector<std::uint64_t> candidates(const Scalar& s) {
    std::set<std::uint64_t> raws;
    const std::uint32_t w = s.bits;
    const std::uint64_t mask = width_mask(w);
    switch (s.carrier) {
        case Carrier::Boolean:
            raws = {0, 1};
            break;
        case Carrier::Enumeration:
            if (s.code_table) {
                for (const catalog::CodeEntry& e : s.code_table->entries) raws.insert(e.value);
            }
            break;
        case Carrier::Float16: {
            // The lowest and highest composable values, zero, the grid's first steps and the
            // mantissa's edges at the smallest exponents.
            std::optional<std::uint64_t> lowest, highest;
            for (std::uint64_t raw = 0; raw <= 0xFFFF; ++raw) {
                if (!composable(s, raw) || invalid_data(s, raw)) continue;
                const std::int64_t q = half_of(raw).hundredths();
                if (!lowest || q < half_of(*lowest).hundredths()) lowest = raw;
                if (!highest || q > half_of(*highest).hundredths()) highest = raw;
            }
            if (lowest) raws.insert(*lowest);
            if (highest) raws.insert(*highest);
            raws.insert({0x0000, 0x0001, 0x87FF, 0x07FF, 0x8000, 0x0C00, 0x0C33, 0xA156, 0x7FFE});
            break;
        }
        case Carrier::Float32: {
            const float values[] = {0.0f,
                                    -0.0f,
                                    1.5f,
                                    -2.0f,
                                    0.1f,
                                    std::numeric_limits<float>::min(),
                                    std::numeric_limits<float>::denorm_min(),
                                    std::numeric_limits<float>::max(),
                                    std::numeric_limits<float>::lowest(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity()};
            for (float f : values) raws.insert(std::bit_cast<std::uint32_t>(f));
            if (s.range.bounded) {
                for (Decimal bound : {s.range.min, s.range.max}) {
                    const double b = decimal_to_f64(bound);
                    if (static_cast<double>(static_cast<float>(b)) == b) {
                        raws.insert(std::bit_cast<std::uint32_t>(static_cast<float>(b)));
                    }
                }
            }
            break;
        }
        case Carrier::Unsigned:
        case Carrier::Signed: {
            if (w <= 8) {
                for (std::uint64_t raw = 0; raw <= mask; ++raw) raws.insert(raw);
                break;
            }
            const bool is_signed = s.carrier == Carrier::Signed;
            const std::int64_t low = is_signed ? (w >= 64 ? std::numeric_limits<std::int64_t>::min()
                                                          : -(std::int64_t{1} << (w - 1)))
                                               : 0;
            const std::int64_t high =
                is_signed ? static_cast<std::int64_t>(mask >> 1) : static_cast<std::int64_t>(mask);
            std::vector<std::int64_t> numbers = {low, low + 1, -1, 0, 1, 2, 100, high - 1, high};
            if (s.range.bounded) {
                double step = 1.0;
                if (s.descriptor.kind == DescriptorKind::Quantity && s.resolution) {
                    step = decimal_to_f64(s.resolution->step);
                }
                for (Decimal bound : {s.range.min, s.range.max}) {
                    const std::int64_t n = rounded(decimal_to_f64(bound) / step);
                    for (std::int64_t k = -1; k <= 1; ++k) {
                        std::int64_t m = 0;
                        if (!__builtin_add_overflow(n, k, &m)) numbers.push_back(m);
                    }
                }
            }
            for (std::int64_t n : numbers) {
                if (n < low || n > high) continue;
                raws.insert(static_cast<std::uint64_t>(n) & mask);
            }
            break;
        }
    }
    std::vector<std::uint64_t> out;
    for (std::uint64_t raw : raws) {
        if (composable(s, raw)) out.push_back(raw);
    }
    return out;
}

// One scalar field as the builder addresses it: at the row level, or in one instance of a
// repeated group.
struct Slot {
    const FieldNode* node = nullptr;
    std::string_view group;  // empty at the row level
    std::uint16_t index = 0;
    std::uint16_t count = 1;
};

inline void collect(catalog::Slice<FieldNode> nodes, std::string_view group, std::uint16_t count,
                    std::vector<Slot>& out) {
    for (const FieldNode& n : nodes) {
        switch (n.kind) {
            case NodeKind::Scalar:
                for (std::uint16_t i = 0; i < count; ++i) out.push_back({&n, group, i, count});
                break;
            case NodeKind::Record:
                collect(n.children, group, count, out);
                break;
            case NodeKind::RepeatedGroup:
                collect(n.children, n.name, n.count, out);
                break;
            default:
                break;
        }
    }
}

inline std::string describe(const Row& row, const Slot& slot, std::uint64_t raw) {
    std::string out = row.id.display() + " " + std::string(slot.node->name);
    if (!slot.group.empty()) {
        out += " in " + std::string(slot.group) + "[" + std::to_string(slot.index) + "]";
    }
    return out + " raw " + std::to_string(raw);
}

inline std::size_t payload_size(const Row& row) {
    switch (row.form.kind) {
        case catalog::RowForm::Kind::SubOctet:
            return 1;
        case catalog::RowForm::Kind::Octets:
            return row.form.size;
        case catalog::RowForm::Kind::Variable:
            return encoding::prefixed_octets(row, 0).value_or(0);
    }
    return 0;
}

inline bool group_supported(const Row& row) {
    return group_support(row.id, Direction::Encode).has_value();
}

struct Assignment {
    Slot slot;
    std::uint64_t raw = 0;
};

// What the read-back must take for every field before one of them is varied: raw 0 wherever the
// declaration admits it, otherwise the field's first composable raw value.
inline std::optional<std::vector<Assignment>> baseline(const Row& row,
                                                       const std::vector<Slot>& slots,
                                                       std::string& why) {
    std::vector<Assignment> out;
    for (const Slot& slot : slots) {
        if (read_admits(slot.node->scalar, 0)) continue;
        const std::vector<std::uint64_t> raws = candidates(slot.node->scalar);
        if (raws.empty()) {
            why = describe(row, slot, 0) + ": no composable value at all";
            return std::nullopt;
        }
        out.push_back({slot, raws.front()});
    }
    return out;
}

inline std::expected<std::uint64_t, std::string> read_raw(const Row& row, const Octets& octets,
                                                          const Slot& slot) {
    auto encoded = encoding::Encoded::decode(row, octets);
    if (!encoded) return std::unexpected("decode: " + encoded.error().message());
    if (slot.group.empty()) {
        auto bits = encoded->bits(slot.node->name);
        if (!bits) return std::unexpected("bits: " + bits.error().message());
        return *bits;
    }
    auto repeat = encoded->repeat(slot.group);
    if (!repeat) return std::unexpected("repeat: " + repeat.error().message());
    auto bits = repeat->bits(slot.index, slot.node->name);
    if (!bits) return std::unexpected("bits: " + bits.error().message());
    return *bits;
}

// Collects mismatches and reports the first few, so a fault common to many fields stays
// readable.
class Findings {
  public:
    void add(std::string finding) {
        if (count_++ < 25) first_.push_back(std::move(finding));
    }
    void report(const char* what) const {
        if (count_ == 0) return;
        std::string text;
        for (const std::string& f : first_) text += "\n  " + f;
        ADD_FAILURE() << count_ << " " << what << text;
    }

  private:
    std::size_t count_ = 0;
    std::vector<std::string> first_;
};

}  // namespace tavrel::semantic::model
