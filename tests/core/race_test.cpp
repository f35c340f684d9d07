// Races against another process that changes a destination while the core works in it: a
// subfolder swapped for a link to an outside folder between the listing and the opening
// must never lead a deletion or a copy outside the destination.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>

#include "core/copy_run.h"
#include "core/emptying.h"
#include "core/temp_tree.h"

namespace fs = std::filesystem;
using ostrivane::Failure;
using ostrivane::PathList;
using ostrivane::test::TempTree;

namespace {

constexpr uid_t kNobody = 65534;
constexpr int kCanaries = 20;

PathList ListOf(std::vector<std::string> entries) {
    PathList list;
    list.assign(std::move(entries));
    return list;
}

int CountCanaries(const std::string& folder) {
    int found = 0;
    for (int i = 0; i < kCanaries; ++i)
        if (fs::exists(folder + "/canary" + std::to_string(i))) ++found;
    return found;
}

// A child process that swaps `folder` for a link to `outside` and back, as fast as it can,
// until it is killed; `swaps` counts the swaps in memory shared with the test. When the
// test runs as root the child gives up its privileges first: the attacker is another user
// who owns the destination.
pid_t StartSwapper(const std::string& folder, const std::string& outside,
                   std::atomic<long>* swaps) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(2);
    const std::string parked = folder + ".parked";
    for (;;) {
        if (rename(folder.c_str(), parked.c_str()) == 0) {
            symlink(outside.c_str(), folder.c_str());
            swaps->fetch_add(1);
            unlink(folder.c_str());
            rename(parked.c_str(), folder.c_str());
        } else {
            mkdir(folder.c_str(), 0777);
        }
    }
}

void StopChild(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

struct Shared {
    std::atomic<long> swaps{0};
};

Shared* MapShared() {
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                        -1, 0);
    return new (memory) Shared;
}

// The destination belongs to the attacker (nobody) when the test runs as root.
void GiveToAttacker(const std::string& path) {
    if (geteuid() != 0) return;
    chmod(fs::path(path).parent_path().c_str(), 0711);
    for (const auto& entry : fs::recursive_directory_iterator(path))
        lchown(entry.path().c_str(), kNobody, kNobody);
    lchown(path.c_str(), kNobody, kNobody);
}

}  // namespace

TEST(Race, EmptyingNeverFollowsASubfolderSwappedForALink) {
    TempTree tree;
    const std::string outside = tree.mkdir("outside");
    for (int i = 0; i < kCanaries; ++i) tree.write("outside/canary" + std::to_string(i), "keep");
    const std::string dest = tree.path("dest/");
    Shared* shared = MapShared();
    int rounds = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while ((shared->swaps.load() < 3000 || rounds < 50) &&
           std::chrono::steady_clock::now() < deadline) {
        ++rounds;
        // Enough entries in the swapped folder and beside it that the walk spends its time
        // between listing and opening.
        for (int i = 0; i < 30; ++i) tree.write("dest/x/f" + std::to_string(i), "f");
        for (int i = 0; i < 30; ++i) tree.write("dest/y" + std::to_string(i) + "/g", "g");
        GiveToAttacker(tree.path("dest"));
        const pid_t swapper = StartSwapper(tree.path("dest/x"), outside, &shared->swaps);
        std::vector<Failure> failures;
        ostrivane::EmptyDestinations(ListOf({dest}), PathList(), &failures);
        StopChild(swapper);
        ASSERT_EQ(CountCanaries(outside), kCanaries) << "after round " << rounds;
        // Put the swapped folder back for the next round, whichever state the kill left.
        std::error_code ignored;
        if (fs::is_symlink(tree.path("dest/x"))) fs::remove(tree.path("dest/x"), ignored);
        fs::remove_all(tree.path("dest/x.parked"), ignored);
    }
    std::cout << "[ figures  ] emptying race: " << rounds << " rounds, " << shared->swaps.load()
              << " swaps, canaries lost: " << kCanaries - CountCanaries(outside) << "\n";
    EXPECT_GT(shared->swaps.load(), 500);
    EXPECT_EQ(CountCanaries(outside), kCanaries);
}

// The same attack on a copy: a target subfolder swapped for a link to an outside folder must
// not receive the copies (they would land in a folder the attacker could not write).
TEST(Race, TreeCopyNeverWritesThroughATargetSwappedForALink) {
    TempTree tree;
    const std::string outside = tree.mkdir("outside");
    for (int i = 0; i < 40; ++i) tree.write("src/x/f" + std::to_string(i), "new");
    const std::string dest = tree.path("dest/");
    Shared* shared = MapShared();
    int rounds = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    while ((shared->swaps.load() < 2000 || rounds < 30) &&
           std::chrono::steady_clock::now() < deadline) {
        ++rounds;
        tree.mkdir("dest/src/x");
        GiveToAttacker(tree.path("dest"));
        const pid_t swapper = StartSwapper(tree.path("dest/src/x"), outside, &shared->swaps);
        ostrivane::CopyAll(ListOf({tree.path("src")}), ListOf({dest}),
                           ostrivane::SameFilePolicy::Overwrite, {}, {});
        StopChild(swapper);
        ASSERT_TRUE(fs::is_empty(outside)) << "after round " << rounds;
        std::error_code ignored;
        if (fs::is_symlink(tree.path("dest/src/x"))) fs::remove(tree.path("dest/src/x"), ignored);
        fs::remove_all(tree.path("dest/src"), ignored);
    }
    std::cout << "[ figures  ] copy race: " << rounds << " rounds, " << shared->swaps.load()
              << " swaps, files written outside: "
              << std::distance(fs::directory_iterator(outside), fs::directory_iterator()) << "\n";
    EXPECT_GT(shared->swaps.load(), 300);
    EXPECT_TRUE(fs::is_empty(outside));
}
