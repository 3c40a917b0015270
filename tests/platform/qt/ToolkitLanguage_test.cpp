// The toolkit's own texts follow the program's language: Chinese from the system's Qt
// catalogue, back to English on "en", and a language without a catalogue leaves English.
#include "platform/qt/ToolkitLanguage.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "ToolkitLanguage_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

QString LookIn() { return QCoreApplication::translate("QFileDialog", "Look in:"); }

TEST(ToolkitLanguage, FollowsTheProgramsLanguage) {
    App();
    ASSERT_TRUE(plat::qt::UseToolkitLanguage("zh-CN")) << "the system's Qt translations are missing";
    EXPECT_NE(LookIn(), QStringLiteral("Look in:"));
    EXPECT_TRUE(plat::qt::UseToolkitLanguage("en"));
    EXPECT_EQ(LookIn(), QStringLiteral("Look in:"));
    EXPECT_FALSE(plat::qt::UseToolkitLanguage("xx-YY"));
    EXPECT_EQ(LookIn(), QStringLiteral("Look in:"));
}

}  // namespace
