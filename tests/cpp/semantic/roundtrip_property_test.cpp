// Properties over every row of the catalogue: a value composed for a scalar field comes back as
// the raw number it stands for once the payload is proven and rendered, and a Float16 field's
// accepted raw values re-encode to the form the writer chooses for the same value.
//
// Raw numbers and values come from the test's own reading of the declarations (declaration_model),
// so a mapping that drifts from the declarations shows up as a raw number that does not come back.
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
#include "declaration_model.hpp"
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
using namespace model;

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
// The raw values of the bit groups, outside repeated groups, that leave every validity edge's
// target valid: a field the flags invalidate is exempt from its range, which the Float16 property
// below must judge.
std::vector<std::pair<std::string_view, std::uint64_t>> valid_flags(const Row& row) {
    std::vector<std::pair<std::string_view, std::uint64_t>> groups;
    auto visit = [&](auto&& self, catalog::Slice<FieldNode> nodes) -> void {
        for (const FieldNode& node : nodes) {
            if (node.kind == NodeKind::Record) self(self, node.children);
            if (node.kind != NodeKind::BitGroup) continue;
            std::uint64_t raw = 0;
            for (const catalog::NamedBit& bit : node.group->bits) {
                bool valid_when_active = false;
                bool edged = false;
                for (const catalog::ValidityEdge& edge : row.validity_edges) {
                    if (edge.flag != bit.name) continue;
                    edged = true;
                    valid_when_active = !edge.invalid_when_active;
                }
                if (!edged) continue;
                const bool set_bit =
                    valid_when_active ? bit.active_state == 1 : bit.active_state == 0;
                if (set_bit) raw |= std::uint64_t{1} << bit.position;
            }
            if (raw != 0) groups.emplace_back(node.name, raw);
        }
    };
    visit(visit, row.fields);
    return groups;
}

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
            for (const auto& [group, raw] : valid_flags(row)) {
                ASSERT_TRUE(writer->set_bits(group, raw).has_value()) << row.id.display();
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
