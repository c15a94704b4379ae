#include "support/Codings.h"

#include "support/LargeBytes.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tandrel::support {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kBase64ModAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// 12 input bits give two output characters at once: half the table lookups of
// a 6-bit table, which is what keeps encoding near memory speed.
struct PairTable {
    std::array<char, 4096 * 2> Chars{};
};

constexpr PairTable MakePairTable(std::string_view Alphabet) {
    PairTable t;
    for (unsigned v = 0; v < 4096; ++v) {
        t.Chars[v * 2] = Alphabet[v >> 6];
        t.Chars[v * 2 + 1] = Alphabet[v & 63];
    }
    return t;
}

constexpr std::array<std::int8_t, 256> MakeDecodeTable(std::string_view Alphabet) {
    std::array<std::int8_t, 256> t{};
    for (auto& e : t) e = -1;
    for (std::size_t i = 0; i < Alphabet.size(); ++i)
        t[static_cast<unsigned char>(Alphabet[i])] = static_cast<std::int8_t>(i);
    return t;
}

constexpr PairTable kStdPairs = MakePairTable(kBase64Alphabet);
constexpr PairTable kModPairs = MakePairTable(kBase64ModAlphabet);
constexpr auto kStdDecode = MakeDecodeTable(kBase64Alphabet);
constexpr auto kModDecode = MakeDecodeTable(kBase64ModAlphabet);

// Writes the Base64 of In[0, Size) at Out and returns the end of what it wrote.
// Readable (at least Size) is how many bytes from In may be read: the fast loop
// reads eight bytes for every six it encodes.
char* Base64EncodeTo(const unsigned char* In, std::size_t Size, std::size_t Readable, char* Out,
                     std::string_view Alphabet, const PairTable& Pairs) {
    const char* pairs = Pairs.Chars.data();
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Six input bytes (read as one big-endian word) give eight characters,
        // written with one store.
        const auto pair = [pairs](std::uint64_t Index) {
            std::uint16_t v;
            std::memcpy(&v, pairs + Index * 2, 2);
            return std::uint64_t{v};
        };
        for (; i + 6 <= Size && i + 8 <= Readable; i += 6, Out += 8) {
            std::uint64_t w;
            std::memcpy(&w, In + i, 8);
            w = __builtin_bswap64(w);
            const std::uint64_t chars = pair((w >> 52) & 0xFFF) | (pair((w >> 40) & 0xFFF) << 16) |
                                        (pair((w >> 28) & 0xFFF) << 32) | (pair((w >> 16) & 0xFFF) << 48);
            std::memcpy(Out, &chars, 8);
        }
    }
    for (; i + 3 <= Size; i += 3, Out += 4) {
        const std::uint32_t v = (std::uint32_t{In[i]} << 16) | (std::uint32_t{In[i + 1]} << 8) | In[i + 2];
        std::memcpy(Out, pairs + (v >> 12) * 2, 2);
        std::memcpy(Out + 2, pairs + (v & 0xFFF) * 2, 2);
    }
    if (const std::size_t rest = Size - i; rest > 0) {
        const std::uint32_t v =
            (std::uint32_t{In[i]} << 16) | (rest == 2 ? std::uint32_t{In[i + 1]} << 8 : 0u);
        Out[0] = Alphabet[v >> 18];
        Out[1] = Alphabet[(v >> 12) & 63];
        Out[2] = rest == 2 ? Alphabet[(v >> 6) & 63] : '=';
        Out[3] = '=';
        Out += 4;
    }
    return Out;
}

std::string Base64Encode(std::string_view Value, std::string_view Alphabet, const PairTable& Pairs) {
    const std::size_t n = Value.size();
    std::string out((n + 2) / 3 * 4, '\0');
    Base64EncodeTo(reinterpret_cast<const unsigned char*>(Value.data()), n, n, out.data(), Alphabet, Pairs);
    return out;
}

// Size of the Base64 lines of Size bytes, LineBytes to a line, each line with its CR LF.
std::size_t Base64LinesSize(std::size_t Size, std::size_t LineBytes) {
    const std::size_t rest = Size % LineBytes;
    return Size / LineBytes * ((LineBytes + 2) / 3 * 4 + 2) + (rest > 0 ? (rest + 2) / 3 * 4 + 2 : 0);
}

// Appends the Base64 lines of Value to Out, which has room for them. They are
// made in a small buffer and appended a buffer at a time: writing them straight
// into the string would mean filling it with zeros first, one more pass over
// tens of megabytes.
void AppendBase64Lines(std::string_view Value, std::size_t LineBytes, std::string& Out) {
    constexpr std::size_t kBuffer = 64 * 1024;
    const std::size_t lineChars = (LineBytes + 2) / 3 * 4 + 2;
    const std::size_t linesPerBuffer = std::max<std::size_t>(kBuffer / lineChars, 1);
    std::array<char, kBuffer> small;
    std::string large;  // for one line longer than the buffer
    if (lineChars > kBuffer) large.resize(lineChars);
    char* const buffer = large.empty() ? small.data() : large.data();
    const auto* in = reinterpret_cast<const unsigned char*>(Value.data());
    const std::size_t n = Value.size();
    std::size_t at = 0;
    while (at < n) {
        char* o = buffer;
        for (std::size_t line = 0; line < linesPerBuffer && at < n; ++line, at += LineBytes) {
            o = Base64EncodeTo(in + at, std::min(LineBytes, n - at), n - at, o, kBase64Alphabet, kStdPairs);
            *o++ = '\r';
            *o++ = '\n';
        }
        Out.append(buffer, static_cast<std::size_t>(o - buffer));
    }
}

std::string Base64Decode(std::string_view Value, const std::array<std::int8_t, 256>& Table) {
    const std::size_t n = Value.size();
    std::string out(n / 4 * 3 + 3, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(Value.data());
    char* o = out.data();
    std::uint32_t acc = 0;
    int count = 0;
    std::size_t i = 0;
    while (i < n) {
        if (count == 0) {
            // Whole groups of four alphabet characters, the common case.
            while (i + 4 <= n) {
                const int a = Table[in[i]], b = Table[in[i + 1]], c = Table[in[i + 2]], d = Table[in[i + 3]];
                if ((a | b | c | d) < 0) break;
                const std::uint32_t v = (std::uint32_t(a) << 18) | (std::uint32_t(b) << 12) |
                                        (std::uint32_t(c) << 6) | std::uint32_t(d);
                o[0] = static_cast<char>(v >> 16);
                o[1] = static_cast<char>(v >> 8);
                o[2] = static_cast<char>(v);
                o += 3;
                i += 4;
            }
            if (i >= n) break;
        }
        const int x = Table[in[i++]];
        if (x < 0) continue;
        acc = (acc << 6) | std::uint32_t(x);
        if (++count == 4) {
            o[0] = static_cast<char>(acc >> 16);
            o[1] = static_cast<char>(acc >> 8);
            o[2] = static_cast<char>(acc);
            o += 3;
            acc = 0;
            count = 0;
        }
    }
    if (count == 3) {
        *o++ = static_cast<char>(acc >> 10);
        *o++ = static_cast<char>(acc >> 2);
    } else if (count == 2) {
        *o++ = static_cast<char>(acc >> 4);
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

int HexValue(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    return -1;
}

// One uu/xx line: Decode maps a character to its 6-bit value.
template <typename Decode>
std::string DecodeLine(std::string_view Value, Decode&& Value6) {
    if (Value.empty() || Value.starts_with("begin") || Value == "end") return {};
    const std::size_t wanted = static_cast<std::size_t>(Value6(Value[0]));
    const std::string_view body = Value.substr(1);
    std::string out;
    out.reserve(wanted + 3);
    for (std::size_t i = 0; out.size() < wanted && i < body.size(); i += 4) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k)
            v = (v << 6) | (i + k < body.size() ? std::uint32_t(Value6(body[i + k])) : 0u);
        out.push_back(static_cast<char>(v >> 16));
        out.push_back(static_cast<char>(v >> 8));
        out.push_back(static_cast<char>(v));
    }
    if (out.size() > wanted) out.resize(wanted);
    return out;
}

}  // namespace

std::string EncodeBase64(std::string_view Value) { return Base64Encode(Value, kBase64Alphabet, kStdPairs); }

std::string EncodeBase64Lines(std::string_view Value, std::size_t LineBytes) {
    return EncodeBase64Lines({}, Value, LineBytes);
}

std::string EncodeBase64Lines(std::string_view Prefix, std::string_view Value, std::size_t LineBytes) {
    if (LineBytes == 0) LineBytes = std::max<std::size_t>(Prefix.size() + Value.size(), 1);
    if (Prefix.size() >= LineBytes)
        return EncodeBase64Lines(std::string(Prefix) + std::string(Value), LineBytes);
    // The first line is the prefix and the first bytes of Value; the rest of Value
    // follows from where that line ended, so Value itself is never copied.
    const std::size_t head = std::min(Value.size(), LineBytes - Prefix.size());
    const std::string first = std::string(Prefix) + std::string(Value.substr(0, head));
    const std::string_view rest = Value.substr(head);
    std::string out;
    ReserveLarge(out, Base64LinesSize(first.size(), LineBytes) + Base64LinesSize(rest.size(), LineBytes));
    AppendBase64Lines(first, LineBytes, out);
    AppendBase64Lines(rest, LineBytes, out);
    return out;
}

std::string DecodeBase64(std::string_view Value) { return Base64Decode(Value, kStdDecode); }
std::string EncodeBase64mod(std::string_view Value) {
    return Base64Encode(Value, kBase64ModAlphabet, kModPairs);
}
std::string DecodeBase64mod(std::string_view Value) { return Base64Decode(Value, kModDecode); }

std::string EncodeTriplet(std::string_view Value, char Delimiter, const TSpecials& Specials) {
    std::string out;
    out.reserve(Value.size() + Value.size() / 4);
    for (char c : Value) {
        const auto b = static_cast<unsigned char>(c);
        if (Specials.Contains(b)) {
            out.push_back(Delimiter);
            out.push_back(kUpperHex[b >> 4]);
            out.push_back(kUpperHex[b & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string DecodeTriplet(std::string_view Value, char Delimiter) {
    std::string out;
    out.reserve(Value.size());
    const std::size_t n = Value.size();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t d = Value.find(Delimiter, i);
        if (d == std::string_view::npos) {
            out.append(Value.substr(i));
            break;
        }
        out.append(Value.substr(i, d - i));
        if (d + 2 >= n) break;  // a delimiter in one of the last two positions ends the text
        const char a = Value[d + 1];
        if (a == '\r' || a == '\n') {
            i = d + 2;
            const char complement = a == '\r' ? '\n' : '\r';
            if (i < n && Value[i] == complement) ++i;
            continue;
        }
        const int hi = HexValue(a), lo = HexValue(Value[d + 2]);
        if (hi >= 0 && lo >= 0) {
            out.push_back(static_cast<char>(hi * 16 + lo));
            i = d + 3;
        } else {
            out.push_back(Delimiter);
            i = d + 1;
        }
    }
    return out;
}

std::string EncodeQuotedPrintable(std::string_view Value) {
    static constexpr TSpecials kSpecials = TSpecials{'='} | NonAsciiChar;
    return EncodeTriplet(Value, '=', kSpecials);
}

std::string EncodeSafeQuotedPrintable(std::string_view Value) {
    static constexpr TSpecials kSpecials = SpecialChar | NonAsciiChar;
    return EncodeTriplet(Value, '=', kSpecials);
}

std::string DecodeQuotedPrintable(std::string_view Value) { return DecodeTriplet(Value, '='); }

std::string DecodeUU(std::string_view Value) {
    // Classic uuencode: value + 32, with "`" standing for 0.
    return DecodeLine(Value, [](char C) { return (static_cast<unsigned char>(C) - 32) & 63; });
}

std::string DecodeXX(std::string_view Value) {
    static constexpr std::string_view kXX =
        "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    return DecodeLine(Value, [](char C) {
        const std::size_t p = kXX.find(C);
        return p == std::string_view::npos ? 0 : static_cast<int>(p);
    });
}

std::string StrToHex(std::string_view Value) {
    std::string out;
    out.resize(Value.size() * 2);
    std::size_t o = 0;
    for (char c : Value) {
        const auto b = static_cast<unsigned char>(c);
        out[o++] = kLowerHex[b >> 4];
        out[o++] = kLowerHex[b & 15];
    }
    return out;
}

}  // namespace tandrel::support
