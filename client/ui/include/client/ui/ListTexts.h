#pragma once
// Texts of the browser's and the transfer list's rows.
#include <string>

#include "client/core/DateTime.h"

// "2024-05-12 09:14:03": the date and the time to the second, without the milliseconds and
// the UTC offset of DateTime::ToString.
std::string TimeToSecond(const DateTime& time);
// "12.50%": done × 100 / total, or 0 when total is not above 0.1.
std::string PercentText(double done, double total);
