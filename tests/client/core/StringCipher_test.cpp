#include "client/core/StringCipher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StringCipher, KnownAnswers) {
    const StringCipher cipher;
    EXPECT_EQ(cipher.EncryptToHex(""), "C9F8381ECC7FCA68E8E8AB6418E61260");
    EXPECT_EQ(cipher.EncryptToHex("secret"), "783A95CD295F01598C88EE472C83D0FC");
    EXPECT_EQ(cipher.DecryptFromHex("C9F8381ECC7FCA68E8E8AB6418E61260"), std::string());
    EXPECT_EQ(cipher.DecryptFromHex("783A95CD295F01598C88EE472C83D0FC"), std::string("secret"));
}

TEST(StringCipher, RoundTripsAcrossBlockBoundaries) {
    const StringCipher cipher;
    for (const std::string& plain : {std::string(15, 'a'), std::string(16, 'b'), std::string(17, 'c'),
                                     std::string("pässwörd 密码 \"<&>'"), std::string(300, 'z')}) {
        const std::string hex = cipher.EncryptToHex(plain);
        // Text + NUL, padded to whole 16-byte blocks, two upper-case digits a byte.
        EXPECT_EQ(hex.size(), ((plain.size() + 1) / 16 + 1) * 32) << plain;
        EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        EXPECT_EQ(cipher.DecryptFromHex(hex), plain);
    }
}

TEST(StringCipher, RefusesWhatDoesNotDecipher) {
    const StringCipher cipher;
    const std::string good = cipher.EncryptToHex("secret");
    std::string flipped = good;
    flipped[good.size() - 1] = flipped[good.size() - 1] == '0' ? '1' : '0';  // breaks the padding
    const std::string cases[] = {
        "",                       // nothing
        "ABC",                    // odd length
        "783a95cd295f01598c88ee472c83d0fc",  // lower case is not what the writer writes
        "ZZ3A95CD295F01598C88EE472C83D0FC",  // not hexadecimal
        good.substr(0, 30),       // not a whole block
        flipped,
    };
    for (const std::string& hex : cases) EXPECT_FALSE(cipher.DecryptFromHex(hex).has_value()) << hex;
}

}  // namespace
