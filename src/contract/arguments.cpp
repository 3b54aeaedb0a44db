#include "contract/arguments.hpp"

#include <string>

namespace tavrel::contract {

std::expected<core::GroupAddress, Refusal> group_address(std::string_view text) {
    auto parsed = core::GroupAddress::parse(text);
    if (!parsed) {
        return std::unexpected(Refusal{
            "`" + std::string(text) + "` is not a group address: " + parsed.error().display(),
            code::malformed_address, std::nullopt, std::nullopt});
    }
    return *parsed;
}

std::expected<catalog::DptId, Refusal> datapoint(std::string_view text) {
    auto parsed = catalog::DptId::parse(text);
    if (!parsed) {
        return std::unexpected(Refusal{
            "`" + std::string(text) +
                "` is not a datapoint identifier: " + std::string(catalog::message(parsed.error())),
            code::malformed_datapoint, std::nullopt, std::nullopt});
    }
    return *parsed;
}

}  // namespace tavrel::contract
