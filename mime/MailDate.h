#pragma once
// The mail date text: writing it for the Date line and reading it back.

#include <chrono>
#include <string>
#include <string_view>

namespace tandrel::mime {

/// A local (wall-clock) date and time with millisecond resolution. The
/// default value, TDateTime{} (1970-01-01 00:00:00.000), is the zero value that
/// means "not set".
using TDateTime = std::chrono::local_time<std::chrono::milliseconds>;

/// The current local date and time.
TDateTime Now();
/// The local date-time of the given calendar fields (month 1-12, day 1-31);
/// out-of-range fields roll over as in calendar arithmetic.
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour = 0, int Minute = 0, int Second = 0);

/// The current offset of local time from UTC in minutes, east positive.
int TimeZoneBias();
/// TimeZoneBias as text: a sign ("+" for zero) and four digits, e.g. "-0300".
std::string TimeZone();
/// The mail date text of a local date-time with the current zone, in English
/// whatever the locale: "Wed, 9 Dec 2026 01:23:45 -0300".
std::string Rfc822DateTime(TDateTime Date);
/// The local date-time of a mail date text. Words may come in any order;
/// missing parts default to 1980-01-01 00:00:00, a day beyond the month's end
/// is capped, a stated zone is converted to local time. Never fails.
TDateTime DecodeRfcDateTime(std::string_view Value);

}  // namespace tandrel::mime
