#include "mail/detail/MailAddress.h"

#include <gtest/gtest.h>

#include <string>

namespace tandrel::mail {
namespace {

struct EntryCase {
    const char* name;
    const char* entry;
    const char* address;   // ExtractAddress of the entry
    const char* expected;  // EntryWithAsciiDomain of the entry
};

class EntryWithAsciiDomainTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryWithAsciiDomainTest, WritesTheDomainAsAnALabelAndKeepsTheRest) {
    const auto& c = GetParam();
    EXPECT_EQ(ExtractAddress(c.entry), c.address);
    EXPECT_EQ(EntryWithAsciiDomain(c.entry), c.expected);
    // What the envelope gets from the entry is what the header shows of it.
    EXPECT_EQ(WithAsciiDomain(ExtractAddress(c.entry)), ExtractAddress(c.expected));
}

// The A-labels are those of IDNA2008 (Python's IDNA2003 codec agrees for "açaí" and
// maps "straße" to "strasse" instead).
INSTANTIATE_TEST_SUITE_P(
    Table, EntryWithAsciiDomainTest,
    ::testing::Values(
        EntryCase{"ascii_unchanged", "cliente@example.com", "cliente@example.com", "cliente@example.com"},
        EntryCase{"ascii_with_blanks_unchanged", "  cliente@Example.COM ", "cliente@Example.COM",
                  "  cliente@Example.COM "},
        EntryCase{"accented_domain", "josé@açaí.com.br", "josé@açaí.com.br", "josé@xn--aa-4iaz.com.br"},
        EntryCase{"upper_case_domain_mapped", "jose@AÇAÍ.COM.BR", "jose@AÇAÍ.COM.BR",
                  "jose@xn--aa-4iaz.com.br"},
        EntryCase{"decomposed_letters_composed", "jose@ac\u0327ai\u0301.com.br",
                  "jose@ac\u0327ai\u0301.com.br", "jose@xn--aa-4iaz.com.br"},
        EntryCase{"sharp_s_not_turned_into_ss", "ana@straße.de", "ana@straße.de", "ana@xn--strae-oqa.de"},
        EntryCase{"non_ascii_local_part_kept", "joão@exemplo.com.br", "joão@exemplo.com.br",
                  "joão@exemplo.com.br"},
        EntryCase{"already_an_a_label", "a@xn--aa-4iaz.com.br", "a@xn--aa-4iaz.com.br",
                  "a@xn--aa-4iaz.com.br"},
        EntryCase{"named_entry", "\"José\" <josé@açaí.com.br>", "josé@açaí.com.br",
                  "\"José\" <josé@xn--aa-4iaz.com.br>"},
        EntryCase{"name_is_the_address", "\"josé@açaí.com.br\" <josé@açaí.com.br>", "josé@açaí.com.br",
                  "\"josé@açaí.com.br\" <josé@xn--aa-4iaz.com.br>"},
        // A "<" inside the quoted display name is the name's, not the address's.
        EntryCase{"bracket_in_quoted_name", "\"Ana <chefe@x.br>\" <ana@açaí.com.br>", "ana@açaí.com.br",
                  "\"Ana <chefe@x.br>\" <ana@xn--aa-4iaz.com.br>"},
        EntryCase{"escaped_quote_in_name", "\"Loja \\\"<x@y>\" <a@açaí.br>", "a@açaí.br",
                  "\"Loja \\\"<x@y>\" <a@xn--aa-4iaz.br>"},
        EntryCase{"blanks_inside_brackets_kept", "Ana < ana@straße.de > x", "ana@straße.de",
                  "Ana < ana@xn--strae-oqa.de > x"},
        EntryCase{"last_at_starts_the_domain", "\"a@b\"@açaí.br", "\"a@b\"@açaí.br",
                  "\"a@b\"@xn--aa-4iaz.br"},
        EntryCase{"cjk_domain", "li@例子.中国", "li@例子.中国", "li@xn--fsqu00a.xn--fiqs8s"},
        EntryCase{"no_at_unchanged", "joão", "joão", "joão"},
        EntryCase{"domain_with_blank_kept", "a@aç aí.br", "a@aç aí.br", "a@aç aí.br"},
        EntryCase{"disallowed_symbol_kept", "a@\u2665.com", "a@\u2665.com", "a@\u2665.com"},
        EntryCase{"empty", "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AddressDomainTest, IsTheTextAfterTheLastAt) {
    EXPECT_EQ(AddressDomain("a@b@c.example"), "c.example");
    EXPECT_EQ(AddressDomain("a@"), "");
    EXPECT_EQ(AddressDomain("nobody"), "");
}

}  // namespace
}  // namespace tandrel::mail
