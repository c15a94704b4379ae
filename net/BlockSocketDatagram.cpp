// TBlockSocket: datagrams to and from RemoteSin.

#include "net/BlockSocket.h"

#include "net/detail/Native.h"

namespace tandrel::net {

using namespace detail;

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
