#include "net/UDPBlockSocket.h"
#include "net/tests/LoopbackServer.h"

#include <gtest/gtest.h>

namespace tandrel::net {
namespace {

struct TDatagramCase {
    const char* Name;
    const char* Loopback;
};

class DatagramTest : public ::testing::TestWithParam<TDatagramCase> {};

TEST_P(DatagramTest, SendToAndReceiveFromTheSender) {
    const std::string loopback = GetParam().Loopback;
    if (loopback == "::1" && !test::HasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
    TUDPBlockSocket receiver;
    receiver.Bind(loopback, "0");
    ASSERT_EQ(receiver.LastError(), 0) << receiver.LastErrorDesc();
    TUDPBlockSocket sender;
    sender.Bind(loopback, "0");
    sender.SetRemoteSin(loopback, std::to_string(receiver.GetLocalSinPort()));
    const std::string datagram("one\0datagram", 12);
    EXPECT_EQ(sender.SendBufferTo(datagram.data(), static_cast<int>(datagram.size())), 12);
    EXPECT_EQ(sender.SendCounter(), 12);
    ASSERT_TRUE(receiver.CanRead(5000));
    char buffer[64];
    const int count = receiver.RecvBufferFrom(buffer, sizeof buffer);
    ASSERT_EQ(count, 12);
    EXPECT_EQ(std::string(buffer, 12), datagram);
    EXPECT_EQ(receiver.GetRemoteSinIP(), loopback);
    EXPECT_EQ(receiver.GetRemoteSinPort(), sender.GetLocalSinPort());
}

INSTANTIATE_TEST_SUITE_P(Families, DatagramTest,
                         ::testing::Values(TDatagramCase{"IPv4", "127.0.0.1"}, TDatagramCase{"IPv6", "::1"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(UDPBlockSocket, StopFlagAbortsADatagramSend) {
    TUDPBlockSocket sender;
    sender.SetRemoteSin("127.0.0.1", "9");
    sender.SetStopFlag(true);
    EXPECT_EQ(sender.SendBufferTo("x", 1), 0);
    EXPECT_EQ(sender.LastError(), 10053);
}

}  // namespace
}  // namespace tandrel::net
