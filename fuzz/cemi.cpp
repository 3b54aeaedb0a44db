// cEMI frames on arbitrary octets. A frame that decodes must encode again, decode from its own
// encoding to the same frame, and re-encode to the octets it was read from, except where the wire
// form is defined to be normalised (the frame-type bit of a long APDU, inline bits of a read).
#include <cstddef>
#include <cstdint>
#include <span>

#include "check.hpp"
#include "core/cemi.hpp"

using namespace tavrel::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Octets input(data, size);
    auto decoded = CemiFrame::decode(input);
    if (!decoded) return 0;
    const CemiFrame& frame = decoded->value;
    FUZZ_CHECK(decoded->rest.data() >= input.data() &&
                   decoded->rest.data() + decoded->rest.size() == input.data() + input.size(),
               "rest is not the tail of the input");
    FUZZ_CHECK(frame.telegram.validate().has_value(), "decoded telegram is not valid");

    Buffer encoded;
    auto ok = frame.encode(encoded);
    FUZZ_CHECK(ok.has_value(), "decoded frame does not encode");

    const std::size_t consumed = input.size() - decoded->rest.size();
    FUZZ_CHECK(encoded.size() == consumed, "re-encoding has a different length");
    const std::size_t n = input[1];
    for (std::size_t at = 0; at < consumed; ++at) {
        std::uint8_t wire = input[at];
        std::uint8_t again = encoded[at];
        if (at == 2 + n) {
            // A long APDU always goes out as an extended frame.
            const std::size_t length = input[8 + n];
            if (length >= 16) wire &= 0x7F;
        }
        if (at == 10 + n && frame.telegram.apci == GroupApci::Read) wire &= 0xC0;
        FUZZ_CHECK(wire == again, "re-encoding differs from the input");
    }

    auto again = CemiFrame::decode(encoded);
    FUZZ_CHECK(again.has_value(), "own encoding does not decode");
    FUZZ_CHECK(again->rest.empty(), "own encoding leaves octets over");
    CemiFrame expected = frame;
    if (encoded[8 + n] >= 16) expected.control1 &= 0x7F;
    FUZZ_CHECK(again->value == expected, "decoding the encoding gives another frame");
    return 0;
}
