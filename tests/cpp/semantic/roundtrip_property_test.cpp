// Properties over every row of the catalogue: a value composed for a scalar field comes back as
// the raw number it stands for once the payload is proven and rendered, and a Float16 field's
// accepted raw values re-encode to the form the writer chooses for the same value.
//
// The test reads the declarations with its own small model (what raw numbers a field admits and
// which value each stands for) instead of asking the code under test, so a mapping that drifts
// from the declarations shows up as a raw number that does not come back.
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
#include "semantic/compose.hpp"
#include "semantic/mapping.hpp"
#include "semantic/pipeline.hpp"
#include "semantic/value.hpp"

namespace tavrel::semantic {
namespace {

using catalog::Carrier;
using catalog::Decimal;
using catalog::DescriptorKind;
using catalog::FieldNode;
using catalog::NodeKind;
using catalog::Row;
using catalog::Scalar;
using Octets = std::vector<std::uint8_t>;

// ---- The test's reading of a scalar declaration ----

std::uint64_t width_mask(std::uint32_t width) {
    return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

std::int64_t number_of(const Scalar& s, std::uint64_t raw) {
    if (s.carrier == Carrier::Signed && s.bits < 64 && ((raw >> (s.bits - 1)) & 1)) {
        return static_cast<std::int64_t>(raw) -
               static_cast<std::int64_t>(std::uint64_t{1} << s.bits);
    }
    return static_cast<std::int64_t>(raw);
}

bool within(const Scalar& s, Decimal d) {
    if (!s.range.bounded) return true;
    return Decimal::value_cmp(s.range.min, d) <= 0 && Decimal::value_cmp(d, s.range.max) <= 0;
}

// A Float16 raw value as its mantissa and exponent: 0.01 x M x 2^E.
struct Half {
    std::int64_t mantissa = 0;
    std::uint32_t exponent = 0;
    std::int64_t hundredths() const { return mantissa * (std::int64_t{1} << exponent); }
};

Half half_of(std::uint64_t raw) {
    std::int64_t low = static_cast<std::int64_t>(raw & 0x7FF);
    return Half{(raw & 0x8000) ? low - 2048 : low, static_cast<std::uint32_t>((raw >> 11) & 0xF)};
}

// The raw value with the smallest exponent whose mantissa holds `hundredths`.
std::optional<std::uint64_t> half_raw(std::int64_t hundredths) {
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

std::optional<Decimal> quantity_of(const Scalar& s, std::uint64_t raw) {
    if (s.resolution == nullptr || s.resolution->approximate) return std::nullopt;
    std::int64_t product = 0;
    if (__builtin_mul_overflow(number_of(s, raw), s.resolution->step.mantissa, &product)) {
        return std::nullopt;
    }
    return Decimal{product, s.resolution->step.exponent};
}

bool special_with_meaning(const Scalar& s, std::uint64_t raw, std::initializer_list<int> meanings) {
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
bool read_admits(const Scalar& s, std::uint64_t raw) {
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
std::optional<ScalarValue> value_for(const Scalar& s, std::uint64_t raw) {
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
bool invalid_data(const Scalar& s, std::uint64_t raw) {
    return special_with_meaning(s, raw, {2});
}

bool composable(const Scalar& s, std::uint64_t raw) {
    if (!read_admits(s, raw)) return false;
    return invalid_data(s, raw) || value_for(s, raw).has_value();
}

std::int64_t rounded(double x) {
    if (!(x > -9.2e18 && x < 9.2e18))
        return x < 0 ? std::numeric_limits<std::int64_t>::min()
                     : std::numeric_limits<std::int64_t>::max();
    return std::llround(x);
}

// Raw values worth composing for a field: every value of a narrow field; for a wide one the
// edges of the carrier and of the declared range, their neighbours, and a few ordinary values.
std::vector<std::uint64_t> candidates(const Scalar& s) {
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

// ---- Rows, slots and composition ----

// One scalar field as the builder addresses it: at the row level, or in one instance of a
// repeated group.
struct Slot {
    const FieldNode* node = nullptr;
    std::string_view group;  // empty at the row level
    std::uint16_t index = 0;
    std::uint16_t count = 1;
};

void collect(catalog::Slice<FieldNode> nodes, std::string_view group, std::uint16_t count,
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

std::string describe(const Row& row, const Slot& slot, std::uint64_t raw) {
    std::string out = row.id.display() + " " + std::string(slot.node->name);
    if (!slot.group.empty()) {
        out += " in " + std::string(slot.group) + "[" + std::to_string(slot.index) + "]";
    }
    return out + " raw " + std::to_string(raw);
}

std::size_t payload_size(const Row& row) {
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

bool group_supported(const Row& row) {
    return group_support(row.id, Direction::Encode).has_value();
}

struct Assignment {
    Slot slot;
    std::uint64_t raw = 0;
};

// What the read-back must take for every field before one of them is varied: raw 0 wherever the
// declaration admits it, otherwise the field's first composable raw value.
std::optional<std::vector<Assignment>> baseline(const Row& row, const std::vector<Slot>& slots,
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

using Outcome = std::expected<Octets, std::string>;

Result<void> assign(Builder& b, const Assignment& a) {
    if (invalid_data(a.slot.node->scalar, a.raw)) {
        if (!a.slot.group.empty()) {
            return std::unexpected(SemanticError::kind_mismatch(a.slot.node->name));
        }
        return b.set_invalid_named(a.slot.node->name);
    }
    const ScalarValue value = *value_for(a.slot.node->scalar, a.raw);
    if (a.slot.group.empty()) return b.set_named(a.slot.node->name, value);
    return b.set_named_at(a.slot.group, a.slot.index, a.slot.node->name, value);
}

// Composes the row with the builder a caller would get and returns the octets that would travel:
// the rendered group value of a row groups may carry, the proven payload of a restricted row, and
// for a row with a control octet the payload read back as a status with no status bit set.
Outcome compose(const Row& row, const std::vector<Assignment>& assignments) {
    Octets buffer(payload_size(row));
    const bool supported = group_supported(row);
    std::optional<Builder> builder;
    if (supported) {
        auto b = row.form.kind == catalog::RowForm::Kind::Variable
                     ? group_prefixed_builder(row.id, buffer)
                     : group_builder(row.id, buffer);
        if (!b) return std::unexpected("builder: " + b.error().message());
        builder.emplace(*b);
    } else {
        auto b = schema_seam::builder(row, buffer);
        if (!b) return std::unexpected("builder: " + b.error().message());
        builder.emplace(*b);
    }
    for (const Assignment& a : assignments) {
        if (auto r = assign(*builder, a); !r) {
            return std::unexpected("set " + describe(row, a.slot, a.raw) + ": " +
                                   r.error().message());
        }
    }
    if (row.context == catalog::ContextRequirement::ServiceSelected) {
        auto finished = builder->finish();
        if (finished || finished.error().code() != "semantic/context-missing") {
            return std::unexpected(
                "a composition of a control-octet row was not refused for "
                "its missing reading");
        }
        auto encoded = encoding::Encoded::decode(row, buffer);
        if (!encoded) return std::unexpected("decode: " + encoded.error().message());
        auto read = interpret(*encoded, ServiceReading::Status);
        if (!read) return std::unexpected("status read-back: " + read.error().message());
        if (!std::holds_alternative<Value>(*read)) {
            return std::unexpected("status read-back found a special meaning");
        }
        if (auto sent = Value::validated(std::get<Value>(*read)); !sent) {
            return std::unexpected("transmit rules: " + sent.error().message());
        }
        return buffer;
    }
    auto value = builder->finish();
    if (!value) return std::unexpected("finish: " + value.error().message());
    if (!supported) return Octets(value->payload().begin(), value->payload().end());
    Octets wire(buffer.size());
    auto group = group_value(*value, wire);
    if (!group) return std::unexpected("group_value: " + group.error().message());
    if (group->kind == GroupValue::Kind::Optimized) return Octets{group->octet};
    return Octets(group->octets.begin(), group->octets.end());
}

std::expected<std::uint64_t, std::string> read_raw(const Row& row, const Octets& octets,
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

TEST(RoundTripProperty, EveryScalarFieldReadsBackTheRawValueComposedForIt) {
    Findings findings;
    std::size_t fields = 0;
    for (const Row& row : catalog::rows()) {
        std::vector<Slot> slots;
        collect(row.fields, {}, 1, slots);
        if (slots.empty()) continue;
        std::string why;
        const auto base = baseline(row, slots, why);
        if (!base) {
            findings.add(why);
            continue;
        }
        // The baseline alone is a value the row accepts.
        if (Outcome plain = compose(row, *base); !plain) {
            findings.add(row.id.display() + " baseline: " + plain.error());
            continue;
        }
        for (const Slot& slot : slots) {
            // The first and the last instance of a group stand for all of them.
            if (slot.index != 0 && slot.index + 1 != slot.count) continue;
            ++fields;
            for (std::uint64_t raw : candidates(slot.node->scalar)) {
                if (!slot.group.empty() && invalid_data(slot.node->scalar, raw)) continue;
                std::vector<Assignment> assignments = *base;
                assignments.push_back({slot, raw});
                Outcome out = compose(row, assignments);
                if (!out) {
                    findings.add(describe(row, slot, raw) + ": " + out.error());
                    continue;
                }
                auto back = read_raw(row, *out, slot);
                if (!back) {
                    findings.add(describe(row, slot, raw) + ": " + back.error());
                } else if (*back != raw) {
                    findings.add(describe(row, slot, raw) + ": read back " + std::to_string(*back));
                }
            }
        }
    }
    EXPECT_GT(fields, 0u);
    findings.report("composed values did not read back as composed");
}

// Every raw value of a Float16 field is judged by the read-back exactly as its declaration says,
// and each accepted value re-encodes to the raw value with the smallest exponent for it, which
// is the raw value itself whenever that was already in its smallest-exponent form.
TEST(RoundTripProperty, EveryAcceptedFloat16RawReEncodesToItsSmallestExponentForm) {
    Findings findings;
    std::size_t fields = 0;
    for (const Row& row : catalog::rows()) {
        std::vector<Slot> slots;
        collect(row.fields, {}, 1, slots);
        std::string why;
        const auto base = baseline(row, slots, why);
        if (!base) continue;  // reported by the test above
        const ServiceReading reading = row.context == catalog::ContextRequirement::ServiceSelected
                                           ? ServiceReading::Status
                                           : ServiceReading::None;
        for (const Slot& slot : slots) {
            const Scalar& s = slot.node->scalar;
            if (s.carrier != Carrier::Float16 || slot.index != 0) continue;
            ++fields;
            Octets buffer(payload_size(row));
            auto writer = encoding::Writer::create(row, buffer);
            if (!writer) {
                findings.add(row.id.display() + ": " + writer.error().message());
                continue;
            }
            for (const Assignment& a : *base) {
                const auto set = a.slot.group.empty()
                                     ? writer->set_bits(a.slot.node->name, a.raw)
                                     : writer->set_repeat_bits(a.slot.group, a.slot.index,
                                                               a.slot.node->name, a.raw);
                ASSERT_TRUE(set.has_value()) << describe(row, a.slot, a.raw);
            }
            for (std::uint64_t raw = 0; raw <= 0xFFFF; ++raw) {
                const std::string where = describe(row, slot, raw);
                const auto set =
                    slot.group.empty()
                        ? writer->set_bits(slot.node->name, raw)
                        : writer->set_repeat_bits(slot.group, slot.index, slot.node->name, raw);
                if (!set) {
                    findings.add(where + ": " + set.error().message());
                    continue;
                }
                auto encoded = writer->finish();
                if (!encoded) {
                    findings.add(where + ": " + encoded.error().message());
                    continue;
                }
                auto read = interpret(*encoded, reading);
                const bool accepted = read.has_value() && std::holds_alternative<Value>(*read);
                if (accepted != read_admits(s, raw)) {
                    findings.add(where + (accepted
                                              ? ": accepted, out of its range"
                                              : ": refused, " + (read ? std::string("special")
                                                                      : read.error().message())));
                    continue;
                }
                if (!accepted || special_with_meaning(s, raw, {2})) continue;

                const Decimal expected{half_of(raw).hundredths(), -2};
                auto value = read_quantity(s, slot.node->name, raw, 16);
                if (!value || Decimal::value_cmp(*value, expected) != 0) {
                    findings.add(where + ": read as " +
                                 (value ? value->display() : value.error().message()));
                    continue;
                }
                auto again = write_scalar(s, slot.node->name, ScalarValue::of_decimal(*value), 16);
                const std::optional<std::uint64_t> smallest = half_raw(expected.mantissa);
                if (!again) {
                    findings.add(where + ": " + value->display() +
                                 " does not re-encode: " + again.error().message());
                } else if (!smallest || *again != *smallest) {
                    findings.add(where + ": re-encoded as " + std::to_string(*again));
                }
            }
        }
    }
    EXPECT_GT(fields, 0u);
    findings.report("Float16 raw values were judged or re-encoded wrongly");
}

}  // namespace
}  // namespace tavrel::semantic
