#pragma once
// The client's log: category "DravikClientLog" writing to "DravikClient.log" in the log
// folder (rolling at 10 MiB, 4 backups, layout "%d: %p: %m%n"). Lines are plain text,
// never printf formats; passwords and login addresses are never logged.
#include <string>

namespace log4cpp { class Category; }

// The category every part of the client logs through.
log4cpp::Category& ClientLog();
// One INFO line (written as it stands).
void LogClientInfo(const std::string& line);

// The log file's path: empty until SetupLogging.
std::string ClientLogPath();

// Once at start-up: creates `logFolder` when missing, opens `logFolder` +
// "/DravikClient.log" with the rolling appender "rollfileAppender", sets the category to
// DEBUG (priority 700) and writes the start banner followed by `info`. False when the log
// file cannot be opened (the program runs on without a log).
bool SetupLogging(const std::string& logFolder, const std::string& info);
