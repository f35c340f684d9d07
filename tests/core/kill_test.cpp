// A copy run killed at random moments: whatever it leaves under a final name is a complete
// copy or the untouched older file, and a later run that keeps existing files completes the
// set and leaves no temporary behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/copy_run.h"
#include "core/file_system_stand_ins.h"
#include "core/fsops.h"
#include "core/run_copy.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using test::PlacingWay;
using test::TempTree;

constexpr int kKills = 200;

// Reads the whole file into `bytes`; false when it cannot be read to its end.
bool ReadAll(const std::string& path, std::string& bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    fstat(fd, &st);
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    char extra;
    bool atEnd = read(fd, &extra, 1) == 0;
    close(fd);
    return atEnd;
}

std::string Bytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

bool IsTemporaryName(const std::string& name) {
    return name.rfind(".ostrivane-", 0) == 0;
}

// Sleeps for `seconds`.
void Pause(double seconds) {
    struct timespec delay;
    delay.tv_sec = static_cast<time_t>(seconds);
    delay.tv_nsec = static_cast<long>((seconds - static_cast<double>(delay.tv_sec)) * 1e9);
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

class KilledCopies : public ::testing::Test {
  protected:
    void SetUp() override {
        // A RAM file system where there is one, so that the runs do not write gigabytes to
        // a disk; the behaviour under test is that of the copy, not of the device. Run on a
        // disk's file system (tests/support/on_loop_file_system), the test stays there.
        const char* previous = std::getenv("TMPDIR");
        if (previous) savedTmpdir_ = previous;
        hadTmpdir_ = previous != nullptr;
        const bool keepTmpdir = previous && std::getenv("OSTRIVANE_TEST_KEEP_TMPDIR");
        if (!keepTmpdir && access("/dev/shm", W_OK | X_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
        tree_ = std::make_unique<TempTree>();
        if (hadTmpdir_)
            setenv("TMPDIR", savedTmpdir_.c_str(), 1);
        else
            unsetenv("TMPDIR");

        // Three larger files and 36 small ones, in three levels.
        unsigned seed = 1;
        for (size_t size : {1500u * 1024, 2u * 1024 * 1024, 3u * 1024 * 1024}) {
            addSource("big" + std::to_string(seed) + ".bin", Bytes(size, seed));
            ++seed;
        }
        for (int i = 0; i < 24; ++i)
            addSource("s" + std::to_string(i) + ".txt", Bytes(1 + (i * 2731) % 60000, seed++));
        for (int i = 0; i < 10; ++i)
            addSource("sub/t" + std::to_string(i), Bytes(100 + i * 977, seed++));
        addSource("sub/deeper/m.bin", Bytes(1024 * 1024, seed++));
        addSource("sub/deeper/tiny", "x");
        // Older versions of some files in the second destination.
        for (const char* relative : {"big2.bin", "s3.txt", "s7.txt", "sub/t2", "sub/deeper/m.bin"})
            older_[relative] = "older version of " + std::string(relative);

        sources_.append(tree_->path("src"));
        destinations_.append(tree_->path("a"));
        destinations_.append(tree_->path("b"));
    }

    void TearDown() override { tree_.reset(); }

    void addSource(const std::string& relative, const std::string& bytes) {
        tree_->write("src/" + relative, bytes);
        sources_files_[relative] = bytes;
    }

    // Destination a empty, b holding the older versions.
    void resetDestinations() {
        fs::remove_all(tree_->path("a"));
        fs::remove_all(tree_->path("b"));
        tree_->mkdir("a");
        tree_->mkdir("b");
        for (const auto& [relative, bytes] : older_) tree_->write("b/src/" + relative, bytes);
    }

    // Starts a copy run of src into a and b in a child process.
    pid_t startRun(PlacingWay way, SameFilePolicy policy) {
        pid_t child = fork();
        if (child == 0) {
            alarm(20);
            test::OfferOnly(way);
            std::vector<Failure> failures = test::RunCopy(
                sources_, destinations_, policy, [](const std::string&) { return false; },
                [](int) {}).failures;
            for (const Failure& failure : failures)
                std::cerr << "failed: " << failure.path << ": " << failure.reason << "\n";
            _exit(failures.empty() ? 0 : 1);
        }
        return child;
    }

    static bool EndedWell(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    struct Findings {
        int checked = 0;
        int partial = 0;
        int temporaries = 0;
        int missing = 0;
        std::string firstProblem;
    };

    // Looks at every entry below the destinations. With `complete`, every source file
    // must be there.
    Findings inspect(bool complete) const {
        Findings found;
        auto problem = [&](const std::string& what) {
            if (found.firstProblem.empty()) found.firstProblem = what;
        };
        for (const char* destination : {"a", "b"}) {
            const fs::path root = tree_->path(destination);
            const bool withOlder = std::string(destination) == "b";
            for (auto it = fs::recursive_directory_iterator(root);
                 it != fs::recursive_directory_iterator(); ++it) {
                const std::string name = it->path().filename().string();
                if (IsTemporaryName(name)) {
                    ++found.temporaries;
                    continue;
                }
                if (it->is_directory() && !it->is_symlink()) continue;
                const std::string relative = it->path().lexically_relative(root / "src").string();
                ++found.checked;
                auto source = sources_files_.find(relative);
                std::string bytes;
                if (source == sources_files_.end() || !it->is_regular_file() ||
                    it->is_symlink() || !ReadAll(it->path().string(), bytes)) {
                    ++found.partial;
                    problem("unexpected entry " + it->path().string());
                    continue;
                }
                if (bytes == source->second) continue;
                auto old = older_.find(relative);
                if (withOlder && old != older_.end() && bytes == old->second) continue;
                ++found.partial;
                problem(it->path().string() + " holds " + std::to_string(bytes.size()) +
                        " bytes that are neither the source's " +
                        std::to_string(source->second.size()) + " nor the older file");
            }
            if (!complete) continue;
            for (const auto& [relative, bytes] : sources_files_) {
                if (!fs::exists(root / "src" / relative)) {
                    ++found.missing;
                    problem("missing " + (root / "src" / relative).string());
                }
            }
        }
        return found;
    }

    std::unique_ptr<TempTree> tree_;
    std::string savedTmpdir_;
    bool hadTmpdir_ = false;
    std::map<std::string, std::string> sources_files_;
    std::map<std::string, std::string> older_;
    PathList sources_;
    PathList destinations_;
};

TEST_F(KilledCopies, LeaveCompleteOrUntouchedFilesAndAKeepingRunCompletesThem) {
    // How long an undisturbed run takes (the middle one of three), for the spread of the
    // kill moments.
    std::vector<double> durations;
    for (PlacingWay way : {PlacingWay::UnnamedFile, PlacingWay::RenameNoReplace,
                           PlacingWay::UnnamedFile}) {
        resetDestinations();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(EndedWell(startRun(way, SameFilePolicy::Overwrite)));
        durations.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        Findings undisturbed = inspect(true);
        ASSERT_EQ(undisturbed.partial + undisturbed.missing + undisturbed.temporaries, 0)
            << undisturbed.firstProblem;
    }
    std::sort(durations.begin(), durations.end());
    const double runSeconds = durations[1];

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    // Kill moments spread over the run's duration. The spread follows the machine: it shrinks
    // when a run ends before its moment and grows back slowly while runs are killed.
    double spread = runSeconds;
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    int kills = 0, finishedFirst = 0, checked = 0, partial = 0;
    int temporariesAfterKills[2] = {0, 0};  // unnamed files, named temporaries
    int temporariesAfterSkip = 0, missingAfterSkip = 0, failedSkipRuns = 0;
    std::string firstProblem;
    // Runs that end before their kill moment do not count.
    for (int round = 0; kills < kKills && round < 4 * kKills; ++round) {
        // Every other run on a file system without unnamed files: named temporaries.
        const PlacingWay way =
            round % 2 == 0 ? PlacingWay::UnnamedFile : PlacingWay::RenameNoReplace;
        resetDestinations();
        pid_t child = startRun(way, SameFilePolicy::Overwrite);
        Pause(spread * fraction(random));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFSIGNALED(status)) {
            ++kills;
            spread = std::min(spread * 1.02, runSeconds * 1.5);
        } else {
            ++finishedFirst;
            spread *= 0.9;
        }

        Findings afterKill = inspect(false);
        checked += afterKill.checked;
        partial += afterKill.partial;
        temporariesAfterKills[way == PlacingWay::UnnamedFile ? 0 : 1] += afterKill.temporaries;
        if (firstProblem.empty()) firstProblem = afterKill.firstProblem;

        // The keeping run in this process (forks are dear under the sanitizers); it finds
        // the temporaries of both ways, whatever way it copies itself.
        const std::vector<Failure> failures = test::RunCopy(
            sources_, destinations_, SameFilePolicy::Skip,
            [](const std::string&) { return false; }, [](int) {}).failures;
        if (!failures.empty()) {
            ++failedSkipRuns;
            if (firstProblem.empty())
                firstProblem = failures.front().path + ": " + failures.front().reason;
        }
        Findings afterSkip = inspect(true);
        checked += afterSkip.checked;
        partial += afterSkip.partial;
        temporariesAfterSkip += afterSkip.temporaries;
        missingAfterSkip += afterSkip.missing;
        if (firstProblem.empty()) firstProblem = afterSkip.firstProblem;
    }

    struct statfs where {};
    statfs(tree_->path("a").c_str(), &where);
    std::cout << "kill test (seed " << seed << ", file system type 0x" << std::hex
              << static_cast<unsigned long>(where.f_type) << std::dec
              << "): undisturbed run " << runSeconds * 1000
              << " ms; " << kills << " runs killed, " << finishedFirst
              << " finished before the kill; " << checked << " files checked; " << partial
              << " partial files; temporaries left by killed runs: "
              << temporariesAfterKills[0] << " with unnamed files, " << temporariesAfterKills[1]
              << " with named temporaries; " << temporariesAfterSkip
              << " temporaries and " << missingAfterSkip << " files missing after the keeping runs"
              << std::endl;
    RecordProperty("seed", std::to_string(seed));
    RecordProperty("kills", kills);
    RecordProperty("files_checked", checked);
    RecordProperty("partial_files", partial);
    RecordProperty("temporaries_after_kills",
                   temporariesAfterKills[0] + temporariesAfterKills[1]);
    RecordProperty("temporaries_after_keeping_runs", temporariesAfterSkip);

    EXPECT_EQ(partial, 0) << firstProblem;
    EXPECT_EQ(temporariesAfterSkip, 0) << firstProblem;
    EXPECT_EQ(missingAfterSkip, 0) << firstProblem;
    EXPECT_EQ(failedSkipRuns, 0);
    // The kills must hit running copies, or the test proves little.
    EXPECT_EQ(kills, kKills);
}

}  // namespace
}  // namespace ostrivane
