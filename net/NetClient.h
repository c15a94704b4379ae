#pragma once
// Base of protocol clients: where to connect and as whom.

#include <string>

namespace tandrel::net {

/// Holds target host and port, the local interface, the time-out and the
/// credentials of a protocol client; no behaviour of its own.
class TNetClient {
public:
    TNetClient() = default;
    virtual ~TNetClient() = default;
    TNetClient(const TNetClient&) = delete;
    TNetClient& operator=(const TNetClient&) = delete;

    [[nodiscard]] const std::string& TargetHost() const noexcept { return FTargetHost; }
    void SetTargetHost(const std::string& Value) { FTargetHost = Value; }
    [[nodiscard]] const std::string& TargetPort() const noexcept { return FTargetPort; }
    void SetTargetPort(const std::string& Value) { FTargetPort = Value; }
    /// Local address to bind before connecting.
    [[nodiscard]] const std::string& IPInterface() const noexcept { return FIPInterface; }
    void SetIPInterface(const std::string& Value) { FIPInterface = Value; }
    /// Milliseconds.
    [[nodiscard]] int Timeout() const noexcept { return FTimeout; }
    void SetTimeout(int Value) noexcept { FTimeout = Value; }
    [[nodiscard]] const std::string& UserName() const noexcept { return FUserName; }
    void SetUserName(const std::string& Value) { FUserName = Value; }
    [[nodiscard]] const std::string& Password() const noexcept { return FPassword; }
    void SetPassword(const std::string& Value) { FPassword = Value; }

private:
    std::string FTargetHost = "127.0.0.1";
    std::string FTargetPort = "0";
    std::string FIPInterface = "0.0.0.0";
    int FTimeout = 5000;
    std::string FUserName;
    std::string FPassword;
};

}  // namespace tandrel::net
