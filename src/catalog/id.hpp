// Datapoint type identifiers (main.sub) and their parse faults.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace tavrel::catalog {

enum class ParseIdError : std::uint8_t {
    MissingSeparator,
    EmptyComponent,
    NonDigit,
    TooManyDigits,
    OutOfRange,
};

std::string_view message(ParseIdError error);

struct DptId {
    std::uint16_t main = 0;
    std::uint16_t sub = 0;

    static std::expected<DptId, ParseIdError> parse(std::string_view text);
    // main.sub with the sub number zero-filled to at least three digits (9.001, 1.1200).
    std::string display() const;

    friend constexpr auto operator<=>(const DptId&, const DptId&) = default;
};

}  // namespace tavrel::catalog
