#pragma once
// The blocking socket: handle, addresses, line reading with time-outs,
// chunked sending, bandwidth limits, queued options and error bookkeeping.

#include "net/SocketErrors.h"
#include "net/SocketInterface.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tandrel::net {

class TBlockSocket;
class TNetClient;

/// Address family for the next handle, in this order.
enum class TSocketFamily { SF_Any, SF_IP4, SF_IP6 };

/// AF_INET for SF_IP4, AF_INET6 for SF_IP6, AF_UNSPEC otherwise.
[[nodiscard]] int FamilyToAF(TSocketFamily Family) noexcept;

/// Why the status hook is called, in this order.
enum class THookSocketReason {
    HR_ResolvingBegin,
    HR_ResolvingEnd,
    HR_SocketCreate,
    HR_SocketClose,
    HR_Bind,
    HR_Connect,
    HR_CanRead,
    HR_CanWrite,
    HR_Listen,
    HR_Accept,
    HR_ReadCount,
    HR_WriteCount,
    HR_Wait,
    HR_Error
};

/// Socket option kinds, in this order (SOT_NoDelay is TCP_NODELAY).
enum class TSockOptionType {
    SOT_Linger,
    SOT_RecvBuff,
    SOT_SendBuff,
    SOT_NonBlock,
    SOT_RecvTimeout,
    SOT_SendTimeout,
    SOT_Reuse,
    SOT_TTL,
    SOT_Broadcast,
    SOT_MulticastTTL,
    SOT_MulticastLoop,
    SOT_NoDelay
};

/// One socket option, applied at once or queued until the handle exists.
struct TSockOption {
    TSockOptionType Option = TSockOptionType::SOT_Linger;
    bool Enabled = false;
    int Value = 0;
};

using THookSocketStatus =
    std::function<void(TBlockSocket& Sender, THookSocketReason Reason, const std::string& Value)>;
/// May rewrite received bytes.
using THookDataFilter = std::function<void(TBlockSocket& Sender, std::string& Value)>;
using THookCreateSocket = std::function<void(TBlockSocket& Sender)>;
using THookMonitor = std::function<void(TBlockSocket& Sender, bool Writing, const void* Buffer, int Len)>;
using THookHeartbeat = std::function<void(TBlockSocket& Sender)>;

/// What one platform call on the socket's handle gave (see
/// TBlockSocket::UseHandle): its result, and errno as the call left it, taken
/// before the handle was let go.
struct THandleResult {
    /// What the call returned.
    int Result = -1;
    /// errno right after the call; 0 when the call did not set it.
    int Errno = 0;
    /// Errno in Windows Sockets numbering (ErrorFromErrno).
    [[nodiscard]] int Error() const noexcept { return ErrorFromErrno(Errno); }
};

/// A blocking socket. No operation throws unless RaiseExcept is set: each
/// leaves LastError (0 = success, Windows Sockets numbering) and LastErrorDesc.
/// One thread uses an object at a time; another may set StopFlag or call
/// AbortSocket.
class TBlockSocket {
public:
    TBlockSocket();
    /// The library name is ignored: the socket calls are bound once per process.
    explicit TBlockSocket(const std::string& Stub);
    virtual ~TBlockSocket();
    TBlockSocket(const TBlockSocket&) = delete;
    TBlockSocket& operator=(const TBlockSocket&) = delete;

    /// Family for the next handle; also the one CloseSocket returns to.
    virtual void SetFamily(TSocketFamily Value);
    [[nodiscard]] TSocketFamily Family() const noexcept { return FFamily; }
    /// Adopts an existing handle: refreshes the addresses, clears the counters.
    virtual void SetSocket(int Value);
    /// The native handle, -1 when none.
    [[nodiscard]] int Socket() const noexcept { return FSocket; }
    /// The one way to use the handle: runs Call with it (-1 when there is none)
    /// and returns what Call returned with errno as Call left it. Meanwhile
    /// AbortSocket in another thread cannot close the handle, so its number
    /// cannot pass to a new owner under the call. Call does not use this
    /// socket's handle again inside (GroupCanRead's nesting is of other sockets).
    template <typename TCall>
    THandleResult UseHandle(TCall&& Call) {
        const std::lock_guard<std::mutex> lock(FHandleLock);
        errno = 0;
        const int result = std::forward<TCall>(Call)(FSocket.load());
        return {result, errno};
    }

    /// Makes a handle of the chosen Family when it is not SF_Any.
    void CreateSocket();
    /// Resolves Value and makes a handle of the resulting family.
    void CreateSocketByName(const std::string& Value);
    /// Closes the handle (if any), drops queued options, restores the family.
    virtual void CloseSocket();
    /// Same as TBlockSocket::CloseSocket; safe from another thread: a wait
    /// blocked on the handle ends, and the handle is closed once that wait has
    /// let go of it. Nothing is read from or written to the handle afterwards.
    virtual void AbortSocket();
    /// Binds to a local address; with "0.0.0.0" and "0" on a closed SF_Any
    /// socket nothing happens.
    void Bind(const std::string& IP, const std::string& Port);
    /// Connects; LastError 0 means connected. ConnectionTimeout bounds the wait.
    virtual void Connect(const std::string& IP, const std::string& Port);
    /// Listens with the platform's largest queue.
    virtual void Listen();
    /// Accepts one connection; returns its handle (-1 on failure).
    virtual int Accept();

    /// Sends the buffer in SendMaxChunk pieces; returns the bytes written.
    virtual int SendBuffer(const void* Buffer, int Length);
    /// One byte.
    virtual void SendByte(std::uint8_t Data);
    /// Sends bytes; returns the count written (short only with LastError set).
    virtual int SendString(std::string_view Data);
    /// Four bytes, little-endian.
    virtual void SendInteger(std::int32_t Data);
    /// A 4-byte little-endian length, then the bytes.
    virtual void SendBlock(std::string_view Data);
    /// The rest of the stream.
    virtual void SendStreamRaw(std::istream& Stream);
    /// The rest of the stream after a 4-byte little-endian size.
    virtual void SendStream(std::istream& Stream);
    /// The rest of the stream after a 4-byte big-endian size.
    virtual void SendStreamBE(std::istream& Stream);

    /// One platform read; the count, 0 or less on failure.
    virtual int RecvBuffer(void* Buffer, int Length);
    /// Up to Len bytes into Buffer within Timeout per wait; the count.
    virtual int RecvBufferEx(void* Buffer, int Len, int Timeout);
    /// Exactly Len bytes, or empty with LastError set.
    virtual std::string RecvBufferStr(int Len, int Timeout);
    /// One byte; 0 when nothing came.
    virtual std::uint8_t RecvByte(int Timeout);
    /// Four bytes, little-endian.
    virtual std::int32_t RecvInteger(int Timeout);
    /// One line without CR LF; empty with LastError set on failure.
    virtual std::string RecvString(int Timeout);
    /// RecvString against a deadline instead of a time-out: the line must be whole
    /// by Deadline however its bytes are paced, else 10060 (what came stays in the
    /// line buffer). A line already in the line buffer is returned even when
    /// Deadline has passed. time_point::max() waits without limit.
    std::string RecvStringUntil(std::chrono::steady_clock::time_point Deadline);
    /// Bytes up to (not including) Terminator; see MaxLineLength, ConvertLineEnd
    /// and InterPacketTimeout. 10101 when the peer closed the connection cleanly,
    /// 10054 when it was reset.
    virtual std::string RecvTerminated(int Timeout, std::string_view Terminator);
    /// Whatever bytes are available (the line buffer first); waits up to Timeout.
    virtual std::string RecvPacket(int Timeout);
    /// A block prefixed by a 4-byte little-endian length.
    virtual std::string RecvBlock(int Timeout);
    /// Everything until an error (the peer closing ends it).
    virtual void RecvStreamRaw(std::ostream& Stream, int Timeout);
    /// Exactly Size bytes.
    void RecvStreamSize(std::ostream& Stream, int Timeout, std::int64_t Size);
    /// A stream prefixed by a 4-byte little-endian size.
    virtual void RecvStream(std::ostream& Stream, int Timeout);
    /// A stream prefixed by a 4-byte big-endian size.
    virtual void RecvStreamBE(std::ostream& Stream, int Timeout);
    /// Reads without consuming; the count.
    virtual int PeekBuffer(void* Buffer, int Length);
    /// Waits up to Timeout, then peeks one byte; 10060 when nothing came.
    virtual std::uint8_t PeekByte(int Timeout);
    /// Bytes readable now without waiting (at most 65536).
    virtual int WaitingData();
    /// The line buffer's length when not empty, else WaitingData.
    int WaitingDataEx();
    /// True when bytes from the peer wait to be read: in the line buffer, or
    /// arrived already (records a TLS layer keeps to itself do not count, nor the
    /// rest of a line end whose first half ended the last line). Waits for
    /// nothing; what it reads stays in the line buffer; LastError stays as it was.
    [[nodiscard]] bool Unread();
    /// Discards everything readable now.
    void Purge();
    /// Queues SO_LINGER; Linger in milliseconds.
    void SetLinger(bool Enable, int Linger);
    /// Refresh LocalSin, RemoteSin or both from the handle.
    void GetSinLocal();
    void GetSinRemote();
    void GetSins();
    /// LastError 0, LastErrorDesc empty.
    void ResetLastError();
    /// Records the platform error when SockResult is -1; returns LastError.
    virtual int SockCheck(int SockResult);
    /// SockCheck for a call made through UseHandle, with the error it took.
    int SockCheck(const THandleResult& Call);
    /// Sets LastErrorDesc; reports HR_Error and raises when asked to.
    void ExceptCheck();
    /// Text for an error number (see GetErrorDesc in SocketErrors.h).
    [[nodiscard]] static std::string GetErrorDesc(int ErrorCode);
    /// Text for the current LastError.
    [[nodiscard]] virtual std::string GetErrorDescEx();
    /// The machine's host name, "127.0.0.1" when the platform gives none.
    [[nodiscard]] std::string LocalName();
    /// Every address of Name as numeric text, of the socket's family when one
    /// is chosen; "0.0.0.0" alone when none is found.
    void ResolveNameToIP(const std::string& Name, std::vector<std::string>& IPList);
    /// The first address of Name ("0.0.0.0" when none).
    [[nodiscard]] std::string ResolveName(const std::string& Name);
    /// Host name of an address (a name is resolved first); the address itself
    /// when it has no name.
    [[nodiscard]] std::string ResolveIPToName(std::string IP);
    /// Port number of a number or service text; 0 when neither.
    [[nodiscard]] int ResolvePort(const std::string& Port);
    /// Resolves into RemoteSin (datagram use).
    void SetRemoteSin(const std::string& IP, const std::string& Port);
    /// Numeric address texts and ports of the two ends.
    [[nodiscard]] virtual std::string GetLocalSinIP();
    [[nodiscard]] virtual std::string GetRemoteSinIP();
    [[nodiscard]] virtual int GetLocalSinPort();
    [[nodiscard]] virtual int GetRemoteSinPort();
    /// True when readable within Timeout ms (-1 = no limit).
    [[nodiscard]] virtual bool CanRead(int Timeout);
    /// True at once when the line buffer holds bytes, else CanRead.
    [[nodiscard]] virtual bool CanReadEx(int Timeout);
    /// True when writable within Timeout ms (-1 = no limit).
    [[nodiscard]] virtual bool CanWrite(int Timeout);
    /// One datagram to RemoteSin; bytes sent.
    virtual int SendBufferTo(const void* Buffer, int Length);
    /// One datagram; RemoteSin becomes its sender; bytes received.
    virtual int RecvBufferFrom(void* Buffer, int Length);
    /// Waits on several sockets at once; CanReadList gets the ready ones.
    [[nodiscard]] static bool GroupCanRead(const std::vector<TBlockSocket*>& SocketList, int Timeout,
                                           std::vector<TBlockSocket*>& CanReadList);
    /// Queues SO_RCVTIMEO and SO_SNDTIMEO.
    void SetTimeout(int Timeout);
    /// Queues SO_SNDTIMEO / SO_RCVTIMEO (milliseconds) or SO_REUSEADDR.
    void SetSendTimeout(int Timeout);
    void SetRecvTimeout(int Timeout);
    void EnableReuse(bool Value);
    /// Queues TCP_NODELAY.
    void SetNoDelay(bool Value);
    /// Platform socket type and protocol of new handles; 0 (the default) here.
    [[nodiscard]] virtual int GetSocketType();
    [[nodiscard]] virtual int GetSocketProtocol();

    [[nodiscard]] const TVarSin& LocalSin() const noexcept { return FLocalSin; }
    [[nodiscard]] const TVarSin& RemoteSin() const noexcept { return FRemoteSin; }
    [[nodiscard]] int Tag() const noexcept { return FTag; }
    void SetTag(int Value) noexcept { FTag = Value; }
    /// Received bytes not yet handed out.
    [[nodiscard]] const std::string& LineBuffer() const noexcept { return FBuffer; }
    void SetLineBuffer(const std::string& Value) { FBuffer = Value; }
    [[nodiscard]] bool RaiseExcept() const noexcept { return FRaiseExcept; }
    void SetRaiseExcept(bool Value) noexcept { FRaiseExcept = Value; }
    [[nodiscard]] bool NonBlockMode() const noexcept { return FNonBlockMode; }
    void SetNonBlockMode(bool Value);
    /// Longest line RecvTerminated accepts (each line on its own, however many
    /// arrive together); 0 = no limit.
    [[nodiscard]] int MaxLineLength() const noexcept { return FMaxLineLength; }
    void SetMaxLineLength(int Value) noexcept { FMaxLineLength = Value; }
    /// Bytes per second; 0 = none.
    [[nodiscard]] int MaxSendBandwidth() const noexcept { return FMaxSendBandwidth; }
    void SetMaxSendBandwidth(int Value) noexcept { FMaxSendBandwidth = Value; }
    [[nodiscard]] int MaxRecvBandwidth() const noexcept { return FMaxRecvBandwidth; }
    void SetMaxRecvBandwidth(int Value) noexcept { FMaxRecvBandwidth = Value; }
    /// Sets both limits.
    void SetMaxBandwidth(int Value) noexcept;
    /// Any of CR, LF, CR LF, LF CR ends a line read with terminator CR LF.
    [[nodiscard]] bool ConvertLineEnd() const noexcept { return FConvertLineEnd; }
    void SetConvertLineEnd(bool Value) noexcept { FConvertLineEnd = Value; }
    [[nodiscard]] bool PreferIP4() const noexcept { return FPreferIP4; }
    void SetPreferIP4(bool Value) noexcept { FPreferIP4 = Value; }
    [[nodiscard]] bool IP6used() const noexcept { return FIP6used; }
    /// True: a read time-out limits each wait, not the whole read.
    [[nodiscard]] bool InterPacketTimeout() const noexcept { return FInterPacketTimeout; }
    void SetInterPacketTimeout(bool Value) noexcept { FInterPacketTimeout = Value; }
    [[nodiscard]] std::int64_t RecvCounter() const noexcept { return FRecvCounter; }
    [[nodiscard]] std::int64_t SendCounter() const noexcept { return FSendCounter; }
    [[nodiscard]] int SendMaxChunk() const noexcept { return FSendMaxChunk; }
    void SetSendMaxChunk(int Value) noexcept { FSendMaxChunk = Value; }
    /// Set by anyone to abort the current operation with 10053.
    [[nodiscard]] bool StopFlag() const noexcept { return FStopFlag; }
    void SetStopFlag(bool Value) noexcept { FStopFlag = Value; }
    [[nodiscard]] int NonblockSendTimeout() const noexcept { return FNonblockSendTimeout; }
    void SetNonblockSendTimeout(int Value) noexcept { FNonblockSendTimeout = Value; }
    /// Heartbeat slice in ms during waits; 0 = none.
    [[nodiscard]] int HeartbeatRate() const noexcept { return FHeartbeatRate; }
    void SetHeartbeatRate(int Value) noexcept { FHeartbeatRate = Value; }
    /// Connect (and TLS handshake) limit in ms; 0 or less = none.
    [[nodiscard]] int ConnectionTimeout() const noexcept { return FConnectionTimeout; }
    void SetConnectionTimeout(int Value) noexcept { FConnectionTimeout = Value; }
    [[nodiscard]] int LastError() const noexcept { return FLastError; }
    [[nodiscard]] const std::string& LastErrorDesc() const noexcept { return FLastErrorDesc; }
    /// The protocol client owning this socket (not owned).
    [[nodiscard]] TNetClient* Owner() const noexcept { return FOwner; }
    void SetOwner(TNetClient* Value) noexcept { FOwner = Value; }
    /// SO_RCVBUF of the handle, 1024 when it cannot be read.
    [[nodiscard]] int SizeRecvBuffer();
    void SetSizeRecvBuffer(int Size);
    [[nodiscard]] int SizeSendBuffer();
    void SetSizeSendBuffer(int Size);
    [[nodiscard]] int TTL();
    void SetTTL(int TTL);

    [[nodiscard]] const THookSocketStatus& OnStatus() const noexcept { return FOnStatus; }
    void SetOnStatus(THookSocketStatus Value) { FOnStatus = std::move(Value); }
    [[nodiscard]] const THookDataFilter& OnReadFilter() const noexcept { return FOnReadFilter; }
    void SetOnReadFilter(THookDataFilter Value) { FOnReadFilter = std::move(Value); }
    [[nodiscard]] const THookCreateSocket& OnCreateSocket() const noexcept { return FOnCreateSocket; }
    void SetOnCreateSocket(THookCreateSocket Value) { FOnCreateSocket = std::move(Value); }
    [[nodiscard]] const THookMonitor& OnMonitor() const noexcept { return FOnMonitor; }
    void SetOnMonitor(THookMonitor Value) { FOnMonitor = std::move(Value); }
    [[nodiscard]] const THookHeartbeat& OnHeartbeat() const noexcept { return FOnHeartbeat; }
    void SetOnHeartbeat(THookHeartbeat Value) { FOnHeartbeat = std::move(Value); }

protected:
    /// Sends the rest of Stream, after a 4-byte size when WithSize (big-endian
    /// when BigEndian, else little-endian).
    virtual void InternalSendStream(std::istream& Stream, bool WithSize, bool BigEndian);
    [[nodiscard]] virtual bool InternalCanRead(int Timeout);
    [[nodiscard]] virtual bool InternalCanWrite(int Timeout);
    void SetSin(TVarSin& Sin, const std::string& IP, const std::string& Port);
    void InternalCreateSocket(const TVarSin& Sin);
    /// Resolves into Sin and makes the handle when none exists; true when
    /// both worked.
    [[nodiscard]] bool ResolveForHandle(TVarSin& Sin, const std::string& IP, const std::string& Port);
    void DoStatus(THookSocketReason Reason, const std::string& Value);
    /// Unsets every hook, so that closing on destruction calls none of them.
    void DropHooks() noexcept;
    void DoReadFilter(std::string& Buffer, int& Length);
    void DoMonitor(bool Writing, const void* Buffer, int Len);
    void DoCreateSocket();
    void DoHeartbeat();
    /// True (with 10053 recorded) when the stop flag was set.
    [[nodiscard]] bool TestStopFlag();
    void LimitBandwidth(int Length, int MaxB, std::uint32_t& Next);
    void LimitSendBandwidth(int Length) { LimitBandwidth(Length, FMaxSendBandwidth, FNextSend); }
    void LimitRecvBandwidth(int Length) { LimitBandwidth(Length, FMaxRecvBandwidth, FNextRecv); }
    void SetDelayedOption(const TSockOption& Value);
    void DelayedOption(const TSockOption& Value);
    void ProcessDelayed();
    /// Counters, status, monitor and read filter after bytes arrived; returns
    /// the count the filter leaves.
    int AfterRecv(void* Buffer, int Count);
    /// The piece loop of SendBuffer around one send step.
    /// Piece sends up to Len bytes and returns the count, or -1 with LastError
    /// set; the loop adds the limit, counters, status and error check.
    int SendChunked(const void* Buffer, int Length,
                    const std::function<int(const std::uint8_t* Data, int Len)>& Piece);
    void SetLastError(int Value) noexcept { FLastError = Value; }
    /// Resets error and line state when a connection (re)starts.
    void ResetConnectionState();

    TVarSin FLocalSin;
    TVarSin FRemoteSin;
    std::string FBuffer;
    bool FLastCR = false;
    bool FLastLF = false;
    bool FBinded = false;
    TSocketFamily FFamily = TSocketFamily::SF_Any;
    TSocketFamily FFamilySave = TSocketFamily::SF_Any;
    bool FIP6used = false;
    std::atomic<int> FSocket = -1;

private:
    std::mutex FHandleLock;
    /// Hands up to Len received bytes to Sink piece by piece (line buffer first);
    /// stops on error; extra bytes of the last packet go back to the line
    /// buffer. Returns the count handed out.
    std::int64_t RecvChunks(std::int64_t Len, int Timeout,
                            const std::function<void(const char* Data, std::size_t Size)>& Sink);
    /// The bytes that arrive within Timeout (one platform read); reads that hand
    /// out nothing yet (10035: a TLS record of the protocol's own, half a record)
    /// wait on with what is left of Timeout.
    [[nodiscard]] std::string ReadArrived(int Timeout);
    /// CanRead or CanWrite: heartbeat slices, error check, status.
    [[nodiscard]] bool WaitReady(bool Write, int Timeout);
    /// Switches the handle's blocking mode without touching LastError.
    void ApplyNonBlock(bool Value);
    /// Time budget of reads that gather several packets: false (with 10060)
    /// when Remaining ran out.
    [[nodiscard]] bool SpendTime(int& Remaining, std::uint32_t Since);
    /// The wait for the next packet of a line: milliseconds (-1 = no limit), or
    /// nothing once the line's time is up.
    using TNextWait = std::function<std::optional<int>()>;
    /// RecvTerminated with the waits NextWait gives.
    std::string ReadTerminated(std::string_view Terminator, const TNextWait& NextWait);
    /// With ConvertLineEnd: drops from the front of Bytes the second half of the
    /// line end that ended the last line (LF after a lone CR, CR after a lone LF).
    void DropLineEndRest(std::string& Bytes);

    THookSocketStatus FOnStatus;
    THookDataFilter FOnReadFilter;
    THookCreateSocket FOnCreateSocket;
    THookMonitor FOnMonitor;
    THookHeartbeat FOnHeartbeat;
    int FTag = 0;
    bool FRaiseExcept = false;
    bool FNonBlockMode = false;
    int FMaxLineLength = 0;
    int FMaxSendBandwidth = 0;
    std::uint32_t FNextSend = 0;
    int FMaxRecvBandwidth = 0;
    std::uint32_t FNextRecv = 0;
    bool FConvertLineEnd = false;
    bool FPreferIP4 = true;
    std::vector<TSockOption> FDelayedOptions;
    bool FInterPacketTimeout = true;
    std::int64_t FRecvCounter = 0;
    std::int64_t FSendCounter = 0;
    int FSendMaxChunk = 65536;
    std::atomic<bool> FStopFlag = false;
    int FNonblockSendTimeout = 15000;
    int FHeartbeatRate = 0;
    int FConnectionTimeout = 0;
    int FLastError = 0;
    std::string FLastErrorDesc;
    TNetClient* FOwner = nullptr;
};

}  // namespace tandrel::net
