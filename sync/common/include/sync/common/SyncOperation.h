#pragma once
// The operation a commit thread has under way, shared between the commit threads, the
// HTTP client that marks when its request was sent, and the main window.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

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
    template <typename F>
    void Update(F&& change) {
        std::lock_guard<std::mutex> hold(lock_);
        change(op_);
    }

private:
    mutable std::mutex lock_;
    SyncOperation op_;
};
