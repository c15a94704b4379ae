#include "mime/MailDate.h"

#include "support/SystemCodePage.h"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

namespace tandrel::mime {
namespace {

using namespace std::chrono;

constexpr std::array<const char*, 7> MyDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

using TMonthRow = std::array<std::string, 12>;

// Rows of month names read from dates. Row 0 is the user's locale; row 1 is
// the one used when writing; the Czech row keeps the form it is stored in.
const std::vector<TMonthRow>& MyMonthNames() {
    static const std::vector<TMonthRow> rows = [] {
        std::vector<TMonthRow> r(7);
        r[1] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        r[0] = r[1];
        if (locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0))) {
            for (int m = 0; m < 12; ++m)
                if (const char* name = ::nl_langinfo_l(static_cast<nl_item>(ABMON_1 + m), loc); name && *name)
                    r[0][static_cast<std::size_t>(m)] = name;
            ::freelocale(loc);
        }
        r[2] = {"jan",
                "f\xC3\xA9v",
                "mar",
                "avr",
                "mai",
                "jun",
                "jul",
                "ao\xC3\xBB",
                "sep",
                "oct",
                "nov",
                "d\xC3\xA9"
                "c"};
        r[3] = {"jan", "fev", "mar", "avr", "mai", "jun", "jul", "aou", "sep", "oct", "nov", "dec"};
        r[4] = {"Jan", "Feb", "Mar", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
        r[5] = {"Jan", "Feb", "M\xC3\xA4r", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
        r[6] = {"Led",
                "\xC3\x9Ano",
                "B\xC3\xB8"
                "e",
                "Dub",
                "Kv\xC3\xAC",
                "\xC3\x88"
                "en",
                "\xC3\x88"
                "ec",
                "Srp",
                "Z\xC3\xA1\xC3\xB8",
                "\xC3\x98\xC3\xADj",
                "Lis",
                "Pro"};
        return r;
    }();
    return rows;
}

// Case folding over the system code page, so accented capitals match too.
std::string Folded(std::string_view Text) {
    std::string s = support::AnsiFromText(Text);
    for (char& c : s) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7)) c = static_cast<char>(b + 32);
    }
    return s;
}

int GetMonthNumber(std::string_view Word) {
    const std::string w = Folded(Word);
    for (const TMonthRow& row : MyMonthNames())
        for (std::size_t m = 0; m < row.size(); ++m)
            if (Folded(row[m]) == w) return static_cast<int>(m) + 1;
    return 0;
}

struct TZoneName {
    const char* Name;
    int Minutes;
};

constexpr TZoneName kZones[] = {
    {"UT", 0},     {"UTC", 0},    {"GMT", 0},    {"Z", 0},       {"WET", 0},     {"WEST", 60},
    {"BST", 60},   {"CET", 60},   {"MET", 60},   {"CEST", 120},  {"MEST", 120},  {"EET", 120},
    {"EEST", 180}, {"MSK", 180},  {"IST", 330},  {"JST", 540},   {"AEST", 600},  {"AEDT", 660},
    {"NZST", 720}, {"NZDT", 780}, {"BRT", -180}, {"BRST", -120}, {"ART", -180},  {"AST", -240},
    {"ADT", -180}, {"EST", -300}, {"EDT", -240}, {"CST", -360},  {"CDT", -300},  {"MST", -420},
    {"MDT", -360}, {"PST", -480}, {"PDT", -420}, {"AKST", -540}, {"AKDT", -480}, {"HST", -600},
};

bool AllDigits(std::string_view S) {
    if (S.empty()) return false;
    for (char c : S)
        if (c < '0' || c > '9') return false;
    return true;
}

// Leading digits as a number, capped so that no word can overflow the arithmetic.
long Number(std::string_view S) {
    long v = 0;
    for (char c : S) {
        if (c < '0' || c > '9') break;
        v = std::min(v * 10 + (c - '0'), 100'000'000L);
    }
    return v;
}

// What a word says about the zone.
struct TZoneWord {
    enum { NotZone, Local, Offset } Kind = NotZone;
    int Minutes = 0;  // east of UTC, for Offset
};

// "-0000" (no zone information) means local time, like no zone at all.
TZoneWord DecodeTimeZone(std::string_view Word) {
    if (Word.size() == 5 && (Word[0] == '+' || Word[0] == '-') && AllDigits(Word.substr(1))) {
        if (Word == "-0000") return {TZoneWord::Local};
        const long v = Number(Word.substr(1));
        const int minutes = static_cast<int>(v / 100 * 60 + v % 100);
        return {TZoneWord::Offset, Word[0] == '-' ? -minutes : minutes};
    }
    for (const TZoneName& z : kZones) {
        const std::string_view n = z.Name;
        if (n.size() == Word.size() &&
            std::equal(n.begin(), n.end(), Word.begin(), [](char A, char B) { return A == (B & ~0x20); }))
            return {TZoneWord::Offset, z.Minutes};
    }
    return {};
}

struct TClock {
    long Hour = 0, Minute = 0, Second = 0;
};

bool IsClockField(std::string_view S) { return !S.empty() && S.size() <= 2 && AllDigits(S); }

// "hh:mm:ss", or "hh:mm" as RFC 5322 allows (seconds are optional there).
std::optional<TClock> GetTimeFromStr(std::string_view Word) {
    const std::size_t c1 = Word.find(':');
    if (c1 == std::string_view::npos) return std::nullopt;
    const std::size_t c2 = Word.find(':', c1 + 1);
    if (c2 == std::string_view::npos) {
        const std::string_view h = Word.substr(0, c1), m = Word.substr(c1 + 1);
        if (!IsClockField(h) || !IsClockField(m)) return std::nullopt;
        return TClock{Number(h), Number(m), 0};
    }
    if (Word.find(':', c2 + 1) != std::string_view::npos) return std::nullopt;
    return TClock{Number(Word.substr(0, c1)), Number(Word.substr(c1 + 1, c2 - c1 - 1)),
                  Number(Word.substr(c2 + 1, 2))};
}

tm LocalTm(time_t T) {
    tm out{};
    ::localtime_r(&T, &out);
    return out;
}

}  // namespace

TDateTime Now() {
    const auto now = time_point_cast<milliseconds>(system_clock::now());
    const tm local = LocalTm(system_clock::to_time_t(now));
    return TDateTime{now.time_since_epoch() + seconds{local.tm_gmtoff}};
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second) {
    const auto ym = year{Year} / month{1} + months{Month - 1};
    const local_days d{local_days{ym / day{1}} + days{Day - 1}};
    return TDateTime{d} + hours{Hour} + minutes{Minute} + seconds{Second};
}

int TimeZoneBias() { return static_cast<int>(LocalTm(std::time(nullptr)).tm_gmtoff / 60); }

std::string TimeZone() {
    const int bias = TimeZoneBias();
    const int a = bias < 0 ? -bias : bias;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%c%02d%02d", bias < 0 ? '-' : '+', a / 60 % 100, a % 60);
    return buf;
}

std::string Rfc822DateTime(TDateTime Date) {
    static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto dayPoint = floor<days>(Date);
    const year_month_day ymd{dayPoint};
    const weekday wd{dayPoint};
    const hh_mm_ss<milliseconds> t{Date - dayPoint};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %u %s %04d %02ld:%02ld:%02ld ", MyDayNames[wd.c_encoding()],
                  static_cast<unsigned>(ymd.day()), kMonths[static_cast<unsigned>(ymd.month()) - 1],
                  static_cast<int>(ymd.year()), static_cast<long>(t.hours().count()),
                  static_cast<long>(t.minutes().count()), static_cast<long>(t.seconds().count()));
    return buf + TimeZone();
}

TDateTime DecodeRfcDateTime(std::string_view Value) {
    // "-" separates date fields, except in front of a numeric zone (" -0300"); a tab
    // (left by unfolding a folded date) separates them as a space does.
    std::string text;
    text.reserve(Value.size());
    for (std::size_t i = 0; i < Value.size(); ++i) {
        const bool zoneSign = Value[i] == '-' && i > 0 && text.back() == ' ';
        text.push_back((Value[i] == '-' && !zoneSign) || Value[i] == '\t' ? ' ' : Value[i]);
    }

    long y = 0, mon = 0, d = 0;
    TClock clock;
    std::optional<int> zone;
    int dst = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find(' ', pos), text.size());
        const std::string_view word = std::string_view(text).substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) continue;
        if (const TZoneWord z = DecodeTimeZone(word); z.Kind != TZoneWord::NotZone) {
            zone = z.Kind == TZoneWord::Offset ? std::optional<int>{z.Minutes} : std::nullopt;
        } else if (AllDigits(word)) {
            const long n = Number(word);
            if (d == 0 && n >= 1 && n <= 31) {
                d = n;
            } else if ((n > 12 || mon != 0) && y == 0) {
                y = n < 32 ? n + 2000 : n < 1000 ? n + 1900 : n;
            }
        } else if (const auto t = GetTimeFromStr(word)) {
            clock = *t;
        } else if (word == "DST" || word == "dst") {
            dst += 60;
        } else if (mon == 0) {
            mon = GetMonthNumber(word);
        }
    }
    if (y == 0) y = 1980;
    if (mon == 0) mon = 1;
    if (d == 0) d = 1;
    y = std::min(y, 9999L);
    const year_month_day_last last{year{static_cast<int>(y)} / month{static_cast<unsigned>(mon)} /
                                   std::chrono::last};
    d = std::min<long>(d, static_cast<unsigned>(last.day()));

    const auto wall = local_days{year{static_cast<int>(y)} / month{static_cast<unsigned>(mon)} /
                                 day{static_cast<unsigned>(d)}} +
                      hours{clock.Hour} + minutes{clock.Minute} + seconds{clock.Second};
    if (!zone && dst == 0) return time_point_cast<milliseconds>(wall);
    // The stated zone (or local, for DST alone) to UTC, then UTC to local time.
    const int offset = zone ? *zone + dst : TimeZoneBias() + dst;
    const sys_seconds utc{wall.time_since_epoch() - minutes{offset}};
    // Straight to time_t: system_clock counts nanoseconds and would overflow beyond 2262.
    const tm local = LocalTm(static_cast<std::time_t>(utc.time_since_epoch().count()));
    return TDateTime{duration_cast<milliseconds>(utc.time_since_epoch()) + seconds{local.tm_gmtoff}};
}

}  // namespace tandrel::mime
