#pragma once
// The commit threads' server calls on the application's web-API object.
#include <memory>

#include "sync/engine/CommitServerOps.h"
#include "sync/engine/EngineContext.h"

// The server access over `app.webCloud` (which must outlive the result); null when the
// application has no web-API object.
std::unique_ptr<CommitServerOps> MakeWebCloudServerOps(SyncApp& app);
