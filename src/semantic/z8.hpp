// Reading a Z8 control octet with the shared Z8 definition: as a status (named bits, reserved
// bits, illegal combinations) or as a command.
#pragma once

#include <cstdint>
#include <string_view>

#include "semantic/mapping.hpp"

namespace tavrel::semantic {

struct Z8Command {
    const catalog::Z8Command* definition = nullptr;
    // Release, SetOSV, AlarmAck and SetToDefault do not use the main value.
    bool ignores_main = false;
};

// The defined command with this code, or UnknownZ8Command.
Result<Z8Command> command(std::uint8_t octet);

struct Z8Status {
    // Whether the named status bit is in its active state; an unknown name reads as inactive.
    static bool active(std::uint8_t status, std::string_view bit_name);
};

// Reserved bits (0xE0) must be clear; OutOfService excludes Fault and Overridden.
Result<void> check_status(std::uint8_t status);

// Whether the main value is excluded from checks: out of service, or faulty and not overridden.
bool status_main_value(std::uint8_t status);

}  // namespace tavrel::semantic
