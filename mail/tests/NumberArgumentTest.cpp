#include "mail/tools/NumberArgument.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace tandrel::mail::tool {
namespace {

struct NumberCase {
    const char* name;
    std::string text;
    std::optional<int> value;  // nothing: refused
};

void PrintTo(const NumberCase& C, std::ostream* Os) { *Os << C.name; }

class NumberArgumentTest : public ::testing::TestWithParam<NumberCase> {};

// The range of --port: 1 to 65535.
TEST_P(NumberArgumentTest, TakesDigitsWithinTheRangeOnly) {
    EXPECT_EQ(ParseNumberArgument(GetParam().text, 1, 65535), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumberArgumentTest,
    ::testing::Values(
        NumberCase{"plain", "25", 25}, NumberCase{"lowest", "1", 1}, NumberCase{"highest", "65535", 65535},
        NumberCase{"leading_zero", "025", 25}, NumberCase{"empty", "", std::nullopt},
        NumberCase{"leading_space", " 25", std::nullopt}, NumberCase{"trailing_space", "25 ", std::nullopt},
        NumberCase{"plus_sign", "+25", std::nullopt}, NumberCase{"minus_sign", "-25", std::nullopt},
        NumberCase{"trailing_letters", "25x", std::nullopt}, NumberCase{"hexadecimal", "0x19", std::nullopt},
        NumberCase{"decimal_point", "25.0", std::nullopt}, NumberCase{"below_range", "0", std::nullopt},
        NumberCase{"above_range", "65536", std::nullopt},
        NumberCase{"beyond_int", "99999999999999999999", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::mail::tool
