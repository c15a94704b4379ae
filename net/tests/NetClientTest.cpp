#include "net/NetClient.h"

#include <gtest/gtest.h>

namespace tandrel::net {
namespace {

TEST(NetClient, StartValues) {
    const TNetClient client;
    EXPECT_EQ(client.TargetHost(), "127.0.0.1");
    EXPECT_EQ(client.TargetPort(), "0");
    EXPECT_EQ(client.IPInterface(), "0.0.0.0");
    EXPECT_EQ(client.Timeout(), 5000);
    EXPECT_EQ(client.UserName(), "");
    EXPECT_EQ(client.Password(), "");
}

TEST(NetClient, KeepsWhatIsSet) {
    TNetClient client;
    client.SetTargetHost("smtp.example.com");
    client.SetTargetPort("587");
    client.SetIPInterface("192.0.2.1");
    client.SetTimeout(0);
    client.SetUserName("user");
    client.SetPassword("secret");
    EXPECT_EQ(client.TargetHost(), "smtp.example.com");
    EXPECT_EQ(client.TargetPort(), "587");
    EXPECT_EQ(client.IPInterface(), "192.0.2.1");
    EXPECT_EQ(client.Timeout(), 0);
    EXPECT_EQ(client.UserName(), "user");
    EXPECT_EQ(client.Password(), "secret");
}

}  // namespace
}  // namespace tandrel::net
