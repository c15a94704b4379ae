// TBlockSocket: writing (in pieces; bytes, integers, blocks, streams).

#include "net/BlockSocket.h"
#include "net/detail/Native.h"
#include "support/BinaryPacking.h"

#include <algorithm>
#include <istream>
#include <limits>

namespace tandrel::net {

using namespace detail;

namespace {

std::string LittleEndian32(std::uint32_t Value) {
    std::string result(4, '\0');
    for (int n = 0; n < 4; ++n) result[n] = static_cast<char>((Value >> (8 * n)) & 0xFF);
    return result;
}

}  // namespace

int TBlockSocket::SendChunked(const void* Buffer, int Length,
                              const std::function<int(const std::uint8_t* Data, int Len)>& Piece) {
    ResetLastError();
    const auto* data = static_cast<const std::uint8_t*>(Buffer);
    const int chunk = FSendMaxChunk > 0 ? FSendMaxChunk : std::max(Length, 1);
    int sent = 0;
    while (sent < Length) {
        const int size = std::min(chunk, Length - sent);
        LimitSendBandwidth(size);
        const int written = Piece(data + sent, size);
        if (written < 0 || FLastError != 0) break;
        if (written == 0) {
            // No progress and no error: the peer is gone.
            FLastError = WSAECONNRESET;
            break;
        }
        sent += written;
        FSendCounter += written;
        DoStatus(THookSocketReason::HR_WriteCount, std::to_string(written));
    }
    ExceptCheck();
    return sent;
}

int TBlockSocket::SendBuffer(const void* Buffer, int Length) {
    if (TestStopFlag()) return 0;
    DoMonitor(true, Buffer, Length);
    return SendChunked(Buffer, Length, [this](const std::uint8_t* Data, int Len) {
        const auto send = [&](int Handle) { return NativeSend(Handle, Data, Len); };
        THandleResult written = UseHandle(send);
        SockCheck(written);
        if (FLastError == WSAEWOULDBLOCK) {
            if (CanWrite(FNonblockSendTimeout)) {
                written = UseHandle(send);
                SockCheck(written);
                if (FLastError == WSAEWOULDBLOCK) FLastError = WSAETIMEDOUT;
            } else {
                FLastError = WSAETIMEDOUT;
            }
        }
        return FLastError == 0 ? written.Result : -1;
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
    std::string bytes = LittleEndian32(static_cast<std::uint32_t>(Data.size()));
    bytes.append(Data);
    static_cast<void>(SendString(bytes));
}

void TBlockSocket::InternalSendStream(std::istream& Stream, bool WithSize, bool BigEndian) {
    ResetLastError();
    std::string prefix;
    if (WithSize) {
        const auto start = Stream.tellg();
        Stream.seekg(0, std::ios::end);
        const auto end = Stream.tellg();
        Stream.seekg(start);
        if (start < 0 || end < 0) {
            FLastError = WSAEINVAL;
            ExceptCheck();
            return;
        }
        const auto size = static_cast<std::uint64_t>(end - start);
        if (size > std::numeric_limits<std::uint32_t>::max()) {
            // The 4-byte prefix cannot state it; a cut size would corrupt the transfer.
            FLastError = WSAEMSGSIZE;
            ExceptCheck();
            return;
        }
        const auto size32 = static_cast<std::uint32_t>(size);
        prefix = BigEndian ? support::CodeLongInt(size32) : LittleEndian32(size32);
    }
    const auto chunk = static_cast<std::size_t>(FSendMaxChunk > 0 ? FSendMaxChunk : 65536);
    for (bool first = true;; first = false) {
        std::string piece = support::ReadStrFromStream(Stream, chunk);
        if (first) piece.insert(0, prefix);
        if (piece.empty()) break;
        static_cast<void>(SendString(piece));
        if (FLastError != 0) break;
    }
}

void TBlockSocket::SendStreamRaw(std::istream& Stream) { InternalSendStream(Stream, false, false); }
void TBlockSocket::SendStream(std::istream& Stream) { InternalSendStream(Stream, true, false); }
void TBlockSocket::SendStreamBE(std::istream& Stream) { InternalSendStream(Stream, true, true); }

}  // namespace tandrel::net
