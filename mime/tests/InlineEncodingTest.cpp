#include "mime/InlineEncoding.h"
#include "mime/MimeMess.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace tandrel::mime {
namespace {

using enum TMimeChar;

std::string Repeat(std::string_view Piece, int Times) {
    std::string out;
    for (int i = 0; i < Times; ++i) out += Piece;
    return out;
}

struct NeedCase {
    const char* Name;
    std::string Bytes;
    bool Expected;
};
class NeedInlineTable : public ::testing::TestWithParam<NeedCase> {};
TEST_P(NeedInlineTable, Decides) { EXPECT_EQ(NeedInline(GetParam().Bytes), GetParam().Expected); }
INSTANTIATE_TEST_SUITE_P(InlineEncoding, NeedInlineTable,
                         ::testing::Values(NeedCase{"plain_words", "Cadastro de cliente", false},
                                           NeedCase{"underscore", "a_b", false},
                                           NeedCase{"dot_dash", "Re: x", true},
                                           NeedCase{"comma", "a,b", true},
                                           NeedCase{"accent", "Jo\xE3o", true}, NeedCase{"tab", "a\tb", true},
                                           NeedCase{"del", "\x7F", true}, NeedCase{"question", "why?", true},
                                           NeedCase{"empty", "", false}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct EncodeCase {
    const char* Name;
    std::string Text;
    std::string Expected;
};
class InlineCodeTable : public ::testing::TestWithParam<EncodeCase> {};
TEST_P(InlineCodeTable, EncodesCp1252TextAsUtf8Words) {
    EXPECT_EQ(InlineCodeEx2(GetParam().Text, CP1252, UTF_8), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(
    InlineEncoding, InlineCodeTable,
    ::testing::Values(
        EncodeCase{"plain_unchanged", "Cadastro de cliente", "Cadastro de cliente"},
        EncodeCase{"accents_one_word", "Cadastro: Jo\xC3\xA3o", "=?UTF-8?Q?Cadastro=3A_Jo=C3=A3o?="},
        EncodeCase{"comma", "Silva, Ana", "=?UTF-8?Q?Silva=2C_Ana?="},
        EncodeCase{
            "long_breaks_after_33", "Cadastro de cliente numero 0001 efetuado com sucesso: Jo\xC3\xA3o",
            "=?UTF-8?Q?Cadastro_de_cliente_numero_0001_efetuado_?= =?UTF-8?Q?com_sucesso=3A_Jo=C3=A3o?="},
        EncodeCase{"run_without_spaces_one_word", "\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7",
                   "=?UTF-8?Q?=C3=A7=C3=A7=C3=A7=C3=A7=C3=A7=C3=A7=C3=A7?="},
        EncodeCase{"euro", "\xE2\x82\xAC 5", "=?UTF-8?Q?=E2=82=AC_5?="},
        EncodeCase{"underscore_escaped_once_encoding", "a_b: c", "=?UTF-8?Q?a=5Fb=3A_c?="},
        EncodeCase{"word_of_75_stays_whole", std::string(57, 'a') + "\xC3\xA9",
                   "=?UTF-8?Q?" + std::string(57, 'a') + "=C3=A9?="},
        EncodeCase{"word_of_76_cut_before_the_character", std::string(58, 'a') + "\xC3\xA9",
                   "=?UTF-8?Q?" + std::string(58, 'a') + "?= =?UTF-8?Q?=C3=A9?="},
        EncodeCase{"long_run_cut_between_utf8_sequences", Repeat("\xC3\xA7", 12),
                   "=?UTF-8?Q?" + Repeat("=C3=A7", 10) + "?= =?UTF-8?Q?=C3=A7=C3=A7?="},
        EncodeCase{"cjk_kept_in_utf8", "\xE9\xA1\xA7\xE5\xAE\xA2 1", "=?UTF-8?Q?=E9=A1=A7=E5=AE=A2_1?="},
        EncodeCase{"malformed_utf8_becomes_question_mark",
                   "a\xE9\xA1"
                   "b",
                   "=?UTF-8?Q?a=3F=3Fb?="},
        EncodeCase{"plain_word_of_920_stays", std::string(920, 'x'), std::string(920, 'x')},
        EncodeCase{"plain_word_of_921_is_encoded", std::string(921, 'x'),
                   Repeat("=?UTF-8?Q?" + std::string(63, 'x') + "?= ", 14) + "=?UTF-8?Q?" +
                       std::string(39, 'x') + "?="}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(InlineEncoding, EncodeNamesTargetCharset) {
    EXPECT_EQ(InlineEncode("Jo\xC3\xA3o", CP1252, ISO_8859_1), "=?ISO-8859-1?Q?Jo=E3o?=");
    EXPECT_EQ(InlineEncode("", CP1252, UTF_8), "");
}

struct FieldCase {
    const char* Name;
    std::string Field, Text, Expected;
};
class InlineCodeFieldTable : public ::testing::TestWithParam<FieldCase> {};
TEST_P(InlineCodeFieldTable, KeepsTheFirstWordBesideTheName) {
    const std::string line = InlineCodeField(GetParam().Field, GetParam().Text, CP1252, UTF_8);
    EXPECT_EQ(line, GetParam().Expected);
    const std::size_t firstWordEnd = std::min(line.find(' ', GetParam().Field.size() + 2), line.size());
    EXPECT_LT(firstWordEnd, 78u) << "folding would cut right after the name";
}
INSTANTIATE_TEST_SUITE_P(
    InlineEncoding, InlineCodeFieldTable,
    ::testing::Values(
        FieldCase{"plain", "Subject", "Dados Cadastrais do Cliente", "Subject: Dados Cadastrais do Cliente"},
        FieldCase{"short_word_as_ever", "Subject", "Cadastro: Jo\xC3\xA3o",
                  "Subject: =?UTF-8?Q?Cadastro=3A_Jo=C3=A3o?="},
        FieldCase{"word_of_68_fits_beside_subject", "Subject", std::string(50, 'a') + "\xC3\xA9",
                  "Subject: =?UTF-8?Q?" + std::string(50, 'a') + "=C3=A9?="},
        FieldCase{"word_of_69_cut", "Subject", std::string(51, 'a') + "\xC3\xA9",
                  "Subject: =?UTF-8?Q?" + std::string(51, 'a') + "?= =?UTF-8?Q?=C3=A9?="},
        FieldCase{"longer_name_less_room", "Content-Description", std::string(40, 'a') + "\xC3\xA9",
                  "Content-Description: =?UTF-8?Q?" + std::string(40, 'a') + "?= =?UTF-8?Q?=C3=A9?="}),
    [](const auto& info) { return std::string(info.param.Name); });

// Every charset: no word beyond 75 characters, whatever width its characters have.
TEST(InlineEncoding, NoWordLongerThan75InAnyCharset) {
    const std::string text =
        Repeat("Concei\xC3\xA7\xC3\xA3o\xE2\x82\xAC", 30) + " " + Repeat("\xC3\xA7 ", 40);
    for (int c = 0; c < MimeCharCount; ++c) {
        const auto charset = static_cast<TMimeChar>(c);
        const std::string encoded = InlineEncode(text, CP1252, charset);
        std::size_t start = 0;
        while (start < encoded.size()) {
            const std::size_t end = std::min(encoded.find(' ', start), encoded.size());
            EXPECT_LE(end - start, 75u) << GetIDFromCP(charset) << ": " << encoded.substr(start, end - start);
            start = end + 1;
        }
    }
}

// Cut words decode back to the text, whether a word ends in a space or inside a run.
TEST(InlineEncoding, CutWordsDecodeBack) {
    const std::string text =
        Repeat("Concei\xC3\xA7\xC3\xA3o\xE2\x82\xAC", 30) + " e " + Repeat("\xC3\xA7", 70);
    for (TMimeChar charset : {UTF_8, CP1252, UTF_7, UCS_2, UTF_16})
        EXPECT_EQ(InlineDecode(InlineEncode(text, CP1252, charset), CP1252), text) << GetIDFromCP(charset);
    const std::string cjk = Repeat("\xE9\xA1\xA7\xE5\xAE\xA2\xF0\x9F\x98\x80", 30);
    EXPECT_EQ(InlineDecode(InlineEncode(cjk, CP1252, UTF_8), UTF_8), cjk);
}

struct AddressCase {
    const char* Name;
    std::string Value, Addr, Desc, Inline;
};
class AddressTable : public ::testing::TestWithParam<AddressCase> {};
TEST_P(AddressTable, SplitsAndEncodes) {
    const auto& c = GetParam();
    EXPECT_EQ(GetEmailAddr(c.Value), c.Addr);
    EXPECT_EQ(GetEmailDesc(c.Value), c.Desc);
    EXPECT_EQ(InlineEmailEx2(c.Value, CP1252, UTF_8), c.Inline);
}
INSTANTIATE_TEST_SUITE_P(
    InlineEncoding, AddressTable,
    ::testing::Values(AddressCase{"bare", "  ana@loja.com.br ", "ana@loja.com.br", "", "ana@loja.com.br"},
                      AddressCase{"name_and_brackets", "Ana Souza <ana@loja.com.br>", "ana@loja.com.br",
                                  "Ana Souza", "\"Ana Souza\" <ana@loja.com.br>"},
                      AddressCase{"quoted_name", "\"Souza, Ana\" <ana@x.br>", "ana@x.br", "Souza, Ana",
                                  "\"=?UTF-8?Q?Souza=2C_Ana?=\" <ana@x.br>"},
                      AddressCase{"accented_name", "Jo\xC3\xA3o <j@x.br>", "j@x.br", "Jo\xC3\xA3o",
                                  "\"=?UTF-8?Q?Jo=C3=A3o?=\" <j@x.br>"},
                      AddressCase{"brackets_only", "<a@b.c>", "a@b.c", "", "a@b.c"},
                      AddressCase{"blanks_in_brackets", "X < a@b.c >", "a@b.c", "X", "\"X\" <a@b.c>"},
                      AddressCase{"unclosed_bracket", "X <a@b.c", "a@b.c", "X", "\"X\" <a@b.c>"},
                      // RFC 5322, 3.2.4: in a quoted name a backslash escapes the next character, and
                      // nothing in the name ends it or adds an address; the name goes out encoded.
                      AddressCase{"escaped_quotes_in_name", "\"Loja \\\"Boa Vista\\\"\" <loja@x.br>",
                                  "loja@x.br", "Loja \"Boa Vista\"",
                                  "\"=?UTF-8?Q?Loja_=22Boa_Vista=22?=\" <loja@x.br>"},
                      AddressCase{"brackets_in_quoted_name", "\"Ana <chefe@x.br>\" <ana@x.br>", "ana@x.br",
                                  "Ana <chefe@x.br>", "\"=?UTF-8?Q?Ana_=3Cchefe=40x.br=3E?=\" <ana@x.br>"},
                      AddressCase{"escaped_backslash_in_name", "\"a\\\\b\" <a@x.br>", "a@x.br", "a\\b",
                                  "\"=?UTF-8?Q?a=5Cb?=\" <a@x.br>"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(InlineEncoding, CommentNameAndOpenQuote) {
    EXPECT_EQ(GetEmailDesc("a@b.c (Ana)"), "Ana");
    EXPECT_EQ(GetEmailDesc("\"Ana <a@b.c>"), "Ana <a@b.c>");
    EXPECT_EQ(GetEmailDesc(""), "");
}

struct DecodeCase {
    const char* Name;
    std::string Value;
    TMimeChar CP;
    std::string Expected;
};
class InlineDecodeTable : public ::testing::TestWithParam<DecodeCase> {};
TEST_P(InlineDecodeTable, GivesText) {
    EXPECT_EQ(InlineDecode(GetParam().Value, GetParam().CP), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(
    InlineEncoding, InlineDecodeTable,
    ::testing::Values(
        DecodeCase{"q_utf8", "=?UTF-8?Q?Jo=C3=A3o?=", CP1252, "Jo\xC3\xA3o"},
        DecodeCase{"b_latin1", "=?ISO-8859-1?B?Sm/jbw==?=", CP1252, "Jo\xC3\xA3o"},
        DecodeCase{"lower_case_q_underscore", "=?utf-8?q?a_b?=", CP1252, "a b"},
        DecodeCase{"blank_between_words_dropped", "=?UTF-8?Q?a?= \t =?UTF-8?Q?b?=", CP1252, "ab"},
        DecodeCase{"text_between_words_kept", "=?UTF-8?Q?a?= e =?UTF-8?Q?b?=", CP1252, "a e b"},
        DecodeCase{"text_around_kept", "Re: =?UTF-8?Q?a?= !", CP1252, "Re: a !"},
        DecodeCase{"language_suffix", "=?UTF-8*pt-BR?Q?=C3=A7?=", CP1252, "\xC3\xA7"},
        DecodeCase{"euro_through_cp1252", "=?UTF-8?Q?=E2=82=AC?=", CP1252, "\xE2\x82\xAC"},
        DecodeCase{"into_utf8", "=?ISO-8859-1?Q?Jo=E3o?=", UTF_8, "Jo\xC3\xA3o"},
        DecodeCase{"unknown_charset_is_latin1", "=?x-unknown?Q?=E3?=", CP1252, "\xC3\xA3"},
        DecodeCase{"no_end_runs_to_end", "=?UTF-8?Q?abc", CP1252, "abc"},
        DecodeCase{"broken_kind", "=?UTF-8?X?abc?=", CP1252, "=?UTF-8?X?abc?="},
        DecodeCase{"broken_short", "a =?UTF-8?", CP1252, "a =?UTF-8?"},
        DecodeCase{"broken_then_good", "=?=?UTF-8?Q?a?=", CP1252, "=?a"},
        DecodeCase{"question_mark_inside_text", "=?UTF-8?Q?a?b?=", CP1252, "a?b"},
        DecodeCase{"plain_unicode_kept", "Jo\xC3\xA3o \xC5\x82", CP1252, "Jo\xC3\xA3o \xC5\x82"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(InlineEncoding, SearchEndInlineFindsEndAfterThirdQuestionMark) {
    EXPECT_EQ(SearchEndInline("=?a?Q?x?=", 0), 7u);
    EXPECT_EQ(SearchEndInline("xx=?a?Q?"
                              "?=",
                              2),
              8u);
    EXPECT_EQ(SearchEndInline("=?a?Q", 0), std::string_view::npos);
    EXPECT_EQ(SearchEndInline("=?a?Q?x", 0), std::string_view::npos);
}

TEST(InlineEncoding, EncodedTextDecodesBack) {
    for (const std::string text :
         {"Cadastro: Jo\xC3\xA3o da Concei\xC3\xA7\xC3\xA3o", "  dois  espa\xC3\xA7os  ",
          "a_b=c?d \"e\" (f) <g>",
          "Cadastro de cliente numero 0001 efetuado com sucesso em S\xC3\xA3o Paulo, \xE2\x82\xAC 10,00"}) {
        const std::string encoded = InlineCodeEx2(text, CP1252, UTF_8);
        EXPECT_NE(encoded, text);
        EXPECT_EQ(InlineDecode(encoded, CP1252), text) << encoded;
        EXPECT_EQ(InlineDecode(InlineCodeEx2(text, CP1252, ISO_8859_15), CP1252), text);
    }
}

// Subjects, display names and file names of every shape, composed into a message and
// read back by Python's email package with policy.strict and compat32: the text that
// went in comes out, no encoded word is longer than 75 characters and no line longer
// than 998.

struct TextCase {
    const char* Name;
    std::string Text;
    // Whether Windows-1252 holds the text: the mail component names its attachments
    // in that charset, so those file names are tried that way too.
    bool InWindows1252;
    friend void PrintTo(const TextCase& C, std::ostream* Os) { *Os << C.Name; }
};

const std::vector<TextCase>& Cases() {
    static const std::vector<TextCase> cases{
        {"short_plain", "Dados Cadastrais do Cliente", true},
        {"short_accented", "Relat\xC3\xB3rio de Jos\xC3\xA9: a\xC3\xA7\xC3\xA3o, \xE2\x82\xAC 10", true},
        // One encoded word of exactly 75 characters, and one character more.
        {"word_of_75", std::string(57, 'a') + "\xC3\xA9", true},
        {"word_of_76", std::string(58, 'a') + "\xC3\xA9", true},
        {"long_with_spaces",
         Repeat("Cadastro de Jo\xC3\xA3o Concei\xC3\xA7\xC3\xA3o em S\xC3\xA3o Paulo ", 5) + "fim", true},
        {"long_accented_without_spaces", Repeat("a\xC3\xA7\xC3\xA3o", 100), true},
        {"long_plain_without_spaces", std::string(2000, 'x'), true},
        {"short_cjk", "\xE9\xA1\xA7\xE5\xAE\xA2\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF", false},
        {"long_cjk", Repeat("\xE9\xA1\xA7\xE5\xAE\xA2\xE7\x99\xBB\xE9\x8C\xB2", 40), false},
        {"cjk_with_spaces", Repeat("\xE9\xA1\xA7\xE5\xAE\xA2 \xE7\x99\xBB\xE9\x8C\xB2 ", 20) + "fim", false},
    };
    return cases;
}

// The message the mail component would build around Text: as subject, as the
// sender's display name and as file names.
std::vector<std::string> ComposedAround(const TextCase& Case) {
    TMimeMess mess;
    TMessHeader& header = mess.Header();
    header.SetCharsetCode(UTF_8);
    header.SetTargetCharset(CP1252);
    header.SetFrom(Case.Text + " <loja@example.com>");
    header.ToList() = {"cliente@example.com"};
    header.SetSubject(Case.Text);
    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    mess.AddPartTextEx({"Dados do cliente"}, &root, UTF_8, false, TMimeEncoding::ME_BASE64);
    const auto attach = [&](const std::string& FileName, TMimeChar Charset) {
        TMimePart& part = mess.AddPartBinary("<cliente/>", FileName, &root);
        part.SetCharsetCode(Charset);
        part.SetTargetCharset(CP1252);
        part.EncodePartHeader();
    };
    attach(Case.Text + ".pdf", UTF_8);
    if (Case.InWindows1252) attach(Case.Text + ".xml", CP1252);
    mess.EncodeMessage();
    return mess.Lines();
}

std::string ExpectedReading(const TextCase& Case) {
    std::string out;
    for (const char* policy : {"strict", "compat32"}) {
        const std::string p = policy;
        out += p + " subject: " + Case.Text + "\n";
        out += p + " name: " + Case.Text + "\n";
        out += p + " file: " + Case.Text + ".pdf\n";
        if (Case.InWindows1252) out += p + " file: " + Case.Text + ".xml\n";
    }
    return out;
}

class HeaderTextsReadByPython : public ::testing::TestWithParam<TextCase> {};

TEST_P(HeaderTextsReadByPython, KeepTheTextWithinTheLimits) {
    if (!std::filesystem::exists(TANDREL_PYTHON))
        GTEST_SKIP() << "no " << TANDREL_PYTHON << " on this machine";
    const std::vector<std::string> lines = ComposedAround(GetParam());

    static const std::regex encodedWord(R"(=\?[^?\s]+\?[QqBb]\?[^?\s]*\?=)");
    std::string wire;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 998u) << line.substr(0, 80);
        for (std::sregex_iterator w(line.begin(), line.end(), encodedWord), end; w != end; ++w)
            EXPECT_LE(w->length(), 75) << w->str();
        wire += line + "\r\n";
    }

    const testing::TempDir folder;
    const std::string file = folder.Write("message.eml", wire);
    const std::string script = std::string(TANDREL_SOURCE_DIR) + "/mime/tests/read_header_texts.py";
    testing::ChildProcess python({TANDREL_PYTHON, script, file}, {.MergeStderr = true});
    EXPECT_EQ(python.Wait(), 0);
    EXPECT_EQ(python.Output(), ExpectedReading(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(InlineEncoding, HeaderTextsReadByPython, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tandrel::mime
