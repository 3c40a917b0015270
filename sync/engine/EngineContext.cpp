#include "sync/engine/EngineContext.h"

std::atomic<bool> g_bNetworkUp{false};
std::atomic<std::int64_t> g_nLocalTimeOffset{0};
