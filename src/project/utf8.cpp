#include "project/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace tavrel::project {
namespace {

std::string describe(std::string_view text, std::size_t offset, std::size_t length,
                     bool truncated) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = truncated ? "incomplete sequence" : "invalid sequence";
    for (std::size_t i = 0; i < length; ++i) {
        auto octet = static_cast<unsigned char>(text[offset + i]);
        out += " 0x";
        out += kHex[octet >> 4];
        out += kHex[octet & 0xF];
    }
    out += " at byte offset " + std::to_string(offset);
    return out;
}

}  // namespace

std::optional<std::string> describe_invalid_utf8(std::string_view text) {
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        // Project XML is overwhelmingly ASCII: skip it eight octets at a time.
        while (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, data + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= size) break;
        unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second octet
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            return describe(text, i, 1, false);
        }
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= size) return describe(text, i, k, true);
            unsigned char octet = data[i + k];
            unsigned char min = k == 1 ? low : 0x80;
            unsigned char max = k == 1 ? high : 0xBF;
            if (octet < min || octet > max) return describe(text, i, k, false);
        }
        i += length;
    }
    return std::nullopt;
}

}  // namespace tavrel::project
