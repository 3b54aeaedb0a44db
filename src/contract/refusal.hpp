// The one error record of the write path: a message shown to users unchanged, a stable code, and
// the datapoint and field concerned when there is one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "catalog/id.hpp"
#include "semantic/pipeline.hpp"

namespace tavrel::contract {

// Refusal codes made by this layer and by the client bridge. Callers match on whole codes and the
// Python surface picks its exception class from the first segment, so these texts never change.
namespace code {
inline constexpr std::string_view malformed_address = "adapter/malformed-address";
inline constexpr std::string_view malformed_datapoint = "adapter/malformed-datapoint";
inline constexpr std::string_view invalid_json = "adapter/invalid-json";
inline constexpr std::string_view document_too_deep = "adapter/document-too-deep";
inline constexpr std::string_view kind_mismatch = "adapter/kind-mismatch";
inline constexpr std::string_view unknown_field = "adapter/unknown-field";
inline constexpr std::string_view group_count = "adapter/group-count";
inline constexpr std::string_view off_grid = "adapter/off-grid";
inline constexpr std::string_view text_budget = "adapter/text-budget";
inline constexpr std::string_view text_repertoire = "adapter/text-repertoire";

inline constexpr std::string_view transport_io = "transport/io";
inline constexpr std::string_view transport_core = "transport/core";
inline constexpr std::string_view transport_payload_budget = "transport/payload-budget";
inline constexpr std::string_view transport_variable_row = "transport/variable-row";
inline constexpr std::string_view transport_fixed_row = "transport/fixed-row";
inline constexpr std::string_view transport_prefixed_row = "transport/prefixed-row";
inline constexpr std::string_view transport_no_value = "transport/no-value";
inline constexpr std::string_view transport_timeout = "transport/timeout";
inline constexpr std::string_view transport_ack_timeout = "transport/ack-timeout";
inline constexpr std::string_view transport_heartbeat_timeout = "transport/heartbeat-timeout";
inline constexpr std::string_view transport_disconnect_timeout = "transport/disconnect-timeout";
inline constexpr std::string_view transport_gateway_status = "transport/gateway-status";
inline constexpr std::string_view transport_receive_loop_stopped = "transport/receive-loop-stopped";
inline constexpr std::string_view transport_unsupported_ipv6 = "transport/unsupported-ipv6";
inline constexpr std::string_view transport_reconnect_attempts_exhausted =
    "transport/reconnect-attempts-exhausted";
inline constexpr std::string_view transport_invalid_response = "transport/invalid-response";
inline constexpr std::string_view transport_monitor_lagged = "transport/monitor-lagged";
inline constexpr std::string_view transport_unavailable = "transport/unavailable";
inline constexpr std::string_view transport_closed = "transport/closed";
}  // namespace code

struct Refusal {
    std::string message;
    std::string_view code;  // static text: a layer segment and kinds joined by "/"
    std::optional<catalog::DptId> dpt;
    std::optional<std::string> field;

    // A pipeline refusal with its already formatted message (the error's display form). The code
    // is the pipeline's; a semantic fault keeps its own code and names its field where it has one.
    static Refusal from_pipeline(const semantic::PipelineError& error, std::string message);
    // A client or monitor whose lock was left unusable; `subject` names it ("tunnel client").
    static Refusal unavailable(std::string_view subject);
    // A call on a client after its close; `subject` names it ("routing client").
    static Refusal closed_transport(std::string_view subject);

    friend bool operator==(const Refusal&, const Refusal&) = default;
};

}  // namespace tavrel::contract
