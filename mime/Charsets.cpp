#include "mime/Charsets.h"

#include "mime/Iconv.h"
#include "mime/detail/CharsetTables.h"
#include "support/Codings.h"
#include "support/LargeBytes.h"
#include "support/Utf8.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace tandrel::mime {

TMimeSetChar IdealCharsets{
    TMimeChar::ISO_8859_1,  TMimeChar::ISO_8859_2,  TMimeChar::ISO_8859_3, TMimeChar::ISO_8859_4,
    TMimeChar::ISO_8859_5,  TMimeChar::ISO_8859_6,  TMimeChar::ISO_8859_7, TMimeChar::ISO_8859_8,
    TMimeChar::ISO_8859_9,  TMimeChar::ISO_8859_10, TMimeChar::KOI8_R,     TMimeChar::KOI8_U,
    TMimeChar::ISO_2022_JP, TMimeChar::GB2312,      TMimeChar::EUC_TW,     TMimeChar::EUC_KR};
const std::vector<std::uint16_t> Replace_None{0};
std::atomic<bool> DisableIconv{false};

namespace {

constexpr TIconvChar kNameTable[] = {
#include "mime/detail/CharsetNames.inc"
};

thread_local bool tForceBuiltIn = false;

using detail::TUpperHalf;

enum class TWidth { One, Two, Four };

TWidth WidthOf(TMimeChar C) {
    switch (C) {
        case TMimeChar::UCS_2:
        case TMimeChar::UTF_7:
        case TMimeChar::UTF_7mod:
        case TMimeChar::UCS_2LE: return TWidth::Two;
        case TMimeChar::UCS_4:
        case TMimeChar::UTF_8:
        case TMimeChar::UCS_4LE: return TWidth::Four;
        default: return TWidth::One;
    }
}

bool IsLittleEndian(TMimeChar C) { return C == TMimeChar::UCS_2LE || C == TMimeChar::UCS_4LE; }

// The built-in table of a one-byte charset; charsets without their own use ISO 8859-1's.
const TUpperHalf& TableOf(TMimeChar C) {
    const TUpperHalf* t = detail::SingleByteTable(C);
    return t ? *t : *detail::SingleByteTable(TMimeChar::ISO_8859_1);
}

void AppendUcs2(std::string& Out, std::uint32_t Unit) {
    Out.push_back(static_cast<char>((Unit >> 8) & 0xFF));
    Out.push_back(static_cast<char>(Unit & 0xFF));
}

std::uint16_t Ucs2At(std::string_view Ucs2, std::size_t Pos) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(Ucs2[Pos]) << 8) |
                                      static_cast<unsigned char>(Ucs2[Pos + 1]));
}

// Lax UTF-8 reading of the character at Pos (advanced past it): a lead byte
// gives its payload bits, every following continuation byte adds six more;
// nothing is rejected.
std::uint32_t ReadLaxUtf8(std::string_view Value, std::size_t& Pos) {
    const auto b = static_cast<unsigned char>(Value[Pos++]);
    if (b < 0x80) return b;
    std::uint32_t v = b >= 0xFE   ? 0
                      : b >= 0xFC ? b & 0x01
                      : b >= 0xF8 ? b & 0x03
                      : b >= 0xF0 ? b & 0x07
                      : b >= 0xE0 ? b & 0x0F
                      : b >= 0xC0 ? b & 0x1F
                                  : 0;
    while (Pos < Value.size() && (static_cast<unsigned char>(Value[Pos]) & 0xC0) == 0x80)
        v = (v << 6) | (static_cast<unsigned char>(Value[Pos++]) & 0x3F);
    return v;
}

// UTF-8 to UCS-4BE by ReadLaxUtf8.
std::string UTF8toUCS4(std::string_view Value) {
    std::string out;
    out.reserve(Value.size() * 4);
    const auto put = [&out](std::uint32_t V) {
        out.push_back(static_cast<char>(V >> 24));
        out.push_back(static_cast<char>(V >> 16));
        out.push_back(static_cast<char>(V >> 8));
        out.push_back(static_cast<char>(V));
    };
    for (std::size_t i = 0; i < Value.size();) put(ReadLaxUtf8(Value, i));
    return out;
}

std::string UCS4toUTF8(std::string_view Value) {
    std::string out;
    out.reserve(Value.size());
    for (std::size_t i = 0; i + 4 <= Value.size(); i += 4) {
        const std::uint32_t v = (std::uint32_t(static_cast<unsigned char>(Value[i])) << 24) |
                                (std::uint32_t(static_cast<unsigned char>(Value[i + 1])) << 16) |
                                (std::uint32_t(static_cast<unsigned char>(Value[i + 2])) << 8) |
                                static_cast<unsigned char>(Value[i + 3]);
        support::AppendUtf8(out, v & 0x7FFFFFFF);
    }
    return out;
}

char ShiftChar(bool Modified) { return Modified ? '&' : '+'; }

std::string UCS2toUTF7(std::string_view Value, bool Modified) {
    const char shift = ShiftChar(Modified);
    std::string out;
    out.reserve(Value.size());
    std::size_t i = 0;
    while (i + 2 <= Value.size()) {
        const std::uint16_t u = Ucs2At(Value, i);
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
            if (u == static_cast<unsigned char>(shift)) out.push_back('-');
            i += 2;
            continue;
        }
        std::size_t end = i;
        while (end + 2 <= Value.size() && Ucs2At(Value, end) >= 0x80) end += 2;
        std::string run = Modified ? support::EncodeBase64mod(Value.substr(i, end - i))
                                   : support::EncodeBase64(Value.substr(i, end - i));
        while (!run.empty() && run.back() == '=') run.pop_back();
        out.push_back(shift);
        out += run;
        out.push_back('-');
        i = end;
    }
    return out;
}

bool IsBase64Char(char C, bool Modified) {
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '+' ||
           C == (Modified ? ',' : '/');
}

std::string UTF7toUCS2(std::string_view Value, bool Modified) {
    const char shift = ShiftChar(Modified);
    std::string out;
    out.reserve(Value.size() * 2);
    std::size_t i = 0;
    while (i < Value.size()) {
        const char c = Value[i++];
        if (c != shift) {
            AppendUcs2(out, static_cast<unsigned char>(c));
            continue;
        }
        if (i < Value.size() && Value[i] == '-') {
            AppendUcs2(out, static_cast<unsigned char>(shift));
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < Value.size() && IsBase64Char(Value[i], Modified)) ++i;
        const std::string_view run = Value.substr(start, i - start);
        std::string bytes = Modified ? support::DecodeBase64mod(run) : support::DecodeBase64(run);
        bytes.resize(bytes.size() & ~std::size_t{1});  // a dangling half code unit is padding
        out += bytes;
        if (i < Value.size() && Value[i] == '-') ++i;
    }
    return out;
}

// Source bytes to UCS-2BE by the built-in rules.
std::string InternalToUcs(std::string_view Value, TMimeChar CharFrom) {
    std::string decoded;
    bool intermediate = false;  // the bytes are our own UCS-4/UCS-2, not the caller's
    if (CharFrom == TMimeChar::UTF_8) {
        decoded = UTF8toUCS4(Value);
        intermediate = true;
    } else if (CharFrom == TMimeChar::UTF_7 || CharFrom == TMimeChar::UTF_7mod) {
        decoded = UTF7toUCS2(Value, CharFrom == TMimeChar::UTF_7mod);
        intermediate = true;
    }
    const std::string_view in = intermediate ? std::string_view(decoded) : Value;
    const TWidth width = WidthOf(CharFrom);
    const std::size_t step = width == TWidth::One ? 1 : width == TWidth::Two ? 2 : 4;
    const TUpperHalf& table = TableOf(CharFrom);
    bool little = IsLittleEndian(CharFrom);
    std::string out;
    out.reserve(in.size() / step * 2 + 2);
    for (std::size_t i = 0; i < in.size(); i += step) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < step; ++k) {
            const std::size_t idx = little ? i + step - 1 - k : i + k;
            v = (v << 8) | (idx < in.size() ? static_cast<unsigned char>(in[idx]) : 0u);
        }
        if (width != TWidth::One && (v >> 16) == 0) {
            if (v == 0xFEFF) continue;
            if (v == 0xFFFE) {
                // A reversed mark flips the byte order of raw UCS input; inside
                // our own big-endian intermediate it is just dropped.
                if (!intermediate) little = !little;
                continue;
            }
        }
        if (width == TWidth::One && v >= 0x80) v = table[v - 0x80];
        AppendUcs2(out, v & 0xFFFF);
    }
    return out;
}

// Reverse lookup of a one-byte table: first position of each code unit.
class TReverseTable {
public:
    explicit TReverseTable(const TUpperHalf& Table) {
        for (std::size_t i = 0; i < Table.size(); ++i)
            FEntries[i] = {Table[i], static_cast<unsigned char>(0x80 + i)};
        std::stable_sort(FEntries.begin(), FEntries.end(),
                         [](const Entry& A, const Entry& B) { return A.Unit < B.Unit; });
    }
    /// The byte of Unit, or -1 when the table lacks it (U+FFFD is never found).
    int Find(std::uint16_t Unit) const {
        if (Unit == 0xFFFD) return -1;
        const auto it = std::lower_bound(FEntries.begin(), FEntries.end(), Unit,
                                         [](const Entry& E, std::uint16_t U) { return E.Unit < U; });
        return it != FEntries.end() && it->Unit == Unit ? it->Byte : -1;
    }

private:
    struct Entry {
        std::uint16_t Unit;
        unsigned char Byte;
    };
    std::array<Entry, 128> FEntries{};
};

// One code unit written by the width class of CharTo (built-in path).
void WriteUnit(std::string& Out, std::uint16_t Unit, TMimeChar CharTo, const TReverseTable* Reverse,
               bool Translit) {
    switch (WidthOf(CharTo)) {
        case TWidth::One:
            if (Unit < 0x80) {
                Out.push_back(static_cast<char>(Unit));
            } else if (const int b = Reverse->Find(Unit); b >= 0) {
                Out.push_back(static_cast<char>(b));
            } else if (Translit) {
                Out.push_back('_');
            }
            break;
        case TWidth::Two:
            if (IsLittleEndian(CharTo)) {
                Out.push_back(static_cast<char>(Unit & 0xFF));
                Out.push_back(static_cast<char>(Unit >> 8));
            } else {
                AppendUcs2(Out, Unit);
            }
            break;
        case TWidth::Four:
            if (IsLittleEndian(CharTo)) {
                Out.push_back(static_cast<char>(Unit & 0xFF));
                Out.push_back(static_cast<char>(Unit >> 8));
                Out.append(2, '\0');
            } else {
                Out.append(2, '\0');
                AppendUcs2(Out, Unit);
            }
            break;
    }
}

std::string FinishBuiltIn(std::string Written, TMimeChar CharTo) {
    switch (CharTo) {
        case TMimeChar::UTF_7: return UCS2toUTF7(Written, false);
        case TMimeChar::UTF_7mod: return UCS2toUTF7(Written, true);
        case TMimeChar::UTF_8: return UCS4toUTF8(Written);
        default: return Written;
    }
}

// iconv's UTF-7 encoder leaves a base64 run open at the end; a "-" appended
// before and cut after closes it the same way a plain text end would.
std::string ConvertWithIconv(const TIconvConverter& Conv, std::string_view Ucs2, TMimeChar CharTo) {
    if (CharTo != TMimeChar::UTF_7) return Conv.Convert(Ucs2);
    std::string in(Ucs2);
    AppendUcs2(in, '-');
    std::string out = Conv.Convert(in);
    if (!out.empty()) out.pop_back();
    return out;
}

// The common road of a single-byte charset with its own table into UTF-8:
// byte-identical to the general road, without the intermediates.
std::string SingleByteToUtf8(std::string_view Value, const TUpperHalf& Table) {
    // Every byte has its UTF-8 sequence ready, ASCII included, so the loop has no branch
    // on the byte's value: copy three bytes, advance by the sequence's length.
    struct Seq {
        char Bytes[3];
        std::uint8_t Len;
    };
    std::array<Seq, 256> seqs{};
    for (std::size_t b = 0; b < 256; ++b) {
        std::string s;
        support::AppendUtf8(s, b < 0x80 ? static_cast<char32_t>(b) : Table[b - 0x80]);
        seqs[b].Len = static_cast<std::uint8_t>(s.size());
        std::memcpy(seqs[b].Bytes, s.data(), s.size());
    }
    const auto* in = reinterpret_cast<const unsigned char*>(Value.data());
    const std::size_t n = Value.size();
    // Sized exactly (plus the two bytes the last three-byte copy may overrun): a worst-case
    // buffer of three times the input costs more in fresh pages than this pass does.
    std::size_t length = 0;
    for (std::size_t i = 0; i < n; ++i) length += seqs[in[i]].Len;
    std::string out;
    support::ResizeLarge(out, length + 2);
    char* o = out.data();
    std::size_t i = 0;
    while (i < n) {
        // Runs of ASCII go eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t w;
            std::memcpy(&w, in + i, 8);
            if (w & 0x8080808080808080ULL) break;
            std::memcpy(o, in + i, 8);
            o += 8;
            i += 8;
        }
        const std::size_t stop = std::min(n, i + 8);
        for (; i < stop; ++i) {
            const Seq& s = seqs[in[i]];
            std::memcpy(o, s.Bytes, 3);
            o += s.Len;
        }
    }
    out.resize(length);
    return out;
}

// The built-in road from UTF-8 to a one-byte charset without the UCS-4 and
// UCS-2 intermediates; byte-identical to the general road.
std::string Utf8ToSingleByte(std::string_view Value, TMimeChar CharTo, bool Translit) {
    const TReverseTable reverse(TableOf(CharTo));
    std::string out;
    out.reserve(Value.size());
    std::size_t i = 0;
    while (i < Value.size()) {
        if (static_cast<unsigned char>(Value[i]) < 0x80) {
            out.push_back(Value[i++]);
            continue;
        }
        const std::uint32_t v = ReadLaxUtf8(Value, i);
        if ((v >> 16) == 0 && (v == 0xFEFF || v == 0xFFFE)) continue;  // marks, as InternalToUcs drops them
        WriteUnit(out, static_cast<std::uint16_t>(v & 0xFFFF), CharTo, &reverse, Translit);
    }
    return out;
}

bool UseIconv() {
    if (tForceBuiltIn || DisableIconv.load()) return false;
    if (!InitIconvInterface()) {
        DisableIconv = true;
        return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view S) {
    while (!S.empty() && S.front() == ' ') S.remove_prefix(1);
    while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
    return S;
}

}  // namespace

std::span<const TIconvChar> IconvArr() { return kNameTable; }

TBuiltInConversionScope::TBuiltInConversionScope() : FPrevious(tForceBuiltIn) { tForceBuiltIn = true; }
TBuiltInConversionScope::~TBuiltInConversionScope() { tForceBuiltIn = FPrevious; }

std::string CharsetConversion(std::string_view Value, TMimeChar CharFrom, TMimeChar CharTo) {
    return CharsetConversionTrans(Value, CharFrom, CharTo, Replace_None, true);
}

std::string CharsetConversionEx(std::string_view Value, TMimeChar CharFrom, TMimeChar CharTo,
                                const std::vector<std::uint16_t>& TransformTable) {
    return CharsetConversionTrans(Value, CharFrom, CharTo, TransformTable, true);
}

std::string CharsetConversionTrans(std::string_view Value, TMimeChar CharFrom, TMimeChar CharTo,
                                   const std::vector<std::uint16_t>& TransformTable, bool Translit) {
    const bool iconv = UseIconv();
    const bool hasTable = TransformTable.size() > 1;
    if (!hasTable && CharFrom == CharTo) return std::string(Value);
    const TUpperHalf* sourceTable = detail::SingleByteTable(CharFrom);
    if (!hasTable && CharTo == TMimeChar::UTF_8 && sourceTable) return SingleByteToUtf8(Value, *sourceTable);

    const std::string fromId = GetIDFromCP(CharFrom);
    const std::string toId = GetIDFromCP(CharTo);

    TIconvConverter conv;
    if (iconv)
        conv =
            TIconvConverter(Translit ? IconvOpenTranslit(toId, "UCS-2BE") : IconvOpenIgnore(toId, "UCS-2BE"));
    if (!iconv && !hasTable && CharFrom == TMimeChar::UTF_8 && WidthOf(CharTo) == TWidth::One)
        return Utf8ToSingleByte(Value, CharTo, Translit);

    // Charsets with a table of their own are always read through it: it keeps
    // undefined bytes visible as U+FFFD where a converter would drop them.
    std::string ucs2;
    if (iconv && !sourceTable) {
        TIconvConverter conv(IconvOpenIgnore("UCS-2BE", fromId));
        ucs2 = conv.IsOpen() ? conv.Convert(Value) : InternalToUcs(Value, CharFrom);
    } else {
        ucs2 = InternalToUcs(Value, CharFrom);
    }

    if (conv.IsOpen() && !hasTable) return ConvertWithIconv(conv, ucs2, CharTo);

    std::optional<TReverseTable> reverse;
    if (!conv.IsOpen() && WidthOf(CharTo) == TWidth::One) reverse.emplace(TableOf(CharTo));
    std::string written;
    written.reserve(ucs2.size() * 2);
    for (std::size_t i = 0; i + 2 <= ucs2.size(); i += 2) {
        std::uint16_t unit = Ucs2At(ucs2, i);
        if (hasTable) {
            for (std::size_t k = 0; k + 1 < TransformTable.size(); k += 2)
                if (TransformTable[k] == unit) {
                    unit = TransformTable[k + 1];
                    break;
                }
        }
        if (conv.IsOpen()) {
            std::string one;
            AppendUcs2(one, unit);
            written += ConvertWithIconv(conv, one, CharTo);
        } else {
            WriteUnit(written, unit, CharTo, reverse ? &*reverse : nullptr, Translit);
        }
    }
    return conv.IsOpen() ? written : FinishBuiltIn(std::move(written), CharTo);
}

TMimeChar GetCurCP() { return TMimeChar::CP1252; }

TMimeChar CPToMimeChar(int Value) {
    using enum TMimeChar;
    switch (Value) {
        case 0:
        case 1200: return UCS_2LE;
        case 1201: return UCS_2;
        case 12000: return UCS_4LE;
        case 12001: return UCS_4;
        case 65000: return UTF_7;
        case 65001: return UTF_8;
        case 437:
        case 850:
        case 20127:
        case 28591: return ISO_8859_1;
        case 28592: return ISO_8859_2;
        case 28593: return ISO_8859_3;
        case 28594: return ISO_8859_4;
        case 28595: return ISO_8859_5;
        case 708:
        case 28596: return ISO_8859_6;
        case 28597: return ISO_8859_7;
        case 28598:
        case 38598: return ISO_8859_8;
        case 28599: return ISO_8859_9;
        case 28605: return ISO_8859_15;
        case 1250: return CP1250;
        case 1251: return CP1251;
        case 1253: return CP1253;
        case 1254: return CP1254;
        case 1255: return CP1255;
        case 1256: return CP1256;
        case 1257: return CP1257;
        case 1258: return CP1258;
        case 874: return CP874;
        case 895: return CP895;
        case 737: return CP737;
        case 775: return CP775;
        case 852: return CP852;
        case 855: return CP855;
        case 857: return CP857;
        case 858: return CP858;
        case 860: return CP860;
        case 861: return CP861;
        case 862: return CP862;
        case 863: return CP863;
        case 864: return CP864;
        case 865: return CP865;
        case 866: return CP866;
        case 869: return CP869;
        case 932: return CP932;
        case 936: return CP936;
        case 949: return CP949;
        case 950: return CP950;
        case 1361: return CP1361;
        case 20866: return KOI8_R;
        case 21866: return KOI8_U;
        case 20932: return JIS_X0208;
        case 51932: return EUC_JP;
        case 20936:
        case 51936: return GB2312;
        case 51949: return EUC_KR;
        case 52936: return HZ;
        case 54936: return GB18030;
        case 50220: return ISO_2022_JP;
        case 50221: return ISO_2022_JP1;
        case 50222: return ISO_2022_JP2;
        case 50225: return ISO_2022_KR;
        case 50227: return ISO_2022_CN;
        case 50229: return ISO_2022_CNE;
        case 10000: return MAC;
        case 10029: return MACCE;
        case 10079: return MACICE;
        case 10082: return MACCRO;
        case 10010: return MACRO;
        case 10007: return MACCYR;
        case 10017: return MACUK;
        case 10006: return MACGR;
        case 10081: return MACTU;
        case 10005: return MACHEB;
        case 10004: return MACAR;
        case 10021: return MACTH;
        default: return CP1252;
    }
}

std::string GetIDFromCP(TMimeChar Value) {
    if (Value == TMimeChar::CP895) return "CP-895";
    if (Value == TMimeChar::UTF_7mod) return "mUTF-7";
    for (const TIconvChar& row : kNameTable)
        if (row.Charset == Value) return std::string(row.CharName.substr(0, row.CharName.find(' ')));
    return "ISO-8859-1";
}

TMimeChar GetCPFromID(std::string_view Value) {
    std::string name(Trimmed(Value));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char C) { return static_cast<char>(C >= 'a' && C <= 'z' ? C - 32 : C); });
    if (name.find("KAMENICKY") != std::string::npos || name.find("895") != std::string::npos)
        return TMimeChar::CP895;
    if (name.find("MUTF-7") != std::string::npos) return TMimeChar::UTF_7mod;
    if (name.empty()) return TMimeChar::ISO_8859_1;
    for (const TIconvChar& row : kNameTable) {
        if (row.CharName == name) return row.Charset;
        std::string_view names = row.CharName;
        while (!names.empty()) {
            const std::size_t sp = names.find(' ');
            if (names.substr(0, sp) == name) return row.Charset;
            if (sp == std::string_view::npos) break;
            names.remove_prefix(sp + 1);
        }
    }
    return TMimeChar::ISO_8859_1;
}

std::string GetBOM(TMimeChar Value) {
    switch (Value) {
        case TMimeChar::UCS_2: return "\xFE\xFF";
        case TMimeChar::UCS_4: return std::string("\x00\x00\xFE\xFF", 4);
        case TMimeChar::UTF_8: return "\xEF\xBB\xBF";
        case TMimeChar::UCS_2LE: return "\xFF\xFE";
        case TMimeChar::UCS_4LE: return std::string("\xFF\xFE\x00\x00", 4);
        default: return {};
    }
}

TMimeChar IdealCharsetCoding(std::string_view Value, TMimeChar CharFrom, const TMimeSetChar& CharTo) {
    const std::string_view sample = Value.substr(0, 1024);
    TMimeChar best = TMimeChar::ISO_8859_1;
    std::size_t bestKept = 0;
    for (int i = 0; i < MimeCharCount; ++i) {
        const auto candidate = static_cast<TMimeChar>(i);
        if (!CharTo.Contains(candidate)) continue;
        const std::string there = CharsetConversionTrans(sample, CharFrom, candidate, Replace_None, false);
        const std::string back = CharsetConversionTrans(there, candidate, CharFrom, Replace_None, false);
        if (back == sample) return candidate;
        if (back.size() > bestKept) {
            bestKept = back.size();
            best = candidate;
        }
    }
    return best;
}

}  // namespace tandrel::mime
