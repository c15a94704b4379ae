#include "mail/tools/TerminalText.h"

#include <cstdio>

namespace tandrel::mail::tool {

namespace {

void AppendEscape(std::string& out, const char* format, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    out += text;
}

// Length of the well-formed UTF-8 sequence at the start of `s`; 0 when there is none.
std::size_t SequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    }
    if (length == 0 || s.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string EscapeControls(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    while (!Text.empty()) {
        const auto c = static_cast<unsigned char>(Text.front());
        std::size_t used = 1;
        if (c < 0x20 || c == 0x7F) {
            AppendEscape(out, "\\x%02X", c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((used = SequenceLength(Text)) == 0) {
            used = 1;
            AppendEscape(out, "\\x%02X", c);
        } else if (c == 0xC2 && static_cast<unsigned char>(Text[1]) < 0xA0) {
            AppendEscape(out, "\\u%04X", static_cast<unsigned char>(Text[1]));
        } else {
            out.append(Text.substr(0, used));
        }
        Text.remove_prefix(used);
    }
    return out;
}

}  // namespace tandrel::mail::tool
