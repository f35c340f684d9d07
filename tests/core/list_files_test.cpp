#include "core/list_files.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "core/fsops.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

using test::PermissionsApply;
using test::ReadFile;
using test::TempTree;
using Lines = std::vector<std::string>;

PathList ListOf(const Lines& lines) {
    PathList list;
    for (const std::string& line : lines) list.append(line);
    return list;
}

TEST(ListText, EveryEntryEndsWithCrLfAndBytesStayAsTheyAre) {
    EXPECT_EQ(ListText(ListOf({"a", "b"})), std::string("\x61\x0D\x0A\x62\x0D\x0A"));
    EXPECT_EQ(ListText(ListOf({" /tmp/é x ", ""})), " /tmp/é x \r\n\r\n");
    EXPECT_EQ(ListText(PathList()), "");
}

TEST(SetListText, LineBreakForms) {
    struct Case {
        std::string bytes;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\nc", {"a", "b", "c"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\rb\n\nc", {"a", "", "b", "", "c"}},
        {"a\r\nlast", {"a", "last"}},
        {"a\r\n\r\n", {"a", ""}},
        {"\r\n", {""}},
        {"", {}},
        {std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
        {std::string("\0a", 2), {}},
        {std::string("a\0b\0", 4), {"a"}},  // 16-bit text ends after its first character
        {"\xEF\xBB\xBF/x\r\n", {"\xEF\xBB\xBF/x"}},
        {" \tpadded \r\n", {" \tpadded "}},
    };
    for (const Case& c : cases) {
        PathList list = ListOf({"old"});
        SetListText(list, c.bytes);
        EXPECT_EQ(list.entries(), c.lines) << "bytes: " << testing::PrintToString(c.bytes);
    }
}

TEST(ListFile, SaveAndLoadKeepTheEntries) {
    TempTree tree;
    const Lines entries = {"/a b/", "c", "", "/d/é"};
    std::string file = tree.path("noext");
    SaveListFile(ListOf(entries), file);
#ifndef _WIN32
    // (On Windows "é" is written in the system code page: see SystemCodePage below.)
    EXPECT_EQ(ReadFile(file), "/a b/\r\nc\r\n\r\n/d/é\r\n");
#endif
    PathList loaded = ListOf({"stale"});
    LoadListFile(loaded, file);
    EXPECT_EQ(loaded.entries(), entries);

    SaveListFile(ListOf({"x"}), file);  // an existing file is replaced
    EXPECT_EQ(ReadFile(file), "x\r\n");
}

// Editors may begin a UTF-8 file with a byte-order mark; it is no part of the first path.
TEST(ListFile, ByteOrderMarkAtTheStartIsNotPartOfTheFirstLine) {
    TempTree tree;
    const std::string bom = "\xEF\xBB\xBF";
    struct Case {
        std::string bytes;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {bom + "/a\r\n/b\r\n", {"/a", "/b"}},
        {bom, {}},
        {bom + "\r\n/b", {"", "/b"}},
        // Only one mark goes, and only at the very start.
        {bom + bom + "/a\r\n", {bom + "/a"}},
        {"/a\r\n" + bom + "/b\r\n", {"/a", bom + "/b"}},
        {"/a" + bom + "\r\n", {"/a" + bom}},
        {" " + bom + "/a", {" " + bom + "/a"}},
#ifndef _WIN32
        // A mark cut short is no mark. (On Windows bytes that are no UTF-8 are read in the
        // system code page.)
        {"\xEF\xBB/a", {"\xEF\xBB/a"}},
#endif
    };
    const std::string file = tree.path("bom.lst");
    for (const Case& c : cases) {
        tree.write("bom.lst", c.bytes);
        PathList list = ListOf({"old"});
        LoadListFile(list, file);
        EXPECT_EQ(list.entries(), c.lines) << "bytes: " << testing::PrintToString(c.bytes);
    }

    // A first entry that begins with the mark itself (a name may) comes back whole.
    const Lines marked = {bom + "/x", "/y", bom};
    SaveListFile(ListOf(marked), file);
    EXPECT_EQ(ReadFile(file), bom + bom + "/x\r\n/y\r\n" + bom + "\r\n");
    PathList loaded;
    LoadListFile(loaded, file);
    EXPECT_EQ(loaded.entries(), marked);
    SaveListFile(ListOf({"/y", bom + "/x"}), file);
    EXPECT_EQ(ReadFile(file), "/y\r\n" + bom + "/x\r\n");
}

TEST(ListFile, EntryWithLineBreakIsRefusedAndNothingIsWritten) {
    TempTree tree;
    std::string file = tree.write("dir.lst", "kept\r\n");
    for (const std::string& bad : Lines{"b\nc", "b\rc", std::string("b\0c", 3)}) {
        try {
            SaveListFile(ListOf({"a", bad}), file);
            ADD_FAILURE() << "no error for " << testing::PrintToString(bad);
        } catch (const EListFileError& e) {
            EXPECT_NE(std::string(e.what()).find("\"b\\"), std::string::npos) << e.what();
        }
        EXPECT_EQ(ReadFile(file), "kept\r\n");
    }
    EXPECT_THROW(SaveListFile(ListOf({"x\n"}), tree.path("new.lst")), EListFileError);
    EXPECT_FALSE(test::Exists(tree.path("new.lst")));
}

#ifndef _WIN32
// POSIX only: a file size limit (setrlimit) in a forked child.
// A write that runs short (here the file size limit) reports "Stream write error" and keeps
// the list file that was there. Run in a child so the limit stays there.
TEST(ListFile, ShortWriteReportsStreamErrorAndKeepsOldFile) {
    TempTree t;
    const std::string file = t.write("dir.lst", "/old/\r\n");
    PathList big;
    for (int i = 0; i < 4000; ++i) big.append("/data/folder-" + std::to_string(i) + "/");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            SaveListFile(big, file);
        } catch (const EListFileError& e) {
            _exit(std::string(e.what()) == "Stream write error" ? 0 : 1);
        }
        _exit(2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(file), "/old/\r\n");
}

TEST(ListFile, PermissionFailuresKeepFileAndList) {
    if (!PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    TempTree tree;
    std::string file = tree.write("locked/file.lst", "old\r\n");
    ASSERT_EQ(chmod(tree.path("locked").c_str(), 0555), 0);
    try {
        SaveListFile(ListOf({"new"}), file);
        ADD_FAILURE() << "export into a read-only folder succeeded";
    } catch (const EListFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + file + "\". Permission denied");
    }
    EXPECT_EQ(ReadFile(file), "old\r\n");

    std::string unreadable = tree.write("secret.lst", "a\r\n");
    ASSERT_EQ(chmod(unreadable.c_str(), 0200), 0);
    PathList list = ListOf({"keep"});
    EXPECT_THROW(LoadListFile(list, unreadable), EListFileError);
    EXPECT_EQ(list.entries(), Lines{"keep"});
}
#endif

TEST(ListFile, OpenErrorNamesTheFullPathAndKeepsTheList) {
    TempTree tree;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(std::u8string(tree.root().begin(), tree.root().end())));
    PathList list = ListOf({"keep"});
    try {
        LoadListFile(list, "missing.lst");
        ADD_FAILURE() << "no error for a missing file";
    } catch (const EListFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + tree.path("missing.lst") +
                                             "\". " + ErrorText(error::kNotFound));
    }
    // (Under Wine the folder the test started in may have no Windows name to go back to.)
    std::error_code ec;
    std::filesystem::current_path(cwd, ec);
    EXPECT_EQ(list.entries(), Lines{"keep"});
#ifndef _WIN32
    try {
        LoadListFile(list, tree.root());
        ADD_FAILURE() << "no error for a folder";
    } catch (const EListFileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file \"" + tree.root() + "\". Is a directory");
    }
    EXPECT_EQ(list.entries(), Lines{"keep"});
    // A FIFO chosen as list file is refused at once instead of waiting for a writer.
    const std::string fifo = tree.path("pipe.lst");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(LoadListFile(list, fifo), EListFileError);
    EXPECT_EQ(list.entries(), Lines{"keep"});
#endif
}

TEST(ImportSourceList, TakesExistingFilesAndFoldersOnce) {
    TempTree tree;
    std::string file = tree.write("f.txt", "x");
    std::string folder = tree.mkdir("dir");
    const std::string sep(1, platform::kSeparator);
    const Lines lines = {file, tree.path("missing"), folder + sep, "", folder,
                         file, "\xEF\xBB\xBF" + file};
    std::string lst = tree.path("in.lst");
    SaveListFile(ListOf(lines), lst);

    PathList scratch = ListOf({"old"});
    PathList sources = ListOf({folder});
    ImportSourceList(lst, scratch, sources);
    EXPECT_EQ(scratch.entries(), lines);
    // The folder with "/" is the listed folder, copied under the same name.
    EXPECT_EQ(sources.entries(), (Lines{folder, file}));
}

TEST(ImportDestinationList, AppendsNewFoldersAndFlagsTheRest) {
    TempTree tree;
    std::string a = tree.mkdir("a") + platform::kSeparator, b = tree.mkdir("b") + platform::kSeparator;
    std::string file = tree.write("f", "");
    PathList scratch, destinations = ListOf({a});
    int added = 0;
    auto onAdded = [&] { EXPECT_EQ(destinations.count(), 1 + ++added); };

    // Only new existing folders: one without "/" is the listed folder in another spelling.
    std::string lst = tree.path("good.lst");
    SaveListFile(ListOf({b}), lst);
    EXPECT_FALSE(ImportDestinationList(lst, scratch, destinations, onAdded).skipped);
    EXPECT_EQ(destinations.entries(), (Lines{a, b}));
    EXPECT_EQ(added, 1);

    for (const std::string& skipped : Lines{"", file, tree.path("gone/"), b, tree.path("a")}) {
        SaveListFile(ListOf({skipped}), lst);
        const DestinationImport result = ImportDestinationList(lst, scratch, destinations, onAdded);
        EXPECT_TRUE(result.skipped) << skipped;
        EXPECT_EQ(result.refusedRoots, 0) << skipped;
    }
    EXPECT_EQ(destinations.count(), 2);

    // Exporting and importing the same list adds nothing and flags it.
    SaveListFile(destinations, lst);
    EXPECT_TRUE(ImportDestinationList(lst, scratch, destinations).skipped);
    EXPECT_EQ(destinations.count(), 2);

    std::string empty = tree.write("empty.lst", "");
    EXPECT_FALSE(ImportDestinationList(empty, scratch, destinations).skipped);
    EXPECT_EQ(scratch.count(), 0);
    EXPECT_EQ(added, 1);
    EXPECT_THROW(ImportDestinationList(tree.path("none.lst"), scratch, destinations),
                 EListFileError);
}

// Emptying the root before the copy would delete everything the user may delete, so no
// spelling of it and no link to it becomes a destination; a link to a folder is that folder.
#ifdef _WIN32
TEST(ImportDestinationList, DriveRootIsRefusedInEverySpelling) {
    TempTree tree;
    const std::string a = tree.mkdir("a") + "\\";
    const Lines lines = {"C:\\", "c:\\", "C:\\.", "C:\\Windows\\..", "C:/", a};
    const std::string lst = tree.path("roots.lst");
    SaveListFile(ListOf(lines), lst);
    PathList scratch, destinations;
    const DestinationImport result = ImportDestinationList(lst, scratch, destinations);
    EXPECT_EQ(destinations.entries(), Lines{a});
    EXPECT_EQ(result.refusedRoots, 5);
    EXPECT_FALSE(result.skipped);
}

// Older versions wrote list files in the system code page (936 on Chinese Windows); a file
// is read as UTF-8 when its bytes are valid UTF-8, else in that code page, and written in
// the code page when every entry has its form there, else in UTF-8.
TEST(ListFile, SystemCodePage) {
    auto inCodePage = [](const std::wstring& text, std::string& bytes) {
        BOOL lossy = FALSE;
        const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr,
                                          0, nullptr, &lossy);
        if (n <= 1 || lossy) return false;
        bytes.resize(static_cast<size_t>(n - 1));
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, bytes.data(), n,
                            nullptr, nullptr);
        return true;
    };
    // A name of the code page that is not ASCII: Chinese for 936, others for Western or
    // Cyrillic systems.
    const std::vector<std::pair<std::wstring, std::string>> names = {
        {L"\u62a5\u544a", "报告"}, {L"\u00c4rger", "Ärger"}, {L"\u041f\u0440\u0438", "При"}};
    std::string utf8, bytes;
    for (const auto& [wide, text] : names) {
        if (inCodePage(wide, bytes) && bytes != text) {
            utf8 = text;
            break;
        }
    }
    if (utf8.empty()) GTEST_SKIP() << "the system code page " << GetACP() << " has none of the names";
    TempTree tree;
    // Read: the code page's bytes, and UTF-8 of the same name.
    const std::string lst = tree.write("old.lst", "C:\\" + bytes + "\r\n");
    PathList list;
    LoadListFile(list, lst);
    EXPECT_EQ(list.entries(), Lines{"C:\\" + utf8});
    tree.write("new.lst", "C:\\" + utf8 + "\r\n");
    LoadListFile(list, tree.path("new.lst"));
    EXPECT_EQ(list.entries(), Lines{"C:\\" + utf8});
    // Written in the code page while every entry has its form there.
    SaveListFile(ListOf({"C:\\" + utf8, "plain"}), lst);
    EXPECT_EQ(ReadFile(lst), "C:\\" + bytes + "\r\nplain\r\n");
    // One entry beyond the code page (a character outside the Basic Multilingual Plane is in
    // none): the whole file in UTF-8, read back unchanged.
    const Lines wide = {"C:\\" + utf8, "C:\\\xF0\x9F\x93\x81"};
    SaveListFile(ListOf(wide), lst);
    EXPECT_EQ(ReadFile(lst), wide[0] + "\r\n" + wide[1] + "\r\n");
    LoadListFile(list, lst);
    EXPECT_EQ(list.entries(), wide);
}
#else
TEST(ImportDestinationList, FileSystemRootIsRefusedInEverySpelling) {
    TempTree tree;
    const std::string a = tree.mkdir("a") + "/";
    ASSERT_EQ(symlink("/", tree.path("to-root").c_str()), 0);
    ASSERT_EQ(symlink(tree.path("a").c_str(), tree.path("to-a").c_str()), 0);
    const Lines lines = {"/",
                         "//",
                         "/.",
                         "/..",
                         "/tmp/..",
                         tree.path("to-root"),
                         a,
                         tree.path("to-root/"),
                         tree.path("to-a"),
                         tree.path("to-a/")};
    const std::string lst = tree.path("roots.lst");
    SaveListFile(ListOf(lines), lst);

    PathList scratch, destinations;
    int added = 0;
    DestinationImport result = ImportDestinationList(lst, scratch, destinations, [&] { ++added; });
    // The links to "a" name the folder listed already.
    EXPECT_EQ(destinations.entries(), Lines{a});
    EXPECT_EQ(added, 1);
    EXPECT_EQ(result.refusedRoots, 7);
    EXPECT_TRUE(result.skipped);
    EXPECT_EQ(scratch.entries(), lines);

    // Beside a line that is skipped, both are told; a listed line stays a skipped one.
    SaveListFile(ListOf({tree.path("gone/"), "/", a}), lst);
    result = ImportDestinationList(lst, scratch, destinations);
    EXPECT_TRUE(result.skipped);
    EXPECT_EQ(result.refusedRoots, 1);
    EXPECT_EQ(destinations.count(), 1);
}
#endif

// A list file written by an editor that begins it with a byte-order mark imports its first
// line on both sides.
TEST(ImportLists, ByteOrderMarkBeforeTheFirstLineIsIgnored) {
    TempTree tree;
    const std::string first = tree.mkdir("first"), second = tree.mkdir("second");
    const std::string lst =
        tree.write("bom.lst", "\xEF\xBB\xBF" + first + "\r\n" + second + "\r\n");
    PathList scratch, sources, destinations;
    ImportSourceList(lst, scratch, sources);
    EXPECT_EQ(sources.entries(), (Lines{first, second}));
    const DestinationImport result = ImportDestinationList(lst, scratch, destinations);
    EXPECT_EQ(destinations.entries(), (Lines{first, second}));
    EXPECT_FALSE(result.skipped);
}

}  // namespace
}  // namespace ostrivane
