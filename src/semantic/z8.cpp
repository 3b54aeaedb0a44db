#include "semantic/z8.hpp"

namespace tavrel::semantic {

Result<Z8Command> command(std::uint8_t octet) {
    for (const catalog::Z8Command& c : catalog::Z8.commands) {
        if (c.code == octet) return Z8Command{&c, c.ignores_main};
    }
    return std::unexpected(SemanticError::unknown_z8_command(octet));
}

bool Z8Status::active(std::uint8_t status, std::string_view bit_name) {
    for (const catalog::NamedBit& bit : catalog::Z8.status.bits) {
        if (bit.name != bit_name) continue;
        if (bit.position > 7) return false;
        return ((status >> bit.position) & 1u) == bit.active_state;
    }
    return false;
}

Result<void> check_status(std::uint8_t status) {
    constexpr std::uint32_t kReserved = 0xE0;
    if (status & kReserved) return std::unexpected(SemanticError::z8_reserved(kReserved, status));
    if (Z8Status::active(status, "OutOfService")) {
        if (Z8Status::active(status, "Fault")) {
            return std::unexpected(SemanticError::z8_illegal_combination("OutOfService", "Fault"));
        }
        if (Z8Status::active(status, "Overridden")) {
            return std::unexpected(
                SemanticError::z8_illegal_combination("OutOfService", "Overridden"));
        }
    }
    return {};
}

bool status_main_value(std::uint8_t status) {
    if (Z8Status::active(status, "OutOfService")) return true;
    return Z8Status::active(status, "Fault") && !Z8Status::active(status, "Overridden");
}

}  // namespace tavrel::semantic
