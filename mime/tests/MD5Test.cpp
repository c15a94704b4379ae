#include "mime/MD5.h"
#include "support/Codings.h"

#include <gtest/gtest.h>

namespace tandrel::mime {
namespace {

struct DigestCase {
    const char* Name;
    std::string Value;
    const char* Hex;
};

class MD5Vectors : public ::testing::TestWithParam<DigestCase> {};
TEST_P(MD5Vectors, MatchesRfc1321Suite) {
    EXPECT_EQ(support::StrToHex(MD5(GetParam().Value)), GetParam().Hex);
}
INSTANTIATE_TEST_SUITE_P(
    MD5, MD5Vectors,
    ::testing::Values(
        DigestCase{"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        DigestCase{"a", "a", "0cc175b9c0f1b6a831c399e269772661"},
        DigestCase{"abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        DigestCase{"message_digest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        DigestCase{"alphabet", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        DigestCase{"alnum", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                   "d174ab98d277d9f5a5611c2c9f419d9f"},
        DigestCase{"digits80",
                   "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
                   "57edf4a22be3c955ac49da2e2107b67a"},
        DigestCase{"exactly_56", std::string(56, 'x'), "668a72d5ba17f08e62dabcafad6db14b"},
        DigestCase{"exactly_64", std::string(64, 'x'), "c1bb4f81d892b2d57947682aeb252456"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct HmacCase {
    const char* Name;
    std::string Text, Key;
    const char* Hex;
};

class HmacVectors : public ::testing::TestWithParam<HmacCase> {};
TEST_P(HmacVectors, MatchesRfc2104And2202) {
    EXPECT_EQ(support::StrToHex(HMAC_MD5(GetParam().Text, GetParam().Key)), GetParam().Hex);
}
INSTANTIATE_TEST_SUITE_P(
    MD5, HmacVectors,
    ::testing::Values(
        HmacCase{"key_0b", "Hi There", std::string(16, '\x0b'), "9294727a3638bb1c13f48ef8158bfc9d"},
        HmacCase{"jefe", "what do ya want for nothing?", "Jefe", "750c783e6ab0b503eaa86e310a5db738"},
        HmacCase{"key_aa", std::string(50, '\xdd'), std::string(16, '\xaa'),
                 "56be34521d144c88dbb8c733f0e8b3f6"},
        HmacCase{"long_key", "Test Using Larger Than Block-Size Key - Hash Key First",
                 std::string(80, '\xaa'), "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        HmacCase{"cram_md5_rfc2195", "<1896.697170952@postoffice.reston.mci.net>", "tanstaaftanstaaf",
                 "b913a602c7eda7a495b4e6e7334d3890"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tandrel::mime
