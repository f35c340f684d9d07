// The copy core on devices that fail: write, close, fsync and rename errors injected by the
// fault file system (tests/support/faultfs_daemon.cpp), a real full disk (small tmpfs), a
// source that changes while it is read, a copy killed midway, and file systems without
// O_TMPFILE, hard links or permission bits (exFAT among them). After every fault the run
// must have reported the target, left nothing partial under the final name (no file, or
// the older file untouched), left no temporary file, and gone on with the other copies.
//
// These tests mount file systems and so run as root (their executable is not run through
// the unprivileged wrapper); without root, /dev/fuse or the tools they skip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/copy_run.h"
#include "core/discovery.h"
#include "core/emptying.h"
#include "core/run_engine.h"
#include "core/tree_copy.h"
#include "core/fsops.h"
#include "core/run_copy.h"
#include "core/temp_tree.h"
#include "support/fault_fs.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using test::ExfatVolume;
using test::Exists;
using test::FaultFs;
using test::ReadFile;
using test::SmallTmpfs;
using test::TempTree;

using test::List;

std::vector<Failure> CopyInto(std::vector<std::string> sources, const std::string& destination,
                              SameFilePolicy policy = SameFilePolicy::Overwrite) {
    return test::RunCopy(
        List(std::move(sources)), List({destination}), policy,
        [](const std::string&) { return true; }, nullptr).failures;
}

// `size` bytes of a pattern that differs from file to file with `seed`.
std::string Bytes(size_t size, int seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + seed * 7) % 251);
    return s;
}

// What a failed comparison shows of a file's content: short texts as they are, anything
// longer as its size and a hash (a megabyte of bytes helps nobody).
std::string Digest(const std::string& content) {
    if (content.size() <= 64) return content;
    return std::to_string(content.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>{}(content));
}

// The content of the file at `path` as Digest shows it ("<missing>" when unreadable).
std::string Content(const std::string& path) {
    return Digest(ReadFile(path));
}

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Every entry below `folder`, hidden ones included, relative to it; folders end with "/".
std::set<std::string> Tree(const std::string& folder) {
    std::set<std::string> names;
    for (auto& e : fs::recursive_directory_iterator(folder)) {
        std::string name = fs::relative(e.path(), folder).string();
        names.insert(e.is_directory() && !e.is_symlink() ? name + "/" : name);
    }
    return names;
}

std::string Describe(const std::vector<Failure>& failures) {
    std::string text;
    for (const Failure& f : failures) text += "  " + f.path + ": " + f.reason + "\n";
    return text.empty() ? "  (none)\n" : text;
}

// The failures are exactly one, for `target`, with the text of `error` when it is not 0.
void ExpectOnlyFailure(const std::vector<Failure>& failures, const std::string& target,
                       int error = 0) {
    ASSERT_EQ(failures.size(), 1u) << Describe(failures);
    EXPECT_EQ(failures[0].path, target);
    if (error) {
        EXPECT_EQ(failures[0].reason, ErrorText(error));
    }
}

// errno of open(O_TMPFILE) in `folder`, 0 when it works.
int TmpfileError(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

// One source set for the write faults: a folder holding a small file and a big one (many
// write requests), and a small single file.
struct Sources {
    TempTree tree;
    const std::string small = "small text\n";
    const std::string big = Bytes(600 * 1024, 1);
    Sources() {
        tree.write("dir/a.txt", small);
        tree.write("dir/big.bin", big);
        tree.write("b.txt", small + small);
    }
    std::vector<std::string> list() const { return {tree.path("dir"), tree.path("b.txt")}; }
};

// --- The fault file system itself -------------------------------------------------------

TEST(FaultFs, ArmedFaultsHitTheCallsTheyName) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    // The control file answers by its name and is never listed.
    EXPECT_TRUE(Tree(ffs->root()).empty());
    EXPECT_EQ(ffs->counter("fired"), 0);
    EXPECT_THROW(ffs->arm("fail write NOSUCHERROR"), std::runtime_error);
    EXPECT_THROW(ffs->arm("explode"), std::runtime_error);
    // No O_TMPFILE here: the copy's fallback for such file systems is what runs.
    EXPECT_EQ(TmpfileError(ffs->root()), EOPNOTSUPP);

    ffs->arm("fail write EIO at=2");
    int fd = ::open(ffs->path("w").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, "1", 1), 1);
    EXPECT_EQ(::write(fd, "2", 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(::write(fd, "3", 1), 1);
    ffs->arm("fail flush ENOSPC");
    EXPECT_EQ(::close(fd), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(Content(ffs->backing() + "/w"), "13");
    EXPECT_EQ(ffs->counter("fired"), 2);
    // past= lets only the calls that reach beyond that byte count.
    ffs->arm("fail write ENOSPC past=3");
    fd = ::open(ffs->path("w").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, "4", 1), 1);
    EXPECT_EQ(::write(fd, "5", 1), -1);
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
    EXPECT_EQ(Content(ffs->backing() + "/w"), "134");

    WriteFile(ffs->path("x"), "x");
    EXPECT_EQ(::renameat2(AT_FDCWD, ffs->path("w").c_str(), AT_FDCWD, ffs->path("x").c_str(),
                          RENAME_NOREPLACE),
              -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(::renameat2(AT_FDCWD, ffs->path("w").c_str(), AT_FDCWD, ffs->path("y").c_str(),
                          RENAME_NOREPLACE),
              0);
    ffs->arm("no-rename-flags\nno-link\nno-perms\nfail rename EXDEV name=z");
    EXPECT_EQ(::renameat2(AT_FDCWD, ffs->path("y").c_str(), AT_FDCWD, ffs->path("w").c_str(),
                          RENAME_NOREPLACE),
              -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(::rename(ffs->path("y").c_str(), ffs->path("z").c_str()), -1);
    EXPECT_EQ(errno, EXDEV);
    EXPECT_EQ(::link(ffs->path("x").c_str(), ffs->path("x2").c_str()), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(::chmod(ffs->path("x").c_str(), 0600), -1);
    EXPECT_EQ(errno, EPERM);
    struct stat st;
    ASSERT_EQ(::stat(ffs->path("x").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0777u);
    ffs->arm("clear");
    EXPECT_EQ(::rename(ffs->path("y").c_str(), ffs->path("z").c_str()), 0);
    EXPECT_EQ(Tree(ffs->root()), (std::set<std::string>{"x", "z"}));
}

TEST(FaultFs, FilesChangeWhileTheyAreRead) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    const std::string content = Bytes(200 * 1024, 2);
    WriteFile(ffs->backing() + "/g", content);
    WriteFile(ffs->backing() + "/t", content);
    WriteFile(ffs->backing() + "/s", content);
    ffs->arm("grow-on-read g 100\ntruncate-on-read t 1000\nshort-read s 1000");
    EXPECT_EQ(Content(ffs->path("g")), Digest(content + std::string(100, '+')));
    EXPECT_EQ(Content(ffs->path("t")), Digest(content.substr(0, 1000)));
    EXPECT_EQ(Content(ffs->path("s")), Digest(content.substr(0, 1000)));
    // A short read leaves the file as it was; the others changed it for real.
    EXPECT_EQ(fs::file_size(ffs->path("s")), content.size());
    EXPECT_EQ(fs::file_size(ffs->path("t")), 1000u);
}

TEST(FaultFs, ConcurrentWritersQueueOnOneDevice) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    ffs->arm("bandwidth 2097152");  // 2 MiB/s: 128 KiB take 62.5 ms
    const std::string chunk = Bytes(128 * 1024, 3);
    auto writeOne = [&](const std::string& name) { WriteFile(ffs->path(name), chunk); };
    const auto start = std::chrono::steady_clock::now();
    std::thread other(writeOne, "p");
    writeOne("q");
    other.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Two writers in parallel would take 62.5 ms; one device serves them one after the other.
    EXPECT_GE(elapsed, std::chrono::milliseconds(120));
    EXPECT_EQ(Content(ffs->path("p")), Digest(chunk));
    EXPECT_EQ(Content(ffs->path("q")), Digest(chunk));
}

// --- The run engine on slow devices ------------------------------------------------------

TEST(SlowDevices, TwoDevicesAreWrittenAtTheSameTime) {
    MOUNT_OR_SKIP(first, FaultFs);
    MOUNT_OR_SKIP(second, FaultFs);
    // 4 MiB/s each: the 1 MiB source takes a quarter of a second per device.
    first->arm("bandwidth 4194304");
    second->arm("bandwidth 4194304");
    TempTree temp;
    for (int i = 0; i < 8; ++i) temp.write("src/f" + std::to_string(i), Bytes(128 * 1024, i));
    const PathList sources = List({temp.path("src/")});
    const PathList destinations = List({first->path("dest"), second->path("dest")});
    ASSERT_TRUE(fs::create_directory(first->path("dest")) && fs::create_directory(second->path("dest")));
    auto timedRun = [&](int writers) {
        RunOptions options;
        options.maxWriters = writers;
        const auto start = std::chrono::steady_clock::now();
        const RunResult result =
            test::RunCopy(sources, destinations, SameFilePolicy::Overwrite, {}, {}, false, options);
        EXPECT_TRUE(result.failures.empty());
        for (int i = 0; i < 8; ++i) {
            const std::string name = "dest/src/f" + std::to_string(i);
            EXPECT_EQ(ReadFile(first->backing() + "/" + name), Bytes(128 * 1024, i));
            EXPECT_EQ(ReadFile(second->backing() + "/" + name), Bytes(128 * 1024, i));
        }
        return std::make_pair(std::chrono::steady_clock::now() - start, result.writersAtOnce);
    };
    const auto [serial, oneWriter] = timedRun(1);
    const auto [atOnce, writers] = timedRun(0);
    EXPECT_EQ(oneWriter, 1);
    EXPECT_EQ(writers, 2);
    // The time of about one device, not two.
    EXPECT_GE(serial, std::chrono::milliseconds(450));
    EXPECT_LT(atOnce, serial * 7 / 10);
}

// --- Write, close, fsync and rename faults ----------------------------------------------

TEST(WriteFaults, FailedWriteLeavesNothingAndTheRunGoesOn) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    Sources src;
    int round = 0;
    for (int error : {EIO, ENOSPC}) {
        for (bool replacing : {false, true}) {
            SCOPED_TRACE(std::string(replacing ? "replacing, " : "new file, ") + strerror(error));
            const std::string dest = ffs->path("d" + std::to_string(++round));
            std::set<std::string> expected{"dir/", "dir/a.txt", "b.txt"};
            if (replacing) {
                WriteFile(dest + "/dir/big.bin", "older");
                expected.insert("dir/big.bin");
            } else {
                fs::create_directories(dest);
            }
            // Only big.bin reaches past 300000 bytes: its copy fails midway, whatever the
            // order of the copies and the size of their writes.
            ffs->arm("clear\nfail write " + std::string(error == EIO ? "EIO" : "ENOSPC") +
                     " past=300000");
            auto failures = CopyInto(src.list(), dest);
            EXPECT_EQ(ffs->counter("fired"), round);
            ExpectOnlyFailure(failures, dest + "/dir/big.bin", error);
            EXPECT_EQ(Tree(dest), expected);
            EXPECT_EQ(Content(dest + "/dir/big.bin"), replacing ? "older" : "<missing>");
            EXPECT_EQ(Content(dest + "/dir/a.txt"), src.small);
            EXPECT_EQ(Content(dest + "/b.txt"), src.small + src.small);
        }
    }
}

// The figures at the end of a run count the copies that stand and their bytes: not what a
// copy that failed midway wrote, nor a copy the check after write found wrong and removed.
TEST(WriteFaults, FiguresCountOnlyTheCopiesThatStand) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    TempTree src;
    src.write("set/a.bin", Bytes(600 * 1024, 1));
    src.write("set/b.bin", Bytes(200 * 1024, 2));
    src.write("set/c.txt", "c");
    int round = 0;
    for (const char* fault : {"fail write EIO past=300000", "corrupt name=a.bin"}) {
        for (int writers : {1, 0}) {
            SCOPED_TRACE(std::string(fault) + (writers == 1 ? ", one writer" : ", writers"));
            const std::string dest = ffs->path("d" + std::to_string(++round));
            fs::create_directories(dest);
            ffs->arm(std::string("clear\n") + fault);
            TransferFigures last;
            RunOptions options;
            options.maxWriters = writers;
            options.verify = true;
            options.showTransfer = [&](const TransferFigures& figures) { last = figures; };
            const RunResult result = test::RunCopy(List({src.path("set")}), List({dest}),
                                             SameFilePolicy::Overwrite, {}, {}, false, options);
            ffs->arm("clear");
            ExpectOnlyFailure(result.failures, dest + "/set/a.bin");
            EXPECT_EQ(Tree(dest), (std::set<std::string>{"set/", "set/b.bin", "set/c.txt"}));
            EXPECT_EQ(result.copiesVerified, 2u);
            EXPECT_EQ(last.filesDone, 2u);
            EXPECT_EQ(last.bytesDone, 200u * 1024 + 1);
            ASSERT_EQ(last.devices.size(), 1u);
            EXPECT_EQ(last.devices[0].bytesDone, last.bytesDone);
        }
    }
}

TEST(WriteFaults, FailedCloseLeavesNothingAndTheRunGoesOn) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    TempTree src;
    src.write("a.txt", "new a");
    src.write("b.txt", "new b");
    for (bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "replacing" : "new file");
        const std::string dest = ffs->path(replacing ? "replacing" : "new");
        fs::create_directories(dest);
        if (replacing) WriteFile(dest + "/a.txt", "older");
        // The first close of a file written on the mount is the copy of a.txt.
        ffs->arm("clear\nfail flush EIO");
        auto failures = CopyInto({src.path("a.txt"), src.path("b.txt")}, dest);
        ExpectOnlyFailure(failures, dest + "/a.txt", EIO);
        EXPECT_EQ(Tree(dest), replacing ? (std::set<std::string>{"a.txt", "b.txt"})
                                        : (std::set<std::string>{"b.txt"}));
        EXPECT_EQ(Content(dest + "/a.txt"), replacing ? "older" : "<missing>");
        EXPECT_EQ(Content(dest + "/b.txt"), "new b");
    }
}

TEST(WriteFaults, FailedFsyncLeavesNothing) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    TempTree src;
    src.write("a.txt", "new a");
    const std::string dest = ffs->path("d");
    WriteFile(dest + "/a.txt", "older");
    ffs->arm("fail fsync EIO count=0");
    auto failures = CopyInto({src.path("a.txt")}, dest);
    if (ffs->counter("fsync") == 0) {
        // The copy leaves the flush to the end of the run (one per file system) and does
        // not sync each file; then there is nothing to fail here.
        std::printf("note: the copy calls no fsync on the target file\n");
        EXPECT_TRUE(failures.empty()) << Describe(failures);
        EXPECT_EQ(Content(dest + "/a.txt"), "new a");
    } else {
        ExpectOnlyFailure(failures, dest + "/a.txt", EIO);
        EXPECT_EQ(Content(dest + "/a.txt"), "older");
    }
    EXPECT_EQ(Tree(dest), std::set<std::string>{"a.txt"});
}

TEST(WriteFaults, FailedRenameKeepsTheOlderFile) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    TempTree src;
    src.write("doc.txt", "new doc");
    src.write("other.txt", "other");
    const std::string dest = ffs->path("d");
    WriteFile(dest + "/doc.txt", "older");
    ffs->arm("fail rename EIO count=0 name=doc.txt");
    auto failures = CopyInto({src.path("doc.txt"), src.path("other.txt")}, dest);
    // A replacement that is not put in place by a rename would have written over the
    // older file.
    EXPECT_GE(ffs->counter("fired"), 1);
    ExpectOnlyFailure(failures, dest + "/doc.txt", EIO);
    EXPECT_EQ(Content(dest + "/doc.txt"), "older");
    EXPECT_EQ(Content(dest + "/other.txt"), "other");
    EXPECT_EQ(Tree(dest), (std::set<std::string>{"doc.txt", "other.txt"}));
}

// --- A real full disk -------------------------------------------------------------------

TEST(FullDisk, BigFileFailsAndGivesItsSpaceBack) {
    constexpr size_t kSize = 256 * 1024;
    Sources src;
    for (bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "replacing" : "new file");
        MOUNT_OR_SKIP(disk, SmallTmpfs, kSize);
        const std::string dest = disk->root();
        std::set<std::string> expected{"dir/", "dir/a.txt", "b.txt"};
        if (replacing) {
            WriteFile(dest + "/dir/big.bin", "older");
            expected.insert("dir/big.bin");
        }
        auto failures = CopyInto(src.list(), dest);
        ExpectOnlyFailure(failures, dest + "/dir/big.bin", ENOSPC);
        EXPECT_EQ(Tree(dest), expected);
        EXPECT_EQ(Content(dest + "/dir/big.bin"), replacing ? "older" : "<missing>");
        EXPECT_EQ(Content(dest + "/b.txt"), src.small + src.small);
        // Nothing still holds the space the failed copy took (a temporary file kept open
        // or hidden would).
        struct statvfs st;
        ASSERT_EQ(::statvfs(dest.c_str(), &st), 0);
        EXPECT_GE(st.f_bavail * st.f_frsize, kSize - 32 * 1024);
    }
}

// A device that reports itself full gets no more tries: the copies to it that are left are
// each reported once as not tried because the device is full, while the other device gets
// everything.
TEST(FullDisk, AFullDeviceFailsFastAndTheOtherDeviceGoesOn) {
    MOUNT_OR_SKIP(full, FaultFs);
    MOUNT_OR_SKIP(roomy, FaultFs);
    TempTree temp;
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i) temp.write("src/sub/f" + std::to_string(i), Bytes(4096, i));
    temp.write("single.txt", "one");
    ASSERT_TRUE(fs::create_directory(full->path("dest")) &&
                fs::create_directory(roomy->path("dest")));
    for (int writers : {1, 0}) {
        SCOPED_TRACE("writers " + std::to_string(writers));
        full->arm("clear\nfull");
        const long createsBefore = full->counter("create");
        RunOptions options;
        options.maxWriters = writers;
        const RunResult result =
            test::RunCopy(List({temp.path("src/"), temp.path("single.txt")}),
                    List({full->path("dest"), roomy->path("dest")}), SameFilePolicy::Overwrite,
                    {}, {}, false, options);
        int noSpace = 0, untried = 0;
        std::set<std::string> reported;
        for (const Failure& f : result.failures) {
            EXPECT_EQ(f.path.rfind(full->path("dest/"), 0), 0u) << f.path;
            EXPECT_TRUE(reported.insert(f.path).second) << "reported twice: " << f.path;
            if (f.reason == ErrorText(ENOSPC)) ++noSpace;
            else if (f.reason == ErrorText(ostrivane::error::kDeviceFull)) ++untried;
            else ADD_FAILURE() << f.path << ": " << f.reason;
        }
        // Every copy to the full device is reported once; of the files as large as the first
        // that failed, only those already under way when the device first said so were
        // tried (one per writer at most). The smaller single file may still fit: it is tried,
        // and fails as the device tells.
        EXPECT_EQ(noSpace + untried, kFiles + 1) << Describe(result.failures);
        EXPECT_GE(noSpace, 2);
        EXPECT_LE(noSpace, (writers == 1 ? 1 : ostrivane::kFastDeviceWriters) + 1);
        EXPECT_LE(full->counter("create") - createsBefore, noSpace);
        EXPECT_EQ(result.failures.back().path, full->path("dest/single.txt"));
        EXPECT_EQ(result.failures.back().reason, ErrorText(ENOSPC));
        for (int i = 0; i < kFiles; ++i)
            EXPECT_EQ(ReadFile(roomy->backing() + "/dest/src/sub/f" + std::to_string(i)),
                      Bytes(4096, i));
        EXPECT_EQ(ReadFile(roomy->backing() + "/dest/single.txt"), "one");
        // Nothing but folders on the full device.
        for (const std::string& name : Tree(full->backing() + "/dest"))
            EXPECT_EQ(name.back(), '/') << name;
        fs::remove_all(roomy->backing() + "/dest/src");
    }
}

// After a big copy found the device full, what still fits is copied whatever the order of
// the sources: an empty file and one smaller than the space left, though that space is below
// the margin a copy as large as the failed one would need; the big one fails as the device
// tells, and nothing of it stays.
TEST(FullDisk, WhatFitsIsCopiedWhateverCameBefore) {
    TempTree src;
    const std::string big = src.write("big.bin", Bytes(200 * 1024, 3));
    const std::string empty = src.write("empty.txt", "");
    const std::string small = src.write("small.bin", Bytes(8 * 1024, 4));
    for (bool bigFirst : {true, false}) {
        SCOPED_TRACE(bigFirst ? "big file first" : "big file last");
        MOUNT_OR_SKIP(disk, SmallTmpfs, 256 * 1024);
        // 60 KiB left.
        WriteFile(disk->path("filler"), Bytes(196 * 1024, 5));
        struct statvfs st;
        ASSERT_EQ(::statvfs(disk->root().c_str(), &st), 0);
        ASSERT_EQ(st.f_bavail * st.f_frsize, 60u * 1024);
        ASSERT_EQ(st.f_bavail, st.f_bfree);  // tmpfs keeps no reserve
        const std::vector<std::string> sources = bigFirst
                                                     ? std::vector<std::string>{big, empty, small}
                                                     : std::vector<std::string>{empty, small, big};
        std::vector<TransferFigures> last(1);
        RunOptions options;
        options.showTransfer = [&](const TransferFigures& figures) { last[0] = figures; };
        const RunResult result = test::RunCopy(List(sources), List({disk->root()}),
                                         SameFilePolicy::Overwrite, {}, {}, false, options);
        ExpectOnlyFailure(result.failures, disk->path("big.bin"), ENOSPC);
        EXPECT_EQ(Tree(disk->root()), (std::set<std::string>{"filler", "empty.txt", "small.bin"}));
        EXPECT_EQ(Content(disk->path("small.bin")), Digest(Bytes(8 * 1024, 4)));
        EXPECT_EQ(Content(disk->path("empty.txt")), "");
        // The figures count what stands: not the bytes the failed copy wrote.
        EXPECT_EQ(last[0].filesDone, 2u);
        EXPECT_EQ(last[0].bytesDone, 8u * 1024);
    }
}

// Writes the file `name` of the open folder until the device is full.
void FillUntilFull(const Folder& folder, const char* name) {
    const int fd = ::openat(static_cast<int>(folder.native()), name,
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << strerror(errno);
    const std::string piece(4096, 'f');
    while (::write(fd, piece.data(), piece.size()) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    ::fsync(fd);
    ::close(fd);
}

// Where the file system keeps blocks back for root (ext4's reserve), a process that may use
// them counts them as free: once other users have filled the device, root is told the
// reserve and another user next to nothing; and a copy as large as one that found the device
// full is tried again, not refused untried, once room came back in the reserve.
TEST(FullDisk, TheReserveCountsForAProcessThatMayUseIt) {
    constexpr std::uint64_t kMiB = 1 << 20;
    MOUNT_OR_SKIP(disk, test::Ext4Volume, 32, 25);  // 8 MiB kept for root
    constexpr uid_t kNobody = 65534;
    const std::string dest = disk->path("d");
    ASSERT_EQ(::mkdir(dest.c_str(), 0755), 0);
    ASSERT_EQ(::chown(dest.c_str(), kNobody, kNobody), 0);
    Folder folder;
    ASSERT_EQ(OpenFolder(dest, folder), 0);
    std::uint64_t userBytes = 0, rootBytes = 0, entries = 0;
    ASSERT_EQ(::seteuid(kNobody), 0);
    FillUntilFull(folder, "filler");  // (the folders above may be closed to that user)
    const bool toldUser = FreeSpaceAt(folder, userBytes, entries);
    ASSERT_EQ(::seteuid(0), 0);
    ASSERT_TRUE(toldUser);
    EXPECT_LT(userBytes, 1 * kMiB);
    ASSERT_TRUE(FreeSpaceAt(folder, rootBytes, entries));
    EXPECT_GT(rootBytes, 7 * kMiB);
    EXPECT_GT(entries, 0u);
    // Root takes most of the reserve; the big copy then finds no room, and the file that
    // held the reserve is deleted before the next one, as large, comes.
    WriteFile(dest + "/held", Bytes(6 * kMiB, 7));
    TempTree src;
    const std::string big = src.write("big.bin", Bytes(5 * kMiB, 8));
    const std::string again = src.write("again.bin", Bytes(5 * kMiB, 9));
    RunOptions options;
    options.maxWriters = 1;
    const ShowProgress afterEachSource = [&](int percent) {
        if (percent != 50) return;
        ::unlink((dest + "/held").c_str());
        ::syncfs(static_cast<int>(folder.native()));
    };
    const RunResult result = test::RunCopy(List({big, again}), List({dest}), SameFilePolicy::Overwrite,
                                     {}, afterEachSource, false, options);
    ExpectOnlyFailure(result.failures, dest + "/big.bin", ENOSPC);
    EXPECT_EQ(Content(dest + "/again.bin"), Digest(Bytes(5 * kMiB, 9)));
    EXPECT_EQ(Tree(dest), (std::set<std::string>{"filler", "again.bin"}));
}

TEST(FullDisk, FullInodeTableFailsTheCopiesThatFindNoneAndKeepsTheOthersWhole) {
    constexpr size_t kInodes = 5;  // the root folder takes one
    MOUNT_OR_SKIP(disk, SmallTmpfs, 1 << 20, kInodes);
    TempTree src;
    std::vector<std::string> sources;
    for (int i = 1; i <= 6; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        src.write(name, "content " + name);
        sources.push_back(src.path(name));
    }
    auto failures = CopyInto(sources, disk->root());
    const std::set<std::string> present = Tree(disk->root());
    EXPECT_FALSE(present.empty());
    EXPECT_FALSE(failures.empty());
    EXPECT_EQ(present.size() + failures.size(), 6u) << Describe(failures);
    // The first copy that found no entry tells that the device is full; the copies after it
    // are not tried.
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(failures.front().reason, ErrorText(ENOSPC));
    for (const Failure& f : failures) {
        EXPECT_TRUE(f.reason == ErrorText(ENOSPC) ||
                    f.reason == ErrorText(ostrivane::error::kDeviceFull))
            << f.path << ": " << f.reason;
        EXPECT_EQ(present.count(fs::path(f.path).filename().string()), 0u) << f.path;
    }
    for (const std::string& name : present) EXPECT_EQ(Content(disk->path(name)), "content " + name);
    // Every inode in use is one of the files listed.
    struct statvfs st;
    ASSERT_EQ(::statvfs(disk->root().c_str(), &st), 0);
    EXPECT_EQ(st.f_ffree, kInodes - 1 - present.size());
}

// --- A source that changes or fails while it is copied ----------------------------------

TEST(SourceFaults, ASourceThatChangesOrFailsWhileReadIsNotPutInPlace) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    const std::string content = Bytes(300 * 1024, 4);
    WriteFile(ffs->backing() + "/src/other.txt", "other");
    int round = 0;
    for (const char* change : {"grow-on-read f.bin 4096", "truncate-on-read f.bin 1000",
                               "short-read f.bin 1000", "fail read EIO count=0 name=f.bin"}) {
        for (bool replacing : {false, true}) {
            SCOPED_TRACE(std::string(change) + (replacing ? ", replacing" : ", new file"));
            WriteFile(ffs->backing() + "/src/f.bin", content);
            const std::string dest = ffs->path("d" + std::to_string(++round));
            fs::create_directories(dest);
            if (replacing) WriteFile(dest + "/f.bin", "older");
            ffs->arm(std::string("clear\n") + change);
            auto failures = CopyInto({ffs->path("src/f.bin"), ffs->path("src/other.txt")}, dest);
            ffs->arm("clear");  // the faults name f.bin, and the target is read back below
            // A source that changed while read, or that could not be read, is named, and the
            // target it did not reach after its reason.
            ExpectOnlyFailure(failures, ffs->path("src/f.bin"));
            EXPECT_TRUE(failures[0].reason.ends_with(SourceFailureReason("", dest + "/f.bin")))
                << failures[0].reason;
            EXPECT_EQ(Content(dest + "/f.bin"), replacing ? "older" : "<missing>");
            EXPECT_EQ(Content(dest + "/other.txt"), "other");
            EXPECT_EQ(Tree(dest), replacing ? (std::set<std::string>{"f.bin", "other.txt"})
                                            : (std::set<std::string>{"other.txt"}));
        }
    }
}

// A source that changes while it is copied into one of three destinations: the one failure
// names the source and the destination that lacks the copy; the other two hold it.
TEST(SourceFaults, ASourceThatChangedNamesTheDestinationThatLacksTheCopy) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    const std::string content = Bytes(300 * 1024, 4);
    TempTree out;
    int round = 0;
    for (int writers : {1, 0}) {
        SCOPED_TRACE(writers == 1 ? "one writer" : "writers");
        WriteFile(ffs->backing() + "/src/f.bin", content);
        std::vector<std::string> dests;
        for (int d = 1; d <= 3; ++d) dests.push_back(out.mkdir("r" + std::to_string(++round)));
        ffs->arm("clear\ngrow-on-read f.bin 4096");
        RunOptions options;
        options.maxWriters = writers;
        const RunResult result = test::RunCopy(List({ffs->path("src/f.bin")}), List(dests),
                                         SameFilePolicy::Overwrite, {}, {}, false, options);
        ffs->arm("clear");
        // One writer: the source grows while the first destination's copy reads it, which
        // fails, and the later copies read the grown file. Several writers may read it at
        // once, and then every copy that saw it change fails: each names its destination.
        std::set<std::string> named;
        for (const Failure& failure : result.failures) {
            EXPECT_EQ(failure.path, ffs->path("src/f.bin"));
            named.insert(failure.reason);
        }
        EXPECT_EQ(named.size(), result.failures.size());
        int lacking = 0;
        for (const std::string& dest : dests) {
            if (Exists(dest + "/f.bin")) {
                EXPECT_EQ(Content(dest + "/f.bin"), Digest(content + std::string(4096, '+')))
                    << dest;
                continue;
            }
            ++lacking;
            EXPECT_EQ(named.count(
                          SourceFailureReason(ErrorText(error::kSourceChanged), dest + "/f.bin")),
                      1u)
                << dest;
            if (writers == 1) {
                EXPECT_EQ(dest, dests[0]);
            }
        }
        EXPECT_EQ(static_cast<size_t>(lacking), result.failures.size());
        if (writers == 1) {
            EXPECT_EQ(lacking, 1);
        } else {
            EXPECT_GE(lacking, 1);
        }
    }
}

// Sources on the fault mount for the cases below: "bad.bin" alone, and in a folder source
// beside files that copy well, one level down too, so that several writers may split the
// folder. Big enough (past 1 MiB) for the copy of a hashed run to go through the kernel's
// copy and a second read for the hash.
struct FaultySources {
    const std::string content = Bytes(1536 * 1024, 6);
    explicit FaultySources(const FaultFs& ffs) {
        WriteFile(ffs.backing() + "/src/bad.bin", content);
        WriteFile(ffs.backing() + "/src/dir/bad.bin", content);
        WriteFile(ffs.backing() + "/src/dir/good.txt", "good");
        WriteFile(ffs.backing() + "/src/dir/sub/bad.bin", content);
        WriteFile(ffs.backing() + "/src/dir/sub/fine.txt", "fine");
    }
};

// The failures of a run, by path, with their reasons.
std::multiset<std::string> FailedPaths(const std::vector<Failure>& failures, int error) {
    std::multiset<std::string> paths;
    for (const Failure& f : failures) {
        EXPECT_EQ(f.reason, ErrorText(error)) << f.path;
        paths.insert(f.path);
    }
    return paths;
}

// A source that exists but cannot be read (a failing disk: every read of it fails with EIO)
// is named in each failure, once per destination, not the targets it never reached: a file
// given as a source and files inside a folder source, into a destination on its own device
// (the kernel copies within one file system and does not say which file failed) and into one
// on another file system, with one writer and with several, hashed or not.
TEST(SourceFaults, AnUnreadableSourceIsNamedNotItsTargets) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    FaultySources src(*ffs);
    TempTree elsewhere;
    int round = 0;
    for (bool verify : {false, true}) {
        for (int writers : {1, 4}) {
            SCOPED_TRACE(std::string(verify ? "verified, " : "") + std::to_string(writers) +
                         " writers");
            ++round;
            const std::string near = ffs->path("d" + std::to_string(round));
            const std::string far = elsewhere.mkdir("d" + std::to_string(round));
            fs::create_directories(near);
            ffs->arm("clear\nfail read EIO count=0 name=bad.bin");
            RunOptions options;
            options.maxWriters = writers;
            options.verify = verify;
            const RunResult result =
                test::RunCopy(List({ffs->path("src/bad.bin"), ffs->path("src/dir")}), List({near, far}),
                        SameFilePolicy::Overwrite, {}, {}, false, options);
            ffs->arm("clear");
            EXPECT_GT(ffs->counter("fired"), 0);
            const std::string bad = ffs->path("src/bad.bin"), inDir = ffs->path("src/dir/bad.bin"),
                              inSub = ffs->path("src/dir/sub/bad.bin");
            // Each names the target that lacks the copy.
            std::multiset<std::string> rows, expected;
            for (const Failure& f : result.failures) rows.insert(f.path + ": " + f.reason);
            for (const std::string& dest : {near, far}) {
                expected.insert(bad + ": " +
                                SourceFailureReason(ErrorText(EIO), dest + "/bad.bin"));
                expected.insert(inDir + ": " +
                                SourceFailureReason(ErrorText(EIO), dest + "/dir/bad.bin"));
                expected.insert(inSub + ": " +
                                SourceFailureReason(ErrorText(EIO), dest + "/dir/sub/bad.bin"));
            }
            EXPECT_EQ(rows, expected) << Describe(result.failures);
            for (const std::string& dest : {near, far}) {
                EXPECT_EQ(Tree(dest), (std::set<std::string>{"dir/", "dir/good.txt", "dir/sub/",
                                                              "dir/sub/fine.txt"}))
                    << dest;
                EXPECT_EQ(Content(dest + "/dir/sub/fine.txt"), "fine");
            }
        }
    }
}

// The other side: where the source reads well and the writes on the destination's device
// fail with EIO, each failure names the target, also where the kernel copies the data and
// does not say which file failed.
TEST(SourceFaults, AFailingWriteStillNamesTheTarget) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    FaultySources src(*ffs);
    int round = 0;
    for (bool verify : {false, true}) {
        for (int writers : {1, 4}) {
            SCOPED_TRACE(std::string(verify ? "verified, " : "") + std::to_string(writers) +
                         " writers");
            const std::string d1 = ffs->path("w" + std::to_string(++round));
            const std::string d2 = ffs->path("w" + std::to_string(++round));
            fs::create_directories(d1);
            fs::create_directories(d2);
            // Only the copies of bad.bin reach past that byte; the sources are only read.
            ffs->arm("clear\nfail write EIO count=0 past=500000");
            RunOptions options;
            options.maxWriters = writers;
            options.verify = verify;
            const RunResult result =
                test::RunCopy(List({ffs->path("src/bad.bin"), ffs->path("src/dir")}), List({d1, d2}),
                        SameFilePolicy::Overwrite, {}, {}, false, options);
            ffs->arm("clear");
            EXPECT_GT(ffs->counter("fired"), 0);
            std::multiset<std::string> expected;
            for (const std::string& dest : {d1, d2}) {
                for (const char* name : {"/bad.bin", "/dir/bad.bin", "/dir/sub/bad.bin"})
                    expected.insert(dest + name);
                EXPECT_EQ(Tree(dest), (std::set<std::string>{"dir/", "dir/good.txt", "dir/sub/",
                                                              "dir/sub/fine.txt"}))
                    << dest;
            }
            EXPECT_EQ(FailedPaths(result.failures, EIO), expected) << Describe(result.failures);
        }
    }
}

// --- Killed midway ----------------------------------------------------------------------

TEST(Crash, KilledCopyLeavesNothingUnderTheFinalNameAndTheNextRunTidiesUp) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    TempTree src;
    const std::string content = Bytes(2 * 1024 * 1024, 5);
    src.write("dir/big.bin", content);
    int round = 0;
    // The file as a source of its own (copied into the destination folder itself) and
    // inside a folder source (copied by the tree walk).
    for (bool inFolder : {false, true}) {
        for (bool replacing : {false, true}) {
            SCOPED_TRACE(std::string(inFolder ? "in a folder, " : "file source, ") +
                         (replacing ? "replacing" : "new file"));
            const std::string dest = ffs->path("d" + std::to_string(++round));
            const std::string source = inFolder ? src.path("dir") : src.path("dir/big.bin");
            const std::string folder = inFolder ? dest + "/dir" : dest;
            fs::create_directories(folder);
            if (replacing) WriteFile(folder + "/big.bin", "older");
            // At 2 MiB/s the copy of 2 MiB takes a second; it is killed once its first write
            // request is through, long before it could end.
            ffs->arm("clear\nbandwidth 2097152");
            const long writesBefore = ffs->counter("write");
            pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                CopyInto({source}, dest);
                ::_exit(0);
            }
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (ffs->counter("write") == writesBefore &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ::kill(child, SIGKILL);
            int status = 0;
            ::waitpid(child, &status, 0);
            ASSERT_TRUE(WIFSIGNALED(status)) << "the copy ended before it was killed";
            EXPECT_EQ(Content(folder + "/big.bin"), replacing ? "older" : "<missing>");

            // The next run into the same folder completes the copy and removes what the
            // killed one left.
            ffs->arm("clear");
            auto failures = CopyInto({source}, dest);
            EXPECT_TRUE(failures.empty()) << Describe(failures);
            EXPECT_EQ(Content(folder + "/big.bin"), Digest(content));
            EXPECT_EQ(Tree(dest), inFolder ? (std::set<std::string>{"dir/", "dir/big.bin"})
                                           : (std::set<std::string>{"big.bin"}));
        }
    }
}

// A run killed outright (a second Ctrl-C) while it writes deep in a tree, on a file system
// without unnamed files: its temporary is in the listed destination folder, not in the
// subfolder the copy was for, and the next run into that destination removes it whatever
// that run copies.
TEST(Crash, KilledRunLeavesItsTemporaryWhereTheNextRunIntoTheDestinationRemovesIt) {
    MOUNT_OR_SKIP(ffs, FaultFs);
    TempTree src;
    src.write("data/a/b/big.bin", Bytes(2 * 1024 * 1024, 6));
    src.write("other.txt", "other");
    const std::string dest = ffs->path("d");
    fs::create_directories(dest);
    ffs->arm("bandwidth 2097152");  // the copy takes a second; it is killed at its first write
    const long writesBefore = ffs->counter("write");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CopyInto({src.path("data")}, dest);
        ::_exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ffs->counter("write") == writesBefore && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the copy ended before it was killed";
    std::set<std::string> left = Tree(dest);
    ASSERT_EQ(left.size(), 4u);  // data/, data/a/, data/a/b/ and the temporary
    EXPECT_EQ(left.count("data/a/b/"), 1u);
    for (const std::string& name : left) {
        if (name.back() == '/') continue;
        EXPECT_EQ(name.rfind(".ostrivane-partial-" + std::to_string(child) + "-", 0), 0u) << name;
    }

    ffs->arm("clear");
    auto failures = CopyInto({src.path("other.txt")}, dest);
    EXPECT_TRUE(failures.empty()) << Describe(failures);
    EXPECT_EQ(Tree(dest),
              (std::set<std::string>{"data/", "data/a/", "data/a/b/", "other.txt"}));
}

// --- File systems without O_TMPFILE, hard links or permission bits ----------------------

TEST(Fallbacks, CopiesWithoutTmpfileHardLinksRenameFlagsOrPermissionBits) {
    TempTree src;
    src.write("dir/x.txt", "x");
    src.write("dir/sub/y.txt", "y");
    src.write("b.txt", "new b");
    ASSERT_EQ(::chmod(src.path("dir/x.txt").c_str(), 0640), 0);
    // A mount of its own for each mode: what the copy learns of a device is not carried
    // from one mode into the next.
    for (const char* mode : {"no-link", "no-rename-flags", "no-link\nno-rename-flags\nno-perms"}) {
        SCOPED_TRACE(mode);
        MOUNT_OR_SKIP(ffs, FaultFs);
        ASSERT_NE(TmpfileError(ffs->root()), 0);
        ffs->arm(mode);
        const std::string dest = ffs->path("d");
        WriteFile(dest + "/b.txt", "older");
        auto failures = CopyInto({src.path("dir"), src.path("b.txt")}, dest);
        EXPECT_TRUE(failures.empty()) << Describe(failures);
        EXPECT_EQ(Content(dest + "/dir/x.txt"), "x");
        EXPECT_EQ(Content(dest + "/dir/sub/y.txt"), "y");
        EXPECT_EQ(Content(dest + "/b.txt"), "new b");
        failures = CopyInto({src.path("b.txt")}, dest, SameFilePolicy::AutoNumber);
        EXPECT_TRUE(failures.empty()) << Describe(failures);
        EXPECT_EQ(Content(dest + "/b_1.txt"), "new b");
        WriteFile(dest + "/b.txt", "kept");
        failures = CopyInto({src.path("b.txt")}, dest, SameFilePolicy::Skip);
        EXPECT_TRUE(failures.empty()) << Describe(failures);
        EXPECT_EQ(Content(dest + "/b.txt"), "kept");
        EXPECT_EQ(Tree(dest), (std::set<std::string>{"dir/", "dir/x.txt", "dir/sub/",
                                                     "dir/sub/y.txt", "b.txt", "b_1.txt"}));
    }
}

TEST(Exfat, NamesThatDifferInCaseOnlyGetTwoFilesAndCopiesNeedNoPermissionBits) {
    MOUNT_OR_SKIP(volume, ExfatVolume);
    ASSERT_NE(TmpfileError(volume->root()), 0);
    TempTree src;
    src.write("a.txt", "lower");
    src.write("A.TXT", "upper");
    src.write("dir/x.txt", "x");
    ASSERT_EQ(::chmod(src.path("dir/x.txt").c_str(), 0600), 0);
    const std::string dest = volume->path("d");
    ASSERT_TRUE(fs::create_directory(dest));

    auto failures =
        CopyInto({src.path("a.txt"), src.path("A.TXT")}, dest, SameFilePolicy::AutoNumber);
    EXPECT_TRUE(failures.empty()) << Describe(failures);
    EXPECT_EQ(Tree(dest), (std::set<std::string>{"a.txt", "A_1.TXT"}));
    EXPECT_EQ(Content(dest + "/a.txt"), "lower");
    EXPECT_EQ(Content(dest + "/A_1.TXT"), "upper");

    // Overwrite replaces the file that carries the name in another case (one file stays,
    // under whichever case the copy left), and copies a tree without permission bits.
    failures = CopyInto({src.path("A.TXT"), src.path("dir")}, dest);
    EXPECT_TRUE(failures.empty()) << Describe(failures);
    const std::set<std::string> names = Tree(dest);
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(names.count("dir/x.txt"), 1u);
    EXPECT_EQ(Content(dest + "/dir/x.txt"), "x");
    EXPECT_EQ(Content(dest + "/A_1.TXT"), "upper");
    // Read it by the name the listing gives: the kernel may still hold the other case's
    // name for the replaced file for a moment (exfat-fuse's entry timeout).
    const bool upperCase = names.count("A.TXT") == 1;
    ASSERT_TRUE(upperCase || names.count("a.txt") == 1);
    EXPECT_EQ(Content(dest + (upperCase ? "/A.TXT" : "/a.txt")), "upper");
}

// Subfolders whose names differ in case only are one folder on exFAT (as on FAT and NTFS):
// several writers must not fill it at once, or the numbered names and the replaced files
// would come out otherwise than in the order of one writer.
TEST(Exfat, ManyWritersGiveOneWritersOutcomeWhereNamesDifferInCaseOnly) {
    MOUNT_OR_SKIP(volume, ExfatVolume, 32);
    TempTree src;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        src.write("top/Photos/" + name, "upper " + std::to_string(i));
        src.write("top/photos/" + name, "lower " + std::to_string(i));
    }
    for (int i = 0; i < 20; ++i) {
        src.write("top/\xC3\x84rger/f" + std::to_string(i), "upper " + std::to_string(i));  // Ä
        src.write("top/\xC3\xA4rger/f" + std::to_string(i), "lower " + std::to_string(i));  // ä
    }
    for (int i = 0; i < 6; ++i) src.write("top/other" + std::to_string(i) + "/x.txt", "x");
    src.write("top/DATA", "a file named like a folder");
    src.write("top/data/inner.txt", "inner");
    for (SameFilePolicy policy : {SameFilePolicy::AutoNumber, SameFilePolicy::Overwrite}) {
        SCOPED_TRACE(static_cast<int>(policy));
        std::map<std::string, std::string> outcome[2];
        std::vector<Failure> failures[2];
        for (int writers : {1, 4}) {
            const std::string dest = volume->path("w" + std::to_string(writers));
            fs::remove_all(dest);
            ASSERT_TRUE(fs::create_directory(dest));
            RunOptions options;
            options.maxWriters = writers;
            const RunResult result = test::RunCopy(List({src.path("top")}), List({dest}), policy,
                                             {}, {}, false, options);
            auto& tree = outcome[writers == 4];
            for (const std::string& name : Tree(dest))
                tree[name] = name.back() == '/' ? "" : Content(dest + "/" + name);
            for (const Failure& failure : result.failures)
                failures[writers == 4].push_back(
                    {failure.path.substr(dest.size()), failure.reason});
        }
        EXPECT_EQ(outcome[1], outcome[0]);
        ASSERT_EQ(failures[1].size(), failures[0].size()) << Describe(failures[1]);
        for (size_t i = 0; i < failures[0].size(); ++i) {
            EXPECT_EQ(failures[1][i].path, failures[0][i].path);
            EXPECT_EQ(failures[1][i].reason, failures[0][i].reason);
        }
    }
}

// The outcome of a copy run: every entry below each folder with its content (folders "").
std::map<std::string, std::string> Outcome(const std::vector<std::string>& folders) {
    std::map<std::string, std::string> outcome;
    for (size_t i = 0; i < folders.size(); ++i)
        for (const std::string& name : Tree(folders[i]))
            outcome[std::to_string(i) + ":" + name] =
                name.back() == '/' ? "" : Content(folders[i] + "/" + name);
    return outcome;
}

// exfat-fuse gives each spelling of a folder an inode number of its own, and exFAT has
// neither RENAME_NOREPLACE nor hard links: destinations are told apart by their place (the
// path from the file system's root, compared as the file system may fold it), and the
// look-then-rename of a new name is never raced by another writer of the run.
TEST(Exfat, OneFolderListedInSeveralSpellingsGetsEveryCopyWithAnyWriters) {
    MOUNT_OR_SKIP(volume, ExfatVolume, 32);
    TempTree src;
    std::vector<std::string> sources;
    for (int i = 0; i < 90; ++i)
        sources.push_back(src.write("f" + std::to_string(i) + ".txt", "file " + std::to_string(i)));
    const std::vector<std::string> spellings = {"X/Dir", "X/dir", "X/DIR", "X/dIR"};
    std::vector<std::string> destinations;
    for (const std::string& spelling : spellings) destinations.push_back(volume->path(spelling));
    std::map<std::string, std::string> outcome[2];
    // Several rounds with four writers: a race shows in some of them only.
    for (int writers : {1, 4, 4, 4}) {
        SCOPED_TRACE(writers);
        fs::remove_all(volume->path("X"));
        ASSERT_TRUE(fs::create_directories(volume->path("X/Dir")));
        RunOptions options;
        options.maxWriters = writers;
        std::uint64_t copied = 0;
        options.showTransfer = [&](const TransferFigures& figures) { copied = figures.filesDone; };
        const RunResult result = test::RunCopy(List(sources), List(destinations),
                                         SameFilePolicy::AutoNumber, {}, {}, false, options);
        EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
        EXPECT_EQ(copied, 360u);
        EXPECT_EQ(result.writersAtOnce, 1);  // the spellings are one folder, written in turn
        outcome[writers == 4] = Outcome({volume->path("X/Dir")});
        EXPECT_EQ(outcome[writers == 4].size(), 360u);  // every copy counted is there
        if (writers == 4) {
            EXPECT_EQ(outcome[1], outcome[0]);
        }
    }
}

// Where a new name can only be taken by a look and a rename (exFAT), two writers of one
// process never both find it free: each name is taken by exactly one copy.
TEST(Exfat, WritersOfOneProcessNeverBothTakeANewName) {
    MOUNT_OR_SKIP(volume, ExfatVolume);
    TempTree src;
    Folder target;
    ASSERT_EQ(OpenFolder(volume->root(), target), 0);
    constexpr int kWriters = 4, kNames = 60;
    std::vector<int> takenBy(kNames, -1), taken(kNames, 0);
    std::mutex mutex;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        const std::string source = src.write(std::to_string(w), "writer " + std::to_string(w));
        writers.emplace_back([&, w, source] {
            for (int k = 0; k < kNames; ++k)
                if (CopyFileAt(nullptr, source, target, "n" + std::to_string(k), true) == 0) {
                    std::lock_guard lock(mutex);
                    ++taken[static_cast<size_t>(k)];
                    takenBy[static_cast<size_t>(k)] = w;
                }
        });
    }
    for (std::thread& writer : writers) writer.join();
    for (int k = 0; k < kNames; ++k) {
        ASSERT_EQ(taken[static_cast<size_t>(k)], 1) << "n" << k;
        EXPECT_EQ(Content(volume->path("n" + std::to_string(k))),
                  "writer " + std::to_string(takenBy[static_cast<size_t>(k)]));
    }
}

// A destination seen again through a bind mount inside another destination is nested in
// it: the two are written in list order with several writers as with one.
TEST(BindMount, DestinationSeenThroughABindMountInsideAnotherKeepsTheListOrder) {
    if (::geteuid() != 0) GTEST_SKIP() << "bind mounts need root";
    TempTree t;
    const std::string data = t.mkdir("data/a"), mnt = t.mkdir("mnt");
    t.mkdir("mnt/b");
    for (int i = 0; i < 100; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "x%03d", i);
        t.write(std::string("src/b/") + name, "inner");
        t.write(std::string("src/top/") + name, "top");
    }
    if (::mount(data.c_str(), t.path("mnt/b").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{t.path("mnt/b")};
    std::vector<std::string> sources = {t.path("src/b")};
    for (const std::string& name : Tree(t.path("src/top")))
        sources.push_back(t.path("src/top/" + name));
    std::map<std::string, std::string> outcome[2];
    for (int writers : {1, 4}) {
        SCOPED_TRACE(writers);
        for (const std::string& folder : {data, mnt})
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path() != t.path("mnt/b")) fs::remove_all(entry.path());
        RunOptions options;
        options.maxWriters = writers;
        const RunResult result = test::RunCopy(List(sources), List({data, mnt}),
                                         SameFilePolicy::AutoNumber, {}, {}, false, options);
        EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
        EXPECT_EQ(Content(data + "/x042"), "top");
        EXPECT_EQ(Content(data + "/x042_1"), "inner");
        outcome[writers == 4] = Outcome({data, mnt});
    }
    EXPECT_EQ(outcome[1], outcome[0]);
    // A source that holds the bind mount is copied through it, not reported as replaced.
    std::vector<Failure> failures;
    CopyFolderTree(mnt, t.path("out/mnt"), SameFilePolicy::Overwrite, nullptr, &failures);
    EXPECT_TRUE(failures.empty()) << Describe(failures);
    ASSERT_TRUE(fs::is_directory(t.path("out/mnt/b")));
    EXPECT_EQ(Tree(t.path("out/mnt/b")), Tree(data));
}

// An overlay of two file systems lists other inode numbers for its folders than it reports
// for them when they are opened. The walks check each folder they open against its listing;
// there they take the entry as looked up by name, so copying, discovery and emptying work.
TEST(Overlay, WalksWorkWhereListingsGiveOtherInodeNumbers) {
    MOUNT_OR_SKIP(upperFs, SmallTmpfs, 4 << 20);
    TempTree t;
    t.write("lower/a/b/f.txt", "lower");
    ASSERT_EQ(::mkdir(upperFs->path("upper").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(upperFs->path("work").c_str(), 0755), 0);
    const std::string merged = t.mkdir("merged");
    const std::string options = "lowerdir=" + t.path("lower") + ",upperdir=" + upperFs->path("upper") +
                                ",workdir=" + upperFs->path("work");
    if (::mount("overlay", merged.c_str(), "overlay", 0, options.c_str()) != 0)
        GTEST_SKIP() << "cannot mount an overlay: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{merged};
    WriteFile(merged + "/a/c/g.txt", "upper");  // a folder of the upper layer beside one below

    std::vector<Failure> failures;
    CopyFolderTree(merged + "/a", t.path("out/a"), SameFilePolicy::Overwrite, nullptr, &failures);
    EXPECT_TRUE(failures.empty()) << failures.front().path << ": " << failures.front().reason;
    EXPECT_EQ(Content(t.path("out/a/b/f.txt")), "lower");
    EXPECT_EQ(Content(t.path("out/a/c/g.txt")), "upper");

    PathList found;
    IndexDisk(merged + "/", found);
    EXPECT_EQ(found.count(), 4);

    EmptyFolder(merged + "/a/", List({merged + "/a/"}), &failures);
    EXPECT_TRUE(failures.empty()) << failures.front().path << ": " << failures.front().reason;
    EXPECT_TRUE(std::filesystem::is_empty(merged + "/a"));
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
    // Before any thread starts: the mounts these tests make are seen by this process and its
    // children only, and go away with it however it ends.
    ostrivane::test::EnterPrivateMountNamespace();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
