#include "client/core/ClientLog.h"

#include <filesystem>
#include <mutex>
#include <system_error>

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include "client/core/TextHelpers.h"
#include "platform/logging.h"

namespace {
const char kCategory[] = "DravikClientLog";
const char kAppender[] = "rollfileAppender";
const char kLogFileName[] = "/DravikClient.log";
constexpr std::uint64_t kMaxLogSize = 10485760;  // 10 MiB
constexpr unsigned kBackups = 4;

std::mutex g_pathMutex;
std::string g_logPath;
}  // namespace

log4cpp::Category& ClientLog() { return plat::LogCategory(kCategory); }

void LogClientInfo(const std::string& line) { ClientLog().log(log4cpp::Priority::INFO, line); }

std::string ClientLogPath() {
    std::lock_guard<std::mutex> lock(g_pathMutex);
    return g_logPath;
}

bool SetupLogging(const std::string& logFolder, const std::string& info) {
    const std::string path = ToSlashPath(logFolder) + kLogFileName;
    {
        std::lock_guard<std::mutex> lock(g_pathMutex);
        g_logPath = path;
    }
    std::error_code ec;
    std::filesystem::create_directories(ToSlashPath(logFolder), ec);
    if (!plat::SetupRollingLog(kCategory, kAppender, path, kMaxLogSize, kBackups)) return false;
    ClientLog().log(log4cpp::Priority::INFO,
                    std::string("-------------- Start Dravik Client App ---------------\n") + info);
    return true;
}
