#include "FakeDisk.h"

#include <cerrno>

#include "platform/md5.h"
#include "sync/common/BaseFunc.h"
#include "sync/engine/FileDigest.h"

namespace enginetest {

std::string ParentPath(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos || cut == 0 ? std::string() : path.substr(0, cut);
}

std::string Name(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

namespace {

bool AtOrBelow(const std::string& path, const std::string& top) {
    return path == top || path.compare(0, top.size() + 1, top + "/") == 0;
}

bool Failed(int error) {
    errno = error;
    return false;
}

}  // namespace

FakeFs::FakeFs() { SetRoot(root); }

std::string FakeFs::Norm(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

void FakeFs::PutFile(const std::string& path, const std::string& content) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const std::string p = Norm(path);
    for (std::string up = ParentPath(p); up.size() > root.size(); up = ParentPath(up)) {
        disk[up] = Entry{Kind::Folder, {}};
    }
    disk[p] = Entry{Kind::File, content};
}

void FakeFs::PutFolder(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const std::string p = Norm(path);
    for (std::string up = p; up.size() > root.size(); up = ParentPath(up)) disk[up] = Entry{Kind::Folder, {}};
}

void FakeFs::PutOther(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    disk[Norm(path)] = Entry{Kind::Other, {}};
}

void FakeFs::Remove(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    EraseBelow(Norm(path));
}

bool FakeFs::Has(const std::string& path) const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return disk.count(Norm(path)) != 0;
}

std::string FakeFs::Content(const std::string& path) const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const Entry* entry = Find(Norm(path));
    return entry == nullptr ? std::string() : entry->content;
}

std::string FakeFs::DigestOf(const std::string& content) { return BaseFunc::ToUpper(plat::Md5HexLower(content)); }

const FakeFs::Entry* FakeFs::Find(const std::string& path) const {
    const auto it = disk.find(path);
    return it == disk.end() ? nullptr : &it->second;
}

bool FakeFs::IsFolder(const std::string& path) const {
    if (path == root) return true;
    const Entry* entry = Find(path);
    return entry != nullptr && entry->kind == Kind::Folder;
}

void FakeFs::EraseBelow(const std::string& path) {
    for (auto it = disk.lower_bound(path); it != disk.end() && it->first.compare(0, path.size(), path) == 0;) {
        it = AtOrBelow(it->first, path) ? disk.erase(it) : std::next(it);
    }
}

bool FakeFs::StatAt(const std::string& path, plat::fs::ItemFacts& out) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    out = plat::fs::ItemFacts();
    if (path == root) {
        out.kind = plat::fs::Kind::Directory;
        return true;
    }
    const Entry* entry = Find(path);
    if (entry == nullptr) return Failed(ENOENT);
    out.kind = entry->kind == Kind::File     ? plat::fs::Kind::File
               : entry->kind == Kind::Folder ? plat::fs::Kind::Directory
                                             : plat::fs::Kind::Link;
    out.size = entry->kind == Kind::File ? entry->content.size() : 0;
    return true;
}

std::string FakeFs::BlockedStepAt(const std::string& from, const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (std::size_t slash = path.find('/', from.size() + 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string level = path.substr(0, slash);
        const Entry* entry = Find(level);
        if (entry == nullptr) return {};
        if (entry->kind != Kind::Folder) return level;
    }
    return {};
}

bool FakeFs::ListAt(const std::string& path, std::vector<EngineFs::Entry>& out, std::string& error) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    out.clear();
    if (unlistable.count(path) != 0 || !IsFolder(path)) {
        error = unlistable.count(path) != 0 ? "Permission denied" : "Not a folder";
        return Failed(unlistable.count(path) != 0 ? EACCES : ENOTDIR);
    }
    for (auto it = disk.upper_bound(path); it != disk.end() && AtOrBelow(it->first, path); ++it) {
        if (ParentPath(it->first) != path) continue;
        EngineFs::Entry entry;
        entry.name = Name(it->first);
        entry.kind = it->second.kind == Kind::File     ? plat::fs::Kind::File
                     : it->second.kind == Kind::Folder ? plat::fs::Kind::Directory
                                                       : plat::fs::Kind::Link;
        entry.size = it->second.kind == Kind::File ? it->second.content.size() : 0;
        out.push_back(std::move(entry));
    }
    return true;
}

bool FakeFs::OpenForWritingAt(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return beingWritten.count(path) != 0;
}

std::string FakeFs::DigestAt(FileDigestHolder& holder, const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const Entry* entry = Find(path);
    if (entry == nullptr || entry->kind != Kind::File) {
        holder.errorCode = 0;
        holder.errorText = path + " could not get size";
        return {};
    }
    holder.errorCode = 0;
    holder.errorText.clear();
    return DigestOf(entry->content);
}

bool FakeFs::MoveAt(const std::string& from, const std::string& to, bool replace) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (moveError != 0) return Failed(moveError);
    const Entry* source = Find(from);
    if (source == nullptr) return Failed(ENOENT);
    if (!IsFolder(ParentPath(to))) return Failed(ENOENT);
    if (AtOrBelow(to, from)) return Failed(EINVAL);
    // A folder never replaces anything; a file never a folder.
    if (const Entry* target = Find(to); target != nullptr) {
        if (!replace || source->kind == Kind::Folder) return Failed(EEXIST);
        if (target->kind == Kind::Folder) return Failed(EISDIR);
        disk.erase(to);
    }
    std::map<std::string, Entry> moved;
    for (auto it = disk.lower_bound(from); it != disk.end() && it->first.compare(0, from.size(), from) == 0;) {
        if (AtOrBelow(it->first, from)) {
            moved[to + it->first.substr(from.size())] = it->second;
            it = disk.erase(it);
        } else {
            ++it;
        }
    }
    disk.insert(moved.begin(), moved.end());
    moves.push_back(from + " -> " + to);
    return true;
}

bool FakeFs::CopyFileAt(const std::string& from, const std::string& to) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const Entry* source = Find(from);
    if (source == nullptr || source->kind != Kind::File) return Failed(source == nullptr ? ENOENT : EINVAL);
    if (!IsFolder(ParentPath(to))) return Failed(ENOENT);
    if (IsFolder(to)) return Failed(EISDIR);
    if (writeError != 0) return Failed(writeError);  // the temporary file goes with it
    disk[to] = Entry{Kind::File, source->content};
    return true;
}

bool FakeFs::CopyTreeAt(const std::string& from, const std::string& to) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!IsFolder(from) || from == root) return Failed(ENOTDIR);
    if (AtOrBelow(to, from)) return Failed(EINVAL);
    if (!IsFolder(ParentPath(to))) return Failed(ENOENT);
    if (writeError != 0) return Failed(writeError);
    std::map<std::string, Entry> copied{{to, Entry{Kind::Folder, {}}}};
    for (auto it = disk.upper_bound(from); it != disk.end() && AtOrBelow(it->first, from); ++it) {
        if (it->second.kind != Kind::Other) copied[to + it->first.substr(from.size())] = it->second;
    }
    for (auto& [path, entry] : copied) disk[path] = entry;
    return true;
}

bool FakeFs::MakeFoldersAt(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    std::vector<std::string> missing;
    for (std::string level = path; level.size() > root.size(); level = ParentPath(level)) {
        const Entry* entry = Find(level);
        if (entry != nullptr && entry->kind != Kind::Folder) return Failed(ENOTDIR);
        if (entry == nullptr) missing.push_back(level);
    }
    if (missing.empty()) return true;
    if (writeError != 0) return Failed(writeError);
    for (const std::string& level : missing) disk[level] = Entry{Kind::Folder, {}};
    return true;
}

bool FakeFs::RemoveFileAt(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const Entry* entry = Find(path);
    if (entry == nullptr) return Failed(ENOENT);
    if (entry->kind == Kind::Folder) return Failed(EISDIR);
    disk.erase(path);
    return true;
}

bool FakeFs::RemoveTreeAt(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const Entry* entry = Find(path);
    if (entry == nullptr || entry->kind != Kind::Folder) return Failed(entry == nullptr ? ENOENT : ENOTDIR);
    EraseBelow(path);
    return true;
}

bool FakeFs::ListFolderAt(CSyncBase* owner, const std::string& path, FileNode* parent, LocalUnknownSet* unknown) {
    {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        ++listCalls;
    }
    return EngineFs::ListFolderAt(owner, path, parent, unknown);
}

}  // namespace enginetest
