#pragma once

#include <string>

namespace tandrel::mail {

/// True for a host whose traffic never leaves the machine: "localhost" (any case, with or
/// without a final "."), an IPv4 address in 127.0.0.0/8, "::1" and "::ffff:127.x.x.x".
/// Names are not resolved: any other name is taken to leave the machine.
[[nodiscard]] bool IsLoopbackHost(const std::string& Host);

}  // namespace tandrel::mail
