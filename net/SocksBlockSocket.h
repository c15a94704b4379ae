#pragma once
// A blocking socket that can reach its peer through a SOCKS4 or SOCKS5 proxy.

#include "net/BlockSocket.h"

#include <string>

namespace tandrel::net {

/// SOCKS protocol version, in this order.
enum class TSocksType { ST_Socks5, ST_Socks4 };

/// Adds the SOCKS client state; used when SocksIP is not empty. A refused or
/// failed proxy connect gives 10091, a refused listen or accept 11003.
class TSocksBlockSocket : public TBlockSocket {
public:
    TSocksBlockSocket();
    explicit TSocksBlockSocket(const std::string& Stub);

    /// Connects to the proxy and sends the greeting (with user and password
    /// when SocksUsername is set); true when the proxy accepted.
    [[nodiscard]] bool SocksOpen();
    /// Sends one request (1 connect, 2 bind) for IP and Port; true when sent.
    /// Without SocksResolver a name is resolved here first (SOCKS4: to IPv4);
    /// when that fails nothing is sent and LastError is the resolver's.
    [[nodiscard]] bool SocksRequest(std::uint8_t Cmd, const std::string& IP, const std::string& Port);
    /// Reads the proxy's reply into SocksResponseIP/Port; true when it granted.
    [[nodiscard]] bool SocksResponse();

    [[nodiscard]] const std::string& SocksIP() const noexcept { return FSocksIP; }
    void SetSocksIP(const std::string& Value) { FSocksIP = Value; }
    [[nodiscard]] const std::string& SocksPort() const noexcept { return FSocksPort; }
    void SetSocksPort(const std::string& Value) { FSocksPort = Value; }
    [[nodiscard]] const std::string& SocksUsername() const noexcept { return FSocksUsername; }
    void SetSocksUsername(const std::string& Value) { FSocksUsername = Value; }
    [[nodiscard]] const std::string& SocksPassword() const noexcept { return FSocksPassword; }
    void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
    /// Milliseconds for each proxy reply.
    [[nodiscard]] int SocksTimeout() const noexcept { return FSocksTimeout; }
    void SetSocksTimeout(int Value) noexcept { FSocksTimeout = Value; }
    [[nodiscard]] bool UsingSocks() const noexcept { return FUsingSocks; }
    /// True: the proxy resolves host names.
    [[nodiscard]] bool SocksResolver() const noexcept { return FSocksResolver; }
    void SetSocksResolver(bool Value) noexcept { FSocksResolver = Value; }
    /// Reply code of the proxy's last answer (0 = granted).
    [[nodiscard]] int SocksLastError() const noexcept { return FSocksLastError; }
    [[nodiscard]] const std::string& SocksResponseIP() const noexcept { return FSocksResponseIP; }
    [[nodiscard]] const std::string& SocksResponsePort() const noexcept { return FSocksResponsePort; }
    [[nodiscard]] const std::string& SocksLocalIP() const noexcept { return FSocksLocalIP; }
    [[nodiscard]] const std::string& SocksLocalPort() const noexcept { return FSocksLocalPort; }
    [[nodiscard]] const std::string& SocksRemoteIP() const noexcept { return FSocksRemoteIP; }
    [[nodiscard]] const std::string& SocksRemotePort() const noexcept { return FSocksRemotePort; }
    [[nodiscard]] TSocksType SocksType() const noexcept { return FSocksType; }
    void SetSocksType(TSocksType Value) noexcept { FSocksType = Value; }

protected:
    /// The address the proxy is asked for: IP itself, or its address when we
    /// resolve (SocksResolver false) and it is a name. False, with the
    /// resolver's error in LastError, when the name does not resolve.
    [[nodiscard]] bool SocksTarget(const std::string& IP, std::string& Address);
    /// The request's address part for a target from SocksTarget: a name, IPv4
    /// or IPv6 (SOCKS5), or the SOCKS4/4a form.
    [[nodiscard]] std::string SocksCode(const std::string& Address, const std::string& Port);
    /// Reads a SOCKS5 reply's address and port into SocksResponseIP/Port.
    [[nodiscard]] bool SocksReadAddress(std::uint8_t AddressType);

    std::string FSocksIP;
    std::string FSocksPort = "1080";
    int FSocksTimeout = 60000;
    std::string FSocksUsername;
    std::string FSocksPassword;
    bool FUsingSocks = false;
    bool FSocksResolver = true;
    int FSocksLastError = 0;
    std::string FSocksResponseIP;
    std::string FSocksResponsePort;
    std::string FSocksLocalIP;
    std::string FSocksLocalPort;
    std::string FSocksRemoteIP;
    std::string FSocksRemotePort;
    bool FBypassFlag = false;
    TSocksType FSocksType = TSocksType::ST_Socks5;
};

}  // namespace tandrel::net
