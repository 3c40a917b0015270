#include "sync/app/LocalPathToTreePath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

SyncFileInfo Item(std::uint32_t isFile, const std::string& path, const std::string& shortName = "") {
    SyncFileInfo record(isFile, 0, 0, path);
    record.extra = shortName;
    return record;
}

// The Driver tree of /home/u/Sync:
//   Documents (short DOCUME~1) / Report 2024.txt (short REPORT~1.TXT)
//   other / a.txt
//   b.txt
class LocalPathToTreePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        FileNode* documents = driver_.InsertChild(Item(0, "\\Documents", "DOCUME~1")).Node();
        documents->InsertChild(Item(1, "\\Documents\\Report 2024.txt", "REPORT~1.TXT"));
        FileNode* other = driver_.InsertChild(Item(0, "\\other")).Node();
        other->InsertChild(Item(1, "\\other\\a.txt"));
        driver_.InsertChild(Item(1, "\\b.txt"));
    }

    FileNode driver_{SyncFileInfo("Driver")};
};

TEST_F(LocalPathToTreePathTest, WalksTheTreeComponentByComponent) {
    struct Case {
        const char* local;
        int result;
        const char* treePath;
    };
    const Case cases[] = {
        {"/home/u/Sync", 1, ""},  // the folder itself
        {"/home/u/Sync/b.txt", 1, "/b.txt"},
        {"/home/u/Sync/Documents/Report 2024.txt", 1, "/Documents/Report 2024.txt"},
        {"/home/u/Sync/DOCUME~1/REPORT~1.TXT", 1, "/Documents/Report 2024.txt"},  // short names
        {"/home/u/Sync/documents/Report 2024.txt", 0, "/documents/Report 2024.txt"},  // case differs
        {"/home/u/Sync/other//a.txt", 0, "/other//a.txt"},  // empty component
        {"/home/u/Sync/other/a.txt/", 0, "/other/a.txt/"},  // trailing '/'
        {"/home/u/Sync/a.txt", 0, "/a.txt"},                // exists only under another parent
        {"/home/u/Sync/missing/x", 0, "/missing/x"},
        {"/home/u/Sync2/b.txt", 0, ""},  // not in the sync folder (a longer sibling name)
        {"/etc/b.txt", 0, ""},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        std::string treePath = "unchanged";
        EXPECT_EQ(LocalPathToTreePath(driver_, "/home/u/Sync", c.local, &treePath), c.result) << c.local;
        EXPECT_EQ(treePath, c.treePath) << c.local;
    }
}

TEST_F(LocalPathToTreePathTest, TheFolderMayEndWithASeparatorOrBeTheRoot) {
    std::string treePath;
    EXPECT_EQ(LocalPathToTreePath(driver_, "/home/u/Sync/", "/home/u/Sync/b.txt", &treePath), 1);
    EXPECT_EQ(treePath, "/b.txt");
    EXPECT_EQ(LocalPathToTreePath(driver_, "/", "/other/a.txt", &treePath), 1);
    EXPECT_EQ(treePath, "/other/a.txt");
    EXPECT_EQ(LocalPathToTreePath(driver_, "", "/b.txt", &treePath), 0);
}

}  // namespace
