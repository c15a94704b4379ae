// TBlockSocket: hooks, errors, the handle and its options, opening and closing,
// lookups, readiness and the bandwidth limit. Reading, writing and datagrams
// are in BlockSocketRead.cpp, BlockSocketWrite.cpp and BlockSocketDatagram.cpp.

#include "net/BlockSocket.h"

#include "net/AddressText.h"
#include "net/detail/Native.h"
#include "support/Tick.h"

#include <algorithm>

namespace tandrel::net {

using namespace detail;

namespace {

constexpr int MaxWaitingData = 65536;

}  // namespace

int FamilyToAF(TSocketFamily Family) noexcept {
    switch (Family) {
        case TSocketFamily::SF_IP4: return AF_INET;
        case TSocketFamily::SF_IP6: return AF_INET6;
        default: return AF_UNSPEC;
    }
}

TBlockSocket::TBlockSocket() = default;

TBlockSocket::TBlockSocket(const std::string&) {}

TBlockSocket::~TBlockSocket() {
    DropHooks();
    if (FSocket != -1) TBlockSocket::CloseSocket();
}

void TBlockSocket::DropHooks() noexcept {
    // Whoever set a hook may already be gone while its socket is destroyed.
    FOnStatus = nullptr;
    FOnReadFilter = nullptr;
    FOnCreateSocket = nullptr;
    FOnMonitor = nullptr;
    FOnHeartbeat = nullptr;
}

// --- status and hooks ------------------------------------------------------

void TBlockSocket::DoStatus(THookSocketReason Reason, const std::string& Value) {
    if (FOnStatus) FOnStatus(*this, Reason, Value);
}

void TBlockSocket::DoReadFilter(std::string& Buffer, int& Length) {
    if (!FOnReadFilter) return;
    FOnReadFilter(*this, Buffer);
    // The filter may shorten the bytes but never lengthen what was read.
    if (Buffer.size() > static_cast<std::size_t>(Length)) Buffer.resize(static_cast<std::size_t>(Length));
    Length = static_cast<int>(Buffer.size());
}

void TBlockSocket::DoMonitor(bool Writing, const void* Buffer, int Len) {
    if (FOnMonitor) FOnMonitor(*this, Writing, Buffer, Len);
}

void TBlockSocket::DoCreateSocket() {
    if (FOnCreateSocket) FOnCreateSocket(*this);
}

void TBlockSocket::DoHeartbeat() {
    if (FOnHeartbeat && FHeartbeatRate != 0) FOnHeartbeat(*this);
}

// --- errors ----------------------------------------------------------------

void TBlockSocket::ResetLastError() {
    FLastError = 0;
    FLastErrorDesc.clear();
}

int TBlockSocket::SockCheck(int SockResult) {
    ResetLastError();
    if (SockResult == -1) {
        FLastError = LastSocketError();
        FLastErrorDesc = GetErrorDescEx();
    }
    return FLastError;
}

int TBlockSocket::SockCheck(const THandleResult& Call) {
    ResetLastError();
    if (Call.Result == -1) {
        FLastError = Call.Error();
        FLastErrorDesc = GetErrorDescEx();
    }
    return FLastError;
}

void TBlockSocket::ExceptCheck() {
    FLastErrorDesc = GetErrorDescEx();
    if (FLastError == 0 || FLastError == WSAEINPROGRESS || FLastError == WSAEWOULDBLOCK) return;
    DoStatus(THookSocketReason::HR_Error, std::to_string(FLastError) + "," + FLastErrorDesc);
    if (FRaiseExcept) throw ESocketError(FLastError, FLastErrorDesc);
}

std::string TBlockSocket::GetErrorDesc(int ErrorCode) { return net::GetErrorDesc(ErrorCode); }

std::string TBlockSocket::GetErrorDescEx() { return GetErrorDesc(FLastError); }

bool TBlockSocket::TestStopFlag() {
    DoHeartbeat();
    if (!FStopFlag) return false;
    FStopFlag = false;
    FLastError = WSAECONNABORTED;
    ExceptCheck();
    return true;
}

// --- handle, family, options -------------------------------------------------

void TBlockSocket::SetFamily(TSocketFamily Value) {
    FFamily = Value;
    FFamilySave = Value;
}

void TBlockSocket::SetSocket(int Value) {
    FRecvCounter = 0;
    FSendCounter = 0;
    FSocket = Value;
    FBuffer.clear();
    FLastCR = false;
    FLastLF = false;
    GetSins();
    FIP6used = FRemoteSin.Family() == AF_INET6;
}

void TBlockSocket::SetSin(TVarSin& Sin, const std::string& IP, const std::string& Port) {
    DoStatus(THookSocketReason::HR_ResolvingBegin, IP + ":" + Port);
    ResetLastError();
    TSocketFamily family = FFamily;
    if (FFamily == TSocketFamily::SF_Any) {
        if (FSocket != -1)
            // An open handle can only reach addresses of its own family.
            family = FIP6used ? TSocketFamily::SF_IP6 : TSocketFamily::SF_IP4;
        else if (IsIP(IP))
            family = TSocketFamily::SF_IP4;
        else if (IsIP6(IP))
            family = TSocketFamily::SF_IP6;
    }
    FLastError =
        SetVarSin(Sin, IP, Port, FamilyToAF(family), GetSocketProtocol(), GetSocketType(), FPreferIP4);
    DoStatus(THookSocketReason::HR_ResolvingEnd, GetSinIP(Sin) + ":" + std::to_string(GetSinPort(Sin)));
}

void TBlockSocket::InternalCreateSocket(const TVarSin& Sin) {
    FStopFlag = false;
    FRecvCounter = 0;
    FSendCounter = 0;
    ResetLastError();
    if (FSocket != -1) return;
    FBuffer.clear();
    FBinded = false;
    FIP6used = Sin.Family() == AF_INET6;
    const int handle = NativeSocket(FIP6used ? AF_INET6 : AF_INET, GetSocketType(), GetSocketProtocol());
    if (handle == -1) FLastError = LastSocketError();
    FSocket = handle;
    ExceptCheck();
    if (handle == -1) return;
    DoStatus(THookSocketReason::HR_SocketCreate, FIP6used ? "IPv6" : "IPv4");
    ProcessDelayed();
    DoCreateSocket();
}

void TBlockSocket::CreateSocket() {
    if (FFamily == TSocketFamily::SF_Any) return;
    TVarSin sin;
    sin.sa.sa_family = FFamily == TSocketFamily::SF_IP6 ? AF_INET6 : AF_INET;
    InternalCreateSocket(sin);
}

void TBlockSocket::CreateSocketByName(const std::string& Value) {
    TVarSin sin;
    SetSin(sin, Value, "0");
    if (FLastError == 0) InternalCreateSocket(sin);
}

void TBlockSocket::DelayedOption(const TSockOption& Value) {
    if (Value.Option == TSockOptionType::SOT_NonBlock) FNonBlockMode = Value.Enabled;
    SockCheck(UseHandle([&](int Handle) { return NativeApplyOption(Handle, FIP6used, Value); }));
    ExceptCheck();
}

void TBlockSocket::SetDelayedOption(const TSockOption& Value) {
    if (FSocket == -1) {
        if (Value.Option == TSockOptionType::SOT_NonBlock) FNonBlockMode = Value.Enabled;
        FDelayedOptions.push_back(Value);
    } else {
        DelayedOption(Value);
    }
}

void TBlockSocket::ProcessDelayed() {
    std::vector<TSockOption> options;
    options.swap(FDelayedOptions);
    for (const TSockOption& option : options) DelayedOption(option);
}

void TBlockSocket::ApplyNonBlock(bool Value) {
    FNonBlockMode = Value;
    static_cast<void>(UseHandle([Value](int Handle) { return NativeSetNonBlock(Handle, Value); }));
}

void TBlockSocket::SetNonBlockMode(bool Value) {
    SetDelayedOption({TSockOptionType::SOT_NonBlock, Value, 0});
}

void TBlockSocket::SetLinger(bool Enable, int Linger) {
    SetDelayedOption({TSockOptionType::SOT_Linger, Enable, Linger});
}

void TBlockSocket::SetTimeout(int Timeout) {
    SetSendTimeout(Timeout);
    SetRecvTimeout(Timeout);
}

void TBlockSocket::SetSendTimeout(int Timeout) {
    SetDelayedOption({TSockOptionType::SOT_SendTimeout, false, Timeout});
}

void TBlockSocket::SetRecvTimeout(int Timeout) {
    SetDelayedOption({TSockOptionType::SOT_RecvTimeout, false, Timeout});
}

void TBlockSocket::EnableReuse(bool Value) { SetDelayedOption({TSockOptionType::SOT_Reuse, Value, 0}); }

void TBlockSocket::SetNoDelay(bool Value) { SetDelayedOption({TSockOptionType::SOT_NoDelay, Value, 0}); }

void TBlockSocket::SetMaxBandwidth(int Value) noexcept {
    FMaxSendBandwidth = Value;
    FMaxRecvBandwidth = Value;
}

namespace {

/// A buffer size of the socket's handle, 1024 when it cannot be read.
int BufferSize(TBlockSocket& Socket, TSockOptionType Option) {
    int value = 0;
    const THandleResult read = Socket.UseHandle(
        [&](int Handle) { return NativeReadOption(Handle, Socket.IP6used(), Option, value); });
    return read.Result == 0 ? value : 1024;
}

}  // namespace

int TBlockSocket::SizeRecvBuffer() { return BufferSize(*this, TSockOptionType::SOT_RecvBuff); }

void TBlockSocket::SetSizeRecvBuffer(int Size) {
    SetDelayedOption({TSockOptionType::SOT_RecvBuff, false, Size});
}

int TBlockSocket::SizeSendBuffer() { return BufferSize(*this, TSockOptionType::SOT_SendBuff); }

void TBlockSocket::SetSizeSendBuffer(int Size) {
    SetDelayedOption({TSockOptionType::SOT_SendBuff, false, Size});
}

int TBlockSocket::TTL() {
    int value = -1;
    SockCheck(UseHandle(
        [&](int Handle) { return NativeReadOption(Handle, FIP6used, TSockOptionType::SOT_TTL, value); }));
    ExceptCheck();
    return value;
}

void TBlockSocket::SetTTL(int TTL) { SetDelayedOption({TSockOptionType::SOT_TTL, false, TTL}); }

int TBlockSocket::GetSocketType() { return 0; }
int TBlockSocket::GetSocketProtocol() { return 0; }

// --- open and close ----------------------------------------------------------

void TBlockSocket::CloseSocket() { AbortSocket(); }

void TBlockSocket::AbortSocket() {
    const int handle = FSocket.exchange(-1);
    if (handle != -1) {
        // Shutting down first wakes a wait blocked on the handle in another
        // thread; closing alone would not. The number is freed only once that
        // call has let go of it: a call still holding it could otherwise reach
        // whoever is given the number next.
        static_cast<void>(NativeShutdownBoth(handle));
        const std::lock_guard<std::mutex> lock(FHandleLock);
        static_cast<void>(NativeClose(handle));
    }
    FDelayedOptions.clear();
    FFamily = FFamilySave;
    DoStatus(THookSocketReason::HR_SocketClose, "");
}

void TBlockSocket::Bind(const std::string& IP, const std::string& Port) {
    ResetLastError();
    if (FSocket == -1 && FFamily == TSocketFamily::SF_Any && IP == "0.0.0.0" && Port == "0") return;
    TVarSin sin;
    if (ResolveForHandle(sin, IP, Port)) {
        SockCheck(UseHandle([&sin](int Handle) { return NativeBind(Handle, sin); }));
        GetSinLocal();
        FBuffer.clear();
        FBinded = true;
    }
    ExceptCheck();
    DoStatus(THookSocketReason::HR_Bind, IP + ":" + Port);
}

void TBlockSocket::Connect(const std::string& IP, const std::string& Port) {
    TVarSin sin;
    if (ResolveForHandle(sin, IP, Port)) {
        if (FConnectionTimeout <= 0) {
            SockCheck(UseHandle([&sin](int Handle) { return NativeConnect(Handle, sin); }));
        } else {
            const bool saved = FNonBlockMode;
            ApplyNonBlock(true);
            SockCheck(UseHandle([&sin](int Handle) { return NativeConnect(Handle, sin); }));
            if (FLastError == WSAEINPROGRESS || FLastError == WSAEWOULDBLOCK) {
                if (!CanWrite(FConnectionTimeout)) {
                    FLastError = WSAETIMEDOUT;
                } else {
                    // A refused connect also becomes writable: the handle's pending
                    // error tells the two apart.
                    FLastError = UseHandle([](int Handle) { return NativePendingError(Handle); }).Result;
                }
            }
            const int error = FLastError;
            ApplyNonBlock(saved);
            FLastError = error;
        }
        if (FLastError == 0) GetSins();
    }
    FBuffer.clear();
    FLastCR = false;
    FLastLF = false;
    ExceptCheck();
    DoStatus(THookSocketReason::HR_Connect, IP + ":" + Port);
}

bool TBlockSocket::ResolveForHandle(TVarSin& Sin, const std::string& IP, const std::string& Port) {
    SetSin(Sin, IP, Port);
    if (FLastError == 0 && FSocket == -1) InternalCreateSocket(Sin);
    return FLastError == 0;
}

void TBlockSocket::Listen() {
    SockCheck(UseHandle([](int Handle) { return NativeListen(Handle); }));
    GetSins();
    ExceptCheck();
    DoStatus(THookSocketReason::HR_Listen, "");
}

int TBlockSocket::Accept() {
    TVarSin sin;
    const THandleResult accepted = UseHandle([&sin](int Handle) { return NativeAccept(Handle, sin); });
    SockCheck(accepted);
    ExceptCheck();
    DoStatus(THookSocketReason::HR_Accept, "");
    return accepted.Result;
}

void TBlockSocket::GetSinLocal() {
    if (FSocket != -1)
        static_cast<void>(UseHandle([this](int Handle) { return NativeGetSockName(Handle, FLocalSin); }));
}

void TBlockSocket::GetSinRemote() {
    if (FSocket != -1)
        static_cast<void>(UseHandle([this](int Handle) { return NativeGetPeerName(Handle, FRemoteSin); }));
}

void TBlockSocket::GetSins() {
    GetSinLocal();
    GetSinRemote();
}

std::string TBlockSocket::GetLocalSinIP() { return GetSinIP(FLocalSin); }
std::string TBlockSocket::GetRemoteSinIP() { return GetSinIP(FRemoteSin); }
int TBlockSocket::GetLocalSinPort() { return GetSinPort(FLocalSin); }
int TBlockSocket::GetRemoteSinPort() { return GetSinPort(FRemoteSin); }

// --- lookups -----------------------------------------------------------------

std::string TBlockSocket::LocalName() {
    std::string name = GetHostName();
    return name.empty() ? "127.0.0.1" : name;
}

void TBlockSocket::ResolveNameToIP(const std::string& Name, std::vector<std::string>& IPList) {
    net::ResolveNameToIP(Name, FamilyToAF(FFamily), GetSocketProtocol(), GetSocketType(), IPList);
}

std::string TBlockSocket::ResolveName(const std::string& Name) {
    std::vector<std::string> list;
    ResolveNameToIP(Name, list);
    return list.front();
}

std::string TBlockSocket::ResolveIPToName(std::string IP) {
    if (!IsIP(IP) && !IsIP6(IP)) IP = ResolveName(IP);
    return net::ResolveIPToName(IP, FamilyToAF(FFamily), GetSocketProtocol(), GetSocketType());
}

int TBlockSocket::ResolvePort(const std::string& Port) {
    return net::ResolvePort(Port, FamilyToAF(FFamily), GetSocketProtocol(), GetSocketType());
}

void TBlockSocket::SetRemoteSin(const std::string& IP, const std::string& Port) {
    SetSin(FRemoteSin, IP, Port);
}

// --- readiness ---------------------------------------------------------------

bool TBlockSocket::InternalCanRead(int Timeout) {
    const THandleResult wait =
        UseHandle([Timeout](int Handle) { return NativeWait(Handle, false, Timeout); });
    SockCheck(wait);
    return wait.Result > 0 && FLastError == 0;
}

bool TBlockSocket::InternalCanWrite(int Timeout) {
    const THandleResult wait = UseHandle([Timeout](int Handle) { return NativeWait(Handle, true, Timeout); });
    SockCheck(wait);
    return wait.Result > 0 && FLastError == 0;
}

namespace {

/// One wait, or a wait cut into heartbeat slices.
template <typename Wait, typename Heartbeat>
bool SlicedWait(int Timeout, int Rate, Wait&& WaitFor, Heartbeat&& Beat) {
    if (Rate == 0 || Timeout == -1) return WaitFor(Timeout);
    bool ready = WaitFor(Timeout % Rate);
    for (int slice = 0; !ready && slice <= Timeout / Rate; ++slice) {
        if (!Beat()) return false;
        ready = WaitFor(Rate);
    }
    return ready;
}

}  // namespace

bool TBlockSocket::WaitReady(bool Write, int Timeout) {
    const bool result = SlicedWait(
        Timeout, FHeartbeatRate,
        [this, Write](int T) { return Write ? InternalCanWrite(T) : InternalCanRead(T); },
        [this] {
            DoHeartbeat();
            return !FStopFlag.exchange(false);
        });
    ExceptCheck();
    if (result) DoStatus(Write ? THookSocketReason::HR_CanWrite : THookSocketReason::HR_CanRead, "");
    return result;
}

bool TBlockSocket::CanRead(int Timeout) { return WaitReady(false, Timeout); }

bool TBlockSocket::CanReadEx(int Timeout) { return !FBuffer.empty() || CanRead(Timeout); }

bool TBlockSocket::CanWrite(int Timeout) { return WaitReady(true, Timeout); }

namespace {

/// Waits on the handles of Sockets[From...] and those gathered in Handles,
/// each held through its socket's UseHandle meanwhile (nested, in the order
/// given); Handles ends with every socket's handle, in that order.
int WaitOnHandles(const std::vector<TBlockSocket*>& Sockets, std::size_t From, int Timeout,
                  std::vector<int>& Handles, std::vector<int>& Ready) {
    if (From == Sockets.size()) return NativeWaitMany(Handles, Timeout, Ready);
    return Sockets[From]
        ->UseHandle([&](int Handle) {
            Handles.push_back(Handle);
            return WaitOnHandles(Sockets, From + 1, Timeout, Handles, Ready);
        })
        .Result;
}

}  // namespace

bool TBlockSocket::GroupCanRead(const std::vector<TBlockSocket*>& SocketList, int Timeout,
                                std::vector<TBlockSocket*>& CanReadList) {
    CanReadList.clear();
    // One order for every caller, and each socket once: its lock is not taken twice.
    std::vector<TBlockSocket*> sockets = SocketList;
    std::sort(sockets.begin(), sockets.end(), std::less<>());
    sockets.erase(std::unique(sockets.begin(), sockets.end()), sockets.end());
    std::vector<int> handles;
    std::vector<int> ready;
    if (WaitOnHandles(sockets, 0, Timeout, handles, ready) <= 0) return false;
    const auto isReady = [&](const TBlockSocket* Socket) {
        const auto at = std::lower_bound(sockets.begin(), sockets.end(), Socket, std::less<>());
        const int handle = handles[static_cast<std::size_t>(at - sockets.begin())];
        return handle != -1 && std::find(ready.begin(), ready.end(), handle) != ready.end();
    };
    for (TBlockSocket* socket : SocketList)
        if (isReady(socket)) CanReadList.push_back(socket);
    return !CanReadList.empty();
}

int TBlockSocket::WaitingData() {
    if (FSocket == -1) return 0;
    const int count = UseHandle([](int Handle) { return NativeWaitingData(Handle); }).Result;
    if (count < 0) return 0;
    return std::min(count, MaxWaitingData);
}

int TBlockSocket::WaitingDataEx() {
    return FBuffer.empty() ? WaitingData() : static_cast<int>(FBuffer.size());
}

// --- bandwidth ---------------------------------------------------------------

void TBlockSocket::LimitBandwidth(int Length, int MaxB, std::uint32_t& Next) {
    if (FStopFlag || MaxB <= 0) return;
    const std::uint32_t now = support::GetTick();
    if (static_cast<std::int32_t>(Next - now) > 0) {
        const std::uint32_t wait = Next - now;
        DoStatus(THookSocketReason::HR_Wait, std::to_string(wait));
        NativeSleep(static_cast<int>(wait % 250));
        for (std::uint32_t slice = 0; slice < wait / 250 && !FStopFlag; ++slice) NativeSleep(250);
    }
    Next = support::GetTick() + static_cast<std::uint32_t>(static_cast<double>(Length) / MaxB * 1000.0);
}

}  // namespace tandrel::net
