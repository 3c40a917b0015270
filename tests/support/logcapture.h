#pragma once
// Collects the lines written to one log category while it lives, as "PRIORITY: message".
// The category is set to DEBUG so that every line reaches the capture. The programs' own
// captures (synclogcapture.h, clientlogcapture.h) name their category.
#include <string>
#include <vector>

#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/StringQueueAppender.hh>

namespace testsupport {

class CategoryCapture {
public:
    explicit CategoryCapture(log4cpp::Category& category) : category_(category), appender_("test-log-capture") {
        auto* layout = new log4cpp::PatternLayout();
        layout->setConversionPattern("%p: %m");
        appender_.setLayout(layout);
        category_.setPriority(log4cpp::Priority::DEBUG);
        category_.addAppender(appender_);
    }
    ~CategoryCapture() { category_.removeAppender(&appender_); }
    CategoryCapture(const CategoryCapture&) = delete;
    CategoryCapture& operator=(const CategoryCapture&) = delete;

    // The lines written since the last call, one entry each.
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        auto& queue = appender_.getQueue();
        while (!queue.empty()) {
            lines.push_back(queue.front());
            queue.pop();
        }
        return lines;
    }

    // The lines written since the last call, each ended by '\n'.
    std::string All() {
        std::string all;
        for (const std::string& line : Lines()) all += line + "\n";
        return all;
    }

private:
    log4cpp::Category& category_;
    log4cpp::StringQueueAppender appender_;
};

}  // namespace testsupport
