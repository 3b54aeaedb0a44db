// The one error type of the KNXnet/IP client: eighteen kinds, each with a fixed display text that
// users read unchanged (the Python surface turns it into a "transport/..." refusal).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "catalog/id.hpp"
#include "core/error.hpp"

namespace tavrel::knxip {

// A payload-composition fault raised above this library (the datapoint pipeline). The client only
// forwards it, so it is held behind this interface; the layer that creates it derives from it to
// keep the original error reachable (dynamic_cast) for its refusal code.
class PipelineFault {
  public:
    virtual ~PipelineFault() = default;
    virtual std::string display() const = 0;
};

class KnxIpError {
  public:
    // Declaration order is relied on by the refusal mapping.
    enum class Kind : std::uint8_t {
        Io,
        Core,
        Pipeline,
        PayloadBudget,
        VariableRow,
        FixedRow,
        PrefixedRow,
        NoValue,
        Timeout,
        AckTimeout,
        HeartbeatTimeout,
        DisconnectTimeout,
        GatewayStatus,
        ReceiveLoopStopped,
        UnsupportedIpv6,
        ReconnectAttemptsExhausted,
        InvalidResponse,
        MonitorLagged,
    };

    static KnxIpError io(std::error_code error);
    static KnxIpError core(core::KnxError error);
    static KnxIpError pipeline(std::shared_ptr<const PipelineFault> fault);
    static KnxIpError payload_budget(catalog::DptId dpt, std::size_t needed, std::size_t budget);
    static KnxIpError variable_row(catalog::DptId dpt);
    static KnxIpError fixed_row(catalog::DptId dpt);
    static KnxIpError prefixed_row(catalog::DptId dpt);
    static KnxIpError no_value(catalog::DptId dpt);
    static KnxIpError timeout() { return KnxIpError(Kind::Timeout); }
    static KnxIpError ack_timeout() { return KnxIpError(Kind::AckTimeout); }
    static KnxIpError heartbeat_timeout() { return KnxIpError(Kind::HeartbeatTimeout); }
    static KnxIpError disconnect_timeout() { return KnxIpError(Kind::DisconnectTimeout); }
    static KnxIpError gateway_status(std::uint8_t status);
    static KnxIpError receive_loop_stopped() { return KnxIpError(Kind::ReceiveLoopStopped); }
    static KnxIpError unsupported_ipv6() { return KnxIpError(Kind::UnsupportedIpv6); }
    static KnxIpError reconnect_attempts_exhausted(std::size_t attempts);
    // `reason` must be a static text.
    static KnxIpError invalid_response(std::string_view reason);
    static KnxIpError monitor_lagged() { return KnxIpError(Kind::MonitorLagged); }

    Kind kind() const { return kind_; }
    const std::error_code& io_error() const { return io_; }     // Io
    const core::KnxError& core_error() const { return core_; }  // Core
    const std::shared_ptr<const PipelineFault>& pipeline_fault() const { return pipeline_; }
    std::optional<catalog::DptId> dpt() const { return dpt_; }  // kinds 3 to 7
    std::size_t needed() const { return needed_; }              // PayloadBudget
    std::size_t budget() const { return budget_; }              // PayloadBudget
    std::uint8_t status() const { return status_; }             // GatewayStatus
    std::size_t attempts() const { return attempts_; }          // ReconnectAttemptsExhausted
    std::string_view reason() const { return reason_; }         // InvalidResponse

    std::string display() const;

  private:
    explicit KnxIpError(Kind kind) : kind_(kind) {}

    Kind kind_;
    std::error_code io_;
    core::KnxError core_{core::KnxError::Kind::InvalidFrame, {}};
    std::shared_ptr<const PipelineFault> pipeline_;
    std::optional<catalog::DptId> dpt_;
    std::size_t needed_ = 0;
    std::size_t budget_ = 0;
    std::uint8_t status_ = 0;
    std::size_t attempts_ = 0;
    std::string_view reason_;
};

}  // namespace tavrel::knxip
