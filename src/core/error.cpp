#include "core/error.hpp"

#include <cstdio>

namespace tavrel::core {

std::string KnxError::display() const {
    switch (kind) {
        case Kind::InvalidAddress:
            return "invalid address: " + std::string(reason);
        case Kind::BufferTooShort:
            return "buffer too short: needed " + std::to_string(needed) + " bytes, got " +
                   std::to_string(got);
        case Kind::InvalidFrame:
            return "invalid frame: " + std::string(reason);
        case Kind::UnsupportedServiceType: {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(service_type));
            return "unsupported service type: 0x" + std::string(hex);
        }
    }
    return {};
}

}  // namespace tavrel::core
