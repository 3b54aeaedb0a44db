// The address and identifier texts of a group write, parsed into their types; a text that does
// not parse becomes the caller's refusal, naming the text as given.
#pragma once

#include <expected>
#include <string_view>

#include "catalog/id.hpp"
#include "contract/refusal.hpp"
#include "core/address.hpp"

namespace tavrel::contract {

std::expected<core::GroupAddress, Refusal> group_address(std::string_view text);
std::expected<catalog::DptId, Refusal> datapoint(std::string_view text);

}  // namespace tavrel::contract
