// Every quoted include of the product follows the direction of dependencies, and the
// checker itself catches the edges that once ran the wrong way.
#include <gtest/gtest.h>

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
}

struct EdgeCase {
    const char* name;
    const char* file;
    const char* target;
    bool allowed;
};

class LayoutEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(LayoutEdges, CheckerJudgesEdge) {
    const auto& c = GetParam();
    const auto found = layout::Check({{c.file, 7, c.target, false}});
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
        EdgeCase{"ProgramIncludesUi", "sync/app/main.cpp", "sync/ui/SystemTray.h", true},
        EdgeCase{"DesktopIncludesUi", "sync/desktop/Desktop.cpp", "sync/ui/StateDlg.h", true},
        EdgeCase{"DesktopIncludesApp", "sync/desktop/Desktop.cpp", "sync/app/SyncShell.h", true},
        EdgeCase{"AppIncludesDesktop", "sync/app/OrvaneDlg.cpp", "sync/desktop/Desktop.h", false},
        EdgeCase{"UiIncludesDesktop", "sync/ui/StateDlg.cpp", "sync/desktop/Desktop.h", false},
        EdgeCase{"ProgramIncludesDesktop", "sync/app/main.cpp", "sync/desktop/Desktop.h", true},
        EdgeCase{"ToolsIncludeAnything", "tools/dravik-pipe-client/pipe_client.cpp", "sync/app/SyncPipeLink.h", true},
        EdgeCase{"ClientUiIncludesLocal", "client/ui/DravikClientDlg.cpp", "client/local/SyncProgramLink.h", true},
        EdgeCase{"ClientUiIncludesQtLayer", "client/ui/QtClientTray.cpp", "platform/qt/DialogUnits.h", true},
        EdgeCase{"ClientLocalIncludesUi", "client/local/ClientControl.cpp", "client/ui/LoginDlg.h", false},
        EdgeCase{"ClientUiIncludesApp", "client/ui/LoginDlg.cpp", "client/app/DravikClientApp.h", false},
        EdgeCase{"ClientAppIncludesUi", "client/app/DravikClientApp.cpp", "client/ui/DravikClientDlg.h", true},
        EdgeCase{"ClientAppIncludesItself", "client/app/main.cpp", "client/app/DravikClientApp.h", true},
        EdgeCase{"ClientAppIncludesSync", "client/app/DravikClientApp.cpp", "sync/ui/SystemTray.h", false},
        EdgeCase{"FuzzTargetsIncludeAnything", "fuzz/sync_pipe.cpp", "sync/app/SyncPipeLink.h", true},
        EdgeCase{"MsgloopIsPlatform", "sync/app/OrvaneApp.cpp", "platform/msgloop/MessageLoop.h", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
