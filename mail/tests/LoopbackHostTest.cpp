#include "mail/LoopbackHost.h"

#include <gtest/gtest.h>

namespace tandrel::mail {
namespace {

struct HostCase {
    const char* name;
    const char* host;
    bool loopback;
};

class LoopbackHostTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(LoopbackHostTest, OnlyTrafficThatNeverLeavesTheMachine) {
    EXPECT_EQ(IsLoopbackHost(GetParam().host), GetParam().loopback) << GetParam().host;
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, LoopbackHostTest,
    ::testing::Values(
        HostCase{"localhost", "localhost", true}, HostCase{"localhost_any_case", "LocalHost", true},
        HostCase{"localhost_rooted", "localhost.", true}, HostCase{"ipv4_loopback", "127.0.0.1", true},
        HostCase{"ipv4_loopback_net", "127.1.2.3", true}, HostCase{"ipv6_loopback", "::1", true},
        HostCase{"ipv6_loopback_long", "0:0:0:0:0:0:0:1", true},
        HostCase{"ipv4_mapped_loopback", "::ffff:7f00:1", true},
        HostCase{"provider", "smtp.provedor.example", false},
        HostCase{"name_ending_in_localhost", "evil-localhost", false},
        HostCase{"subdomain_of_localhost", "localhost.example.com", false},
        HostCase{"ipv4_elsewhere", "128.0.0.1", false}, HostCase{"ipv4_private", "10.0.0.1", false},
        HostCase{"ipv6_elsewhere", "::2", false}, HostCase{"ipv6_unspecified", "::", false},
        HostCase{"ipv4_mapped_elsewhere", "::ffff:a00:1", false}, HostCase{"empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::mail
