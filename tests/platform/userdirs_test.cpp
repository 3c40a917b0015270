#include "platform/userdirs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

namespace sfs = std::filesystem;
using testsupport::Sandbox;

// Sets or clears an environment variable for one scope.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) saved_ = old;
        if (value != nullptr) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~EnvOverride() {
        if (had_) setenv(name_, saved_.c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string saved_;
};

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

TEST(UserDirsTest, XdgFoldersFollowTheEnvironment) {
    Sandbox box;
    EXPECT_EQ(plat::HomeDir(), box.Home().string());
    EXPECT_EQ(plat::ConfigHome(), box.ConfigHome().string());
    EXPECT_EQ(plat::DataHome(), box.DataHome().string());
    {
        EnvOverride a("XDG_CONFIG_HOME", nullptr);
        EnvOverride b("XDG_DATA_HOME", "relative/ignored");
        EnvOverride c("XDG_DOCUMENTS_DIR", nullptr);
        EXPECT_EQ(plat::ConfigHome(), (box.Home() / ".config").string());
        EXPECT_EQ(plat::DataHome(), (box.Home() / ".local/share").string());
        EXPECT_EQ(plat::DocumentsDir(), (box.Home() / "Documents").string());
    }
    EnvOverride docs("XDG_DOCUMENTS_DIR", "/srv/docs");
    EXPECT_EQ(plat::DocumentsDir(), "/srv/docs");
}

TEST(UserDirsTest, RuntimeDirIsPrivate) {
    Sandbox box;
    EXPECT_EQ(plat::RuntimeDir(), box.RuntimeDir().string());

    const auto fresh = box.Root() / "new/level/run";
    {
        EnvOverride env("DRAVIK_RUNTIME_DIR", fresh.c_str());
        EXPECT_EQ(plat::RuntimeDir(), fresh.string());
        EXPECT_EQ(ModeOf(fresh.string()), 0700u);
    }

    const auto loose = box.Dir("loose");
    ::chmod(loose.c_str(), 0777);
    {
        EnvOverride env("DRAVIK_RUNTIME_DIR", loose.c_str());
        EXPECT_EQ(plat::RuntimeDir(), loose.string());
        EXPECT_EQ(ModeOf(loose.string()), 0700u);  // tightened
    }

    const auto link = box.Root() / "link";
    sfs::create_directory_symlink(box.RuntimeDir(), link);
    {
        EnvOverride env("DRAVIK_RUNTIME_DIR", link.c_str());
        EXPECT_EQ(plat::RuntimeDir(), "");
    }
    testsupport::WriteFile(box.Root() / "file", "x");
    {
        EnvOverride env("DRAVIK_RUNTIME_DIR", (box.Root() / "file").c_str());
        EXPECT_EQ(plat::RuntimeDir(), "");
    }
    {
        EnvOverride env("DRAVIK_RUNTIME_DIR", nullptr);
        EXPECT_EQ(plat::RuntimeDir(), (box.RuntimeDir() / "dravik").string());
        EXPECT_EQ(ModeOf((box.RuntimeDir() / "dravik").string()), 0700u);
    }
}

TEST(UserDirsTest, RuntimeDirRefusesAFolderOfAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
    Sandbox box;
    const auto foreign = box.Dir("foreign");
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    EnvOverride env("DRAVIK_RUNTIME_DIR", foreign.c_str());
    EXPECT_EQ(plat::RuntimeDir(), "");
}

TEST(UserDirsTest, ASharedRuntimeNameTakenByOthersFallsBackToTheUsersOwnCache) {
    Sandbox box;
    const std::string own = (box.Root() / "cache/dravik-runtime").string();
    const auto other = box.Dir("other");
    testsupport::WriteFile(box.Root() / "a-file", "x");
    sfs::create_directory_symlink(other, box.Root() / "a-link");
    std::vector<std::string> taken = {(box.Root() / "a-file").string(), (box.Root() / "a-link").string()};
    if (::geteuid() == 0) {
        // Only root can give a folder away; another user's open folder is the real case.
        const auto foreign = box.Dir("foreign");
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(foreign.c_str(), 0777), 0);
        taken.push_back(foreign.string());
    }
    for (const std::string& shared : taken) {
        SCOPED_TRACE(shared);
        EXPECT_EQ(plat::ChooseRuntimeDir(shared, own), own);
        EXPECT_EQ(ModeOf(own), 0700u);
    }
    // A free or own shared folder is taken as before; with neither usable, none.
    const std::string free = (box.Root() / "free").string();
    EXPECT_EQ(plat::ChooseRuntimeDir(free, own), free);
    EXPECT_EQ(ModeOf(free), 0700u);
    EXPECT_EQ(plat::ChooseRuntimeDir(taken[0], (box.Root() / "a-file/sub").string()), "");

}

TEST(UserDirsTest, ExecutableDirHoldsThisTest) {
    const std::string dir = plat::ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(sfs::exists(sfs::path(dir) / "platform_userdirs_test"));
}

}  // namespace
