#include "mime/InlineEncoding.h"

#include "mime/Codings.h"
#include "mime/SystemCodePage.h"

namespace tandrel::mime {
namespace {

// Encoded words are cut at the first space after this many characters of text.
constexpr std::size_t kChunkLength = 32;

constexpr TSpecials kNeedsEncoding = [] {
    TSpecials s = SpecialChar | NonAsciiChar;
    TSpecials withoutUnderscore;
    for (unsigned b = 0; b < 256; ++b)
        if (b != '_' && s.Contains(static_cast<unsigned char>(b))) withoutUnderscore.Include(static_cast<unsigned char>(b));
    return withoutUnderscore;
}();

std::string_view TrimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsBlank(std::string_view s) { return TrimBlanks(s).empty(); }

// Bytes in charset CP as text: the system code page's own road when CP is it.
std::string TextFromCharset(std::string_view Bytes, TMimeChar CP) {
    return CP == GetCurCP() ? TextFromAnsi(Bytes) : CharsetConversion(Bytes, CP, TMimeChar::UTF_8);
}

// One encoded word starting at "=?" (0-based Beg): its decoded text and the
// position after it, or nothing when its form is broken.
struct TDecodedWord {
    bool Ok = false;
    std::string Text;
    std::size_t Next = 0;
};

TDecodedWord DecodeWord(std::string_view Value, std::size_t Beg, TMimeChar CP) {
    const std::size_t q1 = Value.find('?', Beg + 2);
    if (q1 == std::string_view::npos || q1 + 2 >= Value.size() || Value[q1 + 2] != '?') return {};
    const char kind = static_cast<char>(Value[q1 + 1] & ~0x20);
    if (kind != 'B' && kind != 'Q') return {};
    std::string_view charset = Value.substr(Beg + 2, q1 - Beg - 2);
    charset = charset.substr(0, charset.find('*'));  // RFC 2231 language suffix
    const std::size_t end = SearchEndInline(Value, Beg);
    const std::size_t textStart = q1 + 3;
    const std::string_view text =
        Value.substr(textStart, end == std::string_view::npos ? std::string_view::npos : end - textStart);
    std::string bytes;
    if (kind == 'B') {
        bytes = DecodeBase64(text);
    } else {
        std::string q(text);
        for (char& c : q)
            if (c == '_') c = ' ';
        bytes = DecodeQuotedPrintable(q);
    }
    return {true, TextFromCharset(CharsetConversion(bytes, GetCPFromID(charset), CP), CP),
            end == std::string_view::npos ? Value.size() : end + 2};
}

}  // namespace

bool NeedInline(std::string_view Bytes) {
    for (char c : Bytes)
        if (kNeedsEncoding.Contains(c)) return true;
    return false;
}

std::string InlineEncode(std::string_view Value, TMimeChar CP, TMimeChar MimeP) {
    const std::string encoded = EncodeSafeQuotedPrintable(CharsetConversion(AnsiFromText(Value), CP, MimeP));
    const std::string name = GetIDFromCP(MimeP);
    std::string result, chunk;
    const auto emit = [&] {
        if (!result.empty()) result += ' ';
        result += "=?" + name + "?Q?" + chunk + "?=";
        chunk.clear();
    };
    for (char c : encoded) {
        if (c == ' ') {
            chunk += '_';
            if (chunk.size() > kChunkLength) emit();
        } else {
            chunk += c;
        }
    }
    if (!chunk.empty()) emit();
    return result;
}

std::string InlineCodeEx2(std::string_view Value, TMimeChar FromCP, TMimeChar ToCP) {
    return NeedInline(AnsiFromText(Value)) ? InlineEncode(Value, FromCP, ToCP) : std::string(Value);
}

std::string InlineEmailEx2(std::string_view Value, TMimeChar FromCP, TMimeChar ToCP) {
    const std::string desc = GetEmailDesc(Value);
    const std::string addr = GetEmailAddr(Value);
    if (desc.empty()) return addr;
    return '"' + InlineCodeEx2(desc, FromCP, ToCP) + "\" <" + addr + '>';
}

std::string GetEmailAddr(std::string_view Value) {
    if (const std::size_t lt = Value.find('<'); lt != std::string_view::npos) Value.remove_prefix(lt + 1);
    Value = Value.substr(0, Value.find('>'));
    return std::string(TrimBlanks(Value));
}

std::string GetEmailDesc(std::string_view Value) {
    Value = TrimBlanks(Value);
    std::string_view desc;
    if (const std::size_t q = Value.find('"'); q != std::string_view::npos) {
        desc = Value.substr(q + 1);
        desc = desc.substr(0, desc.find('"'));
    } else if (const std::size_t lt = Value.find('<'); lt != std::string_view::npos) {
        desc = Value.substr(0, lt);
    } else if (const std::size_t p = Value.find('('); p != std::string_view::npos) {
        desc = Value.substr(p + 1);
        desc = desc.substr(0, desc.find(')'));
    }
    return std::string(TrimBlanks(desc));
}

std::size_t SearchEndInline(std::string_view Value, std::size_t Beg) {
    // The "?" of "=?" is the first; the end is searched after the third.
    std::size_t q = Beg + 1;
    for (int n = 0; n < 2; ++n) {
        q = Value.find('?', q + 1);
        if (q == std::string_view::npos) return q;
    }
    return Value.find("?=", q + 1);
}

std::string InlineDecode(std::string_view Value, TMimeChar CP) {
    std::string result;
    result.reserve(Value.size());
    std::size_t pos = 0;
    bool afterWord = false;
    while (pos < Value.size()) {
        const std::size_t beg = Value.find("=?", pos);
        if (beg == std::string_view::npos) break;
        const TDecodedWord word = DecodeWord(Value, beg, CP);
        if (!word.Ok) {
            result.append(Value.substr(pos, beg + 2 - pos));
            pos = beg + 2;
            afterWord = false;
            continue;
        }
        const std::string_view gap = Value.substr(pos, beg - pos);
        if (!(afterWord && IsBlank(gap))) result.append(gap);
        result += word.Text;
        pos = word.Next;
        afterWord = true;
    }
    if (pos < Value.size()) result.append(Value.substr(pos));
    return result;
}

}  // namespace tandrel::mime
