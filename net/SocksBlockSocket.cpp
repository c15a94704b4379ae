#include "net/SocksBlockSocket.h"

#include "net/AddressText.h"
#include "net/SocketInterface.h"
#include "support/BinaryPacking.h"

namespace tandrel::net {

namespace {

constexpr char Socks5 = 5;
constexpr char Socks4 = 4;
constexpr unsigned char NoAuthentication = 0;
constexpr unsigned char UserPassword = 2;
constexpr unsigned char AddressIP4 = 1;
constexpr unsigned char AddressName = 3;
constexpr unsigned char AddressIP6 = 4;
constexpr unsigned char Socks4Granted = 90;

std::string Bytes(std::initializer_list<unsigned char> Values) {
    std::string result;
    for (const unsigned char value : Values) result.push_back(static_cast<char>(value));
    return result;
}

std::string LengthPrefixed(const std::string& Value) {
    // One length byte: longer names and credentials are cut at 255 bytes.
    const std::string cut = Value.substr(0, 255);
    return static_cast<char>(cut.size()) + cut;
}

}  // namespace

TSocksBlockSocket::TSocksBlockSocket() = default;

TSocksBlockSocket::TSocksBlockSocket(const std::string& Stub) : TBlockSocket(Stub) {}

bool TSocksBlockSocket::SocksOpen() {
    FBypassFlag = true;
    FSocksLastError = 0;
    bool result = true;
    if (FSocksType == TSocksType::ST_Socks5) {
        const bool withLogin = !FSocksUsername.empty();
        static_cast<void>(SendString(withLogin ? Bytes({5, 2, NoAuthentication, UserPassword})
                                               : Bytes({5, 1, NoAuthentication})));
        const std::string reply = LastError() == 0 ? RecvBufferStr(2, FSocksTimeout) : "";
        result = reply.size() == 2 && reply[0] == Socks5;
        if (result) {
            const auto method = static_cast<unsigned char>(reply[1]);
            if (method == UserPassword && withLogin) {
                static_cast<void>(SendString(static_cast<char>(1) + LengthPrefixed(FSocksUsername) +
                                             LengthPrefixed(FSocksPassword)));
                const std::string status = LastError() == 0 ? RecvBufferStr(2, FSocksTimeout) : "";
                result = status.size() == 2 && status[1] == 0;
            } else {
                result = method == NoAuthentication;
            }
        }
    }
    FBypassFlag = false;
    return result;
}

bool TSocksBlockSocket::SocksTarget(const std::string& IP, std::string& Address) {
    Address = IP;
    if (FSocksResolver || IsIP(IP) || (FSocksType == TSocksType::ST_Socks5 && IsIP6(IP))) return true;
    // SOCKS4 carries only an IPv4 address; SOCKS5 takes either, IPv4 first.
    const int family = FSocksType == TSocksType::ST_Socks4 ? AF_INET : AF_UNSPEC;
    TVarSin sin;
    ResetLastError();
    SetLastError(SetVarSin(sin, IP, "0", family, GetSocketProtocol(), GetSocketType(), PreferIP4()));
    if (LastError() != 0) return false;
    Address = GetSinIP(sin);
    return true;
}

std::string TSocksBlockSocket::SocksCode(const std::string& Address, const std::string& Port) {
    const std::string portBytes = support::CodeInt(static_cast<std::uint16_t>(ResolvePort(Port)));
    if (FSocksType == TSocksType::ST_Socks4) {
        // SOCKS4a: an address of 0.0.0.x asks the proxy to resolve the name
        // that follows the user id.
        const bool proxyResolves = !IsIP(Address);
        std::string result = portBytes + (proxyResolves ? Bytes({0, 0, 0, 1}) : IPToID(Address));
        result += FSocksUsername + '\0';
        if (proxyResolves) result += Address + '\0';
        return result;
    }
    if (IsIP(Address)) return static_cast<char>(AddressIP4) + IPToID(Address) + portBytes;
    if (IsIP6(Address)) {
        const auto ip6 = StrToIp6(Address);
        return static_cast<char>(AddressIP6) + std::string(ip6.begin(), ip6.end()) + portBytes;
    }
    return static_cast<char>(AddressName) + LengthPrefixed(Address) + portBytes;
}

bool TSocksBlockSocket::SocksRequest(std::uint8_t Cmd, const std::string& IP, const std::string& Port) {
    std::string address;
    if (!SocksTarget(IP, address)) return false;
    FBypassFlag = true;
    const std::string header = FSocksType == TSocksType::ST_Socks5
                                   ? Bytes({5, Cmd, 0})
                                   : Bytes({static_cast<unsigned char>(Socks4), Cmd});
    static_cast<void>(SendString(header + SocksCode(address, Port)));
    FBypassFlag = false;
    return LastError() == 0;
}

bool TSocksBlockSocket::SocksReadAddress(std::uint8_t AddressType) {
    std::string address;
    switch (AddressType) {
        case AddressIP4: {
            address = RecvBufferStr(4, FSocksTimeout);
            if (LastError() != 0) return false;
            FSocksResponseIP.clear();
            for (int n = 0; n < 4; ++n) {
                if (n > 0) FSocksResponseIP += '.';
                FSocksResponseIP += std::to_string(static_cast<unsigned char>(address[n]));
            }
            break;
        }
        case AddressIP6: {
            address = RecvBufferStr(16, FSocksTimeout);
            if (LastError() != 0) return false;
            std::array<std::uint8_t, 16> ip6{};
            for (std::size_t n = 0; n < 16; ++n) ip6[n] = static_cast<std::uint8_t>(address[n]);
            FSocksResponseIP = Ip6ToStr(ip6);
            break;
        }
        case AddressName: {
            const std::uint8_t length = RecvByte(FSocksTimeout);
            if (LastError() != 0) return false;
            FSocksResponseIP = length > 0 ? RecvBufferStr(length, FSocksTimeout) : "";
            if (LastError() != 0) return false;
            break;
        }
        default: return false;
    }
    const std::string portBytes = RecvBufferStr(2, FSocksTimeout);
    if (LastError() != 0) return false;
    FSocksResponsePort = std::to_string(support::DecodeInt(portBytes, 1));
    return true;
}

bool TSocksBlockSocket::SocksResponse() {
    FBypassFlag = true;
    FSocksResponseIP.clear();
    FSocksResponsePort.clear();
    bool result = false;
    if (FSocksType == TSocksType::ST_Socks5) {
        const std::string head = RecvBufferStr(4, FSocksTimeout);
        if (LastError() == 0 && head[0] == Socks5) {
            FSocksLastError = static_cast<unsigned char>(head[1]);
            result = FSocksLastError == 0 && SocksReadAddress(static_cast<std::uint8_t>(head[3]));
        } else {
            FSocksLastError = -1;
        }
    } else {
        const std::string reply = RecvBufferStr(8, FSocksTimeout);
        if (LastError() == 0 && reply[0] == 0) {
            const auto code = static_cast<unsigned char>(reply[1]);
            FSocksLastError = code == Socks4Granted ? 0 : code;
            FSocksResponsePort = std::to_string(support::DecodeInt(reply, 3));
            FSocksResponseIP.clear();
            for (int n = 4; n < 8; ++n) {
                if (n > 4) FSocksResponseIP += '.';
                FSocksResponseIP += std::to_string(static_cast<unsigned char>(reply[n]));
            }
            result = FSocksLastError == 0;
        } else {
            FSocksLastError = -1;
        }
    }
    FBypassFlag = false;
    return result;
}

}  // namespace tandrel::net
