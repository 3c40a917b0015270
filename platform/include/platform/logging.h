#pragma once
// log4cpp set-up: a category writing to a rolling file with the layout "%d: %p: %m%n".
#include <cstdint>
#include <string>

namespace log4cpp { class Category; }

namespace plat {

// Attaches a rolling file appender named `appenderName` to category `category`
// (replacing earlier appenders of it), at priority DEBUG. False when the file cannot
// be opened. The log and its rolled copies are mode 0600.
bool SetupRollingLog(const std::string& category, const std::string& appenderName,
                     const std::string& file, std::uint64_t maxSize, unsigned backups);

// The named category (log4cpp's instance); lines go nowhere until set up.
log4cpp::Category& LogCategory(const std::string& name);

}  // namespace plat
