#pragma once
// Strict UTF-8 reading: which bytes of a text are well-formed characters.

#include <cstddef>
#include <string>
#include <string_view>

namespace tandrel::mime {

struct TDecodedChar {
    char32_t CodePoint = 0;
    std::size_t Length = 1;  // bytes consumed; 1 for a malformed byte
    bool Valid = false;
};

/// The character starting at 0-based Pos (Pos < Text.size()). Overlong forms,
/// surrogates, values above U+10FFFF and truncated sequences are invalid and
/// consume one byte.
inline TDecodedChar DecodeUtf8Char(std::string_view Text, std::size_t Pos) {
    const auto b0 = static_cast<unsigned char>(Text[Pos]);
    if (b0 < 0x80) return {b0, 1, true};
    std::size_t len;
    char32_t cp;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; min = 0x80; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { len = 3; cp = b0 & 0x0F; min = 0x800; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { len = 4; cp = b0 & 0x07; min = 0x10000; }
    else return {};
    if (Pos + len > Text.size()) return {};
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(Text[Pos + k]);
        if ((b & 0xC0) != 0x80) return {};
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
    return {cp, len, true};
}

/// Text with each byte of malformed UTF-8 replaced by "?", as the system code page
/// road reads such bytes.
inline std::string WithMalformedAsQuestionMarks(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size();) {
        const TDecodedChar d = DecodeUtf8Char(Text, i);
        if (d.Valid)
            out.append(Text.substr(i, d.Length));
        else
            out.push_back('?');
        i += d.Length;
    }
    return out;
}

}  // namespace tandrel::mime
