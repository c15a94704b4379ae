#include "mime/Charsets.h"
#include "mime/Iconv.h"
#include "mime/detail/CharsetTables.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>

namespace tandrel::mime {
namespace {

using namespace std::string_literals;
using enum TMimeChar;

// ---- names ----------------------------------------------------------------

TEST(CharsetNames, TableHas113RowsAndNoNameTwice) {
    const auto rows = IconvArr();
    EXPECT_EQ(rows.size(), 113u);
    std::map<std::string, std::size_t> seen;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string_view names = rows[r].CharName;
        EXPECT_FALSE(names.empty()) << r;
        EXPECT_EQ(names.find("  "), std::string_view::npos) << names;
        for (std::size_t pos = 0; pos <= names.size();) {
            const std::size_t sp = std::min(names.find(' ', pos), names.size());
            const std::string name(names.substr(pos, sp - pos));
            for (char c : name) EXPECT_FALSE(c >= 'a' && c <= 'z') << name;
            const auto [it, fresh] = seen.emplace(name, r);
            EXPECT_TRUE(fresh) << name << " in rows " << it->second << " and " << r;
            pos = sp + 1;
        }
    }
}

TEST(CharsetNames, EveryIdentifierButTwoHasARowLedByItsMimeName) {
    const auto rows = IconvArr();
    EXPECT_EQ(rows[0].Charset, ISO_8859_1);
    EXPECT_EQ(rows[1].Charset, UTF_8);
    std::set<TMimeChar> withRow;
    for (const auto& row : rows) {
        if (withRow.insert(row.Charset).second) {
            const std::string_view first = row.CharName.substr(0, row.CharName.find(' '));
            EXPECT_EQ(GetIDFromCP(row.Charset), first);
            EXPECT_EQ(GetCPFromID(first), row.Charset) << first;
        }
    }
    EXPECT_EQ(withRow.size(), 106u);
    EXPECT_FALSE(withRow.contains(CP895));
    EXPECT_FALSE(withRow.contains(UTF_7mod));
}

struct IdCase {
    const char* Name;
    TMimeChar Charset;
    const char* MimeName;
};

class MimeNames : public ::testing::TestWithParam<IdCase> {};
TEST_P(MimeNames, GetIDFromCPGivesMimeName) {
    EXPECT_EQ(GetIDFromCP(GetParam().Charset), GetParam().MimeName);
}
INSTANTIATE_TEST_SUITE_P(
    Charsets, MimeNames,
    ::testing::Values(IdCase{"cp1252", CP1252, "WINDOWS-1252"}, IdCase{"utf8", UTF_8, "UTF-8"},
                      IdCase{"cp852", CP852, "852"}, IdCase{"cp895_fixed", CP895, "CP-895"},
                      IdCase{"utf7mod_fixed", UTF_7mod, "mUTF-7"}, IdCase{"utf7", UTF_7, "UNICODE-1-1-UTF-7"},
                      IdCase{"ucs2", UCS_2, "ISO-10646-UCS-2"}, IdCase{"gb2312", GB2312, "CN-GB"},
                      IdCase{"iso8859_1", ISO_8859_1, "ISO-8859-1"}, IdCase{"cp1125_last", CP1125, "CP1125"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct NameCase {
    const char* Name;
    const char* Text;
    TMimeChar Expected;
};

class CharsetFromName : public ::testing::TestWithParam<NameCase> {};
TEST_P(CharsetFromName, GetCPFromIDFindsRow) { EXPECT_EQ(GetCPFromID(GetParam().Text), GetParam().Expected); }
INSTANTIATE_TEST_SUITE_P(
    Charsets, CharsetFromName,
    ::testing::Values(NameCase{"utf8_lower", "utf8", UTF_8}, NameCase{"utf_8", "utf-8", UTF_8},
                      NameCase{"latin1", "latin1", ISO_8859_1}, NameCase{"us_ascii", "us-ascii", ISO_8859_1},
                      NameCase{"unknown", "x-nothing", ISO_8859_1}, NameCase{"empty", "", ISO_8859_1},
                      NameCase{"kamenicky", "x-Kamenicky", CP895}, NameCase{"has_895", "ibm895", CP895},
                      NameCase{"mutf7", "x-mutf-7", UTF_7mod}, NameCase{"middle_word", "ms-ansi", CP1252},
                      NameCase{"last_word", "cspcp852", CP852}, NameCase{"alias_row", "utf-16be", UTF_16},
                      NameCase{"cp850_is_latin1", "cp850", ISO_8859_1}, NameCase{"ucs2be", "UCS-2BE", UCS_2},
                      NameCase{"part_of_word_no_match", "UTF", ISO_8859_1},
                      NameCase{"gb2312_name", "gb2312", GB2312},
                      NameCase{"whole_name_list", "utf-8 utf8", UTF_8}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Charsets, CodePageNumbersAndBoms) {
    EXPECT_EQ(CPToMimeChar(1252), CP1252);
    EXPECT_EQ(CPToMimeChar(12345), CP1252);
    EXPECT_EQ(CPToMimeChar(0), UCS_2LE);
    EXPECT_EQ(CPToMimeChar(65001), UTF_8);
    EXPECT_EQ(CPToMimeChar(850), ISO_8859_1);
    EXPECT_EQ(CPToMimeChar(28605), ISO_8859_15);
    EXPECT_EQ(CPToMimeChar(1257), CP1257);
    EXPECT_EQ(CPToMimeChar(10021), MACTH);
    EXPECT_EQ(CPToMimeChar(866), CP866);
    EXPECT_EQ(GetCurCP(), CP1252);
    EXPECT_EQ(GetBOM(UTF_8), "\xEF\xBB\xBF");
    EXPECT_EQ(GetBOM(UCS_2), "\xFE\xFF");
    EXPECT_EQ(GetBOM(UCS_2LE), "\xFF\xFE");
    EXPECT_EQ(GetBOM(UCS_4), "\0\0\xFE\xFF"s);
    EXPECT_EQ(GetBOM(UCS_4LE), "\xFF\xFE\0\0"s);
    EXPECT_EQ(GetBOM(UTF_16), "");
    EXPECT_EQ(GetBOM(UTF_32LE), "");
}

// ---- generated tables -------------------------------------------------------

TEST(CharsetTables, SpotValuesAndCorrections) {
    const auto at = [](TMimeChar C, int B) { return (*detail::SingleByteTable(C))[B - 0x80]; };
    EXPECT_EQ(at(CP1252, 0x80), 0x20AC);
    EXPECT_EQ(at(CP1252, 0x81), 0xFFFD);
    EXPECT_EQ(at(CP1252, 0xE7), 0x00E7);
    EXPECT_EQ(at(ISO_8859_15, 0xA4), 0x20AC);
    EXPECT_EQ(at(KOI8_R, 0xC1), 0x0430);
    EXPECT_EQ(at(CP852, 0x80), 0x00C7);
    for (int b : {0xA4, 0xA5, 0xAA}) EXPECT_EQ(at(ISO_8859_7, b), 0xFFFD) << b;
    EXPECT_EQ(at(ISO_8859_7, 0xA1), 0x2018);  // the 1987 quotation marks
    const std::map<int, std::uint16_t> kamenicky = {
        {0x80, 0x010C}, {0x83, 0x010F}, {0x85, 0x010E}, {0x86, 0x0164}, {0x87, 0x010D}, {0x88, 0x011B},
        {0x89, 0x011A}, {0x8A, 0x0139}, {0x8B, 0x00CD}, {0x8C, 0x013E}, {0x8D, 0x013A}, {0x8F, 0x00C1},
        {0x91, 0x017E}, {0x92, 0x017D}, {0x95, 0x00D3}, {0x96, 0x016F}, {0x97, 0x00DA}, {0x98, 0x00FD},
        {0x9B, 0x0160}, {0x9C, 0x013D}, {0x9D, 0x00DD}, {0x9E, 0x0158}, {0x9F, 0x0165}, {0xA4, 0x0148},
        {0xA5, 0x0147}, {0xA6, 0x016E}, {0xA7, 0x00D4}, {0xA8, 0x0161}, {0xA9, 0x0159}, {0xAA, 0x0155},
        {0xAB, 0x0154}, {0xAD, 0x00A7}, {0xE1, 0x03B2}, {0xE6, 0x03BC}, {0xED, 0x2205}, {0xF8, 0x2218},
        {0xF9, 0x00B7}, {0xFA, 0x2219}};
    for (const auto& [b, u] : kamenicky) EXPECT_EQ(at(CP895, b), u) << b;
    EXPECT_EQ(at(CP895, 0x81), 0x00FC);  // code page 437 elsewhere
    EXPECT_EQ(detail::SingleByteTable(UTF_8), nullptr);
    EXPECT_EQ(detail::SingleByteTable(CP866), nullptr);
}

// ---- conversion on both paths ------------------------------------------------

enum class TRoad { Iconv, BuiltIn };

struct ConvCase {
    const char* Name;
    std::string Value;
    TMimeChar From, To;
    std::string Expected;
    std::vector<std::uint16_t> Table = Replace_None;
    bool Translit = true;
};

const ConvCase kConvCases[] = {
    {"cp1252_cedilla_to_utf8", "\xE7", CP1252, UTF_8, "\xC3\xA7"},
    {"cp1252_euro_to_utf8", "\x80", CP1252, UTF_8, "\xE2\x82\xAC"},
    {"cp1252_undefined_to_replacement", "a\x81z", CP1252, UTF_8, "a\xEF\xBF\xBDz"},
    {"utf8_euro_to_cp1252", "\xE2\x82\xAC", UTF_8, CP1252, "\x80"},
    {"utf8_portuguese_to_cp1252", "a\xC3\xA7\xC3\xA3o", UTF_8, CP1252, "a\xE7\xE3o"},
    {"utf8_lacking_char_dropped_without_translit", "a\xC5\x82z", UTF_8, CP1252, "az", Replace_None, false},
    {"same_charset_untouched", "\xFF\xC3", UTF_8, UTF_8, "\xFF\xC3"},
    {"cp1252_to_latin1", "a\xE7\xE3o", CP1252, ISO_8859_1, "a\xE7\xE3o"},
    {"iso8859_7_1987_undefined", "\xA4\xE1", ISO_8859_7, UTF_8, "\xEF\xBF\xBD\xCE\xB1"},
    {"kamenicky_to_utf8", "\x80\x81", CP895, UTF_8, "\xC4\x8C\xC3\xBC"},
    {"koi8r_to_utf8", "\xC1", KOI8_R, UTF_8, "\xD0\xB0"},
    {"utf8_to_ucs2", "A\xE2\x82\xAC", UTF_8, UCS_2, "\x00\x41\x20\xAC"s},
    {"utf8_to_ucs4", "A", UTF_8, UCS_4, "\x00\x00\x00\x41"s},
    {"ucs2_to_cp1252", "\x00\x41\x00\xE7"s, UCS_2, CP1252, "A\xE7"},
    {"utf8_to_utf7", "A\xC3\xA9+", UTF_8, UTF_7, "A+AOk-+-"},
    {"utf7_to_utf8", "A+AOk-+-", UTF_7, UTF_8, "A\xC3\xA9+"},
    {"utf8_to_mutf7", "\xC3\xA9&/", UTF_8, UTF_7mod, "&AOk-&-/"},
    {"mutf7_to_utf8", "&AOkA6Q-&-", UTF_7mod, UTF_8, "\xC3\xA9\xC3\xA9&"},
    {"replacement_table", "a\xE7", CP1252, UTF_8, "ac", {0x00E7, 0x0063}},
    {"replacement_table_to_cp1252", "\xC3\xA7\xC3\xA3", UTF_8, CP1252, "c\xE3", {0x00E7, 0x0063}},
    {"utf8_bom_dropped", "\xEF\xBB\xBFx", UTF_8, CP1252, "x"},
};

// Runs each row once through iconv and once on the built-in road.
template <typename Case>
class OnBothRoads : public ::testing::TestWithParam<std::tuple<TRoad, Case>> {
protected:
    void SetUp() override {
        if (std::get<0>(this->GetParam()) == TRoad::Iconv) {
            if (DisableIconv || !InitIconvInterface()) GTEST_SKIP() << "iconv cannot be bound here";
        } else {
            FScope.emplace();
        }
    }
    const Case& Row() const { return std::get<1>(this->GetParam()); }

    std::optional<TBuiltInConversionScope> FScope;
};

template <typename Case>
std::string RoadAndName(const ::testing::TestParamInfo<std::tuple<TRoad, Case>>& Info) {
    return std::string(std::get<0>(Info.param) == TRoad::Iconv ? "iconv_" : "builtin_") +
           std::get<1>(Info.param).Name;
}

using CharsetConversionRoads = OnBothRoads<ConvCase>;

TEST_P(CharsetConversionRoads, GivesExpectedBytes) {
    const ConvCase& c = Row();
    EXPECT_EQ(CharsetConversionTrans(c.Value, c.From, c.To, c.Table, c.Translit), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Charsets, CharsetConversionRoads,
                         ::testing::Combine(::testing::Values(TRoad::Iconv, TRoad::BuiltIn),
                                            ::testing::ValuesIn(kConvCases)),
                         RoadAndName<ConvCase>);

TEST(CharsetConversionBuiltIn, LacksCharGivesUnderscoreWithTranslit) {
    TBuiltInConversionScope builtIn;
    EXPECT_EQ(CharsetConversion("a\xC5\x82z", UTF_8, CP1252), "a_z");
    EXPECT_EQ(CharsetConversion("\x81", CP1252, ISO_8859_1), "_");  // U+FFFD is never found
    EXPECT_EQ(CharsetConversion("\xE2\x82\xAC", UTF_8, ISO_8859_1), "_");
}

TEST(CharsetConversionBuiltIn, UcsInputWithMarksAndOddLength) {
    TBuiltInConversionScope builtIn;
    EXPECT_EQ(CharsetConversion("\xFF\xFE\x41\x00"s, UCS_2LE, UTF_8), "A");
    EXPECT_EQ(CharsetConversion("\xFE\xFF\x00\x41\xFF\xFE\x42\x00"s, UCS_2, UTF_8),
              "AB");  // FFFE flips the order
    EXPECT_EQ(CharsetConversion("\x00\x41\x00"s, UCS_2, UCS_2LE),
              "\x41\x00\x00\x00"s);  // incomplete last reads as 0
    EXPECT_EQ(CharsetConversion("\xEF\xBF\xBE"
                                "A",
                                UTF_8, CP1252),
              "A");  // no flip inside UTF-8
}

TEST(CharsetConversionBuiltIn, LaxUtf8ReadingNeverFails) {
    TBuiltInConversionScope builtIn;
    EXPECT_EQ(CharsetConversion("\x80\x80", UTF_8, UCS_2),
              "\x00\x00"s);  // stray continuations: one empty char
    EXPECT_EQ(CharsetConversion("\xC3", UTF_8, UCS_2), "\x00\x03"s);
    EXPECT_EQ(CharsetConversion("\xF0\x9F\x98\x80", UTF_8, UCS_2), "\xF6\x00"s);  // above U+FFFF: low 16 bits
}

TEST(CharsetConversionBuiltIn, TabledCharsetsToUtf8MatchTheGeneralRoad) {
    TBuiltInConversionScope builtIn;
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    const std::vector<std::uint16_t> noOpTable = {0x0001, 0x0001};  // forces the code-unit road
    for (int i = 0; i < MimeCharCount; ++i) {
        const auto c = static_cast<TMimeChar>(i);
        if (!detail::SingleByteTable(c)) continue;
        EXPECT_EQ(CharsetConversion(all, c, UTF_8), CharsetConversionEx(all, c, UTF_8, noOpTable)) << i;
    }
}

TEST(CharsetConversionBuiltIn, Utf8ToOneByteCharsetsMatchesTheGeneralRoad) {
    TBuiltInConversionScope builtIn;
    // Valid text, marks, stray and truncated sequences, overlong and six-byte forms.
    const std::string utf8 =
        "Jo\xC3\xA3o \xE2\x82\xAC \xD0\xB0\xCE\xB1\xEF\xBB\xBF\xEF\xBF\xBEx\x80\xC3"
        "A\xC0\xAF\xFC\x80\x80\x80\x80\x81\xFE\xFF\xF0\x9F\x98\x80\xE2\x82";
    const std::vector<std::uint16_t> noOpTable = {0x0001, 0x0001};
    for (int i = 0; i < MimeCharCount; ++i) {
        const auto c = static_cast<TMimeChar>(i);
        if (c == UTF_8) continue;  // same charset: untouched without a table
        for (bool translit : {true, false})
            EXPECT_EQ(CharsetConversionTrans(utf8, UTF_8, c, Replace_None, translit),
                      CharsetConversionTrans(utf8, UTF_8, c, noOpTable, translit))
                << i;
    }
}

TEST(CharsetConversionBuiltIn, TabledCharsetsRoundTripTheirDefinedBytes) {
    TBuiltInConversionScope builtIn;
    for (int i = 0; i < MimeCharCount; ++i) {
        const auto c = static_cast<TMimeChar>(i);
        const auto* table = detail::SingleByteTable(c);
        if (!table) continue;
        std::string defined;
        for (int b = 0; b < 256; ++b)
            if (b < 0x80 || (*table)[b - 0x80] != 0xFFFD) defined.push_back(static_cast<char>(b));
        EXPECT_EQ(CharsetConversion(CharsetConversion(defined, c, UTF_8), UTF_8, c), defined) << i;
        EXPECT_EQ(CharsetConversion(CharsetConversion(defined, c, UCS_4LE), UCS_4LE, c), defined) << i;
    }
}

TEST(CharsetConversionIconv, ReachesCharsetsWithoutBuiltInTable) {
    if (DisableIconv || !InitIconvInterface()) GTEST_SKIP() << "iconv cannot be bound here";
    EXPECT_EQ(CharsetConversion("\xD0\xB0", UTF_8, CP866), "\xA0");
    EXPECT_EQ(CharsetConversion("\xE3\x81\x82", UTF_8, ISO_2022_JP),
              "\x1B$B$\"\x1B(B");  // ends back in ASCII
    EXPECT_EQ(CharsetConversion("\x1B$B$\"\x1B(B", ISO_2022_JP, UTF_8), "\xE3\x81\x82");
}

TEST(CharsetConversion, DisableIconvSelectsBuiltInRoad) {
    // Charsets without a table of their own reach their real code page only through iconv.
    const bool before = DisableIconv;
    DisableIconv = true;
    EXPECT_EQ(CharsetConversion("\xD0\xB0", UTF_8, CP866), "_");  // read as ISO 8859-1, which lacks it
    EXPECT_EQ(CharsetConversion("\xC3\xA7", UTF_8, CP866), "\xE7");
    DisableIconv = before;
}

// ---- choosing a charset -------------------------------------------------------

struct IdealCase {
    const char* Name;
    std::string Value;
    TMimeChar From;
    TMimeChar Expected;
};

using IdealCharset = OnBothRoads<IdealCase>;

TEST_P(IdealCharset, PicksFirstLosslessOrBest) {
    const IdealCase& c = Row();
    EXPECT_EQ(IdealCharsetCoding(c.Value, c.From, IdealCharsets), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, IdealCharset,
    ::testing::Combine(::testing::Values(TRoad::Iconv, TRoad::BuiltIn),
                       ::testing::Values(IdealCase{"ascii", "Hello world", CP1252, ISO_8859_1},
                                         IdealCase{"portuguese", "Jo\xE3o A\xE7\xE3o", CP1252, ISO_8859_1},
                                         IdealCase{"portuguese_euro", "Pre\xE7o 5 \x80", CP1252, ISO_8859_1},
                                         IdealCase{"cyrillic", "\xCF\xF0\xE8\xE2\xE5\xF2", CP1251,
                                                   ISO_8859_5},
                                         IdealCase{"greek", "\xE1\xE2\xE3", CP1253, ISO_8859_7},
                                         IdealCase{"polish",
                                                   "\xB3\xF3"
                                                   "d\xBF",
                                                   CP1250, ISO_8859_2})),
    RoadAndName<IdealCase>);

TEST(IdealCharsetCoding, EmptyCandidateSetGivesLatin1) {
    EXPECT_EQ(IdealCharsetCoding("\xE7", CP1252, TMimeSetChar{}), ISO_8859_1);
    EXPECT_EQ(IdealCharsetCoding("\xE7", CP1252, TMimeSetChar{KOI8_R, UTF_8}), UTF_8);
}

}  // namespace
}  // namespace tandrel::mime
