// Client errors as refusals: every KnxIpError becomes the Refusal a caller sees, with a
// "transport/..." code, or with the code of the pipeline refusal the client forwarded.
#pragma once

#include "contract/refusal.hpp"
#include "knxip/error.hpp"

namespace tavrel::knxip::compose {

// The message is the error's display text. A forwarded pipeline refusal keeps its own code,
// identifier and field; every other kind carries the identifier only when it has one, and never
// a field.
contract::Refusal from_transport(const KnxIpError& error);

}  // namespace tavrel::knxip::compose
