#include "mime/TextUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandrel::mime {
namespace {

TEST(TextUtils, SeparateGivesWholeValueWithoutDelimiter) {
    EXPECT_EQ(SeparateLeft("a;b;c", ";"), "a");
    EXPECT_EQ(SeparateRight("a;b;c", ";"), "b;c");
    EXPECT_EQ(SeparateLeft("abc", ";"), "abc");
    EXPECT_EQ(SeparateRight("abc", ";"), "abc");
    EXPECT_EQ(SeparateRight("a=>b", "=>"), "b");
    EXPECT_EQ(SeparateLeft("abc", ""), "abc");
}

struct FetchCase {
    const char* Name;
    std::string (*Fn)(std::string&, std::string_view);
    std::string Value;
    const char* Delimiter;
    std::string Result, Rest;
};

class FetchTable : public ::testing::TestWithParam<FetchCase> {};
TEST_P(FetchTable, SplitsAtFirstDelimiter) {
    const auto& c = GetParam();
    std::string v = c.Value;
    EXPECT_EQ(c.Fn(v, c.Delimiter), c.Result);
    EXPECT_EQ(v, c.Rest);
}
INSTANTIATE_TEST_SUITE_P(TextUtils, FetchTable,
                         ::testing::Values(FetchCase{"bin_split", FetchBin, " a ; b ", ";", " a ", " b "},
                                           FetchCase{"bin_no_delimiter", FetchBin, "abc", ";", "abc", ""},
                                           FetchCase{"bin_delimiter_last", FetchBin, "abc;", ";", "abc", ""},
                                           FetchCase{"bin_long_delimiter", FetchBin, "a--b--c", "--", "a",
                                                     "b--c"},
                                           FetchCase{"trimmed", Fetch, " a ; b ", ";", "a", "b"},
                                           FetchCase{"trimmed_keeps_tabs", Fetch, "\ta ;b", ";", "\ta", "b"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TextUtils, FetchExSkipsQuotedDelimiters) {
    std::string v = "name=\"a;b\"; charset=x";
    EXPECT_EQ(FetchEx(v, ";", '"'), "name=\"a;b\"");
    EXPECT_EQ(v, " charset=x");
    EXPECT_EQ(FetchEx(v, ";", '"'), " charset=x");
    EXPECT_EQ(v, "");
    std::string open = "\"a;b";
    EXPECT_EQ(FetchEx(open, ";", '"'), "\"a;b");
    EXPECT_EQ(open, "");
}

// SplitEx gives in one pass what FetchEx gives call by call.
TEST(TextUtils, SplitExGivesThePiecesOfRepeatedFetchEx) {
    for (const std::string value : {"", ";", "a", "a;", ";a", "a;;b", "name=\"a;b\"; charset=x", "\"a;b",
                                    "a\";\"b;c", "--x--y--", "a--b-"}) {
        for (const char* delimiter : {";", "--"}) {
            std::vector<std::string> fetched;
            for (std::string rest = value; !rest.empty();) fetched.push_back(FetchEx(rest, delimiter, '"'));
            const std::vector<std::string_view> split = SplitEx(value, delimiter, '"');
            EXPECT_EQ(std::vector<std::string>(split.begin(), split.end()), fetched)
                << value << " " << delimiter;
        }
    }
    EXPECT_TRUE(SplitEx("a;b", "", '"').size() == 1);
}

TEST(TextUtils, TrimOnlySpaces) {
    EXPECT_EQ(TrimSPLeft("  a b  "), "a b  ");
    EXPECT_EQ(TrimSPRight("  a b  "), "  a b");
    EXPECT_EQ(TrimSP("\t a \t"), "\t a \t");
    EXPECT_EQ(TrimSP("   "), "");
}

struct QuoteCase {
    const char* Name;
    std::string Value, Quoted;
};
class QuoteTable : public ::testing::TestWithParam<QuoteCase> {};
TEST_P(QuoteTable, QuoteAndUnquoteAreInverse) {
    EXPECT_EQ(QuoteStr(GetParam().Value, '"'), GetParam().Quoted);
    EXPECT_EQ(UnquoteStr(GetParam().Quoted, '"'), GetParam().Value);
}
INSTANTIATE_TEST_SUITE_P(TextUtils, QuoteTable,
                         ::testing::Values(QuoteCase{"plain", "abc", "\"abc\""},
                                           QuoteCase{"empty", "", "\"\""},
                                           QuoteCase{"inner_quote", "a\"b", "\"a\"\"b\""},
                                           QuoteCase{"only_quote", "\"", "\"\"\"\""}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TextUtils, UnquoteKeepsTextOutsideQuotes) {
    EXPECT_EQ(UnquoteStr("abc", '"'), "abc");
    EXPECT_EQ(UnquoteStr("a\"b c\"d", '"'), "ab cd");
    EXPECT_EQ(UnquoteStr("\"open", '"'), "open");
    EXPECT_EQ(UnquoteStr("'it''s'", '\''), "it's");
}

struct ParamCase {
    const char* Name;
    const char* Value;
    const char* Parameter;
    const char* Expected;
};
class GetParameterTable : public ::testing::TestWithParam<ParamCase> {};
TEST_P(GetParameterTable, FindsParameter) {
    EXPECT_EQ(GetParameter(GetParam().Value, GetParam().Parameter), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(
    TextUtils, GetParameterTable,
    ::testing::Values(ParamCase{"quoted_name", "text/xml; name=\"Cliente 001.xml\"", "name",
                                "Cliente 001.xml"},
                      ParamCase{"name_not_filename", "attachment; filename=\"a.xml\"", "name", ""},
                      ParamCase{"filename", "attachment; filename=\"a.xml\"", "filename", "a.xml"},
                      ParamCase{"case_insensitive", "text/plain; CHARSET=UTF-8", "charset", "UTF-8"},
                      ParamCase{"blanks_before_equals", "text/plain; charset  =  utf-8 ", "charset", "utf-8"},
                      ParamCase{"quoted_semicolon", "x; name=\"a;b\"; size=3", "size", "3"},
                      ParamCase{"quoted_semicolon_value", "x; name=\"a;b\"; size=3", "name", "a;b"},
                      ParamCase{"bare_name_ends_search", "x; boundary; boundary=abc", "boundary", ""},
                      ParamCase{"longer_name_skipped", "x; names=1; name=2", "name", "2"},
                      ParamCase{"missing", "text/plain", "charset", ""},
                      ParamCase{"doubled_quote", "x; name=\"a\"\"b\"", "name", "a\"b"},
                      ParamCase{"tabs_around", "multipart/mixed;\tboundary\t=\t\"b1\"", "boundary", "b1"},
                      ParamCase{"extended_form_is_not_plain", "x; filename*=UTF-8''a.pdf", "filename", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TextUtils, IndexByBeginIsCaseInsensitive) {
    const std::vector<std::string> list = {"From: a", "Content-Type: text/plain", "content-id: x"};
    EXPECT_EQ(IndexByBegin("content-type:", list), 1);
    EXPECT_EQ(IndexByBegin("CONTENT-", list), 1);
    EXPECT_EQ(IndexByBegin("Content-ID", list), 2);
    EXPECT_EQ(IndexByBegin("To:", list), -1);
    EXPECT_EQ(IndexByBegin("x", {}), -1);
}

struct RPosCase {
    const char* Name;
    const char* Sub;
    const char* Value;
    int From, Expected;
};
class RPosExTable : public ::testing::TestWithParam<RPosCase> {};
TEST_P(RPosExTable, FindsLastOccurrenceEndingBeforeFrom) {
    EXPECT_EQ(RPosEx(GetParam().Sub, GetParam().Value, GetParam().From), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(TextUtils, RPosExTable,
                         ::testing::Values(RPosCase{"space_before_3", " ", "a b c", 3, 2},
                                           RPosCase{"space_before_5", " ", "a b c", 5, 4},
                                           RPosCase{"must_end_before_from", "bc", "abcbc", 4, 2},
                                           RPosCase{"ends_exactly_at_from", "bc", "abcbc", 5, 4},
                                           RPosCase{"none", "x", "abc", 3, 0},
                                           RPosCase{"from_zero", "a", "abc", 0, 0},
                                           RPosCase{"from_past_end", "c", "abc", 99, 3},
                                           RPosCase{"empty_sub", "", "abc", 3, 0}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TextUtils, RPosReplaceAndCount) {
    EXPECT_EQ(RPos("/", "a/b/c"), 4);
    EXPECT_EQ(RPos("/", "abc"), 0);
    EXPECT_EQ(ReplaceString("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceString("a.b.c", ".", ".."), "a..b..c");
    EXPECT_EQ(ReplaceString("abc", "", "x"), "abc");
    EXPECT_EQ(CountOfChar("a,b,,c", ','), 3);
}

struct CrlfCase {
    const char* Name;
    const char* Value;
    int Pos;
    const char* Terminator;
};
class PosCRLFTable : public ::testing::TestWithParam<CrlfCase> {};
TEST_P(PosCRLFTable, FindsFirstLineEnd) {
    std::string t = "junk";
    EXPECT_EQ(PosCRLF(GetParam().Value, t), GetParam().Pos);
    EXPECT_EQ(t, GetParam().Terminator);
}
INSTANTIATE_TEST_SUITE_P(
    TextUtils, PosCRLFTable,
    ::testing::Values(CrlfCase{"crlf", "ab\r\ncd", 3, "\r\n"}, CrlfCase{"lfcr", "ab\n\rcd", 3, "\n\r"},
                      CrlfCase{"lf", "ab\ncd\r\n", 3, "\n"}, CrlfCase{"cr_at_end", "ab\r", 3, "\r"},
                      CrlfCase{"crcr", "a\r\rb", 2, "\r"}, CrlfCase{"none", "abc", -1, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

struct SplitCase {
    const char* Name;
    std::string Text;
    std::vector<std::string> CrLf, Any;
};

class SplitLinesTable : public ::testing::TestWithParam<SplitCase> {};
// The two rules differ only on a lone CR or LF; a final break adds no empty line.
TEST_P(SplitLinesTable, CutsAsTheRuleSays) {
    const auto& c = GetParam();
    EXPECT_EQ(SplitLines(c.Text, TLineBreak::CrLf), c.CrLf);
    EXPECT_EQ(SplitLines(c.Text, TLineBreak::Any), c.Any);
}
INSTANTIATE_TEST_SUITE_P(
    TextUtils, SplitLinesTable,
    ::testing::Values(SplitCase{"empty", "", {}, {}}, SplitCase{"no_break", "abc", {"abc"}, {"abc"}},
                      SplitCase{"final_crlf", "a\r\nb\r\n", {"a", "b"}, {"a", "b"}},
                      SplitCase{"only_crlf", "\r\n", {""}, {""}},
                      SplitCase{"empty_lines", "\r\n\r\nx", {"", "", "x"}, {"", "", "x"}},
                      SplitCase{"lone_lf", "a\nb", {"a\nb"}, {"a", "b"}},
                      SplitCase{"lone_cr", "a\rb\r", {"a\rb\r"}, {"a", "b"}},
                      SplitCase{"lf_cr_is_two", "a\n\rb", {"a\n\rb"}, {"a", "", "b"}},
                      SplitCase{"cr_before_crlf", "a\r\r\nb", {"a\r", "b"}, {"a", "", "b"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// NextLine tells whether a break ended the line: a text ending in a break has an
// empty last line after it, which ForEachLine leaves out.
TEST(TextUtils, NextLineTellsTheBreakAndWhereTheNextLineBegins) {
    const std::string_view text = "ab\r\nc\r";
    struct Step {
        std::size_t From;
        TLineBreak Rule;
        std::string_view Line;
        std::size_t Next;
        bool Broken;
    };
    for (const Step& step :
         {Step{0, TLineBreak::Any, "ab", 4, true}, Step{4, TLineBreak::Any, "c", 6, true},
          Step{6, TLineBreak::Any, "", 6, false}, Step{100, TLineBreak::CrLf, "", 6, false},
          Step{4, TLineBreak::CrLf, "c\r", 6, false}}) {
        const TTextLine line = NextLine(text, step.From, step.Rule);
        EXPECT_EQ(line.Line, step.Line) << step.From;
        EXPECT_EQ(line.Next, step.Next) << step.From;
        EXPECT_EQ(line.Broken, step.Broken) << step.From;
    }
}

TEST(TextUtils, NormalizeHeaderJoinsContinuations) {
    const std::vector<std::string> lines = {"Subject: one", "\ttwo ",  " three", "To: x", "  y", "",
                                            " not me",      "From: z", " last"};
    int i = 0;
    // Unfolding removes only the line breaks: the white space of the folds stays.
    EXPECT_EQ(NormalizeHeader(lines, i), "Subject: one\ttwo  three");
    EXPECT_EQ(i, 3);
    EXPECT_EQ(NormalizeHeader(lines, i), "To: x  y");
    EXPECT_EQ(i, 5);
    EXPECT_EQ(NormalizeHeader(lines, i), "");  // the empty line ends the header block
    EXPECT_EQ(i, 6);
    i = 7;
    EXPECT_EQ(NormalizeHeader(lines, i), "From: z");  // the last line is never a continuation
    EXPECT_EQ(i, 8);
}

TEST(TextUtils, NormalizeHeaderContinuationStarters) {
    const std::vector<std::string> lines = {"A: 1 ", "\"q\"", ":c", "=d", "e", "end"};
    int i = 0;
    EXPECT_EQ(NormalizeHeader(lines, i), "A: 1  \"q\" :c =d");  // only the joined lines are trimmed
    EXPECT_EQ(i, 4);
    int past = 9;
    EXPECT_EQ(NormalizeHeader(lines, past), "");
}

TEST(TextUtils, BinaryDigits) {
    EXPECT_EQ(IntToBin(5, 8), "00000101");
    EXPECT_EQ(IntToBin(5, 0), "101");
    EXPECT_EQ(IntToBin(0, 0), "0");
    EXPECT_EQ(IntToBin(255, 4), "11111111");
    EXPECT_EQ(BinToInt("00000101"), 5);
    EXPECT_EQ(BinToInt("1012"), 5);
    EXPECT_EQ(BinToInt("x1"), 0);
    EXPECT_EQ(BinToInt(IntToBin(12345, 20)), 12345);
}

}  // namespace
}  // namespace tandrel::mime
