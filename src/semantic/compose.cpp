#include "semantic/compose.hpp"

#include "semantic/declared.hpp"
#include "semantic/fields.hpp"
#include "semantic/items.hpp"

namespace tavrel::semantic {

using catalog::FieldNode;

namespace {

std::unexpected<SemanticError> fail(SemanticError e) {
    return std::unexpected(e);
}
std::unexpected<SemanticError> fail(const encoding::EncodingError& e) {
    return std::unexpected(SemanticError::from_encoding(e));
}

// A name the setter's look-up did not find: declared as something else, or not at all.
std::unexpected<SemanticError> unresolved(catalog::Slice<FieldNode> fields, std::string_view name) {
    if (auto declared = declaration_text(fields, name)) {
        return fail(SemanticError::kind_mismatch(*declared));
    }
    return fail(encoding::EncodingError::unknown_field());
}

// The bit group's value with the flag's bit set to its active state (on) or the opposite.
Result<std::uint64_t> with_flag(const NamedBitRef& flag, std::uint64_t group_value, bool on) {
    std::uint32_t position = flag.bit->position;
    if (position >= flag.group->bits || position > 63) {
        return fail(SemanticError::named_bit_position(flag.bit->name, position));
    }
    if (flag.bit->active_state > 1) {
        return fail(SemanticError::named_bit_polarity(flag.bit->name, flag.bit->active_state));
    }
    std::uint64_t state = on ? flag.bit->active_state : 1u - flag.bit->active_state;
    std::uint64_t bit = std::uint64_t{1} << position;
    return (group_value & ~bit) | (state << position);
}

}  // namespace

Result<void> Builder::set_named(std::string_view name, const ScalarValue& value) {
    const FieldNode* node = find_named_scalar(row_->fields, name);
    if (node == nullptr) return unresolved(row_->fields, name);
    if (auto located = writer_.bits(node->name); !located) return fail(located.error());
    const catalog::Scalar& s = node->scalar;
    if (auto w = carrier_bits(s.carrier, s.bits, node->name); !w) return w;
    auto raw = write_scalar(s, node->name, value, s.bits);
    if (!raw) return std::unexpected(raw.error());
    if (auto r = writer_.set_bits(node->name, *raw); !r) return fail(r.error());
    return {};
}

Result<void> Builder::set_named_at(std::string_view group, std::uint16_t index,
                                   std::string_view name, const ScalarValue& value) {
    const FieldNode* node = find_named_scalar(row_->fields, name);
    if (node == nullptr) return unresolved(row_->fields, name);
    if (auto located = writer_.repeat_bits(group, index, node->name); !located) {
        return fail(located.error());
    }
    const catalog::Scalar& s = node->scalar;
    if (auto w = carrier_bits(s.carrier, s.bits, node->name); !w) return w;
    auto raw = write_scalar(s, node->name, value, s.bits);
    if (!raw) return std::unexpected(raw.error());
    if (auto r = writer_.set_repeat_bits(group, index, node->name, *raw); !r) {
        return fail(r.error());
    }
    return {};
}

Result<void> Builder::set_flag_named(std::string_view name, bool on) {
    NamedBitRef flag = find_named_bit(row_->fields, name);
    if (!flag) return unresolved(row_->fields, name);
    if (count_declarations(row_->fields, name) >= 2) {
        return fail(SemanticError::kind_mismatch(flag.bit->name));
    }
    auto current = writer_.bits(flag.group->name);
    if (!current) return fail(current.error());
    auto next = with_flag(flag, *current, on);
    if (!next) return std::unexpected(next.error());
    if (auto r = writer_.set_bits(flag.group->name, *next); !r) return fail(r.error());
    return {};
}

Result<void> Builder::set_flag_named_at(std::string_view group, std::uint16_t index,
                                        std::string_view name, bool on) {
    NamedBitRef flag = find_named_bit(row_->fields, name);
    if (!flag) return unresolved(row_->fields, name);
    if (count_declarations(row_->fields, name) >= 2) {
        return fail(SemanticError::kind_mismatch(flag.bit->name));
    }
    if (const FieldNode* repeat = find_repeat(row_->fields, group)) {
        if (index >= repeat->count) return fail(encoding::EncodingError::index_out_of_range());
        NamedBitRef member = find_named_bit(repeat->children, name);
        if (!member) return fail(encoding::EncodingError::unknown_field());
        flag = member;
    }
    auto current = writer_.repeat_bits(group, index, flag.group->name);
    if (!current) return fail(current.error());
    auto next = with_flag(flag, *current, on);
    if (!next) return std::unexpected(next.error());
    if (auto r = writer_.set_repeat_bits(group, index, flag.group->name, *next); !r) {
        return fail(r.error());
    }
    return {};
}

Result<void> Builder::set_invalid_named(std::string_view name) {
    const FieldNode* node = find_named_scalar(row_->fields, name);
    if (node == nullptr) return unresolved(row_->fields, name);
    const catalog::Scalar& s = node->scalar;
    if (auto w = carrier_bits(s.carrier, s.bits, node->name); !w) return w;
    for (const catalog::SpecialValue& special : s.special_values) {
        if (special.meaning != 2) continue;
        if (auto r = writer_.set_bits(node->name, special.raw); !r) return fail(r.error());
        return {};
    }
    return fail(SemanticError::kind_mismatch(node->name));
}

Result<void> Builder::set_text_named(std::string_view name, std::span<const std::uint8_t> octets) {
    ComposeItems items(row_->fields);
    while (auto item = items.next()) {
        if (item->name != name) continue;
        if (item->kind != kItemVariableText && item->kind != kItemFixedText) break;
        if (auto r = writer_.set_chars(item->name, octets); !r) return fail(r.error());
        return {};
    }
    return unresolved(row_->fields, name);
}

Result<Value> Builder::finish() const {
    auto encoded = writer_.finish();
    if (!encoded) return fail(encoded.error());
    auto read = interpret(*encoded, ServiceReading::None);
    if (!read) return std::unexpected(read.error());
    if (const auto* found = std::get_if<FoundDisposition>(&*read)) {
        return fail(SemanticError::disposition_on_encode(found->field, found->disposition));
    }
    return Value::validated(std::get<Value>(*read));
}

namespace schema_seam {

Result<Builder> builder(const catalog::Row& row, std::span<std::uint8_t> buffer) {
    auto writer = encoding::Writer::create(row, buffer);
    if (!writer) return fail(writer.error());
    if (auto r = check_declared_work(row); !r) return std::unexpected(r.error());
    return Builder(row, *writer);
}

}  // namespace schema_seam

}  // namespace tavrel::semantic
