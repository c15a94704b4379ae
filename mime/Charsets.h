#pragma once
// Character-set identifiers and names, byte-string conversion between them,
// byte order marks and the choice of a transmission charset.
// Conversion goes through big-endian UCS-2: through glibc's iconv when it can
// be bound, else through built-in tables. Nothing here fails: what the target
// cannot hold is replaced ("_") or dropped.

#include <atomic>
#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mime {

/// Character-set identifier; the values keep their documented order (0..107).
enum class TMimeChar : std::uint8_t {
    ISO_8859_1,
    ISO_8859_2,
    ISO_8859_3,
    ISO_8859_4,
    ISO_8859_5,
    ISO_8859_6,
    ISO_8859_7,
    ISO_8859_8,
    ISO_8859_9,
    ISO_8859_10,
    ISO_8859_13,
    ISO_8859_14,
    ISO_8859_15,
    CP1250,
    CP1251,
    CP1252,
    CP1253,
    CP1254,
    CP1255,
    CP1256,
    CP1257,
    CP1258,
    KOI8_R,
    CP895,
    CP852,
    UCS_2,
    UCS_4,
    UTF_8,
    UTF_7,
    UTF_7mod,
    UCS_2LE,
    UCS_4LE,
    UTF_16,
    UTF_16LE,
    UTF_32,
    UTF_32LE,
    C99,
    JAVA,
    ISO_8859_16,
    KOI8_U,
    KOI8_RU,
    CP862,
    CP866,
    MAC,
    MACCE,
    MACICE,
    MACCRO,
    MACRO,
    MACCYR,
    MACUK,
    MACGR,
    MACTU,
    MACHEB,
    MACAR,
    MACTH,
    ROMAN8,
    NEXTSTEP,
    ARMASCII,
    GEORGIAN_AC,
    GEORGIAN_PS,
    KOI8_T,
    MULELAO,
    CP1133,
    TIS620,
    CP874,
    VISCII,
    TCVN,
    ISO_IR_14,
    JIS_X0201,
    JIS_X0208,
    JIS_X0212,
    GB1988_80,
    GB2312_80,
    ISO_IR_165,
    ISO_IR_149,
    EUC_JP,
    SHIFT_JIS,
    CP932,
    ISO_2022_JP,
    ISO_2022_JP1,
    ISO_2022_JP2,
    GB2312,
    CP936,
    GB18030,
    ISO_2022_CN,
    ISO_2022_CNE,
    HZ,
    EUC_TW,
    BIG5,
    CP950,
    BIG5_HKSCS,
    EUC_KR,
    CP949,
    CP1361,
    ISO_2022_KR,
    CP737,
    CP775,
    CP853,
    CP855,
    CP857,
    CP858,
    CP860,
    CP861,
    CP863,
    CP864,
    CP865,
    CP869,
    CP1125,
};

/// Number of TMimeChar values.
inline constexpr int MimeCharCount = 108;

/// A set of character-set identifiers.
class TMimeSetChar {
public:
    TMimeSetChar() = default;
    TMimeSetChar(std::initializer_list<TMimeChar> Values) {
        for (TMimeChar v : Values) Include(v);
    }
    void Include(TMimeChar V) { FBits.set(static_cast<std::size_t>(V)); }
    void Exclude(TMimeChar V) { FBits.reset(static_cast<std::size_t>(V)); }
    [[nodiscard]] bool Contains(TMimeChar V) const { return FBits.test(static_cast<std::size_t>(V)); }
    [[nodiscard]] bool Empty() const { return FBits.none(); }
    bool operator==(const TMimeSetChar&) const = default;

private:
    std::bitset<MimeCharCount> FBits;
};

/// One row of the charset name table: an identifier and its upper-case names
/// separated by single spaces, the MIME name first.
struct TIconvChar {
    TMimeChar Charset;
    std::string_view CharName;
};

/// The charset name table (113 rows, fixed for the life of the process).
std::span<const TIconvChar> IconvArr();

/// Default candidates for IdealCharsetCoding; callers may change it.
extern TMimeSetChar IdealCharsets;
/// The empty replacement table: one element, 0; replaces nothing.
extern const std::vector<std::uint16_t> Replace_None;
/// Once true, iconv is never used again in this process (set automatically when
/// it cannot be bound).
extern std::atomic<bool> DisableIconv;

/// Value converted from CharFrom to CharTo with transliteration and no
/// replacement table. Bytes in, bytes out.
std::string CharsetConversion(std::string_view Value, TMimeChar CharFrom, TMimeChar CharTo);
/// As CharsetConversion, first replacing UCS-2 code units by TransformTable, a
/// flat list of (from, to) pairs.
std::string CharsetConversionEx(std::string_view Value, TMimeChar CharFrom, TMimeChar CharTo,
                                const std::vector<std::uint16_t>& TransformTable);
/// The conversion itself. A table of exactly one element counts as none; with
/// none and CharFrom == CharTo the value comes back untouched. Unmappable
/// characters become "_" when Translit is set (built-in path) or what iconv's
/// transliteration gives, and vanish otherwise.
std::string CharsetConversionTrans(std::string_view Value, TMimeChar CharFrom, TMimeChar CharTo,
                                   const std::vector<std::uint16_t>& TransformTable, bool Translit);

/// The system code page's identifier: always CP1252 in this program.
TMimeChar GetCurCP();
/// The identifier of a Windows code page number; unknown numbers give CP1252.
TMimeChar CPToMimeChar(int Value);
/// The MIME name of an identifier ("WINDOWS-1252", "UTF-8", ...).
std::string GetIDFromCP(TMimeChar Value);
/// The identifier of a charset name or alias, case-insensitive; unknown names
/// give ISO_8859_1.
TMimeChar GetCPFromID(std::string_view Value);
/// Byte order mark of UCS_2, UCS_4, UTF_8, UCS_2LE, UCS_4LE; empty for all others.
std::string GetBOM(TMimeChar Value);
/// The first identifier of CharTo (in enumeration order) whose round trip keeps
/// the first 1024 bytes of Value unchanged, else the one keeping the most bytes;
/// ISO_8859_1 when CharTo is empty or nothing keeps a byte.
TMimeChar IdealCharsetCoding(std::string_view Value, TMimeChar CharFrom, const TMimeSetChar& CharTo);

/// Test seam: while an object of this class lives, conversions on the creating
/// thread take the built-in path, without touching DisableIconv. Lets tests run
/// the same cases on both paths. Not for program code.
class TBuiltInConversionScope {
public:
    TBuiltInConversionScope();
    ~TBuiltInConversionScope();
    TBuiltInConversionScope(const TBuiltInConversionScope&) = delete;
    TBuiltInConversionScope& operator=(const TBuiltInConversionScope&) = delete;

private:
    bool FPrevious;
};

}  // namespace tandrel::mime
