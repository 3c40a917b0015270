#include "platform/fsinfo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/sandbox.h"

namespace {

namespace sfs = std::filesystem;

TEST(FsInfoTest, MountRoots) {
    testsupport::Sandbox sandbox;
    const sfs::path dir = sandbox.Dir("sync");
    sfs::create_directory_symlink("/", sandbox.Root() / "to-root");
    EXPECT_TRUE(plat::IsMountRoot("/"));
    EXPECT_TRUE(plat::IsMountRoot("/proc"));
    EXPECT_TRUE(plat::IsMountRoot((sandbox.Root() / "to-root").string())) << "links are resolved";
    EXPECT_FALSE(plat::IsMountRoot(dir.string()));
    EXPECT_FALSE(plat::IsMountRoot((dir / "missing").string()));
    EXPECT_FALSE(plat::IsMountRoot(""));
}

TEST(FsInfoTest, LocalFoldersAreNotOnANetwork) {
    testsupport::Sandbox sandbox;
    EXPECT_FALSE(plat::IsOnNetworkFileSystem("/proc"));
    EXPECT_FALSE(plat::IsOnNetworkFileSystem((sandbox.Root() / "missing").string()));
}

TEST(FsInfoTest, NetworkFileSystemTypes) {
    struct Case {
        std::uint64_t magic;
        std::string type;
        bool network;
    };
    const Case cases[] = {
        {0x6969, "nfs4", true},        {0xFF534D42, "cifs", true},  {0xFE534D42, "smb3", true},
        {0x517B, "smbfs", true},       {0x01021997, "9p", true},    {0x65735546, "fuse.sshfs", true},
        {0x65735546, "fuse.rclone", true}, {0x65735546, "fuse.gvfsd-fuse", false},
        {0x65735546, "fuseblk", false}, {0xEF53, "ext4", false},    {0x01021994, "tmpfs", false},
        {0, "nfs", true},              {0x9123683E, "btrfs", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plat::IsNetworkFileSystemType(c.magic, c.type), c.network) << c.type;
    }
}

TEST(FsInfoTest, MountTableLines) {
    struct Case {
        std::string line;
        bool parsed;
        std::string mountPoint;
        std::string type;
    };
    const Case cases[] = {
        {"36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue", true,
         "/mnt/parent", "ext3"},
        // No optional fields, and escaped blanks, tabs and backslashes in the mount point.
        {"40 1 0:45 / /media/my\\040disk\\011x\\134y rw - fuse.sshfs host: rw", true, "/media/my disk\tx\\y",
         "fuse.sshfs"},
        // An escape that is not one stays as it stands.
        {"40 1 0:45 / /media/a\\9 rw - nfs4 h:/ rw", true, "/media/a\\9", "nfs4"},
        {"40 1 0:45 / /mnt rw", false, "", ""},           // no separator
        {"40 1 0:45 / /mnt rw -", false, "", ""},         // no type after it
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        std::string mountPoint = "unset", type = "unset";
        ASSERT_EQ(plat::ParseMountInfoLine(c.line, mountPoint, type), c.parsed) << c.line;
        if (c.parsed) {
            EXPECT_EQ(mountPoint, c.mountPoint);
            EXPECT_EQ(type, c.type);
        }
    }
}

TEST(FsInfoTest, RotationalFlagOfADiskOrItsPartition) {
    testsupport::Sandbox sandbox;
    const auto put = [](const sfs::path& dir, const std::string& flag) {
        sfs::create_directories(dir / "queue");
        std::ofstream(dir / "queue" / "rotational") << flag;
    };
    const sfs::path spinning = sandbox.Root() / "block" / "sda";
    put(spinning, "1\n");
    sfs::create_directories(spinning / "sda1");
    const sfs::path solid = sandbox.Root() / "block" / "nvme0n1";
    put(solid, "0\n");
    sfs::create_directories(solid / "nvme0n1p2");
    const sfs::path garbled = sandbox.Root() / "block" / "odd";
    put(garbled, "yes");
    struct Case {
        sfs::path dir;
        bool rotational;
    };
    const Case cases[] = {
        {spinning, true},
        {spinning / "sda1", true},  // a partition answers for its disk
        {solid, false},
        {solid / "nvme0n1p2", false},
        {garbled, false},
        {sandbox.Root() / "block" / "missing", false},
    };
    for (const Case& c : cases) EXPECT_EQ(plat::RotationalFlagOfDevice(c.dir.string()), c.rotational) << c.dir;
    // A folder without a block device of its own (or no folder at all) is not on a spinning disk.
    EXPECT_FALSE(plat::IsOnRotationalDisk("/proc"));
    EXPECT_FALSE(plat::IsOnRotationalDisk((sandbox.Root() / "missing").string()));
}

}  // namespace
