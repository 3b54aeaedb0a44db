// Value documents: one JSON text read into a small classified tree whose numbers keep their exact
// source text, and the readings that turn such a text into the number a field needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/decimal.hpp"
#include "catalog/id.hpp"
#include "contract/refusal.hpp"

namespace tavrel::contract {

// The deepest admitted nesting: the document itself is at depth 1.
inline constexpr unsigned max_document_depth = 8;

// The reader's description of a syntax error at octet `offset` of `text`, without its final
// period and followed by " at line L column C" (columns count characters).
std::string describe_syntax_error(std::string_view what, std::string_view text, std::size_t offset);

// One classified JSON value. Numbers are never converted here: the contract reads their text
// once it knows which field takes them, so no precision is lost on the way.
struct Doc {
    enum class Kind : std::uint8_t { Null, Bool, Number, Text, List, Object };
    using Member = std::pair<std::string, Doc>;

    Kind kind = Kind::Null;
    bool boolean = false;         // Bool
    std::string text;             // Number: the source text as written; Text: decoded UTF-8
    std::vector<Doc> items;       // List, in document order
    std::vector<Member> members;  // Object: unique keys sorted by their bytes; the last
                                  // occurrence of a repeated key wins

    const Doc* find(std::string_view key) const;
    bool is_object() const { return kind == Kind::Object; }
};

struct DocumentFault {
    enum class Kind : std::uint8_t { NotJson, TooDeep };
    Kind kind = Kind::NotJson;
    std::string description;  // NotJson: what the reader found wrong, with line and column
    unsigned limit = 0;       // TooDeep

    friend bool operator==(const DocumentFault&, const DocumentFault&) = default;
};

// Reads `text` as exactly one JSON document (surrounding whitespace allowed) whose root sits at
// `depth`. The whole text is checked for syntax before depth is judged, so a text that is both
// malformed and too deep reports the syntax error.
std::expected<Doc, DocumentFault> classify(std::string_view text, unsigned depth);

// `classify(text, 1)` with its fault as a refusal about `id`: "adapter/invalid-json" or
// "adapter/document-too-deep".
std::expected<Doc, Refusal> read_document(catalog::DptId id, std::string_view text);
Refusal document_refusal(catalog::DptId id, const DocumentFault& fault);

// Number readings over a JSON number's source text. Each returns none when the text does not
// have the reading's form or its value does not fit.
std::optional<std::int64_t> read_exact_integer(std::string_view number);
std::optional<catalog::Decimal> read_exact_decimal(std::string_view number);
// The nearest double; a magnitude beyond the double range reads as an infinity, one below it as
// a signed zero.
std::optional<double> read_real(std::string_view number);
// Rounded once, directly to the nearest float (never through double, which could round twice),
// then widened. The result may be infinite; the caller decides what that means.
std::optional<double> read_single(std::string_view number);

}  // namespace tavrel::contract
