#include "mail/tools/TerminalText.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tandrel::mail::tool {
namespace {

struct EscapeCase {
    const char* name;
    std::string text;
    std::string shown;
};

void PrintTo(const EscapeCase& C, std::ostream* Os) { *Os << C.name; }

class EscapeControlsTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeControlsTest, ShowsControlsAsEscapesAndKeepsTheRest) {
    EXPECT_EQ(EscapeControls(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EscapeControlsTest,
    ::testing::Values(
        EscapeCase{"plain", "250 2.0.0 Ok: queued as 4F2A", "250 2.0.0 Ok: queued as 4F2A"},
        EscapeCase{"utf8_kept", "550 Usu\xC3\xA1rio n\xC3\xA3o existe \xE2\x82\xAC \xF0\x9F\x93\xA7",
                   "550 Usu\xC3\xA1rio n\xC3\xA3o existe \xE2\x82\xAC \xF0\x9F\x93\xA7"},
        EscapeCase{"backslash_kept", "see C:\\x1B", "see C:\\x1B"},
        EscapeCase{"window_title", "220 \x1B]0;pwned\x07 ready", "220 \\x1B]0;pwned\\x07 ready"},
        EscapeCase{"clear_screen", "\x1B[2J\x1B[H", "\\x1B[2J\\x1B[H"},
        EscapeCase{"line_breaks_and_tab", "a\r\nb\tc", "a\\x0D\\x0Ab\\x09c"},
        EscapeCase{"nul_and_del", std::string("a\0b\x7F", 4), "a\\x00b\\x7F"},
        EscapeCase{"c1_in_utf8",
                   "\xC2\x9B"
                   "2J \xC2\x9D"
                   "0;x",
                   "\\u009B2J \\u009D0;x"},
        EscapeCase{"c1_as_byte",
                   "\x9B"
                   "2J",
                   "\\x9B2J"},
        EscapeCase{"overlong", "\xC0\x80", "\\xC0\\x80"},
        EscapeCase{"surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
        EscapeCase{"cut_sequence", "ok \xE2\x82", "ok \\xE2\\x82"},
        EscapeCase{"beyond_unicode", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::mail::tool
