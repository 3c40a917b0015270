#pragma once
// The operation a commit thread has under way, shared between the commit threads, the
// HTTP client that marks when its request was sent, and the main window.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/filefacts.h"

// A regular file as it is on disk: identity, size and modification time. A file the
// program put in place keeps its stamp until something writes it or puts another file at
// its name (a rename keeps identity and time, so a download's temporary file already has
// the stamp its target gets).
struct DiskStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const DiskStamp&) const = default;

    // The stamp of the regular file at `fsPath` (a link is not followed); false when
    // there is none there.
    static bool Read(const std::string& fsPath, DiskStamp& out) {
        plat::fs::ItemFacts facts;
        return plat::fs::StatItem(fsPath, facts) && Of(facts, out);
    }
    // The stamp of an item already looked at; false when it is not a regular file.
    static bool Of(const plat::fs::ItemFacts& facts, DiskStamp& out) {
        if (facts.kind != plat::fs::Kind::File) return false;
        out.device = facts.device;
        out.inode = facts.inode;
        out.size = facts.size;
        out.modifiedSeconds = facts.modifiedSeconds;
        out.modifiedNanoseconds = facts.modifiedNanoseconds;
        return true;
    }
};

// The operation a commit thread has under way, announced so that the main window can tell
// the program's own disk changes from the user's. Written by its thread, read by others
// only as a snapshot under `lock` (SyncOperationSlot).
struct SyncOperation {
    std::uint32_t kind = 0;    // 1 file, 0 folder
    std::uint32_t state = 0;   // 0 under way, 1 announced, 2 finished
    std::uint32_t opCode = 0;  // 0 none; operation codes of the commit threads
    std::string path1;         // canonical (lower-case, one separator kind) relative path
    std::string path2;         // second path (rename, move, copy target)
    std::uint64_t startMs = 0;
    std::uint64_t sentMs = 0;
    std::uint64_t endMs = 0;
    // The file the operation put in place (canonical like path1; empty: none yet) and its
    // stamp as the program left it. The main window takes a report for that path as the
    // operation's echo only while the file there still has this stamp.
    std::string placedPath;
    DiskStamp placed;

    // The form of `path1` and `path2`: ASCII lower case, '\\' as the only separator, one
    // leading '\\', no doubled or trailing separator ("" stays ""). Record paths of either
    // side ('/' or '\\') and the watcher's relative paths compare equal in this form.
    static std::string CanonicalPath(std::string_view path) {
        std::string out;
        out.reserve(path.size() + 1);
        for (char c : path) {
            if (c == '\\' || c == '/') {
                if (out.empty() || out.back() != '\\') out.push_back('\\');
            } else {
                if (out.empty()) out.push_back('\\');
                out.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c);
            }
        }
        while (out.size() > 1 && out.back() == '\\') out.pop_back();
        if (out == "\\") out.clear();
        return out;
    }
};

class SyncOperationSlot {
public:
    SyncOperation Snapshot() const {
        std::lock_guard<std::mutex> hold(lock_);
        return op_;
    }
    void Set(const SyncOperation& op) {
        std::lock_guard<std::mutex> hold(lock_);
        op_ = op;
    }
    // Notes the file the operation has put (or is about to put by a rename) at the record
    // path `relativePath`; `fsPath` is where it is on disk now. A file that cannot be read
    // leaves a stamp no file has, so no report for that path passes as an echo.
    void Place(std::string_view relativePath, const std::string& fsPath) {
        DiskStamp stamp;
        if (!DiskStamp::Read(fsPath, stamp)) stamp = DiskStamp{};
        Place(relativePath, stamp);
    }
    // The same with the stamp already read (DiskStamp{} for a file that could not be).
    void Place(std::string_view relativePath, const DiskStamp& stamp) {
        std::lock_guard<std::mutex> hold(lock_);
        op_.placedPath = SyncOperation::CanonicalPath(relativePath);
        op_.placed = stamp;
    }
    template <typename F>
    void Update(F&& change) {
        std::lock_guard<std::mutex> hold(lock_);
        change(op_);
    }

private:
    mutable std::mutex lock_;
    SyncOperation op_;
};
