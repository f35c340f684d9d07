#include "core/settings.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/fsops.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

using test::Exists;
using test::PermissionsApply;
using test::ReadFile;
using test::TempTree;

// Sets an environment variable for the scope of a test and restores it afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }

  private:
    void Set(const std::optional<std::string>& value) {
#ifdef _WIN32
        // An empty value removes the variable on Windows.
        _putenv_s(name_, value ? value->c_str() : "");
#else
        if (value) {
            setenv(name_, value->c_str(), 1);
        } else {
            unsetenv(name_);
        }
#endif
    }
    const char* name_;
    std::optional<std::string> old_;
};

TEST(TextToInt, AcceptsDecimalAndHexadecimalForms) {
    const std::vector<std::pair<std::string, std::int32_t>> valid = {
        {"0x2", 2},
        {"0X1f", 31},
        {"$3", 3},
        {"x1", 1},
        {"XaB", 171},
        {"02", 2},
        {" 7", 7},
        {"  +5", 5},
        {"-0", 0},
        {"-0x10", -16},
        {"-$1", -1},
        {"$FFFFFFFF", -1},
        {"$000000001", 1},
        {"$80000000", INT32_MIN},
        {"-$80000000", INT32_MIN},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
    };
    for (const auto& [text, expected] : valid) {
        std::int32_t value = 12345;
        EXPECT_TRUE(TryTextToInt(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
        EXPECT_EQ(TextToInt(text), expected) << text;
    }
}

TEST(TextToInt, RefusesEverythingElse) {
    for (const std::string text :
         {"2a",  "two",        "",           " ",           "7 ",         "\t7",  "1 2",
          "-",   "+",          "$",          "0x",          "x",          "--1",  "+-1",
          "x-1", "4294967297", "2147483648", "-2147483649", "$100000000", "0x1g", "١"}) {
        std::int32_t value = 12345;
        EXPECT_FALSE(TryTextToInt(text, value)) << text;
        EXPECT_EQ(value, 12345) << text;
    }
    try {
        TextToInt("2a");
        ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'2a' is not a valid integer value");
    }
}

#ifdef _WIN32
TEST(SettingsFilePath, PerUserUnderAppData) {
    ScopedEnv appData("APPDATA", "C:\\Users\\someone\\AppData\\Roaming");
    EXPECT_EQ(SettingsFilePath(), "C:\\Users\\someone\\AppData\\Roaming\\Ostrivane\\Quillmere.ini");
}

// The per-user file is read first; without it the VirtualStore copy, where Windows put a
// 32-bit program's write to the system directory, then the system directory's own file.
TEST(LoadSameFilePolicy, ReadsThePerUserFileFirstThenTheOlderPlaces) {
    TempTree tree;
    ScopedEnv appData("APPDATA", tree.path("roaming"));
    ScopedEnv localAppData("LOCALAPPDATA", tree.path("local"));
    const std::vector<std::string> files = SettingsFilesToRead();
    ASSERT_GE(files.size(), 3u);
    EXPECT_EQ(files[0], tree.path("roaming\\Ostrivane\\Quillmere.ini"));
    // Every older place is either in the VirtualStore or in the system directory.
    int virtualStore = 0;
    for (size_t i = 1; i < files.size(); ++i) {
        EXPECT_TRUE(files[i].ends_with("\\Quillmere.ini")) << files[i];
        if (files[i].starts_with(tree.path("local\\VirtualStore\\"))) ++virtualStore;
    }
    EXPECT_GE(virtualStore, 1);
    // Nothing anywhere (as long as this system directory holds none).
    bool systemFile = false;
    for (size_t i = 1; i < files.size(); ++i) systemFile = systemFile || test::Exists(files[i]);
    if (!systemFile) {
        EXPECT_EQ(LoadSameFilePolicy(), 0);
    }
    // The VirtualStore copy answers when there is no per-user file.
    std::string stored;
    for (size_t i = 1; i < files.size(); ++i)
        if (files[i].starts_with(tree.path("local"))) stored = files[i];
    ASSERT_FALSE(stored.empty());
    ASSERT_TRUE(CreateFolderChain(stored.substr(0, stored.rfind('\\'))));
    tree.write(stored.substr(tree.root().size() + 1), "[Parameter]\r\nSameFile=2\r\n");
    EXPECT_EQ(LoadSameFilePolicy(), 2);
    // Once written, the per-user file wins; the older file is left as it was.
    SaveSameFilePolicy(3);
    EXPECT_EQ(ReadFile(files[0]), "[Parameter]\nSameFile=3\n");
    EXPECT_EQ(LoadSameFilePolicy(), 3);
    EXPECT_EQ(ReadFile(stored), "[Parameter]\r\nSameFile=2\r\n");
    // A per-user file without the key still is the one that counts.
    tree.write("roaming\\Ostrivane\\Quillmere.ini", "[Other]\r\n");
    EXPECT_EQ(LoadSameFilePolicy(), 0);
}
#else
TEST(SettingsFilePath, FollowsXdgConfigHomeThenHome) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(SettingsFilePath(), "/cfg/Quillmere.ini");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "");
        EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/Quillmere.ini");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/Quillmere.ini");
}
#endif

int LoadFrom(const TempTree& tree, const std::string& content) {
    return LoadSameFilePolicy(tree.write("Quillmere.ini", content));
}

TEST(LoadSameFilePolicy, ReturnsTheStoredNumber) {
    TempTree tree;
    for (const std::string value : {"1", "2", "3", "4", "0", "-1", "5", "99"}) {
        EXPECT_EQ(LoadFrom(tree, "[Parameter]\nSameFile=" + value + "\n"), std::stoi(value));
    }
    const std::vector<std::pair<std::string, int>> texts = {
        {"0x2", 2},
        {"$3", 3},
        {"x1", 1},
        {"02", 2},
        {"2a", 0},
        {"two", 0},
        {"", 0},
        {"0x", 0},
        {"4294967297", 0},
        {"$FFFFFFFF", -1},
        {"\"3\"", 3},
        {"'4'", 4},
        {"\"3'", 0},
        {std::string(2047, '0') + "5", 0},
        {std::string(2046, '0') + "5", 5},
    };
    for (const auto& [text, expected] : texts) {
        EXPECT_EQ(LoadFrom(tree, "[Parameter]\nSameFile=" + text + "\n"), expected) << text;
    }
}

TEST(LoadSameFilePolicy, FindsTheKeyTheWayTheFormatSays) {
    TempTree tree;
    EXPECT_EQ(LoadFrom(tree, "  [ parameter ]  \r\n\t samefile \t=  3 \r\n"), 3);
    EXPECT_EQ(LoadFrom(tree,
                       "SameFile=1\n[Other]\nSameFile=2\n;SameFile=3\n[PARAMETER]\n"
                       "; SameFile=1\nOther=1\nSAMEFILE=4\nSameFile=2\n"),
              4);
    EXPECT_EQ(LoadFrom(tree, "[Parameter]\nOther=1\n[Parameter]\nSameFile=2"), 2);
    EXPECT_EQ(LoadFrom(tree, "\xEF\xBB\xBF[Parameter]\nSameFile=3\n"), 3);
    EXPECT_EQ(LoadFrom(tree, "[Other]\nSameFile=3\n"), 0);
    EXPECT_EQ(LoadFrom(tree, "[Parameter]\nSame File=3\n"), 0);
    // Only whole lines are comments: text after a value is part of it.
    EXPECT_EQ(LoadFrom(tree, "[Parameter]\n#SameFile=1\nSameFile=3 ; three\n"), 0);
    EXPECT_EQ(LoadSameFilePolicy(tree.path("missing/Quillmere.ini")), 0);
    EXPECT_FALSE(Exists(tree.path("missing")));
}

TEST(SaveSameFilePolicy, CreatesFolderAndFile) {
    TempTree tree;
#ifdef _WIN32
    ScopedEnv appData("APPDATA", tree.path("a"));
    tree.mkdir("a");
    const std::string written = tree.path("a/Ostrivane/Quillmere.ini");
#else
    ScopedEnv xdg("XDG_CONFIG_HOME", tree.path("a/b"));
    const std::string written = tree.path("a/b/Quillmere.ini");
#endif
    SaveSameFilePolicy(4);
    EXPECT_EQ(ReadFile(written), "[Parameter]\nSameFile=4\n");
    SaveSameFilePolicy(-7);
    EXPECT_EQ(LoadSameFilePolicy(), -7);
}

TEST(SaveSameFilePolicy, KeepsOtherContentByteForByte) {
    TempTree tree;
    struct Case {
        std::string before, after;
    };
    const std::vector<Case> cases = {
        {"; comment\n[Win]\nA = 1\n\n[ parameter ]\nx=y \n  samefile = 1 \nz\n",
         "; comment\n[Win]\nA = 1\n\n[ parameter ]\nx=y \nSameFile=3\nz\n"},
        {"[Parameter]\r\nx=1\r\n\r\n[Next]\r\nSameFile=1\r\n",
         "[Parameter]\r\nx=1\r\nSameFile=3\r\n\r\n[Next]\r\nSameFile=1\r\n"},
        {"[Other]\r\nk=v", "[Other]\r\nk=v\r\n[Parameter]\r\nSameFile=3\r\n"},
        {"[Parameter]", "[Parameter]\nSameFile=3\n"},
        {"", "[Parameter]\nSameFile=3\n"},
    };
    for (const Case& c : cases) {
        std::string file = tree.write("Quillmere.ini", c.before);
        SaveSameFilePolicy(3, file);
        EXPECT_EQ(ReadFile(file), c.after) << c.before;
        EXPECT_EQ(LoadSameFilePolicy(file), 3) << c.before;
    }
}

// The check-after-write option beside the policy: "1" alone means on; writing it keeps the
// policy and everything else, and the key is found as the policy's is.
TEST(VerifyAfterCopy, StoredBesideThePolicyAndOnlyOneMeansOn) {
    TempTree tree;
    const std::string file = tree.write("Quillmere.ini", "[Other]\r\nVerify=1\r\n");
    EXPECT_FALSE(LoadVerifyAfterCopy(file));
    EXPECT_FALSE(LoadVerifyAfterCopy(tree.path("missing.ini")));
    SaveSameFilePolicy(2, file);
    SaveVerifyAfterCopy(true, file);
    EXPECT_EQ(ReadFile(file), "[Other]\r\nVerify=1\r\n[Parameter]\r\nSameFile=2\r\nVerify=1\r\n");
    EXPECT_TRUE(LoadVerifyAfterCopy(file));
    EXPECT_EQ(LoadSameFilePolicy(file), 2);
    SaveVerifyAfterCopy(false, file);
    EXPECT_FALSE(LoadVerifyAfterCopy(file));
    EXPECT_EQ(LoadSameFilePolicy(file), 2);
    for (const char* text : {"[parameter]\nverify = 1\n", "[Parameter]\nVerify=1\n"})
        EXPECT_TRUE(LoadVerifyAfterCopy(tree.write("Quillmere.ini", text))) << text;
    for (const char* text : {"[Parameter]\nVerify=2\n", "[Parameter]\nVerify=yes\n",
                             "[Parameter]\nVerify=\n", "[Parameter]\nVerify=01\n"})
        EXPECT_FALSE(LoadVerifyAfterCopy(tree.write("Quillmere.ini", text))) << text;
}

#ifndef _WIN32
// POSIX permission bits (chmod); on Windows a read-only file is refused the same way, see
// RefusedWriteOfAReadOnlyFile.
TEST(SaveSameFilePolicy, RefusedWriteRaisesAndKeepsTheFile) {
    if (!PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    TempTree tree;
    std::string file = tree.write("locked/Quillmere.ini", "[Parameter]\nSameFile=2\n");
    ASSERT_EQ(chmod(tree.path("locked").c_str(), 0555), 0);
    const std::vector<std::string> refused = {file, tree.path("locked/sub/Quillmere.ini")};
    for (const std::string& path : refused) {
        try {
            SaveSameFilePolicy(1, path);
            ADD_FAILURE() << "write succeeded: " << path;
        } catch (const ESettingsError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
        }
    }
    EXPECT_EQ(ReadFile(file), "[Parameter]\nSameFile=2\n");

    // A file that cannot be read is not replaced by one that lacks its content.
    std::string unreadable = tree.write("Quillmere.ini", "[Keep]\nme=1\n");
    ASSERT_EQ(chmod(unreadable.c_str(), 0200), 0);
    EXPECT_THROW(SaveSameFilePolicy(1, unreadable), ESettingsError);
    ASSERT_EQ(chmod(unreadable.c_str(), 0600), 0);
    EXPECT_EQ(ReadFile(unreadable), "[Keep]\nme=1\n");
}
#else
TEST(SaveSameFilePolicy, RefusedWriteOfAReadOnlyFile) {
    TempTree tree;
    const std::string file = tree.write("Quillmere.ini", "[Parameter]\r\nSameFile=2\r\n");
    ASSERT_EQ(SetAttributes(file, attr::kReadOnly), 0);
    try {
        SaveSameFilePolicy(1, file);
        ADD_FAILURE() << "write succeeded";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + file);
    }
    EXPECT_EQ(ReadFile(file), "[Parameter]\r\nSameFile=2\r\n");
    ASSERT_EQ(SetAttributes(file, 0), 0);
}
#endif

}  // namespace
}  // namespace ostrivane
