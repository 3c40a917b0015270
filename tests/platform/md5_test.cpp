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

namespace {

// The stream digest hands whole blocks to its helper thread: streams shorter than one
// block, exactly on block edges, and longer than all blocks together (the feeder must
// wait for free blocks) must all give the plain digest.
TEST(StreamMd5Test, EqualsPlainDigestAcrossBlockEdges) {
    constexpr std::size_t kBlock = plat::StreamMd5::kBlockBytes;
    const std::size_t lengths[] = {0, 1, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock,
                                   (plat::StreamMd5::kBlocks + 3) * kBlock + 12345};
    for (const std::size_t length : lengths) {
        std::string bytes(length, '\0');
        for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
        plat::StreamMd5 stream;
        // Odd piece sizes, so that pieces straddle block edges.
        for (std::size_t at = 0, piece = 1; at < length; at += piece, piece = piece * 3 % 70001 + 1) {
            stream.Update(bytes.data() + at, std::min(piece, length - at));
        }
        EXPECT_EQ(stream.FinalHexLower(), plat::Md5HexLower(bytes)) << "length " << length;
    }
}

TEST(StreamMd5Test, AbandonedStreamEndsItsHelper) {
    // Destroyed without FinalHexLower after the helper started: must not hang or leak.
    plat::StreamMd5 stream;
    const std::string block(plat::StreamMd5::kBlockBytes * 2, 'x');
    stream.Update(block.data(), block.size());
}

}  // namespace
