// Which catalogued types are implemented, and for which direction: static data beside the
// catalogue, sorted by identifier.
#pragma once

#include <cstdint>
#include <span>

#include "catalog/id.hpp"

namespace tavrel::semantic {

enum class Direction : std::uint8_t { Decode = 0, Encode = 1 };

struct Registration {
    catalog::DptId id{};
    bool decode = false;
    bool encode = false;

    bool supports(Direction direction) const {
        return direction == Direction::Decode ? decode : encode;
    }
};

std::span<const Registration> registrations();

// Binary search by identifier; none for an unregistered one.
const Registration* row_support_of(catalog::DptId id);

}  // namespace tavrel::semantic
