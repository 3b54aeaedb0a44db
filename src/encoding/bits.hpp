// Bounds-checked access to bit spans of a payload. Position 0 is the most significant bit of the
// first octet; a span's value is read and written most significant bit first (big-endian).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "encoding/traverse.hpp"

namespace tavrel::encoding {

// Checks that a span of `width` bits at `position` is 1..64 bits wide, that its end stays within
// 32-bit positions and that `payload_octets` octets hold it. `field` names the span in faults.
Result<void> check_span(std::size_t payload_octets, std::uint32_t position, std::uint32_t width,
                        std::string_view field);
Result<std::uint64_t> read_bits(std::span<const std::uint8_t> payload, std::uint32_t position,
                                std::uint32_t width, std::string_view field);
// Writes the low `width` bits of `value`, replacing whatever the span held.
Result<void> write_bits(std::span<std::uint8_t> payload, std::uint32_t position,
                        std::uint32_t width, std::uint64_t value, std::string_view field);

}  // namespace tavrel::encoding
