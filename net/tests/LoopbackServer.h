#pragma once
// A scripted TCP peer on loopback for socket tests: it accepts one
// connection, plays its steps (send, pause, expect, close) and records every
// byte it received.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tandrel::net::test {

/// A loopback listening handle on port 0, closed on destruction.
class TListener {
public:
    explicit TListener(int Family = AF_INET, int Backlog = 8) {
        FHandle = ::socket(Family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (FHandle < 0) throw std::runtime_error("socket");
        sockaddr_storage address{};
        socklen_t length;
        if (Family == AF_INET6) {
            auto& sin6 = reinterpret_cast<sockaddr_in6&>(address);
            sin6.sin6_family = AF_INET6;
            sin6.sin6_addr = in6addr_loopback;
            length = sizeof(sockaddr_in6);
        } else {
            auto& sin = reinterpret_cast<sockaddr_in&>(address);
            sin.sin_family = AF_INET;
            sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof(sockaddr_in);
        }
        if (::bind(FHandle, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(FHandle, Backlog) != 0) {
            ::close(FHandle);
            throw std::runtime_error("bind/listen");
        }
        ::getsockname(FHandle, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(Family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                         : reinterpret_cast<sockaddr_in&>(address).sin_port);
    }
    ~TListener() { Close(); }
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;

    [[nodiscard]] int Handle() const { return FHandle; }
    [[nodiscard]] std::string Port() const { return std::to_string(FPort); }
    void Close() {
        if (FHandle >= 0) ::close(FHandle);
        FHandle = -1;
    }

    /// Accepts one connection within TimeoutMs; -1 when none came.
    [[nodiscard]] int AcceptOne(int TimeoutMs) const {
        pollfd entry{FHandle, POLLIN, 0};
        if (::poll(&entry, 1, TimeoutMs) != 1) return -1;
        return ::accept4(FHandle, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int FHandle = -1;
    int FPort = 0;
};

/// One step of the peer's script.
struct TStep {
    enum class TKind { Send, Pause, Expect, Close, Reset };
    TKind Kind;
    std::string Data;  // bytes to send, or bytes to wait for (Expect)
    int Milliseconds = 0;
};

inline TStep Send(std::string Data) { return {TStep::TKind::Send, std::move(Data), 0}; }
inline TStep Pause(int Milliseconds) { return {TStep::TKind::Pause, {}, Milliseconds}; }
/// Waits until everything received so far ends with Data.
inline TStep Expect(std::string Data) { return {TStep::TKind::Expect, std::move(Data), 0}; }
inline TStep Close() { return {TStep::TKind::Close, {}, 0}; }
/// Closes with a reset (RST) instead of an orderly close.
inline TStep Reset() { return {TStep::TKind::Reset, {}, 0}; }

/// Plays the script on the first connection; after the last step it reads
/// until the client closes (at most a few seconds) unless the script closed.
class TScriptedServer {
public:
    explicit TScriptedServer(std::vector<TStep> Script, int Family = AF_INET)
        : FListener(Family), FScript(std::move(Script)) {
        FThread = std::thread([this] { Run(); });
    }
    ~TScriptedServer() { Join(); }
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    [[nodiscard]] std::string Port() const { return FListener.Port(); }
    /// Waits for the script to end.
    void Join() {
        if (FThread.joinable()) FThread.join();
    }
    /// Every byte received; call after Join for the whole transcript.
    [[nodiscard]] std::string Received() {
        const std::lock_guard lock(FMutex);
        return FReceived;
    }

private:
    static constexpr int WaitLimitMs = 5000;

    /// Reads once within TimeoutMs; false on close, error or time-out.
    bool ReadSome(int Handle, int TimeoutMs) {
        pollfd entry{Handle, POLLIN, 0};
        if (::poll(&entry, 1, TimeoutMs) != 1) return false;
        char buffer[65536];
        const auto count = ::recv(Handle, buffer, sizeof buffer, 0);
        if (count <= 0) return false;
        const std::lock_guard lock(FMutex);
        FReceived.append(buffer, static_cast<std::size_t>(count));
        return true;
    }

    bool EndsWith(const std::string& Tail) {
        const std::lock_guard lock(FMutex);
        return FReceived.size() >= Tail.size() &&
               FReceived.compare(FReceived.size() - Tail.size(), Tail.size(), Tail) == 0;
    }

    void Run() {
        const int handle = FListener.AcceptOne(WaitLimitMs);
        if (handle < 0) return;
        const int one = 1;
        ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        bool open = true;
        for (const TStep& step : FScript) {
            switch (step.Kind) {
                case TStep::TKind::Send:
                    ::send(handle, step.Data.data(), step.Data.size(), MSG_NOSIGNAL);
                    break;
                case TStep::TKind::Pause:
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.Milliseconds));
                    break;
                case TStep::TKind::Expect:
                    while (!EndsWith(step.Data) && ReadSome(handle, WaitLimitMs)) {
                    }
                    break;
                case TStep::TKind::Close:
                    ::close(handle);
                    open = false;
                    break;
                case TStep::TKind::Reset: {
                    const linger abort{1, 0};
                    ::setsockopt(handle, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                    ::close(handle);
                    open = false;
                    break;
                }
            }
            if (!open) break;
        }
        if (open) {
            while (ReadSome(handle, WaitLimitMs)) {
            }
            ::close(handle);
        }
    }

    TListener FListener;
    std::vector<TStep> FScript;
    std::mutex FMutex;
    std::string FReceived;
    std::thread FThread;
};

/// True when the machine can listen on ::1.
inline bool HasIPv6Loopback() {
    const int handle = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (handle < 0) return false;
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_addr = in6addr_loopback;
    const bool result = ::bind(handle, reinterpret_cast<sockaddr*>(&sin6), sizeof sin6) == 0;
    ::close(handle);
    return result;
}

/// A loopback port nobody listens on (bound once, then released).
inline std::string ClosedPort() {
    TListener listener;
    return listener.Port();
}

}  // namespace tandrel::net::test
