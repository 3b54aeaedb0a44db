#include "contract/refusal.hpp"

namespace tavrel::contract {

Refusal Refusal::from_pipeline(const semantic::PipelineError& error, std::string message) {
    std::optional<std::string> field;
    if (auto name = error.field()) field = std::string(*name);
    return Refusal{std::move(message), error.code(), error.id, std::move(field)};
}

Refusal Refusal::unavailable(std::string_view subject) {
    return Refusal{"the transport is unavailable: " + std::string(subject),
                   code::transport_unavailable, std::nullopt, std::nullopt};
}

Refusal Refusal::closed_transport(std::string_view subject) {
    return Refusal{"the " + std::string(subject) + " is closed", code::transport_closed,
                   std::nullopt, std::nullopt};
}

}  // namespace tavrel::contract
