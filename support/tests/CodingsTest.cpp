#include "support/Codings.h"

#include <gtest/gtest.h>

#include <string>

namespace tandrel::support {
namespace {

using namespace std::string_literals;

struct CodingCase {
    const char* Name;
    std::string (*Fn)(std::string_view);
    std::string Input;
    std::string Expected;
};

class CodingTable : public ::testing::TestWithParam<CodingCase> {};

TEST_P(CodingTable, GivesExpectedBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(c.Fn(c.Input), c.Expected);
}

const CodingCase kCodingCases[] = {
    {"b64_abc", EncodeBase64, "abc", "YWJj"},
    {"b64_one_byte", EncodeBase64, "a", "YQ=="},
    {"b64_two_bytes", EncodeBase64, "ab", "YWI="},
    {"b64_empty", EncodeBase64, "", ""},
    {"b64_high_bytes", EncodeBase64, "\xFF\xFE\xFD\x00"s, "//79AA=="},
    {"b64mod_uses_comma", EncodeBase64mod, "\xFF\xFE\xFD", ",,79"},
    {"unb64_abc", DecodeBase64, "YWJj", "abc"},
    {"unb64_ignores_line_breaks", DecodeBase64, "YW\r\nJj\r\nYW", "abca"},
    {"unb64_ignores_padding_and_junk", DecodeBase64, " Y*Q=\t=", "a"},
    {"unb64_group_of_three", DecodeBase64, "YWI", "ab"},
    {"unb64_single_leftover", DecodeBase64, "YWJjY", "abc"},
    {"unb64_padding_mid_value", DecodeBase64, "YQ==YQ==", "a\x06\x10"s},
    {"unb64_comma_not_in_alphabet", DecodeBase64, ",,79", "\xEF"},
    {"unb64mod", DecodeBase64mod, ",,79", "\xFF\xFE\xFD"},
    {"unb64mod_slash_skipped", DecodeBase64mod, "//79", "\xEF"},
    {"qp_equals", EncodeQuotedPrintable, "a=b", "a=3Db"},
    {"qp_tab", EncodeQuotedPrintable, "\t", "=09"},
    {"qp_keeps_specials_and_space", EncodeQuotedPrintable, "a:b c_?", "a:b c_?"},
    {"qp_high_and_del", EncodeQuotedPrintable, "\xE7\x7F\r\n", "=E7=7F=0D=0A"},
    {"qp_nul", EncodeQuotedPrintable, "\0"s, "=00"},
    {"safe_qp_specials", EncodeSafeQuotedPrintable, "a:b c_?\xE7", "a=3Ab c=5F=3F=E7"},
    {"unqp_triplet_then_text", DecodeQuotedPrintable, "=41x", "Ax"},
    {"unqp_lower_hex", DecodeQuotedPrintable, "=e7=E7", "\xE7\xE7"},
    {"unqp_bad_hex_copied", DecodeQuotedPrintable, "=ZZ", "=ZZ"},
    {"unqp_half_hex_copied", DecodeQuotedPrintable, "=4Zq", "=4Zq"},
    {"unqp_soft_break_crlf", DecodeQuotedPrintable, "ab=\r\ncd", "abcd"},
    {"unqp_soft_break_lfcr", DecodeQuotedPrintable, "ab=\n\rcd", "abcd"},
    {"unqp_soft_break_lf", DecodeQuotedPrintable, "ab=\ncd", "abcd"},
    {"unqp_delimiter_last", DecodeQuotedPrintable, "ab=", "ab"},
    {"unqp_delimiter_next_to_last", DecodeQuotedPrintable, "ab=4", "ab"},
    {"unqp_hard_breaks_kept", DecodeQuotedPrintable, "a\r\nb", "a\r\nb"},
    {"hex", StrToHex, "\xAB\x01", "ab01"},
    {"hex_empty", StrToHex, "", ""},
    {"uu_line", DecodeUU, "#86)C", "abc"},
    {"uu_backquote_is_zero", DecodeUU, "#````", "\0\0\0"s},
    {"uu_short_count", DecodeUU, "!86)C", "a"},
    {"uu_begin_line", DecodeUU, "begin 644 f.txt", ""},
    {"uu_empty", DecodeUU, "", ""},
    {"uu_missing_chars_count_zero", DecodeUU, "#86", "a`\0"s},
    {"xx_line", DecodeXX, "1MK7X", "abc"},
    {"xx_end", DecodeXX, "end", ""},
};

INSTANTIATE_TEST_SUITE_P(Codings, CodingTable, ::testing::ValuesIn(kCodingCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Codings, Base64RoundTripsEveryLengthAndByte) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    for (std::size_t len = 0; len <= all.size(); len += 7) {
        const std::string part = all.substr(all.size() - len);
        EXPECT_EQ(DecodeBase64(EncodeBase64(part)), part) << len;
        EXPECT_EQ(DecodeBase64mod(EncodeBase64mod(part)), part) << len;
        EXPECT_EQ(EncodeBase64(part).size(), (len + 2) / 3 * 4);
    }
}

// The Base64 lines of a part's body against the one-line encoder chunk by chunk:
// sizes around the line length, the fast loop's eight-byte reads at the end of the
// input, a prefix (a byte order mark) joined into the first line, and a room
// large enough to take huge pages.
TEST(Codings, Base64LinesAreEachChunkEncodedAndEndedByCrLf) {
    std::string bytes;
    for (int i = 0; i < (5 << 20) + 7; ++i) bytes.push_back(static_cast<char>((i * 131) >> 3));
    const auto reference = [](const std::string& All, std::size_t LineBytes) {
        std::string out;
        for (std::size_t at = 0; at < All.size(); at += LineBytes)
            out += EncodeBase64(All.substr(at, LineBytes)) + "\r\n";
        return out;
    };
    for (const std::string& prefix : {""s, "\xEF\xBB\xBF"s}) {
        for (const std::size_t size :
             {0u, 1u, 2u, 3u, 51u, 53u, 54u, 55u, 56u, 107u, 108u, 109u, 1000u, (5u << 20) + 7u}) {
            const std::string value = bytes.substr(0, size);
            SCOPED_TRACE(::testing::Message() << "prefix " << prefix.size() << ", size " << size);
            EXPECT_EQ(EncodeBase64Lines(prefix, value, 54), reference(prefix + value, 54));
            if (prefix.empty()) {
                EXPECT_EQ(EncodeBase64Lines(value, 54), reference(value, 54));
            }
        }
    }
    EXPECT_EQ(EncodeBase64Lines("abcdef", 0), "YWJjZGVm\r\n");
    EXPECT_EQ(EncodeBase64Lines("abcd", "ef", 2), "YWI=\r\nY2Q=\r\nZWY=\r\n");
}

TEST(Codings, QuotedPrintableRoundTripsEveryByte) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    EXPECT_EQ(DecodeQuotedPrintable(EncodeQuotedPrintable(all)), all);
    EXPECT_EQ(DecodeQuotedPrintable(EncodeSafeQuotedPrintable(all)), all);
}

TEST(Codings, TripletUsesGivenDelimiterAndSet) {
    EXPECT_EQ(EncodeTriplet("a%b c", '%', TSpecials{'%', ' '}), "a%25b%20c");
    EXPECT_EQ(DecodeTriplet("a%25b%20c", '%'), "a%b c");
}

TEST(Codings, SpecialSetsHoldTheListedBytes) {
    for (unsigned char c : std::string_view("\"(),/:;<>=?@[]\\_")) EXPECT_TRUE(SpecialChar.Contains(c)) << c;
    EXPECT_FALSE(SpecialChar.Contains('a'));
    EXPECT_FALSE(SpecialChar.Contains(' '));
    EXPECT_TRUE(NonAsciiChar.Contains(static_cast<unsigned char>(0)));
    EXPECT_TRUE(NonAsciiChar.Contains(static_cast<unsigned char>(31)));
    EXPECT_FALSE(NonAsciiChar.Contains(static_cast<unsigned char>(32)));
    EXPECT_FALSE(NonAsciiChar.Contains(static_cast<unsigned char>(126)));
    EXPECT_TRUE(NonAsciiChar.Contains(static_cast<unsigned char>(127)));
    EXPECT_TRUE(NonAsciiChar.Contains(static_cast<unsigned char>(255)));
}

}  // namespace
}  // namespace tandrel::support
