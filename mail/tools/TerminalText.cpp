#include "mail/tools/TerminalText.h"

#include "support/Utf8.h"

#include <cstdio>

namespace tandrel::mail::tool {

namespace {

void AppendEscape(std::string& Out, const char* Format, unsigned Value) {
    char text[8];
    std::snprintf(text, sizeof text, Format, Value);
    Out += text;
}

}  // namespace

std::string EscapeControls(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    while (!Text.empty()) {
        const support::TDecodedChar c = support::DecodeUtf8Char(Text, 0);
        if (!c.Valid || c.CodePoint < 0x20 || c.CodePoint == 0x7F)
            AppendEscape(out, "\\x%02X", static_cast<unsigned char>(Text.front()));
        else if (c.CodePoint >= 0x80 && c.CodePoint < 0xA0)
            AppendEscape(out, "\\u%04X", static_cast<unsigned>(c.CodePoint));
        else
            out.append(Text.substr(0, c.Length));
        Text.remove_prefix(c.Length);
    }
    return out;
}

}  // namespace tandrel::mail::tool
