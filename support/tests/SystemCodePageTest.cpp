#include "support/SystemCodePage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandrel::support {
namespace {

struct AnsiCase {
    const char* Name;
    std::string Text;
    std::string Bytes;
};

class AnsiFromTextTable : public ::testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiFromTextTable, GivesWindows1252Bytes) {
    EXPECT_EQ(AnsiFromText(GetParam().Text), GetParam().Bytes);
}

INSTANTIATE_TEST_SUITE_P(
    SystemCodePage, AnsiFromTextTable,
    ::testing::Values(AnsiCase{"ascii", "Cliente 01", "Cliente 01"},
                      AnsiCase{"portuguese", "Jo\xC3\xA3o A\xC3\xA7\xC3\xA3o", "Jo\xE3o A\xE7\xE3o"},
                      AnsiCase{"euro_and_quotes", "\xE2\x82\xAC\xE2\x80\x9C", "\x80\x93"},
                      AnsiCase{"undefined_c1_kept", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D",
                               "\x81\x8D\x8F\x90\x9D"},
                      AnsiCase{"other_c1_lacking", "\xC2\x80", "?"},
                      AnsiCase{"lacking_char",
                               "a\xC5\x82"
                               "b",
                               "a?b"},
                      AnsiCase{"astral_char", "\xF0\x9F\x98\x80", "?"},
                      AnsiCase{"stray_continuation",
                               "a\x80"
                               "b",
                               "a?b"},
                      AnsiCase{"truncated_sequence", "a\xC3", "a?"},
                      AnsiCase{"overlong_slash", "\xC0\xAF", "??"},
                      AnsiCase{"surrogate", "\xED\xA0\x80", "???"},
                      AnsiCase{"lead_then_ascii",
                               "\xE2"
                               "ab",
                               "?ab"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SystemCodePage, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    EXPECT_EQ(AnsiFromText(TextFromAnsi(all)), all);
}

TEST(SystemCodePage, LinesGiveTheBytesOfTheJoinedText) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {""},
        {"Jo\xC3\xA3o", "", "\xE2\x82\xAC 10", "\xF0\x9F\x98\x80 no cp1252"},
        {"ends in a lead \xC3", "\xA3 starts with a continuation", "\xE2\x82", "\xAC"},
        {std::string(100000, 'a') + "\xC3\xA7"},
    };
    for (const auto& lines : cases) {
        std::string joined;
        for (const auto& line : lines) joined += line + "\r\n";
        EXPECT_EQ(AnsiLinesFromText(lines), AnsiFromText(joined));
    }
}

TEST(SystemCodePage, TextFromAnsiGivesUtf8) {
    EXPECT_EQ(TextFromAnsi("a\xE7\x80"), "a\xC3\xA7\xE2\x82\xAC");
    EXPECT_EQ(TextFromAnsi("\x81"), "\xC2\x81");
    EXPECT_EQ(TextFromAnsi("\x9F\xFF"), "\xC5\xB8\xC3\xBF");
}

}  // namespace
}  // namespace tandrel::support
