#include "platform/timetext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

using plat::FormatDateTime;
using plat::FromEpochSeconds;
using plat::SystemTime;
using plat::ToEpochSeconds;

SystemTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    SystemTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    return t;
}

TEST(TimeTextTest, AddsHoursAndMinutesAcrossMidnight) {
    const std::int64_t start = ToEpochSeconds(At(2018, 1, 19, 23, 30, 0));
    EXPECT_EQ(FormatDateTime(FromEpochSeconds(start + 8 * 3600 + 45 * 60)), "2018-01-20 08:15:00");
}

TEST(TimeTextTest, KnownInstants) {
    struct Case {
        std::int64_t seconds;
        const char* text;
        int dayOfWeek;  // 0 = Sunday
    };
    const Case cases[] = {
        {0, "1970-01-01 00:00:00", 4},
        {-1, "1969-12-31 23:59:59", 3},
        {-86400 * 365, "1969-01-01 00:00:00", 3},
        {951782400, "2000-02-29 00:00:00", 2},
        {951868800, "2000-03-01 00:00:00", 3},
        {-2203891200, "1900-03-01 00:00:00", 4},
        {1709164800, "2024-02-29 00:00:00", 4},
        {4102444799, "2099-12-31 23:59:59", 4},
        {-62135596800, "0001-01-01 00:00:00", 1},
    };
    for (const auto& c : cases) {
        const SystemTime t = FromEpochSeconds(c.seconds);
        EXPECT_EQ(FormatDateTime(t), c.text) << c.seconds;
        EXPECT_EQ(t.dayOfWeek, c.dayOfWeek) << c.seconds;
        EXPECT_EQ(ToEpochSeconds(t), c.seconds) << c.text;
    }
}

TEST(TimeTextTest, LeapYearsInDayArithmetic) {
    EXPECT_EQ(FormatDateTime(FromEpochSeconds(ToEpochSeconds(At(2000, 2, 28)) + 86400)), "2000-02-29 00:00:00");
    EXPECT_EQ(FormatDateTime(FromEpochSeconds(ToEpochSeconds(At(1900, 2, 28)) + 86400)), "1900-03-01 00:00:00");
    EXPECT_EQ(FormatDateTime(FromEpochSeconds(ToEpochSeconds(At(2023, 2, 28)) + 86400)), "2023-03-01 00:00:00");
    EXPECT_EQ(ToEpochSeconds(At(2024, 3, 1)) - ToEpochSeconds(At(2024, 2, 1)), 29 * 86400);
    // Out-of-range fields carry over.
    EXPECT_EQ(ToEpochSeconds(At(2017, 13, 1)), ToEpochSeconds(At(2018, 1, 1)));
    EXPECT_EQ(ToEpochSeconds(At(2018, 0, 1)), ToEpochSeconds(At(2017, 12, 1)));
    EXPECT_EQ(ToEpochSeconds(At(2018, 1, 32)), ToEpochSeconds(At(2018, 2, 1)));
}

TEST(TimeTextTest, RoundTripsOverAWideRange) {
    for (std::int64_t s = -20000000000; s <= 20000000000; s += 7777777) {
        ASSERT_EQ(ToEpochSeconds(FromEpochSeconds(s)), s);
    }
}

class TzOverride {
public:
    explicit TzOverride(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) saved_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TzOverride() {
        if (had_) setenv("TZ", saved_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string saved_;
};

TEST(TimeTextTest, LocalOffsetFollowsTheZone) {
    {
        TzOverride tz("XST-5:45");  // 5 h 45 min east of Greenwich
        EXPECT_EQ(plat::LocalTimeOffsetSeconds(), 5 * 3600 + 45 * 60);
    }
    {
        TzOverride tz("YST+10");
        EXPECT_EQ(plat::LocalTimeOffsetSeconds(), -10 * 3600);
        // Local and UTC readings of the clock differ by the offset (allow a second tick).
        const std::int64_t gap = ToEpochSeconds(plat::NowLocal()) - ToEpochSeconds(plat::NowUtc());
        EXPECT_NEAR(static_cast<double>(gap), -36000.0, 1.0);
    }
    {
        TzOverride tz("UTC0");
        EXPECT_EQ(plat::LocalTimeOffsetSeconds(), 0);
        const SystemTime now = plat::NowUtc();
        EXPECT_GE(now.year, 2020);
        EXPECT_GE(now.milliseconds, 0);
        EXPECT_LT(now.milliseconds, 1000);
    }
}

}  // namespace
