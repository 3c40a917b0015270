// Every include of the product and its tests follows the direction of dependencies, and
// the checker itself catches the edges that once ran the wrong way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "IncludeRules.h"

namespace {

std::string Describe(const std::vector<layout::Violation>& found) {
    std::ostringstream out;
    for (const auto& v : found) out << v.file << ":" << v.line << ": \"" << v.target << "\": " << v.why << "\n";
    return out.str();
}

TEST(Layout, ProductIncludesRunOneWay) {
    const char* root = std::getenv("DRAVIK_SOURCE_DIR");
    ASSERT_NE(root, nullptr) << "DRAVIK_SOURCE_DIR names the source tree";
    const auto includes = layout::ScanProduct(root);
    ASSERT_GT(includes.size(), 100u) << "the scan found the product sources";
    const auto found = layout::Check(includes);
    EXPECT_TRUE(found.empty()) << Describe(found);
    const bool testsScanned = std::any_of(includes.begin(), includes.end(), [](const layout::QuotedInclude& inc) {
        return inc.file.rfind("tests/sync/net/", 0) == 0 && inc.resolved.rfind("tests/support/", 0) == 0;
    });
    EXPECT_TRUE(testsScanned) << "the scan follows the tests' includes into tests/support";
}

// What a shared fixture includes counts at every test that includes it.
TEST(Layout, AFixtureIncludesOnBehalfOfItsTests) {
    const std::vector<layout::QuotedInclude> includes = {
        {"tests/client/core/HttpClient_test.cpp", 3, "support/ClientServerFixture.h", false,
         "tests/support/ClientServerFixture.h"},
        {"tests/client/local/LocalDownload_test.cpp", 4, "support/ClientServerFixture.h", false,
         "tests/support/ClientServerFixture.h"},
        {"tests/support/ClientServerFixture.h", 9, "support/Files.h", false, "tests/support/Files.h"},
        {"tests/support/Files.h", 5, "client/local/WinFileSystemAdapter.h", false,
         "client/local/include/client/local/WinFileSystemAdapter.h"},
    };
    const auto found = layout::Check(includes);
    ASSERT_EQ(found.size(), 1u) << Describe(found);
    EXPECT_EQ(found[0].file, "tests/client/core/HttpClient_test.cpp");
    EXPECT_EQ(found[0].line, 3);
    EXPECT_NE(found[0].why.find("tests/support/Files.h"), std::string::npos) << found[0].why;
}

struct EdgeCase {
    const char* name;
    const char* file;
    const char* target;
    bool allowed;
    const char* resolved = "";  // the file the include names, where the case needs it
    bool angled = false;
};

class LayoutEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(LayoutEdges, CheckerJudgesEdge) {
    const auto& c = GetParam();
    layout::QuotedInclude inc{c.file, 7, c.target};
    inc.resolved = c.resolved;
    inc.angled = c.angled;
    inc.sibling = !inc.angled && inc.resolved.find('/') != std::string::npos &&
                  inc.resolved.substr(0, inc.resolved.rfind('/') + 1) + c.target == inc.resolved;
    const auto found = layout::Check({inc});
    if (c.allowed) {
        EXPECT_TRUE(found.empty()) << Describe(found);
    } else {
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].file, c.file);
        EXPECT_EQ(found[0].line, 7);
        EXPECT_EQ(found[0].target, c.target);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LayoutEdges,
    ::testing::Values(
        // The edges that once ran the wrong way.
        EdgeCase{"NetIncludesEngine", "sync/net/WinHttpClient.cpp", "sync/engine/EngineContext.h", false},
        EdgeCase{"NetIncludesUi", "sync/net/WinHttpClient.cpp", "sync/ui/FeedLists.h", false},
        EdgeCase{"EngineIncludesUi", "sync/engine/CommitRows.cpp", "sync/ui/FeedLists.h", false},
        EdgeCase{"ClientCoreIncludesLocal", "client/core/HttpClient.cpp", "client/local/LocalFileIO.h", false},
        EdgeCase{"ClientIncludesSync", "client/local/WatcherBridge.cpp", "sync/app/DirectoryChanges.h", false},
        // More that must stay refused.
        EdgeCase{"CommonIncludesNet", "sync/common/SyncBase.cpp", "sync/net/WebCloud.h", false},
        EdgeCase{"AppIncludesUi", "sync/app/OrvaneDlg.cpp", "sync/ui/StateDlg.h", false},
        EdgeCase{"PlatformIncludesLib", "platform/src/text.cpp", "xml/XmlDocument.h", false},
        EdgeCase{"LibIncludesSync", "libs/dirwatch/src/Watcher.cpp", "sync/common/SyncLog.h", false},
        EdgeCase{"EngineIncludesQtLayer", "sync/engine/ThreadOfDriver.cpp", "platform/qt/QtPump.h", false},
        EdgeCase{"TestServerIncludesProduct", "testserver/src/Store.cpp", "platform/text.h", false},
        EdgeCase{"UnknownInclude", "sync/net/WebCloud.cpp", "WebCloudPrivate.h", false},
        EdgeCase{"FileOutsideLibraries", "docs/x.cpp", "platform/text.h", false},
        // Edges that are allowed.
        EdgeCase{"EngineIncludesNet", "sync/engine/WebCloudOps.cpp", "sync/net/WebCloud.h", true},
        EdgeCase{"AppIncludesEngine", "sync/app/OrvaneDlg.cpp", "sync/engine/ThreadOfDriver.h", true},
        EdgeCase{"ClientLocalIncludesWatcher", "client/local/WatcherBridge.cpp", "dirwatch/DirectoryChanges.h", true},
        EdgeCase{"UpdateSiteUsesTheExchange", "libs/updatesite/src/VersionPage.cpp", "http/Exchange.h", true},
        EdgeCase{"OtherLibsKeepApart", "libs/shm/src/SharedMemory.cpp", "http/Exchange.h", false},
        EdgeCase{"ClientLocalIncludesCore", "client/local/LocalDownload.cpp", "client/core/LocalFileIO.h", true},
        EdgeCase{"UiIncludesCommon", "sync/ui/StateDoingPage.cpp", "sync/common/FeedLists.h", true},
        EdgeCase{"ProgramIncludesUi", "sync/program/main.cpp", "sync/ui/SystemTray.h", true},
        EdgeCase{"DesktopIncludesUi", "sync/desktop/Desktop.cpp", "sync/ui/StateDlg.h", true},
        EdgeCase{"DesktopIncludesApp", "sync/desktop/Desktop.cpp", "sync/app/SyncShell.h", true},
        EdgeCase{"AppIncludesDesktop", "sync/app/OrvaneDlg.cpp", "sync/desktop/Desktop.h", false},
        EdgeCase{"UiIncludesDesktop", "sync/ui/StateDlg.cpp", "sync/desktop/Desktop.h", false},
        EdgeCase{"ProgramIncludesDesktop", "sync/program/main.cpp", "sync/desktop/Desktop.h", true},
        // A main inside the application's folder is the application's: it never reaches up.
        EdgeCase{"AppMainIncludesDesktop", "sync/app/main.cpp", "sync/desktop/Desktop.h", false},
        EdgeCase{"ProgramIncludesApp", "sync/program/main.cpp", "sync/app/OrvaneApp.h", true},
        EdgeCase{"ProgramHeaderIsNoLibrary", "sync/app/OrvaneApp.cpp", "sync/program/main.h", false},
        EdgeCase{"ToolsIncludeAnything", "tools/dravik-pipe-client/pipe_client.cpp", "sync/app/SyncPipeLink.h", true},
        EdgeCase{"ClientUiIncludesLocal", "client/ui/DravikClientDlg.cpp", "client/local/SyncProgramLink.h", true},
        EdgeCase{"ClientUiIncludesQtLayer", "client/ui/QtClientTray.cpp", "platform/qt/DialogUnits.h", true},
        EdgeCase{"ClientLocalIncludesUi", "client/local/ClientControl.cpp", "client/ui/LoginDlg.h", false},
        EdgeCase{"ClientUiIncludesApp", "client/ui/LoginDlg.cpp", "client/app/DravikClientApp.h", false},
        EdgeCase{"ClientAppIncludesUi", "client/app/DravikClientApp.cpp", "client/ui/DravikClientDlg.h", true},
        EdgeCase{"ClientProgramIncludesApp", "client/program/main.cpp", "client/app/DravikClientApp.h", true},
        EdgeCase{"ClientProgramIncludesDesktop", "client/program/main.cpp", "client/desktop/QtRunDesktop.h", true},
        EdgeCase{"ClientDesktopIncludesApp", "client/desktop/QtRunDesktop.cpp", "client/app/ClientRunDesktop.h",
                 true},
        EdgeCase{"ClientDesktopIncludesQtLayer", "client/desktop/QtRunDesktop.cpp", "platform/qt/LoopPump.h", true},
        EdgeCase{"ClientAppIncludesDesktop", "client/app/DravikClientApp.cpp", "client/desktop/QtClientWindows.h",
                 false},
        EdgeCase{"ClientAppIncludesQtLayer", "client/app/DravikClientApp.cpp", "platform/qt/LoopPump.h", false},
        EdgeCase{"ClientAppIncludesQt", "client/app/DravikClientApp.cpp", "QApplication", false, "", true},
        EdgeCase{"ClientDesktopIncludesQt", "client/desktop/QtRunDesktop.cpp", "QCoreApplication", true, "", true},
        EdgeCase{"ClientUiIncludesDesktop", "client/ui/LoginDlg.cpp", "client/desktop/QtClientWindows.h", false},
        EdgeCase{"AppTestIncludesDesktop", "tests/client/app/DravikClientApp_test.cpp",
                 "client/desktop/QtRunDesktop.h", false},
        EdgeCase{"DesktopTestIncludesApp", "tests/client/desktop/QtRunDesktop_test.cpp",
                 "client/app/DravikClientApp.h", true},
        EdgeCase{"ClientAppIncludesSync", "client/app/DravikClientApp.cpp", "sync/ui/SystemTray.h", false},
        EdgeCase{"FuzzTargetsIncludeAnything", "fuzz/sync_pipe.cpp", "sync/app/SyncPipeLink.h", true},
        EdgeCase{"MsgloopIsPlatform", "sync/app/OrvaneApp.cpp", "platform/msgloop/MessageLoop.h", true},
        // The windows of the sync program use only the common layer, the platform and Qt.
        EdgeCase{"SyncUiIncludesLib", "sync/ui/StateDlg.cpp", "xml/XmlDocument.h", false},
        EdgeCase{"SyncUiIncludesQtLayer", "sync/ui/SystemTray.cpp", "platform/qt/DialogUnits.h", true},
        // Internal headers stay inside their library.
        EdgeCase{"InternalHeaderBeside", "sync/net/WinHttpClient.cpp", "HttpAttempt.h", true, "sync/net/HttpAttempt.h"},
        EdgeCase{"InternalHeaderFromAbove", "sync/engine/WebCloudOps.cpp", "sync/net/HttpAttempt.h", false,
                 "sync/net/HttpAttempt.h"},
        EdgeCase{"InternalHeaderFromTest", "tests/sync/net/WinHttpClient_test.cpp", "sync/net/HttpAttempt.h", false,
                 "sync/net/HttpAttempt.h"},
        EdgeCase{"InternalHeaderFromFuzz", "fuzz/server_listing.cpp", "sync/net/WebCloudInternal.h", false,
                 "sync/net/WebCloudInternal.h"},
        EdgeCase{"PublicHeaderFromTest", "tests/sync/net/WinHttpClient_test.cpp", "sync/net/WinHttpClient.h", true,
                 "sync/net/include/sync/net/WinHttpClient.h"},
        // Qt stays above the engine and the control layers.
        EdgeCase{"EngineIncludesQt", "sync/engine/ThreadOfDriver.cpp", "QString", false, "", true},
        EdgeCase{"ClientLocalIncludesQt", "client/local/ClientControl.cpp", "QObject", false, "", true},
        EdgeCase{"ClientUiIncludesQt", "client/ui/LoginDlg.cpp", "QDialog", true, "", true},
        EdgeCase{"EngineIncludesStd", "sync/engine/ThreadOfDriver.cpp", "queue", true, "", true},
        // A test folder: its library and those below it, the test server, tests/support.
        EdgeCase{"TestIncludesItsLibrary", "tests/sync/net/WebCloudLogin_test.cpp", "sync/net/WebCloud.h", true},
        EdgeCase{"TestIncludesBelow", "tests/sync/net/WebCloudLogin_test.cpp", "sync/common/TreeNode.h", true},
        EdgeCase{"NetTestIncludesEngine", "tests/sync/net/WebCloudLogin_test.cpp", "sync/engine/ProgressTarget.h",
                 false},
        EdgeCase{"CoreTestIncludesLocal", "tests/client/core/HttpClient_test.cpp",
                 "client/local/WinFileSystemAdapter.h", false},
        EdgeCase{"TestIncludesTestServer", "tests/client/local/TransferManage_test.cpp", "testserver/TestServer.h",
                 true},
        EdgeCase{"TestIncludesSupport", "tests/client/local/TransferManage_test.cpp", "support/ClientTestSupport.h",
                 true, "tests/support/ClientTestSupport.h"},
        EdgeCase{"TestIncludesItsOwnFixture", "tests/sync/net/WebCloudLogin_test.cpp", "WebCloudFixture.h", true,
                 "tests/sync/net/WebCloudFixture.h"},
        EdgeCase{"TestIncludesAnotherTestFolder", "tests/client/app/DravikClientApp_test.cpp",
                 "client/ui/UiFakes.h", false, "tests/client/ui/UiFakes.h"},
        EdgeCase{"TestFolderOutsideLibraries", "tests/docs/x_test.cpp", "platform/text.h", false},
        EdgeCase{"LayoutTestIncludesProduct", "tests/layout/Layout_test.cpp", "platform/text.h", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
