// The check after write on devices that lie: the fault file system stores other bytes than
// it was given (silent corruption) or wraps writes past its real size onto earlier blocks
// (a counterfeit stick), while every write and flush succeeds. A run with the check must
// report exactly the copies that came out wrong, on that device only, remove those it made
// under a free name and keep those that replaced a file; and its read-back must reach the
// device, not the kernel's cache of what was written.
//
// These tests mount file systems and so run as root; otherwise they skip.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/copy_run.h"
#include "core/fsops.h"
#include "core/run_copy.h"
#include "core/temp_tree.h"
#include "support/fault_fs.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::FaultFs;
using test::ReadFile;
using test::TempTree;

using test::List;

// `size` bytes that differ from file to file with `seed`.
std::string Bytes(size_t size, int seed) {
    std::string s(size, '\0');
    std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(seed) * 7919u;
    for (char& c : s) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = static_cast<char>(x);
    }
    return s;
}

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string Describe(const std::vector<Failure>& failures) {
    std::string text;
    for (const Failure& f : failures) text += "  " + f.path + ": " + f.reason + "\n";
    return text.empty() ? "  (none)\n" : text;
}

// 24 files of 1 to 190 KiB in the folder "set", by name.
std::map<std::string, std::string> MakeSet(TempTree& tree) {
    std::map<std::string, std::string> files;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        files[name] = Bytes(1024 + static_cast<size_t>(i) * 8 * 1024, i);
        tree.write("set/" + name, files[name]);
    }
    return files;
}

RunResult CopyRun(const std::string& source, const std::vector<std::string>& destinations,
                  SameFilePolicy policy, int writers, bool verify = true) {
    RunOptions options;
    options.maxWriters = writers;
    options.verify = verify;
    return test::RunCopy(List({source}), List(destinations), policy, {}, {}, false, options);
}

// One lie of the device per case, each with one and with several writers; the other two
// destinations (a plain folder and an honest fault file system) must come out clean.
TEST(Verify, EveryWrongCopyIsFoundOnTheLyingDeviceAndNoOther) {
    struct Lie {
        const char* name;
        std::string commands;
    };
    const std::vector<Lie> lies = {
        {"chosen files", "corrupt name=f5.bin"},
        {"from a byte count on", "corrupt after=1500000"},
        {"a counterfeit device of 1 MiB", "counterfeit 1"},
    };
    TempTree src;
    const auto files = MakeSet(src);
    std::uint64_t setBytes = 0;
    for (const auto& [name, content] : files) setBytes += content.size();
    ASSERT_GT(setBytes, 2u << 20);  // the counterfeit wraps, the byte count is passed
    for (const Lie& lie : lies) {
        for (int writers : {1, 0}) {
            for (bool replacing : {false, true}) {
                SCOPED_TRACE(std::string(lie.name) + (writers == 1 ? ", one writer" : ", writers") +
                             (replacing ? ", replacing files" : ", new files"));
                MOUNT_OR_SKIP(honest, FaultFs);
                MOUNT_OR_SKIP(liar, FaultFs);
                TempTree plain;
                const std::vector<std::string> roots = {plain.path("d"), honest->path("d"),
                                                        liar->path("d")};
                const std::vector<std::string> stored = {plain.path("d"), honest->backing() + "/d",
                                                         liar->backing() + "/d"};
                for (const std::string& folder : stored) {
                    fs::create_directories(folder);
                    if (replacing)
                        for (const auto& [name, content] : files)
                            WriteFile(folder + "/set/" + name, "an older file");
                }
                liar->arm(lie.commands);
                const RunResult result =
                    CopyRun(src.path("set"), roots, SameFilePolicy::Overwrite, writers);
                EXPECT_FALSE(result.stopped());
                // What the liar holds now decides which copies are wrong; the others are
                // what they should be.
                std::set<std::string> wrong, reported;
                for (size_t d = 0; d < roots.size(); ++d) {
                    for (const auto& [name, content] : files) {
                        const std::string there = ReadFile(stored[d] + "/set/" + name);
                        if (d < 2) {
                            EXPECT_TRUE(there == content) << stored[d] << "/" << name;
                        }
                        if (replacing && there != content) wrong.insert(roots[d] + "/set/" + name);
                        // A new copy that was wrong is gone; nothing wrong stays.
                        if (!replacing && there != content) {
                            EXPECT_FALSE(Exists(stored[d] + "/set/" + name))
                                << name << " stayed wrong";
                        }
                    }
                }
                for (const Failure& failure : result.failures) {
                    reported.insert(failure.path);
                    EXPECT_EQ(failure.path.rfind(roots[2], 0), 0u)
                        << "a false alarm: " << failure.path;
                    EXPECT_EQ(failure.reason, replacing ? run_reason::kVerifyFailedReplaced
                                                        : run_reason::kVerifyFailed);
                }
                EXPECT_FALSE(reported.empty()) << "the lie changed nothing";
                if (replacing) {
                    EXPECT_EQ(reported, wrong) << Describe(result.failures);
                } else {
                    for (const std::string& path : reported) {
                        const std::string name = path.substr(path.rfind('/') + 1);
                        EXPECT_FALSE(Exists(liar->backing() + "/d/set/" + name)) << name;
                    }
                    // Every copy that is missing was reported: none vanished unnoticed.
                    for (const auto& [name, content] : files) {
                        if (!Exists(liar->backing() + "/d/set/" + name)) {
                            EXPECT_TRUE(reported.count(roots[2] + "/set/" + name)) << name;
                        }
                    }
                }
                EXPECT_EQ(result.copiesVerified, 3 * files.size() - reported.size());
                if (std::string(lie.name) == "chosen files") {
                    EXPECT_EQ(reported, std::set<std::string>{roots[2] + "/set/f5.bin"});
                }
            }
        }
    }
}

TEST(Verify, CleanRunReportsNothingAndCountsEveryCopyAndByte) {
    MOUNT_OR_SKIP(device, FaultFs);
    TempTree src;
    const auto files = MakeSet(src);
    std::uint64_t setBytes = 0;
    for (const auto& [name, content] : files) setBytes += content.size();
    fs::create_directories(device->backing() + "/d");
    std::vector<TransferFigures> seen;
    RunOptions options;
    options.verify = true;
    options.showTransfer = [&](const TransferFigures& figures) { seen.push_back(figures); };
    const RunResult result = test::RunCopy(List({src.path("set")}), List({device->path("d")}),
                                     SameFilePolicy::AutoNumber, {}, {}, false, options);
    EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
    EXPECT_EQ(result.copiesVerified, files.size());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().bytesVerified, setBytes);
    EXPECT_EQ(seen.back().devices.at(0).state, DeviceFigures::State::Done);
    bool verifying = false;
    for (const TransferFigures& figures : seen)
        verifying = verifying || figures.devices.at(0).state == DeviceFigures::State::Verifying;
    EXPECT_TRUE(verifying);
    // Every copy was read back through the device: at least its bytes in read requests.
    EXPECT_GE(device->counter("read"), static_cast<long>(files.size()));
}

// The device is mounted with the kernel's cache kept across opens, as a local disk: the
// copy's pages stay in memory holding what was written, while the device holds other
// bytes. Reading without dropping them would find the copy right.
TEST(Verify, ReadBackReachesTheDeviceNotTheCache) {
    MOUNT_OR_SKIP(device, FaultFs, true);
    TempTree src;
    const std::string content = Bytes(256 * 1024, 3);
    src.write("x.bin", content);
    fs::create_directories(device->backing() + "/d");
    device->arm("corrupt name=x.bin");
    // Without the check: the cache shows the right bytes, the device the wrong ones.
    RunResult plain =
        CopyRun(src.path("x.bin"), {device->path("d")}, SameFilePolicy::Overwrite, 0, false);
    ASSERT_TRUE(plain.failures.empty()) << Describe(plain.failures);
    ASSERT_TRUE(ReadFile(device->backing() + "/d/x.bin") != content) << "the device lied not";
    if (ReadFile(device->path("d/x.bin")) != content)
        GTEST_SKIP() << "this kernel keeps no written pages of a FUSE file in its cache";
    // With it: the read-back asks the device.
    device->arm("corrupt name=x_1.bin");
    const RunResult checked =
        CopyRun(src.path("x.bin"), {device->path("d")}, SameFilePolicy::AutoNumber, 0);
    ASSERT_EQ(checked.failures.size(), 1u) << Describe(checked.failures);
    EXPECT_EQ(checked.failures[0].path, device->path("d") + "/x_1.bin");
    EXPECT_EQ(checked.failures[0].reason, run_reason::kVerifyFailed);
    EXPECT_EQ(checked.copiesVerified, 0u);
    EXPECT_FALSE(Exists(device->backing() + "/d/x_1.bin"));
}

// A copy that cannot be read back (its device fails every read) is the target's failure:
// named by the copy's path, never by its source's, with one writer and with several. The
// copies themselves were made: only the check reads from that device. (Copies under 1 MiB;
// the big ones have a case of their own below.)
TEST(Verify, ACopyThatCannotBeReadBackIsNamedNotItsSource) {
    MOUNT_OR_SKIP(device, FaultFs);
    TempTree src;
    const std::string small = Bytes(300 * 1024, 1), other = Bytes(200 * 1024, 2);
    src.write("one.bin", small);
    src.write("dir/two.bin", other);
    for (int writers : {1, 4}) {
        SCOPED_TRACE(std::to_string(writers) + " writers");
        const std::string dest = "d" + std::to_string(writers);
        fs::create_directories(device->backing() + "/" + dest);
        const long firedBefore = device->counter("fired");
        device->arm("clear\nfail read EIO count=0");
        RunOptions options;
        options.maxWriters = writers;
        options.verify = true;
        const RunResult result =
            test::RunCopy(List({src.path("one.bin"), src.path("dir")}), List({device->path(dest)}),
                    SameFilePolicy::Overwrite, {}, {}, false, options);
        device->arm("clear");
        EXPECT_GT(device->counter("fired"), firedBefore);
        std::set<std::string> failed;
        for (const Failure& f : result.failures) {
            EXPECT_EQ(f.reason, ErrorText(EIO)) << f.path;
            failed.insert(f.path);
        }
        EXPECT_EQ(failed, (std::set<std::string>{device->path(dest) + "/one.bin",
                                                 device->path(dest) + "/dir/two.bin"}))
            << Describe(result.failures);
        EXPECT_EQ(result.copiesVerified, 0u);
        EXPECT_TRUE(ReadFile(device->backing() + "/" + dest + "/one.bin") == small);
        EXPECT_TRUE(ReadFile(device->backing() + "/" + dest + "/dir/two.bin") == other);
    }
}

// What a run made in a child process told its parent: "stopped", then "verified N", then
// one line "path<TAB>reason" per failure; empty when the run did not end within `seconds`
// (the child is then killed). A run that hangs in the kernel cannot hang the test.
struct BoundedRun {
    bool ended = false;
    std::string text;
};
template <typename Run>
BoundedRun RunWithin(double seconds, Run run) {
    BoundedRun outcome;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return outcome;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const RunResult result = run();
        std::string text = std::string(result.stopped() ? "stopped" : "ended") + "\nverified " +
                           std::to_string(result.copiesVerified) + "\n";
        for (const Failure& f : result.failures) text += f.path + "\t" + f.reason + "\n";
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(pipeFds[1], text.data() + done, text.size() - done);
            if (n <= 0) ::_exit(1);
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) {
            outcome.ended = n == 0;
            break;
        }
        outcome.text.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    if (child > 0) {
        if (!outcome.ended) ::kill(child, SIGKILL);
        // A child stuck in the kernel may not die at once: waited for a bounded time only.
        int status = 0;
        pid_t waited = 0;
        for (int i = 0; i < 1000 && waited == 0; ++i) {
            waited = ::waitpid(child, &status, WNOHANG);
            if (waited == 0) ::usleep(10000);
        }
        outcome.ended =
            outcome.ended && waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!outcome.ended) outcome.text.clear();
    return outcome;
}

// A big copy (3 MiB) on a device that takes every write and fails every read: its check
// ends within seconds with the system's reason, named by the copy's path; a stop while it is
// read back ends the run as promptly. (Reading it through a mapping made the kernel retry
// the failing page for ever, deaf to the stop.)
TEST(Verify, ABigCopyThatCannotBeReadBackFailsPromptlyAndAStopEndsIt) {
    MOUNT_OR_SKIP(device, FaultFs);
    TempTree src;
    const std::string content = Bytes(3 << 20, 9);
    src.write("big.bin", content);
    for (bool stopping : {false, true}) {
        SCOPED_TRACE(stopping ? "stopped during the check" : "not stopped");
        const std::string dest = stopping ? "stopped" : "d";
        fs::create_directories(device->backing() + "/" + dest);
        device->arm("clear\nfail read EIO name=big.bin count=0");
        const auto started = std::chrono::steady_clock::now();
        const BoundedRun run = RunWithin(30, [&] {
            std::atomic<bool> stop{false};
            RunOptions options;
            options.verify = true;
            if (stopping) {
                options.stop = &stop;
                options.showTransfer = [&](const TransferFigures& figures) {
                    if (figures.devices.at(0).state == DeviceFigures::State::Verifying)
                        stop = true;
                };
            }
            return test::RunCopy(List({src.path("big.bin")}), List({device->path(dest)}),
                           SameFilePolicy::Overwrite, {}, {}, false, options);
        });
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        device->arm("clear");
        ASSERT_TRUE(run.ended) << "the check did not end within 30 s";
        EXPECT_LT(seconds, 15);
        const std::string failed = device->path(dest) + "/big.bin\t" + ErrorText(EIO) + "\n";
        if (stopping) {
            // Stopped before the read, or the read failed first: never a hang, never a claim.
            EXPECT_TRUE(run.text == "stopped\nverified 0\n" ||
                        run.text == "stopped\nverified 0\n" + failed ||
                        run.text == "ended\nverified 0\n" + failed)
                << run.text;
        } else {
            EXPECT_EQ(run.text, "ended\nverified 0\n" + failed);
        }
        // The copy itself was made and stays: it replaced nothing and is not known wrong.
        EXPECT_TRUE(ReadFile(device->backing() + "/" + dest + "/big.bin") == content);
    }
}

// The blocks a file holds, in bytes.
std::uint64_t Allocated(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

// A sparse file of 300 MiB holding 3 MiB of data on a tmpfs of 64 MiB, copied with the check
// into the same tmpfs: hashing the source and reading the copy back leave both as they were
// (a read of a hole through a mapping gives tmpfs a page, so hashing filled them until the
// tmpfs was full), and the copy is right and verified.
TEST(Verify, HashingLeavesTheHolesOfSparseFilesAlone) {
    MOUNT_OR_SKIP(tmpfs, test::SmallTmpfs, 64u << 20);
    const std::string source = tmpfs->path("src/sparse.bin");
    fs::create_directories(tmpfs->path("src"));
    fs::create_directories(tmpfs->path("dst"));
    {
        std::fstream out(source, std::ios::binary | std::ios::out | std::ios::trunc);
        const std::string data = Bytes(1 << 20, 4);
        for (int i = 0; i < 3; ++i) {
            out.seekp(static_cast<std::streamoff>(i) * (100 << 20) + (7 << 20));
            out.write(data.data(), static_cast<std::streamsize>(data.size()));
        }
        out.seekp((300 << 20) - 1);
        out.put('\0');
    }
    ASSERT_EQ(fs::file_size(source), 300u << 20);
    const std::uint64_t sourceBlocks = Allocated(source);
    ASSERT_LT(sourceBlocks, 8u << 20);
    RunOptions options;
    options.verify = true;
    options.listHashes = true;
    const RunResult result = test::RunCopy(List({source}), List({tmpfs->path("dst")}),
                                     SameFilePolicy::Overwrite, {}, {}, false, options);
    EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
    EXPECT_EQ(result.copiesVerified, 1u);
    EXPECT_EQ(Allocated(source), sourceBlocks);
    EXPECT_LE(Allocated(tmpfs->path("dst/sparse.bin")), sourceBlocks + (1u << 20));
    // The hash is the content's, holes as zeros, and the copy holds that content.
    const auto hashOf = [](const std::string& path) {
        ContentHasher hasher;
        std::ifstream in(path, std::ios::binary);
        std::vector<char> piece(1 << 20);
        while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount())
            hasher.update(piece.data(), static_cast<size_t>(in.gcount()));
        return hasher.digest();
    };
    const ContentHash expected = hashOf(source);
    ASSERT_EQ(result.hashes.size(), 1u);
    EXPECT_TRUE(result.hashes[0].hash == expected);
    EXPECT_TRUE(hashOf(tmpfs->path("dst/sparse.bin")) == expected);
}

// A stop while the copies are read back ends the check: what was not read is neither a
// failure nor counted as verified.
TEST(Verify, StopDuringTheCheckEndsItWithoutClaims) {
    MOUNT_OR_SKIP(device, FaultFs);
    TempTree src;
    const auto files = MakeSet(src);
    fs::create_directories(device->backing() + "/d");
    std::atomic<bool> stop{false};
    RunOptions options;
    options.verify = true;
    options.stop = &stop;
    options.showTransfer = [&](const TransferFigures& figures) {
        if (figures.devices.at(0).state == DeviceFigures::State::Verifying) {
            // Every further operation is slow, so the check cannot end before it sees the stop.
            device->arm("delay 20000");
            stop = true;
        }
    };
    const RunResult result = test::RunCopy(List({src.path("set")}), List({device->path("d")}),
                                     SameFilePolicy::Overwrite, {}, {}, false, options);
    EXPECT_TRUE(result.stopped());
    EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
    EXPECT_LT(result.copiesVerified, files.size());
    // The copies themselves were all made and stay.
    for (const auto& [name, content] : files)
        EXPECT_TRUE(ReadFile(device->backing() + "/d/set/" + name) == content) << name;
}

// Where a file system makes inode numbers up as it loads a file (exFAT, FAT, FUSE without
// use_ino), a copy's number changes between the copy and the check. Right copies are still
// verified; a wrong copy made under a free name is still removed; a file that another
// process put under a copy's name meanwhile is still left alone.
TEST(Verify, CopiesAreRecognisedWhereInodeNumbersChange) {
    TempTree src;
    const auto files = MakeSet(src);
    for (int writers : {1, 0}) {
        SCOPED_TRACE(writers == 1 ? "one writer" : "writers");
        MOUNT_OR_SKIP(device, FaultFs);
        fs::create_directories(device->backing() + "/d");
        device->arm("renumber\ncorrupt name=f5.bin");
        const std::string copies = device->path("d/set/");
        const std::string stored = device->backing() + "/d/set/";
        bool changed = false;
        struct stat first = {};
        struct stat second = {};
        RunOptions options;
        options.maxWriters = writers;
        options.verify = true;
        options.showTransfer = [&](const TransferFigures& figures) {
            if (changed || figures.devices.at(0).state != DeviceFigures::State::Verifying) return;
            changed = true;
            ::stat((copies + "f0.bin").c_str(), &first);
            ::stat((copies + "f0.bin").c_str(), &second);
            // Another process's file under a copy's name, written now.
            fs::remove(stored + "f7.bin");
            WriteFile(stored + "f7.bin", "the user's own");
        };
        const RunResult result = test::RunCopy(List({src.path("set")}), List({device->path("d")}),
                                         SameFilePolicy::Overwrite, {}, {}, false, options);
        ASSERT_TRUE(changed);
        EXPECT_NE(first.st_ino, second.st_ino) << "the file system kept its numbers";
        ASSERT_EQ(result.failures.size(), 2u) << Describe(result.failures);
        EXPECT_EQ(result.failures[0].path, copies + "f5.bin");
        EXPECT_EQ(result.failures[0].reason, run_reason::kVerifyFailed);
        EXPECT_EQ(result.failures[1].path, copies + "f7.bin");
        EXPECT_EQ(result.failures[1].reason, ErrorText(error::kChangedMeanwhile));
        EXPECT_EQ(result.copiesVerified, files.size() - 2);
        EXPECT_FALSE(Exists(stored + "f5.bin"));
        EXPECT_EQ(ReadFile(stored + "f7.bin"), "the user's own");
        for (const auto& [name, content] : files) {
            if (name != "f5.bin" && name != "f7.bin") {
                EXPECT_TRUE(ReadFile(stored + name) == content) << name;
            }
        }
    }
}

// The same on a real exFAT file system through exfat-fuse, whose files get new numbers once
// the kernel dropped them from its cache (as it does under memory pressure in a long run):
// here dropped on purpose before the check, which needs root.
TEST(Verify, CopiesOnExfatAreRecognisedAfterTheKernelForgotThem) {
    MOUNT_OR_SKIP(volume, test::ExfatVolume, 16);
    if (::access("/proc/sys/vm/drop_caches", W_OK) != 0)
        GTEST_SKIP() << "cannot drop the kernel's caches";
    TempTree src;
    const auto files = MakeSet(src);
    const std::string copies = volume->path("d/set/");
    bool dropped = false;
    struct stat before = {};
    struct stat after = {};
    RunOptions options;
    options.verify = true;
    options.showTransfer = [&](const TransferFigures& figures) {
        if (dropped || figures.devices.at(0).state != DeviceFigures::State::Verifying) return;
        dropped = true;
        ::stat((copies + "f0.bin").c_str(), &before);
        std::ofstream("/proc/sys/vm/drop_caches") << "2\n";
        ::stat((copies + "f0.bin").c_str(), &after);
    };
    fs::create_directories(volume->path("d"));
    const RunResult result = test::RunCopy(List({src.path("set")}), List({volume->path("d")}),
                                     SameFilePolicy::Overwrite, {}, {}, false, options);
    ASSERT_TRUE(dropped);
    if (before.st_ino == after.st_ino) GTEST_SKIP() << "the kernel kept the files";
    EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
    EXPECT_EQ(result.copiesVerified, files.size());
}

// A wrong copy that took the place of a symbolic link on a device where copies are renamed
// into place: the link is made again; where the device refuses links, the copy is removed
// all the same and the reason says that the link is gone.
TEST(Verify, AWrongCopyThatReplacedALinkLeavesNoWrongFile) {
    TempTree src;
    src.write("set/x.txt", "the source's bytes");
    for (bool linksRefused : {false, true}) {
        SCOPED_TRACE(linksRefused ? "links refused" : "links made");
        MOUNT_OR_SKIP(device, FaultFs);
        fs::create_directories(device->backing() + "/d/set");
        WriteFile(device->backing() + "/d/elsewhere.txt", "the user's file");
        fs::create_symlink("../elsewhere.txt", device->backing() + "/d/set/x.txt");
        device->arm(std::string("corrupt name=x.txt") +
                    (linksRefused ? "\nfail symlink EPERM count=0" : ""));
        RunOptions options;
        options.verify = true;
        const RunResult result = test::RunCopy(List({src.path("set")}), List({device->path("d")}),
                                         SameFilePolicy::Overwrite, {}, {}, false, options);
        ASSERT_EQ(result.failures.size(), 1u) << Describe(result.failures);
        EXPECT_EQ(result.failures[0].path, device->path("d/set/x.txt"));
        EXPECT_EQ(result.failures[0].reason, linksRefused ? run_reason::kVerifyFailedLinkGone
                                                          : run_reason::kVerifyFailedLinkBack);
        const std::string there = device->backing() + "/d/set/x.txt";
        if (linksRefused) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(there))) << "a wrong copy stayed";
        } else {
            ASSERT_TRUE(fs::is_symlink(there));
            EXPECT_EQ(fs::read_symlink(there).string(), "../elsewhere.txt");
        }
        EXPECT_EQ(ReadFile(device->backing() + "/d/elsewhere.txt"), "the user's file");
        // Nothing of the run's is left beside it.
        EXPECT_EQ(std::distance(fs::directory_iterator(device->backing() + "/d/set"),
                                fs::directory_iterator()),
                  linksRefused ? 0 : 1);
    }
}

// A destination inside another, named through a bind mount of it: the copies that a later
// copy of the run replaced are known by where they lie, not by how the run named them.
TEST(Verify, ANestedDestinationThroughABindMountIsNoFalseAlarm) {
    TempTree t;
    t.write("a/x.txt", "first");
    t.write("b/x.txt", "second");
    t.write("sub/x.txt", "in a folder");
    t.mkdir("d/sub");
    t.mkdir("inner");
    if (::mount(t.path("d/sub").c_str(), t.path("inner").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind mount: " << std::strerror(errno);
    struct Unmount {
        std::string point;
        ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
    } unmount{t.path("inner")};
    for (int writers : {1, 0}) {
        RunOptions options;
        options.verify = true;
        options.maxWriters = writers;
        const RunResult result =
            test::RunCopy(List({t.path("sub"), t.path("a/x.txt"), t.path("b/x.txt")}),
                    List({t.path("d"), t.path("inner")}), SameFilePolicy::Overwrite, {}, {}, false,
                    options);
        EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
        EXPECT_EQ(ReadFile(t.path("d/sub/x.txt")), "second");
        EXPECT_EQ(result.copiesVerified, 3u);
    }
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
    ostrivane::test::EnterPrivateMountNamespace();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
