#include "platform/handles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

TEST(HandlesTest, DescriptorsOpenAndClose) {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(plat::IsDescriptorOpen(fd));
    EXPECT_TRUE(plat::CloseDescriptor(fd));
    EXPECT_FALSE(plat::IsDescriptorOpen(fd));
    EXPECT_FALSE(plat::CloseDescriptor(fd)) << "a second close fails";
    EXPECT_FALSE(plat::IsDescriptorOpen(-1));
    EXPECT_FALSE(plat::CloseDescriptor(-1));
}

TEST(HandlesTest, ErrorTexts) {
    errno = ENOENT;
    EXPECT_EQ(plat::LastErrorCode(), ENOENT);
    EXPECT_EQ(plat::ErrorDescription(ENOENT), "No such file or directory");
    EXPECT_EQ(plat::ErrorDescription(0), "Success");
    EXPECT_EQ(plat::ErrorDescription(123456), "");
}

}  // namespace
