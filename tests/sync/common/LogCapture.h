#pragma once
// Collects the lines written to the sync program's log category while it lives.
#include <string>
#include <vector>

#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/StringQueueAppender.hh>

#include "sync/common/SyncLog.h"

class LogCapture {
public:
    LogCapture() : appender_("records-test-capture") {
        auto* layout = new log4cpp::PatternLayout();
        layout->setConversionPattern("%p: %m");
        appender_.setLayout(layout);
        SyncLog().setPriority(log4cpp::Priority::DEBUG);
        SyncLog().addAppender(appender_);
    }
    ~LogCapture() { SyncLog().removeAppender(&appender_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        auto& queue = appender_.getQueue();
        while (!queue.empty()) {
            lines.push_back(queue.front());
            queue.pop();
        }
        return lines;
    }

private:
    log4cpp::StringQueueAppender appender_;
};
