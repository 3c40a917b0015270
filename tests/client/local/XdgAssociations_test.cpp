// The desktop association provider over a hermetic set of MIME and .desktop files, real
// programs started through it, and the document types that open in one instance.
#include "client/local/AppAssociation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "client/local/WinFileSystemAdapter.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace {
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

class XdgAssociationTest : public ::testing::Test {
protected:
    void SetUp() override {
        dirs.configHome = (box.Root() / "config").string();
        dirs.dataHome = (box.Root() / "data").string();
        dirs.dataDirs = {(box.Root() / "system").string()};
        dirs.binDirs = {"/usr/bin", "/bin"};
        WriteFile(box.Root() / "system/mime/globs2",
                  "# comment\n"
                  "50:text/plain:*.txt\n"
                  "50:application/x-copy-me:*.cpy\n"
                  "50:application/x-no-app:*.noapp\n"
                  "60:text/x-special:*.TXT:cs\n"
                  "50:application/x-gz:*.gz\n");
        // A user default beats the system's cache; an id the user removed is skipped.
        WriteFile(box.Root() / "config/mimeapps.list",
                  "[Default Applications]\n"
                  "text/plain=missing.desktop;viewer.desktop;\n"
                  "[Removed Associations]\n"
                  "application/x-copy-me=removed.desktop;\n");
        WriteFile(box.Root() / "system/applications/mimeinfo.cache",
                  "[MIME Cache]\n"
                  "text/plain=other.desktop;\n"
                  "application/x-copy-me=removed.desktop;copier.desktop;\n");
        WriteFile(box.Root() / "system/applications/viewer.desktop",
                  "[Desktop Entry]\nType=Application\nName=Viewer\nExec=cat %f\n");
        WriteFile(box.Root() / "system/applications/other.desktop",
                  "[Desktop Entry]\nType=Application\nName=Other\nExec=true\n");
        WriteFile(box.Root() / "system/applications/removed.desktop",
                  "[Desktop Entry]\nType=Application\nName=Removed\nExec=true\n");
        copied = (box.Root() / "copied.out").string();
        WriteFile(box.Root() / "system/applications/copier.desktop",
                  "[Desktop Entry]\nType=Application\nName=Copier\nExec=cp %f \"" + copied + "\"\n");
    }

    Sandbox box;
    XdgDirs dirs;
    std::string copied;
};

TEST_F(XdgAssociationTest, FindsTheTypeAndItsApplication) {
    XdgAssociationProvider provider(dirs);
    EXPECT_EQ(provider.MimeTypeOf(".txt"), "text/plain");
    EXPECT_EQ(provider.MimeTypeOf(".Txt"), "text/plain");   // case-insensitive globs
    EXPECT_EQ(provider.MimeTypeOf(".TXT"), "text/x-special");  // the heavier case-sensitive one
    EXPECT_EQ(provider.MimeTypeOf(".nothing-known-here"), "");
    EXPECT_EQ(provider.MimeTypeOf(""), "");

    FileAssociation a;
    ASSERT_TRUE(provider.Query(".txt", a));
    EXPECT_TRUE(a.found);
    EXPECT_TRUE(a.isExe);
    EXPECT_EQ(a.friendlyAppName, "Viewer");
    EXPECT_EQ(a.friendlyDocName, "text/plain");
    EXPECT_TRUE(a.executable == "/usr/bin/cat" || a.executable == "/bin/cat") << a.executable;

    ASSERT_TRUE(provider.Query(".cpy", a));
    EXPECT_EQ(a.friendlyAppName, "Copier");

    // A known type without an application is found but has nothing to start.
    ASSERT_TRUE(provider.Query(".noapp", a));
    EXPECT_TRUE(a.found);
    EXPECT_FALSE(a.isExe);
    EXPECT_TRUE(a.executable.empty());

    EXPECT_FALSE(provider.Query(".nothing-known-here", a));
    EXPECT_FALSE(a.found);

    // Answers are kept per extension.
    fs::remove(box.Root() / "config/mimeapps.list");
    ASSERT_TRUE(provider.Query(".txt", a));
    EXPECT_EQ(a.friendlyAppName, "Viewer");
}

TEST_F(XdgAssociationTest, AnApplicationInstalledLaterIsNoticed) {
    XdgAssociationProvider provider(dirs);
    FileAssociation a;
    ASSERT_TRUE(provider.Query(".noapp", a));
    ASSERT_FALSE(a.isExe);

    // Installed while the client runs: a .desktop file and the folder's cache change.
    const fs::path apps = box.Root() / "system/applications";
    WriteFile(apps / "noapp-viewer.desktop", "[Desktop Entry]\nType=Application\nName=Late Viewer\nExec=cat %f\n");
    WriteFile(apps / "mimeinfo.cache", ReadFile(apps / "mimeinfo.cache") + "application/x-no-app=noapp-viewer.desktop;\n");
    // The folder's time moves on (as it does when the install is not within the same tick).
    for (const fs::path& changed : {apps, apps / "mimeinfo.cache"}) {
        fs::last_write_time(changed, fs::last_write_time(changed) + std::chrono::seconds(2));
    }
    ASSERT_TRUE(provider.Query(".noapp", a));
    EXPECT_TRUE(a.isExe);
    EXPECT_EQ(a.friendlyAppName, "Late Viewer");
}

TEST_F(XdgAssociationTest, ExecLinesExpandTheirFieldCodes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(XdgAssociationProvider::ExpandExec("app %f", "/a b/c.txt"), (V{"app", "/a b/c.txt"}));
    EXPECT_EQ(XdgAssociationProvider::ExpandExec("app --x %U", "/p"), (V{"app", "--x", "/p"}));
    EXPECT_EQ(XdgAssociationProvider::ExpandExec("app", "/p"), (V{"app", "/p"}));
    EXPECT_EQ(XdgAssociationProvider::ExpandExec("app %i %c %k %f", "/p"), (V{"app", "/p"}));
    EXPECT_EQ(XdgAssociationProvider::ExpandExec("\"/opt/my app/run\" 100%% %u", "/p"),
              (V{"/opt/my app/run", "100%", "/p"}));
    EXPECT_EQ(XdgAssociationProvider::ExpandExec("sh -c \"echo \\\"q\\\"\" %f", "/p"),
              (V{"sh", "-c", "echo \"q\"", "/p"}));
}

TEST_F(XdgAssociationTest, OpeningWaitsForTheApplicationToEnd) {
    XdgAssociationProvider provider(dirs);
    WinFileSystemAdapter adapter(nullptr, &provider);
    WriteFile(box.Root() / "doc.cpy", "payload");
    const std::atomic<bool> stop{false};
    EXPECT_EQ(adapter.OpenWithApplication((box.Root() / "doc.cpy").string(), &stop, true), 0);
    // With wait the copy is complete when the call returns.
    EXPECT_EQ(ReadFile(copied), "payload");
}

TEST_F(XdgAssociationTest, OpeningWithoutWaitLeavesTheApplicationRunningOnItsOwn) {
    XdgAssociationProvider provider(dirs);
    WinFileSystemAdapter adapter(nullptr, &provider);
    WriteFile(box.Root() / "doc.cpy", "second");
    EXPECT_EQ(adapter.OpenWithApplication((box.Root() / "doc.cpy").string(), nullptr, false), 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return fs::exists(copied) && ReadFile(copied) == "second"; }));
}

TEST_F(XdgAssociationTest, ProgramsThatCannotStart) {
    WriteFile(box.Root() / "system/applications/mimeinfo.cache",
              "[MIME Cache]\napplication/x-gz=broken.desktop;\n");
    WriteFile(box.Root() / "system/applications/broken.desktop",
              "[Desktop Entry]\nType=Application\nName=Broken\nExec=/nonexistent/program %f\n");
    XdgAssociationProvider provider(dirs);
    FileAssociation a;
    ASSERT_TRUE(provider.Query(".gz", a));
    EXPECT_FALSE(a.isExe);  // its program is not there
    int pid = -1;
    EXPECT_FALSE(provider.Start(".gz", "/tmp/x.gz", true, pid));
}

TEST(ProcessProbeTest, FindsARunningProgramByItsPath) {
    XdgAssociationProvider provider(XdgDirs{});
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(provider.IsProgramRunning(self), 1);
    EXPECT_EQ(provider.IsProgramRunning("/nonexistent/program"), 0);
}

TEST(SingleInstanceTypesTest, WholeExtensionsOnly) {
    EXPECT_TRUE(IsSingleInstanceDocumentType(".pdf"));
    EXPECT_TRUE(IsSingleInstanceDocumentType(".docx"));
    EXPECT_TRUE(IsSingleInstanceDocumentType(".dwf"));
    EXPECT_FALSE(IsSingleInstanceDocumentType(".pd"));
    EXPECT_FALSE(IsSingleInstanceDocumentType(".d"));
    EXPECT_FALSE(IsSingleInstanceDocumentType(".PDF"));
    EXPECT_FALSE(IsSingleInstanceDocumentType(".pdf|*.doc"));
    EXPECT_FALSE(IsSingleInstanceDocumentType(""));
    EXPECT_FALSE(IsSingleInstanceDocumentType("."));
}

}  // namespace
