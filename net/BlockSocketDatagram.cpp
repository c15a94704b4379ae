// TBlockSocket: datagrams to and from RemoteSin.

#include "net/BlockSocket.h"
#include "net/detail/Native.h"

namespace tandrel::net {

using namespace detail;

int TBlockSocket::SendBufferTo(const void* Buffer, int Length) {
    if (TestStopFlag()) return 0;
    if (FSocket == -1) InternalCreateSocket(FRemoteSin);
    LimitSendBandwidth(Length);
    DoMonitor(true, Buffer, Length);
    const THandleResult sent =
        UseHandle([&](int Handle) { return NativeSendTo(Handle, Buffer, Length, FRemoteSin); });
    SockCheck(sent);
    ExceptCheck();
    const int written = sent.Result;
    if (written > 0) {
        FSendCounter += written;
        DoStatus(THookSocketReason::HR_WriteCount, std::to_string(written));
    }
    return written;
}

int TBlockSocket::RecvBufferFrom(void* Buffer, int Length) {
    if (TestStopFlag()) return 0;
    LimitRecvBandwidth(Length);
    const THandleResult read =
        UseHandle([&](int Handle) { return NativeRecvFrom(Handle, Buffer, Length, FRemoteSin); });
    SockCheck(read);
    ExceptCheck();
    int count = read.Result;
    if (count > 0) count = AfterRecv(Buffer, count);
    return count;
}

}  // namespace tandrel::net
