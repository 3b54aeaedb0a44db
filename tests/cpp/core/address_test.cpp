#include "core/address.hpp"

#include <gtest/gtest.h>

namespace tavrel::core {
namespace {

struct Case {
    const char* text;
    const char* outcome;  // canonical text, or the error's display text
};

TEST(GroupAddress, ParsesAndRefusesInCheckOrder) {
    const Case cases[] = {
        {"1/2/3", "1/2/3"},
        {"+1/+2/+3", "1/2/3"},
        {"01/002/0003", "1/2/3"},
        {"0/0/0", "0/0/0"},
        {"31/7/255", "31/7/255"},
        {"", "invalid address: invalid numeric address part"},
        {"12", "invalid address: missing group middle"},
        {"1234", "invalid address: invalid numeric address part"},
        {"1/2", "invalid address: missing group sub"},
        {"1/2/", "invalid address: invalid numeric address part"},
        {"1/2/3/", "invalid address: too many group parts"},
        {"99/2/3/4", "invalid address: too many group parts"},
        {"32/0/0", "invalid address: group main out of range"},
        {"31/8/0", "invalid address: group middle out of range"},
        {"32/8/0", "invalid address: group main out of range"},
        {"0/0/256", "invalid address: invalid numeric address part"},
        {" 1/2/3", "invalid address: invalid numeric address part"},
        {"-0/0/0", "invalid address: invalid numeric address part"},
        {"+/0/0", "invalid address: invalid numeric address part"},
        {"1.2.3", "invalid address: invalid numeric address part"},
    };
    for (const auto& c : cases) {
        auto parsed = GroupAddress::parse(c.text);
        std::string got = parsed ? parsed->display() : parsed.error().display();
        EXPECT_EQ(got, c.outcome) << "input: '" << c.text << "'";
    }
}

TEST(IndividualAddress, ParsesAndRefusesInCheckOrder) {
    const Case cases[] = {
        {"1.1.5", "1.1.5"},
        {"0.0.0", "0.0.0"},
        {"15.15.255", "15.15.255"},
        {"", "invalid address: invalid numeric address part"},
        {"1", "invalid address: missing individual line"},
        {"1.1", "invalid address: missing individual device"},
        {"1.1.1.1", "invalid address: too many individual parts"},
        {"16.0.0", "invalid address: individual area out of range"},
        {"15.16.0", "invalid address: individual line out of range"},
        {"1.1.x", "invalid address: invalid numeric address part"},
    };
    for (const auto& c : cases) {
        auto parsed = IndividualAddress::parse(c.text);
        std::string got = parsed ? parsed->display() : parsed.error().display();
        EXPECT_EQ(got, c.outcome) << "input: '" << c.text << "'";
    }
}

TEST(Addresses, RawValues) {
    EXPECT_EQ(GroupAddress::parse("1/2/3")->raw(), 2563);
    EXPECT_EQ(IndividualAddress::parse("1.1.5")->raw(), 4357);
    EXPECT_EQ(GroupAddress::from_raw(65535).display(), "31/7/255");
    EXPECT_EQ(IndividualAddress::from_raw(65535).display(), "15.15.255");
}

TEST(Addresses, EveryRawValueRoundTripsThroughText) {
    for (unsigned raw = 0; raw <= 0xFFFF; ++raw) {
        auto value = static_cast<std::uint16_t>(raw);
        ASSERT_EQ(GroupAddress::parse(GroupAddress::from_raw(value).display())->raw(), value);
        ASSERT_EQ(IndividualAddress::parse(IndividualAddress::from_raw(value).display())->raw(),
                  value);
    }
}

TEST(KnxError, DisplayTexts) {
    EXPECT_EQ(KnxError::buffer_too_short(6, 2).display(),
              "buffer too short: needed 6 bytes, got 2");
    EXPECT_EQ(KnxError::invalid_frame("bad length").display(), "invalid frame: bad length");
    EXPECT_EQ(KnxError::unsupported_service_type(0x20b).display(),
              "unsupported service type: 0x020b");
}

}  // namespace
}  // namespace tavrel::core
