#include "sync/common/PackedText.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sync/common/BaseFunc.h"

namespace {

// Texts of every form each kind can take: packed ones, and texts kept as they are (the
// other case, the wrong length or shape, not hex, empty).
template <class Text>
std::vector<std::string> Texts();

template <>
std::vector<std::string> Texts<DigestText>() {
    return {
        "0123456789ABCDEF0123456789ABCDEF", "0123456789abcdef0123456789abcdef", "0123456789AbCdEf0123456789ABCDEF",
        "01234567890123456789012345678901", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "00000000000000000000000000000000",
        "0123456789ABCDEF0123456789ABCDE",  "0123456789ABCDEF0123456789ABCDEF0", "0123456789ABCDEF0123456789ABCDEG",
        "abc",                              "",                                 "d41d8cd98f00b204e9800998ecf8427e",
        "D41D8CD98F00B204E9800998ECF8427E",
    };
}

template <>
std::vector<std::string> Texts<NodeRefText>() {
    const std::string store = "workspace://SpacesStore/";
    return {
        store + "0a1b2c3d-4e5f-4a6b-8c7d-0e1f2a3b4c5d",  store + "ffffffff-ffff-ffff-ffff-ffffffffffff",
        store + "00000000-0000-0000-0000-000000000000",  store + "0a1b2c3d-4e5f-4a6b-8c7d-0e1f2a3b4c5e",
        store + "0A1B2C3D-4E5F-4A6B-8C7D-0E1F2A3B4C5D",  store + "0a1b2c3d-4e5f-4a6b-8c7d-0e1f2a3b4c5",
        store + "0a1b2c3d-4e5f-4a6b-8c7d-0e1f2a3b4c5d0", store + "0a1b2c3d4-e5f-4a6b-8c7d-0e1f2a3b4c5d",
        store + "0a1b2c3d-4e5f-4a6b-8c7d-0e1f2a3b4c5g",  store + "0a1b2c3d-4e5f-4a6b-8c7d+0e1f2a3b4c5d",
        "workspace://SpacesStorX/0a1b2c3d-4e5f-4a6b-8c7d-0e1f2a3b4c5d",
        "archive://SpacesStore/0a1b2c3d-4e5f-4a6b-8c7d-0e1f2a3b4c5d",
        store,
        "n1",
        "",
    };
}

template <class Text>
class PackedTextTest : public ::testing::Test {};
using Kinds = ::testing::Types<DigestText, NodeRefText>;
TYPED_TEST_SUITE(PackedTextTest, Kinds);

TYPED_TEST(PackedTextTest, EveryTextReadsBackAsGiven) {
    for (const std::string& text : Texts<TypeParam>()) {
        TypeParam packed(text);
        EXPECT_EQ(packed.str(), text);
        EXPECT_EQ(std::string(packed), text);
        EXPECT_EQ(packed.size(), text.size()) << text;
        EXPECT_EQ(packed.empty(), text.empty()) << text;
        EXPECT_TRUE(packed == text) << text;

        TypeParam copy(packed);
        TypeParam assigned;
        assigned = packed;
        TypeParam moved(std::move(copy));
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
TYPED_TEST(PackedTextTest, ComparesAsItsText) {
    const std::vector<std::string> texts = Texts<TypeParam>();
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            const TypeParam pa(a), pb(b);
            EXPECT_EQ(pa == pb, a == b) << a << " / " << b;
            EXPECT_EQ(pa < pb, a < b) << a << " / " << b;
            EXPECT_EQ(pa.EqualNoCase(pb), BaseFunc::EqualNoCase(a, b)) << a << " / " << b;
            EXPECT_EQ(pa.EqualNoCase(b), BaseFunc::EqualNoCase(a, b)) << a << " / " << b;
        }
    }
}

TEST(PackedTextTest, DigestsCompareIgnoringCaseWithoutTurningIntoText) {
    const DigestText upper("D41D8CD98F00B204E9800998ECF8427E"), lower("d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_TRUE(BaseFunc::EqualNoCase(upper, lower));
    EXPECT_TRUE(BaseFunc::EqualNoCase(upper, "d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_TRUE(BaseFunc::EqualNoCase("D41D8CD98F00B204E9800998ECF8427E", lower));
}

TYPED_TEST(PackedTextTest, IsSmallerThanTheTextItReplaces) {
    EXPECT_LT(sizeof(TypeParam), sizeof(std::string));
}

}  // namespace
