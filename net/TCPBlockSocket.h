#pragma once
// The TCP client and server socket, with its TLS plug-in and the HTTP
// CONNECT tunnel.

#include "net/CustomSSL.h"
#include "net/SocksBlockSocket.h"

#include <functional>
#include <memory>
#include <string>

namespace tandrel::net {

class TTCPBlockSocket;

/// Called after a successful Connect.
using THookAfterConnect = std::function<void(TTCPBlockSocket& Sender)>;

/// A TCP socket owning one TLS plug-in. Connect goes through the SOCKS proxy
/// when SocksIP is set, else through the HTTP tunnel when HTTPTunnelIP is set,
/// else directly. While SSL().SSLEnabled() every read and write goes through
/// the plug-in; any TLS failure gives 10091.
class TTCPBlockSocket : public TSocksBlockSocket {
public:
    /// Socket with the plug-in of SSLImplementation.
    TTCPBlockSocket();
    /// Socket with the plug-in made by SSLPlugin.
    explicit TTCPBlockSocket(TSSLClass SSLPlugin);
    ~TTCPBlockSocket() override;

    /// Ends TLS (one close notice), shuts sending down and purges when the
    /// connection is healthy, then closes. Harmless when nothing is open.
    void CloseSocket() override;
    void Connect(const std::string& IP, const std::string& Port) override;
    void Listen() override;
    int Accept() override;
    int SendBuffer(const void* Buffer, int Length) override;
    int RecvBuffer(void* Buffer, int Length) override;
    /// Decrypted bytes first when TLS is on, else the platform count.
    int WaitingData() override;
    [[nodiscard]] std::string GetLocalSinIP() override;
    [[nodiscard]] std::string GetRemoteSinIP() override;
    [[nodiscard]] int GetLocalSinPort() override;
    [[nodiscard]] int GetRemoteSinPort() override;
    [[nodiscard]] int GetSocketType() override;
    [[nodiscard]] int GetSocketProtocol() override;
    /// For 10091 the plug-in's text when it recorded an error.
    [[nodiscard]] std::string GetErrorDescEx() override;

    /// TLS client handshake on the open connection; 10091 on failure.
    void SSLDoConnect();
    /// Two-way TLS close.
    void SSLDoShutdown();
    /// TLS server handshake on the accepted connection; true on success.
    [[nodiscard]] bool SSLAcceptConnection();

    [[nodiscard]] TCustomSSL& SSL() noexcept { return *FSSL; }
    [[nodiscard]] const TCustomSSL& SSL() const noexcept { return *FSSL; }
    [[nodiscard]] const THookAfterConnect& OnAfterConnect() const noexcept { return FOnAfterConnect; }
    void SetOnAfterConnect(THookAfterConnect Value) { FOnAfterConnect = std::move(Value); }
    /// Proxy host of the HTTP tunnel; empty = no tunnel.
    [[nodiscard]] const std::string& HTTPTunnelIP() const noexcept { return FHTTPTunnelIP; }
    void SetHTTPTunnelIP(const std::string& Value) { FHTTPTunnelIP = Value; }
    [[nodiscard]] const std::string& HTTPTunnelPort() const noexcept { return FHTTPTunnelPort; }
    void SetHTTPTunnelPort(const std::string& Value) { FHTTPTunnelPort = Value; }
    /// True while the tunnel is established.
    [[nodiscard]] bool HTTPTunnel() const noexcept { return FHTTPTunnel; }
    [[nodiscard]] const std::string& HTTPTunnelRemoteIP() const noexcept { return FHTTPTunnelRemoteIP; }
    [[nodiscard]] const std::string& HTTPTunnelRemotePort() const noexcept { return FHTTPTunnelRemotePort; }
    [[nodiscard]] const std::string& HTTPTunnelUser() const noexcept { return FHTTPTunnelUser; }
    void SetHTTPTunnelUser(const std::string& Value) { FHTTPTunnelUser = Value; }
    [[nodiscard]] const std::string& HTTPTunnelPass() const noexcept { return FHTTPTunnelPass; }
    void SetHTTPTunnelPass(const std::string& Value) { FHTTPTunnelPass = Value; }
    /// Milliseconds for each proxy answer line.
    [[nodiscard]] int HTTPTunnelTimeout() const noexcept { return FHTTPTunnelTimeout; }
    void SetHTTPTunnelTimeout(int Value) noexcept { FHTTPTunnelTimeout = Value; }

protected:
    void DoAfterConnect();
    void SocksDoConnect(const std::string& IP, const std::string& Port);
    void HTTPTunnelDoConnect(const std::string& IP, const std::string& Port);

private:
    THookAfterConnect FOnAfterConnect;
    std::unique_ptr<TCustomSSL> FSSL;
    std::string FHTTPTunnelIP;
    std::string FHTTPTunnelPort;
    bool FHTTPTunnel = false;
    std::string FHTTPTunnelRemoteIP;
    std::string FHTTPTunnelRemotePort;
    std::string FHTTPTunnelUser;
    std::string FHTTPTunnelPass;
    int FHTTPTunnelTimeout = 30000;
};

}  // namespace tandrel::net
