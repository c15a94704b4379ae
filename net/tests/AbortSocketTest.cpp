// AbortSocket from another thread while the owner waits on the socket: the wait ends,
// and nothing reaches the handle's number afterwards, whoever holds it next. These
// tests also run under ThreadSanitizer.

#include "net/TCPBlockSocket.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/SSLOpenSSL.h"
#include "net/tests/LoopbackServer.h"
#include "testing/TlsPeer.h"

namespace tandrel::net {
namespace {

using namespace std::chrono_literals;

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
