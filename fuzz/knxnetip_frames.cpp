// The fixed-layout KNXnet/IP structures on arbitrary octets. The first octet picks the structure;
// whatever decodes must re-encode to the octets it came from and never reach past its input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "check.hpp"
#include "core/knxnetip.hpp"

using namespace tavrel::core;

namespace {

bool within(Octets rest, Octets input) {
    return rest.data() >= input.data() && rest.data() + rest.size() <= input.data() + input.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Octets input(data + 1, size - 1);
    switch (data[0] % 4) {
        case 0: {
            auto header = KnxNetIpHeader::decode(input);
            if (!header) break;
            FUZZ_CHECK(header->value.total_length >= KnxNetIpHeader::kSize,
                       "header shorter than itself");
            FUZZ_CHECK(header->rest.size() == header->value.total_length - KnxNetIpHeader::kSize,
                       "header body is not exactly the announced length");
            FUZZ_CHECK(within(header->rest, input), "header body outside the input");
            Buffer again;
            FUZZ_CHECK(KnxNetIpHeader::encode(header->value.service_type,
                                              header->value.total_length, again)
                           .has_value(),
                       "decoded header does not encode");
            FUZZ_CHECK(again.size() == KnxNetIpHeader::kSize &&
                           std::equal(again.begin(), again.end(), input.begin()),
                       "header round trip differs");
            break;
        }
        case 1: {
            auto hpai = Hpai::decode(input);
            if (!hpai) break;
            FUZZ_CHECK(within(hpai->rest, input), "HPAI rest outside the input");
            FUZZ_CHECK(hpai->rest.size() == input.size() - Hpai::kSize,
                       "HPAI consumed a wrong size");
            Buffer again;
            FUZZ_CHECK(hpai->value.encode(again).has_value(), "decoded HPAI does not encode");
            FUZZ_CHECK(again.size() == Hpai::kSize &&
                           std::equal(again.begin(), again.end(), input.begin()),
                       "HPAI round trip differs");
            break;
        }
        case 2: {
            auto crd = TunnellingCrd::decode(input);
            if (!crd) break;
            FUZZ_CHECK(within(crd->rest, input), "CRD rest outside the input");
            FUZZ_CHECK(crd->rest.size() == input.size() - TunnellingCrd::kSize,
                       "CRD consumed a wrong size");
            const auto raw = crd->value.individual_address.raw();
            FUZZ_CHECK(input[2] == (raw >> 8) && input[3] == (raw & 0xFF),
                       "CRD address is not the one on the wire");
            break;
        }
        case 3: {
            auto header = ConnectionHeader::decode(input);
            if (!header) break;
            FUZZ_CHECK(within(header->rest, input), "connection header rest outside the input");
            Buffer again;
            FUZZ_CHECK(header->value.encode(again).has_value(),
                       "decoded connection header does not encode");
            FUZZ_CHECK(again.size() == ConnectionHeader::kSize &&
                           std::equal(again.begin(), again.end(), input.begin()),
                       "connection header round trip differs");
            break;
        }
    }
    return 0;
}
