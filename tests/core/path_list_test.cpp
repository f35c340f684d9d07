#include "core/path_list.h"

#include <gtest/gtest.h>

namespace ostrivane {
namespace {

#ifndef _WIN32
// Not on Windows: Linux names are case-sensitive; Win32PathRules.FindIgnoresLetterCaseOfEveryScript is the Windows twin.
TEST(PathList, OrderLookupAndDuplicates) {
    PathList list;
    list.append("/data/b/");
    EXPECT_TRUE(list.addIfAbsent("/data/a/"));
    EXPECT_FALSE(list.addIfAbsent("/data/a/"));
    // Linux names are case-sensitive, and a trailing "/" makes another entry.
    EXPECT_TRUE(list.addIfAbsent("/data/A/"));
    EXPECT_TRUE(list.addIfAbsent("/data/a"));
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(list.at(0), "/data/b/");
    EXPECT_EQ(list.at(3), "/data/a");
    EXPECT_EQ(list.find("/data/A/"), 2);
    EXPECT_EQ(list.find("/data/a//"), -1);

    // append does not test: the first match wins.
    list.append("/data/b/");
    EXPECT_EQ(list.find("/data/b/"), 0);
}
#endif

TEST(PathList, RemovalKeepsLookupInStep) {
    PathList list;
    for (const char* p : {"x", "y", "x", "z"}) list.append(p);
    list.removeAt(-1);
    list.removeAt(99);
    EXPECT_EQ(list.count(), 4);
    list.removeAt(0);  // the later duplicate becomes the first match
    EXPECT_EQ(list.find("x"), 1);
    EXPECT_EQ(list.find("z"), 2);
    list.removeAt(1);
    EXPECT_EQ(list.find("x"), -1);
    EXPECT_EQ(list.find("z"), 1);
    EXPECT_TRUE(list.addIfAbsent("x"));
    EXPECT_EQ(list.find("x"), 2);
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.find("y"), -1);
    list.assign({"q", "q", "r"});
    EXPECT_EQ(list.find("q"), 0);
    EXPECT_EQ(list.find("r"), 2);
}

TEST(PathList, ManyEntriesStayFast) {
    PathList list;
    for (int i = 0; i < 200000; ++i) list.addIfAbsent("/tree/folder" + std::to_string(i) + "/");
    for (int i = 0; i < 200000; ++i)
        ASSERT_FALSE(list.addIfAbsent("/tree/folder" + std::to_string(i) + "/"));
    EXPECT_EQ(list.find("/tree/folder199999/"), 199999);
}

#ifndef _WIN32
// Not on Windows: "/" separators and roots; Win32PathRules.SeparatorDelimitersAndRoots is the Windows twin.
TEST(PathRules, TrailingSeparatorAndRoot) {
    EXPECT_EQ(WithTrailingSeparator("/data"), "/data/");
    EXPECT_EQ(WithTrailingSeparator("/data/"), "/data/");
    EXPECT_EQ(WithTrailingSeparator("/data//"), "/data//");
    EXPECT_EQ(WithTrailingSeparator("/数据"), "/数据/");
    EXPECT_TRUE(IsDriveRoot("/"));
    EXPECT_TRUE(IsDriveRoot("//"));
    EXPECT_FALSE(IsDriveRoot("/data/"));
    EXPECT_FALSE(IsDriveRoot(""));
    EXPECT_FALSE(IsDriveRoot("C:"));
}
#endif

}  // namespace
}  // namespace ostrivane
