// TBlockSocket: reading (one platform read, lines, blocks, streams, peeking).

#include "net/BlockSocket.h"
#include "net/detail/Native.h"
#include "support/BinaryPacking.h"
#include "support/Tick.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>

namespace tandrel::net {

using namespace detail;

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';

std::uint32_t FromLittleEndian32(std::string_view Value) {
    std::uint32_t result = 0;
    for (std::size_t n = 0; n < 4 && n < Value.size(); ++n)
        result |= std::uint32_t{static_cast<unsigned char>(Value[n])} << (8 * n);
    return result;
}

}  // namespace

int TBlockSocket::AfterRecv(void* Buffer, int Count) {
    FRecvCounter += Count;
    DoStatus(THookSocketReason::HR_ReadCount, std::to_string(Count));
    DoMonitor(false, Buffer, Count);
    if (FOnReadFilter) {
        std::string bytes(static_cast<const char*>(Buffer), static_cast<std::size_t>(Count));
        DoReadFilter(bytes, Count);
        std::memcpy(Buffer, bytes.data(), bytes.size());
    }
    return Count;
}

int TBlockSocket::RecvBuffer(void* Buffer, int Length) {
    if (TestStopFlag()) return 0;
    if (Length <= 0) return 0;
    LimitRecvBandwidth(Length);
    const THandleResult read =
        UseHandle([&](int Handle) { return NativeRecv(Handle, Buffer, Length, false); });
    int count = read.Result;
    if (count == 0) {
        // The peer's orderly close, which a reset (ECONNRESET) is not.
        ResetLastError();
        FLastError = WSAEDISCON;
    } else {
        SockCheck(read);
    }
    ExceptCheck();
    if (count > 0) count = AfterRecv(Buffer, count);
    return count;
}

std::string TBlockSocket::RecvPacket(int Timeout) {
    std::string result;
    ResetLastError();
    if (!FBuffer.empty()) {
        result.swap(FBuffer);
    } else {
        // Give other threads a turn before every platform read of a long transfer.
        NativeSleep(0);
        result = ReadArrived(Timeout);
    }
    DropLineEndRest(result);
    ExceptCheck();
    return result;
}

void TBlockSocket::DropLineEndRest(std::string& Bytes) {
    if (!FConvertLineEnd || Bytes.empty()) return;
    if ((FLastCR && Bytes.front() == LF) || (FLastLF && Bytes.front() == CR)) Bytes.erase(0, 1);
    FLastCR = false;
    FLastLF = false;
}

std::string TBlockSocket::ReadArrived(int Timeout) {
    const std::uint32_t start = support::GetTick();
    int left = Timeout;
    for (;;) {
        int count = WaitingData();
        if (count <= 0) {
            if (!CanRead(left)) {
                if (FLastError == 0) FLastError = WSAETIMEDOUT;
                return {};
            }
            count = WaitingData();
            if (count == 0) {
                // Readable with nothing to read: the peer has gone. A peek tells an
                // orderly close (nothing more will come) from a reset (an error).
                char probe = 0;
                const int peeked = PeekBuffer(&probe, 1);
                if (peeked < 0) return {};
                if (peeked == 0) {
                    ResetLastError();
                    FLastError = WSAEDISCON;
                    return {};
                }
                count = 1;  // a byte came after all
            }
        }
        std::string result(static_cast<std::size_t>(count), '\0');
        const int read = RecvBuffer(result.data(), count);
        if (read > 0 && FLastError == 0) {
            result.resize(static_cast<std::size_t>(read));
            return result;
        }
        if (FLastError != WSAEWOULDBLOCK) return {};
        // Only what the protocol keeps to itself came: the wait for the bytes
        // asked for goes on, within the same time-out.
        ResetLastError();
        if (Timeout >= 0) {
            left = Timeout - static_cast<int>(support::TickDelta(start, support::GetTick()));
            if (left <= 0) {
                FLastError = WSAETIMEDOUT;
                return {};
            }
        }
    }
}

bool TBlockSocket::SpendTime(int& Remaining, std::uint32_t Since) {
    // A negative time-out waits without limit: there is no budget to spend.
    if (FInterPacketTimeout || Remaining < 0) return true;
    Remaining -= static_cast<int>(support::TickDelta(Since, support::GetTick()));
    if (Remaining > 0) return true;
    FLastError = WSAETIMEDOUT;
    return false;
}

std::string TBlockSocket::RecvTerminated(int Timeout, std::string_view Terminator) {
    int remaining = Timeout;
    bool first = true;
    std::uint32_t since = 0;
    return ReadTerminated(Terminator, [&]() -> std::optional<int> {
        // Each later pass: the whole Timeout again (inter-packet rule), else what
        // the passes before have left of it.
        if (!first && !SpendTime(remaining, since)) return std::nullopt;
        first = false;
        since = support::GetTick();
        return remaining;
    });
}

std::string TBlockSocket::RecvStringUntil(std::chrono::steady_clock::time_point Deadline) {
    using Clock = std::chrono::steady_clock;
    bool first = true;
    std::string result = ReadTerminated("\r\n", [&]() -> std::optional<int> {
        if (Deadline == Clock::time_point::max()) return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Clock::now()).count();
        // The first pass always looks: a line already here is no late line.
        if (left <= 0 && !first) {
            FLastError = WSAETIMEDOUT;
            return std::nullopt;
        }
        first = false;
        return static_cast<int>(std::clamp<decltype(left)>(left, 0, std::numeric_limits<int>::max()));
    });
    if (FLastError != 0) result.clear();
    return result;
}

std::string TBlockSocket::ReadTerminated(std::string_view Terminator, const TNextWait& NextWait) {
    ResetLastError();
    std::string result;
    if (Terminator.empty()) return result;
    const bool anyLineEnd = FConvertLineEnd && Terminator == "\r\n";
    std::string work;
    std::size_t found = std::string::npos;
    std::size_t foundLength = Terminator.size();
    std::size_t scanned = 0;
    for (;;) {
        const std::optional<int> wait = NextWait();
        if (!wait) break;
        work += RecvPacket(*wait);
        if (FLastError != 0) break;
        if (anyLineEnd) {
            found = work.find_first_of("\r\n", scanned);
            if (found != std::string::npos) {
                const char other = work[found] == CR ? LF : CR;
                if (found + 1 < work.size() && work[found + 1] == other) {
                    foundLength = 2;
                } else {
                    foundLength = 1;
                    FLastCR = work[found] == CR;
                    FLastLF = work[found] == LF;
                }
            }
            scanned = work.size();
        } else {
            found = work.find(Terminator, scanned);
            // The next pass may complete a terminator that began in this one.
            scanned = work.size() >= Terminator.size() ? work.size() - Terminator.size() + 1 : 0;
        }
        // The limit is the line's: lines that came after it in the same packet are
        // judged when they are read.
        const std::size_t line = found != std::string::npos ? found : work.size();
        if (FMaxLineLength != 0 && line > static_cast<std::size_t>(FMaxLineLength)) {
            if (found != std::string::npos) FLastCR = FLastLF = false;  // that line end is not taken
            FLastError = WSAENOBUFS;
            break;
        }
        if (found != std::string::npos) break;
    }
    if (FLastError == 0 && found != std::string::npos) {
        result = work.substr(0, found);
        work.erase(0, found + foundLength);
    }
    FBuffer = std::move(work);
    ExceptCheck();
    return result;
}

std::string TBlockSocket::RecvString(int Timeout) {
    std::string result = RecvTerminated(Timeout, "\r\n");
    if (FLastError != 0) result.clear();
    return result;
}

bool TBlockSocket::Unread() {
    if (FBuffer.empty() && FSocket != -1) {
        const int savedError = FLastError;
        std::string savedDesc = FLastErrorDesc;
        FBuffer = ReadArrived(0);
        FLastError = savedError;
        FLastErrorDesc = std::move(savedDesc);
    }
    DropLineEndRest(FBuffer);
    return !FBuffer.empty();
}

std::int64_t TBlockSocket::RecvChunks(std::int64_t Len, int Timeout,
                                      const std::function<void(const char* Data, std::size_t Size)>& Sink) {
    ResetLastError();
    std::int64_t count = 0;
    int remaining = Timeout;
    while (count < Len) {
        const std::uint32_t since = support::GetTick();
        std::string packet = RecvPacket(remaining);
        if (FLastError != 0) break;
        const auto take = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(packet.size()), Len - count));
        Sink(packet.data(), take);
        count += static_cast<std::int64_t>(take);
        if (take < packet.size()) FBuffer = packet.substr(take);
        if (count < Len && !SpendTime(remaining, since)) break;
    }
    ExceptCheck();
    return count;
}

int TBlockSocket::RecvBufferEx(void* Buffer, int Len, int Timeout) {
    ResetLastError();
    if (Len <= 0) return 0;
    auto* out = static_cast<char*>(Buffer);
    return static_cast<int>(RecvChunks(Len, Timeout, [&out](const char* Data, std::size_t Size) {
        std::memcpy(out, Data, Size);
        out += Size;
    }));
}

std::string TBlockSocket::RecvBufferStr(int Len, int Timeout) {
    std::string result;
    if (Len < 1) return result;
    // Grows with what arrives: a length announced by the peer never makes us
    // allocate it up front.
    RecvChunks(Len, Timeout, [&result](const char* Data, std::size_t Size) { result.append(Data, Size); });
    if (FLastError != 0) {
        // Keep what came for the next read instead of dropping it.
        FBuffer.insert(0, result);
        result.clear();
    }
    return result;
}

std::uint8_t TBlockSocket::RecvByte(int Timeout) {
    ResetLastError();
    if (FBuffer.empty()) FBuffer = RecvPacket(Timeout);
    if (FLastError != 0 || FBuffer.empty()) return 0;
    const auto result = static_cast<std::uint8_t>(FBuffer.front());
    FBuffer.erase(0, 1);
    return result;
}

std::int32_t TBlockSocket::RecvInteger(int Timeout) {
    const std::string bytes = RecvBufferStr(4, Timeout);
    if (FLastError != 0) return 0;
    return static_cast<std::int32_t>(FromLittleEndian32(bytes));
}

std::string TBlockSocket::RecvBlock(int Timeout) {
    const std::int32_t length = RecvInteger(Timeout);
    if (FLastError != 0) return {};
    return RecvBufferStr(length, Timeout);
}

void TBlockSocket::RecvStreamRaw(std::ostream& Stream, int Timeout) {
    for (;;) {
        const std::string packet = RecvPacket(Timeout);
        if (FLastError != 0) break;
        support::WriteStrToStream(Stream, packet);
    }
}

void TBlockSocket::RecvStreamSize(std::ostream& Stream, int Timeout, std::int64_t Size) {
    ResetLastError();
    if (Size <= 0) return;
    RecvChunks(Size, Timeout, [&Stream](const char* Data, std::size_t Length) {
        support::WriteStrToStream(Stream, std::string_view(Data, Length));
    });
}

void TBlockSocket::RecvStream(std::ostream& Stream, int Timeout) {
    const std::string prefix = RecvBufferStr(4, Timeout);
    if (FLastError == 0) RecvStreamSize(Stream, Timeout, FromLittleEndian32(prefix));
}

void TBlockSocket::RecvStreamBE(std::ostream& Stream, int Timeout) {
    const std::string prefix = RecvBufferStr(4, Timeout);
    if (FLastError == 0) RecvStreamSize(Stream, Timeout, support::DecodeLongInt(prefix, 1));
}

int TBlockSocket::PeekBuffer(void* Buffer, int Length) {
    const THandleResult peeked =
        UseHandle([&](int Handle) { return NativeRecv(Handle, Buffer, Length, true); });
    SockCheck(peeked);
    ExceptCheck();
    return peeked.Result;
}

std::uint8_t TBlockSocket::PeekByte(int Timeout) {
    std::uint8_t result = 0;
    if (CanRead(Timeout)) {
        static_cast<void>(PeekBuffer(&result, 1));
    } else {
        if (FLastError == 0) FLastError = WSAETIMEDOUT;
        ExceptCheck();
    }
    return result;
}

void TBlockSocket::Purge() {
    // Up to 1 ms for bytes still on their way, as a fixed 1 ms pause would give
    // them, but no longer than until they (or the peer's close) have come.
    static_cast<void>(UseHandle([](int Handle) { return NativeWait(Handle, false, 1); }));
    try {
        while (!FBuffer.empty() || WaitingData() > 0) {
            static_cast<void>(RecvPacket(0));
            if (FLastError != 0) break;
        }
    } catch (const ESocketError&) {
        // Purging is best effort: an error only ends it.
    }
    ResetLastError();
}

}  // namespace tandrel::net
