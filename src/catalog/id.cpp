#include "catalog/id.hpp"

#include <cstdio>
#include <optional>

namespace tavrel::catalog {
namespace {

std::expected<std::uint16_t, ParseIdError> read_component(std::string_view part) {
    if (part.empty()) return std::unexpected(ParseIdError::EmptyComponent);
    for (char c : part) {
        if (c < '0' || c > '9') return std::unexpected(ParseIdError::NonDigit);
    }
    if (part.size() > 5) return std::unexpected(ParseIdError::TooManyDigits);
    std::uint32_t value = 0;
    for (char c : part) value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535) return std::unexpected(ParseIdError::OutOfRange);
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string_view message(ParseIdError error) {
    switch (error) {
        case ParseIdError::MissingSeparator:
            return "identifier has no `.` separator";
        case ParseIdError::EmptyComponent:
            return "identifier component is empty";
        case ParseIdError::NonDigit:
            return "identifier component contains a non-digit byte";
        case ParseIdError::TooManyDigits:
            return "identifier component has more than 5 digits";
        case ParseIdError::OutOfRange:
            return "identifier component exceeds 65535";
    }
    return {};
}

std::expected<DptId, ParseIdError> DptId::parse(std::string_view text) {
    auto dot = text.find('.');
    if (dot == std::string_view::npos) return std::unexpected(ParseIdError::MissingSeparator);
    auto main = read_component(text.substr(0, dot));
    if (!main) return std::unexpected(main.error());
    auto sub = read_component(text.substr(dot + 1));
    if (!sub) return std::unexpected(sub.error());
    return DptId{*main, *sub};
}

std::string DptId::display() const {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%03u", static_cast<unsigned>(main),
                  static_cast<unsigned>(sub));
    return text;
}

}  // namespace tavrel::catalog
