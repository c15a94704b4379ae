#pragma once
// A message saved earlier (an .eml file), to be sent as it is.

#include <string>
#include <vector>

namespace tandrel::mail::tool {

/// The whole content of `Path` as bytes; "-" reads standard input. Throws
/// std::runtime_error when it cannot be read.
[[nodiscard]] std::string ReadMessageFile(const std::string& Path);

/// The addresses a message's header names: the sender of From, the recipients of
/// To and Cc (in that order).
struct TEnvelope {
    std::string From;
    std::vector<std::string> Recipients;
};

/// The envelope of the header of `Message` (bytes, lines ended by CR LF or LF).
[[nodiscard]] TEnvelope EnvelopeOf(const std::string& Message);

}  // namespace tandrel::mail::tool
