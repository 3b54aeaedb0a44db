#include "contract/document.hpp"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

namespace tavrel::contract {
namespace {

// Builds the tree from the reader's events. Past the depth limit it stops building but lets the
// reader run on, so that a syntax error anywhere in the text still wins over the depth fault.
class TreeBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TreeBuilder> {
  public:
    explicit TreeBuilder(unsigned root_depth) : root_depth_(root_depth) {}

    bool Null() { return scalar(Doc{}); }
    bool Bool(bool b) {
        Doc doc;
        doc.kind = Doc::Kind::Bool;
        doc.boolean = b;
        return scalar(std::move(doc));
    }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        Doc doc;
        doc.kind = Doc::Kind::Number;
        doc.text.assign(text, length);
        return scalar(std::move(doc));
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        Doc doc;
        doc.kind = Doc::Kind::Text;
        doc.text.assign(text, length);
        return scalar(std::move(doc));
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        if (!too_deep_) open_.back().key.assign(text, length);
        return true;
    }
    bool StartArray() { return open(Doc::Kind::List); }
    bool EndArray(rapidjson::SizeType) { return close(); }
    bool StartObject() { return open(Doc::Kind::Object); }
    bool EndObject(rapidjson::SizeType) {
        if (too_deep_) return true;
        auto& members = open_.back().doc.members;
        std::stable_sort(members.begin(), members.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        // Keep the last of each run of equal keys: the later occurrence replaces the earlier.
        std::vector<Doc::Member> unique;
        unique.reserve(members.size());
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (i + 1 < members.size() && members[i + 1].first == members[i].first) continue;
            unique.push_back(std::move(members[i]));
        }
        members = std::move(unique);
        return close();
    }

    bool too_deep() const { return too_deep_; }
    Doc take_root() { return std::move(root_); }

  private:
    struct Open {
        Doc doc;
        std::string key;
    };

    unsigned depth_of_next_value() const {
        return root_depth_ + static_cast<unsigned>(open_.size());
    }

    bool admit() {
        if (!too_deep_ && depth_of_next_value() > max_document_depth) {
            too_deep_ = true;
            open_.clear();
        }
        return !too_deep_;
    }

    bool scalar(Doc doc) {
        if (admit()) place(std::move(doc));
        return true;
    }

    bool open(Doc::Kind kind) {
        if (admit()) {
            Open entry;
            entry.doc.kind = kind;
            open_.push_back(std::move(entry));
        }
        return true;
    }

    bool close() {
        if (too_deep_) return true;
        Doc done = std::move(open_.back().doc);
        open_.pop_back();
        place(std::move(done));
        return true;
    }

    void place(Doc doc) {
        if (open_.empty()) {
            root_ = std::move(doc);
            return;
        }
        auto& parent = open_.back();
        if (parent.doc.kind == Doc::Kind::List) {
            parent.doc.items.push_back(std::move(doc));
        } else {
            parent.doc.members.emplace_back(std::move(parent.key), std::move(doc));
        }
    }

    unsigned root_depth_;
    bool too_deep_ = false;
    std::vector<Open> open_;
    Doc root_;
};

std::string position_of(std::string_view text, std::size_t offset) {
    std::size_t line = 1;
    std::size_t column = 1;
    offset = std::min(offset, text.size());
    for (std::size_t i = 0; i < offset; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            ++line;
            column = 1;
        } else if (c != '\r' && (c & 0xC0) != 0x80) {
            // Columns count characters, not the continuation octets of UTF-8 sequences.
            ++column;
        }
    }
    return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

std::string describe(std::string_view what, std::string_view text, std::size_t offset) {
    if (!what.empty() && what.back() == '.') what.remove_suffix(1);
    return std::string(what) + position_of(text, offset);
}

// The parts of a number text in JSON's number grammar (leading zeros tolerated).
struct NumberParts {
    bool negative = false;
    std::string_view integer_digits;
    std::string_view fraction_digits;
    std::int64_t exponent = 0;  // as written, saturated far beyond any useful magnitude
};

constexpr std::int64_t exponent_saturation = 1'000'000'000;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<NumberParts> split_number(std::string_view text) {
    NumberParts parts;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        parts.negative = true;
        ++i;
    }
    const std::size_t integer_start = i;
    while (i < text.size() && is_digit(text[i])) ++i;
    if (i == integer_start) return std::nullopt;
    parts.integer_digits = text.substr(integer_start, i - integer_start);
    if (i < text.size() && text[i] == '.') {
        const std::size_t fraction_start = ++i;
        while (i < text.size() && is_digit(text[i])) ++i;
        if (i == fraction_start) return std::nullopt;
        parts.fraction_digits = text.substr(fraction_start, i - fraction_start);
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool exponent_negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            exponent_negative = text[i] == '-';
            ++i;
        }
        const std::size_t exponent_start = i;
        std::int64_t exponent = 0;
        for (; i < text.size() && is_digit(text[i]); ++i) {
            exponent = std::min(exponent * 10 + (text[i] - '0'), exponent_saturation);
        }
        if (i == exponent_start) return std::nullopt;
        parts.exponent = exponent_negative ? -exponent : exponent;
    }
    if (i != text.size()) return std::nullopt;
    return parts;
}

// Accumulates digits into a magnitude that must stay within a signed 64-bit value of the sign.
bool accumulate(std::string_view digits, bool negative, std::uint64_t& magnitude) {
    const std::uint64_t limit =
        negative ? std::uint64_t{1} << 63 : static_cast<std::uint64_t>(INT64_MAX);
    for (char c : digits) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    return true;
}

std::int64_t apply_sign(std::uint64_t magnitude, bool negative) {
    if (!negative) return static_cast<std::int64_t>(magnitude);
    if (magnitude == std::uint64_t{1} << 63) return INT64_MIN;
    return -static_cast<std::int64_t>(magnitude);
}

// What a number text whose conversion left the type's range stands for: an infinity when its
// magnitude is above 1, a zero when below (the only two ways to leave the range).
template <class Float>
Float out_of_range_value(const NumberParts& parts) {
    const std::string_view all[2] = {parts.integer_digits, parts.fraction_digits};
    std::int64_t leading_zeros = 0;
    bool found = false;
    for (auto digits : all) {
        for (char c : digits) {
            if (c != '0') {
                found = true;
                break;
            }
            ++leading_zeros;
        }
        if (found) break;
    }
    const auto integer_count = static_cast<std::int64_t>(parts.integer_digits.size());
    const std::int64_t magnitude = parts.exponent + integer_count - leading_zeros;
    const Float value = found && magnitude > 0 ? std::numeric_limits<Float>::infinity() : Float{0};
    return parts.negative ? -value : value;
}

template <class Float>
std::optional<Float> read_floating(std::string_view number) {
    const auto parts = split_number(number);
    if (!parts) return std::nullopt;
    Float value{};
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                        std::chars_format::general);
    if (result.ptr != number.data() + number.size()) return std::nullopt;
    if (result.ec == std::errc::result_out_of_range) return out_of_range_value<Float>(*parts);
    if (result.ec != std::errc{}) return std::nullopt;
    return value;
}

}  // namespace

std::string describe_syntax_error(std::string_view what, std::string_view text,
                                  std::size_t offset) {
    return describe(what, text, offset);
}

const Doc* Doc::find(std::string_view key) const {
    auto it = std::lower_bound(members.begin(), members.end(), key,
                               [](const Member& m, std::string_view k) { return m.first < k; });
    if (it == members.end() || it->first != key) return nullptr;
    return &it->second;
}

std::expected<Doc, DocumentFault> classify(std::string_view text, unsigned depth) {
    // The reader treats a NUL octet as the end of its input, so it only ever sees the text up to
    // the first one; a NUL octet is never valid JSON text and is reported where it stands.
    const std::size_t nul = std::min(text.find('\0'), text.size());
    rapidjson::MemoryStream stream(text.data(), nul);
    rapidjson::Reader reader;
    TreeBuilder builder(depth);
    constexpr unsigned flags = rapidjson::kParseNumbersAsStringsFlag |
                               rapidjson::kParseValidateEncodingFlag |
                               rapidjson::kParseIterativeFlag;
    const rapidjson::ParseResult result = reader.Parse<flags>(stream, builder);
    if (result.IsError() && result.Offset() < nul) {
        return std::unexpected(DocumentFault{
            DocumentFault::Kind::NotJson,
            describe(rapidjson::GetParseError_En(result.Code()), text, result.Offset())});
    }
    if (nul < text.size()) {
        return std::unexpected(
            DocumentFault{DocumentFault::Kind::NotJson, describe("Invalid NUL octet", text, nul)});
    }
    if (result.IsError()) {
        return std::unexpected(DocumentFault{
            DocumentFault::Kind::NotJson,
            describe(rapidjson::GetParseError_En(result.Code()), text, result.Offset())});
    }
    if (builder.too_deep()) {
        return std::unexpected(DocumentFault{DocumentFault::Kind::TooDeep, {}, max_document_depth});
    }
    return builder.take_root();
}

Refusal document_refusal(catalog::DptId id, const DocumentFault& fault) {
    if (fault.kind == DocumentFault::Kind::TooDeep) {
        return Refusal{"the value nests deeper than " + std::to_string(fault.limit) + " levels",
                       code::document_too_deep, id, std::nullopt};
    }
    return Refusal{"the value is not JSON: " + fault.description, code::invalid_json, id,
                   std::nullopt};
}

std::expected<Doc, Refusal> read_document(catalog::DptId id, std::string_view text) {
    auto doc = classify(text, 1);
    if (!doc) return std::unexpected(document_refusal(id, doc.error()));
    return std::move(*doc);
}

std::optional<std::int64_t> read_exact_integer(std::string_view number) {
    const auto parts = split_number(number);
    if (!parts || !parts->fraction_digits.empty() ||
        number.find_first_of("eE") != std::string_view::npos) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    if (!accumulate(parts->integer_digits, parts->negative, magnitude)) return std::nullopt;
    return apply_sign(magnitude, parts->negative);
}

std::optional<catalog::Decimal> read_exact_decimal(std::string_view number) {
    const auto parts = split_number(number);
    if (!parts) return std::nullopt;
    std::uint64_t magnitude = 0;
    if (!accumulate(parts->integer_digits, parts->negative, magnitude) ||
        !accumulate(parts->fraction_digits, parts->negative, magnitude)) {
        return std::nullopt;
    }
    const auto fraction_count = static_cast<std::int64_t>(
        std::min<std::size_t>(parts->fraction_digits.size(), exponent_saturation));
    const std::int64_t exponent = parts->exponent - fraction_count;
    if (exponent < -128 || exponent > 127) return std::nullopt;
    return catalog::Decimal{apply_sign(magnitude, parts->negative),
                            static_cast<std::int8_t>(exponent)};
}

std::optional<double> read_real(std::string_view number) {
    return read_floating<double>(number);
}

std::optional<double> read_single(std::string_view number) {
    const auto value = read_floating<float>(number);
    if (!value) return std::nullopt;
    return static_cast<double>(*value);
}

}  // namespace tavrel::contract
