#include "net/TCPBlockSocket.h"

#include "net/AddressText.h"
#include "net/detail/Native.h"
#include "support/Codings.h"

namespace tandrel::net {

using namespace detail;

namespace {

constexpr std::uint8_t SocksConnect = 1;
constexpr std::uint8_t SocksBind = 2;

}  // namespace

TTCPBlockSocket::TTCPBlockSocket() : TTCPBlockSocket(SSLImplementation) {}

TTCPBlockSocket::TTCPBlockSocket(TSSLClass SSLPlugin)
    : FSSL(SSLPlugin != nullptr ? SSLPlugin(*this) : CreateSSLNone(*this)) {}

TTCPBlockSocket::~TTCPBlockSocket() {
    DropHooks();
    FOnAfterConnect = nullptr;
    TTCPBlockSocket::CloseSocket();
}

void TTCPBlockSocket::CloseSocket() {
    // After AbortSocket the plug-in finds no handle: its close notice goes
    // nowhere and only its state is released.
    if (FSSL->SSLEnabled()) FSSL->Shutdown();
    if (FSocket != -1 && LastError() == 0) {
        static_cast<void>(UseHandle([](int Handle) { return NativeShutdownSend(Handle); }));
        Purge();
    }
    FUsingSocks = false;
    FHTTPTunnel = false;
    AbortSocket();
}

void TTCPBlockSocket::DoAfterConnect() {
    if (FOnAfterConnect) FOnAfterConnect(*this);
}

void TTCPBlockSocket::Connect(const std::string& IP, const std::string& Port) {
    if (!FSocksIP.empty())
        SocksDoConnect(IP, Port);
    else if (!FHTTPTunnelIP.empty())
        HTTPTunnelDoConnect(IP, Port);
    else
        TBlockSocket::Connect(IP, Port);
    if (LastError() == 0) DoAfterConnect();
}

void TTCPBlockSocket::SocksDoConnect(const std::string& IP, const std::string& Port) {
    // A name we cannot resolve ourselves ends here: the proxy hears nothing.
    std::string target;
    if (!SocksTarget(IP, target)) {
        ExceptCheck();
        return;
    }
    TBlockSocket::Connect(FSocksIP, FSocksPort);
    if (LastError() != 0) return;
    const bool granted = SocksOpen() && SocksRequest(SocksConnect, target, Port) && SocksResponse();
    if (granted) {
        FUsingSocks = true;
        FSocksLocalIP = FSocksResponseIP;
        FSocksLocalPort = FSocksResponsePort;
        FSocksRemoteIP = IP;
        FSocksRemotePort = Port;
        ResetLastError();
    } else {
        SetLastError(WSASYSNOTREADY);
    }
    ExceptCheck();
}

void TTCPBlockSocket::HTTPTunnelDoConnect(const std::string& IP, const std::string& Port) {
    FHTTPTunnel = false;
    const std::string portNumber = std::to_string(ResolvePort(Port));
    TBlockSocket::Connect(FHTTPTunnelIP, FHTTPTunnelPort);
    if (LastError() != 0) return;
    const std::string host = IsIP6(IP) ? "[" + IP + "]" : IP;
    std::string request = "CONNECT " + host + ":" + portNumber + " HTTP/1.0\r\n";
    if (!FHTTPTunnelUser.empty())
        request += "Proxy-Authorization: Basic " +
                   support::EncodeBase64(FHTTPTunnelUser + ":" + FHTTPTunnelPass) + "\r\n";
    static_cast<void>(SendString(request + "\r\n"));
    while (LastError() == 0) {
        const std::string line = RecvTerminated(FHTTPTunnelTimeout, "\n");
        if (LastError() != 0) break;
        if (line.size() > 11 && line.compare(0, 5, "HTTP/") == 0) FHTTPTunnel = line[9] == '2';
        if (line.empty() || line == "\r") break;
    }
    if (LastError() == 0 && !FHTTPTunnel) SetLastError(WSAECONNREFUSED);
    if (FHTTPTunnel) {
        FHTTPTunnelRemoteIP = IP;
        FHTTPTunnelRemotePort = Port;
    }
    ExceptCheck();
}

void TTCPBlockSocket::Listen() {
    if (FSocksIP.empty()) {
        TBlockSocket::Listen();
        return;
    }
    // Through the proxy: ask it to listen for us and report where.
    // Without a local address of our own, any peer may call.
    std::string localIp = GetLocalSinIP();
    if (localIp.empty()) localIp = "0.0.0.0";
    const std::string localPort = std::to_string(GetLocalSinPort());
    TBlockSocket::Connect(FSocksIP, FSocksPort);
    if (LastError() == 0) {
        const bool granted = SocksOpen() && SocksRequest(SocksBind, localIp, localPort) && SocksResponse();
        if (granted) {
            FUsingSocks = true;
            FSocksLocalIP = FSocksResponseIP;
            FSocksLocalPort = FSocksResponsePort;
            ResetLastError();
        } else {
            SetLastError(WSANO_RECOVERY);
        }
        ExceptCheck();
    }
    DoStatus(THookSocketReason::HR_Listen, "");
}

int TTCPBlockSocket::Accept() {
    if (!FUsingSocks) return TBlockSocket::Accept();
    // The proxy's second reply names the peer that connected.
    if (SocksResponse()) {
        FSocksRemoteIP = FSocksResponseIP;
        FSocksRemotePort = FSocksResponsePort;
        ResetLastError();
    } else {
        SetLastError(WSANO_RECOVERY);
    }
    ExceptCheck();
    DoStatus(THookSocketReason::HR_Accept, "");
    return LastError() == 0 ? FSocket.load() : -1;
}

int TTCPBlockSocket::SendBuffer(const void* Buffer, int Length) {
    if (!FSSL->SSLEnabled()) return TBlockSocket::SendBuffer(Buffer, Length);
    if (TestStopFlag()) return 0;
    ResetLastError();
    DoMonitor(true, Buffer, Length);
    return SendChunked(Buffer, Length, [this](const std::uint8_t* Data, int Len) {
        int written = FSSL->SendBuffer(Data, Len);
        // No room in time: as for a plain send, wait for room once, then give up.
        if (FSSL->LastError() == TCustomSSL::WantWrite) {
            if (CanWrite(NonblockSendTimeout())) written = FSSL->SendBuffer(Data, Len);
            if (FSSL->LastError() == TCustomSSL::WantWrite) {
                SetLastError(WSAETIMEDOUT);
                return -1;
            }
        }
        // A plug-in error, or no progress because the peer closed TLS.
        if (FSSL->LastError() != 0 || written <= 0) {
            SetLastError(WSASYSNOTREADY);
            return -1;
        }
        return written;
    });
}

int TTCPBlockSocket::RecvBuffer(void* Buffer, int Length) {
    if (!FSSL->SSLEnabled()) return TBlockSocket::RecvBuffer(Buffer, Length);
    if (TestStopFlag()) return 0;
    ResetLastError();
    LimitRecvBandwidth(Length);
    int count = FSSL->RecvBuffer(Buffer, Length);
    if (FSSL->LastError() == TCustomSSL::WantRead)
        SetLastError(WSAEWOULDBLOCK);
    else if (FSSL->LastError() != 0)
        SetLastError(WSASYSNOTREADY);
    else if (count == 0)
        SetLastError(WSAEDISCON);  // the peer ended TLS with its close notice
    ExceptCheck();
    if (count > 0 && LastError() == 0) count = AfterRecv(Buffer, count);
    return count;
}

int TTCPBlockSocket::WaitingData() {
    if (FSSL->SSLEnabled() && FSocket != -1) {
        const int pending = FSSL->WaitingData();
        if (pending > 0) return std::min(pending, 65536);
    }
    return TBlockSocket::WaitingData();
}

std::string TTCPBlockSocket::GetLocalSinIP() {
    return FUsingSocks ? FSocksLocalIP : TBlockSocket::GetLocalSinIP();
}

std::string TTCPBlockSocket::GetRemoteSinIP() {
    if (FUsingSocks) return FSocksRemoteIP;
    if (FHTTPTunnel) return FHTTPTunnelRemoteIP;
    return TBlockSocket::GetRemoteSinIP();
}

int TTCPBlockSocket::GetLocalSinPort() {
    return FUsingSocks ? ResolvePort(FSocksLocalPort) : TBlockSocket::GetLocalSinPort();
}

int TTCPBlockSocket::GetRemoteSinPort() {
    if (FUsingSocks) return ResolvePort(FSocksRemotePort);
    if (FHTTPTunnel) return ResolvePort(FHTTPTunnelRemotePort);
    return TBlockSocket::GetRemoteSinPort();
}

int TTCPBlockSocket::GetSocketType() { return NativeStreamType(); }
int TTCPBlockSocket::GetSocketProtocol() { return NativeTCPProtocol(); }

std::string TTCPBlockSocket::GetErrorDescEx() {
    if (LastError() == WSASYSNOTREADY && FSSL->LastError() != 0) return FSSL->LastErrorDesc();
    return TBlockSocket::GetErrorDescEx();
}

void TTCPBlockSocket::SSLDoConnect() {
    ResetLastError();
    if (!FSSL->Connect()) SetLastError(WSASYSNOTREADY);
    ExceptCheck();
}

void TTCPBlockSocket::SSLDoShutdown() {
    ResetLastError();
    FSSL->BiShutdown();
}

bool TTCPBlockSocket::SSLAcceptConnection() {
    ResetLastError();
    if (!FSSL->Accept()) SetLastError(WSASYSNOTREADY);
    ExceptCheck();
    return LastError() == 0;
}

}  // namespace tandrel::net
