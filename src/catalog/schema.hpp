// The catalogue's row model: static, read-only descriptions of datapoint types and their field
// trees. Everything here is constant-initialised data; nothing allocates or runs at start-up.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "catalog/decimal.hpp"
#include "catalog/id.hpp"

namespace tavrel::catalog {

template <class T>
using Slice = std::span<const T>;

enum class Carrier : std::uint8_t {
    Boolean = 0,
    Enumeration = 1,
    Unsigned = 2,
    Signed = 3,
    Float16 = 4,
    Float32 = 5,
};

struct Range {
    bool bounded = false;
    Decimal min{};
    Decimal max{};
};

enum class DescriptorKind : std::uint32_t {
    Int = 0,
    Linear = 1,
    Quantity = 2,
    Offset = 3,
    TwoDigitYear = 4,
    StepCode = 5,
    Natural = 0xFFFFFFFFu,
};

struct Descriptor {
    DescriptorKind kind = DescriptorKind::Natural;
    bool has_argument = false;
    std::int32_t argument = 0;
};

struct Resolution {
    Decimal step{};
    bool approximate = false;
};

struct SpecialValue {
    std::uint32_t raw = 0;
    std::uint8_t meaning = 0;
};

struct CodeEntry {
    std::string_view text;
    std::uint16_t value = 0;
};

struct Band {
    std::string_view text;
    std::uint16_t low = 0;
    std::uint16_t high = 0;
    std::uint8_t kind = 2;  // 1: "reserved, no effect" (passes on reading); 2: refused
};

struct CodeTable {
    Slice<CodeEntry> entries;
    Slice<Band> bands;
};

struct LinkedType {
    enum class Kind : std::uint8_t { None, Exact, MainOnly };
    Kind kind = Kind::None;
    DptId id{};              // Exact
    std::uint16_t main = 0;  // MainOnly
};

struct NamedBit {
    std::string_view name;
    LinkedType linked_type{};
    std::uint8_t position = 0;  // from the group's least significant bit
    std::uint8_t active_state = 1;
};

struct BitGroupDef {
    Slice<NamedBit> bits;
    std::uint32_t reserved_mask = 0;  // bit 0 = least significant bit of the group
    bool unchecked = false;
};

struct Scalar {
    Carrier carrier = Carrier::Unsigned;
    std::uint8_t bits = 0;
    Range range{};
    Descriptor descriptor{};
    const Resolution* resolution = nullptr;
    Slice<SpecialValue> special_values{};
    const CodeTable* code_table = nullptr;
    bool main = false;
    LinkedType linked_type{};
};

enum class Repertoire : std::uint8_t { Ascii = 0, Latin1 = 1, Utf8 = 2 };

enum class NodeKind : std::uint8_t {
    Scalar,
    Reserved,
    BitGroup,
    Chars,
    TerminatedText,
    VariableText,
    ControlOctet,
    Record,
    RepeatedGroup,
};

// One node of a field tree. A flat record rather than a variant so the table stays plain
// constant data; only the members of the node's kind are meaningful.
struct FieldNode {
    std::string_view name;
    NodeKind kind = NodeKind::Scalar;
    Scalar scalar{};                            // Scalar
    std::uint8_t bits = 0;                      // Reserved, BitGroup
    bool unchecked = false;                     // Reserved
    const BitGroupDef* group = nullptr;         // BitGroup
    std::uint16_t count = 0;                    // Chars (octets), RepeatedGroup (instances)
    bool padded = false;                        // Chars
    std::uint8_t pad = 0;                       // Chars
    std::uint16_t octets = 0;                   // TerminatedText
    std::uint8_t terminator = 0;                // TerminatedText, VariableText
    Repertoire repertoire = Repertoire::Ascii;  // Chars, TerminatedText, VariableText
    Slice<FieldNode> children{};                // Record, RepeatedGroup
    DptId embedded{};                           // Record, RepeatedGroup
};

struct RowForm {
    enum class Kind : std::uint8_t { SubOctet, Octets, Variable };
    Kind kind = Kind::Octets;
    std::uint16_t size = 0;  // SubOctet: bits; Octets: octet count; Variable: unused
};

enum class Availability : std::uint8_t {
    Standard = 0,
    NotForGroupCommunication = 1,
    ParametersAndDiagnostics = 2,
};

enum class ContextRequirement : std::uint8_t { None = 0, ServiceSelected = 1 };

struct ValidityEdge {
    std::string_view flag;
    std::string_view target;
    bool invalid_when_active = true;
};

struct CrossFieldRelation {
    std::string_view field;
    Slice<std::string_view> operands;
    std::uint64_t value = 0;
    std::uint8_t kind = 0;  // 0: when `field` holds `value`, every operand must hold zero
};

struct Row {
    DptId id{};
    std::string_view name;
    Slice<FieldNode> fields;
    RowForm form{};
    Availability availability = Availability::Standard;
    ContextRequirement context = ContextRequirement::None;
    Slice<ValidityEdge> validity_edges{};
    Slice<CrossFieldRelation> relations{};
};

struct Z8Command {
    std::string_view name;
    std::uint8_t code = 0;
    bool ignores_main = false;
};

struct Z8Definition {
    BitGroupDef status;
    Slice<Z8Command> commands;
    CodeTable fault_codes;
};

// The one Z8 definition every control octet shares.
extern const Z8Definition Z8;

// All rows, strictly ascending by id.
Slice<Row> rows();

// Binary search by id; never derives a missing identifier from a sibling.
const Row* find(DptId id);

// Where `row` sits in rows(); nullopt for a row that is not the table's own (tests build rows of
// their own, which may be anything).
std::optional<std::size_t> table_index(const Row& row);

// Checks that passed once for a table row: the rows are immutable statics, so a row's layout and
// declarations, once proven sound, stay sound, and a write need not prove them again. Rows from
// elsewhere are never remembered. Safe to use from any thread; constant-initialised, so it costs
// nothing at start-up.
class RowProofs {
  public:
    constexpr RowProofs() = default;

    bool holds(const Row& row) const noexcept {
        auto index = table_index(row);
        return index && proven_[*index].load(std::memory_order_relaxed);
    }
    void record(const Row& row) noexcept {
        if (auto index = table_index(row)) proven_[*index].store(true, std::memory_order_relaxed);
    }
    // `check(row)`, unless it has already passed for this table row; remembers a pass.
    template <class Check>
    auto prove(const Row& row, Check&& check) -> decltype(check(row)) {
        if (holds(row)) return {};
        auto checked = check(row);
        if (checked) record(row);
        return checked;
    }

    // Room for every row of the table (checked where the table is defined).
    static constexpr std::size_t kCapacity = 512;

  private:
    std::array<std::atomic<bool>, kCapacity> proven_{};
};

}  // namespace tavrel::catalog
