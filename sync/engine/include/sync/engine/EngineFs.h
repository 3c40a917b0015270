#pragma once
// What the reconciliation asks of the local disk and of the clock, behind interfaces that
// tests replace. Paths are absolute UTF-8 paths made of the sync folder and a record path,
// with '\\' or '/' separators (records keep the separators they were made with; the
// disk form is made only here).
#include <cstdint>
#include <functional>
#include <string>

#include "platform/timetext.h"
#include "sync/common/TreeNode.h"

class CSyncBase;

class EngineFs {
public:
    enum class Kind { Missing, File, Folder, Other };  // Other: a link or a special file

    virtual ~EngineFs() = default;

    // What is at the path; links are never followed.
    virtual Kind KindOf(const std::string& path) = 0;
    // Size of a file (0 for a folder); false when the item is neither.
    virtual bool Attributes(const std::string& path, bool& isFolder, std::uint64_t& size) = 0;
    // The one predicate of what takes part in synchronisation; `checkDisk` false judges by
    // the name alone.
    virtual bool IsSyncable(const std::string& path, bool checkDisk) = 0;
    // Rename; an existing target makes MoveItem fail and is replaced by MoveItemReplace
    // (files only).
    virtual bool MoveItem(const std::string& from, const std::string& to) = 0;
    virtual bool MoveItemReplace(const std::string& from, const std::string& to) = 0;
    // True while another program holds the existing file open for writing. Never creates
    // a file; false for a missing item or a folder.
    virtual bool IsBeingWritten(const std::string& path) = 0;
    // A free backup name beside the file (see BaseFunc::MakeConflictBackupName); empty
    // when none was found.
    virtual std::string MakeBackupName(const std::string& path, const plat::SystemTime& time);
    // Lists a newly added local folder into the Driver tree below `parent` (the local
    // scan's listing, which also records the entries it skips as unknown). False when the
    // folder could not be listed to its end.
    virtual bool ListFolder(CSyncBase* owner, const std::string& path, FileNode* parent) = 0;
};

// The real disk. Listing is delegated to `lister` (the local scan thread's DirectoryList);
// without one a folder cannot be listed.
class DiskEngineFs : public EngineFs {
public:
    using Lister = std::function<bool(CSyncBase* owner, const std::u16string& folder, FileNode* parent)>;

    DiskEngineFs() = default;
    explicit DiskEngineFs(Lister lister) : lister_(std::move(lister)) {}

    Kind KindOf(const std::string& path) override;
    bool Attributes(const std::string& path, bool& isFolder, std::uint64_t& size) override;
    bool IsSyncable(const std::string& path, bool checkDisk) override;
    bool MoveItem(const std::string& from, const std::string& to) override;
    bool MoveItemReplace(const std::string& from, const std::string& to) override;
    bool IsBeingWritten(const std::string& path) override;
    bool ListFolder(CSyncBase* owner, const std::string& path, FileNode* parent) override;

private:
    Lister lister_;
};

class EngineClock {
public:
    virtual ~EngineClock() = default;
    // Milliseconds of the steady clock.
    virtual std::uint64_t Milliseconds() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // The local wall-clock time (stamps of conflict backup names).
    virtual plat::SystemTime LocalTime() = 0;
};

class SteadyEngineClock : public EngineClock {
public:
    std::uint64_t Milliseconds() override;
    void Sleep(std::uint32_t milliseconds) override;
    plat::SystemTime LocalTime() override;
};
