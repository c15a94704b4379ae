#include "mime/InlineEncoding.h"

#include "mime/detail/QuotedString.h"
#include "support/Codings.h"
#include "support/SystemCodePage.h"
#include "support/Utf8.h"

#include <algorithm>
#include <map>

namespace tandrel::mime {
namespace {

// Encoded words are cut at the first space after this many characters of text.
constexpr std::size_t kChunkLength = 32;
// RFC 2047's limit on one encoded word; a longer run of text is cut between characters.
constexpr std::size_t kMaxWordLength = 75;
// RFC 5322 limits a line to 998 characters. Folding breaks lines only at spaces and
// leaves beside a word at most a field name's or parameter's worth of text, so a
// longer word goes out as encoded words, which can be folded between them.
constexpr std::size_t kLongestPlainWord = 998 - 78;
// Header lines are folded from this length on (the parts' MaxLineLength).
constexpr std::size_t kFoldingLength = 78;

constexpr support::TSpecials kNeedsEncoding = [] {
    support::TSpecials s = support::SpecialChar | support::NonAsciiChar;
    support::TSpecials withoutUnderscore;
    for (unsigned b = 0; b < 256; ++b)
        if (b != '_' && s.Contains(static_cast<unsigned char>(b)))
            withoutUnderscore.Include(static_cast<unsigned char>(b));
    return withoutUnderscore;
}();

std::string_view TrimBlanks(std::string_view S) {
    const auto blank = [](char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; };
    while (!S.empty() && blank(S.front())) S.remove_prefix(1);
    while (!S.empty() && blank(S.back())) S.remove_suffix(1);
    return S;
}

bool IsBlank(std::string_view S) { return TrimBlanks(S).empty(); }

// Bytes in charset CP as text: the system code page's own road when CP is it.
std::string TextFromCharset(std::string_view Bytes, TMimeChar CP) {
    return CP == GetCurCP() ? support::TextFromAnsi(Bytes) : CharsetConversion(Bytes, CP, TMimeChar::UTF_8);
}

// The bytes a value's characters are taken from, and the charset they are in.
struct TSource {
    std::string Bytes;
    TMimeChar Charset;
};

// Text as the system code page's bytes, as designed; but text headed for UTF-8 from the
// system code page goes straight, so that what the code page lacks (CJK, most scripts)
// is not lost as "?". Malformed UTF-8 still becomes "?", byte by byte.
TSource SourceOf(std::string_view Value, TMimeChar CP, TMimeChar MimeP) {
    if (CP != GetCurCP() || MimeP != TMimeChar::UTF_8) return {support::AnsiFromText(Value), CP};
    return {support::WithMalformedAsQuestionMarks(Value), TMimeChar::UTF_8};
}

// The source character at Pos: a UTF-8 sequence in UTF-8, else one byte (text arrives
// as system-code-page bytes).
std::string_view SourceCharAt(const TSource& Source, std::size_t Pos) {
    const std::size_t length =
        Source.Charset == TMimeChar::UTF_8 ? support::DecodeUtf8Char(Source.Bytes, Pos).Length : 1;
    return std::string_view(Source.Bytes).substr(Pos, length);
}

// Bytes in From as the text of a Q word in To: safe quoted-printable, "_" for a space.
std::string EncodedText(std::string_view Bytes, TMimeChar From, TMimeChar To) {
    std::string text = support::EncodeSafeQuotedPrintable(CharsetConversion(Bytes, From, To));
    std::replace(text.begin(), text.end(), ' ', '_');
    return text;
}

bool HasUnfoldableWord(std::string_view Value) {
    std::size_t run = 0;
    for (char c : Value) {
        run = c == ' ' ? 0 : run + 1;
        if (run > kLongestPlainWord) return true;
    }
    return false;
}

// Value as encoded words (see InlineEncode); the first word is at most FirstWordLength
// characters long, every other one at most kMaxWordLength.
std::string EncodeWords(std::string_view Value, TMimeChar CP, TMimeChar MimeP, std::size_t FirstWordLength) {
    const TSource source = SourceOf(Value, CP, MimeP);
    const std::string name = GetIDFromCP(MimeP);
    // Room for encoded text in a word of Length characters beside "=?", the name, "?Q?" and "?=".
    const auto roomIn = [&](std::size_t Length) {
        return Length > name.size() + 7 ? Length - name.size() - 7 : 1;
    };
    std::map<std::string_view, std::size_t> charLengths;
    const auto encodedLength = [&](std::string_view Char) {
        const auto [it, added] = charLengths.try_emplace(Char, 0);
        if (added) it->second = EncodedText(Char, source.Charset, MimeP).size();
        return it->second;
    };

    std::string result;
    std::size_t room = roomIn(FirstWordLength);
    std::size_t chunkStart = 0, chunkEnd = 0, chunkLength = 0;
    const auto emit = [&] {
        if (!result.empty()) result += ' ';
        // Each word is converted on its own, so it decodes by itself whatever the charset.
        const std::string_view chunk =
            std::string_view(source.Bytes).substr(chunkStart, chunkEnd - chunkStart);
        result += "=?" + name + "?Q?" + EncodedText(chunk, source.Charset, MimeP) + "?=";
        chunkStart = chunkEnd;
        chunkLength = 0;
        room = roomIn(kMaxWordLength);
    };
    while (chunkEnd < source.Bytes.size()) {
        const std::string_view c = SourceCharAt(source, chunkEnd);
        const std::size_t length = encodedLength(c);
        if (chunkLength > 0 && chunkLength + length > room) emit();
        chunkEnd += c.size();
        chunkLength += length;
        if (c == " " && chunkLength > kChunkLength) emit();
    }
    if (chunkLength > 0) emit();
    return result;
}

bool NeedsWords(std::string_view Value) {
    return NeedInline(support::AnsiFromText(Value)) || HasUnfoldableWord(Value);
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
        bytes = support::DecodeBase64(text);
    } else {
        std::string q(text);
        for (char& c : q)
            if (c == '_') c = ' ';
        bytes = support::DecodeQuotedPrintable(q);
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
    return EncodeWords(Value, CP, MimeP, kMaxWordLength);
}

std::string InlineCodeEx2(std::string_view Value, TMimeChar FromCP, TMimeChar ToCP) {
    return NeedsWords(Value) ? InlineEncode(Value, FromCP, ToCP) : std::string(Value);
}

std::string InlineCodeField(std::string_view FieldName, std::string_view Value, TMimeChar FromCP,
                            TMimeChar ToCP) {
    std::string line = std::string(FieldName) + ": ";
    if (!NeedsWords(Value)) return line + std::string(Value);
    // The first word ends before the column where folding starts.
    const std::size_t firstLine = kFoldingLength - 1 > line.size() ? kFoldingLength - 1 - line.size() : 0;
    return line + EncodeWords(Value, FromCP, ToCP, std::min(firstLine, kMaxWordLength));
}

std::string InlineEmailEx2(std::string_view Value, TMimeChar FromCP, TMimeChar ToCP) {
    const std::string desc = GetEmailDesc(Value);
    const std::string addr = GetEmailAddr(Value);
    if (desc.empty()) return addr;
    return '"' + InlineCodeEx2(desc, FromCP, ToCP) + "\" <" + addr + '>';
}

TEmailAddrSpan FindEmailAddr(std::string_view Value) {
    // A "<" inside a quoted display name ("Ana <chefe>" <ana@x>) is part of the name.
    std::size_t open = std::string_view::npos;
    for (std::size_t i = 0; i < Value.size(); ++i) {
        if (Value[i] == '<') {
            open = i;
            break;
        }
        if (Value[i] != '"') continue;
        i = detail::QuotedStringEnd(Value, i);
        if (i == std::string_view::npos) break;
    }
    if (open == std::string_view::npos) open = Value.find('<');
    if (open == std::string_view::npos) return {0, Value.size()};
    const std::size_t close = Value.find('>', open + 1);
    return {open + 1, close == std::string_view::npos ? Value.size() : close};
}

std::string GetEmailAddr(std::string_view Value) {
    const TEmailAddrSpan span = FindEmailAddr(Value);
    return std::string(TrimBlanks(Value.substr(span.First, span.Last - span.First)));
}

std::string GetEmailDesc(std::string_view Value) {
    Value = TrimBlanks(Value);
    if (const std::size_t q = Value.find('"'); q != std::string_view::npos) {
        const std::size_t close = detail::QuotedStringEnd(Value, q);
        const std::string_view quoted =
            Value.substr(q + 1, close == std::string_view::npos ? std::string_view::npos : close - q - 1);
        return std::string(TrimBlanks(detail::UnescapedQuotedText(quoted)));
    }
    std::string_view desc;
    if (const std::size_t lt = Value.find('<'); lt != std::string_view::npos) {
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
