#include "net/UDPBlockSocket.h"

#include <gtest/gtest.h>

#include "net/tests/LoopbackServer.h"

namespace tandrel::net {
namespace {

struct TDatagramCase {
  const char* Name;
  const char* Loopback;
};

class DatagramTest : public ::testing::TestWithParam<TDatagramCase> {};

TEST_P(DatagramTest, SendToAndReceiveFromTheSender) {
  const std::string Loopback = GetParam().Loopback;
  if (Loopback == "::1" && !test::HasIPv6Loopback())
    GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
  TUDPBlockSocket Receiver;
  Receiver.Bind(Loopback, "0");
  ASSERT_EQ(Receiver.LastError(), 0) << Receiver.LastErrorDesc();
  TUDPBlockSocket Sender;
  Sender.Bind(Loopback, "0");
  Sender.SetRemoteSin(Loopback, std::to_string(Receiver.GetLocalSinPort()));
  const std::string Datagram("one\0datagram", 12);
  EXPECT_EQ(Sender.SendBufferTo(Datagram.data(), static_cast<int>(Datagram.size())), 12);
  EXPECT_EQ(Sender.SendCounter(), 12);
  ASSERT_TRUE(Receiver.CanRead(5000));
  char Buffer[64];
  const int Count = Receiver.RecvBufferFrom(Buffer, sizeof Buffer);
  ASSERT_EQ(Count, 12);
  EXPECT_EQ(std::string(Buffer, 12), Datagram);
  EXPECT_EQ(Receiver.GetRemoteSinIP(), Loopback);
  EXPECT_EQ(Receiver.GetRemoteSinPort(), Sender.GetLocalSinPort());
}

INSTANTIATE_TEST_SUITE_P(Families, DatagramTest,
                         ::testing::Values(TDatagramCase{"IPv4", "127.0.0.1"}, TDatagramCase{"IPv6", "::1"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(UDPBlockSocket, StopFlagAbortsADatagramSend) {
  TUDPBlockSocket Sender;
  Sender.SetRemoteSin("127.0.0.1", "9");
  Sender.SetStopFlag(true);
  EXPECT_EQ(Sender.SendBufferTo("x", 1), 0);
  EXPECT_EQ(Sender.LastError(), 10053);
}

}  // namespace
}  // namespace tandrel::net
