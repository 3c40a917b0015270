#include "client/core/DateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

DateTime Make(int year, int month, int day, int hour, int minute, int second, int ms, int offH, int offM) {
    DateTime t;
    t.year = year;
    t.month = static_cast<std::uint8_t>(month);
    t.day = static_cast<std::uint8_t>(day);
    t.hour = static_cast<std::uint8_t>(hour);
    t.minute = static_cast<std::uint8_t>(minute);
    t.second = static_cast<std::uint8_t>(second);
    t.millisecond = ms;
    t.utcOffsetHours = static_cast<std::int8_t>(offH);
    t.utcOffsetMinutes = static_cast<std::uint8_t>(offM);
    return t;
}

// Runs a test body under a fixed time zone and restores the old one.
class ZoneScope {
public:
    explicit ZoneScope(const char* tz) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneScope() {
        if (hadOld_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

TEST(DateTimeText, WritesOffsetWithItsSign) {
    EXPECT_EQ(Make(2016, 3, 1, 9, 5, 7, 42, 8, 0).ToString(), "2016-03-01 09:05:07.042 +0800");
    EXPECT_EQ(Make(1999, 12, 31, 23, 59, 59, 999, -3, 30).ToString(), "1999-12-31 23:59:59.999 -0330");
    EXPECT_EQ(Make(1970, 1, 1, 0, 0, 0, 0, 0, 0).ToString(), "1970-01-01 00:00:00.000 +0000");
    EXPECT_EQ(Make(2024, 7, 4, 12, 0, 0, 5, 5, 45).ToString(), "2024-07-04 12:00:00.005 +0545");
}

TEST(DateTimeParse, ServerDates) {
    struct Case {
        const char* text;
        bool ok;
        int year, month, day, hour, minute, second, offH;
    } cases[] = {
        {"Thu Jan 01 08:00:00 CST 1970", true, 1970, 1, 1, 8, 0, 0, 8},
        {"Thu Jan 01 08:00:00 GMT 1970", true, 1970, 1, 1, 8, 0, 0, 0},
        {"Mon Dec 31 23:59:58 CST 2018", true, 2018, 12, 31, 23, 59, 58, 8},
        {"Tue Sep 09 01:02:03 UTC 2014", true, 2014, 9, 9, 1, 2, 3, 0},
        // Not a month name: read as a number, which gives 0.
        {"Thu Foo 01 08:00:00 CST 1970", true, 1970, 0, 1, 8, 0, 0, 8},
        {"Thu Jan 01 08:00:00 CST", false, 0, 0, 0, 0, 0, 0, 0},
        {"Thu Jan 01 0800:00 CST 1970", false, 0, 0, 0, 0, 0, 0, 0},
        {"Thu Jan 01 08-00-00 CST 1970", false, 0, 0, 0, 0, 0, 0, 0},
        {"", false, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        DateTime t = Make(2000, 2, 3, 4, 5, 6, 7, 1, 0);
        const DateTime before = t;
        ASSERT_EQ(t.ParseHttpDate(c.text), c.ok);
        if (!c.ok) {
            EXPECT_EQ(t, before) << "a failed read leaves the record unchanged";
            continue;
        }
        EXPECT_EQ(t, Make(c.year, c.month, c.day, c.hour, c.minute, c.second, 0, c.offH, 0));
    }
}

TEST(DateTimeParse, HugeNumbersDoNotOverflow) {
    DateTime t;
    ASSERT_TRUE(t.ParseHttpDate("Thu Jan 01 08:00:00 CST 99999999999999999999"));
    EXPECT_EQ(t.year, 2147483647);
}

TEST(DateTimeCompare, SameOffsetFieldByField) {
    const DateTime a = Make(2020, 5, 6, 7, 8, 9, 100, 8, 0);
    DateTime later = a;
    later.millisecond = 101;
    EXPECT_EQ(a.Compare(a), 0);
    EXPECT_EQ(later.Compare(a), 1);
    EXPECT_EQ(a.Compare(later), -1);
    DateTime nextYear = a;
    nextYear.year = 2021;
    nextYear.month = 1;
    EXPECT_EQ(nextYear.Compare(a), 1);
}

TEST(DateTimeCompare, DifferentOffsetsCompareTheMoment) {
    // The same result in any zone of the machine, across a DST change too.
    for (const char* tz : {"UTC", "<+08>-8", "America/New_York", "Australia/Lord_Howe"}) {
        SCOPED_TRACE(tz);
        ZoneScope zone(tz);
        const DateTime beijing = Make(2016, 3, 1, 10, 0, 0, 0, 8, 0);
        const DateTime utc = Make(2016, 3, 1, 2, 0, 0, 0, 0, 0);
        EXPECT_EQ(beijing.Compare(utc), 0);
        EXPECT_EQ(utc.Compare(beijing), 0);
        const DateTime newYork = Make(2016, 2, 29, 21, 0, 0, 0, -5, 0);  // 02:00 UTC on 1 March
        EXPECT_EQ(newYork.Compare(utc), 0);
        const DateTime india = Make(2016, 3, 1, 7, 31, 0, 0, 5, 30);  // a minute later
        EXPECT_EQ(india.Compare(utc), 1);
        EXPECT_EQ(utc.Compare(india), -1);
    }
}

TEST(DateTimeToTimeT, GivesUtcAcrossDays) {
    const DateTime t = Make(2016, 1, 1, 3, 30, 15, 250, 8, 0).ToTimeT();
    EXPECT_EQ(t, Make(2015, 12, 31, 19, 30, 15, 250, 0, 0));
    const DateTime west = Make(2016, 2, 28, 23, 0, 0, 0, -3, 30).ToTimeT();
    EXPECT_EQ(west, Make(2016, 2, 29, 2, 30, 0, 0, 0, 0));
}

TEST(DateTimeNow, CarriesTheLocalOffset) {
    ZoneScope zone("<+0530>-5:30");
    std::int8_t h = 0;
    std::uint8_t m = 0;
    DateTime::GetLocalUtcOffset(h, m);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(m, 30);
    const DateTime now = DateTime::Now();
    EXPECT_EQ(now.utcOffsetHours, 5);
    EXPECT_EQ(now.utcOffsetMinutes, 30);
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_LT(now.millisecond, 1000);
}

TEST(DateTimeNow, WestOfGreenwichTruncatesTowardZero) {
    ZoneScope zone("<-0330>3:30");
    std::int8_t h = 0;
    std::uint8_t m = 0;
    DateTime::GetLocalUtcOffset(h, m);
    EXPECT_EQ(h, -3);
    EXPECT_EQ(m, 30);
}

}  // namespace
