// The one-file copy as crashes, full disks and busy sources see it: a copy is under its
// final name only when complete, in every way the file systems offer to put it there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/file_system_stand_ins.h"
#include "core/fsops.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using test::kAllPlacingWays;
using test::PlacingWay;
using test::ReadFile;
using test::TempTree;

// Names in a folder, sorted.
std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Collects what a check found wrong, for a report from a child process.
class Problems {
  public:
    template <typename T>
    Problems& operator<<(const T& value) {
        text_ << value;
        return *this;
    }
    void expect(bool condition, const std::string& what) {
        if (!condition) text_ << what << "\n";
    }
    void expectEqual(long long actual, long long expected, const std::string& what) {
        if (actual != expected)
            text_ << what << ": " << actual << ", expected " << expected << "\n";
    }
    // No entry but `expected` in `folder`: nothing partial, no temporary.
    void expectOnly(const std::string& folder, std::vector<std::string> expected,
                    const std::string& what) {
        std::sort(expected.begin(), expected.end());
        std::vector<std::string> actual = NamesIn(folder);
        if (actual == expected) return;
        text_ << what << ": the folder holds";
        for (const std::string& name : actual) text_ << " [" << name << "]";
        text_ << "\n";
    }
    std::string text() const { return text_.str(); }

  private:
    std::ostringstream text_;
};

// Runs `check` in a child process with only `way` on offer and returns what it found wrong
// (empty when nothing), so that the child's memory of what the file systems cannot do stays
// in the child.
std::string ProblemsInChild(PlacingWay way, const std::function<void(Problems&)>& check) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "no pipe";
    pid_t child = fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        close(pipeEnds[0]);
        alarm(20);
        test::OfferOnly(way);
        Problems problems;
        check(problems);
        std::string text = problems.text();
        if (!text.empty()) text = std::string("[") + test::NameOf(way) + "] " + text;
        ssize_t ignored = write(pipeEnds[1], text.data(), text.size());
        (void)ignored;
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        text += std::string("[") + test::NameOf(way) + "] the child did not finish\n";
    return text;
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

std::string Pattern(size_t size, int seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31 + seed + i / 1000);
    return bytes;
}

TEST(CopyFile, FailIfExistsNeverTouchesWhatIsThere) {
    for (PlacingWay way : kAllPlacingWays) {
        TempTree t;
        const std::string src = t.write("src", Pattern(300 * 1024, 1));
        t.write("out/file", "old");
        t.write("elsewhere/kept", "linked");
        symlink(t.path("elsewhere/kept").c_str(), t.path("out/link-to-file").c_str());
        symlink(t.path("elsewhere/nothing").c_str(), t.path("out/dangling").c_str());
        t.mkdir("out/folder");
        EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                      Folder out;
                      p.expectEqual(OpenFolder(t.path("out"), out), 0, "open out");
                      for (const char* name : {"file", "link-to-file", "dangling", "folder"}) {
                          p.expectEqual(CopyOneFile(src, t.path("out/") + name, true), EEXIST,
                                        std::string("CopyOneFile onto ") + name);
                          p.expectEqual(CopyFileAt(nullptr, src, out, name, true), EEXIST,
                                        std::string("CopyFileAt onto ") + name);
                      }
                      // A file that takes the name while the data is copied is kept too.
                      test::duringNextCopy = [&] { t.write("out/appeared", "appeared"); };
                      p.expectEqual(CopyFileAt(nullptr, src, out, "appeared", true), EEXIST,
                                    "copy onto a file that appeared meanwhile");
                      p.expect(ReadFile(t.path("out/appeared")) == "appeared",
                               "the file that appeared was changed");
                  }),
                  "");
        EXPECT_EQ(ReadFile(t.path("out/file")), "old");
        EXPECT_EQ(ReadFile(t.path("elsewhere/kept")), "linked");
        EXPECT_TRUE(fs::is_symlink(t.path("out/link-to-file")));
        EXPECT_TRUE(fs::is_symlink(t.path("out/dangling")));
        EXPECT_FALSE(test::Exists(t.path("elsewhere/nothing")));
        EXPECT_TRUE(fs::is_empty(t.path("out/folder")));
        EXPECT_EQ(NamesIn(t.path("out")),
                  (std::vector<std::string>{"appeared", "dangling", "file", "folder",
                                            "link-to-file"}))
            << test::NameOf(way);
    }
}

TEST(CopyFile, EveryWayMakesCompleteCopiesAndKeepsTheRefusals) {
    for (PlacingWay way : kAllPlacingWays) {
        TempTree t;
        const std::string content = Pattern(1024 * 1024 + 3, 2);
        const std::string src = t.write("src", content);
        chmod(src.c_str(), 0640);
        struct timespec times[2] = {{1000000, 0}, {1234567890, 5000}};
        utimensat(AT_FDCWD, src.c_str(), times, 0);
        t.write("out/old", "old");
        t.write("out/locked", "locked");
        chmod(t.path("out/locked").c_str(), 0444);
        t.mkdir("out/folder");
        symlink(t.path("out/folder").c_str(), t.path("out/link-to-folder").c_str());
        symlink(t.path("nowhere").c_str(), t.path("out/dangling").c_str());
        EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                      Folder out;
                      p.expectEqual(OpenFolder(t.path("out"), out), 0, "open out");
                      p.expectEqual(CopyOneFile(src, t.path("out/new-by-path"), true), 0,
                                    "new copy by path");
                      p.expectEqual(CopyFileAt(nullptr, src, out, "new-at", false), 0,
                                    "new copy in an open folder");
                      p.expectEqual(CopyOneFile(src, t.path("out/old"), false), 0, "replace");
                      p.expectEqual(CopyFileAt(nullptr, src, out, "dangling", false), 0,
                                    "replace a dangling link");
                      p.expectEqual(CopyOneFile(src, t.path("out/folder"), false), EISDIR,
                                    "replace a folder");
                      p.expectEqual(CopyFileAt(nullptr, src, out, "link-to-folder", false),
                                    EISDIR, "replace a link to a folder");
                      p.expectEqual(CopyOneFile(t.path("out/old"), t.path("out/old"), false), 0,
                                    "copy onto itself");
                      if (test::PermissionsApply())
                          p.expectEqual(CopyOneFile(src, t.path("out/locked"), false), EACCES,
                                        "replace a write-protected file");
                  }),
                  "");
        for (const char* name : {"new-by-path", "new-at", "old", "dangling"}) {
            const std::string path = t.path(std::string("out/") + name);
            EXPECT_EQ(ReadFile(path), content) << name << ", " << test::NameOf(way);
            struct stat st = StatOf(path);
            EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
            EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
            EXPECT_EQ(st.st_mtim.tv_sec, 1234567890) << name;
            EXPECT_EQ(st.st_mtim.tv_nsec, 5000) << name;
        }
        if (test::PermissionsApply()) {
            EXPECT_EQ(ReadFile(t.path("out/locked")), "locked");
        }
        EXPECT_TRUE(fs::is_symlink(t.path("out/link-to-folder")));
        EXPECT_TRUE(fs::is_empty(t.path("out/folder")));
        EXPECT_EQ(NamesIn(t.path("out")),
                  (std::vector<std::string>{"dangling", "folder", "link-to-folder", "locked",
                                            "new-at", "new-by-path", "old"}))
            << test::NameOf(way);
    }
}

// A write that fails half-way (the file size limit) leaves neither a partial file under the
// final name nor a temporary, and a file being replaced keeps its content.
TEST(CopyFile, FailedWriteLeavesNothingBehind) {
    for (PlacingWay way : kAllPlacingWays) {
        TempTree t;
        const std::string src = t.write("src", Pattern(256 * 1024, 3));
        t.write("out/old", "the good old content");
        EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                      signal(SIGXFSZ, SIG_IGN);
                      struct rlimit limit = {64 * 1024, 64 * 1024};
                      setrlimit(RLIMIT_FSIZE, &limit);
                      Folder out;
                      p.expectEqual(OpenFolder(t.path("out"), out), 0, "open out");
                      p.expectEqual(CopyOneFile(src, t.path("out/fresh"), true), EFBIG, "fresh");
                      p.expectEqual(CopyFileAt(nullptr, src, out, "fresh2", false), EFBIG,
                                    "fresh, replacing allowed");
                      p.expectEqual(CopyFileAt(nullptr, src, out, "old", false), EFBIG,
                                    "replace");
                  }),
                  "");
        EXPECT_EQ(ReadFile(t.path("out/old")), "the good old content");
        EXPECT_EQ(NamesIn(t.path("out")), std::vector<std::string>{"old"}) << test::NameOf(way);
    }
}

// A file system of its own, removed with the object.
class Mount {
  public:
    Mount(const std::string& where, const std::string& options) : where_(where) {
        ok_ = mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!ok_) error_ = std::strerror(errno);
    }
    ~Mount() {
        if (ok_) umount2(where_.c_str(), MNT_DETACH);
    }
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

  private:
    std::string where_;
    bool ok_ = false;
    std::string error_;
};

TEST(CopyFile, FullFileSystemLeavesNothingBehind) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    for (PlacingWay way : kAllPlacingWays) {
        TempTree t;
        const std::string big = t.write("big", Pattern(2 * 1024 * 1024, 4));
        const std::string small = t.write("small", "small");
        const std::string full = t.mkdir("full");
        Mount space(full, "size=1m,mode=0777");
        if (!space.ok()) GTEST_SKIP() << "cannot mount a tmpfs: " << space.error();
        const std::string noInodes = t.mkdir("no-inodes");
        Mount inodes(noInodes, "nr_inodes=4,mode=0777");
        if (!inodes.ok()) GTEST_SKIP() << "cannot mount a tmpfs: " << inodes.error();
        std::ofstream(full + "/old") << "the good old content";
        // Use up the inode table.
        std::vector<std::string> filler;
        for (int i = 0; i < 16; ++i) {
            const std::string name = "filler" + std::to_string(i);
            int fd = open((noInodes + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0) break;
            close(fd);
            filler.push_back(name);
        }
        ASSERT_LT(filler.size(), 16u) << "the inode table did not fill";
        EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                      p.expectEqual(CopyOneFile(big, full + "/fresh", true), ENOSPC,
                                    "fresh copy on a full disk");
                      p.expectEqual(CopyOneFile(big, full + "/old", false), ENOSPC,
                                    "replace on a full disk");
                      p.expectEqual(CopyOneFile(small, noInodes + "/fresh", false), ENOSPC,
                                    "copy without a free inode");
                  }),
                  "");
        EXPECT_EQ(ReadFile(full + "/old"), "the good old content");
        EXPECT_EQ(NamesIn(full), std::vector<std::string>{"old"}) << test::NameOf(way);
        EXPECT_EQ(NamesIn(noInodes).size(), filler.size()) << test::NameOf(way);
    }
}

// True when the file is `size` bytes: `head`, zeros, then `tail`.
bool HoldsHeadZerosTail(const std::string& path, const std::string& head, const std::string& tail,
                        off_t size) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    std::string expected(1024 * 1024, '\0'), buffer(1024 * 1024, '\0');
    bool same = true;
    for (off_t offset = 0; same && offset < size;) {
        const size_t want = static_cast<size_t>(std::min<off_t>(size - offset, buffer.size()));
        std::fill(expected.begin(), expected.end(), '\0');
        if (offset == 0) expected.replace(0, head.size(), head);
        if (offset + off_t(want) == size) expected.replace(want - tail.size(), tail.size(), tail);
        same = pread(fd, buffer.data(), want, offset) == ssize_t(want) &&
               buffer.compare(0, want, expected, 0, want) == 0;
        offset += off_t(want);
    }
    char extra;
    same = same && pread(fd, &extra, 1, size) == 0;
    close(fd);
    return same;
}

TEST(CopyFile, HolesStayHoles) {
    constexpr off_t kSize = 64 * 1024 * 1024;
    const std::string head = Pattern(4096, 5), tail = Pattern(4096, 6);
    TempTree t;
    const std::string src = t.path("sparse");
    {
        int fd = open(src.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), 4096);
        ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), kSize - 4096), 4096);
        close(fd);
    }
    if (StatOf(src).st_blocks * 512 >= 1024 * 1024)
        GTEST_SKIP() << "the file system under " << t.root() << " keeps no holes";
    t.write("out/old", "old");
    for (PlacingWay way : kAllPlacingWays) {
        const std::string fresh = t.path(std::string("out/fresh-") + std::to_string(int(way)));
        EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                      p.expectEqual(CopyOneFile(src, fresh, true), 0, "fresh copy");
                      if (way == PlacingWay::UnnamedFile)
                          p.expectEqual(CopyOneFile(src, t.path("out/old"), false), 0, "replace");
                  }),
                  "");
        std::vector<std::string> copies = {fresh};
        if (way == PlacingWay::UnnamedFile) {
            copies.push_back(t.path("out/old"));
        }
        for (const std::string& copy : copies) {
            struct stat st = StatOf(copy);
            EXPECT_EQ(st.st_size, kSize) << copy;
            EXPECT_LT(st.st_blocks * 512, 1024 * 1024) << copy << ": the holes were written";
            EXPECT_TRUE(HoldsHeadZerosTail(copy, head, tail, kSize)) << copy;
        }
    }
}

TEST(CopyFile, ReplacedFileKeepsItsOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    for (PlacingWay way : kAllPlacingWays) {
        TempTree t;
        const std::string src = t.write("src", "new content");
        const std::string users = t.write("out/users-file", "the user's old content");
        ASSERT_EQ(chown(users.c_str(), 65534, 65534), 0);
        EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                      p.expectEqual(CopyOneFile(src, users, false), 0, "replace");
                      p.expectEqual(CopyOneFile(src, t.path("out/fresh"), false), 0, "fresh");
                  }),
                  "");
        EXPECT_EQ(ReadFile(users), "new content");
        EXPECT_EQ(StatOf(users).st_uid, 65534u) << test::NameOf(way);
        EXPECT_EQ(StatOf(users).st_gid, 65534u) << test::NameOf(way);
        // A new copy belongs to whoever made it.
        EXPECT_EQ(StatOf(t.path("out/fresh")).st_uid, 0u);
    }
}

// Root replacing a user's file keeps its owner (and group) only where that gives the user
// nothing the source's owner and mode did not: the owner owns the source too, or everybody
// may read it. A copy of a file only root may read (a link planted in a source to
// /etc/shadow, say) stays root's.
TEST(CopyFile, ReplacedFileKeepsItsOwnerOnlyWhereThatGivesNothingAway) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    struct Case {
        uid_t sourceOwner;
        gid_t sourceGroup;
        mode_t sourceMode;
        uid_t copyOwner;
        gid_t copyGroup;
    };
    const Case cases[] = {
        {0, 0, 0640, 0, 0},                // root's secret: the copy stays root's
        {65534, 0, 0600, 65534, 0},        // the user's own source: the owner stays
        {0, 65534, 0640, 0, 65534},        // the user's group reads it already
        {0, 0, 0604, 65534, 65534},        // everybody may read it
    };
    for (PlacingWay way : kAllPlacingWays) {
        for (const Case& c : cases) {
            TempTree t;
            const std::string src = t.write("src", "the source");
            ASSERT_EQ(chown(src.c_str(), c.sourceOwner, c.sourceGroup), 0);
            ASSERT_EQ(chmod(src.c_str(), c.sourceMode), 0);
            const std::string users = t.write("out/users-file", "the user's old content");
            ASSERT_EQ(chown(users.c_str(), 65534, 65534), 0);
            EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                          p.expectEqual(CopyOneFile(src, users, false), 0, "replace");
                      }),
                      "");
            const std::string trace = std::string(test::NameOf(way)) + ", source mode " +
                                      std::to_string(c.sourceMode) + " of " +
                                      std::to_string(c.sourceOwner);
            EXPECT_EQ(ReadFile(users), "the source") << trace;
            EXPECT_EQ(StatOf(users).st_uid, c.copyOwner) << trace;
            EXPECT_EQ(StatOf(users).st_gid, c.copyGroup) << trace;
            EXPECT_EQ(StatOf(users).st_mode & 07777, c.sourceMode) << trace;
        }
    }
}

TEST(CopyFile, SourceWrittenDuringTheCopyIsNotPutInPlace) {
    EXPECT_EQ(ErrorText(error::kSourceChanged), "源文件在复制过程中被改动");
    EXPECT_GT(error::kSourceChanged, 4095);  // no errno value
    struct Change {
        const char* what;
        std::function<void(const std::string&)> apply;
    };
    const Change changes[] = {
        {"appended", [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; }},
        {"shortened", [](const std::string& path) { truncate(path.c_str(), 1000); }},
        {"rewritten in place",
         [](const std::string& path) {
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(10);
             file << "XYZ";
         }},
    };
    for (PlacingWay way : kAllPlacingWays) {
        for (const Change& change : changes) {
            TempTree t;
            const std::string src = t.write("src", Pattern(512 * 1024, 7));
            // Old times, so that a write now changes them whatever the clock's tick.
            struct timespec times[2] = {{1000000, 0}, {1000000, 0}};
            utimensat(AT_FDCWD, src.c_str(), times, 0);
            t.write("out/old", "the good old content");
            EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                          for (const char* name : {"fresh", "old"}) {
                              bool changed = false;
                              test::duringNextCopy = [&] {
                                  change.apply(src);
                                  changed = true;
                              };
                              int result = CopyOneFile(src, t.path("out/") + name, false);
                              test::duringNextCopy = nullptr;
                              if (!changed) {
                                  p << "the copy of " << name << " used no copy_file_range\n";
                                  continue;
                              }
                              p.expectEqual(result, error::kSourceChanged,
                                            std::string(change.what) + ", copy to " + name);
                          }
                      }),
                      "");
            EXPECT_EQ(ReadFile(t.path("out/old")), "the good old content") << change.what;
            EXPECT_EQ(NamesIn(t.path("out")), std::vector<std::string>{"old"})
                << change.what << ", " << test::NameOf(way);
        }
    }
}

// A failed copy tells which side it came from: the source (gone, no regular file, not to be
// read) or the target (a folder in the way, a file kept, a folder that takes no new file),
// also where both give the same error number. Where the kernel's copy fails without saying
// which file failed, a source that reads well leaves the failure to the target; a full
// device is the target's in any case.
TEST(CopyFile, AFailureTellsWhichSideItCameFrom) {
    for (PlacingWay way : kAllPlacingWays) {
        TempTree t;
        const std::string content = Pattern(300 * 1024, 9);
        const std::string src = t.write("src", content);
        const std::string locked = t.write("locked", "locked");
        chmod(locked.c_str(), 0);
        ASSERT_EQ(mkfifo(t.path("fifo").c_str(), 0600), 0);
        t.mkdir("out/folder");
        t.write("out/file", "old");
        t.mkdir("closed");
        chmod(t.path("closed").c_str(), 0555);
        EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                      Folder out, closed;
                      p.expectEqual(OpenFolder(t.path("out"), out), 0, "open out");
                      p.expectEqual(OpenFolder(t.path("closed"), closed), 0, "open closed");
                      struct Case {
                          const char* what;
                          std::string source;
                          const Folder& folder;
                          const char* target;
                          bool failIfExists;
                          int error;
                          CopySide side;
                      };
                      std::vector<Case> cases = {
                          {"a copy that works", src, out, "new", false, 0, CopySide::None},
                          {"a missing source", t.path("missing"), out, "m", false, ENOENT,
                           CopySide::Source},
                          {"a FIFO", t.path("fifo"), out, "f", false, ENOTSUP, CopySide::Source},
                          {"a source that is a folder", t.path("out"), out, "d", false, EISDIR,
                           CopySide::Source},
                          {"a folder in the way", src, out, "folder", false, EISDIR,
                           CopySide::Target},
                          {"an existing file kept", src, out, "file", true, EEXIST,
                           CopySide::Target},
                      };
                      if (test::PermissionsApply()) {
                          cases.push_back({"a source that may not be read", locked, out, "l",
                                           false, EACCES, CopySide::Source});
                          cases.push_back({"a folder that takes no new file", src, closed, "c",
                                           false, EACCES, CopySide::Target});
                      }
                      for (const Case& c : cases) {
                          CopySide side = CopySide::Target;
                          p.expectEqual(CopyFileAt(nullptr, c.source, c.folder, c.target,
                                                   c.failIfExists, 0, nullptr, nullptr, &side),
                                        c.error, std::string(c.what) + ": error");
                          p.expectEqual(static_cast<int>(side), static_cast<int>(c.side),
                                        std::string(c.what) + ": side");
                      }
                      for (int error : {EIO, ENOSPC}) {
                          test::failKernelCopy = error;
                          CopySide side = CopySide::None;
                          const int result = CopyFileAt(nullptr, src, out, "k", false, 0,
                                                        nullptr, nullptr, &side);
                          test::failKernelCopy = 0;
                          const std::string what =
                              std::string("the kernel's copy failing with ") + strerror(error);
                          p.expectEqual(result, error, what + ": error");
                          p.expectEqual(static_cast<int>(side), static_cast<int>(CopySide::Target),
                                        what + ": side");
                      }
                  }),
                  "");
        chmod(t.path("closed").c_str(), 0755);
        EXPECT_EQ(ReadFile(t.path("out/new")), content) << test::NameOf(way);
        EXPECT_EQ(ReadFile(t.path("out/file")), "old");
        EXPECT_EQ(NamesIn(t.path("out")), (std::vector<std::string>{"file", "folder", "new"}))
            << test::NameOf(way);
        EXPECT_TRUE(NamesIn(t.path("closed")).empty());
    }
}

// Files of /proc report a size of 0 and those of /sys one of a page, whatever they hold: they
// are copied as read, not taken for sources that changed.
TEST(CopyFile, KernelFilesAreCopiedAsRead) {
    TempTree t;
    ASSERT_EQ(CopyOneFile("/proc/self/mounts", t.path("mounts"), true), 0);
    EXPECT_NE(ReadFile(t.path("mounts")).find(" / "), std::string::npos);
    const std::string sysFile = "/sys/kernel/mm/transparent_hugepage/enabled";
    const std::string expected = ReadFile(sysFile);
    if (expected == "<missing>" || StatOf(sysFile).st_size == off_t(expected.size()))
        GTEST_SKIP() << sysFile << " is missing or reports its true length";
    ASSERT_EQ(CopyOneFile(sysFile, t.path("sys"), true), 0);
    const std::string copied = ReadFile(t.path("sys"));
    ASSERT_EQ(copied.size(), expected.size());
    EXPECT_EQ(copied, expected);
}

// Where a file system has no unnamed files, the copies into it do not each ask again.
TEST(CopyFile, MissingUnnamedFilesAreProbedOncePerDevice) {
    TempTree t;
    const std::string src = t.write("src", "data");
    t.mkdir("a");
    t.mkdir("b");
    // On ext4 a copy into an open folder asks for no unnamed file at all (named temporaries
    // are chosen there by the file system's kind).
    struct statfs where {};
    ASSERT_EQ(statfs(t.path("a").c_str(), &where), 0);
    const int inOpenFolder = where.f_type == 0xEF53 ? 0 : 1;
    EXPECT_EQ(ProblemsInChild(PlacingWay::RenameNoReplace, [&](Problems& p) {
                  test::unnamedFileRequests = 0;
                  Folder a;
                  p.expectEqual(OpenFolder(t.path("a"), a), 0, "open a");
                  for (int i = 0; i < 3; ++i)
                      p.expectEqual(CopyFileAt(nullptr, src, a, "f" + std::to_string(i), true), 0,
                                    "copy into an open folder");
                  p.expectEqual(test::unnamedFileRequests, inOpenFolder,
                                "unnamed files asked for in a");
                  // By path the device is not known beforehand: one probe per folder.
                  for (int i = 0; i < 3; ++i)
                      p.expectEqual(CopyOneFile(src, t.path("b/f") + std::to_string(i), true), 0,
                                    "copy by path");
                  p.expectEqual(test::unnamedFileRequests, inOpenFolder + 1,
                                "unnamed files asked for in all");
              }),
              "");
    EXPECT_EQ(NamesIn(t.path("a")), (std::vector<std::string>{"f0", "f1", "f2"}));
    EXPECT_EQ(NamesIn(t.path("b")), (std::vector<std::string>{"f0", "f1", "f2"}));
}

// On ext4 a copy into an open folder is made under a named temporary, without asking for
// an unnamed file (which costs the file system's orphan list there); elsewhere it is made
// as an unnamed file. Runs on ext4 through tests/support/on_loop_file_system.
TEST(CopyFile, OnExt4CopiesAreMadeUnderNamedTemporariesElsewhereAsUnnamedFiles) {
    TempTree t;
    const std::string src = t.write("src", "data");
    t.mkdir("a");
    struct statfs where {};
    ASSERT_EQ(statfs(t.path("a").c_str(), &where), 0);
    const bool ext4 = where.f_type == 0xEF53;
    std::cout << "[ file sys ] type 0x" << std::hex << static_cast<unsigned long>(where.f_type)
              << std::dec << (ext4 ? " (ext4)" : "") << "\n";
    EXPECT_EQ(ProblemsInChild(PlacingWay::UnnamedFile, [&](Problems& p) {
                  test::unnamedFileRequests = 0;
                  Folder a;
                  p.expectEqual(OpenFolder(t.path("a"), a), 0, "open a");
                  for (int i = 0; i < 3; ++i)
                      p.expectEqual(CopyFileAt(nullptr, src, a, "f" + std::to_string(i), true), 0,
                                    "copy into an open folder");
                  p.expectEqual(CopyFileAt(nullptr, src, a, "f0", true), EEXIST,
                                "a taken name is kept");
                  p.expectEqual(test::unnamedFileRequests, ext4 ? 0 : 3,
                                "unnamed files asked for");
              }),
              "");
    EXPECT_EQ(NamesIn(t.path("a")), (std::vector<std::string>{"f0", "f1", "f2"}));
}

// Where the kernel does not let the process link its unnamed file by descriptor, the link
// goes through /proc/self/fd.
TEST(CopyFile, UnnamedFilesAreLinkedThroughProcWhereTheDescriptorIsRefused) {
    if (access("/proc/self/fd", X_OK) != 0) GTEST_SKIP() << "/proc is not mounted";
    TempTree t;
    const int probe = open(t.root().c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0) GTEST_SKIP() << "the file system under " << t.root() << " has no unnamed files";
    close(probe);
    const std::string src = t.write("src", "new content");
    t.write("out/old", "old");
    EXPECT_EQ(ProblemsInChild(PlacingWay::UnnamedFile, [&](Problems& p) {
                  test::refuseEmptyPathLinks = true;
                  test::emptyPathLinkRequests = 0;
                  test::linksThroughProc = 0;
                  p.expectEqual(CopyOneFile(src, t.path("out/fresh"), true), 0, "fresh");
                  p.expectEqual(CopyOneFile(src, t.path("out/old"), false), 0, "replace");
                  p.expectEqual(CopyOneFile(src, t.path("out/fresh"), false), 0, "again");
                  // Asked once; then every link (two per replacement) goes through /proc.
                  p.expectEqual(test::emptyPathLinkRequests, 1, "links by descriptor asked for");
                  p.expectEqual(test::linksThroughProc, 3, "links through /proc");
                  // A writer thread with a descriptor table of its own links its copies by
                  // its own descriptors, not by those of the process's first thread.
                  std::thread writer([&] {
                      UsePrivateDescriptorTable();
                      for (int i = 0; i < 20; ++i) {
                          const int spare = open("/dev/null", O_RDONLY);  // numbers differ
                          p.expectEqual(CopyOneFile(src, t.path("out/thread" + std::to_string(i)), true),
                                        0, "thread copy");
                          close(spare);
                      }
                  });
                  writer.join();
              }),
              "");
    for (int i = 0; i < 20; ++i) EXPECT_EQ(ReadFile(t.path("out/thread" + std::to_string(i))), "new content");
    EXPECT_EQ(ReadFile(t.path("out/fresh")), "new content");
    EXPECT_EQ(ReadFile(t.path("out/old")), "new content");
    EXPECT_EQ(NamesIn(t.path("out")).size(), 22u);
}

// A process that has ended: a child that exits at once.
pid_t EndedProcess() {
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST(LeftoverTemporaries, OnlyThoseOfEndedCopiesAreRemoved) {
    TempTree t;
    const std::string dead = std::to_string(EndedProcess());
    pid_t runningChild = fork();
    if (runningChild == 0) {
        pause();
        _exit(0);
    }
    const std::string running = std::to_string(runningChild);
    const std::string hex = "0123456789abcdef";
    const std::string leftover = ".ostrivane-partial-" + dead + "-" + hex;
    t.write("out/" + leftover, "partial");
    t.write("out/.ostrivane-partial-" + dead + "-fedcba9876543210", "partial too");
    // Another copy writing into the folder right now, ours or somebody else's (pid 1).
    const std::vector<std::string> kept = {
        ".ostrivane-partial-" + running + "-" + hex,
        ".ostrivane-partial-1-" + hex,
        ".ostrivane-partial-" + std::to_string(getpid()) + "-" + hex,
        // Names that merely look similar are the user's.
        ".ostrivane-partial-" + dead + "-" + hex + ".doc",
        ".ostrivane-partial-" + dead + "-0123456789ABCDEF",
        ".ostrivane-partial-" + dead + "-0123456789abcde",
        ".ostrivane-partial-0" + dead + "-" + hex,
        ".ostrivane-partial--" + hex,
        "ostrivane-partial-" + dead + "-" + hex,
        "report.ostrivane-partial-" + dead + "-" + hex,
    };
    for (const std::string& name : kept) t.write("out/" + name, "keep me");
    // A link or a folder of that shape is no temporary of ours.
    const std::string linkName = ".ostrivane-partial-" + dead + "-aaaaaaaaaaaaaaaa";
    const std::string folderName = ".ostrivane-partial-" + dead + "-bbbbbbbbbbbbbbbb";
    t.write("elsewhere/target", "target");
    symlink(t.path("elsewhere/target").c_str(), t.path("out/" + linkName).c_str());
    t.mkdir("out/" + folderName);

    Folder out;
    ASSERT_EQ(OpenFolder(t.path("out"), out), 0);
    std::vector<std::string> removed;
    EXPECT_EQ(RemoveLeftoverTemporaries(out, &removed), 0);
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, (std::vector<std::string>{".ostrivane-partial-" + dead + "-" + hex,
                                                 ".ostrivane-partial-" + dead +
                                                     "-fedcba9876543210"}));
    std::vector<std::string> expected = kept;
    expected.push_back(linkName);
    expected.push_back(folderName);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NamesIn(t.path("out")), expected);
    EXPECT_EQ(ReadFile(t.path("elsewhere/target")), "target");

    // Once the running copy has ended, its temporary goes too.
    kill(runningChild, SIGKILL);
    waitpid(runningChild, nullptr, 0);
    removed.clear();
    EXPECT_EQ(RemoveLeftoverTemporaries(out, &removed), 0);
    EXPECT_EQ(removed, std::vector<std::string>{kept[0]});
}

// A process id says nothing of a writer in another pid namespace or on another host of a
// network share: a temporary whose lock is held (here by another open file description) is
// kept, whatever its process id; it goes once its lock is free.
TEST(LeftoverTemporaries, ALockedTemporaryIsKeptUntilItsLockGoes) {
    TempTree t;
    const std::string name = ".ostrivane-partial-" + std::to_string(EndedProcess()) +
                             "-0123456789abcdef";
    const std::string path = t.write("out/" + name, "being written");
    const int writer = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(flock(writer, LOCK_EX | LOCK_NB), 0);
    Folder out;
    ASSERT_EQ(OpenFolder(t.path("out"), out), 0);
    std::vector<std::string> removed;
    EXPECT_EQ(RemoveLeftoverTemporaries(out, &removed), 0);
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(ReadFile(path), "being written");
    close(writer);
    EXPECT_EQ(RemoveLeftoverTemporaries(out, &removed), 0);
    EXPECT_EQ(removed, std::vector<std::string>{name});
    EXPECT_FALSE(test::Exists(path));
}

// A named temporary is locked by its writer while it is written, and with a temporary
// folder in the control it is written there (not beside the target) and renamed into the
// target's folder: a run killed meanwhile leaves it where the next run into that
// destination looks.
TEST(CopyFile, NamedTemporaryIsLockedAndWrittenInTheTemporaryFolder) {
    for (PlacingWay way : kAllPlacingWays) {
        if (way == PlacingWay::UnnamedFile) continue;
        TempTree t;
        const std::string content = Pattern(512 * 1024, 4);
        const std::string src = t.write("src", content);
        t.write("out/sub/old", "old");
        EXPECT_EQ(ProblemsInChild(way, [&](Problems& p) {
                      Folder out, sub;
                      p.expectEqual(OpenFolder(t.path("out"), out), 0, "open out");
                      p.expectEqual(OpenFolder(t.path("out/sub"), sub), 0, "open sub");
                      CopyControl control;
                      control.temporaryFolder = &out;
                      for (const char* name : {"fresh", "old"}) {
                          std::vector<std::string> temporaries, beside;
                          int lockedBy = 0;  // the errno of another description's lock
                          test::duringNextCopy = [&] {
                              for (const std::string& entry : NamesIn(t.path("out")))
                                  if (entry.rfind(".ostrivane-partial-", 0) == 0)
                                      temporaries.push_back(entry);
                              for (const std::string& entry : NamesIn(t.path("out/sub")))
                                  if (entry.rfind(".ostrivane-partial-", 0) == 0)
                                      beside.push_back(entry);
                              if (temporaries.size() != 1) return;
                              const int fd = open(t.path("out/" + temporaries[0]).c_str(),
                                                  O_RDONLY | O_CLOEXEC);
                              lockedBy = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
                              close(fd);
                          };
                          p.expectEqual(CopyFileAt(nullptr, src, sub, name, false, 0, &control),
                                        0, name);
                          test::duringNextCopy = nullptr;
                          p.expectEqual(temporaries.size(), 1, std::string(name) + ": temporaries in out");
                          p.expectEqual(beside.size(), 0, std::string(name) + ": temporaries in out/sub");
                          p.expectEqual(lockedBy, EWOULDBLOCK, std::string(name) + ": the lock");
                          p.expect(ReadFile(t.path("out/sub/") + name) == content, name);
                      }
                      p.expectOnly(t.path("out"), {"sub"}, "out");
                      p.expectOnly(t.path("out/sub"), {"fresh", "old"}, "out/sub");
                  }),
                  "");
    }
}

}  // namespace
}  // namespace ostrivane
