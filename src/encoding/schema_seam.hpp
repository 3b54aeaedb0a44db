// The two walk-cost figures the semantic layer budgets its own walks of a row with.
#pragma once

#include <cstdint>

#include "catalog/schema.hpp"
#include "encoding/traverse.hpp"

namespace tavrel::encoding {

// Node visits a full walk of the row's tree makes (at most kMaxInstanceWork).
Result<std::uint32_t> instance_work(const catalog::Row& row);
// 16 x the row's addressable names (nodes and named bits, at most kMaxAddressableNames).
Result<std::uint32_t> resolution_work(const catalog::Row& row);

}  // namespace tavrel::encoding
