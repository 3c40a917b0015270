#include "platform/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(StringsTest, RegistersAndLoadsTexts) {
    plat::RegisterStrings({{101, u"Hello"}, {102, u"\u540C\u6B65"}});
    EXPECT_EQ(plat::LoadString(101), u"Hello");
    EXPECT_EQ(plat::LoadString(102), u"\u540C\u6B65");
    EXPECT_EQ(plat::LoadString(999999), u"");
    plat::RegisterStrings({{101, u"Replaced"}});
    EXPECT_EQ(plat::LoadString(101), u"Replaced");
    EXPECT_EQ(plat::LoadString(102), u"\u540C\u6B65");
}

TEST(StringsTest, CutsTo159Units) {
    const std::u16string longText(300, u'x');
    plat::RegisterStrings({{201, longText.c_str()}});
    EXPECT_EQ(plat::LoadString(201), std::u16string(159, u'x'));

    // A surrogate pair straddling the cut is dropped whole.
    std::u16string straddling(158, u'y');
    straddling += u"\U0001F600tail";
    plat::RegisterStrings({{202, straddling.c_str()}});
    EXPECT_EQ(plat::LoadString(202), std::u16string(158, u'y'));
}

TEST(StringsTest, ConcurrentUse) {
    std::vector<std::thread> threads;
    for (std::uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (std::uint32_t i = 0; i < 500; ++i) {
                plat::RegisterStrings({{1000 + t * 1000 + i, u"v"}});
                EXPECT_EQ(plat::LoadString(1000 + t * 1000 + i), u"v");
            }
        });
    }
    for (auto& t : threads) t.join();
}

}  // namespace
