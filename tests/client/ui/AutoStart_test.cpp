// The autostart entry below a sandboxed XDG_CONFIG_HOME: written and removed, read back
// only when it runs exactly this executable, and paths that need quoting survive.
#include "client/ui/AutoStart.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/userdirs.h"
#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(AutoStart, WrittenAndRemovedInTheUsersAutostartFolder) {
    testsupport::Sandbox box;
    AutoStartEntry entry("/opt/dravik/DravikClient", plat::ConfigHome());
    const fs::path file = box.ConfigHome() / "autostart" / "DravikClient.desktop";
    EXPECT_EQ(entry.Path(), file.string());
    EXPECT_FALSE(entry.IsEnabled());
    EXPECT_TRUE(entry.Set(false)) << "removing a missing entry is no failure";

    ASSERT_TRUE(entry.Set(true));
    EXPECT_TRUE(entry.IsEnabled());
    EXPECT_EQ(ReadFile(file),
              "[Desktop Entry]\nType=Application\nName=Dravik Client\nExec=\"/opt/dravik/DravikClient\"\n"
              "Terminal=false\nX-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(entry.Set(false));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(entry.IsEnabled());
}

TEST(AutoStart, OnlyAnEntryThatRunsThisExecutableCounts) {
    testsupport::Sandbox box;
    AutoStartEntry entry("/opt/dravik/DravikClient", plat::ConfigHome());
    const fs::path file = box.ConfigHome() / "autostart" / "DravikClient.desktop";
    struct Case {
        const char* name;
        const char* text;
        bool enabled;
    };
    const Case cases[] = {
        {"unquoted", "[Desktop Entry]\nExec=/opt/dravik/DravikClient\n", true},
        {"another copy", "[Desktop Entry]\nExec=/home/me/old/DravikClient\n", false},
        {"with an argument", "[Desktop Entry]\nExec=/opt/dravik/DravikClient -firstrun\n", false},
        {"hidden", "[Desktop Entry]\nExec=/opt/dravik/DravikClient\nHidden=true\n", false},
        {"disabled", "[Desktop Entry]\nExec=/opt/dravik/DravikClient\nX-GNOME-Autostart-enabled=false\n", false},
        {"in another group", "[Desktop Action x]\nExec=/opt/dravik/DravikClient\n", false},
        {"open quote", "[Desktop Entry]\nExec=\"/opt/dravik/DravikClient\n", false},
        {"no Exec", "[Desktop Entry]\nType=Application\n", false},
    };
    for (const Case& c : cases) {
        WriteFile(file, c.text);
        EXPECT_EQ(entry.IsEnabled(), c.enabled) << c.name;
    }
}

TEST(AutoStart, PathsThatNeedQuotingReadBackExactly) {
    testsupport::Sandbox box;
    for (const char* path : {"/home/me/My Programs/DravikClient", "/opt/a\"b/$HOME/`x`/DravikClient",
                             "/opt/back\\slash/100%/DravikClient", "/opt/中文/DravikClient"}) {
        AutoStartEntry entry(path, plat::ConfigHome());
        ASSERT_TRUE(entry.Set(true)) << path;
        EXPECT_TRUE(entry.IsEnabled()) << path;
        AutoStartEntry other(std::string(path) + "2", plat::ConfigHome());
        EXPECT_FALSE(other.IsEnabled()) << path;
    }
    AutoStartEntry broken("/opt/line\nbreak/DravikClient", plat::ConfigHome());
    EXPECT_FALSE(broken.Set(true)) << "a line break cannot be written into the entry";
}

}  // namespace
