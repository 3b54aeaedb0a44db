// Reading a finished payload back against its row's declared meaning (ranges, grids, code tables
// and bands, special values, validity flags, cross-field relations, the Z8 control octet), and the
// transmit rules that keep a value a receiver would ignore off the bus.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "catalog/schema.hpp"
#include "encoding/encoded.hpp"
#include "semantic/mapping.hpp"

namespace tavrel::semantic {

// A payload that passed every check, with the reading it was read with. Made only by interpret
// and Value::validated; it borrows the payload buffer and the row.
class Value {
  public:
    const encoding::Encoded& encoded() const { return encoded_; }
    const catalog::Row& row() const { return encoded_.row(); }
    std::span<const std::uint8_t> payload() const { return encoded_.payload(); }
    ServiceReading reading() const { return reading_; }

    // The transmit rules: no field may hold a value of meaning "ignore the message" and no
    // relation of that kind may be violated, validity flags notwithstanding.
    static Result<Value> validated(Value value);

  private:
    friend struct ValueAccess;
    Value(const encoding::Encoded& encoded, ServiceReading reading)
        : encoded_(encoded), reading_(reading) {}
    encoding::Encoded encoded_;
    ServiceReading reading_;
};

// A special meaning the read-back found, and the field that carries it.
struct FoundDisposition {
    Disposition disposition = Disposition::IgnoreMessage;
    std::string_view field;
};

using Interpretation = std::variant<Value, FoundDisposition>;

// Reads `encoded` back field by field; the first fault, or the first disposition, ends it.
Result<Interpretation> interpret(const encoding::Encoded& encoded, ServiceReading reading);

// Where reads happen: the whole row, or one instance of a repeated group.
class ReadScope {
  public:
    static ReadScope whole(const encoding::Encoded& encoded) {
        return ReadScope(&encoded, nullptr, 0);
    }
    static ReadScope instance(const encoding::Repeat& repeat, std::uint16_t index) {
        return ReadScope(nullptr, &repeat, index);
    }
    Result<std::uint64_t> bits(std::string_view name) const;

  private:
    ReadScope(const encoding::Encoded* encoded, const encoding::Repeat* repeat, std::uint16_t index)
        : encoded_(encoded), repeat_(repeat), index_(index) {}
    const encoding::Encoded* encoded_;
    const encoding::Repeat* repeat_;
    std::uint16_t index_;
};

// The flag that invalidates `target` in this scope (the first firing validity edge), or none.
Result<std::optional<std::string_view>> invalidated(const ReadScope& scope,
                                                    catalog::Slice<catalog::FieldNode> fields,
                                                    catalog::Slice<catalog::ValidityEdge> edges,
                                                    std::string_view target);

}  // namespace tavrel::semantic
