#pragma once
// Proxy servers from the system's packages, started on loopback by a test
// with a configuration it writes to a temporary folder, stopped afterwards.

#include "net/tests/LoopbackServer.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tandrel::net::test {

/// A folder for a proxy's configuration and output.
using TTempDir = tandrel::testing::TempDir;

/// A loopback port free at the moment of the call.
inline int FreePort() {
    TListener listener;
    return std::stoi(listener.Port());
}

/// True once something accepts connections on the loopback port (within
/// about five seconds).
inline bool WaitListening(int Port) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(static_cast<std::uint16_t>(Port));
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(handle, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
        ::close(handle);
        if (up) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

/// Full name of the first of Candidates that exists; empty when none does.
inline std::string FindProgram(const std::vector<std::string>& Candidates) {
    for (const std::string& candidate : Candidates)
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    return {};
}

/// Runs a command line through /bin/sh; true when it exits with 0.
inline bool RunQuietly(const std::string& Command) {
    return std::system((Command + " >/dev/null 2>&1").c_str()) == 0;
}

/// A proxy program from the system's packages, listening on a free loopback
/// port with the configuration it is given; Up() is false when the program
/// is missing or did not start.
class TProxyServer {
public:
    /// Config gets the port and the folder and gives the configuration text;
    /// CommandLine gets the program and the configuration file.
    TProxyServer(const std::vector<std::string>& Programs, const std::string& Name,
                 const std::function<std::string(int Port, const TTempDir& Dir)>& Config,
                 const std::function<std::vector<std::string>(const std::string& Program,
                                                              const std::string& ConfigFile)>& CommandLine)
        : FPort(FreePort()) {
        const std::string program = FindProgram(Programs);
        if (program.empty()) return;
        const std::string file = FDir.Write(Name + ".conf", Config(FPort, FDir));
        try {
            const std::string output = (FDir.Path() / (Name + ".out")).string();
            FProcess = std::make_unique<tandrel::testing::ChildProcess>(
                CommandLine(program, file), tandrel::testing::ChildOptions{.OutputFile = output});
        } catch (const std::runtime_error&) {
            return;
        }
        FUp = WaitListening(FPort);
    }
    [[nodiscard]] bool Up() const { return FUp; }
    [[nodiscard]] std::string Port() const { return std::to_string(FPort); }

private:
    TTempDir FDir;
    int FPort;
    std::unique_ptr<tandrel::testing::ChildProcess> FProcess;
    bool FUp = false;
};

}  // namespace tandrel::net::test
