#pragma once
// Checks and conversions of numeric address texts.

#include <array>
#include <cstdint>
#include <string>

namespace tandrel::net {

/// True for a dotted quad: exactly four parts of decimal digits, each 0..255
/// after trimming spaces ("001.2.3.4" passes, "1.2.3", "+1.2.3.4" do not).
[[nodiscard]] bool IsIP(const std::string& Value);
/// True for an IPv6 text: up to eight hexadecimal groups, at most one "::",
/// an optional hexadecimal zone after "%"; no dotted IPv4 tail, no lone group.
[[nodiscard]] bool IsIP6(const std::string& Value);
/// The four bytes of a dotted quad in network order, as text of 4 bytes;
/// parts that are no number become 0.
[[nodiscard]] std::string IPToID(const std::string& Host);
/// Writes the "::" of an IPv6 text as its zero groups (eight groups result).
[[nodiscard]] std::string ExpandIP6(const std::string& Value);
/// The sixteen bytes of an IPv6 text; all zero when it is not one.
[[nodiscard]] std::array<std::uint8_t, 16> StrToIp6(const std::string& Value);
/// Lower-case hexadecimal text of sixteen bytes, the longest run of zero
/// groups written as "::".
[[nodiscard]] std::string Ip6ToStr(const std::array<std::uint8_t, 16>& Value);

}  // namespace tandrel::net
