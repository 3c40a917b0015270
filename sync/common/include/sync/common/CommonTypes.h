#pragma once
// The records carried by the nodes of the sync trees. Texts are UTF-8 bytes; links
// between records are non-owning pointers to tree nodes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include <rapidjson/fwd.h>

#include "sync/common/PackedText.h"
#include "sync/common/RareText.h"

template <typename T> class TreeNode;

// Bounds on a server path ("/a/b/c"), so that a listing cannot build a tree deeper or a
// record longer than the rest of the program handles. 2048 components is the depth a
// state file is read back to (a listing that is saved can be read again); 32768 bytes
// holds any path of the local side's longest (32768 UTF-16 units of ASCII text).
inline constexpr std::size_t kMaxServerPathComponents = 2048;
inline constexpr std::size_t kMaxServerPathBytes = 32768;
// True when the path has at most kMaxServerPathBytes bytes and at most
// kMaxServerPathComponents components between its '/' separators.
bool IsServerPathWithinLimits(std::string_view path);

// One file or folder as seen on one side: the local listing ("Driver"), a server listing
// ("Server", "Waiter") or the state after the last finished sync ("Tracer"). A record in a
// tree does not keep its path: the path is the names from the tree's root down to its node
// (NodePath), so it can never disagree with where the node stands.
struct SyncFileInfo {
    std::string name;           // last path component
    DigestText checksum;        // MD5 hex; folders: the folder digest; empty = not computed
    NodeRefText nodeRef;        // the server's identifier; empty when the server lacks it
    std::uint8_t isFile = 0;    // 1 file, 0 folder
    std::uint8_t mark = 0;      // 1 when built while a single local change was applied
    std::uint64_t size = 0;     // bytes (0 for folders)
    RareText extra;             // further text (the short name); see the copy rules below

    SyncFileInfo() = default;
    explicit SyncFileInfo(const char* name);
    explicit SyncFileInfo(const std::string& name);
    // `name` is the part of `path` behind its last '\\', else behind its last '/', else
    // the whole path; the rest of the path is not kept.
    SyncFileInfo(std::uint32_t isFile, std::uint32_t mark, std::uint64_t size, const std::string& path);

    // Copies carry every field; assignment carries every field but `extra`, which the
    // target keeps.
    SyncFileInfo(const SyncFileInfo&) = default;
    SyncFileInfo(SyncFileInfo&&) noexcept = default;
    SyncFileInfo& operator=(const SyncFileInfo& other);
    SyncFileInfo& operator=(SyncFileInfo&& other) noexcept;

    // Empties name, checksum and nodeRef and zeroes the numbers; `extra` stays.
    void Clear();
    // Both checksums known and different (ignoring ASCII case).
    bool ChecksumDiffers(const SyncFileInfo& other) const;
    // Both checksums known and equal (ignoring ASCII case).
    bool SameChecksum(const SyncFileInfo& other) const;

    // A record from one element of a server listing, its server path ("/a/b/c", the
    // element's "name") in `path`; null (logged) when the element does not have the
    // expected shape, its path is unsafe (an empty, "." or ".." component, or one holding
    // '\\', NUL, a control character or malformed UTF-8) or beyond the limits of
    // IsServerPathWithinLimits.
    static std::unique_ptr<SyncFileInfo> FromServerJson(const rapidjson::Value& item, std::string& path);
};

// One item of the unified tree ("Uniform"): what must be done with it and in which
// direction.
struct SyncTaskInfo {
    // The node whose content a move (duty 4: its unified-tree node) or a copy (duty 5: the
    // receiving side's listing node) takes.
    using SourceLink = std::variant<std::monostate, TreeNode<SyncTaskInfo>*, TreeNode<SyncFileInfo>*>;

    // The small numbers are single bytes: the unified tree holds a record for every item.
    std::string name;
    std::uint8_t kind = 0;       // 0 folder, 1 file
    std::uint8_t linked = 0;     // local partner changed; digest needed before judging
    std::uint8_t aspect = 0;     // 1 client to server, 2 server to client, 0 nothing
    std::uint8_t task = 0;       // 1 new, 2 modified, 3 deleted, 0 none
    std::uint8_t duty = 0;       // 4 move, 5 copy, 0 none
    std::uint8_t flag = 0;       // 1 sides agree, 2 a checksum still empty, 0 otherwise
    std::uint8_t matchMark = 0;  // working mark of the match passes
    TreeNode<SyncFileInfo>* localPartner = nullptr;
    TreeNode<SyncFileInfo>* serverPartner = nullptr;
    SourceLink source;

    SyncTaskInfo() = default;
    SyncTaskInfo(std::uint32_t kind, const std::string& name, std::uint32_t aspect, std::uint32_t task,
                 std::uint32_t flag, TreeNode<SyncFileInfo>* localPartner,
                 TreeNode<SyncFileInfo>* serverPartner);
    SyncTaskInfo(std::uint32_t kind, const std::string& name, std::uint32_t linked, std::uint32_t aspect,
                 std::uint32_t task, std::uint32_t flag, TreeNode<SyncFileInfo>* localPartner,
                 TreeNode<SyncFileInfo>* serverPartner);

    // The record named "Uniform" with every number and link 0.
    static SyncTaskInfo CreateUniformRoot();
    // `task` is 1 or 2.
    bool IsCreateOrUpdate() const { return task == 1 || task == 2; }

    // The move source (unified-tree node) or copy source (listing node); null when
    // `source` holds the other kind or nothing.
    TreeNode<SyncTaskInfo>* SourceTaskNode() const;
    TreeNode<SyncFileInfo>* SourceFileNode() const;
};

// A name kept by reference to a name that outlives it: one pointer in place of a text. It
// reads as the text it refers to (empty when it refers to none).
class NameRef {
public:
    NameRef() = default;
    NameRef(const std::string& name) : name_(&name) {}
    NameRef(std::string&&) = delete;  // a temporary would not outlive the reference
    operator std::string_view() const { return name_ != nullptr ? std::string_view(*name_) : std::string_view(); }

private:
    const std::string* name_ = nullptr;
};

// One item of a difference tree (local side or server side against "Tracer"). The trees
// hold a record for every listed item, so it is kept small.
struct SyncChangeInfo {
    NameRef name;             // the name of the listing or "Tracer" node, which outlives the record
    std::uint32_t kind = 0;   // 0 folder, 1 file
    std::uint32_t state = 0;  // 1 added, 2 deleted, 3 modified
    TreeNode<SyncFileInfo>* aux2 = nullptr;  // the listing node, or the "Tracer" node for state 2
};
