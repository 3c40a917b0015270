#pragma once
// Texts of the browser's and the transfer list's rows.
#include <functional>
#include <string>

#include "client/core/DateTime.h"

// "2024-05-12 09:14:03": the date and the time to the second, without the milliseconds and
// the UTC offset of DateTime::ToString.
std::string TimeToSecond(const DateTime& time);
// "12.50%": done × 100 / total, or 0 when total is not above 0.1.
std::string PercentText(double done, double total);

// The reason shown for a failure: an HTTP error code (HttpErrorCode) or a transfer's
// TransferFailure. An English key of the catalogue.
const char* FailureReasonKey(int failure);

// A cloud path as the user reads it: "/CloudRoot/MyDocument/a/b" shows as "/" + the
// translated root folder name + "/a/b" (the top root's own name never shows); "" for a
// path without a root folder.
std::string ShownCloudPath(const std::string& path, const std::function<std::string(const std::string&)>& translate);
