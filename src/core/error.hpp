// The core model's error: address parsing and frame decoding faults, with fixed display texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrel::core {

struct KnxError {
    enum class Kind : std::uint8_t {
        InvalidAddress,
        BufferTooShort,
        InvalidFrame,
        UnsupportedServiceType
    };

    Kind kind;
    std::string_view reason;         // InvalidAddress, InvalidFrame: a static text
    std::size_t needed = 0;          // BufferTooShort
    std::size_t got = 0;             // BufferTooShort
    std::uint16_t service_type = 0;  // UnsupportedServiceType

    static KnxError invalid_address(std::string_view reason) {
        return {Kind::InvalidAddress, reason};
    }
    static KnxError invalid_frame(std::string_view reason) { return {Kind::InvalidFrame, reason}; }
    static KnxError buffer_too_short(std::size_t needed, std::size_t got) {
        return {Kind::BufferTooShort, {}, needed, got};
    }
    static KnxError unsupported_service_type(std::uint16_t service) {
        return {Kind::UnsupportedServiceType, {}, 0, 0, service};
    }

    std::string display() const;
    friend bool operator==(const KnxError&, const KnxError&) = default;
};

}  // namespace tavrel::core
