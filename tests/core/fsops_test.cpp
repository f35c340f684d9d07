#include "core/fsops.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "core/temp_tree.h"

namespace ostrivane {
namespace {
// Stands in for a file system that cannot hold permission bits (FAT on a USB stick): while
// set, fchmod fails with EPERM as it does there.
std::atomic<bool> chmodRefused{false};
}  // namespace
}  // namespace ostrivane

extern "C" int fchmod(int fd, mode_t mode) {
    if (ostrivane::chmodRefused) {
        errno = EPERM;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fchmod, fd, mode));
}

namespace ostrivane {
namespace {

using test::Exists;
using test::ReadFile;
using test::TempTree;

TEST(PathText, LastDelimiterAndParts) {
    EXPECT_EQ(LastDelimiterIndex("/", "/a/b"), 3);
    EXPECT_EQ(LastDelimiterIndex("/", "ab"), 0);
    EXPECT_EQ(LastDelimiterIndex("./", "a/b.c"), 4);
    EXPECT_EQ(FileNamePart("/data/报告.doc"), "报告.doc");
    EXPECT_EQ(FileNamePart("plain"), "plain");
    EXPECT_EQ(FileNamePart("/data/dir/"), "");
    // ":" is an ordinary file-name character on Linux.
    EXPECT_EQ(FileNamePart("/data/C:name"), "C:name");

    EXPECT_EQ(ExtensionPart("a.b.c"), ".c");
    EXPECT_EQ(ExtensionPart("readme"), "");
    EXPECT_EQ(ExtensionPart(".profile"), ".profile");
    EXPECT_EQ(ExtensionPart("x.y/readme"), "");
    EXPECT_EQ(ExtensionPart("name."), ".");
    EXPECT_EQ(ExtensionPart("报告.doc"), ".doc");
}

TEST(FolderChain, CreatesMissingParentsAndReportsResult) {
    TempTree t;
    EXPECT_TRUE(CreateFolderChain(t.path("a/b/c/")));
    EXPECT_TRUE(IsExistingFolder(t.path("a/b/c")));
    EXPECT_TRUE(CreateFolderChain(t.path("a/b")));  // already there
    t.write("file", "x");
    EXPECT_FALSE(CreateFolderChain(t.path("file/sub")));
    EXPECT_TRUE(CreateFolderChain("/"));
    EXPECT_TRUE(CreateFolderChain("///"));
    EXPECT_THROW(CreateFolderChain(""), EInOutError);
}

// A doubled separator names no empty folder between its halves: the chain is still made.
TEST(FolderChain, DoubledSeparatorsCountAsOne) {
    TempTree t;
    EXPECT_TRUE(CreateFolderChain(t.path("new//deep/")));
    EXPECT_TRUE(IsExistingFolder(t.path("new/deep")));
    EXPECT_TRUE(CreateFolderChain(t.path("x///y//z//")));
    EXPECT_TRUE(IsExistingFolder(t.path("x/y/z")));
    EXPECT_TRUE(CreateFolderChain("/" + t.root() + "//two"));
    EXPECT_TRUE(IsExistingFolder(t.path("two")));

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(t.root().c_str()), 0);
    const bool relative = CreateFolderChain("rel//sub");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(relative);
    EXPECT_TRUE(IsExistingFolder(t.path("rel/sub")));
}

TEST(Existence, FilesFoldersAndLinks) {
    TempTree t;
    t.write("f", "x");
    t.mkdir("d");
    symlink(t.path("d").c_str(), t.path("link-to-d").c_str());
    symlink(t.path("missing").c_str(), t.path("dangling").c_str());
    EXPECT_TRUE(IsExistingFile(t.path("f")));
    EXPECT_FALSE(IsExistingFolder(t.path("f")));
    EXPECT_TRUE(IsExistingFolder(t.path("d")));
    EXPECT_TRUE(IsExistingFolder(t.path("d/")));
    EXPECT_FALSE(IsExistingFile(t.path("d")));
    EXPECT_TRUE(IsExistingFolder(t.path("link-to-d")));
    EXPECT_TRUE(IsExistingFile(t.path("dangling")));
    EXPECT_FALSE(IsExistingFile(t.path("nothing")));
    EXPECT_TRUE(IsExistingFolder("/"));
}

std::set<std::string> Names(const std::string& pattern, std::uint32_t wanted,
                            SearchDetail detail = SearchDetail::Full) {
    std::set<std::string> names;
    SearchRec rec;
    for (bool more = SearchFirst(pattern, wanted, rec, detail); more; more = SearchNext(rec))
        names.insert(rec.entry.name);
    return names;
}

TEST(Search, AttributeFilterAndWords) {
    TempTree t;
    t.write("plain", "x");
    t.write(".hidden", "x");
    t.mkdir("sub");
    t.mkdir(".hsub");
    mkfifo(t.path("fifo").c_str(), 0600);
    chmod(t.write("ro", "x").c_str(), 0444);
    symlink(t.path("sub").c_str(), t.path("lsub").c_str());

    using S = std::set<std::string>;
    EXPECT_EQ(Names(t.path("*"), 63),
              (S{".", "..", "plain", ".hidden", "sub", ".hsub", "fifo", "ro", "lsub"}));
    // Hidden + folder: the system entry (the FIFO) is passed over.
    EXPECT_EQ(Names(t.path("*.*"), 18),
              (S{".", "..", "plain", ".hidden", "sub", ".hsub", "ro", "lsub"}));
    // Nothing wanted: no folders, no hidden entries, no system entries.
    EXPECT_EQ(Names(t.path("*"), 0), (S{"plain", "ro"}));
    EXPECT_EQ(Names(t.path("p*"), 63), (S{"plain"}));

    SearchRec rec;
    std::map<std::string, std::uint32_t> words;
    for (bool more = SearchFirst(t.path("*"), 63, rec); more; more = SearchNext(rec))
        words[rec.entry.name] = rec.entry.attributes;
    EXPECT_EQ(words["plain"], attr::kArchive);
    EXPECT_EQ(words[".hidden"], attr::kArchive | attr::kHidden);
    EXPECT_EQ(words["sub"], attr::kFolder);
    EXPECT_EQ(words[".hsub"], attr::kFolder | attr::kHidden);
    EXPECT_EQ(words["fifo"], attr::kSystem);
    EXPECT_EQ(words["ro"], attr::kArchive | attr::kReadOnly);
    EXPECT_EQ(words["lsub"], attr::kFolder | attr::kLink);
    EXPECT_EQ(words["."], attr::kFolder);

    // Without a stat per entry the read-only bit is not reported, the rest is.
    SearchRec fast;
    for (bool more = SearchFirst(t.path("*"), 63, fast, SearchDetail::TypeOnly); more;
         more = SearchNext(fast))
        if (fast.entry.name == "ro" || fast.entry.name == "lsub")
            words[fast.entry.name + "!"] = fast.entry.attributes;
    EXPECT_EQ(words["ro!"], attr::kArchive);
    EXPECT_EQ(words["lsub!"], attr::kFolder | attr::kLink);
}

TEST(Search, MissingFolderHoldsNothingAndTellsWhy) {
    TempTree t;
    SearchRec rec;
    EXPECT_FALSE(SearchFirst(t.path("none/*"), 63, rec));
    EXPECT_EQ(rec.error, ENOENT);
    EXPECT_FALSE(rec.state);
    EXPECT_FALSE(SearchNext(rec));
}

TEST(RawSearch, EnteringAndListing) {
    TempTree t;
    t.write("d/a", "x");
    SearchRec rec;
    std::set<std::string> names;
    for (bool more = RawSearchFirst(t.path("d"), rec); more; more = SearchNext(rec))
        names.insert(rec.entry.name);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "a"}));

    try {
        RawSearchFirst(t.path("gone"), rec);
        FAIL() << "no error for a missing folder";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.code, 2);
        EXPECT_STREQ(e.what(), "File not found");
    }
    // A file, a link that leads to itself and an over-long name are invalid folder names.
    t.write("file", "x");
    symlink(t.path("loop").c_str(), t.path("loop").c_str());
    for (const std::string& invalid :
         {t.path("file"), t.path("file/"), t.path("loop"), t.path(std::string(300, 'n'))}) {
        try {
            RawSearchFirst(invalid, rec);
            ADD_FAILURE() << "no error for " << invalid;
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.code, 3) << invalid;
            EXPECT_STREQ(e.what(), "Invalid filename");
        }
    }

    if (!test::PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    t.mkdir("closed");
    chmod(t.path("closed").c_str(), 0);
    try {
        RawSearchFirst(t.path("closed"), rec);
        FAIL() << "no error for a folder without search permission";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.code, 5);
        EXPECT_STREQ(e.what(), "File access denied");
    }
    // Enterable but not listable: no error, nothing yielded, the reason kept.
    t.mkdir("blind");
    chmod(t.path("blind").c_str(), 0111);
    EXPECT_FALSE(RawSearchFirst(t.path("blind"), rec));
    EXPECT_EQ(rec.error, EACCES);
}

TEST(InOutError, MessagesByCode) {
    struct Case {
        int osError;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {ENOENT, 2, "File not found"},
        {ENOTDIR, 3, "Invalid filename"},
        {ENAMETOOLONG, 3, "Invalid filename"},
        {ELOOP, 3, "Invalid filename"},
        {EMFILE, 4, "Too many open files"},
        {ENFILE, 4, "Too many open files"},
        {EACCES, 5, "File access denied"},
        {EPERM, 5, "File access denied"},
        {EIO, EIO, "I/O error " + std::to_string(EIO)},
        {EROFS, EROFS, "I/O error " + std::to_string(EROFS)},
    };
    for (const Case& c : cases) {
        EInOutError e = InOutErrorFromOs(c.osError);
        EXPECT_EQ(e.code, c.code) << c.osError;
        EXPECT_EQ(std::string(e.what()), c.message) << c.osError;
    }
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st;
}

TEST(CopyOneFile, CopiesBytesModeAndTime) {
    TempTree t;
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
    std::string src = t.write("src.bin", big);
    chmod(src.c_str(), 0640);
    struct timespec times[2] = {{1000000, 0}, {1234567890, 5000}};
    utimensat(AT_FDCWD, src.c_str(), times, 0);

    ASSERT_EQ(CopyOneFile(src, t.path("dst.bin"), true), 0);
    EXPECT_EQ(ReadFile(t.path("dst.bin")), big);
    struct stat st = StatOf(t.path("dst.bin"));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);

    // Empty files and a source reached through a link.
    std::string empty = t.write("empty", "");
    symlink(empty.c_str(), t.path("link").c_str());
    ASSERT_EQ(CopyOneFile(t.path("link"), t.path("copy-of-link"), true), 0);
    EXPECT_TRUE(IsExistingFile(t.path("copy-of-link")));
    struct stat lst {};
    lstat(t.path("copy-of-link").c_str(), &lst);
    EXPECT_TRUE(S_ISREG(lst.st_mode));

    EXPECT_EQ(CopyOneFile(t.path("missing"), t.path("x"), false), ENOENT);
    EXPECT_FALSE(Exists(t.path("x")));

    // Set-user-ID, set-group-ID and sticky bits stay behind, on a new and a replaced copy.
    std::string special = t.write("special", "s");
    ASSERT_EQ(chmod(special.c_str(), 07755), 0);
    ASSERT_EQ(StatOf(special).st_mode & 07777, 07755u);
    ASSERT_EQ(CopyOneFile(special, t.path("special-copy"), true), 0);
    EXPECT_EQ(StatOf(t.path("special-copy")).st_mode & 07777, 0755u);
    ASSERT_EQ(CopyOneFile(special, t.path("dst.bin"), false), 0);
    EXPECT_EQ(StatOf(t.path("dst.bin")).st_mode & 07777, 0755u);
}

TEST(CopyOneFile, FailIfExistsNeverTouchesTarget) {
    TempTree t;
    std::string src = t.write("src", "new");
    std::string dst = t.write("dst", "old");
    EXPECT_EQ(CopyOneFile(src, dst, true), EEXIST);
    EXPECT_EQ(ReadFile(dst), "old");
    // A folder in the way, or a link to one: refused under both flags, and kept as it was.
    t.mkdir("dir");
    symlink(t.path("dir").c_str(), t.path("link-to-dir").c_str());
    for (const std::string& inTheWay : {t.path("dir"), t.path("link-to-dir")}) {
        EXPECT_EQ(CopyOneFile(src, inTheWay, true), EEXIST);
        EXPECT_EQ(CopyOneFile(src, inTheWay, false), EISDIR) << inTheWay;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(t.path("link-to-dir")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path("dir")), {}), 0);
}

TEST(CopyOneFile, SpecialFilesAreRefusedWithoutOpeningThem) {
    TempTree t;
    ASSERT_EQ(mkfifo(t.path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", t.path("zeros").c_str()), 0);
    t.mkdir("out");
    // Opening the FIFO would wait for a writer; reading /dev/zero would never end.
    EXPECT_TRUE(test::TrueInChild([&] {
        return CopyOneFile(t.path("fifo"), t.path("out/fifo"), false) == ENOTSUP &&
               CopyOneFile(t.path("zeros"), t.path("out/zeros"), true) == ENOTSUP &&
               CopyOneFile("/dev/null", t.path("out/null"), false) == ENOTSUP;
    }));
    // The same for entries met in a folder listing.
    EXPECT_TRUE(test::TrueInChild([&] {
        SearchRec rec;
        int refused = 0;
        for (bool more = RawSearchFirst(t.root(), rec); more; more = SearchNext(rec)) {
            const std::string& name = rec.entry.name;
            if (name == "fifo" || name == "zeros")
                refused +=
                    CopyOneFileFromSearch(rec, name, t.path("out/" + name), false) == ENOTSUP;
        }
        return refused == 2;
    }));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path("out")), {}), 0);
}

TEST(CopyOneFile, ReplaceLeavesNoTemporaryAndRespectsWriteProtection) {
    TempTree t;
    std::string src = t.write("src", "new content");
    std::string dst = t.write("out/dst", "old");
    ASSERT_EQ(CopyOneFile(src, dst, false), 0);
    EXPECT_EQ(ReadFile(dst), "new content");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path("out")), {}), 1);
    // Copying a file onto itself keeps it.
    EXPECT_EQ(CopyOneFile(dst, dst, false), 0);
    EXPECT_EQ(ReadFile(dst), "new content");

    if (!test::PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    std::string locked = t.write("out/locked", "keep");
    chmod(locked.c_str(), 0444);
    EXPECT_EQ(CopyOneFile(src, locked, false), EACCES);
    EXPECT_EQ(ReadFile(locked), "keep");
    // An unreadable source neither replaces nor creates anything.
    std::string unreadable = t.write("unreadable", "secret");
    chmod(unreadable.c_str(), 0200);
    EXPECT_EQ(CopyOneFile(unreadable, dst, false), EACCES);
    EXPECT_EQ(CopyOneFile(unreadable, t.path("out/fresh"), true), EACCES);
    EXPECT_EQ(ReadFile(dst), "new content");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path("out")), {}), 2);
}

TEST(CopyOneFile, FileSystemWithoutPermissionBitsKeepsTheCopy) {
    TempTree t;
    std::string src = t.write("src", "bytes");
    chmod(src.c_str(), 0666);
    std::string dst = t.write("dst", "old");
    chmodRefused = true;
    int fresh = CopyOneFile(src, t.path("fresh"), true);
    int replaced = CopyOneFile(src, dst, false);
    chmodRefused = false;
    EXPECT_EQ(fresh, 0);
    EXPECT_EQ(replaced, 0);
    EXPECT_EQ(ReadFile(t.path("fresh")), "bytes");
    EXPECT_EQ(ReadFile(dst), "bytes");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.root()), {}), 3);
}

// A write that fails half-way (file size limit) must leave the old target as it was and no
// partial file behind.
TEST(CopyOneFile, FailedReplaceKeepsExistingTarget) {
    TempTree t;
    std::string src = t.write("src", std::string(256 * 1024, 'n'));
    std::string dst = t.write("out/dst", "the good old content");
    EXPECT_TRUE(test::TrueInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        int replace = CopyOneFile(src, dst, false);
        int fresh = CopyOneFile(src, t.path("out/fresh"), true);
        return replace == EFBIG && fresh == EFBIG;
    }));
    EXPECT_EQ(ReadFile(dst), "the good old content");
    EXPECT_FALSE(Exists(t.path("out/fresh")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path("out")), {}), 1);
}

TEST(WholeFiles, AtomicWriteKeepsModeAndOldFileOnFailure) {
    TempTree t;
    std::string path = t.path("list.lst");
    ASSERT_EQ(WriteFileAtomically(path, "one"), 0);
    chmod(path.c_str(), 0600);
    ASSERT_EQ(WriteFileAtomically(path, "two"), 0);
    std::string bytes;
    ASSERT_EQ(ReadWholeFile(path, bytes), 0);
    EXPECT_EQ(bytes, "two");
    EXPECT_EQ(StatOf(path).st_mode & 0777, 0600u);
    EXPECT_EQ(ReadWholeFile(t.path("none"), bytes), ENOENT);
    EXPECT_EQ(bytes, "two");
    EXPECT_EQ(WriteFileAtomically(t.path("no/such/folder/x"), "z"), ENOENT);
    // A linked file is rewritten where it lives; the link stays a link.
    std::string real = t.write("elsewhere/real.ini", "old");
    symlink(real.c_str(), t.path("linked.ini").c_str());
    ASSERT_EQ(WriteFileAtomically(t.path("linked.ini"), "new"), 0);
    EXPECT_EQ(ReadFile(real), "new");
    struct stat lst {};
    lstat(t.path("linked.ini").c_str(), &lst);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));

    if (!test::PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    chmod(t.root().c_str(), 0555);
    bool shortWrite = true;
    EXPECT_EQ(WriteFileAtomically(path, "three", &shortWrite), EACCES);
    EXPECT_FALSE(shortWrite);
    chmod(t.root().c_str(), 0755);
    ASSERT_EQ(ReadWholeFile(path, bytes), 0);
    EXPECT_EQ(bytes, "two");
}

// What a whole-file write would replace, the entry itself looked at: only a new name and a
// regular file are places to write, and only where the folder takes a new file.
TEST(WholeFiles, FilePlaceTellsWhatTheNameHoldsAndWhetherItCanBeWritten) {
    TempTree t;
    t.write("file", "x");
    t.mkdir("folder");
    ASSERT_EQ(::mkfifo(t.path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(t.path("file").c_str(), t.path("link").c_str()), 0);
    ASSERT_EQ(::symlink(t.path("none").c_str(), t.path("dangling").c_str()), 0);
    const std::vector<std::tuple<std::string, FilePlaceKind, int>> cases = {
        {t.path("new"), FilePlaceKind::Free, 0},
        {t.path("file"), FilePlaceKind::File, 0},
        {t.path("folder"), FilePlaceKind::Folder, 0},
        {t.path("new") + "/", FilePlaceKind::Folder, 0},
        {t.path("folder/.."), FilePlaceKind::Folder, 0},
        {t.path("fifo"), FilePlaceKind::Other, 0},
        {"/dev/null", FilePlaceKind::Other, 0},
        {t.path("link"), FilePlaceKind::Link, 0},
        {t.path("dangling"), FilePlaceKind::Link, 0},
        {t.path("none/new"), FilePlaceKind::Free, ENOENT},
        {t.path("file/new"), FilePlaceKind::Free, ENOTDIR},
    };
    for (const auto& [path, kind, error] : cases) {
        SCOPED_TRACE(path);
        FilePlaceKind found = FilePlaceKind::File;
        EXPECT_EQ(LookAtFilePlace(path, found), error);
        EXPECT_EQ(found, kind);
    }
    if (!test::PermissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    ASSERT_EQ(::chmod(t.path("file").c_str(), 0444), 0);
    FilePlaceKind kind = FilePlaceKind::Free;
    EXPECT_EQ(LookAtFilePlace(t.path("file"), kind), EACCES);
    EXPECT_EQ(kind, FilePlaceKind::File);
    ASSERT_EQ(::chmod(t.path("folder").c_str(), 0555), 0);
    EXPECT_EQ(LookAtFilePlace(t.path("folder/new"), kind), EACCES);
    EXPECT_EQ(kind, FilePlaceKind::Free);
    ::chmod(t.path("folder").c_str(), 0755);
}

TEST(Attributes, ReadOnlyBitAndFolderPermission) {
    TempTree t;
    std::string f = t.write("f", "x");
    ASSERT_EQ(SetAttributes(f, attr::kArchive | attr::kReadOnly), 0);
    std::uint32_t word = 0;
    ASSERT_TRUE(GetAttributes(f, word));
    EXPECT_EQ(word, attr::kArchive | attr::kReadOnly);
    ASSERT_EQ(SetAttributes(f, attr::kArchive), 0);
    ASSERT_TRUE(GetAttributes(f, word));
    EXPECT_EQ(word, attr::kArchive);
    EXPECT_FALSE(GetAttributes(t.path("none"), word));

    std::string d = t.mkdir("d");
    chmod(d.c_str(), 0500);
    ASSERT_EQ(MakeFolderWritable(d), 0);
    EXPECT_EQ(StatOf(d).st_mode & 0700, 0700u);
}

TEST(Identity, SameObjectThroughLinks) {
    TempTree t;
    t.mkdir("d");
    symlink(t.path("d").c_str(), t.path("l").c_str());
    FileIdentity a, b;
    ASSERT_TRUE(GetIdentity(t.path("d"), a));
    ASSERT_TRUE(GetIdentity(t.path("l"), b));
    EXPECT_EQ(a, b);
    SearchRec rec;
    ASSERT_TRUE(RawSearchFirst(t.path("l"), rec));
    EXPECT_EQ(IdentityOfSearch(rec), a);
    EXPECT_FALSE(GetIdentity(t.path("none"), a));
}

TEST(Identity, FileSystemRootInEverySpelling) {
    TempTree t;
    t.mkdir("d");
    t.write("f", "x");
    symlink("/", t.path("to-root").c_str());
    symlink(t.path("to-root").c_str(), t.path("to-link").c_str());
    symlink(t.path("d").c_str(), t.path("to-d").c_str());
    symlink(t.path("none").c_str(), t.path("dangling").c_str());
    // ".." above the root stays at the root, so this climbs to it from any working folder.
    std::string climb;
    for (int i = 0; i < 64; ++i) climb += "../";
    for (const std::string& root :
         {std::string("/"), std::string("//"), std::string("/."), std::string("/.."),
          std::string("/tmp/.."), t.root() + "/" + climb, t.path("to-root"), t.path("to-root/"),
          t.path("to-link"), t.path("d/../to-root/.")}) {
        EXPECT_TRUE(IsFileSystemRoot(root)) << root;
    }
    for (const std::string& other :
         {std::string(""), std::string("/tmp"), t.root(), t.path("d"), t.path("to-d"), t.path("f"),
          t.path("none"), t.path("dangling")}) {
        EXPECT_FALSE(IsFileSystemRoot(other)) << other;
    }

    // Relative paths are taken from the working folder.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(t.path("d").c_str()), 0);
    const bool climbed = IsFileSystemRoot(climb);
    const bool here = IsFileSystemRoot(".") || IsFileSystemRoot("..") ||
                      IsFileSystemRoot("../to-d") || IsFileSystemRoot("d");
    const bool throughLink = IsFileSystemRoot("../to-root");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(climbed);
    EXPECT_FALSE(here);
    EXPECT_TRUE(throughLink);
}

}  // namespace
}  // namespace ostrivane
