// AbortSocket from another thread while the owner waits on the socket: the wait ends,
// and nothing reaches the handle's number afterwards, whoever holds it next; the
// socket's one way to use its handle, which makes that so. These tests also run
// under ThreadSanitizer.

#include "net/SSLOpenSSL.h"
#include "net/TCPBlockSocket.h"
#include "net/tests/LoopbackServer.h"
#include "testing/TlsPeer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <type_traits>

namespace tandrel::net {
namespace {

using namespace std::chrono_literals;

// A handle taken as a plain number would not be held: the result is no number.
static_assert(!std::is_convertible_v<THandleResult, int>);

TEST(UseHandle, GivesTheCallsResultAndItsErrorNumber) {
    test::TListener listener;
    TTCPBlockSocket client;
    client.Connect("127.0.0.1", listener.Port());
    ASSERT_EQ(client.LastError(), 0) << client.LastErrorDesc();
    char byte = 0;
    const THandleResult empty = client.UseHandle(
        [&](int Handle) { return static_cast<int>(::recv(Handle, &byte, 1, MSG_DONTWAIT)); });
    EXPECT_EQ(empty.Result, -1);
    EXPECT_EQ(empty.Errno, EAGAIN);
    EXPECT_EQ(empty.Error(), 10035);
    const THandleResult fine = client.UseHandle([](int Handle) { return ::fcntl(Handle, F_GETFD); });
    EXPECT_NE(fine.Result, -1);
    EXPECT_EQ(fine.Errno, 0) << "an error left over from before the call";

    client.CloseSocket();
    int seen = 0;
    const THandleResult none = client.UseHandle([&](int Handle) { return seen = Handle; });
    EXPECT_EQ(seen, -1);
    EXPECT_EQ(none.Result, -1);
}

// AbortSocket in another thread gives the handle up at once (Socket() is -1, a
// wait on it ends) but frees the number only once the call holding it is done.
TEST(UseHandle, AbortSocketClosesTheNumberOnlyAfterTheCall) {
    test::TListener listener;
    TTCPBlockSocket client;
    client.Connect("127.0.0.1", listener.Port());
    ASSERT_EQ(client.LastError(), 0) << client.LastErrorDesc();
    std::thread aborter;
    int held = -1;
    bool openWhileHeld = false;
    static_cast<void>(client.UseHandle([&](int Handle) {
        held = Handle;
        aborter = std::thread([&] { client.AbortSocket(); });
        while (client.Socket() != -1) std::this_thread::yield();
        openWhileHeld = ::fcntl(Handle, F_GETFD) != -1;
        return 0;
    }));
    aborter.join();
    EXPECT_NE(held, -1);
    EXPECT_TRUE(openWhileHeld) << "the number was freed under the call";
    EXPECT_EQ(client.Socket(), -1);
}

TEST(AbortSocket, FromAnotherThreadEndsABlockedRead) {
    test::TListener listener;
    TTCPBlockSocket client;
    client.Connect("127.0.0.1", listener.Port());
    ASSERT_EQ(client.LastError(), 0) << client.LastErrorDesc();
    const int peer = listener.AcceptOne(5000);
    ASSERT_GE(peer, 0);
    std::thread aborter([&] {
        std::this_thread::sleep_for(100ms);
        client.AbortSocket();
    });
    const std::string line = client.RecvString(-1);
    aborter.join();
    EXPECT_EQ(line, "");
    EXPECT_NE(client.LastError(), 0);
    EXPECT_EQ(client.Socket(), -1);
    ::close(peer);
}

// The aborting thread hands the freed number to a socket of its own at once; the
// owner then closes its TLS connection as usual. Its close notice must not reach
// that socket.
TEST(AbortSocket, DuringATlsReadNothingReachesTheNumberOnceFreed) {
    tandrel::testing::TlsPeer peer("silent");
    TTCPBlockSocket sock(&CreateSSLOpenSSL);
    sock.Connect("127.0.0.1", peer.Port());
    ASSERT_EQ(sock.LastError(), 0) << sock.LastErrorDesc();
    sock.SSLDoConnect();
    ASSERT_EQ(sock.LastError(), 0) << sock.LastErrorDesc();
    const int number = sock.Socket();
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    std::thread aborter([&] {
        std::this_thread::sleep_for(100ms);
        sock.AbortSocket();
        // The number is free now: take it for the sentinel socket.
        ::dup2(pair[0], number);
    });
    const std::string line = sock.RecvString(-1);
    aborter.join();
    EXPECT_EQ(line, "");
    EXPECT_NE(sock.LastError(), 0);
    sock.CloseSocket();
    EXPECT_FALSE(sock.SSL().SSLEnabled());

    char byte;
    EXPECT_EQ(::recv(pair[1], &byte, 1, MSG_DONTWAIT), -1) << "bytes were written to a number no longer ours";
    EXPECT_NE(::fcntl(number, F_GETFD), -1) << "a number no longer ours was closed";
    ::close(number);
    ::close(pair[0]);
    ::close(pair[1]);
}

}  // namespace
}  // namespace tandrel::net
