#pragma once
// The system facilities of the local file layer, from the platform layer: file identity,
// times and permission bits, lock tests, and starting, waiting for and finding processes.
// Paths are native (absolute, UTF-8, '/').
#include "platform/filefacts.h"
#include "platform/process.h"

namespace localsys {

using ItemKind = plat::fs::Kind;
using ItemStat = plat::fs::ItemFacts;

using plat::fs::CreateSizedFile;
using plat::fs::IsLockedByOther;
using plat::fs::IsRunnableFile;
using plat::fs::SetWritable;
using plat::fs::StatItem;

using plat::IsProgramRunning;
using plat::ReapLater;
using plat::Spawn;
using plat::WaitChild;

}  // namespace localsys
