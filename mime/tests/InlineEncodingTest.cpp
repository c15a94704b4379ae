#include "mime/InlineEncoding.h"

#include <gtest/gtest.h>

namespace tandrel::mime {
namespace {

using enum TMimeChar;

struct NeedCase {
    const char* Name;
    std::string Bytes;
    bool Expected;
};
class NeedInlineTable : public ::testing::TestWithParam<NeedCase> {};
TEST_P(NeedInlineTable, Decides) { EXPECT_EQ(NeedInline(GetParam().Bytes), GetParam().Expected); }
INSTANTIATE_TEST_SUITE_P(
    InlineEncoding, NeedInlineTable,
    ::testing::Values(NeedCase{"plain_words", "Cadastro de cliente", false}, NeedCase{"underscore", "a_b", false},
                      NeedCase{"dot_dash", "Re: x", true}, NeedCase{"comma", "a,b", true},
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
        EncodeCase{"long_breaks_after_33",
                   "Cadastro de cliente numero 0001 efetuado com sucesso: Jo\xC3\xA3o",
                   "=?UTF-8?Q?Cadastro_de_cliente_numero_0001_efetuado_?= =?UTF-8?Q?com_sucesso=3A_Jo=C3=A3o?="},
        EncodeCase{"run_without_spaces_one_word", "\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7",
                   "=?UTF-8?Q?=C3=A7=C3=A7=C3=A7=C3=A7=C3=A7=C3=A7=C3=A7?="},
        EncodeCase{"euro", "\xE2\x82\xAC 5", "=?UTF-8?Q?=E2=82=AC_5?="},
        EncodeCase{"underscore_escaped_once_encoding", "a_b: c", "=?UTF-8?Q?a=5Fb=3A_c?="}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(InlineEncoding, EncodeNamesTargetCharset) {
    EXPECT_EQ(InlineEncode("Jo\xC3\xA3o", CP1252, ISO_8859_1), "=?ISO-8859-1?Q?Jo=E3o?=");
    EXPECT_EQ(InlineEncode("", CP1252, UTF_8), "");
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
    ::testing::Values(
        AddressCase{"bare", "  ana@loja.com.br ", "ana@loja.com.br", "", "ana@loja.com.br"},
        AddressCase{"name_and_brackets", "Ana Souza <ana@loja.com.br>", "ana@loja.com.br", "Ana Souza",
                    "\"Ana Souza\" <ana@loja.com.br>"},
        AddressCase{"quoted_name", "\"Souza, Ana\" <ana@x.br>", "ana@x.br", "Souza, Ana",
                    "\"=?UTF-8?Q?Souza=2C_Ana?=\" <ana@x.br>"},
        AddressCase{"accented_name", "Jo\xC3\xA3o <j@x.br>", "j@x.br", "Jo\xC3\xA3o", "\"=?UTF-8?Q?Jo=C3=A3o?=\" <j@x.br>"},
        AddressCase{"brackets_only", "<a@b.c>", "a@b.c", "", "a@b.c"},
        AddressCase{"blanks_in_brackets", "X < a@b.c >", "a@b.c", "X", "\"X\" <a@b.c>"},
        AddressCase{"unclosed_bracket", "X <a@b.c", "a@b.c", "X", "\"X\" <a@b.c>"}),
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
TEST_P(InlineDecodeTable, GivesText) { EXPECT_EQ(InlineDecode(GetParam().Value, GetParam().CP), GetParam().Expected); }
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
    EXPECT_EQ(SearchEndInline("xx=?a?Q?" "?=", 2), 8u);
    EXPECT_EQ(SearchEndInline("=?a?Q", 0), std::string_view::npos);
    EXPECT_EQ(SearchEndInline("=?a?Q?x", 0), std::string_view::npos);
}

TEST(InlineEncoding, EncodedTextDecodesBack) {
    for (const std::string text :
         {"Cadastro: Jo\xC3\xA3o da Concei\xC3\xA7\xC3\xA3o", "  dois  espa\xC3\xA7os  ", "a_b=c?d \"e\" (f) <g>",
          "Cadastro de cliente numero 0001 efetuado com sucesso em S\xC3\xA3o Paulo, \xE2\x82\xAC 10,00"}) {
        const std::string encoded = InlineCodeEx2(text, CP1252, UTF_8);
        EXPECT_NE(encoded, text);
        EXPECT_EQ(InlineDecode(encoded, CP1252), text) << encoded;
        EXPECT_EQ(InlineDecode(InlineCodeEx2(text, CP1252, ISO_8859_15), CP1252), text);
    }
}

}  // namespace
}  // namespace tandrel::mime
