// Building, reading and verifying payload octets of a catalogue row. A Writer fills a zeroed buffer
// field by field and `finish` proves it a complete payload; an Encoded reads fields back and checks
// reserved bits; `canonicalize` gives the octets that go on the wire. Buffers belong to the caller
// and rows to the static catalogue: nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "catalog/schema.hpp"
#include "encoding/traverse.hpp"

namespace tavrel::encoding {

using catalog::Row;

// The structural checks a row must pass before any payload of it is built or read; the first
// fault is returned.
Result<void> check_row_form(const Row& row);
// A variable row's prefix may hold only scalars, reserved bits and bit groups, inside records.
Result<void> check_prefix_closure(Slice<FieldNode> nodes);
// Bit position where the row's tree starts: 8 - bits for a sub-octet row, else 0.
Result<std::uint32_t> row_start(const Row& row);

// A field addressed inside one instance of a repeated group.
struct Placement {
    std::uint32_t position = 0;
    const FieldNode* node = nullptr;
};

class Encoded;

// One repeated group of a payload, addressed per instance.
class Repeat {
  public:
    // Reads field `name` of instance `index`; the index is tested before the name is looked up.
    Result<std::uint64_t> bits(std::uint16_t index, std::string_view name) const;

    std::uint32_t base() const { return base_; }
    std::uint32_t width() const { return width_; }
    std::uint16_t count() const { return count_; }
    Slice<FieldNode> children() const { return children_; }

  private:
    friend class Encoded;
    std::span<const std::uint8_t> payload_;
    Slice<FieldNode> children_;
    std::uint32_t base_ = 0;
    std::uint32_t width_ = 0;
    std::uint16_t count_ = 0;
    std::uint32_t depth_ = 0;  // depth the children stand at
};

// A row and a payload that has passed the row's shape, length and terminator checks.
class Encoded {
  public:
    // Accepts octets from outside as a payload of the row; reserved bits are not verified here.
    static Result<Encoded> decode(const Row& row, std::span<const std::uint8_t> payload);
    // The payload borrows the row: a temporary row would dangle.
    static Result<Encoded> decode(const Row&& row, std::span<const std::uint8_t> payload) = delete;

    Result<std::uint64_t> bits(std::string_view name) const;
    Result<Repeat> repeat(std::string_view name) const;
    // The first reserved bit, bit-group reserved bit or text tail octet that is not zero.
    Result<void> check_reserved() const;

    const Row& row() const { return *row_; }
    std::span<const std::uint8_t> payload() const { return payload_; }

  private:
    friend class Writer;
    Encoded(const Row& row, std::span<const std::uint8_t> payload)
        : row_(&row), payload_(payload) {}
    const Row* row_;
    std::span<const std::uint8_t> payload_;
};

// Fills a caller's buffer with one payload of a row. The buffer's length is fixed at creation; a
// later write to a field replaces the earlier one.
class Writer {
  public:
    // Checks the row's form and the buffer's length against it, then zeroes the buffer. A row that
    // is a single VariableText field is built with `encode_variable` instead.
    static Result<Writer> create(const Row& row, std::span<std::uint8_t> buffer);
    static Result<Writer> create(const Row&& row, std::span<std::uint8_t> buffer) = delete;

    // Raw value of a Scalar, BitGroup or ControlOctet.
    Result<void> set_bits(std::string_view name, std::uint64_t value);
    // Character content of a Chars, TerminatedText or VariableText field.
    Result<void> set_chars(std::string_view name, std::span<const std::uint8_t> octets);
    Result<std::uint64_t> bits(std::string_view name) const;

    Result<Placement> repeat_instance(std::string_view group, std::uint16_t index,
                                      std::string_view name) const;
    Result<std::uint64_t> repeat_bits(std::string_view group, std::uint16_t index,
                                      std::string_view name) const;
    Result<void> set_repeat_bits(std::string_view group, std::uint16_t index, std::string_view name,
                                 std::uint64_t value);

    // Validates the buffer as a complete payload (length, terminators, reserved bits).
    Result<Encoded> finish() const;

    const Row& row() const { return *row_; }
    std::span<std::uint8_t> buffer() const { return buffer_; }

  private:
    Writer(const Row& row, std::span<std::uint8_t> buffer, std::uint32_t start)
        : row_(&row), buffer_(buffer), start_(start) {}
    const Row* row_;
    std::span<std::uint8_t> buffer_;
    std::uint32_t start_;
};

// The canonical octets of `encoded` in `destination`: reserved bits, bit-group reserved bits, text
// tails after the terminator and the bits above a sub-octet row's fields all zero. For a fixed row
// the destination has the payload's length.
Result<Encoded> canonicalize(const Encoded& encoded, std::span<std::uint8_t> destination);
// The payload of a row that is a single VariableText field: the content, then the terminator.
// `destination` must be exactly content.size() + 1 octets.
Result<Encoded> encode_variable(const Row& row, std::span<const std::uint8_t> content,
                                std::span<std::uint8_t> destination);
Result<Encoded> encode_variable(const Row&& row, std::span<const std::uint8_t> content,
                                std::span<std::uint8_t> destination) = delete;
// Total payload octets of a row with a fixed prefix and a VariableText tail holding
// `content_octets` octets of content; none for other rows or on overflow.
std::optional<std::size_t> prefixed_octets(const Row& row, std::size_t content_octets);
// Copies the `width`-bit span at `position` from `source` to the same position of `destination`,
// with the bits of `clear_mask` (bit 0 = the span's least significant bit) cleared.
Result<void> carry_span(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination,
                        std::uint32_t position, std::uint32_t width, std::string_view field,
                        std::uint64_t clear_mask = 0);

}  // namespace tavrel::encoding
