// A property over every row groups may carry: a value document that names a field's value as a
// caller would write it in JSON is judged by the contract, replayed on the row's builder, proven
// and rendered, and the field then holds the raw number that value stands for. The raw numbers
// and values come from the test's own reading of the declarations.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../semantic/declaration_model.hpp"
#include "contract/contract.hpp"
#include "semantic/pipeline.hpp"

namespace tavrel::contract {
namespace {

using namespace semantic::model;
using semantic::ScalarValue;

// The JSON text a caller writes for the value that composes `raw`; none when JSON has no such
// number (an infinity).
std::optional<std::string> json_value(const Scalar& s, std::uint64_t raw) {
    if (invalid_data(s, raw)) return "null";
    const std::optional<ScalarValue> v = value_for(s, raw);
    if (!v) return std::nullopt;
    switch (v->kind) {
        case ScalarValue::Kind::Boolean:
            return v->boolean ? "true" : "false";
        case ScalarValue::Kind::Integer:
            return std::to_string(v->integer);
        case ScalarValue::Kind::Decimal:
            return std::to_string(v->decimal.mantissa) + "e" + std::to_string(v->decimal.exponent);
        case ScalarValue::Kind::Real: {
            if (!std::isfinite(v->real)) return std::nullopt;
            char buffer[64];
            auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v->real);
            if (ec != std::errc{}) return std::nullopt;
            return std::string(buffer, end);
        }
    }
    return std::nullopt;
}

std::string json_key(std::string_view name) {
    return "\"" + std::string(name) + "\"";
}

// The document setting every assignment: row-level keys, and for a repeated group an array with
// one object per instance.
std::optional<std::string> document(const std::vector<Assignment>& assignments) {
    std::map<std::string, std::string> row_level;
    std::map<std::string, std::vector<std::map<std::string, std::string>>> groups;
    for (const Assignment& a : assignments) {
        auto text = json_value(a.slot.node->scalar, a.raw);
        if (!text) return std::nullopt;
        if (a.slot.group.empty()) {
            row_level[std::string(a.slot.node->name)] = *text;
            continue;
        }
        auto& instances = groups[std::string(a.slot.group)];
        instances.resize(a.slot.count);
        instances[a.slot.index][std::string(a.slot.node->name)] = *text;
    }
    std::string out = "{";
    auto separate = [&out] {
        if (out.size() > 1) out += ", ";
    };
    for (const auto& [name, text] : row_level) {
        separate();
        out += json_key(name) + ": " + text;
    }
    for (const auto& [name, instances] : groups) {
        separate();
        out += json_key(name) + ": [";
        for (std::size_t i = 0; i < instances.size(); ++i) {
            out += i == 0 ? "{" : ", {";
            bool first = true;
            for (const auto& [member, text] : instances[i]) {
                out += (first ? "" : ", ") + json_key(member) + ": " + text;
                first = false;
            }
            out += "}";
        }
        out += "]";
    }
    return out + "}";
}

std::span<const std::uint8_t> bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The document judged, replayed and rendered as a client does before sending.
std::expected<Octets, std::string> write(const Row& row, const std::string& doc) {
    auto form = group_write(row.id, doc);
    if (!form) return std::unexpected("refused: " + form.error().message);
    if (form->kind == WriteForm::Kind::Text) return std::unexpected("a text form");
    const bool prefixed = form->kind == WriteForm::Kind::SettingsAndText;
    auto support = semantic::group_support(row.id, semantic::Direction::Encode);
    if (!support) return std::unexpected(support.error().message());
    std::size_t size = payload_size(row);
    std::string_view tail;
    if (prefixed) {
        size = support->prefixed_octets(form->text.size()).value_or(0);
        semantic::ComposeItems items(row.fields);
        while (auto item = items.next()) {
            if (item->kind == semantic::kItemVariableText && !item->scope) tail = item->name;
        }
    }
    Octets buffer(size);
    auto builder = prefixed ? semantic::group_prefixed_builder(row.id, buffer)
                            : semantic::group_builder(row.id, buffer);
    if (!builder) return std::unexpected(builder.error().message());
    if (auto applied = form->composition.apply(*builder); !applied) {
        return std::unexpected("replay: " + applied.error().message());
    }
    if (prefixed) {
        if (auto set = builder->set_text_named(tail, bytes(form->text)); !set) {
            return std::unexpected("text: " + set.error().message());
        }
    }
    auto value = builder->finish();
    if (!value) return std::unexpected("finish: " + value.error().message());
    Octets wire(size);
    auto group = semantic::group_value(*value, wire);
    if (!group) return std::unexpected(group.error().message());
    if (group->kind == semantic::GroupValue::Kind::Optimized) return Octets{group->octet};
    return Octets(group->octets.begin(), group->octets.end());
}

TEST(ContractRoundTripProperty, EveryScalarFieldWrittenAsJsonReadsBackItsRawValue) {
    Findings findings;
    std::size_t fields = 0;
    for (const Row& row : catalog::rows()) {
        if (!group_supported(row)) continue;
        std::vector<Slot> slots;
        collect(row.fields, {}, 1, slots);
        if (slots.empty()) continue;
        std::string why;
        const auto base = baseline(row, slots, why);
        if (!base) {
            findings.add(why);
            continue;
        }
        for (const Slot& slot : slots) {
            if (slot.index != 0 && slot.index + 1 != slot.count) continue;
            ++fields;
            for (std::uint64_t raw : candidates(slot.node->scalar)) {
                // A group member has no per-instance invalid-data marker.
                if (!slot.group.empty() && invalid_data(slot.node->scalar, raw)) continue;
                std::vector<Assignment> assignments;
                for (const Assignment& a : *base) {
                    const bool same = a.slot.node == slot.node && a.slot.index == slot.index &&
                                      a.slot.group == slot.group;
                    if (!same) assignments.push_back(a);
                }
                assignments.push_back({slot, raw});
                const auto doc = document(assignments);
                if (!doc) continue;  // a value JSON cannot write
                const std::string where = describe(row, slot, raw) + " " + *doc;
                auto octets = write(row, *doc);
                if (!octets) {
                    findings.add(where + ": " + octets.error());
                    continue;
                }
                auto back = read_raw(row, *octets, slot);
                if (!back) {
                    findings.add(where + ": " + back.error());
                } else if (*back != raw) {
                    findings.add(where + ": read back " + std::to_string(*back));
                }
            }
        }
    }
    EXPECT_GT(fields, 0u);
    findings.report("documents did not compose the raw value they stand for");
}

}  // namespace
}  // namespace tavrel::contract
