// The edit tasks' pure rules: the name of a task's folder, the back-off of failed
// uploads, how long an edit stays watched once its application ended, and the record
// kept beside an edit copy.
#include "client/core/EditRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>

namespace {

TEST(EditTaskFolderNameTest, OnePlainNameForEachReference) {
    struct Case {
        const char* reference;
        const char* name;
    };
    const Case cases[] = {
        {"workspace://SpacesStore/abc-1_Z", "abc-1_Z"},
        {"workspace://SpacesStore/a.b", "a%2Eb"},
        {"workspace://SpacesStore/a/b", "a%2Fb"},
        {"workspace://SpacesStore/..", "%2E%2E"},
        {"workspace://SpacesStore/a%2Eb", "a%252Eb"},
        {"workspace://SpacesStore/\xC3\xA9", "%C3%A9"},
        {"workspace://SpacesStore/", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(EditTaskFolderName(c.reference), c.name) << c.reference;

    // Different references never share a folder, and no name carries a '.'.
    std::set<std::string> names;
    for (const char* id : {"a.b", "a_b", "a%2Eb", "a/b", "a-b", "A.b"}) {
        const std::string name = EditTaskFolderName(std::string("workspace://SpacesStore/") + id);
        EXPECT_TRUE(names.insert(name).second) << id;
        EXPECT_EQ(name.find('.'), std::string::npos) << id;
    }
}

TEST(EditRetryDelayTest, DoublesUpToTheLongestDelay) {
    struct Case {
        int failures;
        std::int64_t first, max, delay;
    };
    const Case cases[] = {
        {1, 2000, 300000, 2000},
        {2, 2000, 300000, 4000},
        {5, 2000, 300000, 32000},
        {9, 2000, 300000, 300000},
        {1000, 2000, 300000, 300000},
        {0, 2000, 300000, 2000},
        {3, 0, 10, 4},
        {70, 1, std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max()},
        {63, 1, std::numeric_limits<std::int64_t>::max(), std::int64_t{1} << 62},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EditRetryDelay(c.failures, c.first, c.max), c.delay) << c.failures << " " << c.first;
    }
}

TEST(EditWatchLastsTest, WhileHeldOrWithinTheGracePeriod) {
    EXPECT_TRUE(EditWatchLasts(true, 1000000, 100));
    EXPECT_TRUE(EditWatchLasts(false, 99, 100));
    EXPECT_FALSE(EditWatchLasts(false, 100, 100));
    EXPECT_FALSE(EditWatchLasts(false, 5000, 0));
}

TEST(EditCopyRecordTest, ReadsBackWhatItWrites) {
    EditCopyRecord record;
    record.reference = "workspace://SpacesStore/abc";
    record.parentRef = "workspace://SpacesStore/home";
    record.remoteFolderPath = "/CloudRoot/MyDocument/\"quoted\" \\ \xE4\xB8\xAD";
    record.remoteName = "/doc.txt";
    record.account = "alice";
    record.server = "http://127.0.0.1:1";
    record.uploadedMD5 = "0123456789ABCDEF0123456789ABCDEF";
    EditCopyRecord read;
    ASSERT_TRUE(read.FromText(record.ToText()));
    EXPECT_EQ(read.ToText(), record.ToText());
    EXPECT_EQ(read.remoteFolderPath, record.remoteFolderPath);

    EditCopyRecord untouched = read;
    for (const char* bad : {"", "{", "[]", "{\"reference\":\"x\"}", "{\"reference\":1}", "not json"}) {
        EXPECT_FALSE(untouched.FromText(bad)) << bad;
        EXPECT_EQ(untouched.ToText(), record.ToText()) << bad;
    }
}

}  // namespace
