#include "net/SocksBlockSocket.h"

#include "support/BinaryPacking.h"
#include "net/AddressText.h"
#include "net/SocketInterface.h"

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
  std::string Result;
  for (const unsigned char Value : Values)
    Result.push_back(static_cast<char>(Value));
  return Result;
}

std::string LengthPrefixed(const std::string& Value) {
  // One length byte: longer names and credentials are cut at 255 bytes.
  const std::string Cut = Value.substr(0, 255);
  return static_cast<char>(Cut.size()) + Cut;
}

}  // namespace

TSocksBlockSocket::TSocksBlockSocket() = default;

TSocksBlockSocket::TSocksBlockSocket(const std::string& Stub) : TBlockSocket(Stub) {}

bool TSocksBlockSocket::SocksOpen() {
  FBypassFlag = true;
  FSocksLastError = 0;
  bool Result = true;
  if (FSocksType == TSocksType::ST_Socks5) {
    const bool WithLogin = !FSocksUsername.empty();
    static_cast<void>(SendString(WithLogin ? Bytes({5, 2, NoAuthentication, UserPassword})
                                           : Bytes({5, 1, NoAuthentication})));
    const std::string Reply = LastError() == 0 ? RecvBufferStr(2, FSocksTimeout) : "";
    Result = Reply.size() == 2 && Reply[0] == Socks5;
    if (Result) {
      const auto Method = static_cast<unsigned char>(Reply[1]);
      if (Method == UserPassword && WithLogin) {
        static_cast<void>(SendString(static_cast<char>(1) + LengthPrefixed(FSocksUsername) +
                                     LengthPrefixed(FSocksPassword)));
        const std::string Status = LastError() == 0 ? RecvBufferStr(2, FSocksTimeout) : "";
        Result = Status.size() == 2 && Status[1] == 0;
      } else {
        Result = Method == NoAuthentication;
      }
    }
  }
  FBypassFlag = false;
  return Result;
}

bool TSocksBlockSocket::SocksTarget(const std::string& IP, std::string& Address) {
  Address = IP;
  if (FSocksResolver || IsIP(IP) || (FSocksType == TSocksType::ST_Socks5 && IsIP6(IP)))
    return true;
  // SOCKS4 carries only an IPv4 address; SOCKS5 takes either, IPv4 first.
  const int Family = FSocksType == TSocksType::ST_Socks4 ? AF_INET : AF_UNSPEC;
  TVarSin Sin;
  ResetLastError();
  SetLastError(SetVarSin(Sin, IP, "0", Family, GetSocketProtocol(), GetSocketType(), PreferIP4()));
  if (LastError() != 0)
    return false;
  Address = GetSinIP(Sin);
  return true;
}

std::string TSocksBlockSocket::SocksCode(const std::string& Address, const std::string& Port) {
  const std::string PortBytes = support::CodeInt(static_cast<std::uint16_t>(ResolvePort(Port)));
  if (FSocksType == TSocksType::ST_Socks4) {
    // SOCKS4a: an address of 0.0.0.x asks the proxy to resolve the name
    // that follows the user id.
    const bool ProxyResolves = !IsIP(Address);
    std::string Result = PortBytes + (ProxyResolves ? Bytes({0, 0, 0, 1}) : IPToID(Address));
    Result += FSocksUsername + '\0';
    if (ProxyResolves)
      Result += Address + '\0';
    return Result;
  }
  if (IsIP(Address))
    return static_cast<char>(AddressIP4) + IPToID(Address) + PortBytes;
  if (IsIP6(Address)) {
    const auto Ip6 = StrToIp6(Address);
    return static_cast<char>(AddressIP6) + std::string(Ip6.begin(), Ip6.end()) + PortBytes;
  }
  return static_cast<char>(AddressName) + LengthPrefixed(Address) + PortBytes;
}

bool TSocksBlockSocket::SocksRequest(std::uint8_t Cmd, const std::string& IP,
                                     const std::string& Port) {
  std::string Address;
  if (!SocksTarget(IP, Address))
    return false;
  FBypassFlag = true;
  const std::string Header = FSocksType == TSocksType::ST_Socks5
                                 ? Bytes({5, Cmd, 0})
                                 : Bytes({static_cast<unsigned char>(Socks4), Cmd});
  static_cast<void>(SendString(Header + SocksCode(Address, Port)));
  FBypassFlag = false;
  return LastError() == 0;
}

bool TSocksBlockSocket::SocksReadAddress(std::uint8_t AddressType) {
  std::string Address;
  switch (AddressType) {
    case AddressIP4: {
      Address = RecvBufferStr(4, FSocksTimeout);
      if (LastError() != 0)
        return false;
      FSocksResponseIP.clear();
      for (int N = 0; N < 4; ++N) {
        if (N > 0)
          FSocksResponseIP += '.';
        FSocksResponseIP += std::to_string(static_cast<unsigned char>(Address[N]));
      }
      break;
    }
    case AddressIP6: {
      Address = RecvBufferStr(16, FSocksTimeout);
      if (LastError() != 0)
        return false;
      std::array<std::uint8_t, 16> Ip6{};
      for (std::size_t N = 0; N < 16; ++N)
        Ip6[N] = static_cast<std::uint8_t>(Address[N]);
      FSocksResponseIP = Ip6ToStr(Ip6);
      break;
    }
    case AddressName: {
      const std::uint8_t Length = RecvByte(FSocksTimeout);
      if (LastError() != 0)
        return false;
      FSocksResponseIP = Length > 0 ? RecvBufferStr(Length, FSocksTimeout) : "";
      if (LastError() != 0)
        return false;
      break;
    }
    default: return false;
  }
  const std::string PortBytes = RecvBufferStr(2, FSocksTimeout);
  if (LastError() != 0)
    return false;
  FSocksResponsePort = std::to_string(support::DecodeInt(PortBytes, 1));
  return true;
}

bool TSocksBlockSocket::SocksResponse() {
  FBypassFlag = true;
  FSocksResponseIP.clear();
  FSocksResponsePort.clear();
  bool Result = false;
  if (FSocksType == TSocksType::ST_Socks5) {
    const std::string Head = RecvBufferStr(4, FSocksTimeout);
    if (LastError() == 0 && Head[0] == Socks5) {
      FSocksLastError = static_cast<unsigned char>(Head[1]);
      Result = FSocksLastError == 0 && SocksReadAddress(static_cast<std::uint8_t>(Head[3]));
    } else {
      FSocksLastError = -1;
    }
  } else {
    const std::string Reply = RecvBufferStr(8, FSocksTimeout);
    if (LastError() == 0 && Reply[0] == 0) {
      const auto Code = static_cast<unsigned char>(Reply[1]);
      FSocksLastError = Code == Socks4Granted ? 0 : Code;
      FSocksResponsePort = std::to_string(support::DecodeInt(Reply, 3));
      FSocksResponseIP.clear();
      for (int N = 4; N < 8; ++N) {
        if (N > 4)
          FSocksResponseIP += '.';
        FSocksResponseIP += std::to_string(static_cast<unsigned char>(Reply[N]));
      }
      Result = FSocksLastError == 0;
    } else {
      FSocksLastError = -1;
    }
  }
  FBypassFlag = false;
  return Result;
}

}  // namespace tandrel::net
