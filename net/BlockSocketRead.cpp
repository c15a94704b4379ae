// TBlockSocket: reading (one platform read, lines, blocks, streams, peeking).

#include "net/BlockSocket.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>

#include "support/BinaryPacking.h"
#include "support/Tick.h"
#include "net/detail/Native.h"

namespace tandrel::net {

using namespace detail;

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';

std::uint32_t FromLittleEndian32(std::string_view Value) {
  std::uint32_t Result = 0;
  for (std::size_t N = 0; N < 4 && N < Value.size(); ++N)
    Result |= std::uint32_t{static_cast<unsigned char>(Value[N])} << (8 * N);
  return Result;
}

}  // namespace

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

}  // namespace tandrel::net
