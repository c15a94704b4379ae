#include "net/NetClient.h"

#include <gtest/gtest.h>

namespace tandrel::net {
namespace {

TEST(NetClient, StartValues) {
  const TNetClient Client;
  EXPECT_EQ(Client.TargetHost(), "127.0.0.1");
  EXPECT_EQ(Client.TargetPort(), "0");
  EXPECT_EQ(Client.IPInterface(), "0.0.0.0");
  EXPECT_EQ(Client.Timeout(), 5000);
  EXPECT_EQ(Client.UserName(), "");
  EXPECT_EQ(Client.Password(), "");
}

TEST(NetClient, KeepsWhatIsSet) {
  TNetClient Client;
  Client.SetTargetHost("smtp.example.com");
  Client.SetTargetPort("587");
  Client.SetIPInterface("192.0.2.1");
  Client.SetTimeout(0);
  Client.SetUserName("user");
  Client.SetPassword("secret");
  EXPECT_EQ(Client.TargetHost(), "smtp.example.com");
  EXPECT_EQ(Client.TargetPort(), "587");
  EXPECT_EQ(Client.IPInterface(), "192.0.2.1");
  EXPECT_EQ(Client.Timeout(), 0);
  EXPECT_EQ(Client.UserName(), "user");
  EXPECT_EQ(Client.Password(), "secret");
}

}  // namespace
}  // namespace tandrel::net
