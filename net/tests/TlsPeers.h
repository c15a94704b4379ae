#pragma once
// Peers for the TLS tests, all on loopback and all ended by their destructor:
// certificates made with the openssl tool, openssl s_server, a listener that
// never answers and a plain-text server.

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "net/tests/TlsProcess.h"
#include "testing/TempDir.h"

namespace tandrel::net::testing {

/// Runs a command to its end in `dir`; its output, or an exception when it fails.
inline std::string RunTool(const std::vector<std::string>& argv, const std::string& dir) {
  TlsProcess p(argv, dir);
  const int rc = p.Wait();
  if (rc != 0)
    throw std::runtime_error(argv[0] + " " + argv[1] + " failed: " + p.Output());
  return p.Output();
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// A test CA, a server certificate it signed (CN=localhost, serial 4660), an
/// unrelated self-signed certificate for the SNI name, the server pair as
/// PKCS#12 with a password, and a certificate of the CA with subject
/// alternative names (CN=localhost, DNS:mail.tandrel.test, IP:127.0.0.1).
class TlsCertificates {
public:
  static constexpr const char* SniName = "sni.tandrel.test";
  static constexpr const char* PfxPassword = "pfx-secret";
  static constexpr int ServerSerial = 4660;

  TlsCertificates() {
    const std::string d = dir_.Path().string();
    const std::vector<std::string> key = {"-newkey", "rsa:2048", "-nodes", "-days", "2"};
    Req({"-x509", "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Tandrel Test CA"}, key);
    Req({"-keyout", "server.key", "-out", "server.csr", "-subj", "/C=BR/CN=localhost/O=Tandrel"}, key);
    RunTool({"openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-set_serial", std::to_string(ServerSerial), "-days", "2", "-out", "server.pem"},
            d);
    Req({"-x509", "-keyout", "sni.key", "-out", "sni.pem", "-subj", std::string("/CN=") + SniName}, key);
    Req({"-keyout", "alt.key", "-out", "alt.csr", "-subj", "/CN=localhost"}, key);
    RunTool({"openssl", "x509", "-req", "-in", "alt.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-days", "2",
             "-extfile", "alt.ext", "-out", "alt.pem"},
            WithFile(d, "alt.ext", "subjectAltName=DNS:mail.tandrel.test,IP:127.0.0.1\n"));
    RunTool({"openssl", "pkcs12", "-export", "-in", "server.pem", "-inkey", "server.key", "-certfile",
             "ca.pem", "-out", "server.p12", "-passout", std::string("pass:") + PfxPassword},
            d);
  }

  [[nodiscard]] std::string File(const std::string& name) const { return (dir_.Path() / name).string(); }
  [[nodiscard]] std::string Dir() const { return dir_.Path().string(); }

private:
  // Writes a small file into dir; gives dir back.
  static const std::string& WithFile(const std::string& dir, const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name) << text;
    return dir;
  }

  void Req(std::vector<std::string> args, const std::vector<std::string>& key) {
    args.insert(args.begin(), {"openssl", "req"});
    args.insert(args.end(), key.begin(), key.end());
    RunTool(args, dir_.Path().string());
  }

  tandrel::testing::TempDir dir_;
};

/// openssl s_server on 127.0.0.1 with a free port, serving the test's server
/// certificate, and the SNI certificate to clients that name SniName.
class TlsServer {
public:
  TlsServer(const TlsCertificates& certs, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert",
                                     certs.File("server.pem"), "-key", certs.File("server.key"),
                                     "-servername", TlsCertificates::SniName, "-cert2",
                                     certs.File("sni.pem"), "-key2", certs.File("sni.key")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<TlsProcess>(argv, certs.Dir());
    const std::string marker = "ACCEPT 127.0.0.1:";
    if (!process_->WaitFor(marker) || !process_->WaitFor("\n"))
      throw std::runtime_error("s_server did not start: " + process_->Output());
    const std::string& out = process_->Output();
    port_ = std::stoi(out.substr(out.find(marker) + marker.size()));
  }

  [[nodiscard]] std::string Port() const { return std::to_string(port_); }
  [[nodiscard]] TlsProcess& Process() { return *process_; }
  /// Ends the server at once, as a peer that vanishes.
  void Kill() { process_.reset(); }

private:
  std::unique_ptr<TlsProcess> process_;
  int port_ = 0;
};

/// A TCP listener on 127.0.0.1 (free port) that never accepts: connections
/// complete in the kernel's queue and then nothing is ever answered.
class SilentListener {
public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("listener failed");
    port_ = ntohs(a.sin_port);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  virtual ~SilentListener() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  [[nodiscard]] std::string Port() const { return std::to_string(port_); }

protected:
  int fd_ = -1;
  int port_ = 0;
};

/// Accepts one connection, sends `greeting` in clear text, reads until the
/// client closes or the test ends.
class PlainTextServer : public SilentListener {
public:
  explicit PlainTextServer(std::string greeting)
      : greeting_(std::move(greeting)), thread_([this] { Serve(); }) {}
  ~PlainTextServer() override {
    stop_ = true;
    thread_.join();
  }

private:
  void Serve() {
    pollfd p{fd_, POLLIN, 0};
    while (!stop_ && ::poll(&p, 1, 50) == 0) {
    }
    if (stop_)
      return;
    const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0)
      return;
    ::send(c, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
    pollfd q{c, POLLIN, 0};
    char buf[4096];
    while (!stop_) {
      if (::poll(&q, 1, 50) > 0 && ::recv(c, buf, sizeof buf, 0) <= 0)
        break;
    }
    ::close(c);
  }

  std::string greeting_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tandrel::net::testing
