// The one error record of the write path: a message shown to users unchanged, a stable code, and
// the datapoint and field concerned when there is one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "catalog/id.hpp"

namespace tavrel::contract {

struct Refusal {
    std::string message;
    std::string_view code;  // static text: a layer segment and kinds joined by "/"
    std::optional<catalog::DptId> dpt;
    std::optional<std::string> field;
};

}  // namespace tavrel::contract
