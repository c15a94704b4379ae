#include "mail/tools/EmlMessage.h"

#include "mime/InlineEncoding.h"
#include "mime/MessHeader.h"
#include "support/FileBytes.h"

#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace tandrel::mail::tool {

std::string ReadMessageFile(const std::string& Path) {
    if (Path == "-") {
        std::ostringstream bytes;
        bytes << std::cin.rdbuf();
        if (std::cin.bad()) throw std::runtime_error("cannot read the message from standard input");
        return std::move(bytes).str();
    }
    return support::ReadFileBytes(Path);
}

TEnvelope EnvelopeOf(const std::string& Message) {
    // The header ends at the first empty line; DecodeHeaders unfolds it.
    std::vector<std::string> header;
    std::string_view rest(Message);
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        header.emplace_back(line);
        if (lf == std::string_view::npos) break;
        rest.remove_prefix(lf + 1);
    }
    mime::TMessHeader decoded;
    decoded.DecodeHeaders(header);
    TEnvelope envelope;
    envelope.From = mime::GetEmailAddr(decoded.From());
    for (const auto* list : {&decoded.ToList(), &decoded.CCList()})
        for (const auto& entry : *list)
            if (auto address = mime::GetEmailAddr(entry); !address.empty())
                envelope.Recipients.push_back(address);
    return envelope;
}

}  // namespace tandrel::mail::tool
