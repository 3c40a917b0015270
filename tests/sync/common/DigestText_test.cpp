#include "sync/common/DigestText.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sync/common/BaseFunc.h"

namespace {

// Texts of every form a checksum can take: packed digests of either case, digits only, and
// texts kept as they are (mixed case, wrong length, not hex, empty).
const std::vector<std::string> kTexts = {
    "0123456789ABCDEF0123456789ABCDEF", "0123456789abcdef0123456789abcdef", "0123456789AbCdEf0123456789ABCDEF",
    "01234567890123456789012345678901", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "00000000000000000000000000000000",
    "0123456789ABCDEF0123456789ABCDE",  "0123456789ABCDEF0123456789ABCDEF0", "0123456789ABCDEF0123456789ABCDEG",
    "abc",                              "",                                 "d41d8cd98f00b204e9800998ecf8427e",
    "D41D8CD98F00B204E9800998ECF8427E",
};

TEST(DigestTextTest, EveryTextReadsBackAsGiven) {
    for (const std::string& text : kTexts) {
        DigestText digest(text);
        EXPECT_EQ(digest.str(), text);
        EXPECT_EQ(std::string(digest), text);
        EXPECT_EQ(digest.size(), text.size()) << text;
        EXPECT_EQ(digest.empty(), text.empty()) << text;
        EXPECT_TRUE(digest == text) << text;

        DigestText copy(digest);
        DigestText assigned;
        assigned = digest;
        DigestText moved(std::move(copy));
        EXPECT_EQ(assigned.str(), text);
        EXPECT_EQ(moved.str(), text);
        EXPECT_TRUE(copy.empty());

        assigned = "other text";
        EXPECT_EQ(assigned.str(), "other text");
        assigned.clear();
        EXPECT_TRUE(assigned.empty());
        EXPECT_EQ(assigned.str(), "");
    }
}

// Equality, equality ignoring case and order agree with the texts themselves for every
// pair of forms.
TEST(DigestTextTest, ComparesAsItsText) {
    for (const std::string& a : kTexts) {
        for (const std::string& b : kTexts) {
            const DigestText da(a), db(b);
            EXPECT_EQ(da == db, a == b) << a << " / " << b;
            EXPECT_EQ(da < db, a < b) << a << " / " << b;
            EXPECT_EQ(BaseFunc::EqualNoCase(da, db), BaseFunc::EqualNoCase(a, b)) << a << " / " << b;
            EXPECT_EQ(BaseFunc::EqualNoCase(da, b), BaseFunc::EqualNoCase(a, b)) << a << " / " << b;
            EXPECT_EQ(BaseFunc::EqualNoCase(a, db), BaseFunc::EqualNoCase(a, b)) << a << " / " << b;
        }
    }
}

TEST(DigestTextTest, IsSmallerThanTheTextItReplaces) {
    EXPECT_LT(sizeof(DigestText), sizeof(std::string));
}

}  // namespace
