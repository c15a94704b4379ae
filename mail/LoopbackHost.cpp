#include "mail/LoopbackHost.h"

#include "net/AddressText.h"
#include "support/AsciiText.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace tandrel::mail {

bool IsLoopbackHost(const std::string& Host) {
    const std::string name = support::LowerAscii(Host);
    if (name == "localhost" || name == "localhost.") return true;
    if (net::IsIP(Host)) return net::IPToID(Host).front() == 127;
    if (!net::IsIP6(Host)) return false;
    const std::array<std::uint8_t, 16> ip = net::StrToIp6(Host);
    const auto zeros = [&](std::size_t From, std::size_t To) {
        return std::all_of(ip.begin() + From, ip.begin() + To, [](std::uint8_t B) { return B == 0; });
    };
    if (zeros(0, 15) && ip[15] == 1) return true;  // ::1
    // An IPv4 loopback address written as IPv6 (::ffff:127.0.0.1 in hexadecimal groups).
    return zeros(0, 10) && ip[10] == 0xFF && ip[11] == 0xFF && ip[12] == 127;
}

}  // namespace tandrel::mail
