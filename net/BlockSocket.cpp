#include "net/BlockSocket.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <sstream>

#include "support/BinaryPacking.h"
#include "support/Tick.h"
#include "net/AddressText.h"
#include "net/detail/Native.h"

namespace tandrel::net {

using namespace detail;

namespace {

constexpr int MaxWaitingData = 65536;
constexpr char CR = '\r';
constexpr char LF = '\n';

std::string LittleEndian32(std::uint32_t Value) {
  std::string Result(4, '\0');
  for (int N = 0; N < 4; ++N)
    Result[N] = static_cast<char>((Value >> (8 * N)) & 0xFF);
  return Result;
}

std::uint32_t FromLittleEndian32(std::string_view Value) {
  std::uint32_t Result = 0;
  for (std::size_t N = 0; N < 4 && N < Value.size(); ++N)
    Result |= std::uint32_t{static_cast<unsigned char>(Value[N])} << (8 * N);
  return Result;
}

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
  if (FSocket != -1)
    TBlockSocket::CloseSocket();
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
  if (FOnStatus)
    FOnStatus(*this, Reason, Value);
}

void TBlockSocket::DoReadFilter(std::string& Buffer, int& Length) {
  if (!FOnReadFilter)
    return;
  FOnReadFilter(*this, Buffer);
  // The filter may shorten the bytes but never lengthen what was read.
  if (Buffer.size() > static_cast<std::size_t>(Length))
    Buffer.resize(static_cast<std::size_t>(Length));
  Length = static_cast<int>(Buffer.size());
}

void TBlockSocket::DoMonitor(bool Writing, const void* Buffer, int Len) {
  if (FOnMonitor)
    FOnMonitor(*this, Writing, Buffer, Len);
}

void TBlockSocket::DoCreateSocket() {
  if (FOnCreateSocket)
    FOnCreateSocket(*this);
}

void TBlockSocket::DoHeartbeat() {
  if (FOnHeartbeat && FHeartbeatRate != 0)
    FOnHeartbeat(*this);
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
  if (FLastError == 0 || FLastError == WSAEINPROGRESS || FLastError == WSAEWOULDBLOCK)
    return;
  DoStatus(THookSocketReason::HR_Error, std::to_string(FLastError) + "," + FLastErrorDesc);
  if (FRaiseExcept)
    throw ESocketError(FLastError, FLastErrorDesc);
}

std::string TBlockSocket::GetErrorDesc(int ErrorCode) { return net::GetErrorDesc(ErrorCode); }

std::string TBlockSocket::GetErrorDescEx() { return GetErrorDesc(FLastError); }

bool TBlockSocket::TestStopFlag() {
  DoHeartbeat();
  if (!FStopFlag)
    return false;
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
  TSocketFamily Family = FFamily;
  if (FFamily == TSocketFamily::SF_Any) {
    if (FSocket != -1)
      // An open handle can only reach addresses of its own family.
      Family = FIP6used ? TSocketFamily::SF_IP6 : TSocketFamily::SF_IP4;
    else if (IsIP(IP))
      Family = TSocketFamily::SF_IP4;
    else if (IsIP6(IP))
      Family = TSocketFamily::SF_IP6;
  }
  FLastError = SetVarSin(Sin, IP, Port, FamilyToAF(Family), GetSocketProtocol(), GetSocketType(),
                         FPreferIP4);
  DoStatus(THookSocketReason::HR_ResolvingEnd,
           GetSinIP(Sin) + ":" + std::to_string(GetSinPort(Sin)));
}

void TBlockSocket::InternalCreateSocket(const TVarSin& Sin) {
  FStopFlag = false;
  FRecvCounter = 0;
  FSendCounter = 0;
  ResetLastError();
  if (FSocket != -1)
    return;
  FBuffer.clear();
  FBinded = false;
  FIP6used = Sin.Family() == AF_INET6;
  const int Handle = NativeSocket(FIP6used ? AF_INET6 : AF_INET, GetSocketType(), GetSocketProtocol());
  if (Handle == -1)
    FLastError = LastSocketError();
  FSocket = Handle;
  ExceptCheck();
  if (Handle == -1)
    return;
  DoStatus(THookSocketReason::HR_SocketCreate, FIP6used ? "IPv6" : "IPv4");
  ProcessDelayed();
  DoCreateSocket();
}

void TBlockSocket::CreateSocket() {
  if (FFamily == TSocketFamily::SF_Any)
    return;
  TVarSin Sin;
  Sin.sa.sa_family = FFamily == TSocketFamily::SF_IP6 ? AF_INET6 : AF_INET;
  InternalCreateSocket(Sin);
}

void TBlockSocket::CreateSocketByName(const std::string& Value) {
  TVarSin Sin;
  SetSin(Sin, Value, "0");
  if (FLastError == 0)
    InternalCreateSocket(Sin);
}

void TBlockSocket::DelayedOption(const TSockOption& Value) {
  if (Value.Option == TSockOptionType::SOT_NonBlock)
    FNonBlockMode = Value.Enabled;
  SockCheck(UseHandle([&](int Handle) { return NativeApplyOption(Handle, FIP6used, Value); }));
  ExceptCheck();
}

void TBlockSocket::SetDelayedOption(const TSockOption& Value) {
  if (FSocket == -1) {
    if (Value.Option == TSockOptionType::SOT_NonBlock)
      FNonBlockMode = Value.Enabled;
    FDelayedOptions.push_back(Value);
  } else {
    DelayedOption(Value);
  }
}

void TBlockSocket::ProcessDelayed() {
  std::vector<TSockOption> Options;
  Options.swap(FDelayedOptions);
  for (const TSockOption& Option : Options)
    DelayedOption(Option);
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

void TBlockSocket::EnableReuse(bool Value) {
  SetDelayedOption({TSockOptionType::SOT_Reuse, Value, 0});
}

void TBlockSocket::SetNoDelay(bool Value) {
  SetDelayedOption({TSockOptionType::SOT_NoDelay, Value, 0});
}

void TBlockSocket::SetMaxBandwidth(int Value) noexcept {
  FMaxSendBandwidth = Value;
  FMaxRecvBandwidth = Value;
}

namespace {

/// A buffer size of the socket's handle, 1024 when it cannot be read.
int BufferSize(TBlockSocket& Socket, TSockOptionType Option) {
  int Value = 0;
  const THandleResult Read = Socket.UseHandle(
      [&](int Handle) { return NativeReadOption(Handle, Socket.IP6used(), Option, Value); });
  return Read.Result == 0 ? Value : 1024;
}

}  // namespace

int TBlockSocket::SizeRecvBuffer() {
  return BufferSize(*this, TSockOptionType::SOT_RecvBuff);
}

void TBlockSocket::SetSizeRecvBuffer(int Size) {
  SetDelayedOption({TSockOptionType::SOT_RecvBuff, false, Size});
}

int TBlockSocket::SizeSendBuffer() {
  return BufferSize(*this, TSockOptionType::SOT_SendBuff);
}

void TBlockSocket::SetSizeSendBuffer(int Size) {
  SetDelayedOption({TSockOptionType::SOT_SendBuff, false, Size});
}

int TBlockSocket::TTL() {
  int Value = -1;
  SockCheck(UseHandle([&](int Handle) {
    return NativeReadOption(Handle, FIP6used, TSockOptionType::SOT_TTL, Value);
  }));
  ExceptCheck();
  return Value;
}

void TBlockSocket::SetTTL(int TTL) { SetDelayedOption({TSockOptionType::SOT_TTL, false, TTL}); }

int TBlockSocket::GetSocketType() { return 0; }
int TBlockSocket::GetSocketProtocol() { return 0; }

// --- open and close ----------------------------------------------------------

void TBlockSocket::CloseSocket() { AbortSocket(); }

void TBlockSocket::AbortSocket() {
  const int Handle = FSocket.exchange(-1);
  if (Handle != -1) {
    // Shutting down first wakes a wait blocked on the handle in another
    // thread; closing alone would not. The number is freed only once that
    // call has let go of it: a call still holding it could otherwise reach
    // whoever is given the number next.
    static_cast<void>(NativeShutdownBoth(Handle));
    const std::lock_guard<std::mutex> Lock(FHandleLock);
    static_cast<void>(NativeClose(Handle));
  }
  FDelayedOptions.clear();
  FFamily = FFamilySave;
  DoStatus(THookSocketReason::HR_SocketClose, "");
}

void TBlockSocket::Bind(const std::string& IP, const std::string& Port) {
  ResetLastError();
  if (FSocket == -1 && FFamily == TSocketFamily::SF_Any && IP == "0.0.0.0" && Port == "0")
    return;
  TVarSin Sin;
  if (ResolveForHandle(Sin, IP, Port)) {
    SockCheck(UseHandle([&Sin](int Handle) { return NativeBind(Handle, Sin); }));
    GetSinLocal();
    FBuffer.clear();
    FBinded = true;
  }
  ExceptCheck();
  DoStatus(THookSocketReason::HR_Bind, IP + ":" + Port);
}

void TBlockSocket::Connect(const std::string& IP, const std::string& Port) {
  TVarSin Sin;
  if (ResolveForHandle(Sin, IP, Port)) {
    if (FConnectionTimeout <= 0) {
      SockCheck(UseHandle([&Sin](int Handle) { return NativeConnect(Handle, Sin); }));
    } else {
      const bool Saved = FNonBlockMode;
      ApplyNonBlock(true);
      SockCheck(UseHandle([&Sin](int Handle) { return NativeConnect(Handle, Sin); }));
      if (FLastError == WSAEINPROGRESS || FLastError == WSAEWOULDBLOCK) {
        if (!CanWrite(FConnectionTimeout)) {
          FLastError = WSAETIMEDOUT;
        } else {
          // A refused connect also becomes writable: the handle's pending
          // error tells the two apart.
          FLastError = UseHandle([](int Handle) { return NativePendingError(Handle); }).Result;
        }
      }
      const int Error = FLastError;
      ApplyNonBlock(Saved);
      FLastError = Error;
    }
    if (FLastError == 0)
      GetSins();
  }
  FBuffer.clear();
  FLastCR = false;
  FLastLF = false;
  ExceptCheck();
  DoStatus(THookSocketReason::HR_Connect, IP + ":" + Port);
}

bool TBlockSocket::ResolveForHandle(TVarSin& Sin, const std::string& IP, const std::string& Port) {
  SetSin(Sin, IP, Port);
  if (FLastError == 0 && FSocket == -1)
    InternalCreateSocket(Sin);
  return FLastError == 0;
}

void TBlockSocket::Listen() {
  SockCheck(UseHandle([](int Handle) { return NativeListen(Handle); }));
  GetSins();
  ExceptCheck();
  DoStatus(THookSocketReason::HR_Listen, "");
}

int TBlockSocket::Accept() {
  TVarSin Sin;
  const THandleResult Accepted = UseHandle([&Sin](int Handle) { return NativeAccept(Handle, Sin); });
  SockCheck(Accepted);
  ExceptCheck();
  DoStatus(THookSocketReason::HR_Accept, "");
  return Accepted.Result;
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
  std::string Name = GetHostName();
  return Name.empty() ? "127.0.0.1" : Name;
}

void TBlockSocket::ResolveNameToIP(const std::string& Name, std::vector<std::string>& IPList) {
  net::ResolveNameToIP(Name, FamilyToAF(FFamily), GetSocketProtocol(), GetSocketType(), IPList);
}

std::string TBlockSocket::ResolveName(const std::string& Name) {
  std::vector<std::string> List;
  ResolveNameToIP(Name, List);
  return List.front();
}

std::string TBlockSocket::ResolveIPToName(std::string IP) {
  if (!IsIP(IP) && !IsIP6(IP))
    IP = ResolveName(IP);
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
  const THandleResult Wait =
      UseHandle([Timeout](int Handle) { return NativeWait(Handle, false, Timeout); });
  SockCheck(Wait);
  return Wait.Result > 0 && FLastError == 0;
}

bool TBlockSocket::InternalCanWrite(int Timeout) {
  const THandleResult Wait =
      UseHandle([Timeout](int Handle) { return NativeWait(Handle, true, Timeout); });
  SockCheck(Wait);
  return Wait.Result > 0 && FLastError == 0;
}

namespace {

/// One wait, or a wait cut into heartbeat slices.
template <typename Wait, typename Heartbeat>
bool SlicedWait(int Timeout, int Rate, Wait&& WaitFor, Heartbeat&& Beat) {
  if (Rate == 0 || Timeout == -1)
    return WaitFor(Timeout);
  bool Ready = WaitFor(Timeout % Rate);
  for (int Slice = 0; !Ready && Slice <= Timeout / Rate; ++Slice) {
    if (!Beat())
      return false;
    Ready = WaitFor(Rate);
  }
  return Ready;
}

}  // namespace

bool TBlockSocket::WaitReady(bool Write, int Timeout) {
  const bool Result = SlicedWait(
      Timeout, FHeartbeatRate,
      [this, Write](int T) { return Write ? InternalCanWrite(T) : InternalCanRead(T); },
      [this] {
        DoHeartbeat();
        return !FStopFlag.exchange(false);
      });
  ExceptCheck();
  if (Result)
    DoStatus(Write ? THookSocketReason::HR_CanWrite : THookSocketReason::HR_CanRead, "");
  return Result;
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
  if (From == Sockets.size())
    return NativeWaitMany(Handles, Timeout, Ready);
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
  std::vector<TBlockSocket*> Sockets = SocketList;
  std::sort(Sockets.begin(), Sockets.end(), std::less<>());
  Sockets.erase(std::unique(Sockets.begin(), Sockets.end()), Sockets.end());
  std::vector<int> Handles;
  std::vector<int> Ready;
  if (WaitOnHandles(Sockets, 0, Timeout, Handles, Ready) <= 0)
    return false;
  const auto IsReady = [&](const TBlockSocket* Socket) {
    const auto At = std::lower_bound(Sockets.begin(), Sockets.end(), Socket, std::less<>());
    const int Handle = Handles[static_cast<std::size_t>(At - Sockets.begin())];
    return Handle != -1 && std::find(Ready.begin(), Ready.end(), Handle) != Ready.end();
  };
  for (TBlockSocket* Socket : SocketList)
    if (IsReady(Socket))
      CanReadList.push_back(Socket);
  return !CanReadList.empty();
}

int TBlockSocket::WaitingData() {
  if (FSocket == -1)
    return 0;
  const int Count = UseHandle([](int Handle) { return NativeWaitingData(Handle); }).Result;
  if (Count < 0)
    return 0;
  return std::min(Count, MaxWaitingData);
}

int TBlockSocket::WaitingDataEx() {
  return FBuffer.empty() ? WaitingData() : static_cast<int>(FBuffer.size());
}

// --- bandwidth ---------------------------------------------------------------

void TBlockSocket::LimitBandwidth(int Length, int MaxB, std::uint32_t& Next) {
  if (FStopFlag || MaxB <= 0)
    return;
  const std::uint32_t Now = support::GetTick();
  if (static_cast<std::int32_t>(Next - Now) > 0) {
    const std::uint32_t Wait = Next - Now;
    DoStatus(THookSocketReason::HR_Wait, std::to_string(Wait));
    NativeSleep(static_cast<int>(Wait % 250));
    for (std::uint32_t Slice = 0; Slice < Wait / 250 && !FStopFlag; ++Slice)
      NativeSleep(250);
  }
  Next = support::GetTick() +
         static_cast<std::uint32_t>(static_cast<double>(Length) / MaxB * 1000.0);
}

// --- reading -----------------------------------------------------------------

int TBlockSocket::AfterRecv(void* Buffer, int Count) {
  FRecvCounter += Count;
  DoStatus(THookSocketReason::HR_ReadCount, std::to_string(Count));
  DoMonitor(false, Buffer, Count);
  if (FOnReadFilter) {
    std::string Bytes(static_cast<const char*>(Buffer), static_cast<std::size_t>(Count));
    DoReadFilter(Bytes, Count);
    std::memcpy(Buffer, Bytes.data(), Bytes.size());
  }
  return Count;
}

int TBlockSocket::RecvBuffer(void* Buffer, int Length) {
  if (TestStopFlag())
    return 0;
  if (Length <= 0)
    return 0;
  LimitRecvBandwidth(Length);
  const THandleResult Read =
      UseHandle([&](int Handle) { return NativeRecv(Handle, Buffer, Length, false); });
  int Count = Read.Result;
  if (Count == 0) {
    // The peer's orderly close, which a reset (ECONNRESET) is not.
    ResetLastError();
    FLastError = WSAEDISCON;
  } else {
    SockCheck(Read);
  }
  ExceptCheck();
  if (Count > 0)
    Count = AfterRecv(Buffer, Count);
  return Count;
}

std::string TBlockSocket::RecvPacket(int Timeout) {
  std::string Result;
  ResetLastError();
  if (!FBuffer.empty()) {
    Result.swap(FBuffer);
  } else {
    // Give other threads a turn before every platform read of a long transfer.
    NativeSleep(0);
    Result = ReadArrived(Timeout);
  }
  DropLineEndRest(Result);
  ExceptCheck();
  return Result;
}

void TBlockSocket::DropLineEndRest(std::string& Bytes) {
  if (!FConvertLineEnd || Bytes.empty())
    return;
  if ((FLastCR && Bytes.front() == LF) || (FLastLF && Bytes.front() == CR))
    Bytes.erase(0, 1);
  FLastCR = false;
  FLastLF = false;
}

std::string TBlockSocket::ReadArrived(int Timeout) {
  const std::uint32_t Start = support::GetTick();
  int Left = Timeout;
  for (;;) {
    int Count = WaitingData();
    if (Count <= 0) {
      if (!CanRead(Left)) {
        if (FLastError == 0)
          FLastError = WSAETIMEDOUT;
        return {};
      }
      Count = WaitingData();
      if (Count == 0) {
        // Readable with nothing to read: the peer has gone. A peek tells an
        // orderly close (nothing more will come) from a reset (an error).
        char Probe = 0;
        const int Peeked = PeekBuffer(&Probe, 1);
        if (Peeked < 0)
          return {};
        if (Peeked == 0) {
          ResetLastError();
          FLastError = WSAEDISCON;
          return {};
        }
        Count = 1;  // a byte came after all
      }
    }
    std::string Result(static_cast<std::size_t>(Count), '\0');
    const int Read = RecvBuffer(Result.data(), Count);
    if (Read > 0 && FLastError == 0) {
      Result.resize(static_cast<std::size_t>(Read));
      return Result;
    }
    if (FLastError != WSAEWOULDBLOCK)
      return {};
    // Only what the protocol keeps to itself came: the wait for the bytes
    // asked for goes on, within the same time-out.
    ResetLastError();
    if (Timeout >= 0) {
      Left = Timeout - static_cast<int>(support::TickDelta(Start, support::GetTick()));
      if (Left <= 0) {
        FLastError = WSAETIMEDOUT;
        return {};
      }
    }
  }
}

bool TBlockSocket::SpendTime(int& Remaining, std::uint32_t Since) {
  // A negative time-out waits without limit: there is no budget to spend.
  if (FInterPacketTimeout || Remaining < 0)
    return true;
  Remaining -= static_cast<int>(support::TickDelta(Since, support::GetTick()));
  if (Remaining > 0)
    return true;
  FLastError = WSAETIMEDOUT;
  return false;
}

std::string TBlockSocket::RecvTerminated(int Timeout, std::string_view Terminator) {
  int Remaining = Timeout;
  bool First = true;
  std::uint32_t Since = 0;
  return ReadTerminated(Terminator, [&]() -> std::optional<int> {
    // Each later pass: the whole Timeout again (inter-packet rule), else what
    // the passes before have left of it.
    if (!First && !SpendTime(Remaining, Since))
      return std::nullopt;
    First = false;
    Since = support::GetTick();
    return Remaining;
  });
}

std::string TBlockSocket::RecvStringUntil(std::chrono::steady_clock::time_point Deadline) {
  using Clock = std::chrono::steady_clock;
  bool First = true;
  std::string Result = ReadTerminated("\r\n", [&]() -> std::optional<int> {
    if (Deadline == Clock::time_point::max())
      return -1;
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Clock::now()).count();
    // The first pass always looks: a line already here is no late line.
    if (Left <= 0 && !First) {
      FLastError = WSAETIMEDOUT;
      return std::nullopt;
    }
    First = false;
    return static_cast<int>(std::clamp<decltype(Left)>(Left, 0, std::numeric_limits<int>::max()));
  });
  if (FLastError != 0)
    Result.clear();
  return Result;
}

std::string TBlockSocket::ReadTerminated(std::string_view Terminator, const TNextWait& NextWait) {
  ResetLastError();
  std::string Result;
  if (Terminator.empty())
    return Result;
  const bool AnyLineEnd = FConvertLineEnd && Terminator == "\r\n";
  std::string Work;
  std::size_t Found = std::string::npos;
  std::size_t FoundLength = Terminator.size();
  std::size_t Scanned = 0;
  for (;;) {
    const std::optional<int> Wait = NextWait();
    if (!Wait)
      break;
    Work += RecvPacket(*Wait);
    if (FLastError != 0)
      break;
    if (AnyLineEnd) {
      Found = Work.find_first_of("\r\n", Scanned);
      if (Found != std::string::npos) {
        const char Other = Work[Found] == CR ? LF : CR;
        if (Found + 1 < Work.size() && Work[Found + 1] == Other) {
          FoundLength = 2;
        } else {
          FoundLength = 1;
          FLastCR = Work[Found] == CR;
          FLastLF = Work[Found] == LF;
        }
      }
      Scanned = Work.size();
    } else {
      Found = Work.find(Terminator, Scanned);
      // The next pass may complete a terminator that began in this one.
      Scanned = Work.size() >= Terminator.size() ? Work.size() - Terminator.size() + 1 : 0;
    }
    // The limit is the line's: lines that came after it in the same packet are
    // judged when they are read.
    const std::size_t Line = Found != std::string::npos ? Found : Work.size();
    if (FMaxLineLength != 0 && Line > static_cast<std::size_t>(FMaxLineLength)) {
      if (Found != std::string::npos)
        FLastCR = FLastLF = false;  // that line end is not taken
      FLastError = WSAENOBUFS;
      break;
    }
    if (Found != std::string::npos)
      break;
  }
  if (FLastError == 0 && Found != std::string::npos) {
    Result = Work.substr(0, Found);
    Work.erase(0, Found + FoundLength);
  }
  FBuffer = std::move(Work);
  ExceptCheck();
  return Result;
}

std::string TBlockSocket::RecvString(int Timeout) {
  std::string Result = RecvTerminated(Timeout, "\r\n");
  if (FLastError != 0)
    Result.clear();
  return Result;
}

bool TBlockSocket::Unread() {
  if (FBuffer.empty() && FSocket != -1) {
    const int SavedError = FLastError;
    std::string SavedDesc = FLastErrorDesc;
    FBuffer = ReadArrived(0);
    FLastError = SavedError;
    FLastErrorDesc = std::move(SavedDesc);
  }
  DropLineEndRest(FBuffer);
  return !FBuffer.empty();
}

std::int64_t TBlockSocket::RecvChunks(
    std::int64_t Len, int Timeout,
    const std::function<void(const char* Data, std::size_t Size)>& Sink) {
  ResetLastError();
  std::int64_t Count = 0;
  int Remaining = Timeout;
  while (Count < Len) {
    const std::uint32_t Since = support::GetTick();
    std::string Packet = RecvPacket(Remaining);
    if (FLastError != 0)
      break;
    const auto Take = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(Packet.size()), Len - Count));
    Sink(Packet.data(), Take);
    Count += static_cast<std::int64_t>(Take);
    if (Take < Packet.size())
      FBuffer = Packet.substr(Take);
    if (Count < Len && !SpendTime(Remaining, Since))
      break;
  }
  ExceptCheck();
  return Count;
}

int TBlockSocket::RecvBufferEx(void* Buffer, int Len, int Timeout) {
  ResetLastError();
  if (Len <= 0)
    return 0;
  auto* Out = static_cast<char*>(Buffer);
  return static_cast<int>(RecvChunks(Len, Timeout, [&Out](const char* Data, std::size_t Size) {
    std::memcpy(Out, Data, Size);
    Out += Size;
  }));
}

std::string TBlockSocket::RecvBufferStr(int Len, int Timeout) {
  std::string Result;
  if (Len < 1)
    return Result;
  // Grows with what arrives: a length announced by the peer never makes us
  // allocate it up front.
  RecvChunks(Len, Timeout,
             [&Result](const char* Data, std::size_t Size) { Result.append(Data, Size); });
  if (FLastError != 0) {
    // Keep what came for the next read instead of dropping it.
    FBuffer.insert(0, Result);
    Result.clear();
  }
  return Result;
}

std::uint8_t TBlockSocket::RecvByte(int Timeout) {
  ResetLastError();
  if (FBuffer.empty())
    FBuffer = RecvPacket(Timeout);
  if (FLastError != 0 || FBuffer.empty())
    return 0;
  const auto Result = static_cast<std::uint8_t>(FBuffer.front());
  FBuffer.erase(0, 1);
  return Result;
}

std::int32_t TBlockSocket::RecvInteger(int Timeout) {
  const std::string Bytes = RecvBufferStr(4, Timeout);
  if (FLastError != 0)
    return 0;
  return static_cast<std::int32_t>(FromLittleEndian32(Bytes));
}

std::string TBlockSocket::RecvBlock(int Timeout) {
  const std::int32_t Length = RecvInteger(Timeout);
  if (FLastError != 0)
    return {};
  return RecvBufferStr(Length, Timeout);
}

void TBlockSocket::RecvStreamRaw(std::ostream& Stream, int Timeout) {
  for (;;) {
    const std::string Packet = RecvPacket(Timeout);
    if (FLastError != 0)
      break;
    support::WriteStrToStream(Stream, Packet);
  }
}

void TBlockSocket::RecvStreamSize(std::ostream& Stream, int Timeout, std::int64_t Size) {
  ResetLastError();
  if (Size <= 0)
    return;
  RecvChunks(Size, Timeout, [&Stream](const char* Data, std::size_t Length) {
    support::WriteStrToStream(Stream, std::string_view(Data, Length));
  });
}

void TBlockSocket::RecvStream(std::ostream& Stream, int Timeout) {
  const std::string Prefix = RecvBufferStr(4, Timeout);
  if (FLastError == 0)
    RecvStreamSize(Stream, Timeout, FromLittleEndian32(Prefix));
}

void TBlockSocket::RecvStreamBE(std::ostream& Stream, int Timeout) {
  const std::string Prefix = RecvBufferStr(4, Timeout);
  if (FLastError == 0)
    RecvStreamSize(Stream, Timeout, support::DecodeLongInt(Prefix, 1));
}

int TBlockSocket::PeekBuffer(void* Buffer, int Length) {
  const THandleResult Peeked =
      UseHandle([&](int Handle) { return NativeRecv(Handle, Buffer, Length, true); });
  SockCheck(Peeked);
  ExceptCheck();
  return Peeked.Result;
}

std::uint8_t TBlockSocket::PeekByte(int Timeout) {
  std::uint8_t Result = 0;
  if (CanRead(Timeout)) {
    static_cast<void>(PeekBuffer(&Result, 1));
  } else {
    if (FLastError == 0)
      FLastError = WSAETIMEDOUT;
    ExceptCheck();
  }
  return Result;
}

void TBlockSocket::Purge() {
  // Up to 1 ms for bytes still on their way, as a fixed 1 ms pause would give
  // them, but no longer than until they (or the peer's close) have come.
  static_cast<void>(UseHandle([](int Handle) { return NativeWait(Handle, false, 1); }));
  try {
    while (!FBuffer.empty() || WaitingData() > 0) {
      static_cast<void>(RecvPacket(0));
      if (FLastError != 0)
        break;
    }
  } catch (const ESocketError&) {
    // Purging is best effort: an error only ends it.
  }
  ResetLastError();
}

// --- writing -----------------------------------------------------------------

int TBlockSocket::SendChunked(const void* Buffer, int Length,
                              const std::function<int(const std::uint8_t* Data, int Len)>& Piece) {
  ResetLastError();
  const auto* Data = static_cast<const std::uint8_t*>(Buffer);
  const int Chunk = FSendMaxChunk > 0 ? FSendMaxChunk : std::max(Length, 1);
  int Sent = 0;
  while (Sent < Length) {
    const int Size = std::min(Chunk, Length - Sent);
    LimitSendBandwidth(Size);
    const int Written = Piece(Data + Sent, Size);
    if (Written < 0 || FLastError != 0)
      break;
    if (Written == 0) {
      // No progress and no error: the peer is gone.
      FLastError = WSAECONNRESET;
      break;
    }
    Sent += Written;
    FSendCounter += Written;
    DoStatus(THookSocketReason::HR_WriteCount, std::to_string(Written));
  }
  ExceptCheck();
  return Sent;
}

int TBlockSocket::SendBuffer(const void* Buffer, int Length) {
  if (TestStopFlag())
    return 0;
  DoMonitor(true, Buffer, Length);
  return SendChunked(Buffer, Length, [this](const std::uint8_t* Data, int Len) {
    const auto Send = [&](int Handle) { return NativeSend(Handle, Data, Len); };
    THandleResult Written = UseHandle(Send);
    SockCheck(Written);
    if (FLastError == WSAEWOULDBLOCK) {
      if (CanWrite(FNonblockSendTimeout)) {
        Written = UseHandle(Send);
        SockCheck(Written);
        if (FLastError == WSAEWOULDBLOCK)
          FLastError = WSAETIMEDOUT;
      } else {
        FLastError = WSAETIMEDOUT;
      }
    }
    return FLastError == 0 ? Written.Result : -1;
  });
}

void TBlockSocket::SendByte(std::uint8_t Data) { static_cast<void>(SendBuffer(&Data, 1)); }

int TBlockSocket::SendString(std::string_view Data) {
  return SendBuffer(Data.data(), static_cast<int>(Data.size()));
}

void TBlockSocket::SendInteger(std::int32_t Data) {
  static_cast<void>(SendString(LittleEndian32(static_cast<std::uint32_t>(Data))));
}

void TBlockSocket::SendBlock(std::string_view Data) {
  std::string Bytes = LittleEndian32(static_cast<std::uint32_t>(Data.size()));
  Bytes.append(Data);
  static_cast<void>(SendString(Bytes));
}

void TBlockSocket::InternalSendStream(std::istream& Stream, bool WithSize, bool BigEndian) {
  ResetLastError();
  std::string Prefix;
  if (WithSize) {
    const auto Start = Stream.tellg();
    Stream.seekg(0, std::ios::end);
    const auto End = Stream.tellg();
    Stream.seekg(Start);
    if (Start < 0 || End < 0) {
      FLastError = WSAEINVAL;
      ExceptCheck();
      return;
    }
    const auto Size = static_cast<std::uint64_t>(End - Start);
    if (Size > std::numeric_limits<std::uint32_t>::max()) {
      // The 4-byte prefix cannot state it; a cut size would corrupt the transfer.
      FLastError = WSAEMSGSIZE;
      ExceptCheck();
      return;
    }
    const auto Size32 = static_cast<std::uint32_t>(Size);
    Prefix = BigEndian ? support::CodeLongInt(Size32) : LittleEndian32(Size32);
  }
  const auto Chunk = static_cast<std::size_t>(FSendMaxChunk > 0 ? FSendMaxChunk : 65536);
  for (bool First = true;; First = false) {
    std::string Piece = support::ReadStrFromStream(Stream, Chunk);
    if (First)
      Piece.insert(0, Prefix);
    if (Piece.empty())
      break;
    static_cast<void>(SendString(Piece));
    if (FLastError != 0)
      break;
  }
}

void TBlockSocket::SendStreamRaw(std::istream& Stream) { InternalSendStream(Stream, false, false); }
void TBlockSocket::SendStream(std::istream& Stream) { InternalSendStream(Stream, true, false); }
void TBlockSocket::SendStreamBE(std::istream& Stream) { InternalSendStream(Stream, true, true); }

// --- datagrams ---------------------------------------------------------------

int TBlockSocket::SendBufferTo(const void* Buffer, int Length) {
  if (TestStopFlag())
    return 0;
  if (FSocket == -1)
    InternalCreateSocket(FRemoteSin);
  LimitSendBandwidth(Length);
  DoMonitor(true, Buffer, Length);
  const THandleResult Sent =
      UseHandle([&](int Handle) { return NativeSendTo(Handle, Buffer, Length, FRemoteSin); });
  SockCheck(Sent);
  ExceptCheck();
  const int Written = Sent.Result;
  if (Written > 0) {
    FSendCounter += Written;
    DoStatus(THookSocketReason::HR_WriteCount, std::to_string(Written));
  }
  return Written;
}

int TBlockSocket::RecvBufferFrom(void* Buffer, int Length) {
  if (TestStopFlag())
    return 0;
  LimitRecvBandwidth(Length);
  const THandleResult Read =
      UseHandle([&](int Handle) { return NativeRecvFrom(Handle, Buffer, Length, FRemoteSin); });
  SockCheck(Read);
  ExceptCheck();
  int Count = Read.Result;
  if (Count > 0)
    Count = AfterRecv(Buffer, Count);
  return Count;
}

}  // namespace tandrel::net
