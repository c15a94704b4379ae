#include "net/SocksBlockSocket.h"
#include "net/TCPBlockSocket.h"
#include "net/tests/LoopbackServer.h"
#include "net/tests/ProxyProcess.h"

#include <gtest/gtest.h>

#include <memory>

namespace tandrel::net {
namespace {

using test::Expect;
using test::Send;
using test::TScriptedServer;

constexpr int ReadTimeout = 5000;
constexpr const char* SocksPassword = "Pw-4-socks";

/// danted on a loopback port, asking for a user name and password or not.
test::TProxyServer Dante(bool WithLogin) {
    return test::TProxyServer(
        {"/usr/sbin/danted", "/usr/bin/danted"}, "danted",
        [WithLogin](int Port, const test::TTempDir& Dir) {
            return "logoutput: " + (Dir.Path() / "danted.log").string() + "\n" +
                   "internal: 127.0.0.1 port = " + std::to_string(Port) + "\n" +
                   "external: 127.0.0.1\nclientmethod: none\n" +
                   (WithLogin ? "socksmethod: username\n" : "socksmethod: none\n") +
                   "user.privileged: root\nuser.unprivileged: nobody\n"
                   "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                   "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect bind bindreply }\n";
        },
        [](const std::string& Program, const std::string& File) {
            return std::vector<std::string>{Program, "-f", File, "-N", "1"};
        });
}

/// A system account for the proxy's password check, removed afterwards. Each
/// test uses its own name: tests may run in parallel processes.
class TSystemUser {
public:
    explicit TSystemUser(std::string Name) : FName(std::move(Name)) {
        if (::getuid() != 0 || test::FindProgram({"/usr/sbin/useradd"}).empty()) return;
        test::RunQuietly("/usr/sbin/userdel " + FName);
        FMade = test::RunQuietly("/usr/sbin/useradd -M -s /usr/sbin/nologin " + FName) &&
                test::RunQuietly("echo '" + FName + ":" + SocksPassword + "' | /usr/sbin/chpasswd");
    }
    ~TSystemUser() {
        if (FMade) test::RunQuietly("/usr/sbin/userdel " + FName);
    }
    TSystemUser(const TSystemUser&) = delete;
    TSystemUser& operator=(const TSystemUser&) = delete;
    [[nodiscard]] bool Made() const { return FMade; }
    [[nodiscard]] const std::string& Name() const { return FName; }

private:
    std::string FName;
    bool FMade = false;
};

struct TSocksCase {
    const char* Name;
    TSocksType Type;
    bool WithLogin;
    const char* Account;  // system account made for the login cases
    const char* Password;
    const char* Target;  // host text the proxy is asked to reach
    bool SocksResolver;
    int Error;
};

class SocksProxyTest : public ::testing::TestWithParam<TSocksCase> {};

TEST_P(SocksProxyTest, ReachesTheTargetThroughDante) {
    const TSocksCase& row = GetParam();
    std::unique_ptr<TSystemUser> user;
    if (row.WithLogin) {
        user = std::make_unique<TSystemUser>(row.Account);
        if (!user->Made())
            GTEST_SKIP() << "cannot make a system account for the proxy's password check (needs root)";
    }
    const test::TProxyServer proxy = Dante(row.WithLogin);
    if (!proxy.Up()) GTEST_SKIP() << "danted (package dante-server) is missing or did not start";
    TScriptedServer target({Send("220 via proxy\r\n"), Expect("QUIT\r\n")});
    TTCPBlockSocket socket;
    socket.SetSocksIP("127.0.0.1");
    socket.SetSocksPort(proxy.Port());
    socket.SetSocksType(row.Type);
    socket.SetSocksResolver(row.SocksResolver);
    if (row.WithLogin) {
        socket.SetSocksUsername(user->Name());
        socket.SetSocksPassword(row.Password);
    }
    socket.Connect(row.Target, target.Port());
    ASSERT_EQ(socket.LastError(), row.Error) << socket.LastErrorDesc();
    if (row.Error != 0) {
        EXPECT_EQ(socket.LastErrorDesc(), "Network subsystem is unusable");
        EXPECT_FALSE(socket.UsingSocks());
        socket.CloseSocket();
        // Let the scripted server give up on its own connection.
        TTCPBlockSocket unblock;
        unblock.Connect("127.0.0.1", target.Port());
        static_cast<void>(unblock.SendString("QUIT\r\n"));
        return;
    }
    EXPECT_TRUE(socket.UsingSocks());
    EXPECT_EQ(socket.SocksLastError(), 0);
    EXPECT_EQ(socket.GetRemoteSinIP(), row.Target);
    EXPECT_EQ(std::to_string(socket.GetRemoteSinPort()), target.Port());
    EXPECT_EQ(socket.RecvString(ReadTimeout), "220 via proxy");
    EXPECT_EQ(socket.SendString("QUIT\r\n"), 6);
    socket.CloseSocket();
    target.Join();
    EXPECT_EQ(target.Received(), "QUIT\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Dante, SocksProxyTest,
    ::testing::Values(
        TSocksCase{"Socks5", TSocksType::ST_Socks5, false, "", "", "127.0.0.1", true, 0},
        TSocksCase{"Socks5ProxyResolvesName", TSocksType::ST_Socks5, false, "", "", "localhost", true, 0},
        TSocksCase{"Socks5WeResolveName", TSocksType::ST_Socks5, false, "", "", "localhost", false, 0},
        TSocksCase{"Socks4", TSocksType::ST_Socks4, false, "", "", "127.0.0.1", true, 0},
        TSocksCase{"Socks5WithLogin", TSocksType::ST_Socks5, true, "tandrelsocks1", SocksPassword,
                   "127.0.0.1", true, 0},
        TSocksCase{"Socks5WrongPassword", TSocksType::ST_Socks5, true, "tandrelsocks2", "wrong", "127.0.0.1",
                   true, 10091}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(SocksBlockSocket, RefusedTargetGives10091) {
    const test::TProxyServer proxy = Dante(false);
    if (!proxy.Up()) GTEST_SKIP() << "danted (package dante-server) is missing or did not start";
    const std::string closed = test::ClosedPort();
    TTCPBlockSocket socket;
    socket.SetSocksIP("127.0.0.1");
    socket.SetSocksPort(proxy.Port());
    socket.Connect("127.0.0.1", closed);
    EXPECT_EQ(socket.LastError(), 10091);
    EXPECT_NE(socket.SocksLastError(), 0);
}

TEST(SocksBlockSocket, ListenAndAcceptThroughTheProxy) {
    const test::TProxyServer proxy = Dante(false);
    if (!proxy.Up()) GTEST_SKIP() << "danted (package dante-server) is missing or did not start";
    TTCPBlockSocket listener;
    listener.SetSocksIP("127.0.0.1");
    listener.SetSocksPort(proxy.Port());
    listener.Listen();
    ASSERT_EQ(listener.LastError(), 0) << listener.LastErrorDesc();
    ASSERT_TRUE(listener.UsingSocks());
    // The proxy listens for us at the address of its first reply.
    TTCPBlockSocket caller;
    caller.Connect(listener.GetLocalSinIP(), std::to_string(listener.GetLocalSinPort()));
    ASSERT_EQ(caller.LastError(), 0) << caller.LastErrorDesc();
    EXPECT_EQ(listener.Accept(), listener.Socket());
    ASSERT_EQ(listener.LastError(), 0) << listener.LastErrorDesc();
    EXPECT_EQ(listener.GetRemoteSinIP(), "127.0.0.1");
    EXPECT_EQ(listener.GetRemoteSinPort(), caller.GetLocalSinPort());
    static_cast<void>(caller.SendString("over the bind\r\n"));
    EXPECT_EQ(listener.RecvString(ReadTimeout), "over the bind");
}

TEST(SocksBlockSocket, UnreachableProxyGivesTheConnectError) {
    TTCPBlockSocket socket;
    socket.SetSocksIP("127.0.0.1");
    socket.SetSocksPort(test::ClosedPort());
    socket.Connect("127.0.0.1", "25");
    EXPECT_EQ(socket.LastError(), 10061);
}

struct TLocalResolutionCase {
    const char* Name;
    TSocksType Type;
    std::vector<test::TStep> Proxy;  // up to the grant for "localhost", port 25
    std::string Request;             // every byte the proxy receives until then
};

class SocksLocalResolutionTest : public ::testing::TestWithParam<TLocalResolutionCase> {};

// Resolved here, "localhost" goes to the proxy as its IPv4 address.
TEST_P(SocksLocalResolutionTest, AsksTheProxyForTheAddress) {
    const TLocalResolutionCase& row = GetParam();
    std::vector<test::TStep> script = row.Proxy;
    script.push_back(Expect("QUIT\r\n"));
    TScriptedServer proxy(script);
    TTCPBlockSocket socket;
    socket.SetSocksIP("127.0.0.1");
    socket.SetSocksPort(proxy.Port());
    socket.SetSocksType(row.Type);
    socket.SetSocksResolver(false);
    socket.Connect("localhost", "25");
    ASSERT_EQ(socket.LastError(), 0) << socket.LastErrorDesc();
    EXPECT_TRUE(socket.UsingSocks());
    static_cast<void>(socket.SendString("QUIT\r\n"));
    socket.CloseSocket();
    proxy.Join();
    EXPECT_EQ(proxy.Received(), row.Request + "QUIT\r\n");
}

// A name that does not resolve ends the connect with the resolver's error before
// the proxy hears a thing.
TEST_P(SocksLocalResolutionTest, UnknownNameReachesNoProxy) {
    test::TListener proxy;
    TTCPBlockSocket socket;
    socket.SetSocksIP("127.0.0.1");
    socket.SetSocksPort(proxy.Port());
    socket.SetSocksType(GetParam().Type);
    socket.SetSocksResolver(false);
    socket.Connect("no-such-host.invalid", "25");
    EXPECT_EQ(socket.LastError(), 11001);
    EXPECT_EQ(socket.LastErrorDesc(), "Host not found");
    EXPECT_FALSE(socket.UsingSocks());
    EXPECT_EQ(proxy.AcceptOne(0), -1) << "the proxy was called";
}

INSTANTIATE_TEST_SUITE_P(Types, SocksLocalResolutionTest,
                         ::testing::Values(
                             TLocalResolutionCase{
                                 "Socks5",
                                 TSocksType::ST_Socks5,
                                 {Expect(std::string("\x05\x01\x00", 3)), Send(std::string("\x05\x00", 2)),
                                  Expect(std::string("\x7f\x00\x00\x01\x00\x19", 6)),
                                  Send(std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x19", 10))},
                                 std::string("\x05\x01\x00"
                                             "\x05\x01\x00\x01\x7f\x00\x00\x01\x00\x19",
                                             13)},
                             TLocalResolutionCase{"Socks4",
                                                  TSocksType::ST_Socks4,
                                                  {Expect(std::string("\x7f\x00\x00\x01\x00", 5)),
                                                   Send(std::string("\x00\x5a\x00\x19\x7f\x00\x00\x01", 8))},
                                                  std::string("\x04\x01\x00\x19\x7f\x00\x00\x01\x00", 9)}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(SocksBlockSocket, StartValues) {
    TSocksBlockSocket socket;
    EXPECT_EQ(socket.SocksIP(), "");
    EXPECT_EQ(socket.SocksPort(), "1080");
    EXPECT_EQ(socket.SocksTimeout(), 60000);
    EXPECT_EQ(socket.SocksType(), TSocksType::ST_Socks5);
    EXPECT_TRUE(socket.SocksResolver());
}

}  // namespace
}  // namespace tandrel::net
