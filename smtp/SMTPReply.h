#pragma once

#include <string>
#include <vector>

namespace tandrel::smtp {

/// One reply of a group of commands sent in one flight (`TSMTPSend::MailTransaction`).
struct TSMTPReply {
    /// As `TSMTPSend::ResultCode`: 0 when the reply was not read whole, or not read at all.
    int Code = 0;
    /// As `TSMTPSend::FullResult` (text); empty when nothing was read.
    std::vector<std::string> Lines;

    /// The last line, as `TSMTPSend::ResultString`; empty when nothing was read.
    [[nodiscard]] std::string Last() const { return Lines.empty() ? std::string() : Lines.back(); }
};

}  // namespace tandrel::smtp
