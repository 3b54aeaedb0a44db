#include "semantic/pipeline.hpp"

#include "encoding/encoded.hpp"

namespace tavrel::semantic {

using catalog::DptId;
using catalog::NodeKind;
using catalog::Row;
using Kind = PipelineError::Kind;

namespace {

std::unexpected<PipelineError> refuse(Kind kind, DptId id) {
    return std::unexpected(PipelineError::make(kind, id));
}
std::unexpected<PipelineError> refuse(DptId id, SemanticError e) {
    return std::unexpected(PipelineError::from_semantic(id, e));
}
std::unexpected<PipelineError> refuse(DptId id, const encoding::EncodingError& e) {
    return refuse(id, SemanticError::from_encoding(e));
}

// Catalogue row, registration for the direction, and the group-transport rule.
PipelineResult<const Row*> supported_row(DptId id, Direction direction) {
    const Row* row = catalog::find(id);
    if (row == nullptr) return refuse(Kind::NotInCatalogue, id);
    const Registration* entry = row_support_of(id);
    if (entry == nullptr) return refuse(Kind::NotImplemented, id);
    if (!entry->supports(direction)) {
        return std::unexpected(PipelineError::operation_unsupported(id, direction));
    }
    if (row->availability == catalog::Availability::ParametersAndDiagnostics) {
        return refuse(Kind::ParametersAndDiagnosticsOnly, id);
    }
    if (row->availability != catalog::Availability::Standard ||
        row->context != catalog::ContextRequirement::None) {
        return refuse(Kind::GroupTransportForbidden, id);
    }
    return row;
}

std::string quoted(DptId id) {
    return "`" + id.display() + "`";
}

}  // namespace

std::string_view display(Direction direction) {
    return direction == Direction::Decode ? "decode" : "encode";
}

std::string_view PipelineError::code() const {
    switch (kind) {
        case Kind::NotInCatalogue:
            return "resolve/not-in-catalogue";
        case Kind::NotImplemented:
            return "resolve/not-implemented";
        case Kind::OperationUnsupported:
            return "resolve/operation-unsupported";
        case Kind::GroupTransportForbidden:
            return "pipeline/group-transport-forbidden";
        case Kind::ParametersAndDiagnosticsOnly:
            return "pipeline/parameters-and-diagnostics-only";
        case Kind::FormMismatch:
            return "pipeline/form-mismatch";
        case Kind::RowNotFromCatalogue:
            return "pipeline/row-not-from-catalogue";
        case Kind::Semantic:
            return semantic.code();
    }
    return "pipeline/unknown";
}

std::string PipelineError::message() const {
    switch (kind) {
        case Kind::NotInCatalogue:
            return quoted(id) + " is not a catalogued subtype";
        case Kind::NotImplemented:
            return quoted(id) + " is catalogued but not implemented";
        case Kind::OperationUnsupported:
            return quoted(id) + " is registered but does not support " +
                   std::string(display(direction));
        case Kind::GroupTransportForbidden:
            return quoted(id) + " is not available for standard group communication";
        case Kind::ParametersAndDiagnosticsOnly:
            return quoted(id) + " is confined to parameters and diagnostic data";
        case Kind::FormMismatch:
            return quoted(id) + " does not transmit in this group-value form";
        case Kind::RowNotFromCatalogue:
            return quoted(id) + " is bound to a row the catalogue does not own";
        case Kind::Semantic:
            return quoted(id) + ": " + semantic.message();
    }
    return quoted(id);
}

std::optional<std::string_view> PipelineError::field() const {
    if (kind == Kind::Semantic) return semantic.field();
    return std::nullopt;
}

std::optional<std::size_t> Support::prefixed_octets(std::size_t content) const {
    return encoding::prefixed_octets(*row_, content);
}

std::optional<std::size_t> Support::text_capacity(std::size_t budget) const {
    if (row_->fields.size() == 1 && row_->fields[0].kind == NodeKind::VariableText) {
        if (budget == 0) return std::nullopt;
        return budget - 1;
    }
    auto fixed = encoding::prefixed_octets(*row_, 0);  // prefix octets and the terminator
    if (!fixed || budget < *fixed) return std::nullopt;
    return budget - *fixed;
}

PipelineResult<Support> group_support(DptId id, Direction direction) {
    auto row = supported_row(id, direction);
    if (!row) return std::unexpected(row.error());
    return Support(**row);
}

PipelineResult<Builder> group_builder(DptId id, std::span<std::uint8_t> buffer) {
    auto row = supported_row(id, Direction::Encode);
    if (!row) return std::unexpected(row.error());
    if ((*row)->form.kind == catalog::RowForm::Kind::Variable) {
        return refuse(id, encoding::EncodingError::row_form_mismatch());
    }
    auto builder = schema_seam::builder(**row, buffer);
    if (!builder) return refuse(id, builder.error());
    return *builder;
}

PipelineResult<Builder> group_prefixed_builder(DptId id, std::span<std::uint8_t> buffer) {
    auto row = supported_row(id, Direction::Encode);
    if (!row) return std::unexpected(row.error());
    if (!encoding::prefixed_octets(**row, 0)) {
        return refuse(id, encoding::EncodingError::row_form_mismatch());
    }
    auto builder = schema_seam::builder(**row, buffer);
    if (!builder) return refuse(id, builder.error());
    return *builder;
}

PipelineResult<GroupValue> group_value(const Value& value, std::span<std::uint8_t> buffer) {
    DptId id = value.row().id;
    auto row = supported_row(id, Direction::Encode);
    if (!row) return std::unexpected(row.error());
    // Identity, not equality: only the catalogue's own rows carry its guarantees.
    if (*row != &value.row()) return refuse(Kind::RowNotFromCatalogue, id);
    auto canonical = encoding::canonicalize(value.encoded(), buffer);
    if (!canonical) return refuse(id, canonical.error());
    std::span<const std::uint8_t> octets = canonical->payload();
    GroupValue out;
    if ((*row)->form.kind == catalog::RowForm::Kind::SubOctet) {
        if (octets.size() != 1) {
            return refuse(id, encoding::EncodingError::length(1, octets.size()));
        }
        out.kind = GroupValue::Kind::Optimized;
        out.octet = octets[0];
        return out;
    }
    out.kind = GroupValue::Kind::Octets;
    out.octets = octets;
    return out;
}

PipelineResult<Value> group_write_text(DptId id, std::span<const std::uint8_t> text,
                                       std::span<std::uint8_t> buffer) {
    auto row = supported_row(id, Direction::Encode);
    if (!row) return std::unexpected(row.error());
    auto encoded = encoding::encode_variable(**row, text, buffer);
    if (!encoded) return refuse(id, encoded.error());
    auto read = interpret(*encoded, ServiceReading::None);
    if (!read) return refuse(id, read.error());
    if (const auto* found = std::get_if<FoundDisposition>(&*read)) {
        return refuse(id, SemanticError::disposition_on_encode(found->field, found->disposition));
    }
    auto valid = Value::validated(std::get<Value>(*read));
    if (!valid) return refuse(id, valid.error());
    return *valid;
}

}  // namespace tavrel::semantic
