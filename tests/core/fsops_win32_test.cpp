// The Windows layer's own cases: wide names, long paths, the attribute word as Windows
// reports it, Windows path rules, copies put in place only when complete, and reparse
// points never followed. Built for Windows only (run under Wine in the cross build).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/copy_run.h"
#include "core/fsops.h"
#include "core/intake.h"
#include "core/list_files.h"
#include "core/path_list.h"
#include "core/run_copy.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

using test::Exists;
using test::ReadFile;
using test::TempTree;

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::vector<std::string> Names(const Folder& folder) {
    std::vector<FolderEntry> entries;
    EXPECT_EQ(ReadFolder(folder, entries), 0);
    std::vector<std::string> names;
    for (const FolderEntry& e : entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Win32PathRules, SeparatorDelimitersAndRoots) {
    EXPECT_EQ(FileNamePart("C:\\data\\report.txt"), "report.txt");
    EXPECT_EQ(FileNamePart("D:x.txt"), "x.txt");
    EXPECT_EQ(FileNamePart("\\\\server\\share\\a"), "a");
    EXPECT_EQ(ExtensionPart("a.b.c"), ".c");
    EXPECT_EQ(ExtensionPart("x.y\\readme"), "");
    EXPECT_EQ(ExtensionPart("C:.profile"), ".profile");
    EXPECT_EQ(ExtensionPart("name."), ".");
    EXPECT_EQ(WithTrailingSeparator("C:\\data"), "C:\\data\\");
    EXPECT_TRUE(IsDriveRoot("C:\\"));
    EXPECT_TRUE(IsDriveRoot("\\\\server\\share\\"));
    EXPECT_FALSE(IsDriveRoot("C:"));
    EXPECT_FALSE(IsDriveRoot("C:\\data\\"));
    EXPECT_FALSE(IsDriveRoot("\\\\server\\share\\sub\\"));
    EXPECT_FALSE(IsDriveRoot("\\\\server\\"));
    // A drive designator inside a path ends the chain: nothing is created for it.
    EXPECT_TRUE(CreateFolderChain("D:\\out\\C:"));
}

// The path with every "\" written as "/", as a user may type it.
std::string Slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

PathList ListOf(std::initializer_list<std::string> entries) {
    PathList list;
    for (const std::string& entry : entries) list.append(entry);
    return list;
}

TEST(Win32PathRules, SlashesSeparateAndEveryDriveRootSpellingIsARoot) {
    EXPECT_EQ(NativeSeparators("C:/data/sub/"), "C:\\data\\sub\\");
    EXPECT_EQ(FileNamePart("C:/data/report.txt"), "report.txt");
    EXPECT_EQ(FileNamePart("C:\\data/report.txt"), "report.txt");
    EXPECT_EQ(ExtensionPart("x.y/readme"), "");
    EXPECT_EQ(WithTrailingSeparator("C:/data/"), "C:/data/");
    for (const char* root : {"/", "\\", "//", "C:/", "c:\\", "\\\\?\\C:\\", "//?/C:/",
                             "\\\\.\\C:\\", "//server/share/", "\\\\?\\UNC\\server\\share\\",
                             "\\\\?\\unc\\server\\share\\", "\\\\?\\Volume{0d1e2f3a-4b5c}\\"})
        EXPECT_TRUE(IsDriveRoot(root)) << root;
    for (const char* folder : {"C:/data/", "C:", "//server/", "\\\\?\\C:\\data\\",
                               "\\\\?\\UNC\\server\\share\\sub\\", "/data/"})
        EXPECT_FALSE(IsDriveRoot(folder)) << folder;
    // As the lists take them: a drive named by its letter alone stands for its root.
    for (const char* root : {"/", "\\", "C:", "C:/", "\\\\?\\C:\\"})
        EXPECT_TRUE(IsWholeFileSystem(root)) << root;
}

// A path written with "/" joins a list in the form with "\", so that its two spellings are
// one entry, from the command line's intake, a drop and a list file alike; the root of the
// current drive ("/") is refused everywhere.
TEST(Win32Intake, SlashSpellingsAreOneEntryAndSlashIsADriveRoot) {
    TempTree t;
    const std::string file = t.write("src/a.txt", "a");
    const std::string folder = t.mkdir("src/sub");
    PathList sources;
    EXPECT_EQ(AddNamedSource(Slashed(file), sources), IntakeOutcome::Added);
    EXPECT_EQ(AddNamedSource(file, sources), IntakeOutcome::AlreadyListed);
    EXPECT_EQ(AddNamedSource(Slashed(folder) + "/", sources), IntakeOutcome::Added);
    EXPECT_EQ(AddNamedSource(folder, sources), IntakeOutcome::AlreadyListed);
    EXPECT_EQ(sources.entries(), (std::vector<std::string>{file, folder + "\\"}));
    for (const char* root : {"/", "\\", "C:", "C:/"}) {
        EXPECT_EQ(AddNamedSource(root, sources), IntakeOutcome::RootRefused) << root;
        EXPECT_EQ(AppendDroppedSource(root, sources), IntakeOutcome::RootRefused) << root;
        EXPECT_EQ(DestinationRefusal(root), IntakeOutcome::RootRefused) << root;
    }
    EXPECT_EQ(sources.count(), 2);
    PathList dropped;
    EXPECT_EQ(AppendDroppedSource(Slashed(file), dropped), IntakeOutcome::Added);
    EXPECT_EQ(dropped.entries(), std::vector<std::string>{file});

    t.write("sources.lst", Slashed(file) + "\r\n" + file + "\r\n" + Slashed(folder) + "\r\n");
    PathList scratch, imported;
    ImportSourceList(t.path("sources.lst"), scratch, imported);
    EXPECT_EQ(imported.entries(), (std::vector<std::string>{file, folder}));
    t.write("dirs.lst", Slashed(folder) + "\r\n" + folder + "\\\r\n/\r\nC:/\r\n");
    PathList destinations;
    const DestinationImport result =
        ImportDestinationList(t.path("dirs.lst"), scratch, destinations);
    EXPECT_EQ(destinations.entries(), std::vector<std::string>{folder});
    EXPECT_EQ(result.refusedRoots, 2);
    EXPECT_TRUE(result.skipped);
}

// Sources and destinations spelled with "/" are copied under their own names, as with "\".
TEST(Win32Copy, SlashSpelledSourcesKeepTheirNames) {
    TempTree t;
    const std::string file = t.write("src/hello.txt", "hello");
    t.write("src/tree/inner.txt", "inner");
    const std::string out = t.mkdir("out");
    const std::vector<Failure> failures =
        test::RunCopy(ListOf({Slashed(file), Slashed(t.path("src/tree")) + "/"}),
                      ListOf({Slashed(out)}), SameFilePolicy::Overwrite,
                      [](const std::string&) { return true; }, [](int) {})
            .failures;
    EXPECT_TRUE(failures.empty()) << failures.front().path << ": " << failures.front().reason;
    EXPECT_EQ(ReadFile(t.path("out/hello.txt")), "hello");
    EXPECT_EQ(ReadFile(t.path("out/tree/inner.txt")), "inner");
}

// Names that end in a dot or a space (which the old path functions cut off) stay whole in
// every path the core opens: a copy into such a folder is found again by the check.
TEST(Win32Files, NamesEndingInDotsOrSpacesStayWholeInPaths) {
    TempTree t;
    const std::string plain = t.write("plain.txt", "dotted");
    // src\dirtrail.\f.txt, made through the folders' handles as a copy makes its folders.
    Folder root, src, dottedFolder;
    ASSERT_EQ(OpenFolder(t.root(), root), 0);
    ASSERT_EQ(CreateFolderAt(root, "src"), 0);
    ASSERT_EQ(OpenSubfolder(root, "src", src), 0);
    ASSERT_EQ(CreateFolderAt(src, "dirtrail."), 0);
    ASSERT_EQ(CreateFolderAt(root, "space "), 0);
    ASSERT_EQ(OpenSubfolder(src, "dirtrail.", dottedFolder), 0);
    ASSERT_EQ(CopyFileAt(nullptr, plain, dottedFolder, "f.txt", true), 0);

    // The tree copied and verified: every copy is found and checked.
    const std::string out = t.mkdir("out");
    RunOptions options;
    options.verify = true;
    const RunResult result =
        test::RunCopy(ListOf({t.path("src")}), ListOf({out}), SameFilePolicy::Overwrite,
                      [](const std::string&) { return true; }, [](int) {}, false, options);
    for (const Failure& failure : result.failures)
        ADD_FAILURE() << failure.path << ": " << failure.reason;
    EXPECT_EQ(result.copiesVerified, 1u);

    // Every path to such a name reaches it, and no other.
    const std::string dotted = t.path("src/dirtrail.");
    EXPECT_TRUE(IsExistingFolder(dotted));
    EXPECT_FALSE(IsExistingFolder(t.path("src/dirtrail")));
    EXPECT_TRUE(IsExistingFolder(t.root() + "\\space \\"));
    Folder open;
    EXPECT_EQ(OpenFolder(dotted + "\\", open), 0);
    EXPECT_EQ(OpenFolder(t.root() + "\\space \\..\\src\\dirtrail.", open), 0);
    std::string bytes;
    EXPECT_EQ(ReadWholeFile(out + "\\src\\dirtrail.\\f.txt", bytes), 0);
    EXPECT_EQ(bytes, "dotted");
    EXPECT_EQ(WriteFileAtomically(dotted + "\\g.txt", "written"), 0);
    EXPECT_TRUE(IsExistingFileAt(dottedFolder, "g.txt"));
}

// Every error number gets words: the system's, or the core's own where the system has none.
TEST(Win32Errors, NoErrorIsABareNumber) {
    for (int error : {2, 3, 5, 32, 112, 267, 336, 0x1234567}) {
        const std::string text = ErrorText(error);
        EXPECT_FALSE(text.empty()) << error;
        EXPECT_NE(text, "Error " + std::to_string(error));
    }
    EXPECT_NE(ErrorText(0x1234567).find("19088743"), std::string::npos);
}

TEST(Win32PathRules, FindIgnoresLetterCaseOfEveryScript) {
    PathList list;
    list.append("C:\\Data\\Ärger\\Привет\\");
    EXPECT_EQ(list.find("c:\\DATA\\ärger\\привет\\"), 0);
    EXPECT_FALSE(list.addIfAbsent("C:\\DATA\\ÄRGER\\ПРИВЕТ\\"));
    EXPECT_EQ(list.find("C:\\Data\\Ärger\\Привет"), -1);  // the separator still counts
    EXPECT_EQ(list.find("C:\\Data\\Arger\\Привет\\"), -1);
}

TEST(Win32Files, NamesOutsideEveryCodePageAreCopiedAndListed) {
    TempTree t;
    const std::string name = "报告-Ωμέγα-\xF0\x9F\x93\x81.txt";  // the last is outside the BMP
    t.write("src\\" + name, "content");
    t.mkdir("dst");
    Folder src, dst;
    ASSERT_EQ(OpenFolder(t.path("src"), src), 0);
    ASSERT_EQ(OpenFolder(t.path("dst"), dst), 0);
    ASSERT_EQ(CopyFileAt(&src, name, dst, name, true), 0);
    EXPECT_EQ(ReadFile(t.path("dst\\" + name)), "content");
    EXPECT_EQ(Names(dst), std::vector<std::string>{name});
    SearchRec rec;
    ASSERT_TRUE(SearchFirst(t.path("dst\\*.*"), 63, rec));
    std::vector<std::string> searched;
    do searched.push_back(rec.entry.name);
    while (SearchNext(rec));
    std::sort(searched.begin(), searched.end());
    EXPECT_EQ(searched, (std::vector<std::string>{".", "..", name}));
}

TEST(Win32Files, PathsLongerThanTheOldLimit) {
    TempTree t;
    std::string deep = t.root();
    for (int i = 0; deep.size() < 600; ++i) deep += "\\folder-with-a-long-name-" + std::to_string(i);
    ASSERT_TRUE(CreateFolderChain(deep));
    EXPECT_TRUE(IsExistingFolder(deep));
    t.write("a.txt", "long way");
    ASSERT_EQ(CopyOneFile(t.path("a.txt"), deep + "\\a.txt", true), 0);
    std::string bytes;
    ASSERT_EQ(ReadWholeFile(deep + "\\a.txt", bytes), 0);
    EXPECT_EQ(bytes, "long way");
    EXPECT_TRUE(IsExistingFile(deep + "\\a.txt"));
    EXPECT_EQ(WriteFileAtomically(deep + "\\b.txt", "written"), 0);
    ASSERT_EQ(ReadWholeFile(deep + "\\b.txt", bytes), 0);
    EXPECT_EQ(bytes, "written");
}

TEST(Win32Files, AttributeWordAsWindowsReportsIt) {
    TempTree t;
    t.write("plain.txt", "p");
    t.write("system.txt", "s");
    t.write("hidden.txt", "h");
    t.mkdir("sub");
    ASSERT_TRUE(SetFileAttributesW(Wide(t.path("system.txt")).c_str(), FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(Wide(t.path("hidden.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(Wide(t.path("plain.txt")).c_str(), FILE_ATTRIBUTE_NORMAL));
    std::uint32_t word = 0;
    ASSERT_TRUE(GetAttributes(t.path("plain.txt"), word));
    EXPECT_EQ(word, GetFileAttributesW(Wide(t.path("plain.txt")).c_str()));
    ASSERT_TRUE(GetAttributes(t.path("sub"), word));
    EXPECT_TRUE(word & attr::kFolder);

    auto search = [&](std::uint32_t wanted) {
        std::vector<std::string> names;
        SearchRec rec;
        if (SearchFirst(t.path("*.*"), wanted, rec)) {
            do names.push_back(rec.entry.name);
            while (SearchNext(rec));
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    // Hidden and folder wanted: the system file stays out.
    EXPECT_EQ(search(18), (std::vector<std::string>{".", "..", "hidden.txt", "plain.txt", "sub"}));
    EXPECT_EQ(search(63), (std::vector<std::string>{".", "..", "hidden.txt", "plain.txt", "sub",
                                                    "system.txt"}));
    EXPECT_EQ(search(0), (std::vector<std::string>{"plain.txt"}));
}

TEST(Win32Files, ReadOnlyEntriesAreDeletedByTheEmptyingButNotReplaced) {
    TempTree t;
    t.write("dir\\ro.txt", "old");
    t.write("src.txt", "new");
    ASSERT_TRUE(SetFileAttributesW(Wide(t.path("dir\\ro.txt")).c_str(), FILE_ATTRIBUTE_READONLY));
    Folder dir;
    ASSERT_EQ(OpenFolder(t.path("dir"), dir), 0);
    // A copy that replaces a read-only file is refused, as the platform refuses it.
    EXPECT_EQ(CopyFileAt(nullptr, t.path("src.txt"), dir, "ro.txt", false), error::kAccessDenied);
    EXPECT_EQ(ReadFile(t.path("dir\\ro.txt")), "old");
    EXPECT_EQ(Names(dir), std::vector<std::string>{"ro.txt"});
    // The emptying deletes it all the same.
    EXPECT_EQ(DeleteEntryAt(dir, "ro.txt"), 0);
    EXPECT_FALSE(Exists(t.path("dir\\ro.txt")));
}

TEST(Win32Copy, FailIfExistsReplaceAndTimes) {
    TempTree t;
    t.write("src\\a.txt", "source data");
    t.write("dst\\a.txt", "existing");
    Folder src, dst;
    ASSERT_EQ(OpenFolder(t.path("src"), src), 0);
    ASSERT_EQ(OpenFolder(t.path("dst"), dst), 0);
    EXPECT_EQ(CopyFileAt(&src, "a.txt", dst, "a.txt", true), error::kAlreadyExists);
    EXPECT_EQ(ReadFile(t.path("dst\\a.txt")), "existing");
    ASSERT_EQ(CopyFileAt(&src, "a.txt", dst, "a.txt", false), 0);
    EXPECT_EQ(ReadFile(t.path("dst\\a.txt")), "source data");
    // Only the final name is left: the temporary was renamed, not copied.
    EXPECT_EQ(Names(dst), std::vector<std::string>{"a.txt"});
    WIN32_FILE_ATTRIBUTE_DATA a{}, b{};
    ASSERT_TRUE(GetFileAttributesExW(Wide(t.path("src\\a.txt")).c_str(), GetFileExInfoStandard, &a));
    ASSERT_TRUE(GetFileAttributesExW(Wide(t.path("dst\\a.txt")).c_str(), GetFileExInfoStandard, &b));
    EXPECT_EQ(CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime), 0);
    // The target folder itself, and a file onto itself.
    EXPECT_EQ(CopyFileAt(&src, "a.txt", src, "a.txt", false), 0);
    EXPECT_EQ(ReadFile(t.path("src\\a.txt")), "source data");
    t.mkdir("dst\\folder");
    EXPECT_NE(CopyFileAt(&src, "a.txt", dst, "folder", false), 0);
    EXPECT_TRUE(IsExistingFolder(t.path("dst\\folder")));
    // A folder is no file to copy.
    EXPECT_NE(CopyFileAt(nullptr, t.path("src"), dst, "x", false), 0);
    EXPECT_FALSE(Exists(t.path("dst\\x")));
}

// A failed copy tells which side it came from: a missing source, a folder given as the
// source and a source another program holds without sharing are the source's; a file kept,
// a read-only file and a folder in the way are the target's.
TEST(Win32Copy, AFailureTellsWhichSideItCameFrom) {
    TempTree t;
    t.write("src\\a.txt", "data");
    t.write("src\\held.txt", "held");
    t.write("dst\\kept.txt", "kept");
    t.write("dst\\ro.txt", "ro");
    t.mkdir("dst\\folder");
    ASSERT_TRUE(SetFileAttributesW(Wide(t.path("dst\\ro.txt")).c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE held = CreateFileW(Wide(t.path("src\\held.txt")).c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Folder src, dst;
    ASSERT_EQ(OpenFolder(t.path("src"), src), 0);
    ASSERT_EQ(OpenFolder(t.path("dst"), dst), 0);
    struct Case {
        const char* what;
        const Folder* folder;
        std::string source;
        const char* target;
        bool failIfExists;
        CopySide side;
    };
    const Case cases[] = {
        {"a copy that works", &src, "a.txt", "new.txt", false, CopySide::None},
        {"a missing source", &src, "missing.txt", "m.txt", false, CopySide::Source},
        {"a folder as the source", nullptr, t.path("src"), "x", false, CopySide::Source},
        {"a source held without sharing", &src, "held.txt", "h.txt", false, CopySide::Source},
        {"a file kept", &src, "a.txt", "kept.txt", true, CopySide::Target},
        {"a read-only file", &src, "a.txt", "ro.txt", false, CopySide::Target},
        {"a folder in the way", &src, "a.txt", "folder", false, CopySide::Target},
    };
    for (const Case& c : cases) {
        CopySide side = c.side == CopySide::Target ? CopySide::Source : CopySide::Target;
        const int error = CopyFileAt(c.folder, c.source, dst, c.target, c.failIfExists, 0,
                                     nullptr, nullptr, &side);
        EXPECT_EQ(error == 0, c.side == CopySide::None) << c.what << ": " << error;
        EXPECT_EQ(static_cast<int>(side), static_cast<int>(c.side)) << c.what;
    }
    CloseHandle(held);
    EXPECT_EQ(ReadFile(t.path("dst\\new.txt")), "data");
    EXPECT_EQ(ReadFile(t.path("dst\\kept.txt")), "kept");
    EXPECT_EQ(ReadFile(t.path("dst\\ro.txt")), "ro");
    EXPECT_EQ(Names(dst), (std::vector<std::string>{"folder", "kept.txt", "new.txt", "ro.txt"}));
}

TEST(Win32Copy, StopLeavesNothingUnderTheName) {
    TempTree t;
    t.write("big.bin", std::string(3 << 20, 'x'));
    t.mkdir("dst");
    Folder dst;
    ASSERT_EQ(OpenFolder(t.path("dst"), dst), 0);
    std::atomic<bool> stop{false};
    std::uint64_t seen = 0;
    CopyControl control;
    control.stop = &stop;
    control.copied = [&](std::uint64_t bytes) {
        seen += bytes;
        stop = true;  // stop after the first piece
    };
    EXPECT_EQ(CopyFileAt(nullptr, t.path("big.bin"), dst, "big.bin", true, 0, &control),
              error::kStopped);
    EXPECT_GT(seen, 0u);
    EXPECT_TRUE(Names(dst).empty());
}

// What happens to the files while a copy is under way: the copy's own callback runs between
// two pieces of data.
TEST(Win32Copy, ChangesDuringTheCopy) {
    TempTree t;
    const std::string source = t.write("src.bin", std::string(3 << 20, 's'));
    t.mkdir("dst");
    Folder dst;
    ASSERT_EQ(OpenFolder(t.path("dst"), dst), 0);
    CopyControl control;
    bool once = false;

    // A source written to meanwhile is not put in place.
    control.copied = [&](std::uint64_t) {
        if (std::exchange(once, true)) return;
        HANDLE h = CreateFileW(Wide(source).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD n = 0;
        WriteFile(h, "more", 4, &n, nullptr);
        CloseHandle(h);
    };
    EXPECT_EQ(CopyFileAt(nullptr, source, dst, "a.bin", false, 0, &control), error::kSourceChanged);
    EXPECT_TRUE(Names(dst).empty());

    // A target that appears meanwhile is kept: the exclusive rename fails, and the
    // temporary goes.
    once = false;
    control.copied = [&](std::uint64_t) {
        if (!std::exchange(once, true)) t.write("dst\\b.bin", "theirs");
    };
    EXPECT_EQ(CopyFileAt(nullptr, source, dst, "b.bin", true, 0, &control), error::kAlreadyExists);
    EXPECT_EQ(ReadFile(t.path("dst\\b.bin")), "theirs");
    EXPECT_EQ(Names(dst), std::vector<std::string>{"b.bin"});

    // Replacing: the old content stays readable by others until the complete copy takes
    // its name.
    once = false;
    std::string seen;
    control.copied = [&](std::uint64_t) {
        if (!std::exchange(once, true)) seen = ReadFile(t.path("dst\\b.bin"));
    };
    EXPECT_EQ(CopyFileAt(nullptr, source, dst, "b.bin", false, 0, &control), 0);
    EXPECT_EQ(seen, "theirs");
    EXPECT_EQ(ReadFile(t.path("dst\\b.bin")).size(), (3u << 20) + 4);
    EXPECT_EQ(Names(dst), std::vector<std::string>{"b.bin"});
}

TEST(Win32Errors, EnteringFoldersAndWholeFiles) {
    TempTree t;
    t.write("file", "x");
    SearchRec rec;
    try {
        RawSearchFirst(t.path("missing"), rec);
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.code, 2);
        EXPECT_STREQ(e.what(), "File not found");
    }
    try {
        RawSearchFirst(t.path("file"), rec);
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.code, 3);
        EXPECT_STREQ(e.what(), "Invalid filename");
    }
    EXPECT_EQ(InOutErrorFromOs(ERROR_ACCESS_DENIED).code, 5);
    EXPECT_EQ(InOutErrorFromOs(ERROR_TOO_MANY_OPEN_FILES).code, 4);
    EXPECT_STREQ(InOutErrorFromOs(1117).what(), "I/O error 1117");
    Folder folder;
    EXPECT_EQ(OpenFolder(t.path("file"), folder), error::kNotAFolder);
    EXPECT_EQ(OpenFolder(t.path("missing\\deeper"), folder), error::kNotFound);
    EXPECT_FALSE(ErrorText(error::kNotFound).empty());

    // A list file another program holds open for writing is not read half-written.
    const std::string held = t.write("held.lst", "a\r\n");
    HANDLE writer = CreateFileW(Wide(held).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    std::string bytes;
    EXPECT_NE(ReadWholeFile(held, bytes), 0);
    CloseHandle(writer);
    EXPECT_EQ(ReadWholeFile(held, bytes), 0);
    EXPECT_EQ(bytes, "a\r\n");
    // Replacing a file keeps nothing of the temporary and keeps the file's hidden bit.
    ASSERT_EQ(SetAttributes(held, FILE_ATTRIBUTE_HIDDEN), 0);
    EXPECT_EQ(WriteFileAtomically(held, "b\r\n"), 0);
    std::uint32_t word = 0;
    ASSERT_TRUE(GetAttributes(held, word));
    EXPECT_TRUE(word & attr::kHidden);
    EXPECT_EQ(ReadFile(held), "b\r\n");
    SearchRec all;
    int count = 0;
    if (SearchFirst(t.path("*"), 63, all)) {
        do ++count;
        while (SearchNext(all));
    }
    EXPECT_EQ(count, 4);  // ".", "..", "file", "held.lst"
}

// The disk type is asked of the volume that carries a serial number. What cannot be told
// (no volume with that serial) counts as a device that gains from several writers. (Wine's
// volumes do not say whether they pay for seeks; the answer for the test's own volume is
// only checked to be stable.)
TEST(Win32Volumes, DiskTypeOfAVolume) {
    TempTree t;
    FileIdentity id;
    ASSERT_TRUE(GetIdentity(t.root(), id));
    const bool rotating = IsRotatingDisk(id.device);
    EXPECT_EQ(IsRotatingDisk(id.device), rotating);
    EXPECT_FALSE(IsRotatingDisk(0));
    EXPECT_FALSE(IsRotatingDisk(id.device ^ 0x5A5A5A5Au));
}

TEST(Win32Copy, LeftoverTemporariesOfDeadProcessesGo) {
    TempTree t;
    // A process id that is not running: a finished child's.
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    wchar_t command[] = L"cmd.exe /c exit 0";
    DWORD deadPid = 0;
    if (CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 10000);
        deadPid = pi.dwProcessId;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    if (deadPid == 0) GTEST_SKIP() << "no child process could be started";
    const std::string dead = ".ostrivane-partial-" + std::to_string(deadPid) + "-0123456789abcdef";
    const std::string mine =
        ".ostrivane-partial-" + std::to_string(GetCurrentProcessId()) + "-0123456789abcdef";
    t.write("dst\\" + dead, "partial");
    ASSERT_TRUE(SetFileAttributesW(Wide(t.path("dst\\" + dead)).c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    t.write("dst\\" + mine, "in progress");
    t.write("dst\\.ostrivane-partial-1-short", "other shape");
    t.mkdir("dst\\.ostrivane-partial-" + std::to_string(deadPid) + "-fedcba9876543210");
    Folder dst;
    ASSERT_EQ(OpenFolder(t.path("dst"), dst), 0);
    std::vector<std::string> removed;
    EXPECT_EQ(RemoveLeftoverTemporaries(dst, &removed), 0);
    EXPECT_EQ(removed, std::vector<std::string>{dead});
    EXPECT_FALSE(Exists(t.path("dst\\" + dead)));
    EXPECT_TRUE(Exists(t.path("dst\\" + mine)));
    EXPECT_EQ(Names(dst).size(), 3u);
}

// A run killed at any moment (TerminateProcess, the twin of kill -9) leaves under the
// target's name nothing or a whole copy, and at most one temporary, which the next run
// removes. The copying process is this test executable, started again to run
// Win32KillChild.CopiesUntilKilled.
constexpr const char* kKillChildVariable = "OSTRIVANE_KILL_CHILD";

TEST(Win32Kill, KilledCopiesLeaveNothingOrWholeFiles) {
    if (std::getenv(kKillChildVariable)) GTEST_SKIP() << "this is the child";
    TempTree t;
    std::string content(8 << 20, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 23);
    const std::string source = t.write("src.bin", content);
    t.mkdir("dst");
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    // Started from a copy beside the files: under Wine the executable's own folder may have
    // no Windows name that a new process could be started from.
    const std::wstring child = Wide(t.path("child.exe"));
    if (!CopyFileW(self, child.c_str(), TRUE))
        GTEST_SKIP() << "the test executable cannot be reached by a Windows path (error "
                     << GetLastError() << "); scripts/test-windows gives its folder one";
    std::wstring command = L"\"" + child + L"\" --gtest_filter=Win32KillChild.CopiesUntilKilled";
    std::mt19937 random(12345);
    // A kill finds the child between two copies as often as in the middle of one, more so
    // on a loaded machine; rounds go on until two kills found a temporary, so that the
    // case that matters is always seen.
    int killedWithTemporary = 0;
    for (int round = 0; round < 40 && killedWithTemporary < 2; ++round) {
        SetEnvironmentVariableW(Wide(kKillChildVariable).c_str(),
                                Wide(source + "|" + t.path("dst")).c_str());
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;  // the child's output is not the test's
        PROCESS_INFORMATION pi{};
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(L'\0');
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                   nullptr, Wide(t.root()).c_str(), &si, &pi))
            << GetLastError() << " " << t.root();
        SetEnvironmentVariableW(Wide(kKillChildVariable).c_str(), nullptr);
        // Until the child has made its first temporary, then a moment more.
        for (int wait = 0; wait < 500; ++wait) {
            bool temporary = false;
            for (const std::string& name : [&] {
                     Folder d;
                     std::vector<FolderEntry> entries;
                     if (OpenFolder(t.path("dst"), d) == 0) ReadFolder(d, entries);
                     std::vector<std::string> names;
                     for (auto& e : entries) names.push_back(e.name);
                     return names;
                 }())
                temporary = temporary || name.starts_with(".ostrivane-partial-");
            if (temporary) break;
            Sleep(10);
        }
        // Every other round kills at once, while the temporary just seen most likely
        // still stands; the others at a random moment.
        if (round % 2) Sleep(std::uniform_int_distribution<DWORD>(0, 150)(random));
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);

        Folder dst;
        ASSERT_EQ(OpenFolder(t.path("dst"), dst), 0);
        std::vector<std::string> removed;
        EXPECT_EQ(RemoveLeftoverTemporaries(dst, &removed), 0);
        EXPECT_LE(removed.size(), 1u);
        killedWithTemporary += static_cast<int>(removed.size());
        const std::vector<std::string> names = Names(dst);
        EXPECT_TRUE(names.empty() || names == std::vector<std::string>{"a.bin"}) << names.size();
        if (!names.empty()) {
            EXPECT_TRUE(ReadFile(t.path("dst\\a.bin")) == content) << "round " << round;
        }
    }
    EXPECT_GT(killedWithTemporary, 0);
}

// The child of Win32Kill: copies the source over and over into the folder until killed.
TEST(Win32KillChild, CopiesUntilKilled) {
    const char* request = std::getenv(kKillChildVariable);
    if (!request) GTEST_SKIP() << "runs only as the child of Win32Kill";
    const std::string text = request;  // "source|target folder"
    const std::string source = text.substr(0, text.find('|'));
    Folder dst;
    ASSERT_EQ(OpenFolder(text.substr(text.find('|') + 1), dst), 0);
    for (;;) ASSERT_EQ(CopyFileAt(nullptr, source, dst, "a.bin", false), 0);
}

TEST(Win32Folders, SubfoldersOpenRelativeToTheirParentAndMustBeTheListedOne) {
    TempTree t;
    t.mkdir("top\\a");
    t.mkdir("top\\b");
    t.write("top\\file", "f");
    Folder top, a;
    ASSERT_EQ(OpenFolder(t.path("top"), top), 0);
    std::vector<FolderEntry> entries;
    ASSERT_EQ(ReadFolder(top, entries), 0);
    ASSERT_EQ(entries.size(), 3u);
    std::uint64_t inodeOfB = 0, inodeOfA = 0;
    for (const FolderEntry& e : entries) {
        if (e.name == "a") inodeOfA = e.inode;
        if (e.name == "b") inodeOfB = e.inode;
    }
    ASSERT_NE(inodeOfA, 0u);
    EXPECT_EQ(OpenSubfolder(top, "a", a, inodeOfA), 0);
    EXPECT_EQ(a.identity().device, top.identity().device);
    // "a" is not the entry that was listed under b's number: swapped meanwhile.
    EXPECT_EQ(OpenSubfolder(top, "a", a, inodeOfB), error::kChangedMeanwhile);
    EXPECT_EQ(OpenSubfolder(top, "file", a), error::kNotAFolder);
    EXPECT_EQ(OpenSubfolder(top, "missing", a), error::kNotFound);
    EXPECT_NE(OpenSubfolder(top, "..", a), 0);
    // The parent of a is top again.
    Folder child, parent;
    ASSERT_EQ(OpenSubfolder(top, "a", child), 0);
    ASSERT_EQ(OpenParentFolder(child, parent), 0);
    EXPECT_EQ(parent.identity(), top.identity());
    // Created, then removed through the open folder; the listing can be read again.
    EXPECT_EQ(CreateFolderAt(top, "new"), 0);
    EXPECT_EQ(CreateFolderAt(top, "new"), error::kAlreadyExists);
    EXPECT_EQ(RemoveFolderAt(top, "new"), 0);
    EXPECT_EQ(RemoveFolderAt(top, "file"), error::kNotAFolder);
    EXPECT_EQ(Names(top), (std::vector<std::string>{"a", "b", "file"}));
}

TEST(Win32Folders, DriveRootsAreTheFileSystemRoot) {
    TempTree t;
    EXPECT_TRUE(IsFileSystemRoot("C:\\"));
    EXPECT_TRUE(IsFileSystemRoot("C:\\Windows\\.."));
    EXPECT_FALSE(IsFileSystemRoot(t.root()));
    EXPECT_FALSE(IsFileSystemRoot(t.path("missing")));
    EXPECT_TRUE(IsExistingFolder("C:\\"));
    EXPECT_TRUE(IsExistingFolder(t.root() + "\\"));
    // The parent of a folder right below a drive's root is that root; the root is its own.
    Folder windows, parent, root, again;
    ASSERT_EQ(OpenFolder("C:\\Windows", windows), 0);
    ASSERT_EQ(OpenFolder("C:\\", root), 0);
    ASSERT_EQ(OpenParentFolder(windows, parent), 0);
    EXPECT_EQ(parent.identity(), root.identity());
    EXPECT_TRUE(IsFileSystemRootFolder(parent));
    EXPECT_FALSE(IsFileSystemRootFolder(windows));
    ASSERT_EQ(OpenParentFolder(root, again), 0);
    EXPECT_EQ(again.identity(), root.identity());
}

// A symbolic link to a folder where Windows (or Wine) lets the process make one.
bool MakeFolderLink(const std::string& link, const std::string& target) {
    if (!CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY |
                                 SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return false;
    // Some systems report success and make no reparse point.
    const DWORD attributes = GetFileAttributesW(Wide(link).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST(Win32Folders, ReparsePointsAreNeverEntered) {
    TempTree t;
    t.write("outside\\keep.txt", "keep");
    t.mkdir("dst");
    if (!MakeFolderLink(t.path("dst\\link"), t.path("outside")))
        GTEST_SKIP() << "no symbolic links to folders here (error " << GetLastError() << ")";
    Folder dst, sub;
    ASSERT_EQ(OpenFolder(t.path("dst"), dst), 0);
    std::vector<FolderEntry> entries;
    ASSERT_EQ(ReadFolder(dst, entries), 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].attributes & attr::kLink);
    EXPECT_EQ(OpenSubfolder(dst, "link", sub), error::kIsLink);
    EXPECT_EQ(CanEnterAt(dst, "link"), error::kIsLink);
    // Deleting the entry removes the link, never what it leads to.
    EXPECT_EQ(DeleteEntryAt(dst, "link"), 0);
    EXPECT_EQ(ReadFile(t.path("outside\\keep.txt")), "keep");
}

}  // namespace
}  // namespace ostrivane
