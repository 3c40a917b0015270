#include "platform/mime.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/sandbox.h"

namespace {

TEST(MimeTest, LooksUpExtensionsIgnoringCase) {
    testsupport::Sandbox box;
    const auto file = box.Root() / "mime.types";
    testsupport::WriteFile(file,
                           "# comment line text/html html\n"
                           "\n"
                           "text/plain\t\ttxt text\n"
                           "image/jpeg  jpeg jpg JPE   # trailing comment xyz\n"
                           "application/x-first dup\n"
                           "application/x-second dup\n"
                           "application/x-none\n");
    struct Case {
        const char* extension;
        const char* type;
    };
    const Case cases[] = {
        {".txt", "text/plain"},       {".TXT", "text/plain"},     {".Text", "text/plain"},
        {".jpe", "image/jpeg"},       {".JPG", "image/jpeg"},     {".dup", "application/x-first"},
        {".html", ""},                {".xyz", ""},               {"txt", ""},
        {".", ""},                    {"", ""},                   {".zzz", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plat::LookupMimeTypeIn(file.string(), c.extension), c.type) << c.extension;
    }
    EXPECT_EQ(plat::LookupMimeTypeIn((box.Root() / "missing").string(), ".txt"), "");
}

TEST(MimeTest, SystemTableIsSharedAcrossThreads) {
    if (!std::filesystem::exists("/etc/mime.types")) GTEST_SKIP() << "no /etc/mime.types";
    std::vector<std::string> results(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&results, i] { results[i] = plat::LookupMimeType(".TXT"); });
    }
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, "text/plain");
    EXPECT_EQ(plat::LookupMimeType(".no-such-extension"), "");
}

}  // namespace
