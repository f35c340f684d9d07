#include "core/emptying.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/fsops.h"
#include "core/temp_tree.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using ostrivane::EmptyDestinations;
using ostrivane::EmptyFolder;
using ostrivane::Failure;
using ostrivane::PathList;
using ostrivane::test::Exists;
using ostrivane::test::PermissionsApply;
using ostrivane::test::ReadFile;
using ostrivane::test::TempTree;

namespace {

PathList ListOf(std::vector<std::string> entries) {
    PathList list;
    list.assign(std::move(entries));
    return list;
}

bool IsEmptyFolder(const std::string& path) {
    return fs::is_directory(fs::symlink_status(path)) && fs::is_empty(path);
}

std::vector<std::string> FailedPaths(const std::vector<Failure>& failures) {
    std::vector<std::string> paths;
    for (const Failure& failure : failures) paths.push_back(failure.path);
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Empties every listed destination in list order, as the window's command and the copy run do.
std::vector<Failure> EmptyEveryDestination(const PathList& destinations) {
    std::vector<Failure> failures;
    for (const std::string& destination : destinations.entries())
        EmptyFolder(destination, destinations, &failures);
    return failures;
}

void SetMode(const std::string& path, fs::perms perms) {
    fs::permissions(path, perms, fs::perm_options::replace);
}

// A destination holding plain, hidden and read-only files and folders at several levels.
void FillDestination(const TempTree& tree, const std::string& folder) {
    tree.write(folder + "/a.txt", "a");
    tree.write(folder + "/.hidden", "h");
    tree.write(folder + "/sub/b.txt", "b");
    tree.write(folder + "/sub/deeper/.c", "c");
    tree.write(folder + "/.hiddendir/d", "d");
    std::string readOnly = tree.write(folder + "/ro.txt", "r");
    SetMode(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

}  // namespace

TEST(EmptyFolder, DeletesEverythingBelowAListedDestinationAndKeepsIt) {
    TempTree tree;
    FillDestination(tree, "out");
    const std::string out = tree.path("out") + "/";
    std::vector<Failure> failures;
    EmptyFolder(out, ListOf({out}), &failures);
    EXPECT_TRUE(IsEmptyFolder(out));
    EXPECT_TRUE(failures.empty());
}

#ifndef _WIN32
// Not on Windows: the spellings include a symbolic link (Wine makes none; Windows needs a privilege).
// A listed destination is the folder, however it is spelled: without the separator (as a
// hand-written list file has it), with a doubled separator, or through a link. None of those
// spellings may remove the folder the user listed.
TEST(EmptyFolder, ListedDestinationIsKeptInEverySpelling) {
    TempTree tree;
    fs::create_directory_symlink(tree.path("out"), tree.path("outlink"));
    const std::vector<std::vector<std::string>> listings = {
        {tree.path("out")},
        {tree.path("out/"), tree.root() + "//out//sub/"},
        {tree.path("outlink"), tree.path("out/sub")},
        {tree.path("outlink/"), tree.path("outlink/sub/")},
    };
    for (const auto& listing : listings) {
        SCOPED_TRACE(listing.front());
        FillDestination(tree, "out");
        const PathList destinations = ListOf(listing);
        std::vector<Failure> failures;
        for (const std::string& destination : listing) EmptyFolder(destination, destinations, &failures);
        EXPECT_TRUE(IsEmptyFolder(tree.path("out")) ||
                    (listing.size() > 1 && fs::is_directory(tree.path("out/sub"))));
        EXPECT_TRUE(fs::is_directory(tree.path("out")));
        if (listing.size() > 1) {
            EXPECT_TRUE(IsEmptyFolder(tree.path("out/sub")));
        }
        EXPECT_FALSE(Exists(tree.path("out/a.txt")));
        EXPECT_TRUE(failures.empty()) << failures.front().path << ": " << failures.front().reason;
    }
    // A folder that is not listed at all is still removed once emptied.
    FillDestination(tree, "other");
    EmptyFolder(tree.path("other"), ListOf({tree.path("out/")}));
    EXPECT_FALSE(Exists(tree.path("other")));
}
#endif

TEST(EmptyFolder, NestedListedDestinationsAreEmptiedButKept) {
    TempTree tree;
    FillDestination(tree, "out");
    tree.write("out/sub/deeper/more/e", "e");
    tree.write("out/x/y/f", "f");
    tree.write("out/x/g", "g");
    const std::string out = tree.path("out/");
    const PathList destinations = ListOf({out, out + "sub/", out + "x/y/"});
    std::vector<Failure> failures;
    EmptyFolder(out, destinations, &failures);
    EXPECT_TRUE(IsEmptyFolder(out + "sub"));
    EXPECT_TRUE(IsEmptyFolder(out + "x/y"));
    // x is not listed but still holds the listed y, so it stays without being reported.
    EXPECT_FALSE(Exists(out + "x/g"));
    EXPECT_TRUE(Exists(out + "x"));
    EXPECT_FALSE(Exists(out + "a.txt"));
    EXPECT_FALSE(Exists(out + ".hiddendir"));
    EXPECT_TRUE(failures.empty());
}

#ifndef _WIN32
// Not on Windows: Windows names ignore letter case, so "SUB" is "sub" there (ListedDestinationInOtherLetterCaseIsTheSameFolder).
TEST(EmptyFolder, ListedDestinationInOtherLetterCaseIsAnotherFolder) {
    TempTree tree;
    tree.write("out/sub/b.txt", "b");
    tree.write("out/SUB2/c.txt", "c");
    const std::string out = tree.path("out/");
    EmptyFolder(out, ListOf({out, out + "SUB/", out + "sub2/"}));
    EXPECT_FALSE(Exists(out + "sub"));
    EXPECT_FALSE(Exists(out + "SUB2"));
    EXPECT_TRUE(IsEmptyFolder(out));
}
#endif

TEST(EmptyFolder, ReadOnlyFoldersAreEmptiedAndRemoved) {
    TempTree tree;
    tree.write("out/ro/a.txt", "a");
    tree.write("out/ro/inner/b.txt", "b");
    const auto readAndSearch = fs::perms::owner_read | fs::perms::owner_exec;
    SetMode(tree.path("out/ro/inner"), readAndSearch);
    SetMode(tree.path("out/ro"), readAndSearch);
    SetMode(tree.path("out"), readAndSearch);
    std::vector<Failure> failures;
    EmptyFolder(tree.path("out"), PathList(), &failures);
    EXPECT_FALSE(Exists(tree.path("out")));
    EXPECT_TRUE(failures.empty());
}

#ifndef _WIN32
// Not on Windows: symbolic links; fsops_win32_test checks that a reparse point is deleted as itself where links can be made.
TEST(EmptyFolder, LinksAreRemovedAsLinksAndNeverFollowed) {
    TempTree tree;
    tree.write("elsewhere/keep.txt", "k");
    tree.write("elsewhere/sub/keep2.txt", "k2");
    tree.mkdir("out/sub");
    const std::string out = tree.path("out/");
    fs::create_directory_symlink(tree.path("elsewhere"), out + "folderlink");
    fs::create_directory_symlink(tree.path("elsewhere/sub"), out + "sub/deeplink");
    fs::create_symlink(tree.path("elsewhere/keep.txt"), out + "filelink");
    fs::create_symlink(tree.path("nowhere"), out + "dangling");
    std::vector<Failure> failures;
    EmptyFolder(out, ListOf({out}), &failures);
    EXPECT_TRUE(IsEmptyFolder(out));
    EXPECT_EQ(ReadFile(tree.path("elsewhere/keep.txt")), "k");
    EXPECT_EQ(ReadFile(tree.path("elsewhere/sub/keep2.txt")), "k2");
    EXPECT_TRUE(failures.empty());
}
#endif

#ifndef _WIN32
// Not on Windows: symbolic links.
TEST(EmptyFolder, LinkThatIsAListedDestinationStays) {
    for (const std::string listedForm : {"folderlink/", "folderlink"}) {
        SCOPED_TRACE(listedForm);
        TempTree tree;
        tree.write("elsewhere/keep.txt", "k");
        tree.write("out/a.txt", "a");
        const std::string out = tree.path("out/");
        fs::create_directory_symlink(tree.path("elsewhere"), out + "folderlink");
        std::vector<Failure> failures;
        EmptyFolder(out, ListOf({out, out + listedForm}), &failures);
        EXPECT_TRUE(fs::is_symlink(out + "folderlink"));
        EXPECT_FALSE(Exists(out + "a.txt"));
        EXPECT_EQ(ReadFile(tree.path("elsewhere/keep.txt")), "k");
        EXPECT_TRUE(failures.empty());
    }
}
#endif

#ifndef _WIN32
// Not on Windows: symbolic links.
TEST(EmptyFolder, DestinationThatIsALinkIsEmptiedThroughItAndTheLinkStays) {
    for (const std::string listedForm : {"link/", "link"}) {
        SCOPED_TRACE(listedForm);
        TempTree tree;
        tree.write("elsewhere/a.txt", "a");
        tree.write("elsewhere/sub/b.txt", "b");
        fs::create_directory_symlink(tree.path("elsewhere"), tree.path("link"));
        const std::string link = tree.path(listedForm);
        std::vector<Failure> failures;
        EmptyFolder(link, ListOf({link}), &failures);
        EXPECT_TRUE(fs::is_symlink(tree.path("link")));
        EXPECT_TRUE(IsEmptyFolder(tree.path("elsewhere")));
        EXPECT_TRUE(failures.empty()) << failures.front().path << ": " << failures.front().reason;
    }
}
#endif

#ifndef _WIN32
// Not on Windows: its leftover is a file named " .", which is no Windows name.
// A leftover inside nested listed destinations is met by the emptying of each of them; it is
// recorded once, by the innermost one, whatever the order and form of the entries.
TEST(EmptyFolder, NestedDestinationsRecordEachLeftoverOnce) {
    TempTree tree;
    tree.write("out/a.txt", "a");
    tree.write("out/sub/ .", "stays");
    tree.write("out/other/ .", "stays");
    tree.write("out/other/x.txt", "x");
    const std::string out = tree.path("out/");
    const PathList destinations =
        ListOf({out + "sub/", out, out + "other", out + "sub", tree.path("out")});
    const std::vector<Failure> failures = EmptyEveryDestination(destinations);
    EXPECT_EQ(FailedPaths(failures), (std::vector<std::string>{out + "other/ .", out + "sub/ ."}));
    EXPECT_FALSE(Exists(out + "a.txt"));
    EXPECT_FALSE(Exists(out + "other/x.txt"));
}
#endif

#ifndef _WIN32
// Not on Windows: POSIX permission bits.
TEST(EmptyFolder, RecordsWhatStays) {
    if (!PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    TempTree tree;
    tree.write("out/free.txt", "f");
    tree.write("out/locked/kept.txt", "k");
    tree.write("out/sealed/hidden.txt", "s");
    tree.mkdir("out/sealed-empty");
    const std::string out = tree.path("out/");
    // A listed folder is not made writable, so what is inside a read-only one stays.
    SetMode(out + "locked", fs::perms::owner_read | fs::perms::owner_exec);
    SetMode(out + "sealed", fs::perms::none);
    SetMode(out + "sealed-empty", fs::perms::none);
    const std::vector<Failure> failures =
        EmptyEveryDestination(ListOf({tree.path("out"), out + "locked/"}));
    EXPECT_FALSE(Exists(out + "free.txt"));
    EXPECT_TRUE(Exists(out + "locked/kept.txt"));
    // An unreadable but empty folder can still be removed; a full one is reported.
    EXPECT_FALSE(Exists(out + "sealed-empty"));
    EXPECT_TRUE(Exists(out + "sealed"));
    // out itself stays because of what it holds, which is no failure of its own.
    EXPECT_EQ(FailedPaths(failures),
              (std::vector<std::string>{out + "locked/kept.txt", out + "sealed/"}));
    for (const Failure& failure : failures) EXPECT_FALSE(failure.reason.empty());
}
#endif

#ifndef _WIN32
// Not on Windows: POSIX permission bits.
// The unreadable listed folder is met by the emptying of out/ and by its own; it is
// reported once.
TEST(EmptyFolder, ListedFolderThatCannotBeListedIsReportedOnce) {
    if (!PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    TempTree tree;
    tree.write("out/sub/a.txt", "a");
    const std::string out = tree.path("out/");
    SetMode(out + "sub", fs::perms::owner_write | fs::perms::owner_exec);
    const std::vector<Failure> failures = EmptyEveryDestination(ListOf({out, out + "sub/"}));
    EXPECT_EQ(FailedPaths(failures), std::vector<std::string>{out + "sub/"});
    EXPECT_TRUE(Exists(out + "sub/a.txt"));
}
#endif

#ifndef _WIN32
// Not on Windows: " ." and "..<tab>" are no Windows names.
TEST(EmptyFolder, NameThatReadsAsADotEntryStaysAndIsReported) {
    TempTree tree;
    tree.write("out/a.txt", "a");
    tree.write("out/ .", "x");
    tree.write("out/..\t", "y");
    const std::string out = tree.path("out/");
    std::vector<Failure> failures;
    EmptyFolder(out, PathList(), &failures);
    EXPECT_FALSE(Exists(out + "a.txt"));
    EXPECT_TRUE(Exists(out));
    EXPECT_EQ(FailedPaths(failures), (std::vector<std::string>{out + " .", out + "..\t"}));
}
#endif

TEST(EmptyFolder, MissingDestinationRecordsNothing) {
    TempTree tree;
    const std::string missing = tree.path("missing/");
    std::vector<Failure> failures;
    EmptyFolder(missing, ListOf({missing}), &failures);
    EmptyFolder(tree.path("missing"), PathList(), &failures);
    EXPECT_TRUE(failures.empty());
    EXPECT_FALSE(Exists(missing));
}

#ifndef _WIN32
// Not on Windows: spellings of "/"; DriveRootIsRefused is the Windows twin.
// The file-system root is never emptied, whatever the spelling that names it.
TEST(EmptyFolder, FileSystemRootIsRefused) {
    for (const std::string root : {"/", "//", "/.", "/tmp/.."}) {
        SCOPED_TRACE(root);
        std::vector<Failure> failures;
        // No source is protected and the process may delete: only the refusal stands between
        // this call and the machine. It runs as an unprivileged user under the test wrapper,
        // and still must not touch anything.
        EmptyDestinations(ListOf({root}), PathList(), &failures);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures.front().reason, ostrivane::emptying_reason::kRootRefused);
    }
    EXPECT_TRUE(fs::is_directory("/tmp"));
}
#endif

#ifndef _WIN32
// Not on Windows: a listed source that is a symbolic link.
// A source inside a destination, or a destination that holds one, is kept: the emptying
// before a copy must not delete what the run is about to copy.
TEST(EmptyDestinations, ListedSourcesAndTheFoldersHoldingThemStay) {
    TempTree tree;
    tree.write("p/a/template.txt", "t");
    tree.write("p/a/other.txt", "o");
    tree.write("p/srcdir/inner/x.txt", "x");
    tree.write("p/junk.txt", "j");
    fs::create_symlink(tree.path("p/junk.txt"), tree.path("p/listed-link"));
    const std::string p = tree.path("p/");
    PathList sources = ListOf({p + "a/template.txt", p + "srcdir", p + "listed-link"});
    std::vector<Failure> failures;
    EmptyDestinations(ListOf({p, p + "a/"}), sources, &failures);
    EXPECT_EQ(ReadFile(p + "a/template.txt"), "t");
    EXPECT_EQ(ReadFile(p + "srcdir/inner/x.txt"), "x");
    EXPECT_TRUE(fs::is_symlink(p + "listed-link"));
    // The link is kept as listed, and so is what the listed link leads to.
    EXPECT_EQ(ReadFile(p + "junk.txt"), "j");
    EXPECT_FALSE(Exists(p + "a/other.txt"));
    EXPECT_EQ(FailedPaths(failures),
              (std::vector<std::string>{p + "a/template.txt", p + "junk.txt", p + "listed-link",
                                        p + "srcdir/"}));
    for (const Failure& failure : failures)
        EXPECT_EQ(failure.reason, ostrivane::emptying_reason::kSourceKept);
    // A destination that is itself a source is not emptied at all.
    failures.clear();
    EmptyDestinations(ListOf({p + "srcdir"}), ListOf({p + "srcdir/"}), &failures);
    EXPECT_EQ(ReadFile(p + "srcdir/inner/x.txt"), "x");
    EXPECT_EQ(failures.size(), 1u);
}
#endif

#ifndef _WIN32
// Not on Windows: the deep chain is made through descriptors and the open-file limit set in a forked child.
// Deep trees: deeper than the open-file limit of the process and than the path limit.
TEST(EmptyFolder, TreeDeeperThanThePathAndOpenFileLimitsIsEmptied) {
    TempTree tree;
    tree.mkdir("out");
    const bool emptied = ostrivane::test::TrueInChild([&] {
        // 1,500 levels of 9-byte components: about 13,500 bytes of path, three times the
        // limit.
        if (!ostrivane::test::MakeDeepChain(tree.path("out"), 1500, "level_xx", "file"))
            return false;
        struct rlimit limit = {64, 64};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
        std::vector<Failure> failures;
        EmptyFolder(tree.path("out/"), ListOf({tree.path("out/")}), &failures);
        return failures.empty() && IsEmptyFolder(tree.path("out"));
    }, 60);
    EXPECT_TRUE(emptied);
}
#endif

#ifdef _WIN32
TEST(EmptyFolder, ListedDestinationInOtherLetterCaseIsTheSameFolder) {
    TempTree tree;
    tree.write("out/sub/b.txt", "b");
    tree.write("out/SUB2/c.txt", "c");
    const std::string out = tree.path("out/");
    EmptyFolder(out, ListOf({out, out + "SUB\\", out + "sub2\\"}));
    EXPECT_TRUE(IsEmptyFolder(out + "sub"));
    EXPECT_TRUE(IsEmptyFolder(out + "SUB2"));
}

// The Windows twin of ListedSourcesAndTheFoldersHoldingThemStay, without its link.
TEST(EmptyDestinations, ListedSourcesAndTheFoldersHoldingThemStayWithoutLinks) {
    TempTree tree;
    tree.write("p/a/template.txt", "t");
    tree.write("p/a/other.txt", "o");
    tree.write("p/srcdir/inner/x.txt", "x");
    tree.write("p/junk.txt", "j");
    const std::string p = tree.path("p/");
    // Listed in another letter case: still the same files on Windows.
    PathList sources = ListOf({p + "A\\Template.txt", p + "srcdir"});
    std::vector<Failure> failures;
    EmptyDestinations(ListOf({p, p + "a\\"}), sources, &failures);
    EXPECT_EQ(ReadFile(p + "a\\template.txt"), "t");
    EXPECT_EQ(ReadFile(p + "srcdir\\inner\\x.txt"), "x");
    EXPECT_FALSE(Exists(p + "junk.txt"));
    EXPECT_FALSE(Exists(p + "a\\other.txt"));
    EXPECT_EQ(FailedPaths(failures),
              (std::vector<std::string>{p + "a\\template.txt", p + "srcdir\\"}));
    for (const Failure& failure : failures)
        EXPECT_EQ(failure.reason, ostrivane::emptying_reason::kSourceKept);
    failures.clear();
    EmptyDestinations(ListOf({p + "srcdir"}), ListOf({p + "SRCDIR\\"}), &failures);
    EXPECT_EQ(ReadFile(p + "srcdir\\inner\\x.txt"), "x");
    EXPECT_EQ(failures.size(), 1u);
}

TEST(EmptyFolder, DriveRootIsRefused) {
    for (const std::string root : {"C:\\", "c:\\.", "C:\\Windows\\.."}) {
        SCOPED_TRACE(root);
        std::vector<Failure> failures;
        EmptyDestinations(ListOf({root}), PathList(), &failures);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures.front().reason, ostrivane::emptying_reason::kRootRefused);
    }
    EXPECT_TRUE(fs::is_directory("C:\\windows"));
}

// Windows reports a file without other attributes as "normal" (0x80); such a file, and one
// marked not to be indexed (0x2000), stays with its folder, as older versions left them.
TEST(EmptyFolder, AttributesBeyondTheDeletableSetKeepTheFile) {
    TempTree tree;
    const std::string normal = tree.write("out/normal.txt", "n");
    const std::string unindexed = tree.write("out/sub/unindexed.txt", "u");
    tree.write("out/plain.txt", "p");
    ASSERT_EQ(ostrivane::SetAttributes(normal, 0x80), 0);
    ASSERT_EQ(ostrivane::SetAttributes(unindexed, 0x2000 | 0x20), 0);
    std::uint32_t word = 0;
    ASSERT_TRUE(ostrivane::GetAttributes(normal, word));
    if (word != 0x80) GTEST_SKIP() << "this system reports " << word << " for a normal file";
    std::vector<Failure> failures;
    EmptyFolder(tree.path("out/"), PathList(), &failures);
    EXPECT_TRUE(Exists(normal));
    EXPECT_TRUE(Exists(unindexed));
    EXPECT_FALSE(Exists(tree.path("out/plain.txt")));
}
#endif
