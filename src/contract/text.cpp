#include "contract/text.hpp"

#include <cstdint>
#include <cstdio>

namespace tavrel::contract::text {
namespace {

// Decodes the code point at `i` of valid UTF-8 and advances past it. The document reader has
// validated every string; a stray octet still decodes to something and never reads past the end.
std::uint32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    int continuation = 0;
    std::uint32_t cp = lead;
    if (lead >= 0xF0) {
        continuation = 3;
        cp = lead & 0x07;
    } else if (lead >= 0xE0) {
        continuation = 2;
        cp = lead & 0x0F;
    } else if (lead >= 0xC0) {
        continuation = 1;
        cp = lead & 0x1F;
    }
    for (; continuation > 0 && i < text.size(); --continuation) {
        cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    return cp;
}

Refusal nul_refusal(catalog::DptId id, std::string_view field);

std::string code_point_name(std::uint32_t cp) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
    return buffer;
}

}  // namespace

Refusal repertoire_refusal(catalog::DptId id, std::string_view field, std::string_view reason) {
    return Refusal{"`" + std::string(field) + "` cannot carry this content: " + std::string(reason),
                   code::text_repertoire, id, std::string(field)};
}

namespace {
Refusal nul_refusal(catalog::DptId id, std::string_view field) {
    return repertoire_refusal(
        id, field,
        "U+0000 is reserved by this field's declared text shape (its pad or terminator) and "
        "cannot be carried");
}
}  // namespace

std::expected<std::string, Refusal> octets(catalog::DptId id, std::string_view field,
                                           catalog::Repertoire repertoire, bool reserves_nul,
                                           std::string_view text) {
    if (reserves_nul && text.find('\0') != std::string_view::npos) {
        return std::unexpected(nul_refusal(id, field));
    }
    if (repertoire == catalog::Repertoire::Utf8) return std::string(text);

    const bool ascii = repertoire == catalog::Repertoire::Ascii;
    const std::uint32_t top = ascii ? 0x7F : 0xFF;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::uint32_t cp = next_code_point(text, i);
        // Only an overlong (invalid) sequence can decode to U+0000 here; it must not slip past
        // the check above.
        if (cp == 0 && reserves_nul) return std::unexpected(nul_refusal(id, field));
        if (cp > top) {
            return std::unexpected(repertoire_refusal(
                id, field,
                code_point_name(cp) + (ascii ? " is above U+007F and has no ASCII octet"
                                             : " is above U+00FF and has no ISO-8859-1 octet")));
        }
        out.push_back(static_cast<char>(cp));
    }
    return out;
}

std::expected<void, Refusal> within_budget(catalog::DptId id, std::string_view field,
                                           std::optional<std::size_t> capacity, std::size_t count) {
    if (capacity && count > *capacity) {
        return std::unexpected(
            Refusal{"`" + std::string(field) + "` carries at most " + std::to_string(*capacity) +
                        " octets of content, the value needs " + std::to_string(count),
                    code::text_budget, id, std::string(field)});
    }
    return {};
}

}  // namespace tavrel::contract::text
