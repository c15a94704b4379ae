#pragma once
// UTF-8: strict reading (which bytes of a text are well-formed characters), and writing.

#include <cstddef>
#include <string>
#include <string_view>

namespace tandrel::support {

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
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else
        return {};
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

/// Appends the UTF-8 form of Cp (any value up to 0x7FFFFFFF, in as many
/// continuation bytes as its significant bits need).
inline void AppendUtf8(std::string& Out, char32_t Cp) {
    if (Cp < 0x80) {
        Out.push_back(static_cast<char>(Cp));
        return;
    }
    int extra = Cp < 0x800 ? 1 : Cp < 0x10000 ? 2 : Cp < 0x200000 ? 3 : Cp < 0x4000000 ? 4 : 5;
    static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    Out.push_back(static_cast<char>(kLead[extra] | (Cp >> (6 * extra))));
    for (int k = extra - 1; k >= 0; --k) Out.push_back(static_cast<char>(0x80 | ((Cp >> (6 * k)) & 0x3F)));
}

}  // namespace tandrel::support
