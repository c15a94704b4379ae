#include "net/SocketInterface.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "net/AddressText.h"
#include "net/SocketErrors.h"
#include "net/detail/Native.h"

namespace tandrel::net {

std::mutex SockCS;
int SockCount = 0;
bool SockEnhancedApi = false;
bool SockWship6Api = false;

namespace {

struct TAddrInfoFree {
  void operator()(addrinfo* Value) const noexcept { freeaddrinfo(Value); }
};
using TAddrInfoList = std::unique_ptr<addrinfo, TAddrInfoFree>;

/// getaddrinfo with the result held; returns 0 or a Winsock number.
int LookUp(const char* Host, const char* Service, const addrinfo& Hints, TAddrInfoList& List) {
  addrinfo* Raw = nullptr;
  const int Result = getaddrinfo(Host, Service, &Hints, &Raw);
  const int Errno = errno;
  List.reset(Raw);
  return ErrorFromGai(Result, Errno);
}

void CopyAddress(TVarSin& Sin, const addrinfo& Entry) {
  if (Entry.ai_addr != nullptr && Entry.ai_addrlen <= sizeof(TVarSin))
    std::memcpy(&Sin.sin6, Entry.ai_addr, Entry.ai_addrlen);
}

const char* ServiceOf(const std::string& Port) { return Port.empty() ? "0" : Port.c_str(); }

/// One pass of SetVarSin for one family.
int GetAddr(TVarSin& Sin, const std::string& IP, const std::string& Port, int Family,
            int SockProtocol, int SockType) {
  Sin = TVarSin();
  addrinfo Hints{};
  Hints.ai_family = Family;
  Hints.ai_socktype = SockType;
  Hints.ai_protocol = SockProtocol;
  TAddrInfoList List;
  int Result;
  if (SockType == SOCK_RAW) {
    Hints.ai_socktype = 0;
    Hints.ai_protocol = 0;
    Result = LookUp(IP.c_str(), nullptr, Hints, List);
  } else if (IP == "0.0.0.0" || IP == "::0") {
    Hints.ai_flags = AI_PASSIVE;
    Result = LookUp(nullptr, ServiceOf(Port), Hints, List);
  } else if (IP == "127.0.0.1" || IP == "::1") {
    Result = LookUp(nullptr, ServiceOf(Port), Hints, List);
  } else {
    Result = LookUp(IP.c_str(), ServiceOf(Port), Hints, List);
  }
  if (Result == 0 && List)
    CopyAddress(Sin, *List);
  return Result;
}

std::string NumericHost(const sockaddr* Address, socklen_t Length) {
  std::array<char, 1025> Host{};
  std::array<char, 32> Service{};
  if (getnameinfo(Address, Length, Host.data(), Host.size(), Service.data(), Service.size(),
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return {};
  return Host.data();
}

}  // namespace

TVarSin::TVarSin() noexcept : sin6{} {}

socklen_t SizeOfVarSin(const TVarSin& Sin) noexcept {
  switch (Sin.Family()) {
    case AF_INET: return sizeof(sockaddr_in);
    case AF_INET6: return sizeof(sockaddr_in6);
    default: return 0;
  }
}

bool InitSocketInterface(const std::string&) {
  const std::lock_guard Lock(SockCS);
  // The socket calls are linked in: binding cannot fail and the address
  // lookups are always there.
  SockEnhancedApi = true;
  SockWship6Api = false;
  ++SockCount;
  return true;
}

bool DestroySocketInterface() {
  const std::lock_guard Lock(SockCS);
  if (SockCount > 0)
    --SockCount;
  return true;
}

bool IsNewApi(int Family) noexcept {
  return SockEnhancedApi || (SockWship6Api && Family == AF_INET6);
}

int SetVarSin(TVarSin& Sin, const std::string& IP, const std::string& Port, int Family,
              int SockProtocol, int SockType, bool PreferIP4) {
  Sin = TVarSin();
  if (Family != AF_UNSPEC)
    return GetAddr(Sin, IP, Port, Family, SockProtocol, SockType);
  const int First = PreferIP4 ? AF_INET : AF_INET6;
  const int Second = PreferIP4 ? AF_INET6 : AF_INET;
  int Result = GetAddr(Sin, IP, Port, First, SockProtocol, SockType);
  if (Result != 0) {
    TVarSin Other;
    Result = GetAddr(Other, IP, Port, Second, SockProtocol, SockType);
    if (Result == 0)
      Sin = Other;
  }
  return Result;
}

std::string GetSinIP(const TVarSin& Sin) {
  const socklen_t Length = SizeOfVarSin(Sin);
  if (Length == 0)
    return {};
  return NumericHost(&Sin.sa, Length);
}

int GetSinPort(const TVarSin& Sin) noexcept {
  if (Sin.Family() == AF_INET6)
    return ntohs(Sin.sin6.sin6_port);
  return ntohs(Sin.sin.sin_port);
}

void ResolveNameToIP(const std::string& Name, int Family, int SockProtocol, int SockType,
                     std::vector<std::string>& IPList) {
  IPList.clear();
  addrinfo Hints{};
  Hints.ai_family = AF_UNSPEC;
  Hints.ai_socktype = SockType;
  Hints.ai_protocol = SockProtocol;
  TAddrInfoList List;
  if (LookUp(Name.c_str(), nullptr, Hints, List) == 0) {
    for (const addrinfo* Entry = List.get(); Entry != nullptr; Entry = Entry->ai_next) {
      if ((Family == AF_INET6 && Entry->ai_family == AF_INET) ||
          (Family == AF_INET && Entry->ai_family == AF_INET6))
        continue;
      std::string Text = NumericHost(Entry->ai_addr, Entry->ai_addrlen);
      if (!Text.empty())
        IPList.push_back(std::move(Text));
    }
  }
  if (IPList.empty())
    IPList.emplace_back("0.0.0.0");
}

int ResolvePort(const std::string& Port, int Family, int SockProtocol, int SockType) {
  addrinfo Hints{};
  Hints.ai_family = Family;
  Hints.ai_socktype = SockType;
  Hints.ai_protocol = SockProtocol;
  Hints.ai_flags = AI_PASSIVE;
  TAddrInfoList List;
  if (LookUp(nullptr, ServiceOf(Port), Hints, List) != 0 || !List)
    return 0;
  TVarSin Sin;
  CopyAddress(Sin, *List);
  return GetSinPort(Sin);
}

std::string ResolveIPToName(const std::string& IP, int Family, int SockProtocol, int SockType) {
  std::string Result = IP;
  addrinfo Hints{};
  Hints.ai_family = Family;
  Hints.ai_socktype = SockType;
  Hints.ai_protocol = SockProtocol;
  TAddrInfoList List;
  if (LookUp(IP.c_str(), nullptr, Hints, List) != 0 || !List)
    return Result;
  std::array<char, 1025> Host{};
  if (getnameinfo(List->ai_addr, List->ai_addrlen, Host.data(), Host.size(), nullptr, 0,
                  NI_NAMEREQD) == 0)
    Result = Host.data();
  return Result;
}

std::string GetHostName() {
  std::array<char, 255> Name{};
  if (gethostname(Name.data(), 254) != 0)
    return {};
  return Name.data();
}

std::string FullyQualifiedName(const std::string& Name) {
  if (Name.empty())
    return {};
  addrinfo Hints{};
  Hints.ai_flags = AI_CANONNAME;
  Hints.ai_socktype = SOCK_STREAM;
  TAddrInfoList List;
  if (LookUp(Name.c_str(), nullptr, Hints, List) != 0 || !List || List->ai_canonname == nullptr)
    return {};
  const std::string Canonical = List->ai_canonname;
  const bool Domain = Canonical.find('.') != std::string::npos && Canonical.back() != '.' &&
                      !IsIP(Canonical) && !IsIP6(Canonical);
  return Domain ? Canonical : std::string();
}

namespace detail {

int LastSocketError() noexcept { return ErrorFromErrno(errno); }

int NativeSocket(int Family, int Type, int Protocol) noexcept {
  // Close-on-exec: a helper process started later must not keep our
  // connections open.
  return ::socket(Family, Type | SOCK_CLOEXEC, Protocol);
}

int NativeClose(int Socket) noexcept { return ::close(Socket); }

int NativeBind(int Socket, const TVarSin& Sin) noexcept {
  return ::bind(Socket, &Sin.sa, SizeOfVarSin(Sin));
}

int NativeConnect(int Socket, const TVarSin& Sin) noexcept {
  return ::connect(Socket, &Sin.sa, SizeOfVarSin(Sin));
}

int NativeListen(int Socket) noexcept { return ::listen(Socket, SOMAXCONN); }

int NativeAccept(int Socket, TVarSin& Sin) noexcept {
  Sin = TVarSin();
  socklen_t Length = sizeof(TVarSin);
  return ::accept4(Socket, &Sin.sa, &Length, SOCK_CLOEXEC);
}

int NativeSend(int Socket, const void* Buffer, int Length) noexcept {
  return static_cast<int>(::send(Socket, Buffer, static_cast<size_t>(Length), MSG_NOSIGNAL));
}

int NativeRecv(int Socket, void* Buffer, int Length, bool Peek) noexcept {
  return static_cast<int>(::recv(Socket, Buffer, static_cast<size_t>(Length), Peek ? MSG_PEEK : 0));
}

int NativeRecvArrived(int Socket, void* Buffer, int Length) noexcept {
  return static_cast<int>(::recv(Socket, Buffer, static_cast<size_t>(Length), MSG_DONTWAIT));
}

int NativeSendTo(int Socket, const void* Buffer, int Length, const TVarSin& Sin) noexcept {
  return static_cast<int>(::sendto(Socket, Buffer, static_cast<size_t>(Length), MSG_NOSIGNAL,
                                   &Sin.sa, SizeOfVarSin(Sin)));
}

int NativeRecvFrom(int Socket, void* Buffer, int Length, TVarSin& Sin) noexcept {
  socklen_t SinLength = sizeof(TVarSin);
  return static_cast<int>(
      ::recvfrom(Socket, Buffer, static_cast<size_t>(Length), 0, &Sin.sa, &SinLength));
}

int NativeGetSockName(int Socket, TVarSin& Sin) noexcept {
  Sin = TVarSin();
  socklen_t Length = sizeof(TVarSin);
  return ::getsockname(Socket, &Sin.sa, &Length);
}

int NativeGetPeerName(int Socket, TVarSin& Sin) noexcept {
  Sin = TVarSin();
  socklen_t Length = sizeof(TVarSin);
  return ::getpeername(Socket, &Sin.sa, &Length);
}

int NativeShutdownSend(int Socket) noexcept { return ::shutdown(Socket, SHUT_WR); }

int NativeShutdownBoth(int Socket) noexcept { return ::shutdown(Socket, SHUT_RDWR); }

int NativeSetNonBlock(int Socket, bool Value) noexcept {
  int Arg = Value ? 1 : 0;
  return ::ioctl(Socket, FIONBIO, &Arg);
}

int NativeWaitingData(int Socket) noexcept {
  int Count = 0;
  if (::ioctl(Socket, FIONREAD, &Count) != 0)
    return -1;
  return Count;
}

namespace {

int SetInt(int Socket, int Level, int Option, int Value) noexcept {
  return ::setsockopt(Socket, Level, Option, &Value, sizeof(Value));
}

int SetMilliseconds(int Socket, int Option, int Value) noexcept {
  timeval Time{};
  Time.tv_sec = Value / 1000;
  Time.tv_usec = (Value % 1000) * 1000;
  return ::setsockopt(Socket, SOL_SOCKET, Option, &Time, sizeof(Time));
}

}  // namespace

int NativeApplyOption(int Socket, bool IP6, const TSockOption& Value) noexcept {
  switch (Value.Option) {
    case TSockOptionType::SOT_Linger: {
      linger Linger{};
      Linger.l_onoff = Value.Enabled ? 1 : 0;
      Linger.l_linger = Value.Value / 1000;
      return ::setsockopt(Socket, SOL_SOCKET, SO_LINGER, &Linger, sizeof(Linger));
    }
    case TSockOptionType::SOT_RecvBuff: return SetInt(Socket, SOL_SOCKET, SO_RCVBUF, Value.Value);
    case TSockOptionType::SOT_SendBuff: return SetInt(Socket, SOL_SOCKET, SO_SNDBUF, Value.Value);
    case TSockOptionType::SOT_NonBlock: return NativeSetNonBlock(Socket, Value.Enabled);
    case TSockOptionType::SOT_RecvTimeout: return SetMilliseconds(Socket, SO_RCVTIMEO, Value.Value);
    case TSockOptionType::SOT_SendTimeout: return SetMilliseconds(Socket, SO_SNDTIMEO, Value.Value);
    case TSockOptionType::SOT_Reuse: return SetInt(Socket, SOL_SOCKET, SO_REUSEADDR, Value.Enabled);
    case TSockOptionType::SOT_TTL:
      return IP6 ? SetInt(Socket, IPPROTO_IPV6, IPV6_UNICAST_HOPS, Value.Value)
                 : SetInt(Socket, IPPROTO_IP, IP_TTL, Value.Value);
    case TSockOptionType::SOT_Broadcast:
      return SetInt(Socket, SOL_SOCKET, SO_BROADCAST, Value.Enabled);
    case TSockOptionType::SOT_MulticastTTL:
      return IP6 ? SetInt(Socket, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, Value.Value)
                 : SetInt(Socket, IPPROTO_IP, IP_MULTICAST_TTL, Value.Value);
    case TSockOptionType::SOT_MulticastLoop:
      return IP6 ? SetInt(Socket, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, Value.Enabled)
                 : SetInt(Socket, IPPROTO_IP, IP_MULTICAST_LOOP, Value.Enabled);
    case TSockOptionType::SOT_NoDelay:
      return SetInt(Socket, IPPROTO_TCP, TCP_NODELAY, Value.Enabled);
  }
  errno = EINVAL;
  return -1;
}

int NativeReadOption(int Socket, bool IP6, TSockOptionType Option, int& Value) noexcept {
  int Level = SOL_SOCKET;
  int Name;
  switch (Option) {
    case TSockOptionType::SOT_RecvBuff: Name = SO_RCVBUF; break;
    case TSockOptionType::SOT_SendBuff: Name = SO_SNDBUF; break;
    case TSockOptionType::SOT_TTL:
      Level = IP6 ? IPPROTO_IPV6 : IPPROTO_IP;
      Name = IP6 ? IPV6_UNICAST_HOPS : IP_TTL;
      break;
    default: errno = EINVAL; return -1;
  }
  socklen_t Length = sizeof(Value);
  return ::getsockopt(Socket, Level, Name, &Value, &Length);
}

int NativeWait(int Socket, bool Write, int Timeout) noexcept {
  if (Socket < 0) {
    errno = EBADF;
    return -1;
  }
  // poll rather than select: handles above FD_SETSIZE stay safe.
  pollfd Entry{Socket, static_cast<short>(Write ? POLLOUT : POLLIN), 0};
  const int Result = ::poll(&Entry, 1, Timeout < 0 ? -1 : Timeout);
  if (Result > 0 && (Entry.revents & POLLNVAL) != 0) {
    errno = EBADF;
    return -1;
  }
  return Result > 0 ? 1 : Result;
}

int NativeWaitMany(const std::vector<int>& Sockets, int Timeout, std::vector<int>& Ready) {
  Ready.clear();
  std::vector<pollfd> Entries;
  Entries.reserve(Sockets.size());
  for (const int Socket : Sockets)
    Entries.push_back(pollfd{Socket, POLLIN, 0});
  const int Result = ::poll(Entries.data(), Entries.size(), Timeout < 0 ? -1 : Timeout);
  if (Result > 0)
    for (const pollfd& Entry : Entries)
      if (Entry.revents != 0)
        Ready.push_back(Entry.fd);
  return Result;
}

int NativePendingError(int Socket) noexcept {
  int Error = 0;
  socklen_t Length = sizeof(Error);
  if (::getsockopt(Socket, SOL_SOCKET, SO_ERROR, &Error, &Length) != 0)
    return LastSocketError();
  return ErrorFromErrno(Error);
}

void NativeSleep(int Milliseconds) noexcept {
  if (Milliseconds <= 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

int NativeStreamType() noexcept { return SOCK_STREAM; }
int NativeDatagramType() noexcept { return SOCK_DGRAM; }
int NativeTCPProtocol() noexcept { return IPPROTO_TCP; }
int NativeUDPProtocol() noexcept { return IPPROTO_UDP; }

}  // namespace detail

namespace {

// The socket interface is bound for the whole process, as the first user.
struct TProcessBinding {
  TProcessBinding() { static_cast<void>(InitSocketInterface("")); }
  ~TProcessBinding() { DestroySocketInterface(); }
};
const TProcessBinding ProcessBinding;

}  // namespace

}  // namespace tandrel::net
