// The single door through which a datapoint identifier becomes something that may reach the bus:
// catalogue row, registration for the direction, and the standard's group-transport rule, judged
// before anything is composed; then the composition builder, whole-row texts, and the rendering of
// a finished value into the octets of a group telegram. Every refusal names the identifier.
//
// Write path: group_support -> group_builder (or group_prefixed_builder) over a zeroed buffer ->
// Builder setters -> Builder::finish -> group_value into a second buffer of the payload's length.
// For a row that is one variable text: group_support -> group_write_text -> group_value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "catalog/id.hpp"
#include "catalog/schema.hpp"
#include "semantic/compose.hpp"
#include "semantic/error.hpp"
#include "semantic/registration.hpp"
#include "semantic/value.hpp"

namespace tavrel::semantic {

// "decode" or "encode".
std::string_view display(Direction direction);

class PipelineError {
  public:
    enum class Kind : std::uint8_t {
        NotInCatalogue = 0,
        NotImplemented = 1,
        OperationUnsupported = 2,
        GroupTransportForbidden = 3,
        ParametersAndDiagnosticsOnly = 4,
        FormMismatch = 5,
        RowNotFromCatalogue = 6,
        Semantic = 7,
    };

    Kind kind = Kind::NotInCatalogue;
    catalog::DptId id{};
    Direction direction = Direction::Encode;  // OperationUnsupported
    SemanticError semantic{};                 // Semantic

    static PipelineError make(Kind kind, catalog::DptId id) {
        PipelineError e;
        e.kind = kind;
        e.id = id;
        return e;
    }
    static PipelineError operation_unsupported(catalog::DptId id, Direction direction) {
        PipelineError e = make(Kind::OperationUnsupported, id);
        e.direction = direction;
        return e;
    }
    static PipelineError from_semantic(catalog::DptId id, SemanticError error) {
        PipelineError e = make(Kind::Semantic, id);
        e.semantic = error;
        return e;
    }

    // The refusal code; a semantic fault keeps its own ("semantic/...").
    std::string_view code() const;
    // The display form; for a semantic fault, "`9.001`: " and the fault's message.
    std::string message() const;
    // The field a refusal names: only a semantic fault's.
    std::optional<std::string_view> field() const;
};

template <class T>
using PipelineResult = std::expected<T, PipelineError>;

// The write support of a row that passed the support checks.
class Support {
  public:
    const catalog::Row& row() const { return *row_; }
    // Total payload length of a prefixed variable row for `content` octets of text; none for any
    // other row.
    std::optional<std::size_t> prefixed_octets(std::size_t content) const;
    // The largest text content that fits a payload of `budget` octets; none for a row without
    // text tail or when nothing fits.
    std::optional<std::size_t> text_capacity(std::size_t budget) const;

  private:
    friend PipelineResult<Support> group_support(catalog::DptId id, Direction direction);
    explicit Support(const catalog::Row& row) : row_(&row) {}
    const catalog::Row* row_;
};

// A rendered group value: a sub-octet row's value travels inside the APCI octet (Optimized);
// every other row as octets, viewing the caller's buffer.
struct GroupValue {
    enum class Kind : std::uint8_t { Optimized, Octets };
    Kind kind = Kind::Octets;
    std::uint8_t octet = 0;
    std::span<const std::uint8_t> octets{};
};

PipelineResult<Support> group_support(catalog::DptId id, Direction direction);

// A builder over the caller's payload buffer: 1 octet for a sub-octet row, `count` for a fixed
// one. Variable rows are refused (RowFormMismatch).
PipelineResult<Builder> group_builder(catalog::DptId id, std::span<std::uint8_t> buffer);
// A builder for a row with a fixed prefix and a text tail; the buffer has the row's prefixed
// length for the text that will be written.
PipelineResult<Builder> group_prefixed_builder(catalog::DptId id, std::span<std::uint8_t> buffer);

// The canonical octets of a finished value in `buffer` (the payload's length).
PipelineResult<GroupValue> group_value(const Value& value, std::span<std::uint8_t> buffer);

// The proven payload of a row that is one variable text; `buffer` holds text + 1 octets.
PipelineResult<Value> group_write_text(catalog::DptId id, std::span<const std::uint8_t> text,
                                       std::span<std::uint8_t> buffer);

}  // namespace tavrel::semantic
