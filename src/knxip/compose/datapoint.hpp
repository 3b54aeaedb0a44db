// The bridge from the datapoint pipeline to the wire: a datapoint identifier and the caller's
// values become an owned GroupPayload, within the 253 octets a group telegram carries and under
// the caller's text-overflow policy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "catalog/id.hpp"
#include "core/cemi.hpp"
#include "knxip/error.hpp"
#include "semantic/compose.hpp"
#include "semantic/pipeline.hpp"

namespace tavrel::knxip::compose {

inline constexpr std::size_t kTransportBudget = 253;

// A pipeline refusal carried through the client's error type; the refusal mapping recovers it.
class PipelineFailure final : public PipelineFault {
  public:
    explicit PipelineFailure(semantic::PipelineError error) : error_(error) {}
    const semantic::PipelineError& error() const { return error_; }
    std::string display() const override { return error_.message(); }

  private:
    semantic::PipelineError error_;
};

KnxIpError pipeline_error(semantic::PipelineError error);

// Sets the row's fields on the builder; may refuse with a semantic fault.
using Fill = std::function<semantic::Result<void>(semantic::Builder&)>;

std::expected<core::GroupPayload, KnxIpError> compose_group_payload(catalog::DptId dpt,
                                                                    const Fill& fill);
std::expected<core::GroupPayload, KnxIpError> compose_group_prefixed(
    catalog::DptId dpt, const Fill& fill, std::span<const std::uint8_t> text, bool truncate);
std::expected<core::GroupPayload, KnxIpError> compose_group_text(catalog::DptId dpt,
                                                                 std::span<const std::uint8_t> text,
                                                                 bool truncate);

// The text, shortened to the row's capacity when `truncate` is set; never splits a UTF-8
// character.
std::span<const std::uint8_t> clip_for_transport(const semantic::Support& support,
                                                 std::span<const std::uint8_t> text, bool truncate);

// The row's trailing top-level variable text field.
std::optional<std::string_view> tail_name(const semantic::Support& support);

core::GroupPayload owned_payload(const semantic::GroupValue& value);

}  // namespace tavrel::knxip::compose
