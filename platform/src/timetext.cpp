#include "platform/timetext.h"

#include <time.h>

#include <cstdio>

namespace plat {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (month 1-12).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

SystemTime FromTm(const struct tm& tm, long nanoseconds) {
    SystemTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.dayOfWeek = tm.tm_wday;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.milliseconds = static_cast<int>(nanoseconds / 1000000);
    return t;
}

}  // namespace

std::int64_t ToEpochSeconds(const SystemTime& t) {
    // Months outside 1-12 carry into the year; days, hours... carry by plain arithmetic.
    const std::int64_t monthIndex = static_cast<std::int64_t>(t.month) - 1;
    const std::int64_t year = t.year + FloorDiv(monthIndex, 12);
    const auto month = static_cast<unsigned>(monthIndex - FloorDiv(monthIndex, 12) * 12 + 1);
    const std::int64_t days = DaysFromCivil(year, month, 1) + (t.day - 1);
    return days * 86400 + static_cast<std::int64_t>(t.hour) * 3600 + static_cast<std::int64_t>(t.minute) * 60 + t.second;
}

SystemTime FromEpochSeconds(std::int64_t seconds) {
    const std::int64_t days = FloorDiv(seconds, 86400);
    const std::int64_t rest = seconds - days * 86400;
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(days, y, m, d);
    SystemTime t;
    t.year = static_cast<int>(y);
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(d);
    t.dayOfWeek = static_cast<int>(days + 4 - FloorDiv(days + 4, 7) * 7);  // 1970-01-01 was a Thursday
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.milliseconds = 0;
    return t;
}

SystemTime NowLocal() {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm tm;
    ::localtime_r(&now.tv_sec, &tm);
    return FromTm(tm, now.tv_nsec);
}

SystemTime NowUtc() {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm tm;
    ::gmtime_r(&now.tv_sec, &tm);
    return FromTm(tm, now.tv_nsec);
}

std::int64_t LocalTimeOffsetSeconds() {
    const time_t now = ::time(nullptr);
    struct tm local;
    struct tm utc;
    ::localtime_r(&now, &local);
    ::gmtime_r(&now, &utc);
    // Compare whole dates, not only the clock: the two may lie on different days.
    return ToEpochSeconds(FromTm(local, 0)) - ToEpochSeconds(FromTm(utc, 0));
}

std::string FormatDateTime(const SystemTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buffer;
}

}  // namespace plat
