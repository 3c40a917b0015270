#pragma once
// A calendar date and time with milliseconds and the UTC offset it was taken in, as the
// client shows it and as the server's listings report it.
#include <cstdint>
#include <string>
#include <string_view>

struct DateTime {
    std::int32_t year = 0;
    std::int32_t millisecond = 0;  // 0-999
    std::uint8_t month = 0;        // 1-12
    std::uint8_t day = 0;          // 1-31
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    std::int8_t utcOffsetHours = 0;     // signed, 8 for UTC+8
    std::uint8_t utcOffsetMinutes = 0;  // minutes beyond the hours, no sign

    // The local date and time with milliseconds and the local UTC offset.
    static DateTime Now();
    // Local time minus UTC now: whole hours (signed, truncated toward zero) and the
    // absolute value of the remaining minutes.
    static void GetLocalUtcOffset(std::int8_t& hours, std::uint8_t& minutes);

    // "2016-03-01 09:05:07.042 +0800": the offset always carries its sign.
    std::string ToString() const;
    // The same moment in UTC (offset 0): the record's own offset is taken off the date and
    // time to the minute; seconds and milliseconds are copied unchanged. Independent of
    // the machine's time zone.
    DateTime ToTimeT() const;
    // 1 when this moment is later than `other`, -1 when earlier, 0 when equal.
    int Compare(const DateTime& other) const;
    // Reads the server's date text "Thu Jan 01 08:00:00 CST 1970" (weekday, month, day,
    // time, zone word, year, single spaces). The zone word "CST" gives +8 hours, any other
    // word 0. False, with the record unchanged, when a separator is missing.
    bool ParseHttpDate(std::string_view text);

    bool operator==(const DateTime&) const = default;
};
