#include "net/AddressText.h"

#include <gtest/gtest.h>

namespace tandrel::net {
namespace {

struct TTextCase {
    const char* Name;
    const char* Value;
    bool Accepted;
};

std::string CaseName(const ::testing::TestParamInfo<TTextCase>& Info) {
    return std::string(Info.param.Accepted ? "Accepts_" : "Rejects_") + Info.param.Name;
}

class IsIPTest : public ::testing::TestWithParam<TTextCase> {};

TEST_P(IsIPTest, ChecksDottedQuads) { EXPECT_EQ(IsIP(GetParam().Value), GetParam().Accepted); }

INSTANTIATE_TEST_SUITE_P(
    Table, IsIPTest,
    ::testing::Values(TTextCase{"Plain", "1.2.3.4", true}, TTextCase{"LeadingZeros", "001.2.3.4", true},
                      TTextCase{"Limits", "0.0.0.255", true}, TTextCase{"Broadcast", "255.255.255.255", true},
                      TTextCase{"SpacesAroundParts", " 10 . 0.0.1 ", true},
                      TTextCase{"ThreeParts", "1.2.3", false}, TTextCase{"Over255", "256.1.1.1", false},
                      TTextCase{"FiveParts", "1.2.3.4.5", false}, TTextCase{"Negative", "1.2.3.-4", false},
                      TTextCase{"Plus", "+1.2.3.4", false}, TTextCase{"EmptyPart", "1..3.4", false},
                      TTextCase{"Empty", "", false}, TTextCase{"HostName", "mail.example.com", false},
                      TTextCase{"TrailingDot", "1.2.3.4.", false}, TTextCase{"Hex", "0x1.2.3.4", false},
                      TTextCase{"HugeNumber", "99999999999999999999.1.1.1", false},
                      TTextCase{"IPv6", "::1", false}),
    CaseName);

class IsIP6Test : public ::testing::TestWithParam<TTextCase> {};

TEST_P(IsIP6Test, ChecksIPv6Texts) { EXPECT_EQ(IsIP6(GetParam().Value), GetParam().Accepted); }

INSTANTIATE_TEST_SUITE_P(
    Table, IsIP6Test,
    ::testing::Values(TTextCase{"AllZero", "::", true}, TTextCase{"Loopback", "::1", true},
                      TTextCase{"Zone", "fe80::1%4", true}, TTextCase{"Full", "2001:db8:0:0:0:0:0:1", true},
                      TTextCase{"Compressed", "2001:db8::1", true}, TTextCase{"TrailingRun", "fe80::", true},
                      TTextCase{"UpperCase", "FFFF::ABCD", true}, TTextCase{"TwoRuns", "1::2::3", false},
                      TTextCase{"IPv4Tail", "::ffff:1.2.3.4", false},
                      TTextCase{"GroupTooBig", "12345::", false}, TTextCase{"SingleGroup", "abcd", false},
                      TTextCase{"NineGroups", "1:2:3:4:5:6:7:8:9", false},
                      TTextCase{"NotHex", "2001:db8::g", false},
                      TTextCase{"ZoneNotHex", "fe80::1%eth0", false},
                      TTextCase{"ZoneNotLast", "fe80%1::1", false}, TTextCase{"TripleColon", ":::", false},
                      TTextCase{"Empty", "", false}, TTextCase{"IPv4", "1.2.3.4", false}),
    CaseName);

TEST(AddressText, IPToIDGivesNetworkOrderBytes) {
    EXPECT_EQ(IPToID("192.168.1.2"), std::string("\xC0\xA8\x01\x02", 4));
    EXPECT_EQ(IPToID("0.0.0.1"), std::string("\0\0\0\1", 4));
}

struct TIp6Case {
    const char* Name;
    const char* Text;
    const char* Expanded;
    const char* Canonical;
};

class Ip6ConversionTest : public ::testing::TestWithParam<TIp6Case> {};

TEST_P(Ip6ConversionTest, ExpandsAndRoundTrips) {
    const TIp6Case& row = GetParam();
    EXPECT_EQ(ExpandIP6(row.Text), row.Expanded);
    EXPECT_EQ(Ip6ToStr(StrToIp6(row.Text)), row.Canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ip6ConversionTest,
    ::testing::Values(TIp6Case{"Loopback", "::1", "0:0:0:0:0:0:0:1", "::1"},
                      TIp6Case{"AllZero", "::", "0:0:0:0:0:0:0:0", "::"},
                      TIp6Case{"Documentation", "2001:DB8::1", "2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
                      TIp6Case{"TrailingRun", "fe80::", "fe80:0:0:0:0:0:0:0", "fe80::"},
                      TIp6Case{"LongestRunWins", "1:0:0:2:0:0:0:3", "1:0:0:2:0:0:0:3", "1:0:0:2::3"},
                      TIp6Case{"SingleZeroStays", "1:2:3:4:5:6:0:8", "1:2:3:4:5:6:0:8", "1:2:3:4:5:6:0:8"},
                      TIp6Case{"LeadingZerosDropped", "0001:00ab::", "0001:00ab:0:0:0:0:0:0", "1:ab::"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(AddressText, StrToIp6GivesTheBytes) {
    const auto bytes = StrToIp6("2001:db8::ff%3");
    const std::array<std::uint8_t, 16> expected{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                                0,    0,    0,    0,    0, 0, 0, 0xff};
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(StrToIp6("not an address"), (std::array<std::uint8_t, 16>{}));
}

}  // namespace
}  // namespace tandrel::net
