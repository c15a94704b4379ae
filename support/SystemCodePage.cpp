#include "support/SystemCodePage.h"

#include "support/LargeBytes.h"
#include "support/Utf8.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace tandrel::support {
namespace {

// Windows-1252 bytes 0x80..0x9F; the undefined five keep their own value.
constexpr std::array<std::uint16_t, 32> kHigh1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char ByteOf(char32_t Cp) {
    if (Cp < 0x80 || (Cp >= 0xA0 && Cp <= 0xFF)) return static_cast<char>(Cp);
    for (std::size_t i = 0; i < kHigh1252.size(); ++i)
        if (kHigh1252[i] == Cp) return static_cast<char>(0x80 + i);
    return '?';
}

// Writes the Windows-1252 bytes of Utf8 at Out (never more bytes than Utf8 has)
// and returns the end of what it wrote.
char* AnsiTo(std::string_view Utf8, char* Out) {
    const auto* in = reinterpret_cast<const unsigned char*>(Utf8.data());
    const std::size_t n = Utf8.size();
    std::size_t i = 0;
    while (i < n) {
        // ASCII stays as it is: eight bytes at a time while none is above 0x7F.
        while (i + 8 <= n) {
            std::uint64_t w;
            std::memcpy(&w, in + i, 8);
            if ((w & 0x8080808080808080ULL) != 0) break;
            std::memcpy(Out, in + i, 8);
            Out += 8;
            i += 8;
        }
        if (i == n) break;
        if (in[i] < 0x80) {
            *Out++ = static_cast<char>(in[i++]);
            continue;
        }
        const TDecodedChar d = DecodeUtf8Char(Utf8, i);
        *Out++ = d.Valid ? ByteOf(d.CodePoint) : '?';
        i += d.Length;
    }
    return Out;
}

}  // namespace

std::string AnsiFromText(std::string_view Utf8) {
    std::string out;
    ResizeLarge(out, Utf8.size());
    out.resize(static_cast<std::size_t>(AnsiTo(Utf8, out.data()) - out.data()));
    return out;
}

std::string AnsiLinesFromText(const std::vector<std::string>& Lines) {
    std::size_t size = 0;
    for (const std::string& line : Lines) size += line.size() + 2;
    std::string out;
    ResizeLarge(out, size);
    // Line by line gives the bytes of the joined text: a malformed sequence never
    // takes the CR or LF after it.
    char* o = out.data();
    for (const std::string& line : Lines) {
        o = AnsiTo(line, o);
        *o++ = '\r';
        *o++ = '\n';
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string TextFromAnsi(std::string_view Bytes) {
    std::string out;
    out.reserve(Bytes.size() + Bytes.size() / 2);
    for (char ch : Bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            AppendUtf8(out, c < 0xA0 ? kHigh1252[c - 0x80] : c);
        }
    }
    return out;
}

}  // namespace tandrel::support
