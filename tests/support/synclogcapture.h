#pragma once
// Collects the lines written to the sync program's log category while it lives.
#include "support/logcapture.h"
#include "sync/common/SyncLog.h"

class LogCapture : public testsupport::CategoryCapture {
public:
    LogCapture() : CategoryCapture(SyncLog()) {}
};
