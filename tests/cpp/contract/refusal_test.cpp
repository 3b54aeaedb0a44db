#include "contract/refusal.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tavrel::contract {
namespace {

using encoding::EncodingError;
using semantic::PipelineError;
using semantic::SemanticError;
using Kind = PipelineError::Kind;

const catalog::DptId temp{9, 1};

struct Case {
    PipelineError error;
    std::string_view code;
    std::optional<std::string> field;
};

PipelineError semantic_fault(SemanticError e) {
    return PipelineError::from_semantic(temp, e);
}
PipelineError encoding_fault(EncodingError e) {
    return semantic_fault(SemanticError::from_encoding(e));
}

TEST(FromPipeline, CodeIdentifierAndFieldByVariant) {
    const Case cases[] = {
        {PipelineError::make(Kind::NotInCatalogue, temp), "resolve/not-in-catalogue", {}},
        {PipelineError::make(Kind::NotImplemented, temp), "resolve/not-implemented", {}},
        {PipelineError::operation_unsupported(temp, semantic::Direction::Decode),
         "resolve/operation-unsupported",
         {}},
        {PipelineError::make(Kind::GroupTransportForbidden, temp),
         "pipeline/group-transport-forbidden",
         {}},
        {PipelineError::make(Kind::ParametersAndDiagnosticsOnly, temp),
         "pipeline/parameters-and-diagnostics-only",
         {}},
        {PipelineError::make(Kind::FormMismatch, temp), "pipeline/form-mismatch", {}},
        {PipelineError::make(Kind::RowNotFromCatalogue, temp),
         "pipeline/row-not-from-catalogue",
         {}},
        {semantic_fault(SemanticError::range("FloatValue", {-273, 0}, {67043328, -2}, -273.01)),
         "semantic/range", "FloatValue"},
        {semantic_fault(SemanticError::context_missing()), "semantic/context-missing", {}},
        {semantic_fault(SemanticError::z8_illegal_combination("OutOfService", "Fault")),
         "semantic/z8-illegal-combination",
         {}},
        {semantic_fault(SemanticError::split_validity_scope("E", "Tariff")),
         "semantic/split-validity-scope", "Tariff"},
        {semantic_fault(SemanticError::split_cross_field_scope("HourOfDay", "Minutes")),
         "semantic/split-cross-field-scope", "Minutes"},
        {semantic_fault(SemanticError::disposition_on_encode("HourOfDay",
                                                             semantic::Disposition::IgnoreMessage)),
         "semantic/disposition-on-encode", "HourOfDay"},
        {semantic_fault(SemanticError::unwalkable_lists(1024)), "semantic/unwalkable-lists", {}},
        // Faults of the bit engine keep their own codes; only some name a field.
        {encoding_fault(EncodingError::unknown_field()), "semantic/encoding/unknown-field", {}},
        {encoding_fault(EncodingError::inside_repeated_group()),
         "semantic/encoding/inside-repeated-group",
         {}},
        {encoding_fault(EncodingError::kind_mismatch()), "semantic/encoding/kind-mismatch", {}},
        {encoding_fault(EncodingError::length(2, 3)), "semantic/encoding/length", {}},
        {encoding_fault(EncodingError::reserved_violation("Flags", 6, 0x7f, 1)),
         "semantic/encoding/reserved-violation", "Flags"},
        {encoding_fault(EncodingError::value_too_wide("Month")), "semantic/encoding/value-too-wide",
         "Month"},
        {encoding_fault(EncodingError::unreachable_repeat_nesting("Inner")),
         "semantic/encoding/unreachable-repeat-nesting", "Inner"},
    };
    for (const auto& c : cases) {
        const std::string message = c.error.message();
        Refusal r = Refusal::from_pipeline(c.error, message);
        EXPECT_EQ(r, (Refusal{message, c.code, temp, c.field})) << c.code;
    }
}

TEST(FromPipeline, SemanticMessagesLeadWithTheIdentifier) {
    auto error =
        semantic_fault(SemanticError::range("FloatValue", {-273, 0}, {67043328, -2}, -273.01));
    Refusal r = Refusal::from_pipeline(error, error.message());
    EXPECT_EQ(r.message, "`9.001`: `FloatValue` must be between -273 and 670433.28, got -273.01");
    // The message is the one given, never reworded.
    EXPECT_EQ(Refusal::from_pipeline(error, "as given").message, "as given");
}

}  // namespace
}  // namespace tavrel::contract
