#pragma once
// Broken-down times and their texts. Arithmetic is in integer seconds.
#include <cstdint>
#include <string>

namespace plat {

struct SystemTime {
    int year = 1970, month = 1, dayOfWeek = 4, day = 1;
    int hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// Calendar <-> seconds, treating the broken-down time as UTC (pure calendar arithmetic).
std::int64_t ToEpochSeconds(const SystemTime& t);
SystemTime FromEpochSeconds(std::int64_t seconds);

SystemTime NowLocal();
SystemTime NowUtc();
// Seconds by which local time is ahead of UTC now (negative west of Greenwich).
std::int64_t LocalTimeOffsetSeconds();

// "%Y-%m-%d %H:%M:%S"
std::string FormatDateTime(const SystemTime& t);

}  // namespace plat
