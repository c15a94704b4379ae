#pragma once
// The Message-ID a mail gets when its sender set none.

#include <string>
#include <string_view>

namespace tandrel::mail {

/// The right side of a new Message-ID: `SenderDomain` when it is a dot-atom
/// ("loja.example") or a domain literal ("[192.0.2.1]"), else `HostName` when it is
/// one, else "localhost". A non-ASCII domain must be given as its A-label.
[[nodiscard]] std::string MessageIDDomain(std::string_view SenderDomain, std::string_view HostName);

/// A new Message-ID without its angle brackets, unique to one message: 128 random bits
/// as 32 lower-case hexadecimal digits, "@" and `Domain`.
[[nodiscard]] std::string UniqueMessageID(std::string_view Domain);

}  // namespace tandrel::mail
