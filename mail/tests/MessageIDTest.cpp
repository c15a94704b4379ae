#include "mail/detail/MessageID.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

namespace tandrel::mail {
namespace {

struct DomainCase {
    const char* name;
    const char* sender;
    const char* host;
    const char* expected;
};

class MessageIDDomainTest : public ::testing::TestWithParam<DomainCase> {};

TEST_P(MessageIDDomainTest, TakesTheFirstUsableDomain) {
    const auto& c = GetParam();
    EXPECT_EQ(MessageIDDomain(c.sender, c.host), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageIDDomainTest,
    ::testing::Values(DomainCase{"sender_domain", "loja.example", "host", "loja.example"},
                      DomainCase{"a_label", "xn--aa-4iaz.com.br", "host", "xn--aa-4iaz.com.br"},
                      DomainCase{"domain_literal", "[192.0.2.1]", "host", "[192.0.2.1]"},
                      DomainCase{"no_sender_domain_takes_host", "", "caixa-1", "caixa-1"},
                      DomainCase{"blank_in_domain_takes_host", "lo ja.example", "caixa", "caixa"},
                      DomainCase{"non_ascii_takes_host", "açaí.br", "caixa", "caixa"},
                      DomainCase{"angle_bracket_takes_host", "x.example>", "caixa", "caixa"},
                      DomainCase{"empty_label_takes_host", "loja..example", "caixa", "caixa"},
                      DomainCase{"trailing_dot_takes_host", "loja.", "caixa", "caixa"},
                      DomainCase{"broken_literal_takes_host", "[1.2.3.4", "caixa", "caixa"},
                      DomainCase{"neither_gives_localhost", "", "máquina", "localhost"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UniqueMessageIDTest, Is128RandomBitsAtTheDomainAndNeverRepeats) {
    const std::regex shape("[0-9a-f]{32}@loja\\.example");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = UniqueMessageID("loja.example");
        ASSERT_TRUE(std::regex_match(id, shape)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace tandrel::mail
