#include "semantic/error.hpp"

#include <array>
#include <charconv>
#include <cstdio>

namespace tavrel::semantic {

namespace {

SemanticError make(SemanticErrorKind kind) {
    SemanticError e;
    e.kind = kind;
    return e;
}

std::string quoted(std::string_view name) {
    std::string s;
    s.reserve(name.size() + 2);
    s += '`';
    s += name;
    s += '`';
    return s;
}

// At least two upper-case hexadecimal digits: 0xE0, 0x03, 0x1FF.
std::string hex2(std::uint64_t v) {
    std::array<char, 24> buf{};
    int n = std::snprintf(buf.data(), buf.size(), "%02llX", static_cast<unsigned long long>(v));
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

}  // namespace

std::string format_real(double value) {
    // Fixed notation of the largest double needs 309 integer digits; subnormals need up to 767
    // fractional ones in the shortest round-trip form.
    std::array<char, 1100> buf{};
    auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed);
    if (ec != std::errc{}) return "nan";
    return std::string(buf.data(), end);
}

SemanticError SemanticError::from_encoding(encoding::EncodingError err) {
    SemanticError e = make(SemanticErrorKind::Encoding);
    e.encoding = err;
    return e;
}
SemanticError SemanticError::context_missing() {
    return make(SemanticErrorKind::ContextMissing);
}
SemanticError SemanticError::context_not_required() {
    return make(SemanticErrorKind::ContextNotRequired);
}
SemanticError SemanticError::kind_mismatch(std::string_view field) {
    SemanticError e = make(SemanticErrorKind::KindMismatch);
    e.name = field;
    return e;
}
SemanticError SemanticError::descriptor_mismatch(catalog::DptId descriptor, catalog::DptId value) {
    SemanticError e = make(SemanticErrorKind::DescriptorMismatch);
    e.descriptor_id = descriptor;
    e.value_id = value;
    return e;
}
SemanticError SemanticError::range(std::string_view field, catalog::Decimal min,
                                   catalog::Decimal max, double value) {
    SemanticError e = make(SemanticErrorKind::Range);
    e.name = field;
    e.min = min;
    e.max = max;
    e.value = value;
    return e;
}
SemanticError SemanticError::unknown_code(std::string_view field, std::uint64_t code,
                                          std::optional<std::string_view> band) {
    SemanticError e = make(SemanticErrorKind::UnknownCode);
    e.name = field;
    e.number = code;
    if (band) {
        e.has_band = true;
        e.other = *band;
    }
    return e;
}
SemanticError SemanticError::no_z8_control() {
    return make(SemanticErrorKind::NoZ8Control);
}
SemanticError SemanticError::unknown_z8_command(std::uint8_t octet) {
    SemanticError e = make(SemanticErrorKind::UnknownZ8Command);
    e.number = octet;
    return e;
}
SemanticError SemanticError::z8_reserved(std::uint32_t mask, std::uint8_t got) {
    SemanticError e = make(SemanticErrorKind::Z8Reserved);
    e.number = mask;
    e.number2 = got;
    return e;
}
SemanticError SemanticError::z8_illegal_combination(std::string_view first,
                                                    std::string_view second) {
    SemanticError e = make(SemanticErrorKind::Z8IllegalCombination);
    e.name = first;
    e.other = second;
    return e;
}
SemanticError SemanticError::mapping_width(std::string_view field, std::uint32_t width) {
    SemanticError e = make(SemanticErrorKind::MappingWidth);
    e.name = field;
    e.number = width;
    return e;
}
SemanticError SemanticError::named_bit_position(std::string_view bit, std::uint32_t position) {
    SemanticError e = make(SemanticErrorKind::NamedBitPosition);
    e.name = bit;
    e.number = position;
    return e;
}
SemanticError SemanticError::named_bit_polarity(std::string_view bit, std::uint32_t active_state) {
    SemanticError e = make(SemanticErrorKind::NamedBitPolarity);
    e.name = bit;
    e.number = active_state;
    return e;
}
SemanticError SemanticError::unrepresentable(std::string_view field) {
    SemanticError e = make(SemanticErrorKind::Unrepresentable);
    e.name = field;
    return e;
}
SemanticError SemanticError::unwalkable_lists(std::uint64_t limit) {
    SemanticError e = make(SemanticErrorKind::UnwalkableLists);
    e.number = limit;
    return e;
}
SemanticError SemanticError::unresolved_validity_flag(std::string_view flag) {
    SemanticError e = make(SemanticErrorKind::UnresolvedValidityFlag);
    e.name = flag;
    return e;
}
SemanticError SemanticError::unqueried_validity_target(std::string_view target) {
    SemanticError e = make(SemanticErrorKind::UnqueriedValidityTarget);
    e.name = target;
    return e;
}
SemanticError SemanticError::split_validity_scope(std::string_view flag, std::string_view target) {
    SemanticError e = make(SemanticErrorKind::SplitValidityScope);
    e.name = flag;
    e.other = target;
    return e;
}
SemanticError SemanticError::unresolved_cross_field_name(std::string_view operand) {
    SemanticError e = make(SemanticErrorKind::UnresolvedCrossFieldName);
    e.name = operand;
    return e;
}
SemanticError SemanticError::split_cross_field_scope(std::string_view field,
                                                     std::string_view operand) {
    SemanticError e = make(SemanticErrorKind::SplitCrossFieldScope);
    e.name = field;
    e.other = operand;
    return e;
}
SemanticError SemanticError::undeclared_z8_context(std::string_view control_octet) {
    SemanticError e = make(SemanticErrorKind::UndeclaredZ8Context);
    e.name = control_octet;
    return e;
}
SemanticError SemanticError::disposition_on_encode(std::string_view field, Disposition d) {
    SemanticError e = make(SemanticErrorKind::DispositionOnEncode);
    e.name = field;
    e.disposition = d;
    return e;
}
SemanticError SemanticError::self_gating_validity_flag(std::string_view flag) {
    SemanticError e = make(SemanticErrorKind::SelfGatingValidityFlag);
    e.name = flag;
    return e;
}

std::string_view SemanticError::code() const {
    switch (kind) {
        case SemanticErrorKind::Encoding:
            return encoding.code();
        case SemanticErrorKind::ContextMissing:
            return "semantic/context-missing";
        case SemanticErrorKind::ContextNotRequired:
            return "semantic/context-not-required";
        case SemanticErrorKind::KindMismatch:
            return "semantic/kind-mismatch";
        case SemanticErrorKind::DescriptorMismatch:
            return "semantic/descriptor-mismatch";
        case SemanticErrorKind::Range:
            return "semantic/range";
        case SemanticErrorKind::UnknownCode:
            return "semantic/unknown-code";
        case SemanticErrorKind::NoZ8Control:
            return "semantic/no-z8-control";
        case SemanticErrorKind::UnknownZ8Command:
            return "semantic/unknown-z8-command";
        case SemanticErrorKind::Z8Reserved:
            return "semantic/z8-reserved";
        case SemanticErrorKind::Z8IllegalCombination:
            return "semantic/z8-illegal-combination";
        case SemanticErrorKind::MappingWidth:
            return "semantic/mapping-width";
        case SemanticErrorKind::NamedBitPosition:
            return "semantic/named-bit-position";
        case SemanticErrorKind::NamedBitPolarity:
            return "semantic/named-bit-polarity";
        case SemanticErrorKind::Unrepresentable:
            return "semantic/unrepresentable";
        case SemanticErrorKind::UnwalkableLists:
            return "semantic/unwalkable-lists";
        case SemanticErrorKind::UnresolvedValidityFlag:
            return "semantic/unresolved-validity-flag";
        case SemanticErrorKind::UnqueriedValidityTarget:
            return "semantic/unqueried-validity-target";
        case SemanticErrorKind::SplitValidityScope:
            return "semantic/split-validity-scope";
        case SemanticErrorKind::UnresolvedCrossFieldName:
            return "semantic/unresolved-cross-field-name";
        case SemanticErrorKind::SplitCrossFieldScope:
            return "semantic/split-cross-field-scope";
        case SemanticErrorKind::UndeclaredZ8Context:
            return "semantic/undeclared-z8-context";
        case SemanticErrorKind::DispositionOnEncode:
            return "semantic/disposition-on-encode";
        case SemanticErrorKind::SelfGatingValidityFlag:
            return "semantic/self-gating-validity-flag";
    }
    return "semantic/unknown";
}

std::string SemanticError::message() const {
    using K = SemanticErrorKind;
    switch (kind) {
        case K::Encoding:
            return encoding.message();
        case K::ContextMissing:
            return "the row requires a service-selected reading and none was supplied";
        case K::ContextNotRequired:
            return "the row declares no context requirement; a service reading was supplied";
        case K::KindMismatch:
            return quoted(name) + " does not have this access kind";
        case K::DescriptorMismatch:
            return "descriptor belongs to " + descriptor_id.display() + ", the value is bound to " +
                   value_id.display();
        case K::Range:
            return quoted(name) + " must be between " + min.display() + " and " + max.display() +
                   ", got " + format_real(value);
        case K::UnknownCode:
            if (has_band) {
                return quoted(name) + " code " + std::to_string(number) +
                       " falls in the declared band " + quoted(other) +
                       " rather than a defined entry";
            }
            return quoted(name) + " has no defined code " + std::to_string(number);
        case K::NoZ8Control:
            return "the row carries no Z8 control field";
        case K::UnknownZ8Command:
            return "no defined Z8 command " + std::to_string(number);
        case K::Z8Reserved:
            return "reserved Z8 status bits must be zero: mask 0x" + hex2(number) + ", got 0x" +
                   hex2(number2);
        case K::Z8IllegalCombination:
            return "illegal Z8 status combination: " + std::string(name) + " with " +
                   std::string(other);
        case K::MappingWidth:
            return "the declared width of " + quoted(name) + " is " + std::to_string(number) +
                   " bits, which is not a width its declared carrier is read and written at";
        case K::NamedBitPosition:
            return "the declared position of " + quoted(name) + " is bit " +
                   std::to_string(number) +
                   ", outside the positions its bit group spans in the 64-bit value carrier";
        case K::NamedBitPolarity:
            return "the declared active state of " + quoted(name) + " is " +
                   std::to_string(number) + ", and a bit holds only 0 or 1";
        case K::Unrepresentable:
            return "value is not representable on the declared grid of " + quoted(name);
        case K::UnwalkableLists:
            return "the row declares more list work than the " + std::to_string(number) +
                   " this layer admits, so it is refused rather than walked";
        case K::UnresolvedValidityFlag:
            return quoted(name) +
                   " gates a declared validity edge and is not a named bit any reader of that "
                   "edge resolves";
        case K::UnqueriedValidityTarget:
            return quoted(name) +
                   " is gated by a declared validity edge and is not a declaration any reader "
                   "asks about";
        case K::SplitValidityScope:
            return "the declared validity edge from " + quoted(name) + " to " + quoted(other) +
                   " crosses a repeated group, and no reader opens both scopes";
        case K::UnresolvedCrossFieldName:
            return quoted(name) +
                   " names an operand of a declared cross-field relation and is not a value "
                   "field of the scope that relation is read in";
        case K::SplitCrossFieldScope:
            return "the declared cross-field relation from " + quoted(name) + " reaches " +
                   quoted(other) +
                   " in a different repeated-group scope, and no reader opens both scopes";
        case K::UndeclaredZ8Context:
            return "the row declares the control octet " + quoted(name) +
                   " and no context requirement, so no reading of that octet is derived";
        case K::DispositionOnEncode:
            if (disposition == Disposition::AcceptWithoutAction) {
                return quoted(name) + " composes an accept-without-action value";
            }
            return quoted(name) + " composes an ignore-the-message value";
        case K::SelfGatingValidityFlag:
            return "the validity edge names " + quoted(name) +
                   " as its own target, and a flag cannot gate itself";
    }
    return "unknown semantic fault";
}

std::optional<std::string_view> SemanticError::field() const {
    using K = SemanticErrorKind;
    switch (kind) {
        case K::Encoding:
            if (encoding.names_field()) return encoding.field;
            return std::nullopt;
        case K::KindMismatch:
        case K::Range:
        case K::UnknownCode:
        case K::MappingWidth:
        case K::NamedBitPosition:
        case K::NamedBitPolarity:
        case K::Unrepresentable:
        case K::UnresolvedValidityFlag:
        case K::UnqueriedValidityTarget:
        case K::UnresolvedCrossFieldName:
        case K::UndeclaredZ8Context:
        case K::DispositionOnEncode:
        case K::SelfGatingValidityFlag:
            return name;
        case K::SplitValidityScope:
        case K::SplitCrossFieldScope:
            return other;
        default:
            return std::nullopt;
    }
}

}  // namespace tavrel::semantic
