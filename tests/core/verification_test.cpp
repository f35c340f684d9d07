// The check after write and the list of hashes on an ordinary file system: which copies are
// read back and counted, what a copy that differs becomes (removed where its name was free,
// kept where it replaced a file, left alone where another file took its place), and the
// hashes as xxhsum writes them.
#include "core/verification.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/content_hash.h"
#include "core/copy_run.h"
#include "core/run_copy.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

using test::Exists;
using test::NativePath;
using test::ReadFile;
using test::TempTree;

const std::string kSep(1, platform::kSeparator);

using test::List;

RunResult CopyRun(const PathList& sources, const PathList& destinations, SameFilePolicy policy,
                  RunOptions options = {}) {
    return test::RunCopy(
        sources, destinations, policy, [](const std::string&) { return false; }, {}, false,
        options);
}

RunOptions VerifyOptions() {
    RunOptions options;
    options.verify = true;
    return options;
}

std::string Describe(const std::vector<Failure>& failures) {
    std::string text;
    for (const Failure& f : failures) text += "  " + f.path + ": " + f.reason + "\n";
    return text.empty() ? "  (none)\n" : text;
}

TEST(ContentHash, IsXxh3With128BitsWrittenAsXxhsumWritesIt) {
    // xxhsum -H2 of a file holding "abc", and of an empty one.
    EXPECT_EQ(HashOf("abc", 3).hex(), "06b05ab6733a618578af5f94892f3950");
    EXPECT_EQ(HashOf("", 0).hex(), "99aa06d3014798d86001c324468d497f");
    // Piece by piece gives the hash of the whole, across the hasher's internal blocks.
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
    ContentHasher hasher;
    for (size_t at = 0; at < big.size(); at += 1000)
        hasher.update(big.data() + at, std::min<size_t>(1000, big.size() - at));
    EXPECT_EQ(hasher.digest(), HashOf(big.data(), big.size()));
    hasher.reset();
    EXPECT_EQ(hasher.digest(), HashOf("", 0));
}

// Only what the run wrote is read back: a target that Skip or a No answer keeps is not the
// run's copy and is neither verified nor a failure.
TEST(Verification, CountsTheCopiesTheRunMadeAndNoOthers) {
    struct Case {
        SameFilePolicy policy;
        std::uint64_t verified;
        const char* newName;  // where b.txt's copy went
    };
    const Case cases[] = {{SameFilePolicy::Overwrite, 3, "a.txt"},
                          {SameFilePolicy::Skip, 2, nullptr},
                          {SameFilePolicy::Ask, 2, nullptr},  // answered No
                          {SameFilePolicy::AutoNumber, 3, "a_1.txt"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.policy));
        TempTree t;
        t.write("src" + kSep + "a.txt", "new a");
        t.write("src" + kSep + "sub" + kSep + "c.txt", "c");
        t.write("b.bin", "b");
        t.write("dest" + kSep + "src" + kSep + "a.txt", "old a");
        RunOptions options;
        options.verify = true;
        const RunResult result = CopyRun(List({t.path("src"), t.path("b.bin")}),
                                         List({t.path("dest")}), c.policy, options);
        EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
        EXPECT_EQ(result.copiesVerified, c.verified);
        if (c.newName)
            EXPECT_EQ(ReadFile(t.path("dest" + kSep + "src" + kSep + c.newName)), "new a");
        else
            EXPECT_EQ(ReadFile(t.path("dest" + kSep + "src" + kSep + "a.txt")), "old a");
    }
}

// Runs `change` on the file at `path` and gives it its modification time back to the
// platform's full precision: the device changes the bytes of the run's copy, not its
// identity nor its times.
template <typename Change>
void KeepingTime(const std::string& path, Change change) {
#ifdef _WIN32
    // The standard library sets whole seconds here; the file system keeps 100 ns.
    const std::wstring wide = NativePath(path).wstring();
    FILETIME modified{};
    {
        HANDLE h =
            CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        GetFileTime(h, nullptr, nullptr, &modified);
        CloseHandle(h);
    }
    change();
    HANDLE h = CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SetFileTime(h, nullptr, nullptr, &modified);
    CloseHandle(h);
#else
    const auto modified = std::filesystem::last_write_time(NativePath(path));
    change();
    std::filesystem::last_write_time(NativePath(path), modified);
#endif
}

void Overwrite(const std::string& path, const std::string& content) {
    KeepingTime(path, [&] {
        std::fstream file(NativePath(path), std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(0);
        file << content;
    });
}

void Shorten(const std::string& path, std::uintmax_t size) {
    KeepingTime(path, [&] { std::filesystem::resize_file(NativePath(path), size); });
}

// Copies are changed once the run's flush is done and before they are read back (the first
// report of the Verifying state): as a device that stored other bytes.
TEST(Verification, WhatACopyThatDiffersBecomes) {
    TempTree t;
    t.write("src" + kSep + "new.txt", "the source's bytes");
    t.write("src" + kSep + "replacing.txt", "the source's bytes");
    t.write("src" + kSep + "taken.txt", "the source's bytes");
    t.write("src" + kSep + "shorter.txt", "the source's bytes");
    t.write("src" + kSep + "fine.txt", "the source's bytes");
    t.write("dest" + kSep + "src" + kSep + "replacing.txt", "an older file");
    const std::string copies = t.path("dest" + kSep + "src" + kSep);
    bool changed = false;
    RunOptions options;
    options.verify = true;
    options.maxWriters = 1;
    options.showTransfer = [&](const TransferFigures& figures) {
        if (changed || figures.devices.at(0).state != DeviceFigures::State::Verifying) return;
        changed = true;
        Overwrite(copies + "new.txt", "THE");
        Overwrite(copies + "replacing.txt", "THE");
        // Another file under the copy's name: not the run's, never removed, even where it
        // gets the copy's identity again (file systems reuse the numbers of deleted files).
        std::filesystem::remove(NativePath(copies + "taken.txt"));
        std::ofstream(NativePath(copies + "taken.txt"), std::ios::binary) << "the user's own";
        Shorten(copies + "shorter.txt", 5);
    };
    const RunResult result =
        CopyRun(List({t.path("src")}), List({t.path("dest")}), SameFilePolicy::Overwrite, options);
    ASSERT_TRUE(changed);
    ASSERT_EQ(result.failures.size(), 4u) << Describe(result.failures);
    // By path within the destination.
    EXPECT_EQ(result.failures[0].path, copies + "new.txt");
    EXPECT_EQ(result.failures[0].reason, run_reason::kVerifyFailed);
    EXPECT_EQ(result.failures[1].path, copies + "replacing.txt");
    EXPECT_EQ(result.failures[1].reason, run_reason::kVerifyFailedReplaced);
    EXPECT_EQ(result.failures[2].path, copies + "shorter.txt");
    EXPECT_EQ(result.failures[2].reason, run_reason::kVerifyFailed);
    EXPECT_EQ(result.failures[3].path, copies + "taken.txt");
    EXPECT_EQ(result.failures[3].reason, ErrorText(error::kChangedMeanwhile));
    EXPECT_EQ(result.copiesVerified, 1u);
    EXPECT_FALSE(Exists(copies + "new.txt"));
    EXPECT_FALSE(Exists(copies + "shorter.txt"));
    EXPECT_EQ(ReadFile(copies + "replacing.txt"), "THE source's bytes");
    EXPECT_EQ(ReadFile(copies + "taken.txt"), "the user's own");
    EXPECT_EQ(ReadFile(copies + "fine.txt"), "the source's bytes");
    // A later run that keeps existing files makes the removed copies again.
    const RunResult again = CopyRun(List({t.path("src")}), List({t.path("dest")}),
                                    SameFilePolicy::Skip, VerifyOptions());
    EXPECT_TRUE(again.failures.empty()) << Describe(again.failures);
    EXPECT_EQ(again.copiesVerified, 2u);
    EXPECT_EQ(ReadFile(copies + "new.txt"), "the source's bytes");
}

// A source changed while or after it was copied without a new modification time (written
// through a mapping): its copy differs from the hash taken as it was copied, and so does the
// source read again. The source is named as what changed and the copy stays, whether its
// name was free or it replaced a file; a copy that differs from a source that did not change
// is the copy's fault, as before.
TEST(Verification, ACopyOfASourceThatChangedAfterwardsIsNotBlamedNorRemoved) {
    TempTree t;
    const std::string bytes = "the source's bytes";
    for (const char* name : {"changed.txt", "replacing.txt", "wrong.txt"})
        t.write("src" + kSep + name, bytes);
    t.write("dest" + kSep + "src" + kSep + "replacing.txt", "an older file");
    const std::string sources = t.path("src" + kSep);
    const std::string copies = t.path("dest" + kSep + "src" + kSep);
    bool changed = false;
    RunOptions options = VerifyOptions();
    options.maxWriters = 1;
    options.showTransfer = [&](const TransferFigures& figures) {
        if (changed || figures.devices.at(0).state != DeviceFigures::State::Verifying) return;
        changed = true;
        // The copy as a kernel copy made it before the source's change reached the hash;
        // the source as it is afterwards.
        for (const char* name : {"changed.txt", "replacing.txt"}) {
            Overwrite(sources + name, "THE");
            Overwrite(copies + name, "OLD");
        }
        Overwrite(copies + "wrong.txt", "BAD");
    };
    const RunResult result =
        CopyRun(List({t.path("src")}), List({t.path("dest")}), SameFilePolicy::Overwrite, options);
    ASSERT_TRUE(changed);
    ASSERT_EQ(result.failures.size(), 3u) << Describe(result.failures);
    EXPECT_EQ(result.failures[0].path, copies + "changed.txt");
    EXPECT_EQ(result.failures[0].reason, run_reason::kVerifySourceChanged);
    EXPECT_EQ(result.failures[1].path, copies + "replacing.txt");
    EXPECT_EQ(result.failures[1].reason, run_reason::kVerifySourceChanged);
    EXPECT_EQ(result.failures[2].path, copies + "wrong.txt");
    EXPECT_EQ(result.failures[2].reason, run_reason::kVerifyFailed);
    EXPECT_EQ(result.copiesVerified, 0u);
    EXPECT_EQ(ReadFile(copies + "changed.txt"), "OLD source's bytes");
    EXPECT_EQ(ReadFile(copies + "replacing.txt"), "OLD source's bytes");
    EXPECT_FALSE(Exists(copies + "wrong.txt"));

    // A file given as a source, copied under a numbered name: the source is found by its own
    // name, not the copy's.
    changed = false;
    options.showTransfer = [&](const TransferFigures& figures) {
        if (changed || figures.devices.at(0).state != DeviceFigures::State::Verifying) return;
        changed = true;
        Overwrite(sources + "wrong.txt", "NEW");
        Overwrite(copies + "wrong_1.txt", "OLD");
    };
    t.write("dest" + kSep + "src" + kSep + "wrong.txt", "the user's own");
    const RunResult numbered = CopyRun(List({sources + "wrong.txt"}), List({copies}),
                                       SameFilePolicy::AutoNumber, options);
    ASSERT_TRUE(changed);
    ASSERT_EQ(numbered.failures.size(), 1u) << Describe(numbered.failures);
    EXPECT_EQ(numbered.failures[0].path, copies + "wrong_1.txt");
    EXPECT_EQ(numbered.failures[0].reason, run_reason::kVerifySourceChanged);
    EXPECT_EQ(ReadFile(copies + "wrong_1.txt"), "OLD source's bytes");
}

// A copy that a later copy of the same run replaced (two sources of one name, a destination
// inside another that gets the same file again) is no failure: the last one is checked.
TEST(Verification, ACopyTheRunReplacedItselfIsNoFailure) {
    TempTree t;
    t.write("a" + kSep + "x.txt", "first");
    t.write("b" + kSep + "x.txt", "second");
    t.write("sub" + kSep + "x.txt", "in a folder");
    t.mkdir("d" + kSep + "sub");
    for (int writers : {1, 0}) {
        RunOptions options = VerifyOptions();
        options.maxWriters = writers;
        options.listHashes = true;
        // d gets sub/x.txt from the folder "sub"; d/sub gets x.txt from a and then from b.
        const RunResult result = CopyRun(
            List({t.path("sub"), t.path("a" + kSep + "x.txt"), t.path("b" + kSep + "x.txt")}),
            List({t.path("d"), t.path("d" + kSep + "sub")}), SameFilePolicy::Overwrite, options);
        EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
        EXPECT_EQ(ReadFile(t.path("d" + kSep + "sub" + kSep + "x.txt")), "second");
        // d/x.txt and d/sub/x.txt (its last copy).
        EXPECT_EQ(result.copiesVerified, 3u);
    }
}

#ifndef _WIN32
// The same when the inner destination is named through a link to it: the run knows the two
// for one folder (the later copy waits for the earlier), and so does the check.
TEST(Verification, ACopyTheRunReplacedThroughAnotherSpellingIsNoFailure) {
    TempTree t;
    t.write("a" + kSep + "x.txt", "first");
    t.write("b" + kSep + "x.txt", "second");
    t.write("sub" + kSep + "x.txt", "in a folder");
    t.mkdir("d" + kSep + "sub");
    std::filesystem::create_directory_symlink(NativePath(t.path("d" + kSep + "sub")),
                                              NativePath(t.path("inner")));
    for (int writers : {1, 0}) {
        RunOptions options = VerifyOptions();
        options.maxWriters = writers;
        options.listHashes = true;
        const RunResult result = CopyRun(
            List({t.path("sub"), t.path("a" + kSep + "x.txt"), t.path("b" + kSep + "x.txt")}),
            List({t.path("d"), t.path("inner")}), SameFilePolicy::Overwrite, options);
        EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
        EXPECT_EQ(ReadFile(t.path("d" + kSep + "sub" + kSep + "x.txt")), "second");
        EXPECT_EQ(result.copiesVerified, 3u);
    }
}

// A copy that took the place of a symbolic link and came out wrong gives the place back to
// the link, as it was (the file it led to was never touched); a link to nothing too. Where
// the link cannot be made again, the copy stays and the reason says that the link is gone.
TEST(Verification, AWrongCopyThatReplacedALinkGivesThePlaceBackToTheLink) {
    TempTree t;
    for (const char* name : {"to-file.txt", "to-nothing.txt", "fine.txt"})
        t.write(std::string("src") + kSep + name, "the source's bytes");
    t.write("elsewhere.txt", "the user's file");
    const std::string copies = t.mkdir("dest" + kSep + "src") + kSep;
    const std::string toFile = "../../elsewhere.txt";
    std::filesystem::create_symlink(toFile, copies + "to-file.txt");
    std::filesystem::create_symlink("nowhere", copies + "to-nothing.txt");
    std::filesystem::create_symlink(toFile, copies + "fine.txt");
    // As root, a link of another user's is given back to that user.
    const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown((copies + "to-file.txt").c_str(), owner, 65534), 0);
    }
    bool changed = false;
    RunOptions options = VerifyOptions();
    options.maxWriters = 1;
    options.showTransfer = [&](const TransferFigures& figures) {
        if (changed || figures.devices.at(0).state != DeviceFigures::State::Verifying) return;
        changed = true;
        Overwrite(copies + "to-file.txt", "THE");
        Overwrite(copies + "to-nothing.txt", "THE");
    };
    const RunResult result =
        CopyRun(List({t.path("src")}), List({t.path("dest")}), SameFilePolicy::Overwrite, options);
    ASSERT_TRUE(changed);
    ASSERT_EQ(result.failures.size(), 2u) << Describe(result.failures);
    EXPECT_EQ(result.failures[0].path, copies + "to-file.txt");
    EXPECT_EQ(result.failures[1].path, copies + "to-nothing.txt");
    for (const Failure& failure : result.failures)
        EXPECT_EQ(failure.reason, run_reason::kVerifyFailedLinkBack);
    EXPECT_EQ(result.copiesVerified, 1u);
    ASSERT_TRUE(std::filesystem::is_symlink(copies + "to-file.txt"));
    EXPECT_EQ(std::filesystem::read_symlink(copies + "to-file.txt").string(), toFile);
    EXPECT_EQ(ReadFile(copies + "to-file.txt"), "the user's file");
    struct stat link = {};
    ASSERT_EQ(::lstat((copies + "to-file.txt").c_str(), &link), 0);
    EXPECT_EQ(link.st_uid, owner);
    ASSERT_TRUE(std::filesystem::is_symlink(copies + "to-nothing.txt"));
    EXPECT_EQ(std::filesystem::read_symlink(copies + "to-nothing.txt").string(), "nowhere");
    // The right copy stays in the link's place; nothing else is left in the folder.
    EXPECT_FALSE(std::filesystem::is_symlink(copies + "fine.txt"));
    EXPECT_EQ(ReadFile(copies + "fine.txt"), "the source's bytes");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(copies),
                            std::filesystem::directory_iterator()),
              3);

    // A folder that takes no new entries (only where permissions bind the process).
    if (::geteuid() == 0) return;
    std::filesystem::remove(copies + "to-file.txt");
    std::filesystem::create_symlink(toFile, copies + "to-file.txt");
    changed = false;
    options.showTransfer = [&](const TransferFigures& figures) {
        if (changed || figures.devices.at(0).state != DeviceFigures::State::Verifying) return;
        changed = true;
        Overwrite(copies + "to-file.txt", "THE");
        std::filesystem::permissions(copies, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
    };
    const RunResult locked =
        CopyRun(List({t.path("src" + kSep + "to-file.txt")}), List({t.path("dest" + kSep + "src")}),
                SameFilePolicy::Overwrite, options);
    std::filesystem::permissions(copies, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    ASSERT_TRUE(changed);
    ASSERT_EQ(locked.failures.size(), 1u) << Describe(locked.failures);
    EXPECT_EQ(
        locked.failures[0].reason.rfind(
            std::string(run_reason::kVerifyFailedLinkGone) + run_reason::kVerifyNotRemoved, 0),
        0u)
        << locked.failures[0].reason;
    EXPECT_EQ(ReadFile(copies + "to-file.txt"), "THE source's bytes");
}
#endif

TEST(Verification, HashesListEveryCopiedFileByItsPathInTheDestination) {
    TempTree t;
    t.write("src" + kSep + "a.txt", "A");
    t.write("src" + kSep + "sub" + kSep + "b.txt", "BB");
    t.write("one.txt", "1");
    t.write("d2" + kSep + "one.txt", "kept");
    t.mkdir("d1");
    RunOptions options;
    options.listHashes = true;
    const RunResult result =
        CopyRun(List({t.path("src"), t.path("one.txt")}), List({t.path("d1"), t.path("d2")}),
                SameFilePolicy::AutoNumber, options);
    EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
    EXPECT_EQ(result.copiesVerified, 0u);  // nothing read back without verify
    std::vector<std::pair<std::string, std::string>> listed;
    for (const FileHash& hash : result.hashes) listed.emplace_back(hash.path, hash.hash.hex());
    // One line per path, in path order. d2 kept its own one.txt and got a numbered copy:
    // neither name holds the source's bytes in both destinations, so neither is listed.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"src" + kSep + "a.txt", HashOf("A", 1).hex()},
        {"src" + kSep + "sub" + kSep + "b.txt", HashOf("BB", 2).hex()}};
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(result.hashesLeftOut.notEverywhere, 2u);
    EXPECT_EQ(result.hashesLeftOut.total(), 2u);
}

}  // namespace
}  // namespace ostrivane

namespace ostrivane {
namespace {

// The list of hashes from a ledger and the run's failures: only a path copied into every
// destination from one content and without a failure at it (or above it) anywhere.
TEST(Verification, HashesLeaveOutWhatIsNotAlikeInEveryDestination) {
    const std::string d1 = kSep + "out" + kSep + "d1" + kSep;
    const std::string d2 = kSep + "out" + kSep + "d2" + kSep;
    const auto placed = [](const std::string& content) {
        PlacedCopy copy;
        copy.sourceHash = HashOf(content.data(), content.size());
        return copy;
    };
    CopyLedger ledger(2);
    for (const std::string& root : {d1, d2}) {
        ledger.add(root == d1 ? 0 : 1, root, "a.txt", kSep + "src" + kSep + "a.txt", placed("a"));
        ledger.add(root == d1 ? 0 : 1, root, "b.txt", kSep + "src" + kSep + "b.txt",
                   placed(root == d1 ? "b" : "B"));
        ledger.add(root == d1 ? 0 : 1, root + "sub" + kSep, "e.txt", kSep + "src" + kSep + "e.txt",
                   placed("e"));
        ledger.add(root == d1 ? 0 : 1, root + "sub2" + kSep, "e.txt", kSep + "src" + kSep + "e.txt",
                   placed("e"));
        ledger.add(root == d1 ? 0 : 1, root, "f.txt", kSep + "src" + kSep + "f.txt", placed("f"));
        ledger.add(root == d1 ? 0 : 1, root, "g.txt", kSep + "src" + kSep + "g.txt", placed("g"));
    }
    ledger.add(0, d1, "c.txt", kSep + "src" + kSep + "c.txt",
               placed("c"));  // kept or not copied in d2
    ledger.add(1, d2, "c_1.txt", kSep + "src" + kSep + "c.txt", placed("c"));  // numbered in d2
    ledger.sort();
    const std::vector<Failure> failures = {
        {d2 + "sub", "a folder not created"},                  // e.txt below it
        {d1 + "f.txt", "verification failed"},                 // a check that failed
        {kSep + "src" + kSep + "g.txt", "the source failed"},  // no destination's path
    };
    HashesLeftOut leftOut;
    std::vector<std::pair<std::string, std::string>> listed;
    for (const FileHash& hash : HashesOf(ledger, {d1, d2}, failures, &leftOut))
        listed.emplace_back(hash.path, hash.hash.hex());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"a.txt", HashOf("a", 1).hex()},
        {"g.txt", HashOf("g", 1).hex()},
        {"sub2" + kSep + "e.txt", HashOf("e", 1).hex()}};
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(leftOut.notEverywhere, 2u);  // c.txt, c_1.txt
    EXPECT_EQ(leftOut.failed, 2u);         // sub/e.txt, f.txt
    EXPECT_EQ(leftOut.differing, 1u);      // b.txt

    // A failure of a whole destination (its flush, named by the destination itself) leaves
    // nothing that holds everywhere.
    EXPECT_TRUE(
        HashesOf(ledger, {d1, d2}, std::vector<Failure>{{d2, "I/O error"}}, &leftOut).empty());
    EXPECT_EQ(leftOut.failed, 8u);
    // Without failures every alike path is listed.
    EXPECT_EQ(HashesOf(ledger, {d1, d2}, {}, &leftOut).size(), 5u);
}

}  // namespace
}  // namespace ostrivane
