#include "knxip/compose/refusal_from_transport.hpp"

#include "knxip/compose/datapoint.hpp"

namespace tavrel::knxip::compose {
namespace {

std::string_view transport_code(KnxIpError::Kind kind) {
    namespace code = contract::code;
    using Kind = KnxIpError::Kind;
    switch (kind) {
        case Kind::Io:
            return code::transport_io;
        // Only the payload composition raises Pipeline, always with a PipelineFailure; a fault
        // of any other origin has no pipeline code to keep and is reported as a client fault.
        case Kind::Core:
        case Kind::Pipeline:
            return code::transport_core;
        case Kind::PayloadBudget:
            return code::transport_payload_budget;
        case Kind::VariableRow:
            return code::transport_variable_row;
        case Kind::FixedRow:
            return code::transport_fixed_row;
        case Kind::PrefixedRow:
            return code::transport_prefixed_row;
        case Kind::NoValue:
            return code::transport_no_value;
        case Kind::Timeout:
            return code::transport_timeout;
        case Kind::AckTimeout:
            return code::transport_ack_timeout;
        case Kind::HeartbeatTimeout:
            return code::transport_heartbeat_timeout;
        case Kind::DisconnectTimeout:
            return code::transport_disconnect_timeout;
        case Kind::GatewayStatus:
            return code::transport_gateway_status;
        case Kind::ReceiveLoopStopped:
            return code::transport_receive_loop_stopped;
        case Kind::UnsupportedIpv6:
            return code::transport_unsupported_ipv6;
        case Kind::ReconnectAttemptsExhausted:
            return code::transport_reconnect_attempts_exhausted;
        case Kind::InvalidResponse:
            return code::transport_invalid_response;
        case Kind::MonitorLagged:
            return code::transport_monitor_lagged;
    }
    return code::transport_core;
}

}  // namespace

contract::Refusal from_transport(const KnxIpError& error) {
    std::string message = error.display();
    if (error.kind() == KnxIpError::Kind::Pipeline) {
        if (auto* failure = dynamic_cast<const PipelineFailure*>(error.pipeline_fault().get())) {
            return contract::Refusal::from_pipeline(failure->error(), std::move(message));
        }
    }
    return contract::Refusal{std::move(message), transport_code(error.kind()), error.dpt(),
                             std::nullopt};
}

}  // namespace tavrel::knxip::compose
