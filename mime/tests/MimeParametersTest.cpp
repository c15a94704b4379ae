#include "mime/MimeParameters.h"

#include <gtest/gtest.h>

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
        ParameterCase{"extended_latin1_with_language", "attachment; filename*=iso-8859-1'pt-BR'relat%F3rio.pdf",
                      "relat\xC3\xB3rio.pdf"},
        ParameterCase{"extended_wins_over_plain",
                      "attachment; filename=\"relatorio.pdf\"; filename*=utf-8''relat%C3%B3rio.pdf",
                      "relat\xC3\xB3rio.pdf"},
        ParameterCase{"extended_continuations",
                      "attachment;\tfilename*0*=UTF-8''Relat%C3%B3rio%20de%20;  filename*1*=%C3%A1rea.pdf",
                      "Relat\xC3\xB3rio de \xC3\xA1rea.pdf"},
        ParameterCase{"continuations_out_of_order",
                      "attachment; filename*1=\"final.pdf\"; filename*0*=UTF-8''%C3%A7_", "\xC3\xA7_final.pdf"},
        ParameterCase{"plain_continuations", "attachment; filename*0=\"long \"; filename*1=\"name.txt\"",
                      "long name.txt"},
        ParameterCase{"gap_ends_the_value", "attachment; filename*0=a; filename*2=c", "a"},
        ParameterCase{"no_section_zero_falls_back", "attachment; filename=\"x.txt\"; filename*1=y", "x.txt"},
        ParameterCase{"empty_charset_is_text", "attachment; filename*=''a%20b.txt", "a b.txt"},
        ParameterCase{"no_ticks_is_escaped_text", "attachment; filename*=a%20b.txt", "a b.txt"},
        ParameterCase{"quoted_extended_value", "attachment; filename*=\"UTF-8''a%C3%A7.txt\"", "a\xC3\xA7.txt"},
        ParameterCase{"truncated_escape", "attachment; filename*=UTF-8''ab%C", "ab"},
        ParameterCase{"other_parameter_ignored", "attachment; name*=UTF-8''x; size=3", ""},
        ParameterCase{"huge_section_number_ignored", "attachment; filename*0=a; filename*1000=b", "a"},
        ParameterCase{"missing", "attachment", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tandrel::mime
