// Composing a group value by field name. A Builder sets named fields on the caller's zero-filled
// payload buffer, mapping each value to its raw number, and `finish` proves the whole payload by
// reading it back and applying the transmit rules. It owns nothing: the buffer is the caller's,
// the row static. Builders are made by the pipeline (group_builder, group_prefixed_builder).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "catalog/schema.hpp"
#include "encoding/encoded.hpp"
#include "semantic/mapping.hpp"
#include "semantic/value.hpp"

namespace tavrel::semantic {

class Builder;
namespace schema_seam {
Result<Builder> builder(const catalog::Row& row, std::span<std::uint8_t> buffer);
}

class Builder {
  public:
    // A row-level scalar.
    Result<void> set_named(std::string_view name, const ScalarValue& value);
    // A scalar of instance `index` of repeated group `group`.
    Result<void> set_named_at(std::string_view group, std::uint16_t index, std::string_view name,
                              const ScalarValue& value);
    // A row-level named bit: to its active state when `on`, else to the opposite.
    Result<void> set_flag_named(std::string_view name, bool on);
    Result<void> set_flag_named_at(std::string_view group, std::uint16_t index,
                                   std::string_view name, bool on);
    // The field's invalid-data code.
    Result<void> set_invalid_named(std::string_view name);
    // Content of a text item, already in the field's repertoire.
    Result<void> set_text_named(std::string_view name, std::span<const std::uint8_t> octets);

    // Proves the composed payload: complete, read back without fault or special meaning, and
    // passing the transmit rules. Called once, last.
    Result<Value> finish() const;

    const catalog::Row& row() const { return *row_; }
    ServiceReading reading() const { return reading_; }

  private:
    friend Result<Builder> schema_seam::builder(const catalog::Row& row,
                                                std::span<std::uint8_t> buffer);
    Builder(const catalog::Row& row, encoding::Writer writer)
        : row_(&row), writer_(writer), reading_(ServiceReading::None) {}

    const catalog::Row* row_;
    encoding::Writer writer_;
    ServiceReading reading_;
};

}  // namespace tavrel::semantic
