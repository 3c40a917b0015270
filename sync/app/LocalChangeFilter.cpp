#include "sync/app/LocalChangeFilter.h"

namespace localchange {

namespace {

// Operation codes of the commit threads' operation records.
constexpr std::uint32_t kOpCreate = 1;      // create a folder, or download a new file
constexpr std::uint32_t kOpOverwrite = 2;   // download over an existing file
constexpr std::uint32_t kOpDelete = 3;
constexpr std::uint32_t kOpMove = 4;        // move or rename
constexpr std::uint32_t kOpCopy = 5;
constexpr std::uint32_t kOpMoveNew = 6;     // move or rename to a path that did not exist

// The keys of one change and one operation; an empty path gives no key.
struct Keys {
    std::string r, n, p1, p2;
    bool hasP1 = false, hasP2 = false;
};

Keys MakeKeys(const LocalChangeRecord& change, const SyncOperation& op) {
    Keys k;
    k.r = Key(change.path);
    k.n = change.newPath.empty() ? std::string() : Key(change.newPath);
    k.hasP1 = !op.path1.empty();
    k.hasP2 = !op.path2.empty();
    if (k.hasP1) k.p1 = Key(op.path1);
    if (k.hasP2) k.p2 = Key(op.path2);
    return k;
}

bool Is(const std::string& key, bool has, const std::string& other) { return has && key == other; }
bool Under(const std::string& key, const std::string& base, bool hasBase) { return hasBase && AtOrBelow(key, base); }
bool IsParentOf(const std::string& key, bool hasPath, const std::string& path) {
    return hasPath && !path.empty() && key == ParentKey(path);
}

}  // namespace

std::string Key(std::string_view path) { return LocalUnknownSet::Key(path); }

bool AtOrBelow(const std::string& key, const std::string& base) {
    if (base.empty()) return false;
    if (key.size() < base.size() || key.compare(0, base.size(), base) != 0) return false;
    return key.size() == base.size() || key[base.size()] == '/';
}

std::string ParentKey(const std::string& key) {
    const std::size_t slash = key.rfind('/');
    if (slash == std::string::npos || slash == 0) return std::string();
    return key.substr(0, slash);
}

namespace {

// A report the table takes for the operation's own: when it is about the file the
// operation placed, it is that only while the file is still as the program left it.
bool StillAsPlaced(const LocalChangeRecord& change, const SyncOperation& op, const StampReader& readStamp) {
    if (op.placedPath.empty()) return true;
    if (change.kind != kLocalAdded && change.kind != kLocalModified && change.kind != kLocalRenamed) return true;
    const std::string& subject = change.kind == kLocalRenamed ? change.newPath : change.path;
    if (Key(subject) != Key(op.placedPath)) return true;
    DiskStamp now;
    return readStamp && readStamp(subject, now) && now == op.placed;
}

}  // namespace

bool KeepChange(const LocalChangeRecord& change, const SyncOperation& op, std::uint64_t nowMs,
                const StampReader& readStamp) {
    if (op.opCode == 0 || op.state == 0) return true;
    if (op.state == 2 && nowMs >= op.endMs && nowMs - op.endMs > kEchoWindowMs) return true;

    const Keys k = MakeKeys(change, op);
    const bool file = op.kind == 1;
    const std::uint32_t code = op.opCode;

    // The parent folder whose entries the operation changed.
    if (change.kind == kLocalModified) {
        if (code != kOpCopy && IsParentOf(k.r, k.hasP1, k.p1)) return false;
        if ((code == kOpMove || code == kOpCopy || code == kOpMoveNew) && IsParentOf(k.r, k.hasP2, k.p2)) return false;
    }

    bool drop = false;
    switch (change.kind) {
        case kLocalAdded:
            switch (code) {
                case kOpCreate: drop = Is(k.r, k.hasP1, k.p1); break;
                case kOpOverwrite: drop = file && Is(k.r, k.hasP1, k.p1); break;
                case kOpMove:
                case kOpMoveNew: drop = Is(k.r, k.hasP2, k.p2); break;
                case kOpCopy: drop = file ? Is(k.r, k.hasP2, k.p2) : Under(k.r, k.p2, k.hasP2); break;
                default: break;
            }
            break;
        case kLocalRemoved:
            switch (code) {
                case kOpDelete: drop = file ? Is(k.r, k.hasP1, k.p1) : Under(k.r, k.p1, k.hasP1); break;
                case kOpMove: drop = Is(k.r, k.hasP1, k.p1) || (file && Is(k.r, k.hasP2, k.p2)); break;
                case kOpMoveNew: drop = Is(k.r, k.hasP1, k.p1); break;
                default: break;
            }
            break;
        case kLocalModified:
            switch (code) {
                case kOpCreate:
                case kOpOverwrite:
                case kOpMoveNew: {
                    const std::string& target = code == kOpMoveNew ? k.p2 : k.p1;
                    const bool has = code == kOpMoveNew ? k.hasP2 : k.hasP1;
                    drop = (file || code == kOpCreate) && Is(k.r, has, target);
                    break;
                }
                case kOpDelete: drop = file ? Is(k.r, k.hasP1, k.p1) : Under(k.r, k.p1, k.hasP1); break;
                case kOpMove: drop = file && (Is(k.r, k.hasP1, k.p1) || Is(k.r, k.hasP2, k.p2)); break;
                case kOpCopy: drop = file ? Is(k.r, k.hasP2, k.p2) : Under(k.r, k.p2, k.hasP2); break;
                default: break;
            }
            break;
        case kLocalRenamed:
            switch (code) {
                case kOpCreate:
                case kOpOverwrite:
                    // A download is put in place by renaming its temporary file onto the target.
                    drop = file && !k.n.empty() && Is(k.n, k.hasP1, k.p1);
                    break;
                case kOpMove:
                case kOpMoveNew: drop = Is(k.r, k.hasP1, k.p1) && Is(k.n, k.hasP2, k.p2); break;
                default: break;
            }
            break;
        default:
            break;
    }
    return !drop || !StillAsPlaced(change, op, readStamp);
}

Conflict FindConflict(const LocalChangeRecord& change, const SyncOperation& homeOp, const SyncOperation& awayOp) {
    Conflict out;
    if (homeOp.opCode != 0 && homeOp.state == 0 && !homeOp.path1.empty()) {
        out.home = Key(change.path) == Key(homeOp.path1);
    }
    if (awayOp.opCode == 0 || awayOp.state != 0) return out;

    const Keys k = MakeKeys(change, awayOp);
    // "x begins with y" of the tables, at whole components.
    const auto rUnder1 = Under(k.r, k.p1, k.hasP1);
    const auto rUnder2 = Under(k.r, k.p2, k.hasP2);
    const auto p1UnderR = k.hasP1 && AtOrBelow(k.p1, k.r);
    const auto p2UnderR = k.hasP2 && AtOrBelow(k.p2, k.r);
    const bool renamed = change.kind == kLocalRenamed && k.r != k.n;
    const auto nUnder1 = renamed && Under(k.n, k.p1, k.hasP1);
    const auto nUnder2 = renamed && Under(k.n, k.p2, k.hasP2);
    const std::uint32_t code = awayOp.opCode;

    bool hit = false;
    switch (change.kind) {
        case kLocalAdded:
            if (code == kOpDelete) hit = rUnder1;
            else if (code == kOpMove || code == kOpCopy || code == kOpMoveNew) hit = rUnder1 || rUnder2;
            break;
        case kLocalRemoved:
            if (code == kOpCreate || code == kOpOverwrite || code == kOpDelete) hit = p1UnderR;
            else if (code == kOpMove || code == kOpMoveNew) hit = rUnder2 || p1UnderR || p2UnderR;
            else if (code == kOpCopy) hit = rUnder1 || rUnder2 || p1UnderR || p2UnderR;
            break;
        case kLocalModified:
            if (code == kOpCreate || code == kOpOverwrite || code == kOpDelete) hit = p1UnderR;
            else if (code == kOpMove || code == kOpCopy || code == kOpMoveNew) {
                hit = rUnder1 || rUnder2 || p1UnderR || p2UnderR;
            }
            break;
        case kLocalRenamed:
            if (!renamed) break;
            if (code == kOpCreate || code == kOpOverwrite) hit = p1UnderR;
            else if (code == kOpDelete) hit = Is(k.n, k.hasP1, k.p1);
            else if (code == kOpMove || code == kOpMoveNew) hit = rUnder2 || p1UnderR || p2UnderR || nUnder1;
            else if (code == kOpCopy) hit = rUnder1 || rUnder2 || p1UnderR || p2UnderR || nUnder1 || nUnder2;
            break;
        default:
            break;
    }
    out.away = hit;
    return out;
}

}  // namespace localchange
