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
#include "core/run_copy.h"
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

// The destination belongs to the attacker (nobody) when the test runs as root.
void GiveToAttacker(const std::string& path) {
    if (geteuid() != 0) return;
    chmod(fs::path(path).parent_path().c_str(), 0711);
    for (const auto& entry : fs::recursive_directory_iterator(path))
        lchown(entry.path().c_str(), kNobody, kNobody);
    lchown(path.c_str(), kNobody, kNobody);
}


// What one race run found.
struct Figures {
    std::atomic<long> swaps{0};
    int rounds = 0;
    int lost = 0;  // canaries deleted, or files written outside
};

// The emptying runs while the swapper swaps dest/x for a link to `outside` and back.
void EmptyingRace(const TempTree& tree, Figures& figures) {
    const std::string outside = tree.mkdir("outside");
    for (int i = 0; i < kCanaries; ++i) tree.write("outside/canary" + std::to_string(i), "keep");
    const std::string dest = tree.path("dest/");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((figures.swaps.load() < 3000 || figures.rounds < 20) &&
           std::chrono::steady_clock::now() < deadline && figures.lost == 0) {
        ++figures.rounds;
        // Enough entries in the swapped folder and beside it that the walk spends its time
        // between listing and opening.
        for (int i = 0; i < 30; ++i) tree.write("dest/x/f" + std::to_string(i), "f");
        for (int i = 0; i < 30; ++i) tree.write("dest/y" + std::to_string(i) + "/g", "g");
        GiveToAttacker(tree.path("dest"));
        const pid_t swapper = StartSwapper(tree.path("dest/x"), outside, &figures.swaps);
        std::vector<Failure> failures;
        ostrivane::EmptyDestinations(ListOf({dest}), PathList(), &failures);
        StopChild(swapper);
        figures.lost = kCanaries - CountCanaries(outside);
        // Put the swapped folder back for the next round, whichever state the kill left.
        std::error_code ignored;
        if (fs::is_symlink(tree.path("dest/x"))) fs::remove(tree.path("dest/x"), ignored);
        fs::remove_all(tree.path("dest/x.parked"), ignored);
    }
}

// A copy of src (whose subfolder x holds 40 files) runs while the swapper swaps the target
// subfolder dest/src/x for a link to `outside` and back.
void CopyRace(const TempTree& tree, Figures& figures) {
    const std::string outside = tree.mkdir("outside");
    for (int i = 0; i < 40; ++i) tree.write("src/x/f" + std::to_string(i), "new");
    const std::string dest = tree.path("dest/");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    while ((figures.swaps.load() < 2000 || figures.rounds < 12) &&
           std::chrono::steady_clock::now() < deadline && figures.lost == 0) {
        ++figures.rounds;
        tree.mkdir("dest/src/x");
        GiveToAttacker(tree.path("dest"));
        const pid_t swapper = StartSwapper(tree.path("dest/src/x"), outside, &figures.swaps);
        ostrivane::test::RunCopy(ListOf({tree.path("src")}), ListOf({dest}),
                           ostrivane::SameFilePolicy::Overwrite, {}, {}).failures;
        StopChild(swapper);
        figures.lost = static_cast<int>(
            std::distance(fs::directory_iterator(outside), fs::directory_iterator()));
        std::error_code ignored;
        if (fs::is_symlink(tree.path("dest/src/x"))) fs::remove(tree.path("dest/src/x"), ignored);
        fs::remove_all(tree.path("dest/src"), ignored);
    }
}

// Runs the race in this process and, when this process is root, once more in a child that
// runs as an unprivileged user: the victim may be root or another user. Prints the figures.
void RunBothWays(const char* what, void (*race)(const TempTree&, Figures&), long minimumSwaps) {
    std::vector<std::pair<std::string, Figures*>> runs;
    Figures* here = new (mmap(nullptr, sizeof(Figures), PROT_READ | PROT_WRITE,
                              MAP_SHARED | MAP_ANONYMOUS, -1, 0)) Figures;
    {
        TempTree tree;
        race(tree, *here);
    }
    runs.push_back({geteuid() == 0 ? "run as root" : "run unprivileged", here});
    if (geteuid() == 0) {
        Figures* child = new (mmap(nullptr, sizeof(Figures), PROT_READ | PROT_WRITE,
                                   MAP_SHARED | MAP_ANONYMOUS, -1, 0)) Figures;
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
            {
                TempTree tree;
                race(tree, *child);
            }
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        runs.push_back({"run unprivileged", child});
    }
    for (const auto& [how, figures] : runs) {
        std::cout << "[ figures  ] " << what << ", " << how << ": " << figures->rounds
                  << " rounds, " << figures->swaps.load() << " swaps, lost: " << figures->lost
                  << "\n";
        EXPECT_EQ(figures->lost, 0) << how;
        EXPECT_GE(figures->swaps.load(), minimumSwaps) << how;
    }
}

}  // namespace

TEST(Race, EmptyingNeverFollowsASubfolderSwappedForALink) {
    RunBothWays("emptying race (canaries)", EmptyingRace, 500);
}

// The same attack on a copy: a target subfolder swapped for a link to an outside folder must
// not receive the copies (they would land in a folder the attacker could not write).
TEST(Race, TreeCopyNeverWritesThroughATargetSwappedForALink) {
    RunBothWays("copy race (files outside)", CopyRace, 300);
}
