#pragma once
// Peers for the TLS tests, all on loopback and all ended by their destructor:
// certificates made with the openssl tool, openssl s_server, a listener that
// never answers and a plain-text server.

#include "net/tests/TlsProcess.h"
#include "testing/TempDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tandrel::net::testing {

/// Runs a command to its end in `Dir`; its output, or an exception when it fails.
inline std::string RunTool(const std::vector<std::string>& Argv, const std::string& Dir) {
    TlsProcess p(Argv, Dir);
    const int rc = p.Wait();
    if (rc != 0) throw std::runtime_error(Argv[0] + " " + Argv[1] + " failed: " + p.Output());
    return p.Output();
}

inline std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
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
        const std::string d = FDir.Path().string();
        const std::vector<std::string> key = {"-newkey", "rsa:2048", "-nodes", "-days", "2"};
        Req({"-x509", "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Tandrel Test CA"}, key);
        Req({"-keyout", "server.key", "-out", "server.csr", "-subj", "/C=BR/CN=localhost/O=Tandrel"}, key);
        RunTool({"openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                 "-set_serial", std::to_string(ServerSerial), "-days", "2", "-out", "server.pem"},
                d);
        Req({"-x509", "-keyout", "sni.key", "-out", "sni.pem", "-subj", std::string("/CN=") + SniName}, key);
        Req({"-keyout", "alt.key", "-out", "alt.csr", "-subj", "/CN=localhost"}, key);
        RunTool({"openssl", "x509", "-req", "-in", "alt.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-days",
                 "2", "-extfile", "alt.ext", "-out", "alt.pem"},
                WithFile(d, "alt.ext", "subjectAltName=DNS:mail.tandrel.test,IP:127.0.0.1\n"));
        RunTool({"openssl", "pkcs12", "-export", "-in", "server.pem", "-inkey", "server.key", "-certfile",
                 "ca.pem", "-out", "server.p12", "-passout", std::string("pass:") + PfxPassword},
                d);
    }

    [[nodiscard]] std::string File(const std::string& Name) const { return (FDir.Path() / Name).string(); }
    [[nodiscard]] std::string Dir() const { return FDir.Path().string(); }

private:
    // Writes a small file into dir; gives dir back.
    static const std::string& WithFile(const std::string& Dir, const std::string& Name,
                                       const std::string& Text) {
        std::ofstream(Dir + "/" + Name) << Text;
        return Dir;
    }

    void Req(std::vector<std::string> Args, const std::vector<std::string>& Key) {
        Args.insert(Args.begin(), {"openssl", "req"});
        Args.insert(Args.end(), Key.begin(), Key.end());
        RunTool(Args, FDir.Path().string());
    }

    tandrel::testing::TempDir FDir;
};

/// openssl s_server on 127.0.0.1 with a free port, serving the test's server
/// certificate, and the SNI certificate to clients that name SniName.
class TlsServer {
public:
    TlsServer(const TlsCertificates& Certs, const std::vector<std::string>& Extra) {
        std::vector<std::string> argv = {"openssl",     "s_server",
                                         "-accept",     "127.0.0.1:0",
                                         "-cert",       Certs.File("server.pem"),
                                         "-key",        Certs.File("server.key"),
                                         "-servername", TlsCertificates::SniName,
                                         "-cert2",      Certs.File("sni.pem"),
                                         "-key2",       Certs.File("sni.key")};
        argv.insert(argv.end(), Extra.begin(), Extra.end());
        FProcess = std::make_unique<TlsProcess>(argv, Certs.Dir());
        const std::string marker = "ACCEPT 127.0.0.1:";
        if (!FProcess->WaitFor(marker) || !FProcess->WaitFor("\n"))
            throw std::runtime_error("s_server did not start: " + FProcess->Output());
        const std::string& out = FProcess->Output();
        FPort = std::stoi(out.substr(out.find(marker) + marker.size()));
    }

    [[nodiscard]] std::string Port() const { return std::to_string(FPort); }
    [[nodiscard]] TlsProcess& Process() { return *FProcess; }
    /// Ends the server at once, as a peer that vanishes.
    void Kill() { FProcess.reset(); }

private:
    std::unique_ptr<TlsProcess> FProcess;
    int FPort = 0;
};

/// A TCP listener on 127.0.0.1 (free port) that never accepts: connections
/// complete in the kernel's queue and then nothing is ever answered.
class SilentListener {
public:
    SilentListener() {
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FFd, 8) != 0 ||
            ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("listener failed");
        FPort = ntohs(a.sin_port);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    virtual ~SilentListener() {
        if (FFd >= 0) ::close(FFd);
    }
    [[nodiscard]] std::string Port() const { return std::to_string(FPort); }

protected:
    int FFd = -1;
    int FPort = 0;
};

/// Accepts one connection, sends `Greeting` in clear text, reads until the
/// client closes or the test ends.
class PlainTextServer : public SilentListener {
public:
    explicit PlainTextServer(std::string Greeting)
        : FGreeting(std::move(Greeting)), FThread([this] { Serve(); }) {}
    ~PlainTextServer() override {
        FStop = true;
        FThread.join();
    }

private:
    void Serve() {
        pollfd p{FFd, POLLIN, 0};
        while (!FStop && ::poll(&p, 1, 50) == 0) {
        }
        if (FStop) return;
        const int c = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        ::send(c, FGreeting.data(), FGreeting.size(), MSG_NOSIGNAL);
        pollfd q{c, POLLIN, 0};
        char buf[4096];
        while (!FStop) {
            if (::poll(&q, 1, 50) > 0 && ::recv(c, buf, sizeof buf, 0) <= 0) break;
        }
        ::close(c);
    }

    std::string FGreeting;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

}  // namespace tandrel::net::testing
