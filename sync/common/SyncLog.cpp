#include "sync/common/SyncLog.h"

#include "platform/logging.h"

log4cpp::Category& SyncLog() {
    static log4cpp::Category& category = plat::LogCategory("DravikSyncLog");
    return category;
}
