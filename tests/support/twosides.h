#pragma once
// Changing either side of a synchronised pair through one interface, and the single check
// that both hold the same tree. A side is the local folder on disk or an account's home
// folder on the test server (changed through the test server's control interface); both
// take the same calls on the same paths ("/a/b.txt", below the side's root), so a sync test
// says what changes on which side, runs the sync until it is idle, then checks that the
// local tree equals the server tree: names, kinds and contents.
// A side is used from the test's thread; the program under test may change the same tree
// meanwhile (reading a side's image tolerates files that go while it is read).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "testserver/TestServer.h"

namespace testsupport {

// Names, kinds and contents of a tree: "/a/b.txt" -> "file:<bytes>", "/a" -> "folder".
using TreeImage = std::map<std::string, std::string>;

class TreeSide {
public:
    virtual ~TreeSide() = default;

    // Creates or replaces a file; the folders on the way are created.
    virtual void Write(const std::string& path, const std::string& content) = 0;
    // Creates a folder and the folders on the way.
    virtual void Mkdir(const std::string& path) = 0;
    // Removes a file, or a folder with everything in it.
    virtual void Remove(const std::string& path) = 0;
    // Renames an item, or moves it into another folder.
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    // The whole tree as it is now.
    virtual TreeImage Image() const = 0;

    // Creates every item of `items`: path -> content; a path ending in '/' is a folder.
    void Seed(const std::map<std::string, std::string>& items);
};

// A folder on the local disk.
class LocalSide : public TreeSide {
public:
    explicit LocalSide(std::filesystem::path root) : root_(std::move(root)) {}
    const std::filesystem::path& Root() const { return root_; }
    // The folder the side uses from now on.
    void SetRoot(std::filesystem::path root) { root_ = std::move(root); }

    void Write(const std::string& path, const std::string& content) override;
    void Mkdir(const std::string& path) override;
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    TreeImage Image() const override;

private:
    std::filesystem::path At(const std::string& path) const;
    std::filesystem::path root_;
};

// An account's home folder on the test server. Remove moves the item to the account's
// recycle bin, as a user's delete does.
class ServerSide : public TreeSide {
public:
    ServerSide(testserver::TestServer& server, std::string account) : server_(server), account_(std::move(account)) {}

    void Write(const std::string& path, const std::string& content) override;
    void Mkdir(const std::string& path) override;
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    TreeImage Image() const override;

private:
    testserver::TestServer& server_;
    std::string account_;
};

// The items only one tree holds, and those whose kind or content differ, one per line.
std::string DescribeDifference(const TreeImage& local, const TreeImage& server);

// The single check of a sync test: both sides hold the same names, kinds and contents.
::testing::AssertionResult SameTrees(const TreeSide& local, const TreeSide& server);

}  // namespace testsupport
