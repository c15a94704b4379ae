#include "mail/detail/XmlCharset.h"

#include <gtest/gtest.h>

#include <string>

namespace tandrel::mail {
namespace {

using mime::TMimeChar;
using namespace std::string_literals;

struct XmlCase {
    const char* name;
    std::string bytes;
    TMimeChar expected;
};

class XmlCharsetTest : public ::testing::TestWithParam<XmlCase> {};

TEST_P(XmlCharsetTest, FollowsTheDocument) { EXPECT_EQ(XmlCharset(GetParam().bytes), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, XmlCharsetTest,
    ::testing::Values(
        XmlCase{"utf8_declared", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<c>JOS\xc3\x89</c>",
                TMimeChar::UTF_8},
        XmlCase{"latin1_single_quotes", "<?xml version='1.0' encoding='ISO-8859-1'?><c/>",
                TMimeChar::ISO_8859_1},
        XmlCase{"windows_1252_lower_case", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><c/>",
                TMimeChar::CP1252},
        XmlCase{"blanks_around_equals", "<?xml version=\"1.0\"\n  encoding = \"iso-8859-15\" ?><c/>",
                TMimeChar::ISO_8859_15},
        XmlCase{"standalone_after", "<?xml version=\"1.0\" encoding=\"KOI8-R\" standalone=\"yes\"?><c/>",
                TMimeChar::KOI8_R},
        XmlCase{"no_encoding_is_utf8", "<?xml version=\"1.0\"?><c/>", TMimeChar::UTF_8},
        XmlCase{"no_declaration_is_utf8", "<c>JO\xc3\x83O</c>", TMimeChar::UTF_8},
        XmlCase{"empty_is_utf8", "", TMimeChar::UTF_8},
        XmlCase{"unclosed_declaration_is_utf8", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"",
                TMimeChar::UTF_8},
        XmlCase{"unquoted_value_is_utf8", "<?xml version=\"1.0\" encoding=ISO-8859-1?><c/>",
                TMimeChar::UTF_8},
        XmlCase{"encoding_after_the_declaration_ignored",
                "<?xml version=\"1.0\"?><c encoding=\"ISO-8859-1\"/>", TMimeChar::UTF_8},
        XmlCase{"processing_instruction_not_a_declaration", "<?xml-stylesheet encoding=\"ISO-8859-1\"?><c/>",
                TMimeChar::UTF_8},
        XmlCase{"utf8_mark_wins", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><c/>",
                TMimeChar::UTF_8},
        XmlCase{"utf16_big_endian_mark", "\xFE\xFF\0<\0?\0x\0m\0l"s, TMimeChar::UTF_16},
        XmlCase{"utf16_little_endian_mark", "\xFF\xFE<\0?\0x\0m\0l\0"s, TMimeChar::UTF_16},
        XmlCase{"utf16_big_endian_unmarked", "\0<\0?\0x\0m\0l"s, TMimeChar::UTF_16},
        XmlCase{"utf16_little_endian_unmarked", "<\0?\0x\0m\0l\0"s, TMimeChar::UTF_16LE},
        XmlCase{"unknown_name_as_every_unknown_name", "<?xml version=\"1.0\" encoding=\"X-NONE\"?><c/>",
                TMimeChar::ISO_8859_1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::mail
