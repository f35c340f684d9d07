#include "core/discovery.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/fsops.h"
#include "core/temp_tree.h"

namespace fs = std::filesystem;
using ostrivane::IndexDisk;
using ostrivane::IndexDisk2;
using ostrivane::PathList;
using ostrivane::test::PermissionsApply;
using ostrivane::test::TempTree;

namespace {

// Paths of the tests are built with the platform's separator.
const std::string kSep(1, ostrivane::platform::kSeparator);

// Sibling order: names compared with ASCII letters in capitals (as NTFS lists a folder),
// byte order between names that fold alike.
bool NameBefore(const std::string& a, const std::string& b) {
    std::string x = a, y = b;
    for (char& c : x) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    for (char& c : y) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return x != y ? x < y : a < b;
}

// The folders below `folder` (ending with "/") in pre-order, siblings by name (NameBefore),
// down to `levels` levels (-1: all), read independently of the code under test. Folders
// that cannot be listed contribute nothing.
void CollectFolders(const std::string& folder, int levels, std::vector<std::string>& out) {
    out.push_back(folder);
    if (levels == 0) return;
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec)) names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), NameBefore);
    for (const std::string& name : names) CollectFolders(folder + name + kSep, levels - 1, out);
}

std::vector<std::string> ExpectedWalk(const std::string& folder, int levels = -1) {
    std::vector<std::string> folders;
    CollectFolders(folder, levels, folders);
    return folders;
}

// A tree four levels deep with files between the folders and many siblings, whose listing
// order is not the order of creation or of the names.
std::string MakeTree(const TempTree& tree) {
    for (const char* folder : {"r/zeta/z1/z2/z3", "r/alpha/a1", "r/alpha/a2/a21", "r/m", "r/k/k1",
                               "r/b/b1/b2", "r/q", "r/c0", "r/c1", "r/c2"})
        tree.mkdir(folder);
    tree.write("r/file.txt", "f");
    tree.write("r/alpha/file.txt", "f");
    tree.write("r/zeta/z1/file.txt", "f");
    return tree.path("r/");
}

struct Recorder {
    PathList list;
    int repaints = 0;
    std::function<void()> repaint() {
        return [this] { ++repaints; };
    }
};

}  // namespace

TEST(IndexDisk, AddsEveryFolderInPreOrderAfterTheExistingEntries) {
    TempTree tree;
    const std::string root = MakeTree(tree);
    Recorder recorder;
    recorder.list.append("/elsewhere/");
    IndexDisk(root, recorder.list, recorder.repaint());
    std::vector<std::string> expected{"/elsewhere/"};
    for (const std::string& folder : ExpectedWalk(root)) expected.push_back(folder);
    EXPECT_EQ(recorder.list.entries(), expected);
    EXPECT_EQ(recorder.repaints, static_cast<int>(expected.size()) - 1);
    // A path given without the separator is walked as the same folder.
    PathList withoutSeparator;
    IndexDisk(tree.path("r"), withoutSeparator);
    EXPECT_EQ(withoutSeparator.entries(), ExpectedWalk(root));
}

// Subfolders come by name whatever order the file system lists them in: ASCII case folded
// (as capitals, so "_" sorts after letters), other characters by their code, and two names
// that differ only in case keep byte order.
TEST(IndexDisk, SubfoldersComeByNameIgnoringAsciiCase) {
    TempTree tree;
    std::vector<std::string> created{"五班", "三班", "四班", "二班", "一班", "beta",
                                     "Alpha", "_x", "b", "Gamma10", "gamma2"};
    std::vector<std::string> order{"Alpha", "b", "beta", "Gamma10", "gamma2", "_x",
                                   "一班",  "三班", "二班", "五班",    "四班"};
#ifndef _WIN32
    // Windows file systems keep no two names that differ in case only.
    created.push_back("B");
    order.insert(order.begin() + 1, "B");
#endif
    for (const std::string& name : created) tree.mkdir("r/" + name);
    PathList list;
    IndexDisk(tree.path("r/"), list);
    std::vector<std::string> expected{tree.path("r/")};
    for (const std::string& name : order) expected.push_back(tree.path("r/") + name + kSep);
    EXPECT_EQ(list.entries(), expected);
    EXPECT_TRUE(ostrivane::SubfolderNameBefore("abc", "ABD"));
    EXPECT_FALSE(ostrivane::SubfolderNameBefore("ABD", "abc"));
    EXPECT_TRUE(ostrivane::SubfolderNameBefore("Z", "_"));
    EXPECT_TRUE(ostrivane::SubfolderNameBefore("ab", "abc"));
}

TEST(IndexDisk, RerunAddsOnlyNewFoldersAtTheEndButVisitsAll) {
    TempTree tree;
    const std::string root = MakeTree(tree);
    Recorder recorder;
    IndexDisk(root, recorder.list);
    const std::vector<std::string> first = recorder.list.entries();
    tree.mkdir("r/alpha/new");
    tree.mkdir("r/newtop/x");
    IndexDisk(root, recorder.list, recorder.repaint());
    std::vector<std::string> expected = first;
    const std::vector<std::string> walk = ExpectedWalk(root);
    for (const std::string& folder : walk) {
        if (std::find(first.begin(), first.end(), folder) == first.end())
            expected.push_back(folder);
    }
    EXPECT_EQ(expected.size(), first.size() + 3);
    EXPECT_EQ(recorder.list.entries(), expected);
    EXPECT_EQ(recorder.repaints, static_cast<int>(walk.size()));
}

TEST(IndexDisk, HiddenFoldersAreAddedButFilesAndSystemEntriesAreNot) {
    TempTree tree;
    tree.mkdir("r/.hidden/inner");
    tree.write("r/.hiddenfile", "h");
    tree.write("r/file.txt", "f");
#ifdef _WIN32
    // A folder with the system attribute is a system entry.
    ASSERT_EQ(ostrivane::SetAttributes(tree.mkdir("r/system"), 0x10 | 0x04), 0);
#else
    ASSERT_EQ(mkfifo(tree.path("r/fifo").c_str(), 0600), 0);
#endif
    const std::string root = tree.path("r/");
    PathList list;
    IndexDisk(root, list);
    EXPECT_EQ(list.entries(), (std::vector<std::string>{root, root + ".hidden" + kSep,
                                                        root + ".hidden" + kSep + "inner" + kSep}));
}

#ifndef _WIN32
// Not on Windows: POSIX permission bits.
TEST(IndexDisk, UnreadableFolderIsAddedWithoutItsSubfoldersAndTheWalkGoesOn) {
    if (!PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    TempTree tree;
    tree.mkdir("r/closed/below");
    tree.mkdir("r/searchonly/below");
    tree.mkdir("r/open/below");
    const std::string root = tree.path("r/");
    const std::vector<std::string> before = ExpectedWalk(root);
    fs::permissions(root + "closed", fs::perms::none, fs::perm_options::replace);
    fs::permissions(root + "searchonly", fs::perms::owner_write | fs::perms::owner_exec,
                    fs::perm_options::replace);
    Recorder recorder;
    IndexDisk(root, recorder.list, recorder.repaint());
    std::vector<std::string> expected;
    for (const std::string& folder : before) {
        if (folder != root + "closed/below/" && folder != root + "searchonly/below/")
            expected.push_back(folder);
    }
    EXPECT_EQ(recorder.list.entries(), expected);
    EXPECT_EQ(recorder.repaints, static_cast<int>(expected.size()));
}
#endif

#ifndef _WIN32
// Not on Windows: symbolic links (Wine makes none; Windows needs a privilege).
// A link inside the chosen tree leads out of it (to a folder elsewhere, back to an ancestor,
// to "/"): it is neither listed nor entered, so the emptying can never reach through it.
// The chosen folder may itself be a link.
TEST(IndexDisk, LinksInsideTheTreeAreNeitherListedNorEntered) {
    TempTree tree;
    tree.mkdir("r/a/sub");
    tree.mkdir("elsewhere/x");
    const std::string root = tree.path("r/");
    fs::create_directory_symlink(tree.path("elsewhere"), root + "a/sub/shortcut");
    fs::create_directory_symlink(tree.path("r"), root + "a/back");
    fs::create_directory_symlink("/", root + "slash");
    PathList list;
    IndexDisk(root, list);
    EXPECT_EQ(list.entries(), (std::vector<std::string>{root, root + "a/", root + "a/sub/"}));
    // Links that multiply: 19 folders with two links each to the next would list 2^19 paths.
    tree.mkdir("chain/l0");
    for (int i = 1; i < 19; ++i) {
        const std::string folder = tree.mkdir("chain/l" + std::to_string(i));
        for (const char* name : {"/one", "/two"})
            fs::create_directory_symlink(tree.path("chain/l" + std::to_string(i - 1)),
                                         folder + name);
    }
    PathList chain;
    IndexDisk(tree.path("chain/l18/"), chain);
    EXPECT_EQ(chain.count(), 1);
    // The chosen folder is taken through its link.
    fs::create_directory_symlink(tree.path("r"), tree.path("rlink"));
    PathList viaLink;
    IndexDisk(tree.path("rlink/"), viaLink);
    EXPECT_EQ(viaLink.count(), 3);
    EXPECT_NE(viaLink.find(tree.path("rlink/a/sub/")), -1);
}
#endif

#ifndef _WIN32
// Not on Windows: symbolic links to "/".
// A link to "/" below the walked folder would make the whole file system destinations.
TEST(IndexDisk, LinkToTheFileSystemRootIsNeitherAddedNorWalked) {
    TempTree tree;
    tree.mkdir("r/a");
    const std::string root = tree.path("r/");
    fs::create_directory_symlink("/", root + "a/all");
    fs::create_directory_symlink(tree.path("r/a/all"), root + "again");
    const std::vector<std::string> expected = {root, root + "a/"};
    // The short walk first: a walk that took the link would go through the whole disk.
    PathList limited;
    IndexDisk2(root, 1, limited);
    ASSERT_EQ(limited.entries(), expected);
    PathList list;
    IndexDisk(root, list);
    EXPECT_EQ(list.entries(), expected);
}
#endif

TEST(IndexDisk2, DepthLimitsTheLevelsBelowTheFolder) {
    TempTree tree;
    const std::string root = MakeTree(tree);
    for (int depth : {-1, 0, 1, 2, 10}) {
        SCOPED_TRACE(depth);
        Recorder recorder;
        IndexDisk2(root, depth, recorder.list, recorder.repaint());
        const std::vector<std::string> expected =
            depth < 0 ? std::vector<std::string>{} : ExpectedWalk(root, depth);
        EXPECT_EQ(recorder.list.entries(), expected);
        EXPECT_EQ(recorder.repaints, static_cast<int>(expected.size()));
    }
    // Depth 10 reaches every level of the four-level tree.
    PathList all;
    IndexDisk(root, all);
    PathList deep;
    IndexDisk2(root, 10, deep);
    EXPECT_EQ(deep.entries(), all.entries());
}

#ifndef _WIN32
// Not on Windows: the deep chain is made through descriptors and the open-file limit set in a forked child.
// A tree deeper than the path limit and than the process's open-file limit is listed whole
// (paths of the list grow long; the walk itself never names one).
TEST(IndexDisk, TreeDeeperThanThePathAndOpenFileLimits) {
    TempTree tree;
    tree.mkdir("deep");
    EXPECT_TRUE(ostrivane::test::TrueInChild([&] {
        if (!ostrivane::test::MakeDeepChain(tree.path("deep"), 2000, "level_xx", "file"))
            return false;
        struct rlimit limit = {64, 64};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
        PathList list;
        IndexDisk(tree.path("deep/"), list);
        return list.count() == 2001 && list.at(2000).size() > 2000 * 9;
    }, 60));
}
#endif

// A stop request set during the walk (here by the repaint after the fifth folder, as a
// click on the window's Stop button would) ends it at once: exactly the folders added so
// far stay, as the walk's own prefix; set before the walk, only the chosen folder is added.
TEST(IndexDisk, StopRequestEndsTheWalkKeepingWhatWasAdded) {
    TempTree tree;
    const std::string root = MakeTree(tree);
    const std::vector<std::string> walk = ExpectedWalk(root);
    ASSERT_GT(walk.size(), 8u);
    for (const int depth : {-1, 10}) {
        std::atomic<bool> stop{false};
        PathList list;
        int visited = 0;
        const std::function<void()> repaint = [&] {
            if (++visited == 5) stop = true;
        };
        if (depth < 0) {
            IndexDisk(root, list, repaint, &stop);
        } else {
            IndexDisk2(root, depth, list, repaint, &stop);
        }
        EXPECT_EQ(list.entries(), std::vector<std::string>(walk.begin(), walk.begin() + 5));
    }
    std::atomic<bool> stopped{true};
    PathList list;
    IndexDisk(root, list, {}, &stopped);
    EXPECT_EQ(list.entries(), std::vector<std::string>{root});
}
