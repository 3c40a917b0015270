#include "client/core/ClientLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <log4cpp/Category.hh>

#include "support/sandbox.h"

namespace {
namespace fs = std::filesystem;

TEST(ClientLog, SetupWritesBannerToRollingFile) {
    testsupport::Sandbox sandbox;
    const fs::path folder = sandbox.Root() / "data" / "Log";  // created by the set-up
    EXPECT_EQ(ClientLogPath(), "");
    ASSERT_TRUE(SetupLogging(folder.string(), "DravikClient 1.0 100%s %n"));
    const fs::path file = folder / "DravikClient.log";
    EXPECT_EQ(ClientLogPath(), file.string());
    EXPECT_EQ(ClientLog().getPriority(), 700);
    LogClientInfo("<control>line with %s and %d");
    ASSERT_NE(ClientLog().getAppender("rollfileAppender"), nullptr);

    const std::string text = testsupport::ReadFile(file);
    // "%d: %p: %m%n": a date, the priority, the message as it stands.
    EXPECT_NE(text.find(": INFO: -------------- Start Dravik Client App ---------------\nDravikClient 1.0 100%s %n\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(": INFO: <control>line with %s and %d\n"), std::string::npos) << text;
}

TEST(ClientLog, UnwritableFolderFails) {
    testsupport::Sandbox sandbox;
    testsupport::WriteFile(sandbox.Root() / "file", "x");
    EXPECT_FALSE(SetupLogging((sandbox.Root() / "file").string(), "info"));
}

}  // namespace
