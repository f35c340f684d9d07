#include "core/tree_copy.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/run_copy.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::TempTree;

// Every entry below `root`, as "path/" for folders and "path=content" for files.
std::set<std::string> Describe(const std::string& root) {
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).generic_string();
        entries.insert(e.is_directory() ? rel + "/" : rel + "=" + ReadFile(e.path().string()));
    }
    return entries;
}

// The files below `folder` in the order a depth-first, pre-order walk of the platform's
// listing meets them, each subfolder walked where it is met.
void PreOrderFiles(const fs::path& folder, const fs::path& rel, std::vector<std::string>& out) {
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.is_directory())
            PreOrderFiles(e.path(), rel / e.path().filename(), out);
        else
            out.push_back((rel / e.path().filename()).make_preferred().string());
    }
}

std::vector<std::string> AskAll(const std::string& source, const std::string& target, bool answer,
                                std::vector<Failure>* failures = nullptr) {
    std::vector<std::string> questions;
    CopyFolderTree(
        source, target, SameFilePolicy::Ask,
        [&](const std::string& q) {
            questions.push_back(q);
            return answer;
        },
        failures);
    return questions;
}

TEST(ClassifyEntry, DotEntriesFoldersAndFiles) {
    EXPECT_EQ(ClassifyEntry({".", attr::kFolder}), 2);
    EXPECT_EQ(ClassifyEntry({"..", 0}), 2);
    EXPECT_EQ(ClassifyEntry({"...", attr::kFolder | attr::kHidden}), 1);
    EXPECT_EQ(ClassifyEntry({"link", attr::kFolder | attr::kLink}), 1);
    EXPECT_EQ(ClassifyEntry({".hidden", attr::kHidden | attr::kArchive}), 0);
    EXPECT_EQ(ClassifyEntry({"link", attr::kLink}), 0);
}

TEST(CopyFolderTree, CopiesHiddenEntriesAndEmptyFolders) {
    TempTree t;
    t.write("src/a.txt", "a");
    t.write("src/.hidden", "h");
    t.write("src/.hdir/b", "b");
    t.write("src/sub/deep/c", "c");
    t.mkdir("src/empty");
    t.mkdir("src/sub/empty2");
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src"), t.path("out/deeper/tree"), SameFilePolicy::Overwrite, nullptr,
                   &failures);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Describe(t.path("out/deeper/tree")), Describe(t.path("src")));

    t.mkdir("emptysrc");
    CopyFolderTree(t.path("emptysrc/"), t.path("out/e"), SameFilePolicy::Overwrite, nullptr);
    EXPECT_TRUE(fs::is_directory(t.path("out/e")));
}

TEST(CopyFolderTree, PoliciesOnAnExistingTree) {
    TempTree t;
    t.write("src/a", "new a");
    t.write("src/sub/b", "new b");
    t.write("src/sub/c", "new c");
    auto reset = [&] {
        fs::remove_all(t.path("out"));
        t.write("out/a", "old a");
        t.write("out/sub/b", "old b");
    };

    reset();
    CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Skip, nullptr);
    EXPECT_EQ(Describe(t.path("out")),
              (std::set<std::string>{"a=old a", "sub/", "sub/b=old b", "sub/c=new c"}));

    reset();
    EXPECT_EQ(AskAll(t.path("src"), t.path("out"), false).size(), 2u);
    EXPECT_EQ(Describe(t.path("out")),
              (std::set<std::string>{"a=old a", "sub/", "sub/b=old b", "sub/c=new c"}));
    EXPECT_EQ(AskAll(t.path("src"), t.path("out"), true).size(), 3u);
    EXPECT_EQ(Describe(t.path("out")), Describe(t.path("src")));

    reset();
    CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Overwrite, nullptr);
    EXPECT_EQ(Describe(t.path("out")), Describe(t.path("src")));

    reset();
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::AutoNumber, nullptr, &failures);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Describe(t.path("out")),
              (std::set<std::string>{"a=old a", "a_1=new a", "sub/", "sub/b=old b", "sub/b_1=new b",
                                     "sub/c=new c"}));
}

TEST(CopyFolderTree, QuestionsComeInPreOrderWithTheTargetPath) {
    TempTree t;
    for (const char* f : {"x1", "x2", "x3", "s1/y1", "s1/y2", "s1/deep/z1", "s1/deep/z2", "s2/w1",
                          "s2/w2", "s3/v1"}) {
        t.write(std::string("src/") + f, "new");
        t.write(std::string("out/") + f, "old");
    }
    std::vector<std::string> walk;
    PreOrderFiles(t.path("src"), "", walk);
    std::vector<std::string> expected;
    for (const auto& f : walk)
        expected.push_back("文件" + t.path("out/") + f + "已存在，是否覆盖？");
    // A source with a trailing separator joins its subfolders without doubling it.
    EXPECT_EQ(AskAll(t.path("src/"), t.path("out"), true), expected);
}

#ifndef _WIN32
// Not on Windows: POSIX permission bits. A target folder that cannot be made for another
// reason (its parent takes no new entry) is one line too: the system's reason and the
// number of files the source folder held below it.
TEST(CopyFolderTree, ATargetFolderThatCannotBeMadeIsOneLineWithItsFileCount) {
    if (!test::PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    TempTree t;
    t.write("src/sub/x", "x");
    t.write("src/sub/deeper/y", "y");
    t.write("src/z", "z");
    t.mkdir("out");
    ASSERT_EQ(chmod(t.path("out").c_str(), 0555), 0);
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Overwrite, nullptr, &failures);
    chmod(t.path("out").c_str(), 0755);
    std::map<std::string, std::string> byPath;
    for (const auto& f : failures) byPath[f.path] = f.reason;
    EXPECT_EQ(byPath, (std::map<std::string, std::string>{
                          {t.path("out/z"), ErrorText(EACCES)},
                          {t.path("out/sub"), ErrorText(EACCES) +
                                                  run_reason::kFilesNotCopiedInside + "2"}}));
}
#endif

#ifndef _WIN32
// Not on Windows: POSIX permission bits (chmod 0) make the folder one that cannot be entered.
TEST(CopyFolderTree, FolderThatCannotBeEnteredRaises) {
    if (!test::PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    TempTree t;
    t.write("src/locked/x", "x");
    chmod(t.path("src/locked").c_str(), 0);
    try {
        CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Overwrite, nullptr);
        FAIL() << "no EInOutError";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.code, 5);
        EXPECT_STREQ(e.what(), "File access denied");
    }
    // The subfolder's target was made before the walk tried to enter it.
    EXPECT_TRUE(IsExistingFolder(t.path("out/locked")));
    EXPECT_FALSE(Exists(t.path("out/locked/x")));
}
#endif

#ifndef _WIN32
// Not on Windows: POSIX permission bits (chmod 0111) make the folder one that can be entered but not listed.
TEST(CopyFolderTree, FolderThatCannotBeListedIsRecordedAndSkipped) {
    if (!test::PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    TempTree t;
    t.write("src/a", "a");
    t.write("src/unlisted/x", "x");
    chmod(t.path("src/unlisted").c_str(), 0111);
    for (const std::string& source : {t.path("src"), t.path("src/")}) {
        std::vector<Failure> failures;
        CopyFolderTree(source, t.path("out"), SameFilePolicy::Overwrite, nullptr, &failures);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].path, t.path("src/unlisted"));
        EXPECT_EQ(failures[0].reason,
                  SourceFailureReason(ErrorText(EACCES), t.path("out/unlisted")));
    }
    EXPECT_EQ(Describe(t.path("out")), (std::set<std::string>{"a=a", "unlisted/"}));

    // At the top level the target is not created.
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src/unlisted"), t.path("top"), SameFilePolicy::Overwrite, nullptr,
                   &failures);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].reason, SourceFailureReason(ErrorText(EACCES), t.path("top")));
    EXPECT_FALSE(Exists(t.path("top")));
}
#endif

TEST(CopyFolderTree, TargetInsideTheSourceIsNotCopiedIntoItself) {
    TempTree t;
    t.write("src/a", "a");
    t.mkdir("src/out");
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src"), t.path("src/out/src"), SameFilePolicy::AutoNumber, nullptr,
                   &failures);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Describe(t.path("src/out/src")), (std::set<std::string>{"a=a", "out/"}));

    // A folder copied onto itself is refused, not numbered over and over.
    CopyFolderTree(t.path("src"), t.path("src"), SameFilePolicy::AutoNumber, nullptr, &failures);
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_FALSE(Exists(t.path("src/a_1")));
}

#ifndef _WIN32
// Not on Windows: symbolic links (Wine makes none; Windows needs a privilege); fsops_win32_test checks that reparse points are never entered.
// A link to a folder leads out of the tree that was chosen (to an ancestor, to another
// place, to "/"): it is recorded and not entered. A link to a file is copied as the file.
TEST(CopyFolderTree, FolderLinksAreRecordedNotEntered) {
    TempTree t;
    t.write("src/a/f", "f");
    t.write("elsewhere/g", "g");
    ASSERT_EQ(symlink(t.path("src").c_str(), t.path("src/a/back").c_str()), 0);
    ASSERT_EQ(symlink(t.path("elsewhere").c_str(), t.path("src/a/other").c_str()), 0);
    ASSERT_EQ(symlink("/", t.path("src/root").c_str()), 0);
    ASSERT_EQ(symlink(t.path("elsewhere/g").c_str(), t.path("src/filelink").c_str()), 0);
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Overwrite, nullptr, &failures);
    std::set<std::string> recorded;
    for (const Failure& f : failures) recorded.insert(f.path);
    EXPECT_EQ(recorded, (std::set<std::string>{t.path("src/a/back"), t.path("src/a/other"),
                                               t.path("src/root")}));
    EXPECT_EQ(Describe(t.path("out")), (std::set<std::string>{"a/", "a/f=f", "filelink=g"}));
}
#endif

#ifndef _WIN32
// Not on Windows: the deep chain is made through descriptors and the open-file limit set in a forked child.
// A tree deeper than the path limit and than the open-file limit of the process is copied
// whole, and a subfolder that vanishes between the listing and the opening is recorded
// without ending the walk.
TEST(CopyFolderTree, DeepTreesAndVanishedSubfolders) {
    TempTree t;
    t.mkdir("src");
    EXPECT_TRUE(test::TrueInChild([&] {
        if (!test::MakeDeepChain(t.path("src"), 1200, "level_xx", "bottom.txt")) return false;
        struct rlimit limit = {64, 64};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
        std::vector<Failure> failures;
        CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Overwrite, nullptr, &failures);
        if (!failures.empty()) return false;
        // Walk down the copy by descriptors: the path is too long to name.
        int fd = open(t.path("out").c_str(), O_RDONLY | O_DIRECTORY);
        for (int level = 0; level < 1200 && fd >= 0; ++level) {
            int next = openat(fd, "level_xx", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            close(fd);
            fd = next;
        }
        struct stat st;
        return fd >= 0 && fstatat(fd, "bottom.txt", &st, 0) == 0;
    }, 60));

    // A source subfolder that another program removes while the walk runs: the walk lists
    // the parent, then the subfolder is gone before it is entered.
    t.write("src2/gone/b.txt", "b");
    for (int i = 0; i < 10; ++i) t.write("src2/f" + std::to_string(i), "f");
    // The walk follows the platform's listing order: ask about a file listed before "gone"
    // and remove "gone" while the question is open.
    std::string before;
    for (const auto& e : fs::directory_iterator(t.path("src2"))) {
        if (e.path().filename() == "gone") break;
        before = e.path().filename().string();
    }
    if (before.empty()) GTEST_SKIP() << "the listing puts the subfolder first";
    t.write("out2/" + before, "old");
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src2"), t.path("out2"), SameFilePolicy::Ask,
                   [&](const std::string&) {
                       fs::remove_all(t.path("src2/gone"));
                       return true;
                   },
                   &failures);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, t.path("src2/gone"));
    EXPECT_EQ(failures[0].reason, SourceFailureReason(ErrorText(ENOENT), t.path("out2/gone")));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ReadFile(t.path("out2/f" + std::to_string(i))), "f");
}
#endif

#ifndef _WIN32
// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"); -1 when not found.
long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}

using test::List;

// Not on Windows: the chain is made through descriptors, the peak read from /proc.
// Memory grows with the depth, not with its square: a chain of 3,000 folders with 10-letter
// names (paths of 33,000 bytes) copies with a peak under 32 MiB, with one writer and with
// four (measured in a child, from its resident size when the copy starts; each frame of the
// walk once kept its whole paths, 174 MB).
TEST(CopyFolderTree, DeepChainCopiesInMemoryLinearInTheDepth) {
    TempTree t;
    t.mkdir("src");
    ASSERT_TRUE(test::MakeDeepChain(t.path("src"), 3000, "abcdefghij", "f"));
    for (int writers : {1, 4}) {
        const std::string out = t.mkdir("out" + std::to_string(writers));
        const std::string report = t.path("peak" + std::to_string(writers));
        EXPECT_TRUE(test::TrueInChild([&] {
            // The peak from here on: the child's resident size is the parent's at the fork.
            std::ofstream("/proc/self/clear_refs") << "5";
            const long start = StatusKiB("VmRSS");
            RunOptions options;
            options.maxWriters = writers;
            const RunResult result = test::RunCopy(List({t.path("src")}), List({out}),
                                             SameFilePolicy::Overwrite, nullptr, nullptr, false,
                                             options);
            std::ofstream(report) << start << " " << StatusKiB("VmHWM") << " "
                                  << result.failures.size();
            return true;
        }, 120)) << writers << " writers";
        long start = 0, peak = 0, failures = 0;
        std::ifstream(report) >> start >> peak >> failures;
        RecordProperty("peak_kib_" + std::to_string(writers) + "_writers", std::to_string(peak));
        EXPECT_EQ(failures, 0) << writers << " writers";
        EXPECT_GT(peak, 0) << writers << " writers";
        // What the copy added: the child starts with the resident memory of everything the
        // tests before it did in this process, which differs with the user the suite runs
        // as (the tests that need root run, or skip), so the whole peak says nothing of the copy.
        EXPECT_LT(peak - start, 32 * 1024) << writers << " writers: " << start << " KiB at the start";
        // The bottom of the copy, reached by descriptors: its path is too long to name.
        int fd = open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        fd = fd < 0 ? fd : [fd] {
            int at = openat(fd, "src", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            close(fd);
            return at;
        }();
        for (int level = 0; level < 3000 && fd >= 0; ++level) {
            int next = openat(fd, "abcdefghij", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            close(fd);
            fd = next;
        }
        struct stat st;
        EXPECT_TRUE(fd >= 0 && fstatat(fd, "f", &st, 0) == 0) << writers << " writers";
        if (fd >= 0) close(fd);
    }
}
#endif

#ifndef _WIN32
// Not on Windows: FIFOs and /dev/zero. A source that is no regular file is the source's
// failure: it is named, not the target it would have had.
TEST(CopyFolderTree, SpecialFilesAreRecordedAndTheWalkGoesOn) {
    TempTree t;
    t.write("src/a", "a");
    ASSERT_EQ(mkfifo(t.path("src/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", t.path("src/zeros").c_str()), 0);
    t.write("src/sub/b", "b");
    // In a child with a deadline: opening the FIFO would wait for a writer, and reading
    // /dev/zero would never end.
    EXPECT_TRUE(test::TrueInChild([&] {
        std::vector<Failure> failures;
        CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Overwrite, nullptr, &failures);
        std::set<std::string> refused;
        for (const auto& f : failures)
            if (f.reason ==
                SourceFailureReason(ErrorText(ENOTSUP),
                                    t.path("out/" + fs::path(f.path).filename().string())))
                refused.insert(f.path);
        return refused == std::set<std::string>{t.path("src/fifo"), t.path("src/zeros")};
    }));
    EXPECT_EQ(Describe(t.path("out")), (std::set<std::string>{"a=a", "sub/", "sub/b=b"}));
}
#endif

TEST(CopyFolderTree, TargetFolderBlockedByAFileIsRecorded) {
    TempTree t;
    t.write("src/sub/x", "x");
    t.write("src/y", "y");
    t.write("out/sub", "a file");
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Overwrite, nullptr, &failures);
    // One line for the folder, saying what is in the way and how many files it held.
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, t.path("out/sub"));
    EXPECT_EQ(failures[0].reason,
              std::string(run_reason::kFileInTheWay) + run_reason::kFilesNotCopiedInside + "1");
    EXPECT_EQ(ReadFile(t.path("out/sub")), "a file");
    EXPECT_EQ(ReadFile(t.path("out/y")), "y");
}

// A folder that cannot be made is one line with the count of the files below it, at every
// depth; the files beside it are copied, and the walk's count of handled files still sees
// every file. A blocked folder deeper down is a line of its own, counted apart.
TEST(CopyFolderTree, ABlockedTargetFolderIsOneLineWithTheFilesItHeld) {
    TempTree t;
    t.write("src/sub/x", "x");
    t.write("src/sub/deeper/y", "y");
    t.write("src/sub/deeper/z", "z");
    t.write("src/sub/empty/.keep", "k");
    t.write("src/other/inner/w", "w");
    t.write("src/other/v", "v");
    t.write("src/top", "top");
    t.write("out/sub", "a file");
    t.write("out/other/inner", "another file");
    std::vector<Failure> failures;
    CopyFolderTree(t.path("src"), t.path("out"), SameFilePolicy::Overwrite, nullptr, &failures);
    std::map<std::string, std::string> byPath;
    for (const auto& f : failures) byPath[f.path] = f.reason;
    const std::string blocked =
        std::string(run_reason::kFileInTheWay) + run_reason::kFilesNotCopiedInside;
    EXPECT_EQ(byPath,
              (std::map<std::string, std::string>{{t.path("out/sub"), blocked + "4"},
                                                  {t.path("out/other/inner"), blocked + "1"}}));
    EXPECT_EQ(ReadFile(t.path("out/top")), "top");
    EXPECT_EQ(ReadFile(t.path("out/other/v")), "v");
    EXPECT_EQ(ReadFile(t.path("out/sub")), "a file");
}

}  // namespace
}  // namespace ostrivane
