#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "core/cemi.hpp"
#include "core/knxnetip.hpp"

namespace tavrel::core {
namespace {

Buffer hex(std::string_view text) {
    Buffer out;
    std::istringstream in{std::string(text)};
    std::string octet;
    while (in >> octet) out.push_back(static_cast<std::uint8_t>(std::stoul(octet, nullptr, 16)));
    return out;
}

std::string to_hex(Octets octets) {
    std::string out;
    char part[4];
    for (auto o : octets) {
        std::snprintf(part, sizeof part, out.empty() ? "%02X" : " %02X", o);
        out += part;
    }
    return out;
}

template <class T>
std::string error_or(const std::expected<T, KnxError>& result, std::string ok) {
    return result ? ok : result.error().display();
}

TEST(KnxNetIpHeader, DecodesInCheckOrder) {
    struct Case {
        const char* input;
        const char* outcome;  // "service/length/body" or the error's display
    };
    const Case cases[] = {
        {"06 10 05 31 00", "buffer too short: needed 6 bytes, got 5"},
        {"06 10 05 31 00 06", "0531/6/"},
        {"06 10 05 33 00 06", "unsupported service type: 0x0533"},
        {"06 10 01 FF 00 06", "unsupported service type: 0x01ff"},
        {"06 10 02 0B 00 06", "unsupported service type: 0x020b"},
        {"06 10 04 22 00 06", "unsupported service type: 0x0422"},
        {"06 11 05 31 00 06", "invalid frame: invalid KNXnet/IP protocol version"},
        {"07 11 05 33 00 01", "invalid frame: invalid KNXnet/IP header length"},
        {"06 10 02 06 00 05", "invalid frame: total length shorter than header"},
        {"06 10 02 01 00 20 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
         "buffer too short: needed 32 bytes, got 26"},
        {"06 10 02 06 00 08 15 00 AA BB", "0206/8/15 00"},
        {"06 10 04 21 00 0A 04 15 00 00", "0421/10/04 15 00 00"},
    };
    for (const auto& c : cases) {
        auto bytes = hex(c.input);
        auto got = KnxNetIpHeader::decode(bytes);
        std::string text;
        if (got) {
            char head[16];
            std::snprintf(head, sizeof head, "%04x/%u/", got->value.service_type,
                          got->value.total_length);
            text = head + to_hex(got->rest);
        } else {
            text = got.error().display();
        }
        EXPECT_EQ(text, c.outcome) << c.input;
    }
}

TEST(KnxNetIpHeader, IgnoresOctetsBeyondTotalLength) {
    Buffer bytes = hex("06 10 02 02 00 1A");
    bytes.resize(30, 0xEE);
    auto got = KnxNetIpHeader::decode(bytes);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->rest.size(), 20u);
}

TEST(KnxNetIpHeader, EncodesBigEndianAfterExistingContent) {
    Buffer buffer{0xFF};
    ASSERT_TRUE(KnxNetIpHeader::encode(0x0420, 0x0115, buffer));
    EXPECT_EQ(to_hex(buffer), "FF 06 10 04 20 01 15");
}

TEST(Hpai, DecodesInCheckOrderAndRoundTrips) {
    const std::pair<const char*, const char*> cases[] = {
        {"08 02 C0 A8 01 0A 0E 57 99", "2 192.168.1.10:3671 rest 99"},
        {"08 01 7F 00 00 01 D4 31", "1 127.0.0.1:54321 rest "},
        {"08 03 C0 A8 01 0A 0E 57", "invalid frame: unsupported host protocol"},
        {"07 01 C0 A8 01 0A 0E 57", "invalid frame: invalid HPAI length"},
        {"08 01 C0 A8 01 0A 0E", "buffer too short: needed 8 bytes, got 7"},
    };
    for (const auto& [input, outcome] : cases) {
        auto bytes = hex(input);
        auto got = Hpai::decode(bytes);
        std::string text;
        if (got) {
            const auto& h = got->value;
            text = std::to_string(h.protocol) + " " + std::to_string(h.address[0]) + "." +
                   std::to_string(h.address[1]) + "." + std::to_string(h.address[2]) + "." +
                   std::to_string(h.address[3]) + ":" + std::to_string(h.port) + " rest " +
                   to_hex(got->rest);
            Buffer again;
            ASSERT_TRUE(h.encode(again));
            EXPECT_EQ(to_hex(again), to_hex(Octets(bytes).first(8)));
        } else {
            text = got.error().display();
        }
        EXPECT_EQ(text, outcome) << input;
    }
}

TEST(TunnellingCrd, DecodesInCheckOrder) {
    const std::pair<const char*, const char*> cases[] = {
        {"04 04 11 05", "1.1.5"},
        {"04 04 11 FA 01", "1.1.250"},
        {"04 03 11 05", "invalid frame: connection response data is not a tunnelling CRD"},
        {"05 04 11 05", "invalid frame: invalid tunnelling CRD length"},
        {"04 04 11", "buffer too short: needed 4 bytes, got 3"},
    };
    for (const auto& [input, outcome] : cases) {
        auto bytes = hex(input);
        auto got = TunnellingCrd::decode(bytes);
        EXPECT_EQ(got ? got->value.individual_address.display() : got.error().display(), outcome)
            << input;
    }
}

TEST(ConnectionHeader, EncodesAndDecodesUnchecked) {
    Buffer buffer;
    ASSERT_TRUE((ConnectionHeader{0x15, 0x07, 0}.encode(buffer)));
    EXPECT_EQ(to_hex(buffer), "04 15 07 00");

    auto bytes = hex("04 15 07 29 AA");
    auto got = ConnectionHeader::decode(bytes);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->value, (ConnectionHeader{0x15, 0x07, 0x29}));
    EXPECT_EQ(to_hex(got->rest), "AA");

    auto wrong = hex("05 15 07 00");
    EXPECT_EQ(error_or(ConnectionHeader::decode(wrong), "ok"),
              "invalid frame: invalid connection header length");
    auto shorter = hex("04 15 07");
    EXPECT_EQ(error_or(ConnectionHeader::decode(shorter), "ok"),
              "buffer too short: needed 4 bytes, got 3");
}

const IndividualAddress kSource = IndividualAddress::from_raw(0x1105);
const GroupAddress kGroup = GroupAddress::from_raw(0x0A03);

std::string encoded(const std::expected<CemiFrame, KnxError>& frame) {
    if (!frame) return frame.error().display();
    Buffer buffer;
    auto ok = frame->encode(buffer);
    return ok ? to_hex(buffer) : ok.error().display();
}

TEST(CemiFrame, ConstructorsEncodeTheWireForm) {
    auto octets = [](std::size_t n) { return GroupPayload::octets(Buffer(n, 0x5A)); };
    auto prefix_of = [](const std::string& text, std::size_t n) {
        return text.substr(0, n * 3 - 1);
    };

    EXPECT_EQ(encoded(CemiFrame::group_value_write(kSource, kGroup, GroupPayload::optimized(1))),
              "11 00 BC E0 11 05 0A 03 01 00 81");
    EXPECT_EQ(encoded(CemiFrame::group_value_read(kSource, kGroup)),
              "11 00 BC E0 11 05 0A 03 01 00 00");
    EXPECT_EQ(encoded(CemiFrame::group_value_response(kSource, kGroup,
                                                      GroupPayload::octets({0x0C, 0x1A}))),
              "11 00 BC E0 11 05 0A 03 03 00 40 0C 1A");
    EXPECT_EQ(encoded(CemiFrame::group_value_write(kSource, kGroup, GroupPayload::optimized(63))),
              "11 00 BC E0 11 05 0A 03 01 00 BF");

    // Frame type follows the APDU length: 14 payload octets still fit a standard frame.
    EXPECT_EQ(prefix_of(encoded(CemiFrame::group_value_write(kSource, kGroup, octets(14))), 11),
              "11 00 BC E0 11 05 0A 03 0F 00 80");
    EXPECT_EQ(prefix_of(encoded(CemiFrame::group_value_write(kSource, kGroup, octets(15))), 11),
              "11 00 3C E0 11 05 0A 03 10 00 80");
    auto longest = encoded(CemiFrame::group_value_write(kSource, kGroup, octets(253)));
    EXPECT_EQ(prefix_of(longest, 11), "11 00 3C E0 11 05 0A 03 FE 00 80");
    EXPECT_EQ(longest.size(), (11u + 253u) * 3 - 1);

    const std::pair<std::expected<CemiFrame, KnxError>, const char*> refused[] = {
        {CemiFrame::group_value_write(kSource, kGroup, octets(254)),
         "invalid frame: group payload too long"},
        {CemiFrame::group_value_write(kSource, kGroup, GroupPayload::optimized(64)),
         "invalid frame: optimized group value exceeds 6 bits"},
        {CemiFrame::group_value_write(kSource, kGroup, octets(0)),
         "invalid frame: group write/response must carry payload"},
        {CemiFrame::group_value_response(kSource, kGroup, GroupPayload::absent()),
         "invalid frame: group write/response must carry payload"},
    };
    for (const auto& [frame, text] : refused) EXPECT_EQ(encoded(frame), text);
}

TEST(CemiFrame, EncodeRechecksTheTelegramAndLeavesBufferUntouched) {
    struct Case {
        GroupApci apci;
        GroupPayload payload;
        std::size_t info;
        const char* error;
    };
    const Case cases[] = {
        {GroupApci::Read, GroupPayload::optimized(0), 0,
         "invalid frame: group read cannot carry payload"},
        {GroupApci::Write, GroupPayload::absent(), 0,
         "invalid frame: group write/response must carry payload"},
        {GroupApci::Write, GroupPayload::optimized(64), 0,
         "invalid frame: optimized group value exceeds 6 bits"},
        {GroupApci::Write, GroupPayload::octets({}), 0,
         "invalid frame: group write/response must carry payload"},
        {GroupApci::Response, GroupPayload::octets(Buffer(254, 1)), 0,
         "invalid frame: group payload too long"},
        {GroupApci::Write, GroupPayload::optimized(1), 256,
         "invalid frame: additional info too long"},
    };
    for (const auto& c : cases) {
        CemiFrame frame;
        frame.telegram = GroupTelegram{kSource, kGroup, c.apci, c.payload};
        frame.additional_info.assign(c.info, 0);
        Buffer buffer{0x42};
        auto result = frame.encode(buffer);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().display(), c.error);
        EXPECT_EQ(to_hex(buffer), "42");
        auto created = GroupTelegram::create(kSource, kGroup, c.apci, c.payload);
        if (c.info == 0) {
            EXPECT_EQ(error_or(created, "ok"), c.error);
        }
    }
    // A stored control field 1 claiming a standard frame is corrected for a long APDU.
    auto frame = CemiFrame::group_value_write(kSource, kGroup, GroupPayload::octets(Buffer(15, 0)));
    ASSERT_TRUE(frame);
    frame->control1 = 0xBC;
    Buffer buffer;
    ASSERT_TRUE(frame->encode(buffer));
    EXPECT_EQ(buffer[2], 0x3C);
}

TEST(CemiFrame, DecodesStrictlyInCheckOrder) {
    struct Case {
        const char* input;
        const char* outcome;  // "code apci payload / rest" or the error's display
    };
    const Case cases[] = {
        {"29 00 BC E0 11 05 0A 03 01 00 81", "29 write opt 1 / "},
        {"29 00 BC E0 11 05 0A 03 01 00 81 AA BB", "29 write opt 1 / AA BB"},
        {"2E 00 BD E0 11 05 0A 03 03 00 40 0C 1A", "2E response octets 0C 1A / "},
        {"11 00 BC E0 11 05 0A 03 01 00 3F", "11 read absent / "},
        {"29 00 BC E0 11 05 0A 03 01 00 7F", "29 response opt 63 / "},
        {"29", "buffer too short: needed 2 bytes, got 1"},
        {"2B 00 BC E0 11 05 0A 03 01 00 81", "invalid frame: unsupported cEMI message code"},
        {"2B", "buffer too short: needed 2 bytes, got 1"},
        {"29 00 BC E0 11 05 0A 03", "buffer too short: needed 9 bytes, got 8"},
        {"29 02 AA BB BC E0 11 05 0A 03", "buffer too short: needed 11 bytes, got 10"},
        {"29 00 BC E0 11 05 0A 03 03 00 40 0C", "buffer too short: needed 13 bytes, got 12"},
        {"29 00 BC E0 11 05 0A 03 00 00 81 00", "buffer too short: needed 2 bytes, got 1"},
        {"29 00 BC E0 11 05 0A 03 01 01 81", "invalid frame: unsupported TPCI field"},
        {"29 00 BC E0 11 05 0A 03 01 00 C0", "invalid frame: unsupported APCI service"},
        {"29 00 BC E0 11 05 0A 03 02 00 00 01", "invalid frame: group read cannot carry payload"},
        {"29 00 BC E0 11 05 0A 03 02 00 81 01",
         "invalid frame: extended APDU has inline data bits"},
        {"29 00 BC E0 11 05 0A 03 02 00 01 01",
         "invalid frame: extended APDU has inline data bits"},
    };
    for (const auto& c : cases) {
        auto bytes = hex(c.input);
        auto got = CemiFrame::decode(bytes);
        std::string text;
        if (got) {
            const auto& f = got->value;
            char code[4];
            std::snprintf(code, sizeof code, "%02X", f.message_code);
            static const char* names[] = {"read", "response", "write"};
            text = std::string(code) + " " + names[static_cast<int>(f.telegram.apci)];
            switch (f.telegram.payload.kind()) {
                case GroupPayload::Kind::Absent:
                    text += " absent";
                    break;
                case GroupPayload::Kind::Optimized:
                    text += " opt " + std::to_string(f.telegram.payload.optimized_value());
                    break;
                case GroupPayload::Kind::Octets:
                    text += " octets " + to_hex(f.telegram.payload.octets());
                    break;
            }
            text += " / " + to_hex(got->rest);
            EXPECT_EQ(f.telegram.source.raw(), 0x1105);
            EXPECT_EQ(f.telegram.destination.raw(), 0x0A03);
        } else {
            text = got.error().display();
        }
        EXPECT_EQ(text, c.outcome) << c.input;
    }
}

TEST(CemiFrame, DecodeLimitsAndVerbatimFields) {
    // L = 255 would be 254 payload octets: one more than a telegram may carry.
    Buffer too_long = hex("29 00 BC E0 11 05 0A 03 FF 00 80");
    too_long.resize(too_long.size() + 254, 0);
    auto refused = CemiFrame::decode(too_long);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().display(), "invalid frame: group payload too long");

    Buffer longest = hex("29 00 3C E0 11 05 0A 03 FE 00 80");
    longest.resize(longest.size() + 253, 7);
    auto accepted = CemiFrame::decode(longest);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->value.telegram.payload.octets().size(), 253u);

    // Additional information and control fields are kept as received (an individual
    // destination marking included) and encode back unchanged.
    auto bytes = hex("29 03 01 02 03 B0 60 11 05 0A 03 02 00 80 2A");
    auto got = CemiFrame::decode(bytes);
    ASSERT_TRUE(got);
    EXPECT_EQ(to_hex(got->value.additional_info), "01 02 03");
    EXPECT_EQ(got->value.control1, 0xB0);
    EXPECT_EQ(got->value.control2, 0x60);
    Buffer again;
    ASSERT_TRUE(got->value.encode(again));
    EXPECT_EQ(to_hex(again), to_hex(bytes));
}

}  // namespace
}  // namespace tavrel::core
