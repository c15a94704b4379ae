#pragma once
// The platform socket calls, each behind one small function. Results are the
// platform's (-1 = failure); LastSocketError gives the failure in Winsock
// numbering. Nothing else in the library calls the platform directly.

#include "net/BlockSocket.h"
#include "net/SocketInterface.h"

#include <cstdint>
#include <vector>

namespace tandrel::net::detail {

/// Winsock number of the calling thread's last socket failure.
[[nodiscard]] int LastSocketError() noexcept;

int NativeSocket(int Family, int Type, int Protocol) noexcept;
int NativeClose(int Socket) noexcept;
int NativeBind(int Socket, const TVarSin& Sin) noexcept;
int NativeConnect(int Socket, const TVarSin& Sin) noexcept;
int NativeListen(int Socket) noexcept;
/// Fills Sin with the peer's address.
int NativeAccept(int Socket, TVarSin& Sin) noexcept;
/// Never raises SIGPIPE; a closed peer gives -1 with 10054.
int NativeSend(int Socket, const void* Buffer, int Length) noexcept;
int NativeRecv(int Socket, void* Buffer, int Length, bool Peek) noexcept;
/// Reads only what has arrived, whatever the handle's mode: -1 with 10035 when
/// nothing has.
int NativeRecvArrived(int Socket, void* Buffer, int Length) noexcept;
int NativeSendTo(int Socket, const void* Buffer, int Length, const TVarSin& Sin) noexcept;
int NativeRecvFrom(int Socket, void* Buffer, int Length, TVarSin& Sin) noexcept;
int NativeGetSockName(int Socket, TVarSin& Sin) noexcept;
int NativeGetPeerName(int Socket, TVarSin& Sin) noexcept;
/// Shuts the sending direction down.
int NativeShutdownSend(int Socket) noexcept;
/// Shuts both directions down (wakes waits on the handle in other threads).
int NativeShutdownBoth(int Socket) noexcept;
int NativeSetNonBlock(int Socket, bool Value) noexcept;
/// Bytes readable now; -1 when the query fails.
int NativeWaitingData(int Socket) noexcept;
/// Applies one option to the handle; IP6 picks the family's TTL options.
int NativeApplyOption(int Socket, bool IP6, const TSockOption& Value) noexcept;
/// Reads an integer option (SOT_RecvBuff, SOT_SendBuff, SOT_TTL); -1 on failure.
int NativeReadOption(int Socket, bool IP6, TSockOptionType Option, int& Value) noexcept;
/// Waits up to Timeout ms (-1 = no limit) for the handle to be readable or
/// writable: 1 ready, 0 timed out, -1 failure.
int NativeWait(int Socket, bool Write, int Timeout) noexcept;
/// Waits on several handles for reading; Ready gets the ready ones.
int NativeWaitMany(const std::vector<int>& Sockets, int Timeout, std::vector<int>& Ready);
/// The pending error of the handle (SO_ERROR) in Winsock numbering; 0 = none.
[[nodiscard]] int NativePendingError(int Socket) noexcept;
/// Sleeps Milliseconds; 0 yields the processor.
void NativeSleep(int Milliseconds) noexcept;

[[nodiscard]] int NativeStreamType() noexcept;
[[nodiscard]] int NativeDatagramType() noexcept;
[[nodiscard]] int NativeTCPProtocol() noexcept;
[[nodiscard]] int NativeUDPProtocol() noexcept;

}  // namespace tandrel::net::detail
