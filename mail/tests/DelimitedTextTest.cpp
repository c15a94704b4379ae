#include "mail/detail/DelimitedText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandrel::mail {
namespace {

struct DelimiterCase {
    const char* name;
    const char* text;
    const char* delimiters;
    char expected;
};

class FindDelimiterInTextTest : public ::testing::TestWithParam<DelimiterCase> {};

TEST_P(FindDelimiterInTextTest, PicksFirstDelimiterOfTheSetThatOccurs) {
    const auto& c = GetParam();
    EXPECT_EQ(FindDelimiterInText(c.text, c.delimiters), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindDelimiterInTextTest,
    ::testing::Values(DelimiterCase{"none_gives_space", "a@x b@y", "", ' '},
                      DelimiterCase{"semicolon", "a@x;b@y", "", ';'},
                      DelimiterCase{"comma", "a@x,b@y", "", ','}, DelimiterCase{"bar", "a@x|b@y", "", '|'},
                      DelimiterCase{"semicolon_wins_over_earlier_comma", "a,b@x;c@y", "", ';'},
                      DelimiterCase{"comma_wins_over_earlier_bar", "a|b,c", "", ','},
                      DelimiterCase{"own_set_in_its_order", "a;b#c", "#;", '#'},
                      DelimiterCase{"empty_text", "", "", ' '}),
    [](const auto& info) { return std::string(info.param.name); });

struct SplitCase {
    const char* name;
    const char* text;
    char delimiter;
    std::vector<std::string> expected;
};

class AddDelimitedTextToListTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(AddDelimitedTextToListTest, SplitsStrictlyAndAppends) {
    const auto& c = GetParam();
    std::vector<std::string> list{"kept"};
    const int added = AddDelimitedTextToList(c.text, c.delimiter, list, '"');
    std::vector<std::string> expected{"kept"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(list, expected);
    EXPECT_EQ(added, static_cast<int>(c.expected.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddDelimitedTextToListTest,
    ::testing::Values(
        SplitCase{"empty_adds_nothing", "", ';', {}}, SplitCase{"single_item", "a@x", ';', {"a@x"}},
        SplitCase{"spaces_stay_in_items", "a@x; b@y", ';', {"a@x", " b@y"}},
        SplitCase{"empty_item_between", "a;;b", ';', {"a", "", "b"}},
        SplitCase{"trailing_delimiter_adds_empty", "a;b;", ';', {"a", "b", ""}},
        SplitCase{"only_delimiter", ";", ';', {"", ""}},
        SplitCase{"comma_kept_when_splitting_at_semicolon", "x,y;z", ';', {"x,y", "z"}},
        SplitCase{"quoted_item_keeps_delimiter", "\"a;b\";c", ';', {"a;b", "c"}},
        SplitCase{"doubled_quote_is_one", "\"say \"\"hi\"\"\";c", ';', {"say \"hi\"", "c"}},
        SplitCase{"text_after_closing_quote_kept", "\"Doe, J\" <j@x>,k@y", ',', {"Doe, J <j@x>", "k@y"}},
        SplitCase{"unclosed_quote_runs_to_end", "\"a;b", ';', {"a;b"}},
        SplitCase{"quote_inside_item_is_plain", "a\"b;c", ';', {"a\"b", "c"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::mail
