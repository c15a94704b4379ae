// TBlockSocket: writing (in pieces; bytes, integers, blocks, streams).

#include "net/BlockSocket.h"

#include <algorithm>
#include <istream>
#include <limits>

#include "support/BinaryPacking.h"
#include "net/detail/Native.h"

namespace tandrel::net {

using namespace detail;

namespace {

std::string LittleEndian32(std::uint32_t Value) {
  std::string Result(4, '\0');
  for (int N = 0; N < 4; ++N)
    Result[N] = static_cast<char>((Value >> (8 * N)) & 0xFF);
  return Result;
}

}  // namespace

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

}  // namespace tandrel::net
