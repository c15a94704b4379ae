#include "mime/MimeParameters.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tandrel::mime {
namespace {

struct ParameterCase {
    const char* Name;
    std::string Value;
    std::string Expected;
};
class GetParameterTextTable : public ::testing::TestWithParam<ParameterCase> {};
TEST_P(GetParameterTextTable, GivesTheText) {
    EXPECT_EQ(GetParameterText(GetParam().Value, "filename"), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(
    MimeParameters, GetParameterTextTable,
    ::testing::Values(
        ParameterCase{"plain", "attachment; filename=\"a b.pdf\"", "a b.pdf"},
        ParameterCase{"plain_encoded_words", "attachment; filename=\"=?UTF-8?Q?a=C3=A7=C3=A3o?=.pdf\"",
                      "a\xC3\xA7\xC3\xA3o.pdf"},
        ParameterCase{"extended_utf8", "attachment; filename*=UTF-8''relat%C3%B3rio%20final.pdf",
                      "relat\xC3\xB3rio final.pdf"},
        ParameterCase{"extended_latin1_with_language",
                      "attachment; filename*=iso-8859-1'pt-BR'relat%F3rio.pdf", "relat\xC3\xB3rio.pdf"},
        ParameterCase{"extended_wins_over_plain",
                      "attachment; filename=\"relatorio.pdf\"; filename*=utf-8''relat%C3%B3rio.pdf",
                      "relat\xC3\xB3rio.pdf"},
        ParameterCase{"extended_continuations",
                      "attachment;\tfilename*0*=UTF-8''Relat%C3%B3rio%20de%20;  filename*1*=%C3%A1rea.pdf",
                      "Relat\xC3\xB3rio de \xC3\xA1rea.pdf"},
        ParameterCase{"continuations_out_of_order",
                      "attachment; filename*1=\"final.pdf\"; filename*0*=UTF-8''%C3%A7_",
                      "\xC3\xA7_final.pdf"},
        ParameterCase{"plain_continuations", "attachment; filename*0=\"long \"; filename*1=\"name.txt\"",
                      "long name.txt"},
        ParameterCase{"gap_ends_the_value", "attachment; filename*0=a; filename*2=c", "a"},
        ParameterCase{"no_section_zero_falls_back", "attachment; filename=\"x.txt\"; filename*1=y", "x.txt"},
        ParameterCase{"empty_charset_is_text", "attachment; filename*=''a%20b.txt", "a b.txt"},
        ParameterCase{"no_ticks_is_escaped_text", "attachment; filename*=a%20b.txt", "a b.txt"},
        ParameterCase{"quoted_extended_value", "attachment; filename*=\"UTF-8''a%C3%A7.txt\"",
                      "a\xC3\xA7.txt"},
        ParameterCase{"truncated_escape", "attachment; filename*=UTF-8''ab%C", "ab"},
        ParameterCase{"other_parameter_ignored", "attachment; name*=UTF-8''x; size=3", ""},
        ParameterCase{"huge_section_number_ignored", "attachment; filename*0=a; filename*1000=b", "a"},
        ParameterCase{"missing", "attachment", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// The grammar of RFC 2045 (5.1): what a value is made of, and what breaks it.
struct GrammarCase {
    const char* Name;
    std::string Value;
    bool Valid;
    std::string Type = "";
    std::string Subtype = "";
    std::vector<std::pair<std::string, std::string>> Items = {};
};
class ParseMimeParametersTable : public ::testing::TestWithParam<GrammarCase> {};
TEST_P(ParseMimeParametersTable, ReadsByTheGrammar) {
    const auto& c = GetParam();
    const std::optional<TMimeParameters> parsed = ParseMimeParameters(c.Value);
    ASSERT_EQ(parsed.has_value(), c.Valid);
    if (!parsed) return;
    EXPECT_EQ(parsed->Type, c.Type);
    EXPECT_EQ(parsed->Subtype, c.Subtype);
    EXPECT_EQ(parsed->HasSubtype, !c.Subtype.empty());
    std::vector<std::pair<std::string, std::string>> items;
    for (const TMimeParameter& p : parsed->Items) items.emplace_back(p.Name, p.Value);
    EXPECT_EQ(items, c.Items);
}
INSTANTIATE_TEST_SUITE_P(
    MimeParameters, ParseMimeParametersTable,
    ::testing::Values(
        GrammarCase{"type_only", "attachment", true, "attachment"},
        GrammarCase{"type_and_subtype", "Text/Plain", true, "Text", "Plain"},
        GrammarCase{"blanks_and_folds_between_words",
                    " text / plain ;\r\n\tcharset = \"utf-8\" ",
                    true,
                    "text",
                    "plain",
                    {{"charset", "utf-8"}}},
        GrammarCase{"comments_between_words",
                    "text/plain (texto) ; charset=us-ascii (Plain text)",
                    true,
                    "text",
                    "plain",
                    {{"charset", "us-ascii"}}},
        GrammarCase{"nested_comment_with_escape",
                    "text/plain; (a (b \\) c) d) charset=x",
                    true,
                    "text",
                    "plain",
                    {{"charset", "x"}}},
        GrammarCase{"backslash_escapes_in_quotes",
                    "a; filename=\"C:\\\\d\\\\\\\"x\\\".pdf\"",
                    true,
                    "a",
                    "",
                    {{"filename", "C:\\d\\\"x\".pdf"}}},
        GrammarCase{
            "quoted_semicolon", "a; name=\"x;y\"; size=3", true, "a", "", {{"name", "x;y"}, {"size", "3"}}},
        GrammarCase{"empty_quoted_value", "a; name=\"\"", true, "a", "", {{"name", ""}}},
        GrammarCase{"empty_parameters", "a;; name=x;", true, "a", "", {{"name", "x"}}},
        GrammarCase{"unquoted_specials_and_8bit",
                    "a; boundary=----=_Part_1; name==?UTF-8?B?w6k=?=; n=\xC3\xA9",
                    true,
                    "a",
                    "",
                    {{"boundary", "----=_Part_1"}, {"name", "=?UTF-8?B?w6k=?="}, {"n", "\xC3\xA9"}}},
        GrammarCase{"rfc2231_names",
                    "a; name*0*=UTF-8''x%20; name*1=y",
                    true,
                    "a",
                    "",
                    {{"name*0*", "UTF-8''x%20"}, {"name*1", "y"}}},
        GrammarCase{"empty", "", false}, GrammarCase{"no_type", "; name=x", false},
        GrammarCase{"empty_subtype", "image/; name=a.png", false},
        GrammarCase{"two_slashes", "text/plain/x", false},
        GrammarCase{"special_in_type", "te@xt/plain", false},
        GrammarCase{"quote_inside_a_token", "a; name=x\"y.pdf", false},
        GrammarCase{"text_after_a_quoted_value", "a; name=\"x\"y", false},
        GrammarCase{"blank_inside_an_unquoted_value", "a; name=nota fiscal.pdf", false},
        GrammarCase{"parameter_without_equals", "a; name", false},
        GrammarCase{"parameter_without_value", "a; name=", false},
        GrammarCase{"no_semicolon_between_parameters", "a; b=1 c=2", false},
        GrammarCase{"unclosed_quote", "a; name=\"x", false},
        GrammarCase{"unclosed_comment", "a; name=x (y", false},
        GrammarCase{"control_in_a_value", "a; name=x\x01y", false}),
    [](const auto& info) { return std::string(info.param.Name); });

// The reader's parameters that are no text (boundary, charset) keep their bytes: no
// encoded words decoded, no charset conversion.
TEST(MimeParameters, BytesAreTheValueAsWritten) {
    const auto parsed = ParseMimeParameters(
        "multipart/mixed; boundary==?UTF-8?Q?x?=; charset*=utf-8'pt'%C3%A9; n*0=a; n*1*=%2D");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(ParameterBytes(*parsed, "BOUNDARY"), "=?UTF-8?Q?x?=");
    EXPECT_EQ(ParameterText(*parsed, "boundary"), "x");
    EXPECT_EQ(ParameterBytes(*parsed, "charset"), "\xC3\xA9");
    EXPECT_EQ(ParameterBytes(*parsed, "n"), "a-");
    EXPECT_EQ(ParameterBytes(*parsed, "missing"), "");
}

TEST(MimeParameters, TextOfAValueThatBreaksTheGrammarIsEmpty) {
    EXPECT_EQ(GetParameterText("attachment; filename=a\"b.pdf", "filename"), "");
    EXPECT_EQ(GetParameterText("attachment; filename=\"a\\\"b.pdf\"", "filename"), "a\"b.pdf");
}

}  // namespace
}  // namespace tandrel::mime
