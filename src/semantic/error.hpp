// The semantic layer's vocabulary: the value a caller sets on a field, how a control octet is
// read, what a receiver does with a special value, and the faults the layer reports.
//
// A SemanticError is a plain value that borrows its names from the static catalogue, so judging
// never allocates; only rendering its message does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/decimal.hpp"
#include "catalog/id.hpp"
#include "encoding/error.hpp"

namespace tavrel::semantic {

// The value set on a scalar field; the field's carrier and descriptor fix which kind it takes.
struct ScalarValue {
    enum class Kind : std::uint8_t { Boolean, Integer, Decimal, Real };
    Kind kind = Kind::Integer;
    bool boolean = false;
    std::int64_t integer = 0;
    catalog::Decimal decimal{};
    double real = 0.0;

    static constexpr ScalarValue of_boolean(bool b) {
        ScalarValue v;
        v.kind = Kind::Boolean;
        v.boolean = b;
        return v;
    }
    static constexpr ScalarValue of_integer(std::int64_t i) {
        ScalarValue v;
        v.kind = Kind::Integer;
        v.integer = i;
        return v;
    }
    static constexpr ScalarValue of_decimal(catalog::Decimal d) {
        ScalarValue v;
        v.kind = Kind::Decimal;
        v.decimal = d;
        return v;
    }
    static constexpr ScalarValue of_real(double x) {
        ScalarValue v;
        v.kind = Kind::Real;
        v.real = x;
        return v;
    }
};

// How a row's control octet is read. Compositions always use None.
enum class ServiceReading : std::uint8_t { Status = 0, Command = 1, None = 2 };

// What a standard-conforming receiver does with a well-formed value of special meaning.
enum class Disposition : std::uint8_t { IgnoreMessage = 0, AcceptWithoutAction = 1 };

enum class SemanticErrorKind : std::uint8_t {
    Encoding = 0,
    ContextMissing = 1,
    ContextNotRequired = 2,
    KindMismatch = 3,
    DescriptorMismatch = 4,
    Range = 5,
    UnknownCode = 6,
    NoZ8Control = 7,
    UnknownZ8Command = 8,
    Z8Reserved = 9,
    Z8IllegalCombination = 10,
    MappingWidth = 11,
    NamedBitPosition = 12,
    NamedBitPolarity = 13,
    Unrepresentable = 14,
    UnwalkableLists = 15,
    UnresolvedValidityFlag = 16,
    UnqueriedValidityTarget = 17,
    SplitValidityScope = 18,
    UnresolvedCrossFieldName = 19,
    SplitCrossFieldScope = 20,
    UndeclaredZ8Context = 21,
    DispositionOnEncode = 22,
    SelfGatingValidityFlag = 23,
};

// One fault of the semantic layer. Only the members its kind uses are meaningful:
//   name    — the field, flag, named bit, operand or control octet (the first name of two)
//   other   — the second name (validity target, cross-field operand, second status bit) or the
//             text of the band an unknown code falls in (when has_band)
//   number  — code, limit, width, position, active state, command octet, Z8 mask
//   number2 — the octet a Z8 reserved check got
class SemanticError {
  public:
    SemanticErrorKind kind = SemanticErrorKind::ContextMissing;
    encoding::EncodingError encoding{};
    std::string_view name;
    std::string_view other;
    bool has_band = false;
    catalog::DptId descriptor_id{};
    catalog::DptId value_id{};
    catalog::Decimal min{};
    catalog::Decimal max{};
    double value = 0.0;
    std::uint64_t number = 0;
    std::uint64_t number2 = 0;
    Disposition disposition = Disposition::IgnoreMessage;

    static SemanticError from_encoding(encoding::EncodingError e);
    static SemanticError context_missing();
    static SemanticError context_not_required();
    static SemanticError kind_mismatch(std::string_view field);
    static SemanticError descriptor_mismatch(catalog::DptId descriptor, catalog::DptId value);
    static SemanticError range(std::string_view field, catalog::Decimal min, catalog::Decimal max,
                               double value);
    static SemanticError unknown_code(std::string_view field, std::uint64_t code,
                                      std::optional<std::string_view> band);
    static SemanticError no_z8_control();
    static SemanticError unknown_z8_command(std::uint8_t octet);
    static SemanticError z8_reserved(std::uint32_t mask, std::uint8_t got);
    static SemanticError z8_illegal_combination(std::string_view first, std::string_view second);
    static SemanticError mapping_width(std::string_view field, std::uint32_t width);
    static SemanticError named_bit_position(std::string_view bit, std::uint32_t position);
    static SemanticError named_bit_polarity(std::string_view bit, std::uint32_t active_state);
    static SemanticError unrepresentable(std::string_view field);
    static SemanticError unwalkable_lists(std::uint64_t limit);
    static SemanticError unresolved_validity_flag(std::string_view flag);
    static SemanticError unqueried_validity_target(std::string_view target);
    static SemanticError split_validity_scope(std::string_view flag, std::string_view target);
    static SemanticError unresolved_cross_field_name(std::string_view operand);
    static SemanticError split_cross_field_scope(std::string_view field, std::string_view operand);
    static SemanticError undeclared_z8_context(std::string_view control_octet);
    static SemanticError disposition_on_encode(std::string_view field, Disposition disposition);
    static SemanticError self_gating_validity_flag(std::string_view flag);

    // The stable refusal code ("semantic/..."; an encoding fault keeps its own code).
    std::string_view code() const;
    // The display form, shown to users unchanged.
    std::string message() const;
    // The name a refusal carries as its field, if this kind names one.
    std::optional<std::string_view> field() const;
};

// Shortest decimal text that reads back to the same double, never with an exponent
// (256, 0.5, -273.15). Used wherever a float appears in a message.
std::string format_real(double value);

}  // namespace tavrel::semantic
