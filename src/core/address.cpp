#include "core/address.hpp"

#include <array>
#include <optional>

namespace tavrel::core {
namespace {

// A part is an optional '+' and a non-empty run of ASCII digits whose value fits 8 bits.
std::optional<unsigned> read_part(std::string_view part) {
    if (!part.empty() && part.front() == '+') part.remove_prefix(1);
    if (part.empty()) return std::nullopt;
    unsigned value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) return std::nullopt;
    }
    return value;
}

struct Reasons {
    std::string_view missing_second;
    std::string_view missing_third;
    std::string_view too_many;
    std::string_view first_out_of_range;
    std::string_view second_out_of_range;
};

// Splits at `separator` and reads three parts in order; the first failing step decides.
std::expected<std::array<unsigned, 3>, KnxError> read_three(std::string_view text, char separator,
                                                            const Reasons& reasons) {
    static constexpr std::string_view kBadPart = "invalid numeric address part";
    std::array<unsigned, 3> parts{};
    std::array<std::string_view, 2> missing{reasons.missing_second, reasons.missing_third};
    std::size_t start = 0;
    for (std::size_t index = 0;; ++index) {
        std::size_t end = text.find(separator, start);
        std::string_view piece = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (index == 3) return std::unexpected(KnxError::invalid_address(reasons.too_many));
        auto value = read_part(piece);
        if (!value) return std::unexpected(KnxError::invalid_address(kBadPart));
        parts[index] = *value;
        if (end == std::string_view::npos) {
            if (index < 2) return std::unexpected(KnxError::invalid_address(missing[index]));
            break;
        }
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::expected<GroupAddress, KnxError> GroupAddress::parse(std::string_view text) {
    static constexpr Reasons reasons{"missing group middle", "missing group sub",
                                     "too many group parts", "group main out of range",
                                     "group middle out of range"};
    auto parts = read_three(text, '/', reasons);
    if (!parts) return std::unexpected(parts.error());
    auto [main, middle, sub] = *parts;
    if (main > 31) return std::unexpected(KnxError::invalid_address(reasons.first_out_of_range));
    if (middle > 7) return std::unexpected(KnxError::invalid_address(reasons.second_out_of_range));
    return GroupAddress(static_cast<std::uint16_t>(main * 2048 + middle * 256 + sub));
}

std::string GroupAddress::display() const {
    return std::to_string(main()) + "/" + std::to_string(middle()) + "/" + std::to_string(sub());
}

std::expected<IndividualAddress, KnxError> IndividualAddress::parse(std::string_view text) {
    static constexpr Reasons reasons{"missing individual line", "missing individual device",
                                     "too many individual parts", "individual area out of range",
                                     "individual line out of range"};
    auto parts = read_three(text, '.', reasons);
    if (!parts) return std::unexpected(parts.error());
    auto [area, line, device] = *parts;
    if (area > 15) return std::unexpected(KnxError::invalid_address(reasons.first_out_of_range));
    if (line > 15) return std::unexpected(KnxError::invalid_address(reasons.second_out_of_range));
    return IndividualAddress(static_cast<std::uint16_t>(area * 4096 + line * 256 + device));
}

std::string IndividualAddress::display() const {
    return std::to_string(area()) + "." + std::to_string(line()) + "." + std::to_string(device());
}

}  // namespace tavrel::core
