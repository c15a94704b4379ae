#pragma once
// The datagram socket.

#include "net/BlockSocket.h"

namespace tandrel::net {

/// A UDP socket: Bind to receive, SetRemoteSin or Connect to choose the peer,
/// SendBufferTo and RecvBufferFrom for datagrams.
class TUDPBlockSocket : public TBlockSocket {
public:
    using TBlockSocket::TBlockSocket;
    [[nodiscard]] int GetSocketType() override;
    [[nodiscard]] int GetSocketProtocol() override;
};

}  // namespace tandrel::net
