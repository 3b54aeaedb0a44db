#include "encoding/encoded.hpp"

#include <algorithm>
#include <limits>

#include "encoding/bits.hpp"

namespace tavrel::encoding {

namespace {

using Form = catalog::RowForm::Kind;

std::unexpected<EncodingError> fail(EncodingError error) {
    return std::unexpected(error);
}

Result<void> prefix_closure_at(Slice<FieldNode> nodes, std::uint32_t depth) {
    if (depth > kMaxDepth) return fail(EncodingError::unrepresentable_nesting(kMaxDepth));
    for (const FieldNode& node : nodes) {
        switch (node.kind) {
            case NodeKind::Scalar:
            case NodeKind::Reserved:
            case NodeKind::BitGroup:
                break;
            case NodeKind::Record:
                if (auto r = prefix_closure_at(node.children, depth + 1); !r) return r;
                break;
            default:
                return fail(EncodingError::row_form_mismatch());
        }
    }
    return {};
}

// A row with a fixed prefix and a VariableText tail: the prefix in whole octets.
Result<std::uint32_t> prefix_octets(const Row& row) {
    const auto& fields = row.fields;
    if (row.form.kind != Form::Variable || fields.size() < 2 ||
        fields.back().kind != NodeKind::VariableText) {
        return fail(EncodingError::row_form_mismatch());
    }
    auto bits = tree_bits(fields.first(fields.size() - 1));
    if (!bits) return bits;
    if (*bits % 8 != 0) return fail(EncodingError::row_form_mismatch());
    return *bits / 8;
}

// The buffer a Writer (or a canonical copy) fills: the exact length of a fixed row, or room for a
// prefix, a content of at most 65535 octets and the terminator.
Result<void> check_buffer_length(const Row& row, std::size_t length) {
    switch (row.form.kind) {
        case Form::SubOctet:
            if (length != 1) return fail(EncodingError::length(1, length));
            return {};
        case Form::Octets:
            if (length != row.form.size) return fail(EncodingError::length(row.form.size, length));
            return {};
        case Form::Variable:
            break;
    }
    auto prefix = prefix_octets(row);
    if (!prefix) return fail(prefix.error());
    std::uint64_t p = *prefix;
    if (length <= p) return fail(EncodingError::length(p + 1, length));
    if (length > p + 65536) return fail(EncodingError::length(p + 65536, length));
    return {};
}

std::optional<std::size_t> find_octet(std::span<const std::uint8_t> octets, std::uint8_t value) {
    auto it = std::find(octets.begin(), octets.end(), value);
    if (it == octets.end()) return std::nullopt;
    return static_cast<std::size_t>(it - octets.begin());
}

// Length and terminator checks of a complete payload.
Result<void> check_payload(const Row& row, std::span<const std::uint8_t> payload) {
    switch (row.form.kind) {
        case Form::SubOctet:
            if (payload.size() != 1) return fail(EncodingError::length(1, payload.size()));
            return {};
        case Form::Octets:
            if (payload.size() != row.form.size) {
                return fail(EncodingError::length(row.form.size, payload.size()));
            }
            return {};
        case Form::Variable:
            break;
    }
    const auto& fields = row.fields;
    if (fields.empty() || fields.back().kind != NodeKind::VariableText) {
        return fail(EncodingError::row_form_mismatch());
    }
    auto prefix_bits = tree_bits(fields.first(fields.size() - 1));
    if (!prefix_bits) return fail(prefix_bits.error());
    if (*prefix_bits % 8 != 0) return fail(EncodingError::row_form_mismatch());
    std::size_t prefix = *prefix_bits / 8;
    std::uint8_t terminator = fields.back().terminator;
    if (payload.empty()) return fail(EncodingError::missing_terminator());
    if (payload.size() < prefix + 1) return fail(EncodingError::length(prefix + 1, payload.size()));
    if (payload.back() != terminator) return fail(EncodingError::missing_terminator());
    auto content = payload.subspan(prefix, payload.size() - 1 - prefix);
    if (auto at = find_octet(content, terminator))
        return fail(EncodingError::early_terminator(*at));
    return {};
}

Result<void> check_reserved_bits(const Row& row, std::span<const std::uint8_t> payload) {
    auto start = row_start(row);
    if (!start) return fail(start.error());
    return walk_leaves_at(
        row.fields, *start, 1, [&](const FieldNode& node, std::uint32_t position) -> Result<void> {
            switch (node.kind) {
                case NodeKind::Reserved: {
                    if (node.unchecked) return {};
                    std::uint32_t remaining = node.bits;
                    while (remaining > 0) {
                        std::uint32_t width = std::min<std::uint32_t>(remaining, 64);
                        auto chunk = read_bits(payload, position, width, node.name);
                        if (!chunk) return fail(chunk.error());
                        if (*chunk != 0) {
                            std::uint64_t mask =
                                width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
                            return fail(EncodingError::reserved_violation(
                                node.name, static_cast<std::uint16_t>(position / 8), mask, *chunk));
                        }
                        position += width;
                        remaining -= width;
                    }
                    return {};
                }
                case NodeKind::BitGroup: {
                    if (node.group != nullptr && node.group->unchecked) return {};
                    auto value = read_bits(payload, position, node.bits, node.name);
                    if (!value) return fail(value.error());
                    std::uint64_t mask = node.group != nullptr ? node.group->reserved_mask : 0;
                    if ((*value & mask) != 0) {
                        return fail(EncodingError::reserved_violation(
                            node.name, static_cast<std::uint16_t>(position / 8), mask, *value));
                    }
                    return {};
                }
                case NodeKind::TerminatedText: {
                    if (node.octets == 0) {
                        return fail(EncodingError::unterminated_content(node.name));
                    }
                    std::size_t first = position / 8;
                    if (payload.size() < first + node.octets) {
                        return fail(EncodingError::length(first + node.octets, payload.size()));
                    }
                    auto field = payload.subspan(first, node.octets);
                    auto end = find_octet(field, node.terminator);
                    if (!end) return fail(EncodingError::unterminated_content(node.name));
                    for (std::size_t i = *end + 1; i < field.size(); ++i) {
                        if (field[i] != 0) {
                            return fail(EncodingError::reserved_violation(
                                node.name, static_cast<std::uint16_t>(first + i), 0xFF, field[i]));
                        }
                    }
                    return {};
                }
                default:
                    return {};
            }
        });
}

Result<Location> locate_field(const Row& row, std::string_view name) {
    auto start = row_start(row);
    if (!start) return fail(start.error());
    auto found = locate_from(row.fields, name, *start, 1);
    if (!found) return found;
    if (found->kind == Location::Kind::Absent) return fail(EncodingError::unknown_field());
    if (found->kind == Location::Kind::InsideRepeatedGroup) {
        return fail(EncodingError::inside_repeated_group());
    }
    return found;
}

// Width of a field that carries a raw number. A reserved field is named when written (it is not
// settable) and only a kind mismatch when read.
Result<std::uint32_t> value_width(const FieldNode& node, bool writing) {
    switch (node.kind) {
        case NodeKind::Scalar:
            return node.scalar.bits;
        case NodeKind::BitGroup:
            return node.bits;
        case NodeKind::ControlOctet:
            return 8u;
        case NodeKind::Reserved:
            if (writing) return fail(EncodingError::not_settable(node.name));
            return fail(EncodingError::kind_mismatch());
        default:
            return fail(EncodingError::kind_mismatch());
    }
}

Result<std::uint64_t> read_value(std::span<const std::uint8_t> payload, const FieldNode& node,
                                 std::uint32_t position) {
    auto width = value_width(node, false);
    if (!width) return fail(width.error());
    return read_bits(payload, position, *width, node.name);
}

Result<void> write_value(std::span<std::uint8_t> payload, const FieldNode& node,
                         std::uint32_t position, std::uint64_t value) {
    auto width = value_width(node, true);
    if (!width) return fail(width.error());
    if (auto r = check_span(payload.size(), position, *width, node.name); !r) return r;
    if (node.kind == NodeKind::BitGroup && node.group != nullptr &&
        (value & node.group->reserved_mask) != 0) {
        return fail(EncodingError::reserved_violation(
            node.name, static_cast<std::uint16_t>(position / 8), node.group->reserved_mask, value));
    }
    if (*width < 64 && (value >> *width) != 0) {
        return fail(EncodingError::value_too_wide(node.name));
    }
    return write_bits(payload, position, *width, value, node.name);
}

struct GroupView {
    Slice<FieldNode> children;
    std::string_view name;
    std::uint32_t base = 0;
    std::uint32_t width = 0;
    std::uint16_t count = 0;
    std::uint32_t depth = 0;  // of the children
};

Result<GroupView> locate_group(const Row& row, std::string_view group) {
    auto found = locate_field(row, group);
    if (!found) return fail(found.error());
    const FieldNode& node = *found->node;
    if (node.kind != NodeKind::RepeatedGroup) return fail(EncodingError::kind_mismatch());
    auto width = nodes_bits_at(node.children, found->depth + 1);
    if (!width) return fail(width.error());
    return GroupView{node.children, node.name,  found->position,
                     *width,        node.count, found->depth + 1};
}

// Assumes the index has been tested against the group's count.
Result<Placement> instance_field(const GroupView& view, std::uint16_t index,
                                 std::string_view name) {
    auto found = locate_from(view.children, name, 0, view.depth);
    if (!found) return fail(found.error());
    if (found->kind == Location::Kind::Absent) return fail(EncodingError::unknown_field());
    if (found->kind == Location::Kind::InsideRepeatedGroup) {
        return fail(EncodingError::inside_repeated_group());
    }
    std::uint32_t offset = 0;
    std::uint32_t position = 0;
    if (__builtin_mul_overflow(view.width, std::uint32_t{index}, &offset)) {
        return fail(EncodingError::unrepresentable_span(view.name));
    }
    if (__builtin_add_overflow(view.base, offset, &position) ||
        __builtin_add_overflow(position, found->position, &position)) {
        return fail(EncodingError::unrepresentable_span(found->node->name));
    }
    return Placement{position, found->node};
}

}  // namespace

Result<void> check_prefix_closure(Slice<FieldNode> nodes) {
    return prefix_closure_at(nodes, 1);
}

Result<std::uint32_t> row_start(const Row& row) {
    if (row.form.kind != Form::SubOctet) return 0u;
    if (row.form.size < 1 || row.form.size > 6) {
        return fail(EncodingError::unrepresentable_layout(
            static_cast<std::uint8_t>(std::min<std::uint16_t>(row.form.size, 255))));
    }
    return 8u - row.form.size;
}

namespace {

Result<void> prove_row_form(const Row& row) {
    const auto& fields = row.fields;
    auto start = row_start(row);
    if (!start) return fail(start.error());

    std::uint32_t nodes = 0;
    if (auto r = count_field_nodes(fields, 1, nodes); !r) return r;

    bool fixed = row.form.kind != Form::Variable;
    bool sole_variable_field = false;
    if (fixed) {
        std::uint32_t width =
            row.form.kind == Form::SubOctet ? 8u : 8u * std::uint32_t{row.form.size};
        auto leaves = tree_leaves_at(fields, 1);
        if (!leaves) return fail(leaves.error());
        if (auto variable = variable_field_at(fields, 1)) {
            return fail(EncodingError::unrepresentable_placement(*variable));
        }
        if (*leaves > width) return fail(EncodingError::unrepresentable_tree(*leaves, width));
    } else if (fields.size() >= 2) {
        if (fields.back().kind != NodeKind::VariableText) {
            return fail(EncodingError::row_form_mismatch());
        }
        auto leaves = tree_leaves_at(fields, 1);
        if (!leaves) return fail(leaves.error());
        auto prefix = fields.first(fields.size() - 1);
        if (auto r = check_prefix_closure(prefix); !r) return r;
        auto prefix_bits = tree_bits(prefix);
        if (!prefix_bits) return fail(prefix_bits.error());
        if (*leaves > *prefix_bits) {
            return fail(EncodingError::unrepresentable_tree(*leaves, *prefix_bits));
        }
    } else if (fields.size() == 1) {
        if (declares_repeat_at(fields.front(), 1)) return fail(EncodingError::row_form_mismatch());
        sole_variable_field = true;
    } else {
        return fail(EncodingError::row_form_mismatch());
    }

    if (!sole_variable_field) {
        if (auto work = instance_work_at(fields, 1); !work) return fail(work.error());
        auto misaligned = misaligned_char_field_at(fields, *start, 1);
        if (!misaligned) return fail(misaligned.error());
        if (*misaligned) {
            return fail(
                EncodingError::unrepresentable_alignment((*misaligned)->name, (*misaligned)->bit));
        }
    }

    auto duplicate = duplicate_field_name(fields);
    if (!duplicate) return fail(duplicate.error());
    if (*duplicate) return fail(EncodingError::duplicate_field_name(**duplicate));

    if (auto r = shape_reach_at(fields, false, false, 1); !r) return r;
    if (auto z8 = check_z8_shape(fields); !z8) return fail(z8.error());

    if (fixed) {
        std::uint32_t declared = row.form.kind == Form::SubOctet
                                     ? std::uint32_t{row.form.size}
                                     : 8u * std::uint32_t{row.form.size};
        auto computed = tree_bits(fields);
        if (!computed) return fail(computed.error());
        if (*computed != declared) {
            return fail(EncodingError::tree_width_mismatch(*computed, declared));
        }
    }
    return {};
}

}  // namespace

Result<void> check_row_form(const Row& row) {
    static constinit catalog::RowProofs proven;
    return proven.prove(row, prove_row_form);
}

// ---- Repeat ----

Result<std::uint64_t> Repeat::bits(std::uint16_t index, std::string_view name) const {
    if (index >= count_) return fail(EncodingError::index_out_of_range());
    GroupView view{children_, {}, base_, width_, count_, depth_};
    auto placed = instance_field(view, index, name);
    if (!placed) return fail(placed.error());
    return read_value(payload_, *placed->node, placed->position);
}

// ---- Encoded ----

Result<Encoded> Encoded::decode(const Row& row, std::span<const std::uint8_t> payload) {
    if (auto r = check_row_form(row); !r) return fail(r.error());
    if (auto r = check_payload(row, payload); !r) return fail(r.error());
    return Encoded(row, payload);
}

Result<std::uint64_t> Encoded::bits(std::string_view name) const {
    auto found = locate_field(*row_, name);
    if (!found) return fail(found.error());
    return read_value(payload_, *found->node, found->position);
}

Result<Repeat> Encoded::repeat(std::string_view name) const {
    auto view = locate_group(*row_, name);
    if (!view) return fail(view.error());
    Repeat repeat;
    repeat.payload_ = payload_;
    repeat.children_ = view->children;
    repeat.base_ = view->base;
    repeat.width_ = view->width;
    repeat.count_ = view->count;
    repeat.depth_ = view->depth;
    return repeat;
}

Result<void> Encoded::check_reserved() const {
    return check_reserved_bits(*row_, payload_);
}

// ---- Writer ----

Result<Writer> Writer::create(const Row& row, std::span<std::uint8_t> buffer) {
    if (auto r = check_row_form(row); !r) return fail(r.error());
    auto start = row_start(row);
    if (!start) return fail(start.error());
    if (auto r = check_buffer_length(row, buffer.size()); !r) return fail(r.error());
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    return Writer(row, buffer, *start);
}

Result<void> Writer::set_bits(std::string_view name, std::uint64_t value) {
    auto found = locate_field(*row_, name);
    if (!found) return fail(found.error());
    return write_value(buffer_, *found->node, found->position, value);
}

Result<std::uint64_t> Writer::bits(std::string_view name) const {
    auto found = locate_field(*row_, name);
    if (!found) return fail(found.error());
    return read_value(buffer_, *found->node, found->position);
}

Result<void> Writer::set_chars(std::string_view name, std::span<const std::uint8_t> octets) {
    auto found = locate_field(*row_, name);
    if (!found) return fail(found.error());
    const FieldNode& node = *found->node;
    std::uint32_t position = found->position;
    bool character_kind = node.kind == NodeKind::Chars || node.kind == NodeKind::TerminatedText ||
                          node.kind == NodeKind::VariableText;
    if (!character_kind) return fail(EncodingError::kind_mismatch());
    // The row checks place every character container on an octet boundary; a writer never
    // exists for a row that failed them.
    if (position % 8 != 0) {
        return fail(EncodingError::unrepresentable_alignment(node.name, position));
    }
    std::size_t first = position / 8;

    if (node.kind == NodeKind::Chars) {
        std::size_t n = node.count;
        if (node.padded ? octets.size() > n : octets.size() != n) {
            return fail(EncodingError::char_count_mismatch(node.count));
        }
        if (node.padded && !octets.empty() && octets.back() == node.pad) {
            return fail(EncodingError::trailing_pad(node.pad));
        }
        if (buffer_.size() < first + n)
            return fail(EncodingError::length(first + n, buffer_.size()));
        auto field = buffer_.subspan(first, n);
        std::copy(octets.begin(), octets.end(), field.begin());
        std::fill(field.begin() + static_cast<std::ptrdiff_t>(octets.size()), field.end(),
                  node.pad);
        return {};
    }

    if (node.kind == NodeKind::TerminatedText) {
        std::size_t n = node.octets;
        if (n == 0) return fail(EncodingError::unterminated_content(node.name));
        if (octets.size() > n - 1) {
            return fail(EncodingError::char_count_exceeded(static_cast<std::uint16_t>(n - 1)));
        }
        if (auto at = find_octet(octets, node.terminator)) {
            return fail(EncodingError::early_terminator(*at));
        }
        if (buffer_.size() < first + n)
            return fail(EncodingError::length(first + n, buffer_.size()));
        auto field = buffer_.subspan(first, n);
        std::copy(octets.begin(), octets.end(), field.begin());
        field[octets.size()] = node.terminator;
        std::fill(field.begin() + static_cast<std::ptrdiff_t>(octets.size()) + 1, field.end(),
                  std::uint8_t{0});
        return {};
    }

    // VariableText: the tail of a prefixed row; the buffer's length fixes the content's length.
    if (&row_->fields.back() != &node) return fail(EncodingError::kind_mismatch());
    auto prefix = prefix_octets(*row_);
    if (!prefix) return fail(EncodingError::kind_mismatch());
    std::size_t p = *prefix;
    if (buffer_.size() <= p) return fail(EncodingError::length(p + 1, buffer_.size()));
    std::size_t content = buffer_.size() - 1 - p;
    if (octets.size() != content) {
        return fail(EncodingError::char_count_mismatch(
            static_cast<std::uint16_t>(std::min<std::size_t>(content, 65535))));
    }
    std::copy(octets.begin(), octets.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(p));
    buffer_.back() = node.terminator;
    return {};
}

Result<Placement> Writer::repeat_instance(std::string_view group, std::uint16_t index,
                                          std::string_view name) const {
    auto view = locate_group(*row_, group);
    if (!view) return fail(view.error());
    if (index >= view->count) return fail(EncodingError::index_out_of_range());
    return instance_field(*view, index, name);
}

Result<std::uint64_t> Writer::repeat_bits(std::string_view group, std::uint16_t index,
                                          std::string_view name) const {
    auto placed = repeat_instance(group, index, name);
    if (!placed) return fail(placed.error());
    return read_value(buffer_, *placed->node, placed->position);
}

Result<void> Writer::set_repeat_bits(std::string_view group, std::uint16_t index,
                                     std::string_view name, std::uint64_t value) {
    auto placed = repeat_instance(group, index, name);
    if (!placed) return fail(placed.error());
    return write_value(buffer_, *placed->node, placed->position, value);
}

Result<Encoded> Writer::finish() const {
    if (auto r = check_payload(*row_, buffer_); !r) return fail(r.error());
    if (auto r = check_reserved_bits(*row_, buffer_); !r) return fail(r.error());
    return Encoded(*row_, buffer_);
}

// ---- free operations ----

Result<void> carry_span(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination,
                        std::uint32_t position, std::uint32_t width, std::string_view field,
                        std::uint64_t clear_mask) {
    auto value = read_bits(source, position, width, field);
    if (!value) return fail(value.error());
    return write_bits(destination, position, width, *value & ~clear_mask, field);
}

Result<Encoded> canonicalize(const Encoded& encoded, std::span<std::uint8_t> destination) {
    const Row& row = encoded.row();
    auto source = encoded.payload();
    const auto& fields = row.fields;

    if (row.form.kind == Form::Variable && fields.size() == 1 &&
        fields.front().kind == NodeKind::VariableText) {
        std::uint8_t terminator = fields.front().terminator;
        auto content = source.empty() ? source : source.first(source.size() - 1);
        if (auto at = find_octet(content, terminator)) {
            return fail(EncodingError::early_terminator(*at));
        }
        if (destination.empty() || destination.size() != content.size() + 1) {
            return fail(
                EncodingError::length(source.empty() ? 1 : source.size(), destination.size()));
        }
        if (auto r = check_row_form(row); !r) return fail(r.error());
        std::copy(content.begin(), content.end(), destination.begin());
        destination.back() = terminator;
        return Encoded::decode(row, destination);
    }

    // Creating the writer checks the row and the destination's length and zeroes it.
    auto writer = Writer::create(row, destination);
    if (!writer) return fail(writer.error());
    auto start = row_start(row);
    if (!start) return fail(start.error());
    auto copied = walk_leaves_at(
        fields, *start, 1, [&](const FieldNode& node, std::uint32_t position) -> Result<void> {
            std::size_t first = position / 8;
            switch (node.kind) {
                case NodeKind::Scalar:
                    return carry_span(source, destination, position, node.scalar.bits, node.name);
                case NodeKind::ControlOctet:
                    return carry_span(source, destination, position, 8, node.name);
                case NodeKind::BitGroup:
                    return carry_span(source, destination, position, node.bits, node.name,
                                      node.group != nullptr ? node.group->reserved_mask : 0);
                case NodeKind::Reserved:
                    return {};
                case NodeKind::Chars:
                case NodeKind::TerminatedText: {
                    std::size_t n = node.kind == NodeKind::Chars ? node.count : node.octets;
                    if (source.size() < first + n) {
                        return fail(EncodingError::length(first + n, source.size()));
                    }
                    if (destination.size() < first + n) {
                        return fail(EncodingError::length(first + n, destination.size()));
                    }
                    auto from = source.subspan(first, n);
                    if (node.kind == NodeKind::TerminatedText) {
                        auto end = find_octet(from, node.terminator);
                        if (!end) return fail(EncodingError::unterminated_content(node.name));
                        from = from.first(*end + 1);
                    }
                    std::copy(from.begin(), from.end(),
                              destination.begin() + static_cast<std::ptrdiff_t>(first));
                    return {};
                }
                case NodeKind::VariableText: {
                    if (destination.size() < source.size()) {
                        return fail(EncodingError::length(source.size(), destination.size()));
                    }
                    if (source.size() < first) {
                        return fail(EncodingError::length(first, source.size()));
                    }
                    std::copy(source.begin() + static_cast<std::ptrdiff_t>(first), source.end(),
                              destination.begin() + static_cast<std::ptrdiff_t>(first));
                    return {};
                }
                default:
                    return {};
            }
        });
    if (!copied) return fail(copied.error());
    return writer->finish();
}

Result<Encoded> encode_variable(const Row& row, std::span<const std::uint8_t> content,
                                std::span<std::uint8_t> destination) {
    const auto& fields = row.fields;
    if (fields.size() != 1 || fields.front().kind != NodeKind::VariableText) {
        return fail(EncodingError::row_form_mismatch());
    }
    std::uint8_t terminator = fields.front().terminator;
    if (auto at = find_octet(content, terminator))
        return fail(EncodingError::early_terminator(*at));
    if (destination.empty() || destination.size() != content.size() + 1) {
        return fail(EncodingError::length(content.size() + 1, destination.size()));
    }
    if (auto r = check_row_form(row); !r) return fail(r.error());
    std::copy(content.begin(), content.end(), destination.begin());
    destination.back() = terminator;
    return Encoded::decode(row, destination);
}

std::optional<std::size_t> prefixed_octets(const Row& row, std::size_t content_octets) {
    auto prefix = prefix_octets(row);
    if (!prefix) return std::nullopt;
    std::size_t total = 0;
    if (__builtin_add_overflow(std::size_t{*prefix}, content_octets, &total) ||
        __builtin_add_overflow(total, std::size_t{1}, &total)) {
        return std::nullopt;
    }
    return total;
}

}  // namespace tavrel::encoding
