#include "client/core/DateTime.h"

#include <tuple>

#include "client/core/TextHelpers.h"
#include "platform/timetext.h"

namespace {
// Appends `value` in decimal, zero-padded to `width` digits.
void AppendNumber(std::string& out, long value, int width) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0) out.push_back('-');
    if (static_cast<int>(digits.size()) < width) out.append(static_cast<std::size_t>(width) - digits.size(), '0');
    out += digits;
}

// Date and time of a broken-down time; milliseconds and offset 0.
DateTime FromSystemTime(const plat::SystemTime& st) {
    DateTime t;
    t.year = st.year;
    t.month = static_cast<std::uint8_t>(st.month);
    t.day = static_cast<std::uint8_t>(st.day);
    t.hour = static_cast<std::uint8_t>(st.hour);
    t.minute = static_cast<std::uint8_t>(st.minute);
    t.second = static_cast<std::uint8_t>(st.second);
    return t;
}

auto Fields(const DateTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
}
}  // namespace

DateTime DateTime::Now() {
    const plat::SystemTime now = plat::NowLocal();
    DateTime t = FromSystemTime(now);
    t.millisecond = now.milliseconds;
    GetLocalUtcOffset(t.utcOffsetHours, t.utcOffsetMinutes);
    return t;
}

void DateTime::GetLocalUtcOffset(std::int8_t& hours, std::uint8_t& minutes) {
    const std::int64_t offsetMinutes = plat::LocalTimeOffsetSeconds() / 60;
    hours = static_cast<std::int8_t>(offsetMinutes / 60);  // truncated toward zero
    const std::int64_t rest = offsetMinutes % 60;
    minutes = static_cast<std::uint8_t>(rest < 0 ? -rest : rest);
}

std::string DateTime::ToString() const {
    const struct {
        long value;
        int width;
        char after;
    } fields[] = {{year, 4, '-'},  {month, 2, '-'},  {day, 2, ' '},         {hour, 2, ':'},
                  {minute, 2, ':'}, {second, 2, '.'}, {millisecond, 3, ' '}};
    std::string s;
    s.reserve(28);
    for (const auto& f : fields) {
        AppendNumber(s, f.value, f.width);
        s.push_back(f.after);
    }
    s.push_back(utcOffsetHours < 0 ? '-' : '+');
    AppendNumber(s, utcOffsetHours < 0 ? -utcOffsetHours : utcOffsetHours, 2);
    AppendNumber(s, utcOffsetMinutes, 2);
    return s;
}

DateTime DateTime::ToTimeT() const {
    // The fields to the minute as a calendar time, independent of the machine's zone.
    plat::SystemTime fields;
    fields.year = year;
    fields.month = month;
    fields.day = day;
    fields.hour = hour;
    fields.minute = minute;
    fields.second = 0;
    std::int64_t seconds = plat::ToEpochSeconds(fields);
    // A positive offset is hours and minutes east; with zero or negative hours the
    // minutes count west.
    const std::int64_t offset = utcOffsetHours > 0 ? utcOffsetHours * 3600 + utcOffsetMinutes * 60
                                                   : utcOffsetHours * 3600 - utcOffsetMinutes * 60;
    seconds -= offset;
    DateTime r = FromSystemTime(plat::FromEpochSeconds(seconds));
    r.second = second;
    r.millisecond = millisecond;
    return r;
}

int DateTime::Compare(const DateTime& other) const {
    const bool sameOffset = utcOffsetHours == other.utcOffsetHours && utcOffsetMinutes == other.utcOffsetMinutes;
    const auto a = sameOffset ? Fields(*this) : Fields(ToTimeT());
    const auto b = sameOffset ? Fields(other) : Fields(other.ToTimeT());
    return a > b ? 1 : (a < b ? -1 : 0);
}

bool DateTime::ParseHttpDate(std::string_view text) {
    // weekday SP month SP day SP hh:mm:ss SP zone SP year
    std::string_view parts[5];
    std::string_view rest = text;
    for (auto& part : parts) {
        const std::size_t space = rest.find(' ');
        if (space == std::string_view::npos) return false;
        part = rest.substr(0, space);
        rest.remove_prefix(space + 1);
    }
    const std::string_view time = parts[3];
    const std::size_t colon1 = time.find(':');
    if (colon1 == std::string_view::npos) return false;
    const std::size_t colon2 = time.find(':', colon1 + 1);
    if (colon2 == std::string_view::npos) return false;

    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int month = -1;
    for (int i = 0; i < 12; ++i)
        if (parts[1] == kMonths[i]) month = i + 1;
    if (month < 0) month = ParseLeadingInt(parts[1]);

    DateTime t;
    t.month = static_cast<std::uint8_t>(month);
    t.day = static_cast<std::uint8_t>(ParseLeadingInt(parts[2]));
    t.hour = static_cast<std::uint8_t>(ParseLeadingInt(time.substr(0, colon1)));
    t.minute = static_cast<std::uint8_t>(ParseLeadingInt(time.substr(colon1 + 1, colon2 - colon1 - 1)));
    t.second = static_cast<std::uint8_t>(ParseLeadingInt(time.substr(colon2 + 1)));
    t.year = ParseLeadingInt(rest);
    t.millisecond = 0;
    t.utcOffsetHours = parts[4] == "CST" ? 8 : 0;
    t.utcOffsetMinutes = 0;
    *this = t;
    return true;
}
