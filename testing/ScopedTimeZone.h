#pragma once
// Pins the process time zone for one test and restores the previous one.

#include <stdlib.h>
#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace tandrel::testing {

/// Sets TZ (for instance "<-03>3", three hours west without summer time) while it
/// lives; the zone in force before comes back on destruction.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* Tz) {
        if (const char* old = std::getenv("TZ")) FPrevious = old;
        ::setenv("TZ", Tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (FPrevious)
            ::setenv("TZ", FPrevious->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> FPrevious;
};

}  // namespace tandrel::testing
