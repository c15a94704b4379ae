#include "mime/MailDate.h"
#include "testing/ScopedTimeZone.h"

#include <gtest/gtest.h>

#include <string>

namespace tandrel::mime {
namespace {

using testing::ScopedTimeZone;

class MailDateInBrazil : public ::testing::Test {
protected:
    ScopedTimeZone FZone{"<-03>3"};
};

TEST_F(MailDateInBrazil, WritesEnglishDateWithCurrentZone) {
    EXPECT_EQ(TimeZoneBias(), -180);
    EXPECT_EQ(TimeZone(), "-0300");
    EXPECT_EQ(Rfc822DateTime(EncodeDateTime(2026, 12, 9, 1, 23, 45)), "Wed, 9 Dec 2026 01:23:45 -0300");
    EXPECT_EQ(Rfc822DateTime(EncodeDateTime(2024, 2, 29, 23, 5, 0)), "Thu, 29 Feb 2024 23:05:00 -0300");
    EXPECT_EQ(Rfc822DateTime(EncodeDateTime(2027, 1, 3)), "Sun, 3 Jan 2027 00:00:00 -0300");
}

TEST(MailDate, ZoneTextForEastAndZero) {
    {
        ScopedTimeZone utc("UTC0");
        EXPECT_EQ(TimeZone(), "+0000");
    }
    ScopedTimeZone india("<+0530>-5:30");
    EXPECT_EQ(TimeZoneBias(), 330);
    EXPECT_EQ(TimeZone(), "+0530");
}

struct DecodeCase {
    const char* Name;
    std::string Value;
    int Y, Mo, D, H, Mi, S;
};

class DecodeRfcDateTimeTable : public ::testing::TestWithParam<DecodeCase> {
protected:
    ScopedTimeZone FZone{"<-03>3"};
};

TEST_P(DecodeRfcDateTimeTable, GivesLocalTime) {
    const auto& c = GetParam();
    EXPECT_EQ(Rfc822DateTime(DecodeRfcDateTime(c.Value)),
              Rfc822DateTime(EncodeDateTime(c.Y, c.Mo, c.D, c.H, c.Mi, c.S)));
}

INSTANTIATE_TEST_SUITE_P(
    MailDate, DecodeRfcDateTimeTable,
    ::testing::Values(
        DecodeCase{"own_form", "Wed, 9 Dec 2026 01:23:45 -0300", 2026, 12, 9, 1, 23, 45},
        DecodeCase{"utc_to_local", "Wed, 9 Dec 2026 04:23:45 +0000", 2026, 12, 9, 1, 23, 45},
        DecodeCase{"east_zone_previous_day", "Wed, 9 Dec 2026 02:00:00 +0530", 2026, 12, 8, 17, 30, 0},
        DecodeCase{"zone_name", "9 Dec 2026 04:23:45 GMT", 2026, 12, 9, 1, 23, 45},
        DecodeCase{"zone_name_us", "9 Dec 2026 04:23:45 EST", 2026, 12, 9, 6, 23, 45},
        DecodeCase{"any_order", "Dec 9 04:23:45 2026 UT", 2026, 12, 9, 1, 23, 45},
        DecodeCase{"dashes_two_digit_year", "09-Dec-26 01:23:45 -0000", 2026, 12, 9, 1, 23, 45},
        DecodeCase{"year_below_1000", "1 Jan 99 00:00:00 -0300", 1999, 1, 1, 0, 0, 0},
        DecodeCase{"day_capped", "31 Feb 2026 10:00:00 -0300", 2026, 2, 28, 10, 0, 0},
        DecodeCase{"empty", "", 1980, 1, 1, 0, 0, 0},
        DecodeCase{"garbage", "\xFF\xFE zz ::: 0", 1980, 1, 1, 0, 0, 0},
        DecodeCase{"no_zone_is_local", "5 May 2026 12:00:00", 2026, 5, 5, 12, 0, 0},
        DecodeCase{"seconds_cut", "9 Dec 2026 01:23:456 -0300", 2026, 12, 9, 1, 23, 45},
        DecodeCase{"no_seconds", "9 Dec 2026 01:23 -0300", 2026, 12, 9, 1, 23, 0},
        DecodeCase{"no_seconds_utc", "Wed, 9 Dec 2026 4:23 +0000", 2026, 12, 9, 1, 23, 0},
        DecodeCase{"one_colon_not_a_time", "9 Dec 2026 x:23 -0300", 2026, 12, 9, 0, 0, 0},
        DecodeCase{"dst_adds_hour", "9 Dec 2026 01:23:45 -0400 DST", 2026, 12, 9, 1, 23, 45},
        DecodeCase{"comment_ignored", "Wed, 9 Dec 2026 01:23:45 -0300 (BRT)", 2026, 12, 9, 1, 23, 45},
        // A date folded with a tab keeps the tab when unfolded.
        DecodeCase{"tab_between_fields", "Wed, 9 Dec 2026\t01:23:45\t-0300", 2026, 12, 9, 1, 23, 45},
        DecodeCase{"german", "9 Okt 2026 10:00:00 -0300", 2026, 10, 9, 10, 0, 0},
        DecodeCase{"german_umlaut", "9 M\xC3\xA4r 2026", 2026, 3, 9, 0, 0, 0},
        DecodeCase{"french_upper_accent",
                   "9 D\xC3\x89"
                   "C 2026",
                   2026, 12, 9, 0, 0, 0},
        DecodeCase{"french_plain", "9 aou 2026", 2026, 8, 9, 0, 0, 0},
        DecodeCase{"czech_stored_form", "9 \xC3\x9Ano 2026", 2026, 2, 9, 0, 0, 0},
        DecodeCase{"lower_case_english", "9 dec 2026", 2026, 12, 9, 0, 0, 0},
        DecodeCase{"huge_numbers", "99999999999999 99999999999 Dec", 9999, 12, 1, 0, 0, 0},
        DecodeCase{"zone_beyond_2262", "31 Dec 9999 23:00:00 +0000", 9999, 12, 31, 20, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(MailDateInBrazil, WrittenDateReadsBack) {
    const TDateTime now = Now();
    EXPECT_NE(now, TDateTime{});
    EXPECT_EQ(DecodeRfcDateTime(Rfc822DateTime(now)), std::chrono::floor<std::chrono::seconds>(now));
    const TDateTime fixed = EncodeDateTime(2031, 7, 14, 18, 0, 59);
    EXPECT_EQ(DecodeRfcDateTime(Rfc822DateTime(fixed)), fixed);
}

}  // namespace
}  // namespace tandrel::mime
