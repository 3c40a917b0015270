#include "platform/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Md5Test, KnownDigests) {
    EXPECT_EQ(plat::Md5HexLower(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(plat::Md5HexLower("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(plat::Md5HexLower("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(plat::Md5HexLower(std::string("\0\0", 2)), plat::Md5HexLower(std::string(2, '\0')));
}

TEST(Md5Test, PiecewiseEqualsWholeAndFinalResets) {
    const std::string text(200000, 'x');
    plat::Md5 md5;
    for (std::size_t i = 0; i < text.size(); i += 4093) {
        md5.Update(text.data() + i, std::min<std::size_t>(4093, text.size() - i));
    }
    EXPECT_EQ(md5.FinalHexLower(), plat::Md5HexLower(text));
    md5.Update("abc", 3);
    EXPECT_EQ(md5.FinalHexLower(), "900150983cd24fb0d6963f7d28e17f72");
    md5.Update(nullptr, 0);
    EXPECT_EQ(md5.FinalHexLower(), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
