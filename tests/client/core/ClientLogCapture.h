#pragma once
// Collects the lines written to the client's log category while it lives.
#include <string>
#include <vector>

#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/StringQueueAppender.hh>

#include "client/core/ClientLog.h"

class ClientLogCapture {
public:
    ClientLogCapture() : appender_("client-core-test-capture") {
        auto* layout = new log4cpp::PatternLayout();
        layout->setConversionPattern("%p: %m");
        appender_.setLayout(layout);
        ClientLog().setPriority(log4cpp::Priority::DEBUG);
        ClientLog().addAppender(appender_);
    }
    ~ClientLogCapture() { ClientLog().removeAppender(&appender_); }
    ClientLogCapture(const ClientLogCapture&) = delete;
    ClientLogCapture& operator=(const ClientLogCapture&) = delete;

    std::string All() {
        std::string all;
        auto& queue = appender_.getQueue();
        while (!queue.empty()) {
            all += queue.front() + "\n";
            queue.pop();
        }
        return all;
    }

private:
    log4cpp::StringQueueAppender appender_;
};
