#pragma once
// Where tandrel-mail takes the account's password from, other than its command line
// (which every user of the machine can read).

#include <optional>
#include <string>

namespace tandrel::mail::tool {

/// The first line of `File`, without its line end and without the UTF-8 byte-order mark
/// an editor may put at its start. Throws std::runtime_error when the file cannot be read.
[[nodiscard]] std::string ReadPasswordFile(const std::string& File);

/// True when users other than its owner may read `File` (its group or everyone has read
/// permission); false also when it cannot be looked at.
[[nodiscard]] bool OthersMayRead(const std::string& File);

/// Shows `Prompt` on standard error and reads one line from standard input with the
/// terminal's echo off (restored afterwards). Nothing when standard input is not a
/// terminal or ends first.
[[nodiscard]] std::optional<std::string> AskPassword(const std::string& Prompt);

}  // namespace tandrel::mail::tool
