#include "encoding/bits.hpp"

#include <algorithm>

namespace tavrel::encoding {

Result<void> check_span(std::size_t payload_octets, std::uint32_t position, std::uint32_t width,
                        std::string_view field) {
    if (width == 0 || width > 64) {
        return std::unexpected(EncodingError::unrepresentable_width(field, width));
    }
    std::uint32_t end = 0;
    if (__builtin_add_overflow(position, width, &end)) {
        return std::unexpected(EncodingError::unrepresentable_span(field));
    }
    std::uint64_t needed = (std::uint64_t{end} + 7) / 8;
    if (payload_octets < needed) {
        return std::unexpected(EncodingError::length(needed, payload_octets));
    }
    return {};
}

Result<std::uint64_t> read_bits(std::span<const std::uint8_t> payload, std::uint32_t position,
                                std::uint32_t width, std::string_view field) {
    if (auto r = check_span(payload.size(), position, width, field); !r) {
        return std::unexpected(r.error());
    }
    std::uint64_t value = 0;
    std::uint32_t remaining = width;
    while (remaining > 0) {
        std::uint32_t offset = position % 8;
        std::uint32_t take = std::min<std::uint32_t>(8 - offset, remaining);
        std::uint32_t octet = payload[position / 8];
        std::uint32_t chunk = (octet >> (8 - offset - take)) & ((1u << take) - 1);
        value = (value << take) | chunk;
        position += take;
        remaining -= take;
    }
    return value;
}

Result<void> write_bits(std::span<std::uint8_t> payload, std::uint32_t position,
                        std::uint32_t width, std::uint64_t value, std::string_view field) {
    if (auto r = check_span(payload.size(), position, width, field); !r) return r;
    std::uint32_t remaining = width;
    while (remaining > 0) {
        std::uint32_t offset = position % 8;
        std::uint32_t take = std::min<std::uint32_t>(8 - offset, remaining);
        std::uint32_t shift = 8 - offset - take;
        std::uint32_t mask = ((1u << take) - 1) << shift;
        auto chunk = static_cast<std::uint32_t>((value >> (remaining - take)) & ((1u << take) - 1));
        std::uint8_t& octet = payload[position / 8];
        octet = static_cast<std::uint8_t>((octet & ~mask) | (chunk << shift));
        position += take;
        remaining -= take;
    }
    return {};
}

}  // namespace tavrel::encoding
