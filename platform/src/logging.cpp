#include "platform/logging.h"

#include <fcntl.h>
#include <unistd.h>

#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/RollingFileAppender.hh>

#include <mutex>

#include "platform/fileops.h"

namespace plat {

bool SetupRollingLog(const std::string& category, const std::string& appenderName,
                     const std::string& file, std::uint64_t maxSize, unsigned backups) {
    // The appender swallows an open failure, so find out first whether the file can be
    // opened for appending (its folder is the caller's to create).
    // Logs are the user's own: new files are made 0600, and a log of an earlier run or one
    // of its rolled copies that others could read is tightened.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    fs::MakeFilePrivate(file);
    for (unsigned i = 1; i <= backups; ++i) fs::MakeFilePrivate(file + "." + std::to_string(i));

    static std::mutex setupMutex;
    std::lock_guard<std::mutex> lock(setupMutex);
    auto* layout = new log4cpp::PatternLayout();
    layout->setConversionPattern("%d: %p: %m%n");
    auto* appender = new log4cpp::RollingFileAppender(appenderName, file, static_cast<std::size_t>(maxSize),
                                                      static_cast<unsigned int>(backups), true, 0600);
    appender->setLayout(layout);
    log4cpp::Category& cat = log4cpp::Category::getInstance(category);
    cat.removeAllAppenders();
    cat.addAppender(appender);  // the category owns the appender from here on
    cat.setPriority(log4cpp::Priority::DEBUG);
    return true;
}

log4cpp::Category& LogCategory(const std::string& name) {
    return log4cpp::Category::getInstance(name);
}

}  // namespace plat
