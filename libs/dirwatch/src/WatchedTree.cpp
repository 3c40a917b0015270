// The record of one watched folder tree: watches by folder, renames carried over,
// reports of relative paths.
#include "WatchedTree.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/fileops.h"
#include "platform/text.h"

using namespace dirwatch;

namespace dirwatch::detail {

std::uint32_t SystemError(int error) {
    switch (error) {
    case 0: return 0;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorBadPathname;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case ENOMEM: return kErrorNotEnoughMemory;
    case ENOSPC: return kErrorNoSystemResources;  // the per-user watch limit
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    default: return kErrorGenFailure;
    }
}

std::string JoinRelative(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

namespace {

void Register(WatchInfo& w, int watch, const std::string& relative) {
    ForgetWatch(w, watch);  // the same folder seen under an older path
    w.folderOf[watch] = relative;
    w.watchOf[relative] = watch;
}

// The watches of a folder and of every folder below it.
std::vector<std::pair<std::string, int>> WatchesBelow(const WatchInfo& w, const std::string& relative) {
    std::vector<std::pair<std::string, int>> found;
    const auto exact = w.watchOf.find(relative);
    if (exact != w.watchOf.end()) found.emplace_back(*exact);
    const std::string prefix = relative + "/";
    for (auto it = w.watchOf.lower_bound(prefix); it != w.watchOf.end() && it->first.starts_with(prefix); ++it)
        found.emplace_back(*it);
    return found;
}

}  // namespace

void Report(WatchInfo& w, std::uint32_t kind, const std::string& relative) {
    std::u16string r;
    if (!plat::Utf8ToUtf16(relative, r)) return;  // not text: unknown to the program, this record only
    w.handler->Post(kind, w.prefix16 + r);
}

void ReportRename(WatchInfo& w, const std::string& oldRelative, const std::string& newRelative, bool isFolder) {
    std::u16string o, n;
    const bool oldOk = plat::Utf8ToUtf16(oldRelative, o);
    const bool newOk = plat::Utf8ToUtf16(newRelative, n);
    if (oldOk && newOk) {
        w.handler->Post(kNameChanged, w.prefix16 + o, w.prefix16 + n);
        if (!isFolder) w.handler->Post(kModified, w.prefix16 + n);
    } else if (newOk) {
        w.handler->Post(kAdded, w.prefix16 + n);
    } else if (oldOk) {
        w.handler->Post(kRemoved, w.prefix16 + o);
    }
}

void ForgetWatch(WatchInfo& w, int watch) {
    const auto it = w.folderOf.find(watch);
    if (it == w.folderOf.end()) return;
    const auto p = w.watchOf.find(it->second);
    if (p != w.watchOf.end() && p->second == watch) w.watchOf.erase(p);
    w.folderOf.erase(it);
}

void ForgetTree(WatchInfo& w, const std::string& relative, bool unwatch) {
    for (const auto& [path, watch] : WatchesBelow(w, relative)) {
        ForgetWatch(w, watch);
        if (unwatch) w.events.Unwatch(watch);
    }
}

bool MoveTree(WatchInfo& w, const std::string& from, const std::string& to) {
    const auto moved = WatchesBelow(w, from);
    for (const auto& [path, watch] : moved) ForgetWatch(w, watch);
    for (const auto& [path, watch] : moved) Register(w, watch, to + path.substr(from.size()));
    return !moved.empty();
}

std::uint32_t WatchTree(WatchInfo& w, const std::string& start, bool report) {
    std::vector<std::string> pending{start};
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        const bool isStart = folder == start;
        int watch = -1;
        if (const int error = w.events.WatchFolder(w.PathOf(folder), watch)) {
            const bool passOver = error == ENOENT || error == ENOTDIR || error == EACCES;
            if (passOver && !(isStart && !report)) continue;
            return SystemError(error);
        }
        Register(w, watch, folder);
        if (folder.empty()) w.rootWatch = watch;
        std::vector<plat::fs::Entry> entries;
        if (!plat::fs::ListDirectory(w.PathOf(folder), entries)) {
            if (isStart && !report) return SystemError(errno);
            continue;
        }
        for (const plat::fs::Entry& e : entries) {
            if (!plat::IsValidUtf8(e.name)) continue;
            const std::string child = JoinRelative(folder, e.name);
            if (report) Report(w, kAdded, child);
            if (e.kind == plat::fs::Kind::Directory) pending.push_back(child);
        }
    }
    return 0;
}

}  // namespace dirwatch::detail
