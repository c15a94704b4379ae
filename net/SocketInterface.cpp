#include "net/SocketInterface.h"

#include "net/AddressText.h"
#include "net/SocketErrors.h"
#include "net/detail/Native.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

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
    addrinfo* raw = nullptr;
    const int result = getaddrinfo(Host, Service, &Hints, &raw);
    const int errorNumber = errno;
    List.reset(raw);
    return ErrorFromGai(result, errorNumber);
}

void CopyAddress(TVarSin& Sin, const addrinfo& Entry) {
    if (Entry.ai_addr != nullptr && Entry.ai_addrlen <= sizeof(TVarSin))
        std::memcpy(&Sin.sin6, Entry.ai_addr, Entry.ai_addrlen);
}

const char* ServiceOf(const std::string& Port) { return Port.empty() ? "0" : Port.c_str(); }

/// One pass of SetVarSin for one family.
int GetAddr(TVarSin& Sin, const std::string& IP, const std::string& Port, int Family, int SockProtocol,
            int SockType) {
    Sin = TVarSin();
    addrinfo hints{};
    hints.ai_family = Family;
    hints.ai_socktype = SockType;
    hints.ai_protocol = SockProtocol;
    TAddrInfoList list;
    int result;
    if (SockType == SOCK_RAW) {
        hints.ai_socktype = 0;
        hints.ai_protocol = 0;
        result = LookUp(IP.c_str(), nullptr, hints, list);
    } else if (IP == "0.0.0.0" || IP == "::0") {
        hints.ai_flags = AI_PASSIVE;
        result = LookUp(nullptr, ServiceOf(Port), hints, list);
    } else if (IP == "127.0.0.1" || IP == "::1") {
        result = LookUp(nullptr, ServiceOf(Port), hints, list);
    } else {
        result = LookUp(IP.c_str(), ServiceOf(Port), hints, list);
    }
    if (result == 0 && list) CopyAddress(Sin, *list);
    return result;
}

std::string NumericHost(const sockaddr* Address, socklen_t Length) {
    std::array<char, 1025> host{};
    std::array<char, 32> service{};
    if (getnameinfo(Address, Length, host.data(), host.size(), service.data(), service.size(),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    return host.data();
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
    const std::lock_guard lock(SockCS);
    // The socket calls are linked in: binding cannot fail and the address
    // lookups are always there.
    SockEnhancedApi = true;
    SockWship6Api = false;
    ++SockCount;
    return true;
}

bool DestroySocketInterface() {
    const std::lock_guard lock(SockCS);
    if (SockCount > 0) --SockCount;
    return true;
}

bool IsNewApi(int Family) noexcept { return SockEnhancedApi || (SockWship6Api && Family == AF_INET6); }

int SetVarSin(TVarSin& Sin, const std::string& IP, const std::string& Port, int Family, int SockProtocol,
              int SockType, bool PreferIP4) {
    Sin = TVarSin();
    if (Family != AF_UNSPEC) return GetAddr(Sin, IP, Port, Family, SockProtocol, SockType);
    const int first = PreferIP4 ? AF_INET : AF_INET6;
    const int second = PreferIP4 ? AF_INET6 : AF_INET;
    int result = GetAddr(Sin, IP, Port, first, SockProtocol, SockType);
    if (result != 0) {
        TVarSin other;
        result = GetAddr(other, IP, Port, second, SockProtocol, SockType);
        if (result == 0) Sin = other;
    }
    return result;
}

std::string GetSinIP(const TVarSin& Sin) {
    const socklen_t length = SizeOfVarSin(Sin);
    if (length == 0) return {};
    return NumericHost(&Sin.sa, length);
}

int GetSinPort(const TVarSin& Sin) noexcept {
    if (Sin.Family() == AF_INET6) return ntohs(Sin.sin6.sin6_port);
    return ntohs(Sin.sin.sin_port);
}

void ResolveNameToIP(const std::string& Name, int Family, int SockProtocol, int SockType,
                     std::vector<std::string>& IPList) {
    IPList.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SockType;
    hints.ai_protocol = SockProtocol;
    TAddrInfoList list;
    if (LookUp(Name.c_str(), nullptr, hints, list) == 0) {
        for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
            if ((Family == AF_INET6 && entry->ai_family == AF_INET) ||
                (Family == AF_INET && entry->ai_family == AF_INET6))
                continue;
            std::string text = NumericHost(entry->ai_addr, entry->ai_addrlen);
            if (!text.empty()) IPList.push_back(std::move(text));
        }
    }
    if (IPList.empty()) IPList.emplace_back("0.0.0.0");
}

int ResolvePort(const std::string& Port, int Family, int SockProtocol, int SockType) {
    addrinfo hints{};
    hints.ai_family = Family;
    hints.ai_socktype = SockType;
    hints.ai_protocol = SockProtocol;
    hints.ai_flags = AI_PASSIVE;
    TAddrInfoList list;
    if (LookUp(nullptr, ServiceOf(Port), hints, list) != 0 || !list) return 0;
    TVarSin sin;
    CopyAddress(sin, *list);
    return GetSinPort(sin);
}

std::string ResolveIPToName(const std::string& IP, int Family, int SockProtocol, int SockType) {
    std::string result = IP;
    addrinfo hints{};
    hints.ai_family = Family;
    hints.ai_socktype = SockType;
    hints.ai_protocol = SockProtocol;
    TAddrInfoList list;
    if (LookUp(IP.c_str(), nullptr, hints, list) != 0 || !list) return result;
    std::array<char, 1025> host{};
    if (getnameinfo(list->ai_addr, list->ai_addrlen, host.data(), host.size(), nullptr, 0, NI_NAMEREQD) == 0)
        result = host.data();
    return result;
}

std::string GetHostName() {
    std::array<char, 255> name{};
    if (gethostname(name.data(), 254) != 0) return {};
    return name.data();
}

std::string FullyQualifiedName(const std::string& Name) {
    if (Name.empty()) return {};
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    TAddrInfoList list;
    if (LookUp(Name.c_str(), nullptr, hints, list) != 0 || !list || list->ai_canonname == nullptr) return {};
    const std::string canonical = list->ai_canonname;
    const bool domain = canonical.find('.') != std::string::npos && canonical.back() != '.' &&
                        !IsIP(canonical) && !IsIP6(canonical);
    return domain ? canonical : std::string();
}

namespace detail {

int LastSocketError() noexcept { return ErrorFromErrno(errno); }

int NativeSocket(int Family, int Type, int Protocol) noexcept {
    // Close-on-exec: a helper process started later must not keep our
    // connections open.
    return ::socket(Family, Type | SOCK_CLOEXEC, Protocol);
}

int NativeClose(int Socket) noexcept { return ::close(Socket); }

int NativeBind(int Socket, const TVarSin& Sin) noexcept { return ::bind(Socket, &Sin.sa, SizeOfVarSin(Sin)); }

int NativeConnect(int Socket, const TVarSin& Sin) noexcept {
    return ::connect(Socket, &Sin.sa, SizeOfVarSin(Sin));
}

int NativeListen(int Socket) noexcept { return ::listen(Socket, SOMAXCONN); }

int NativeAccept(int Socket, TVarSin& Sin) noexcept {
    Sin = TVarSin();
    socklen_t length = sizeof(TVarSin);
    return ::accept4(Socket, &Sin.sa, &length, SOCK_CLOEXEC);
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
    return static_cast<int>(
        ::sendto(Socket, Buffer, static_cast<size_t>(Length), MSG_NOSIGNAL, &Sin.sa, SizeOfVarSin(Sin)));
}

int NativeRecvFrom(int Socket, void* Buffer, int Length, TVarSin& Sin) noexcept {
    socklen_t sinLength = sizeof(TVarSin);
    return static_cast<int>(::recvfrom(Socket, Buffer, static_cast<size_t>(Length), 0, &Sin.sa, &sinLength));
}

int NativeGetSockName(int Socket, TVarSin& Sin) noexcept {
    Sin = TVarSin();
    socklen_t length = sizeof(TVarSin);
    return ::getsockname(Socket, &Sin.sa, &length);
}

int NativeGetPeerName(int Socket, TVarSin& Sin) noexcept {
    Sin = TVarSin();
    socklen_t length = sizeof(TVarSin);
    return ::getpeername(Socket, &Sin.sa, &length);
}

int NativeShutdownSend(int Socket) noexcept { return ::shutdown(Socket, SHUT_WR); }

int NativeShutdownBoth(int Socket) noexcept { return ::shutdown(Socket, SHUT_RDWR); }

int NativeSetNonBlock(int Socket, bool Value) noexcept {
    int arg = Value ? 1 : 0;
    return ::ioctl(Socket, FIONBIO, &arg);
}

int NativeWaitingData(int Socket) noexcept {
    int count = 0;
    if (::ioctl(Socket, FIONREAD, &count) != 0) return -1;
    return count;
}

namespace {

int SetInt(int Socket, int Level, int Option, int Value) noexcept {
    return ::setsockopt(Socket, Level, Option, &Value, sizeof(Value));
}

int SetMilliseconds(int Socket, int Option, int Value) noexcept {
    timeval time{};
    time.tv_sec = Value / 1000;
    time.tv_usec = (Value % 1000) * 1000;
    return ::setsockopt(Socket, SOL_SOCKET, Option, &time, sizeof(time));
}

}  // namespace

int NativeApplyOption(int Socket, bool IP6, const TSockOption& Value) noexcept {
    switch (Value.Option) {
        case TSockOptionType::SOT_Linger: {
            linger linger{};
            linger.l_onoff = Value.Enabled ? 1 : 0;
            linger.l_linger = Value.Value / 1000;
            return ::setsockopt(Socket, SOL_SOCKET, SO_LINGER, &linger, sizeof(linger));
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
        case TSockOptionType::SOT_Broadcast: return SetInt(Socket, SOL_SOCKET, SO_BROADCAST, Value.Enabled);
        case TSockOptionType::SOT_MulticastTTL:
            return IP6 ? SetInt(Socket, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, Value.Value)
                       : SetInt(Socket, IPPROTO_IP, IP_MULTICAST_TTL, Value.Value);
        case TSockOptionType::SOT_MulticastLoop:
            return IP6 ? SetInt(Socket, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, Value.Enabled)
                       : SetInt(Socket, IPPROTO_IP, IP_MULTICAST_LOOP, Value.Enabled);
        case TSockOptionType::SOT_NoDelay: return SetInt(Socket, IPPROTO_TCP, TCP_NODELAY, Value.Enabled);
    }
    errno = EINVAL;
    return -1;
}

int NativeReadOption(int Socket, bool IP6, TSockOptionType Option, int& Value) noexcept {
    int level = SOL_SOCKET;
    int name;
    switch (Option) {
        case TSockOptionType::SOT_RecvBuff: name = SO_RCVBUF; break;
        case TSockOptionType::SOT_SendBuff: name = SO_SNDBUF; break;
        case TSockOptionType::SOT_TTL:
            level = IP6 ? IPPROTO_IPV6 : IPPROTO_IP;
            name = IP6 ? IPV6_UNICAST_HOPS : IP_TTL;
            break;
        default: errno = EINVAL; return -1;
    }
    socklen_t length = sizeof(Value);
    return ::getsockopt(Socket, level, name, &Value, &length);
}

int NativeWait(int Socket, bool Write, int Timeout) noexcept {
    if (Socket < 0) {
        errno = EBADF;
        return -1;
    }
    // poll rather than select: handles above FD_SETSIZE stay safe.
    pollfd entry{Socket, static_cast<short>(Write ? POLLOUT : POLLIN), 0};
    const int result = ::poll(&entry, 1, Timeout < 0 ? -1 : Timeout);
    if (result > 0 && (entry.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return -1;
    }
    return result > 0 ? 1 : result;
}

int NativeWaitMany(const std::vector<int>& Sockets, int Timeout, std::vector<int>& Ready) {
    Ready.clear();
    std::vector<pollfd> entries;
    entries.reserve(Sockets.size());
    for (const int socket : Sockets) entries.push_back(pollfd{socket, POLLIN, 0});
    const int result = ::poll(entries.data(), entries.size(), Timeout < 0 ? -1 : Timeout);
    if (result > 0)
        for (const pollfd& entry : entries)
            if (entry.revents != 0) Ready.push_back(entry.fd);
    return result;
}

int NativePendingError(int Socket) noexcept {
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(Socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return LastSocketError();
    return ErrorFromErrno(error);
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
