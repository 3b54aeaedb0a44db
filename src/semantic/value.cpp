#include "semantic/value.hpp"

#include <bit>

#include "encoding/traverse.hpp"
#include "semantic/declared.hpp"
#include "semantic/fields.hpp"
#include "semantic/z8.hpp"

namespace tavrel::semantic {

using catalog::Carrier;
using catalog::DescriptorKind;
using catalog::FieldNode;
using catalog::NodeKind;
using catalog::Row;
using catalog::Slice;

struct ValueAccess {
    static Value make(const encoding::Encoded& encoded, ServiceReading reading) {
        return Value(encoded, reading);
    }
};

namespace {

using Found = std::optional<FoundDisposition>;

std::unexpected<SemanticError> fail(SemanticError e) {
    return std::unexpected(e);
}
std::unexpected<SemanticError> fail(const encoding::EncodingError& e) {
    return std::unexpected(SemanticError::from_encoding(e));
}

Found found(Disposition d, std::string_view field) {
    return FoundDisposition{d, field};
}

const catalog::Band* band_of(const catalog::CodeTable& table, std::uint64_t raw) {
    for (const catalog::Band& band : table.bands) {
        if (raw >= band.low && raw <= band.high) return &band;
    }
    return nullptr;
}

bool is_entry(const catalog::CodeTable& table, std::uint64_t raw) {
    for (const catalog::CodeEntry& entry : table.entries) {
        if (entry.value == raw) return true;
    }
    return false;
}

Disposition relation_disposition(std::uint8_t kind) {
    return kind == 1 ? Disposition::AcceptWithoutAction : Disposition::IgnoreMessage;
}

// Calls visit(node, scope) for every Scalar in declaration order: records in the current scope,
// each instance of a repeated group in its own. The visitor returns Result<Found>; the first fault
// or disposition ends the walk.
template <class Visit>
Result<Found> each_scalar(const encoding::Encoded& encoded, Slice<FieldNode> nodes,
                          const ReadScope& scope, bool in_repeat, std::uint32_t depth,
                          Visit&& visit) {
    if (depth > encoding::kMaxDepth) {
        return fail(encoding::EncodingError::unrepresentable_nesting(encoding::kMaxDepth));
    }
    for (const FieldNode& node : nodes) {
        Result<Found> r = Found{};
        if (node.kind == NodeKind::Scalar) {
            r = visit(node, scope);
        } else if (node.kind == NodeKind::Record) {
            r = each_scalar(encoded, node.children, scope, in_repeat, depth + 1, visit);
        } else if (node.kind == NodeKind::RepeatedGroup) {
            if (in_repeat) {
                return fail(encoding::EncodingError::inside_repeated_group());
            }
            auto repeat = encoded.repeat(node.name);
            if (!repeat) return fail(repeat.error());
            for (std::uint16_t i = 0; i < repeat->count(); ++i) {
                ReadScope inner = ReadScope::instance(*repeat, i);
                r = each_scalar(encoded, node.children, inner, true, depth + 1, visit);
                if (!r || r->has_value()) return r;
            }
        }
        if (!r || r->has_value()) return r;
    }
    return Found{};
}

// Runs check(scope) once in the row scope, or once per instance when `field` lives in a group.
template <class Check>
Result<Found> in_field_scopes(const encoding::Encoded& encoded, std::string_view field,
                              Check&& check) {
    const FieldNode* group = enclosing_repeat(encoded.row().fields, field);
    if (group == nullptr) return check(ReadScope::whole(encoded));
    auto repeat = encoded.repeat(group->name);
    if (!repeat) return fail(repeat.error());
    for (std::uint16_t i = 0; i < repeat->count(); ++i) {
        auto r = check(ReadScope::instance(*repeat, i));
        if (!r || r->has_value()) return r;
    }
    return Found{};
}

// The value checks of one scalar on read-back.
Result<Found> sweep_field(const Row& row, const FieldNode& node, const ReadScope& scope) {
    const catalog::Scalar& s = node.scalar;
    auto gone = invalidated(scope, row.fields, row.validity_edges, node.name);
    if (!gone) return std::unexpected(gone.error());
    if (gone->has_value()) return Found{};

    auto raw = scope.bits(node.name);
    if (!raw) return std::unexpected(raw.error());
    if (auto w = carrier_bits(s.carrier, s.bits, node.name); !w) {
        return std::unexpected(w.error());
    }

    for (const catalog::SpecialValue& special : s.special_values) {
        if (special.raw != *raw) continue;
        switch (special.meaning) {
            case 2:
                return Found{};  // the invalid-data code: no value to check
            case 0:
                return found(Disposition::IgnoreMessage, node.name);
            case 1:
            case 3:
                return found(Disposition::AcceptWithoutAction, node.name);
            default:
                break;  // a named ordinary value
        }
        break;
    }

    bool floating = s.carrier == Carrier::Float16 || s.carrier == Carrier::Float32;
    if (!floating) {
        const catalog::CodeTable* table = s.code_table;
        const catalog::Band* band = table ? band_of(*table, *raw) : nullptr;
        bool entry = table && is_entry(*table, *raw);
        switch (s.carrier) {
            case Carrier::Boolean:
                if (table && !entry) {
                    if (band == nullptr) {
                        return fail(SemanticError::unknown_code(node.name, *raw, std::nullopt));
                    }
                    if (band->kind == 0) return found(Disposition::IgnoreMessage, node.name);
                }
                break;
            case Carrier::Enumeration:
                if (table == nullptr) return fail(SemanticError::kind_mismatch(node.name));
                if (!entry) {
                    if (band == nullptr) {
                        return fail(SemanticError::unknown_code(node.name, *raw, std::nullopt));
                    }
                    if (band->kind == 0) return found(Disposition::IgnoreMessage, node.name);
                    if (band->kind != 1) {
                        return fail(SemanticError::unknown_code(node.name, *raw, band->text));
                    }
                }
                break;
            default:
                if (band != nullptr && band->kind == 0) {
                    return found(Disposition::IgnoreMessage, node.name);
                }
                if (table && !entry && band == nullptr) {
                    return fail(SemanticError::unknown_code(node.name, *raw, std::nullopt));
                }
                break;
        }
    }

    switch (s.carrier) {
        case Carrier::Float16: {
            auto q = read_quantity(s, node.name, *raw, s.bits);
            if (!q) return std::unexpected(q.error());
            if (auto r = check_range(s, node.name, *q); !r) return std::unexpected(r.error());
            return Found{};
        }
        case Carrier::Float32: {
            float f = std::bit_cast<float>(static_cast<std::uint32_t>(*raw));
            if (auto r = check_range_f64(s, node.name, static_cast<double>(f)); !r) {
                return std::unexpected(r.error());
            }
            return Found{};
        }
        case Carrier::Unsigned:
        case Carrier::Signed:
            switch (s.descriptor.kind) {
                case DescriptorKind::Int:
                case DescriptorKind::Offset:
                case DescriptorKind::TwoDigitYear:
                case DescriptorKind::StepCode: {
                    std::int64_t n = s.carrier == Carrier::Signed ? sign_extend(*raw, s.bits)
                                                                  : static_cast<std::int64_t>(*raw);
                    if (s.range.bounded &&
                        (catalog::Decimal::value_cmp(catalog::Decimal{n, 0}, s.range.min) < 0 ||
                         catalog::Decimal::value_cmp(catalog::Decimal{n, 0}, s.range.max) > 0)) {
                        return fail(SemanticError::range(node.name, s.range.min, s.range.max,
                                                         static_cast<double>(n)));
                    }
                    return Found{};
                }
                case DescriptorKind::Quantity: {
                    auto q = read_quantity(s, node.name, *raw, s.bits);
                    if (!q) return std::unexpected(q.error());
                    if (auto r = check_range(s, node.name, *q); !r) {
                        return std::unexpected(r.error());
                    }
                    return Found{};
                }
                default:
                    return Found{};
            }
        default:
            return Found{};
    }
}

// Validity-aware cross-field relations.
Result<Found> check_cross_field(const encoding::Encoded& encoded) {
    const Row& row = encoded.row();
    for (const catalog::CrossFieldRelation& relation : row.relations) {
        auto r =
            in_field_scopes(encoded, relation.field, [&](const ReadScope& scope) -> Result<Found> {
                auto gone = invalidated(scope, row.fields, row.validity_edges, relation.field);
                if (!gone) return std::unexpected(gone.error());
                if (gone->has_value()) return Found{};
                auto value = scope.bits(relation.field);
                if (!value) return std::unexpected(value.error());
                if (*value != relation.value) return Found{};
                for (std::string_view operand : relation.operands) {
                    auto skip = invalidated(scope, row.fields, row.validity_edges, operand);
                    if (!skip) return std::unexpected(skip.error());
                    if (skip->has_value()) continue;
                    auto v = scope.bits(operand);
                    if (!v) return std::unexpected(v.error());
                    if (*v != 0) return found(relation_disposition(relation.kind), relation.field);
                }
                return Found{};
            });
        if (!r || r->has_value()) return r;
    }
    return Found{};
}

// Transmit rule for one scalar: no value of meaning "ignore the message".
Result<Found> scan_ignore(const FieldNode& node, const ReadScope& scope) {
    const catalog::Scalar& s = node.scalar;
    if (!s.special_values.empty()) {
        if (auto w = carrier_bits(s.carrier, s.bits, node.name); !w) {
            return std::unexpected(w.error());
        }
    }
    auto raw = scope.bits(node.name);
    if (!raw) return std::unexpected(raw.error());
    for (const catalog::SpecialValue& special : s.special_values) {
        if (special.raw != *raw) continue;
        if (special.meaning == 0) {
            return fail(
                SemanticError::disposition_on_encode(node.name, Disposition::IgnoreMessage));
        }
        if (special.meaning >= 1 && special.meaning <= 3) return Found{};
        break;
    }
    bool coded = s.carrier == Carrier::Boolean || s.carrier == Carrier::Enumeration ||
                 s.carrier == Carrier::Unsigned || s.carrier == Carrier::Signed;
    if (coded && s.code_table != nullptr && !is_entry(*s.code_table, *raw)) {
        const catalog::Band* band = band_of(*s.code_table, *raw);
        if (band != nullptr && band->kind % 2 == 0 && band->kind != 2) {
            return fail(
                SemanticError::disposition_on_encode(node.name, Disposition::IgnoreMessage));
        }
    }
    return Found{};
}

Result<Found> transmit_rule_in(const Row& row, const catalog::CrossFieldRelation& relation,
                               const ReadScope& scope) {
    (void)row;
    auto value = scope.bits(relation.field);
    if (!value) return std::unexpected(value.error());
    if (*value != relation.value) return Found{};
    for (std::string_view operand : relation.operands) {
        auto v = scope.bits(operand);
        if (!v) return std::unexpected(v.error());
        if (*v != 0) {
            return fail(
                SemanticError::disposition_on_encode(relation.field, Disposition::IgnoreMessage));
        }
    }
    return Found{};
}

}  // namespace

Result<std::uint64_t> ReadScope::bits(std::string_view name) const {
    encoding::Result<std::uint64_t> r =
        repeat_ != nullptr ? repeat_->bits(index_, name) : encoded_->bits(name);
    if (!r) return fail(r.error());
    return *r;
}

Result<std::optional<std::string_view>> invalidated(const ReadScope& scope, Slice<FieldNode> fields,
                                                    Slice<catalog::ValidityEdge> edges,
                                                    std::string_view target) {
    for (const catalog::ValidityEdge& edge : edges) {
        if (edge.target != target) continue;
        NamedBitRef flag = find_named_bit(fields, edge.flag);
        if (!flag) continue;
        auto group = scope.bits(flag.group->name);
        if (!group) return std::unexpected(group.error());
        std::uint32_t position = flag.bit->position;
        if (position >= flag.group->bits || position > 63) {
            return fail(SemanticError::named_bit_position(edge.flag, position));
        }
        if (flag.bit->active_state > 1) {
            return fail(SemanticError::named_bit_polarity(edge.flag, flag.bit->active_state));
        }
        bool active = ((*group >> position) & 1u) == flag.bit->active_state;
        if (active == edge.invalid_when_active) return std::optional<std::string_view>(edge.flag);
    }
    return std::optional<std::string_view>{};
}

Result<Interpretation> interpret(const encoding::Encoded& encoded, ServiceReading reading) {
    const Row& row = encoded.row();
    if (auto r = check_declared_work(row); !r) return std::unexpected(r.error());

    bool selected = row.context == catalog::ContextRequirement::ServiceSelected;
    if (selected && reading == ServiceReading::None) return fail(SemanticError::context_missing());
    if (!selected && reading != ServiceReading::None) {
        return fail(SemanticError::context_not_required());
    }

    if (auto r = encoded.check_reserved(); !r) return fail(r.error());

    const FieldNode* excluded = nullptr;
    if (const FieldNode* control = z8_field(row.fields);
        control != nullptr && reading != ServiceReading::None) {
        auto octet = encoded.bits(control->name);
        if (!octet) return fail(octet.error());
        auto value = static_cast<std::uint8_t>(*octet);
        if (reading == ServiceReading::Command) {
            auto c = command(value);
            if (!c) return std::unexpected(c.error());
            if (c->ignores_main) excluded = main_field(row.fields);
        } else {
            if (auto r = check_status(value); !r) return std::unexpected(r.error());
            if (status_main_value(value)) excluded = main_field(row.fields);
        }
    }

    auto swept = each_scalar(encoded, row.fields, ReadScope::whole(encoded), false, 1,
                             [&](const FieldNode& node, const ReadScope& scope) -> Result<Found> {
                                 if (&node == excluded) return Found{};
                                 return sweep_field(row, node, scope);
                             });
    if (!swept) return std::unexpected(swept.error());
    if (swept->has_value()) return Interpretation{**swept};

    auto related = check_cross_field(encoded);
    if (!related) return std::unexpected(related.error());
    if (related->has_value()) return Interpretation{**related};

    return Interpretation{ValueAccess::make(encoded, reading)};
}

Result<Value> Value::validated(Value value) {
    const encoding::Encoded& encoded = value.encoded_;
    const Row& row = encoded.row();
    auto scanned = each_scalar(
        encoded, row.fields, ReadScope::whole(encoded), false, 1,
        [](const FieldNode& node, const ReadScope& scope) { return scan_ignore(node, scope); });
    if (!scanned) return std::unexpected(scanned.error());
    for (const catalog::CrossFieldRelation& relation : row.relations) {
        if (relation.kind != 0) continue;
        auto r = in_field_scopes(encoded, relation.field, [&](const ReadScope& scope) {
            return transmit_rule_in(row, relation, scope);
        });
        if (!r) return std::unexpected(r.error());
    }
    return value;
}

}  // namespace tavrel::semantic
