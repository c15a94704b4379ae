#include "net/SocketInterface.h"
#include "net/tests/LoopbackServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace tandrel::net {
namespace {

struct TSinCase {
    const char* Name;
    const char* IP;
    const char* Port;
    int Family;
    bool PreferIP4;
    int Error;
    const char* ResultIP;
    int ResultPort;
};

class SetVarSinTest : public ::testing::TestWithParam<TSinCase> {};

TEST_P(SetVarSinTest, ResolvesToOneAddress) {
    const TSinCase& row = GetParam();
    if (std::string(row.ResultIP).find(':') != std::string::npos && !test::HasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 on this machine";
    TVarSin sin;
    EXPECT_EQ(SetVarSin(sin, row.IP, row.Port, row.Family, IPPROTO_TCP, SOCK_STREAM, row.PreferIP4),
              row.Error);
    EXPECT_EQ(GetSinIP(sin), row.ResultIP);
    EXPECT_EQ(GetSinPort(sin), row.ResultPort);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetVarSinTest,
    ::testing::Values(
        TSinCase{"AnyAddress", "0.0.0.0", "25", AF_UNSPEC, true, 0, "0.0.0.0", 25},
        TSinCase{"IPv4Loopback", "127.0.0.1", "587", AF_UNSPEC, true, 0, "127.0.0.1", 587},
        TSinCase{"IPv6Loopback", "::1", "25", AF_INET6, true, 0, "::1", 25},
        TSinCase{"IPv6LiteralFallsToSecondPass", "2001:db8::1", "25", AF_UNSPEC, true, 0, "2001:db8::1", 25},
        TSinCase{"IPv6AnyAddress", "::0", "0", AF_INET6, true, 0, "::", 0},
        TSinCase{"Literal", "192.0.2.7", "465", AF_UNSPEC, true, 0, "192.0.2.7", 465},
        TSinCase{"ServiceName", "127.0.0.1", "smtp", AF_INET, true, 0, "127.0.0.1", 25},
        TSinCase{"LocalhostPrefersIPv4", "localhost", "25", AF_UNSPEC, true, 0, "127.0.0.1", 25},
        TSinCase{"IPv4LiteralAsIPv6Fails", "192.0.2.7", "25", AF_INET6, true, 11004, "", 0},
        TSinCase{"UnknownHost", "no-such-host.invalid", "25", AF_UNSPEC, true, 11001, "", 0},
        TSinCase{"UnknownService", "127.0.0.1", "no-such-service", AF_INET, true, 10109, "", 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(SocketInterface, SizeOfVarSinFollowsTheFamily) {
    TVarSin sin;
    EXPECT_EQ(SizeOfVarSin(sin), 0u);
    sin.sin.sin_family = AF_INET;
    EXPECT_EQ(SizeOfVarSin(sin), sizeof(sockaddr_in));
    sin.sin6.sin6_family = AF_INET6;
    EXPECT_EQ(SizeOfVarSin(sin), sizeof(sockaddr_in6));
    EXPECT_EQ(GetSinIP(TVarSin()), "");
}

TEST(SocketInterface, ResolvePortTakesNumbersAndServices) {
    EXPECT_EQ(ResolvePort("smtp", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 25);
    EXPECT_EQ(ResolvePort("8025", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 8025);
    EXPECT_EQ(ResolvePort("no-such-service", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 0);
}

TEST(SocketInterface, ResolveNameToIPListsFilteredAddresses) {
    std::vector<std::string> list{"stale"};
    ResolveNameToIP("127.0.0.1", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM, list);
    EXPECT_EQ(list, std::vector<std::string>{"127.0.0.1"});
    ResolveNameToIP("127.0.0.1", AF_INET6, IPPROTO_TCP, SOCK_STREAM, list);
    EXPECT_EQ(list, std::vector<std::string>{"0.0.0.0"});
    ResolveNameToIP("no-such-host.invalid", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM, list);
    EXPECT_EQ(list, std::vector<std::string>{"0.0.0.0"});
}

TEST(SocketInterface, ResolveIPToNameKeepsAnAddressWithoutName) {
    // TEST-NET-1 has no reverse name.
    EXPECT_EQ(ResolveIPToName("192.0.2.1", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), "192.0.2.1");
    EXPECT_EQ(ResolveIPToName("127.0.0.1", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), "localhost");
}

TEST(SocketInterface, BindingCountsItsUsers) {
    const int before = SockCount;
    ASSERT_TRUE(InitSocketInterface("ignored"));
    EXPECT_EQ(SockCount, before + 1);
    EXPECT_TRUE(SockEnhancedApi);
    EXPECT_TRUE(IsNewApi(AF_INET));
    EXPECT_TRUE(DestroySocketInterface());
    EXPECT_EQ(SockCount, before);
}

TEST(SocketInterface, HostNameIsNotEmpty) { EXPECT_FALSE(GetHostName().empty()); }

// Names the hosts file answers: no domain among them, so no name is given.
TEST(SocketInterface, FullyQualifiedNameIsNeverABareNameOrAnAddress) {
    EXPECT_EQ(FullyQualifiedName("localhost"), "");
    EXPECT_EQ(FullyQualifiedName("127.0.0.1"), "");
    EXPECT_EQ(FullyQualifiedName(""), "");
    const std::string own = FullyQualifiedName(GetHostName());
    if (!own.empty()) {
        EXPECT_NE(own.find('.'), std::string::npos) << own;
    }
}

}  // namespace
}  // namespace tandrel::net
