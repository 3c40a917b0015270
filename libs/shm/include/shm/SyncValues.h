#pragma once
// The two values the sync program publishes in its shared-memory table, for programs of
// the same user, with both the writer's and the reader's side:
//
//   "DravikCloudDiskPath"  the sync folder: its UTF-16LE characters, no terminator;
//   "DravikSyncWinHandle"  4 bytes, little-endian: the sync program's process id.
//
// The process id is what a reader finds the program by: the program answers its flag
// query on the local socket "DravikSyncQuery-<process id>" (decimal) in the user's
// runtime folder (see plat::RuntimeDir), and only while it publishes that id.
#include <cstdint>
#include <optional>
#include <string>

#include "shm/SharedMemory.h"

inline constexpr char16_t kSyncFolderValue[] = u"DravikCloudDiskPath";
inline constexpr char16_t kSyncHandleValue[] = u"DravikSyncWinHandle";

// The file name of the flag-query socket of the program whose handle value is `handle`,
// and its full path in the runtime folder (empty when there is no usable runtime folder).
std::string SyncQuerySocketName(std::uint32_t handle);
std::string SyncQuerySocketPath(std::uint32_t handle);
// True for a name SyncQuerySocketName makes, of any handle.
bool IsSyncQuerySocketName(const std::string& name);

// ---- writer side: each replaces an earlier value of its name; true when published ----
// An empty folder withdraws the value.
bool PublishSyncFolder(CSharedMemory& table, const std::u16string& folder);
bool PublishSyncHandle(CSharedMemory& table, std::uint32_t handle);
// Withdraws both values.
void WithdrawSyncValues(CSharedMemory& table);

// ---- reader side ----
struct PublishedSync {
    std::u16string folder;               // empty when not published (or not whole UTF-16)
    std::optional<std::uint32_t> handle;  // none when not published or not 4 bytes
    std::string queryPath;               // the flag-query socket; empty without a handle
};
PublishedSync ReadPublishedSync(CSharedMemory& table);
