// The action flags the controller derives from a listed item's permission bits.
#include "client/core/ActionFlags.h"

#include <gtest/gtest.h>

#include "client/core/CloudRecords.h"

namespace {

TEST(ActionFlagsTest, FromPermissionBits) {
    struct Case {
        std::int32_t perm;
        std::uint16_t flags;
    };
    const Case cases[] = {
        {0, 0x00},
        {kPermDown, 0x11},
        {kPermD, 0x02},
        {kPermW, 0x04},
        {kPermW | kPermDown, 0x1D},
        {kPermC, 0x60},
        {kPermCh, 0x00},
        {kPermCh | kPermC | kPermW | kPermD | kPermDown, 0x7F},
    };
    for (const Case& c : cases) EXPECT_EQ(ActionFlagsFromPermissions(c.perm), c.flags) << c.perm;
    EXPECT_EQ(kActionFlagsInRecycleBin, 0x82);
}

TEST(ActionFlagsTest, AFileNoApplicationOpensCannotBeOpenedForEditing) {
    EXPECT_EQ(WithoutApplication(0x1D), 0x15);
    EXPECT_EQ(WithoutApplication(0x04), 0x14);
}

TEST(ActionFlagsTest, ExtensionFromTheLastDot) {
    EXPECT_EQ(NameExtension("report.final.odt"), ".odt");
    EXPECT_EQ(NameExtension("README"), "");
    EXPECT_EQ(NameExtension(".bashrc"), ".bashrc");
    EXPECT_EQ(NameExtension("dot."), ".");
}

}  // namespace
