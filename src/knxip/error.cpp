#include "knxip/error.hpp"

#include <asio/error.hpp>
#include <cstdio>

namespace tavrel::knxip {

KnxIpError KnxIpError::io(std::error_code error) {
    KnxIpError e(Kind::Io);
    // Asio reports operating-system errors in a category of its own; fold them into the standard
    // one so the display and comparisons treat every OS error alike.
    if (error.category() == asio::error::get_system_category()) {
        error = std::error_code(error.value(), std::system_category());
    }
    e.io_ = error;
    return e;
}

KnxIpError KnxIpError::core(core::KnxError error) {
    KnxIpError e(Kind::Core);
    e.core_ = error;
    return e;
}

KnxIpError KnxIpError::pipeline(std::shared_ptr<const PipelineFault> fault) {
    KnxIpError e(Kind::Pipeline);
    e.pipeline_ = std::move(fault);
    return e;
}

KnxIpError KnxIpError::payload_budget(catalog::DptId dpt, std::size_t needed, std::size_t budget) {
    KnxIpError e(Kind::PayloadBudget);
    e.dpt_ = dpt;
    e.needed_ = needed;
    e.budget_ = budget;
    return e;
}

KnxIpError KnxIpError::variable_row(catalog::DptId dpt) {
    KnxIpError e(Kind::VariableRow);
    e.dpt_ = dpt;
    return e;
}

KnxIpError KnxIpError::fixed_row(catalog::DptId dpt) {
    KnxIpError e(Kind::FixedRow);
    e.dpt_ = dpt;
    return e;
}

KnxIpError KnxIpError::prefixed_row(catalog::DptId dpt) {
    KnxIpError e(Kind::PrefixedRow);
    e.dpt_ = dpt;
    return e;
}

KnxIpError KnxIpError::no_value(catalog::DptId dpt) {
    KnxIpError e(Kind::NoValue);
    e.dpt_ = dpt;
    return e;
}

KnxIpError KnxIpError::gateway_status(std::uint8_t status) {
    KnxIpError e(Kind::GatewayStatus);
    e.status_ = status;
    return e;
}

KnxIpError KnxIpError::reconnect_attempts_exhausted(std::size_t attempts) {
    KnxIpError e(Kind::ReconnectAttemptsExhausted);
    e.attempts_ = attempts;
    return e;
}

KnxIpError KnxIpError::invalid_response(std::string_view reason) {
    KnxIpError e(Kind::InvalidResponse);
    e.reason_ = reason;
    return e;
}

namespace {

std::string quoted(const std::optional<catalog::DptId>& dpt) {
    return "`" + (dpt ? dpt->display() : std::string()) + "`";
}

}  // namespace

std::string KnxIpError::display() const {
    switch (kind_) {
        case Kind::Io: {
            std::string text = io_.message();
            // Errors that came from the operating system carry their number, as users expect to
            // look it up; errors of other categories have none.
            if (io_.category() == std::system_category() ||
                io_.category() == std::generic_category()) {
                text += " (os error " + std::to_string(io_.value()) + ")";
            }
            return text;
        }
        case Kind::Core:
            return core_.display();
        case Kind::Pipeline:
            return pipeline_ ? pipeline_->display() : std::string();
        case Kind::PayloadBudget:
            return quoted(dpt_) + " needs " + std::to_string(needed_) +
                   " octets, a group telegram carries at most " + std::to_string(budget_);
        case Kind::VariableRow:
            return quoted(dpt_) +
                   " has no declared width; a whole-row variable row writes its content with "
                   "`group_write_text`, a prefixed row composes through `group_write_prefixed`";
        case Kind::FixedRow:
            return quoted(dpt_) +
                   " is not a whole-row variable row; a declared width composes with "
                   "`group_write`, a prefixed row through `group_write_prefixed`";
        case Kind::PrefixedRow:
            return quoted(dpt_) +
                   " is a prefixed-variable row; compose its prefix and content through "
                   "`group_write_prefixed`";
        case Kind::NoValue:
            return "the telegram asked for " + quoted(dpt_) +
                   " and carries no value: it is a group read request";
        case Kind::Timeout:
            return "operation timed out";
        case Kind::AckTimeout:
            return "tunnel ACK timed out";
        case Kind::HeartbeatTimeout:
            return "tunnel heartbeat timed out";
        case Kind::DisconnectTimeout:
            return "tunnel disconnect timed out";
        case Kind::GatewayStatus: {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(status_));
            return "gateway returned status 0x" + std::string(hex);
        }
        case Kind::ReceiveLoopStopped:
            return "tunnel receive loop stopped";
        case Kind::UnsupportedIpv6:
            return "IPv6 is not supported for KNXnet/IP tunneling";
        case Kind::ReconnectAttemptsExhausted:
            return "tunnel reconnect attempts exhausted after " + std::to_string(attempts_) +
                   " attempts";
        case Kind::InvalidResponse:
            return "invalid KNXnet/IP response: " + std::string(reason_);
        case Kind::MonitorLagged:
            return "monitor event stream lagged";
    }
    return {};
}

}  // namespace tavrel::knxip
