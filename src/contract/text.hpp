// Text values for character fields: a document's UTF-8 text converted into the octets a field of
// a given repertoire carries, and the capacity check on the converted octets.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/id.hpp"
#include "catalog/schema.hpp"
#include "contract/refusal.hpp"

namespace tavrel::contract::text {

// The octets `field` carries for `text` (valid UTF-8). When `reserves_nul` the field's shape uses
// 0x00 as pad or terminator, so a U+0000 in the content is refused before the repertoire is.
std::expected<std::string, Refusal> octets(catalog::DptId id, std::string_view field,
                                           catalog::Repertoire repertoire, bool reserves_nul,
                                           std::string_view text);

// Success when `count` converted octets fit `capacity` (none: unbounded).
std::expected<void, Refusal> within_budget(catalog::DptId id, std::string_view field,
                                           std::optional<std::size_t> capacity, std::size_t count);

Refusal repertoire_refusal(catalog::DptId id, std::string_view field, std::string_view reason);

}  // namespace tavrel::contract::text
