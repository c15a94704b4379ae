#include "net/UDPBlockSocket.h"

#include "net/detail/Native.h"

namespace tandrel::net {

int TUDPBlockSocket::GetSocketType() { return detail::NativeDatagramType(); }
int TUDPBlockSocket::GetSocketProtocol() { return detail::NativeUDPProtocol(); }

}  // namespace tandrel::net
