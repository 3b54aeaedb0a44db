// KNX group and individual addresses: 16-bit values with one canonical text form each.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "core/error.hpp"

namespace tavrel::core {

class GroupAddress {
  public:
    constexpr GroupAddress() = default;
    static constexpr GroupAddress from_raw(std::uint16_t raw) { return GroupAddress(raw); }
    static std::expected<GroupAddress, KnxError> parse(std::string_view text);

    constexpr std::uint16_t raw() const { return raw_; }
    constexpr unsigned main() const { return raw_ >> 11; }
    constexpr unsigned middle() const { return (raw_ >> 8) & 0x7; }
    constexpr unsigned sub() const { return raw_ & 0xFF; }
    std::string display() const;

    friend constexpr auto operator<=>(GroupAddress, GroupAddress) = default;

  private:
    constexpr explicit GroupAddress(std::uint16_t raw) : raw_(raw) {}
    std::uint16_t raw_ = 0;
};

class IndividualAddress {
  public:
    constexpr IndividualAddress() = default;
    static constexpr IndividualAddress from_raw(std::uint16_t raw) {
        return IndividualAddress(raw);
    }
    static std::expected<IndividualAddress, KnxError> parse(std::string_view text);

    constexpr std::uint16_t raw() const { return raw_; }
    constexpr unsigned area() const { return raw_ >> 12; }
    constexpr unsigned line() const { return (raw_ >> 8) & 0xF; }
    constexpr unsigned device() const { return raw_ & 0xFF; }
    std::string display() const;

    friend constexpr auto operator<=>(IndividualAddress, IndividualAddress) = default;

  private:
    constexpr explicit IndividualAddress(std::uint16_t raw) : raw_(raw) {}
    std::uint16_t raw_ = 0;
};

}  // namespace tavrel::core
