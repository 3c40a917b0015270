#pragma once
// Where the local file layer finds the application that opens a type of file, starts it
// and waits for it. XdgAssociationProvider answers from the desktop's shared MIME
// database and .desktop files; tests use a fake.
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "client/local/LocalFileSystem.h"

class AssociationProvider {
public:
    virtual ~AssociationProvider() = default;
    // The application for an extension (with its dot). False, with `association` empty,
    // when the extension's type cannot be told.
    virtual bool Query(const std::string& extension, FileAssociation& association) = 0;
    // 1 when a process runs the program `executable`, 0 when none does, -1 when the
    // processes cannot be enumerated.
    virtual int IsProgramRunning(const std::string& executable) = 0;
    // Offers the desktop's choice of applications for a file whose type has none.
    virtual void OfferChooser(const std::string& path) = 0;
    // Tells the user that `friendlyAppName` already has a document open.
    virtual void ShowAlreadyRunning(const std::string& friendlyAppName) = 0;
    // Starts the application of `extension` on the file. With `wait` the process id to
    // wait for is returned in `processId`; without, the process is left to run on its own.
    virtual bool Start(const std::string& extension, const std::string& path, bool wait, int& processId) = 0;
    // Waits up to `timeoutMs` for a process started with wait: 0 ended, 258 still
    // running, -1 the wait failed (the process is no longer known).
    virtual int WaitForExit(int processId, int timeoutMs) = 0;
    // Gives up waiting for a process started with wait; it is reaped when it ends.
    virtual void Abandon(int processId) = 0;
};

// The document types whose application is asked to be closed before a second document
// of them is edited (whole extensions, with their dot, case-sensitive).
bool IsSingleInstanceDocumentType(const std::string& extension);

// Search folders of the desktop's configuration and data.
struct XdgDirs {
    std::string configHome;               // $XDG_CONFIG_HOME
    std::vector<std::string> configDirs;  // $XDG_CONFIG_DIRS
    std::string dataHome;                 // $XDG_DATA_HOME
    std::vector<std::string> dataDirs;    // $XDG_DATA_DIRS
    std::vector<std::string> binDirs;     // $PATH

    static XdgDirs FromEnvironment();
};

class XdgAssociationProvider : public AssociationProvider {
public:
    explicit XdgAssociationProvider(XdgDirs dirs = XdgDirs::FromEnvironment());

    bool Query(const std::string& extension, FileAssociation& association) override;
    int IsProgramRunning(const std::string& executable) override;
    void OfferChooser(const std::string& path) override;
    void ShowAlreadyRunning(const std::string& friendlyAppName) override;
    bool Start(const std::string& extension, const std::string& path, bool wait, int& processId) override;
    int WaitForExit(int processId, int timeoutMs) override;
    void Abandon(int processId) override;

    // Shows the "already open" notice (the UI sets it; by default it is only logged).
    void SetAlreadyRunningNotice(std::function<void(const std::string&)> notice);

    // The MIME type of an extension (with its dot); empty when unknown.
    std::string MimeTypeOf(const std::string& extension) const;
    // The command line of a .desktop Exec value for a file, field codes expanded.
    static std::vector<std::string> ExpandExec(const std::string& exec, const std::string& path);

private:
    struct Entry {
        bool ok = false;
        FileAssociation association;
        std::string exec;
        // An answer without an application is asked again once the application folders
        // change or kMissRecheck has passed: an application installed meanwhile is seen.
        std::string foldersStamp;
        std::chrono::steady_clock::time_point checkedAt;
    };
    static constexpr std::chrono::seconds kMissRecheck{30};
    // What the application folders and association lists look like now (their times).
    std::string FoldersStamp() const;
    const Entry& Lookup(const std::string& extension);
    std::vector<std::string> DesktopIdsFor(const std::string& mimeType) const;
    bool ReadDesktopEntry(const std::string& desktopId, Entry& entry) const;
    std::string ResolveProgram(const std::string& program) const;

    XdgDirs dirs_;
    std::mutex mutex_;
    std::map<std::string, Entry> cache_;  // by extension
    std::function<void(const std::string&)> notice_;
};

// The provider used by adapters made without one.
AssociationProvider& DefaultAssociationProvider();
