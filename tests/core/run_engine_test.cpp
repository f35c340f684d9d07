// The run engine: many writers give exactly the outcome of one, and a stop leaves nothing
// half done.
#include "core/run_engine.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <functional>
#include <iostream>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#include "core/copy_run.h"
#include "core/discovery.h"
#include "core/emptying.h"
#include "core/run_copy.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using test::TempTree;

// --- The scheduler -------------------------------------------------------------------------

TEST(RunSteps, ConflictingStepsKeepTheirOrderAndOthersOverlap) {
    // Steps 0..7 on two queues; every step conflicts with the one four places earlier.
    std::mutex mutex;
    std::vector<int> finished;
    std::atomic<int> running{0}, most{0};
    std::vector<EngineStep> steps;
    for (int i = 0; i < 8; ++i) {
        steps.push_back({i % 2, [&, i] {
                             most = std::max(most.load(), ++running);
                             std::this_thread::sleep_for(std::chrono::milliseconds(5 + (7 - i)));
                             --running;
                             std::lock_guard lock(mutex);
                             finished.push_back(i);
                         }});
    }
    const int atOnce = RunSteps(steps, {2, 2}, [](size_t earlier, size_t later) {
        return later - earlier == 4;
    });
    ASSERT_EQ(finished.size(), 8u);
    auto position = [&](int step) {
        return std::find(finished.begin(), finished.end(), step) - finished.begin();
    };
    for (int i = 0; i < 4; ++i) EXPECT_LT(position(i), position(i + 4)) << i;
    EXPECT_GE(atOnce, 2);
    EXPECT_LE(most.load(), 4);
}

TEST(RunSteps, NothingAfterAThrowingStepStartsAndTheEarliestErrorPassesOn) {
    std::atomic<bool> lateRan{false};
    std::vector<EngineStep> steps;
    // Step 1 fails late, step 3 fails at once; step 4 waits for step 3 (conflict) and must
    // not start, step 2 comes before the first failure and must run.
    std::atomic<bool> step2Ran{false};
    steps.push_back({0, [] {}});
    steps.push_back({1, [] {
                         std::this_thread::sleep_for(std::chrono::milliseconds(30));
                         throw std::runtime_error("one");
                     }});
    steps.push_back({0, [&] { step2Ran = true; }});
    steps.push_back({2, [] { throw std::runtime_error("three"); }});
    steps.push_back({2, [&] { lateRan = true; }});
    try {
        RunSteps(steps, {1, 1, 1}, [](size_t, size_t) { return false; });
        FAIL() << "no error passed on";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "one");
    }
    EXPECT_TRUE(step2Ran);
    EXPECT_FALSE(lateRan);
}

// --- Writers by measurement ---------------------------------------------------------------

// A simulated device: each file takes `perFile`; a single-queue device takes one file at a
// time, whatever the writers, another takes as many at once as come.
struct SimulatedDevice {
    bool singleQueue = false;
    std::chrono::microseconds perFile{2000};
    std::mutex queue;
    void write() {
        if (singleQueue) {
            std::lock_guard lock(queue);
            std::this_thread::sleep_for(perFile);
        } else {
            std::this_thread::sleep_for(perFile);
        }
    }
};

struct GateRun {
    double shareAtOne = 0, shareAtMost = 0;  // of the limits seen in the second half
    int files = 0;
};

// Four writers copy to `device` through `gate` for `seconds`; the gate's limit is looked at
// every millisecond of the second half.
GateRun RunThroughGate(WriterGate& gate, SimulatedDevice& device, double seconds) {
    std::atomic<bool> done{false};
    std::atomic<int> files{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i)
        writers.emplace_back([&] {
            while (!done) {
                WriterGate::Pass pass(&gate);
                device.write();
                pass.finished = true;
                ++files;
            }
        });
    const auto start = std::chrono::steady_clock::now();
    const auto half = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(seconds / 2));
    const auto end = half + (half - start);
    std::this_thread::sleep_until(half);
    int looks = 0, atOne = 0, atMost = 0;
    while (std::chrono::steady_clock::now() < end) {
        const int limit = gate.limit();
        ++looks;
        atOne += limit == 1;
        atMost += limit == 4;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
    for (std::thread& writer : writers) writer.join();
    return {static_cast<double>(atOne) / looks, static_cast<double>(atMost) / looks, files.load()};
}

TEST(WriterGate, SettlesAtOneOnASingleQueueDeviceAndGrowsWhereMoreWritersGain) {
    WriterGate::Tuning quick;
    quick.window = std::chrono::milliseconds(30);
    quick.windowFiles = 4;
    {
        // Guessed fast, found single-queue: down to one writer, and it stays there.
        SimulatedDevice device;
        device.singleQueue = true;
        // Four seconds: the gate still tries one writer more now and then, each refused try
        // waiting longer than the last, so a longer run shows where it settles, not how it
        // got there (two seconds fell just short under AddressSanitizer on a busy machine).
        WriterGate gate(4, 4, quick);
        const GateRun run = RunThroughGate(gate, device, 4.0);
        std::cout << "single queue: limit 1 " << run.shareAtOne * 100 << "% of the second half, " << run.files << " files\n";
        EXPECT_GE(run.shareAtOne, 0.6) << "limit 1 only " << run.shareAtOne * 100
                                       << "% of the second half";
        EXPECT_GT(run.files, 300);  // the device was kept busy: about 500 files of 2 ms
    }
    {
        // Guessed rotating (one writer), found to take four at once: up to four.
        SimulatedDevice device;
        WriterGate gate(1, 4, quick);
        const GateRun run = RunThroughGate(gate, device, 2.0);
        std::cout << "four at once: limit 4 " << run.shareAtMost * 100 << "% of the second half, " << run.files << " files\n";
        EXPECT_GE(run.shareAtMost, 0.6) << "limit 4 only " << run.shareAtMost * 100
                                        << "% of the second half";
        EXPECT_GT(run.files, 2000);  // one writer would make about 1,000
    }
}

TEST(WriterGate, NeverLetsMoreThanItsLimitThroughAndAOneWriterGateStaysAtOne) {
    WriterGate::Tuning quick;
    quick.window = std::chrono::milliseconds(5);
    quick.windowFiles = 2;
    SimulatedDevice device;  // gains from every writer: the gate would grow if it could
    WriterGate gate(1, 1, quick);
    std::atomic<int> inside{0}, most{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i)
        writers.emplace_back([&] {
            for (int n = 0; n < 50; ++n) {
                WriterGate::Pass pass(&gate);
                const int now = ++inside;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                device.write();
                --inside;
                pass.finished = true;
            }
        });
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(gate.limit(), 1);
}

// --- One writer against many ---------------------------------------------------------------

// `root` + "/" + `relative`, with the platform's separator ("/" in `relative` too).
std::string Join(const std::string& root, std::string relative) {
    std::replace(relative.begin(), relative.end(), '/', platform::kSeparator);
    return root + platform::kSeparator + relative;
}

// The part of `path` below `root`, "/" between names on every platform ("/a/b").
std::string Below(const fs::path& path, const std::string& root) {
    std::string text = path.string().substr(root.size());
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

#ifdef _WIN32
// Windows: the attribute word, bytes and last write time of files (in 100 ns steps).
std::string Facts(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return "?";
    std::string facts = std::to_string(data.dwFileAttributes);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        facts += " " + test::ReadFile(path) + " " +
                 std::to_string((static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime)
                                 << 32) | data.ftLastWriteTime.dwLowDateTime);
    }
    return facts;
}
#else
// Type, mode bits, bytes and modification time of files, the target of links.
std::string Facts(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "?";
    std::string facts = std::to_string(st.st_mode);
    if (S_ISREG(st.st_mode)) {
        facts += " " + test::ReadFile(path) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                 std::to_string(st.st_mtim.tv_nsec);
    } else if (S_ISLNK(st.st_mode)) {
        facts += " -> " + fs::read_symlink(path).string();
    }
    return facts;
}
#endif

// Everything below `root` that a run leaves, by Facts (folders' times change with every
// entry made in them, so only files' times count). The paths are ASCII.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string facts = Facts(it->path().string());
        if (facts != "?") tree[Below(it->path(), root)] = facts;
    }
    return tree;
}

// Takes away write permission: mode bits 0444 on POSIX, the read-only attribute on Windows.
void MakeReadOnly(const std::string& path) {
#ifdef _WIN32
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
#else
    ::chmod(path.c_str(), 0444);
#endif
}

// One generated case: the same trees made twice from one seed, so that one run can use one
// writer and the other many.
struct Case {
    PathList sources, destinations;
};

void SetTime(const std::string& path, long seconds) {
#ifdef _WIN32
    const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const unsigned long long ticks = (seconds + 11'644'473'600ULL) * 10'000'000ULL;
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SetFileTime(file, nullptr, &time, &time);
    CloseHandle(file);
#else
    const struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ::lutimes(path.c_str(), times);
#endif
}

Case MakeCase(const std::string& root, unsigned seed) {
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    auto content = [&](const std::string& tag) {
        return tag + std::string(random() % 3000, static_cast<char>('a' + random() % 26));
    };
    long clock = 1'600'000'000;
    auto file = [&](const std::string& relative, const std::string& tag, bool readOnly = false) {
        const std::string path = Join(root, relative);
        fs::create_directories(fs::path(path).parent_path());
        std::FILE* out = std::fopen(path.c_str(), "wb");
        const std::string bytes = content(tag);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        SetTime(path, clock += 1000);
        if (readOnly) MakeReadOnly(path);
    };
    // Sources: two files named a.txt, one literally named a_1.txt, a read-only file, a
    // folder tree (with a file link, a folder link and a subfolder sharing a name), and a
    // folder named like a file.
    file("src/x/a.txt", "xa");
    file("src/y/a.txt", "ya");
    file("src/z/a_1.txt", "za1");
    file("src/ro.txt", "ro", true);
    file("src/tree/a.txt", "ta");
    file("src/tree/b.txt", "tb", chance(50));
    file("src/tree/sub/a.txt", "tsa");
    file("src/tree/sub/deeper/c.dat", "tsdc");
    file("src/tree/a_1.txt/in.txt", "tai");  // a folder named like a numbered a.txt
#ifndef _WIN32
    // (Wine makes no symbolic links; fsops_win32_test covers reparse points where it can.)
    fs::create_symlink("b.txt", root + "/src/tree/link.txt");
    fs::create_directory_symlink("sub", root + "/src/tree/sublink");
#endif
    file("src/a.txt/inner.txt", "fi");  // a folder named like a file
    const std::vector<std::string> sourceItems = {"src/x/a.txt", "src/y/a.txt", "src/z/a_1.txt",
                                                  "src/ro.txt",  "src/tree/",   "src/a.txt/"};
    // Destinations: a folder with its subfolders (nested), one folder in two spellings, a
    // separate folder, and one that does not exist yet.
    for (const char* folder : {"dst/D/x/z", "dst/D/y", "dst/E"}) fs::create_directories(Join(root, folder));
    const std::vector<std::string> destinationItems = {"dst/D", "dst/D/x", "dst/D/x/z", "dst/D/y",
                                                       "dst/D/./y/", "dst/E", "dst/G/new"};
    // Targets already there, some read-only, some where a folder copy goes.
    for (const char* dest : {"dst/D", "dst/D/x", "dst/D/y", "dst/E"}) {
        const std::string base = std::string(dest) + "/";
        if (chance(50)) file(base + "a.txt", "old", chance(30));
        if (chance(30)) file(base + "a_1.txt", "old1");
        if (chance(30)) file(base + "tree/b.txt", "oldtb", chance(50));
        if (chance(40)) file(base + "tree/a.txt", "oldta");
        if (chance(20)) file(base + "ro.txt", "oldro", true);
        if (chance(20)) fs::create_directories(Join(root, base + "a_2.txt"));
        // Failures deep in a copied tree: a folder where a file goes, a folder not writable
        // (on POSIX: Windows has no mode bits, its read-only attribute does not hold folders).
        if (chance(30)) fs::create_directories(Join(root, base + "tree/sub/a.txt"));
        if (chance(30)) {
            fs::create_directories(Join(root, base + "tree/sub/deeper"));
#ifndef _WIN32
            ::chmod((root + "/" + base + "tree/sub/deeper").c_str(), 0555);
#endif
        }
    }
    Case made;
    std::vector<std::string> sources = sourceItems, destinations = destinationItems;
    std::shuffle(sources.begin(), sources.end(), random);
    std::shuffle(destinations.begin(), destinations.end(), random);
    sources.resize(2 + random() % (sources.size() - 1));
    destinations.resize(1 + random() % destinations.size());
    for (const std::string& source : sources) made.sources.addIfAbsent(Join(root, source));
    for (const std::string& destination : destinations)
        made.destinations.addIfAbsent(Join(root, destination));
    return made;
}

struct Outcome {
    std::map<std::string, std::string> tree;
    std::vector<std::string> failures, progress, questions;
    int writersAtOnce = 0;
};

Outcome RunCase(unsigned seed, SameFilePolicy policy, bool emptyFirst, int writers) {
    TempTree temp;
    const std::string root = temp.root();
    const Case made = MakeCase(root, seed);
    Outcome outcome;
    auto relative = [&](std::string text) {
        for (size_t at; (at = text.find(root)) != std::string::npos;) text.replace(at, root.size(), "R");
        return text;
    };
    AskYesNo ask = [&](const std::string& question) {
        outcome.questions.push_back(relative(question));
        return std::hash<std::string>()(relative(question)) % 2 == 0;
    };
    RunOptions options;
    options.maxWriters = writers;
    const RunResult result = test::RunCopy(
        made.sources, made.destinations, policy, ask,
        [&](int percent) { outcome.progress.push_back(std::to_string(percent)); }, emptyFirst,
        options);
    for (const Failure& failure : result.failures)
        outcome.failures.push_back(relative(failure.path) + " | " + relative(failure.reason));
    outcome.tree = Snapshot(root);
    outcome.writersAtOnce = result.writersAtOnce;
#ifndef _WIN32
    // The temporary folder must be removable by its owner again (TempTree clears the
    // read-only attribute on Windows).
    for (auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
#endif
    return outcome;
}

// Runs many seeds when OSTRIVANE_DIFFERENTIAL_SEEDS says so (fuzz style), a few otherwise.
unsigned SeedCount() {
    const char* wanted = std::getenv("OSTRIVANE_DIFFERENTIAL_SEEDS");
    return wanted ? static_cast<unsigned>(std::atoi(wanted)) : 6;
}

TEST(RunEngine, ManyWritersGiveExactlyTheOutcomeOfOne) {
    int parallelRuns = 0;
    for (unsigned seed = 1; seed <= SeedCount(); ++seed) {
        for (SameFilePolicy policy : {SameFilePolicy::Overwrite, SameFilePolicy::Skip,
                                      SameFilePolicy::Ask, SameFilePolicy::AutoNumber}) {
            for (bool emptyFirst : {false, true}) {
                SCOPED_TRACE("seed " + std::to_string(seed) + " policy " +
                             std::to_string(static_cast<int>(policy)) + " emptyFirst " +
                             std::to_string(emptyFirst));
                const Outcome one = RunCase(seed, policy, emptyFirst, 1);
                const Outcome many = RunCase(seed, policy, emptyFirst, 4);
                EXPECT_EQ(one.writersAtOnce, 1);
                if (many.writersAtOnce > 1) ++parallelRuns;
                EXPECT_EQ(many.tree, one.tree);
                EXPECT_EQ(many.failures, one.failures);
                EXPECT_EQ(many.progress, one.progress);
                EXPECT_EQ(many.questions, one.questions);
                ASSERT_FALSE(one.progress.empty());
                EXPECT_EQ(one.progress.back(), "100");
            }
        }
    }
    // The comparison means something only when the engine really wrote at once.
    EXPECT_GT(parallelRuns, 0);
}

// Windows: no mode bits to take entry away (PermissionsApply is false there).
#ifndef _WIN32
TEST(RunEngine, AFolderThatCannotBeEnteredEndsTheRunWhereOneWriterEndsIt) {
    if (!test::PermissionsApply()) GTEST_SKIP() << "needs a user that permissions apply to";
    auto run = [](int writers) {
        TempTree temp;
        temp.write("src/tree/a/1.txt", "1");
        temp.write("src/tree/b/2.txt", "2");
        temp.write("src/tree/c/3.txt", "3");
        temp.write("src/later.txt", "later");
        // A first source long enough for every writer to be under way.
        for (int i = 0; i < 200; ++i) temp.write("src/first/f" + std::to_string(i), "f");
        ::chmod(temp.path("src/tree/b").c_str(), 0);
        PathList sources, destinations;
        sources.addIfAbsent(temp.path("src/first/"));
        sources.addIfAbsent(temp.path("src/tree/"));
        sources.addIfAbsent(temp.path("src/later.txt"));
        for (const char* name : {"d1", "d2", "d3"}) destinations.addIfAbsent(temp.mkdir(name));
        RunOptions options;
        options.maxWriters = writers;
        const RunResult result = test::RunCopy(sources, destinations, SameFilePolicy::Overwrite,
                                               {}, {}, false, options);
        ::chmod(temp.path("src/tree/b").c_str(), 0755);
        EXPECT_EQ(result.end, RunEnd::Ended);
        EXPECT_EQ(result.endedBy.path, temp.path("src/tree/b"));
        // The sources are made anew for each run, so their times differ: names count.
        std::map<std::string, std::string> copies;
        for (const char* name : {"d1", "d2", "d3"}) {
            for (const auto& entry : Snapshot(temp.path(name))) copies[name + entry.first] = "";
        }
        return copies;
    };
    const auto one = run(1);
    // Only the first destination got anything: what the listing had before the folder.
    EXPECT_EQ(one.count("d1/tree"), 1u);
    EXPECT_EQ(one.count("d2/first"), 0u);
    EXPECT_EQ(one.count("d1/later.txt"), 0u);
    EXPECT_EQ(run(4), one);
}
#endif

// Emptying with several writers (the subfolders of each destination on their own) keeps
// and records exactly what one writer does, in the same order.
Outcome EmptyCase(unsigned seed, int writers) {
    TempTree temp;
    const std::string root = temp.root();
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    for (int top = 0; top < 6; ++top) {
        const std::string folder = "dst/D/t" + std::to_string(top);
        for (int i = 0; i < 4; ++i) temp.write(folder + "/f" + std::to_string(i), "x");
        temp.write(folder + "/deep/er/g", "y");
        // Folders that cannot be emptied or listed, and links: POSIX only (no mode bits on
        // Windows, no symbolic links under Wine); the draws happen on both, so a seed makes
        // the same trees otherwise.
        const bool readOnly = chance(30), link = chance(20), unlistable = chance(20);
#ifndef _WIN32
        if (readOnly) ::chmod(temp.path(folder + "/deep").c_str(), 0555);  // cannot be emptied
        if (link) fs::create_symlink(root + "/src", temp.path(folder + "/link"));
        if (unlistable) ::chmod(temp.path(folder + "/deep/er").c_str(), 0);  // cannot be listed
#else
        (void)readOnly, (void)link, (void)unlistable;
#endif
    }
    temp.write("dst/D/plain.txt", "p");
    // A second destination beside the first: emptied at the same time.
    for (int i = 0; i < 5; ++i) temp.write("dst/E/e" + std::to_string(i) + "/f", "e");
    temp.write("dst/E/e1/source.txt", "s");
#ifndef _WIN32
    ::chmod(temp.path("dst/E/e2").c_str(), 0555);
#endif
    // Listed sources inside a destination: kept and recorded, each in its place.
    for (const char* kept : {"dst/D/t0/source.txt", "dst/D/t1/kept/source.txt", "dst/D/t4/s/s.txt"})
        temp.write(kept, "s");
    temp.write("src/a.txt", "a");
    PathList destinations, sources;
    const bool besideFirst = chance(50);
    if (besideFirst) destinations.addIfAbsent(temp.path("dst/E"));
    destinations.addIfAbsent(temp.path("dst/D"));
    if (chance(50)) destinations.addIfAbsent(temp.path("dst/D/t2"));  // nested destination
    if (chance(50)) destinations.addIfAbsent(temp.path("dst/D/./t3/"));
    if (!besideFirst) destinations.addIfAbsent(temp.path("dst/E"));
    sources.addIfAbsent(temp.path("dst/E/e1/source.txt"));
    for (const char* kept : {"dst/D/t0/source.txt", "dst/D/t1/kept/source.txt", "dst/D/t4/s/s.txt"})
        sources.addIfAbsent(temp.path(kept));
    sources.addIfAbsent(temp.path("src/a.txt"));
    Outcome outcome;
    std::vector<Failure> failures;
    EmptyDestinations(destinations, sources, &failures, nullptr, writers);
    for (const Failure& failure : failures) {
        std::string path = failure.path;
        path.replace(0, root.size(), "R");
        outcome.failures.push_back(path + " | " + failure.reason);
    }
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied);
         it != fs::recursive_directory_iterator(); ++it)
        outcome.tree[Below(it->path(), root)] = it->is_symlink() ? "link" : "";
#ifndef _WIN32
    for (auto& entry : fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied))
        if (!entry.is_symlink()) ::chmod(entry.path().c_str(), 0777);
    ::chmod(temp.path("dst/D").c_str(), 0777);
    ::chmod(temp.path("dst/E/e2").c_str(), 0777);
    for (int top = 0; top < 6; ++top) {
        for (const char* below : {"", "/deep", "/deep/er"})
            ::chmod(temp.path("dst/D/t" + std::to_string(top) + below).c_str(), 0777);
    }
#endif
    return outcome;
}

TEST(RunEngine, EmptyingWithManyWritersKeepsAndRecordsWhatOneDoes) {
    for (unsigned seed = 1; seed <= SeedCount() * 2; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Outcome one = EmptyCase(seed, 1);
        const Outcome many = EmptyCase(seed, 4);
        EXPECT_EQ(many.failures, one.failures);
        EXPECT_EQ(many.tree, one.tree);
        // The listed source stays, whatever the writers.
        EXPECT_EQ(one.tree.count("/dst/D/t1/kept/source.txt"), 1u);
        EXPECT_GE(one.failures.size(), 3u);
    }
}

// The folder walk with several writers (on a RAM file system, which takes them) lists the
// folders in the order of one walk: pre-order, siblings in listing order, links left out.
// (Linux's /dev/shm: not on Windows.)
#ifndef _WIN32
TEST(RunEngine, FolderWalkWithManyWritersListsInTheOrderOfOneWalk) {
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no RAM file system at /dev/shm";
    std::string root = "/dev/shm/ostrivane-walk-XXXXXX";
    ASSERT_NE(::mkdtemp(root.data()), nullptr);
    // Removed on every way out, a failed assertion included: /dev/shm outlives the test.
    struct Removal {
        const std::string& root;
        ~Removal() {
            std::error_code ignored;
            fs::remove_all(root, ignored);
        }
    } removal{root};
    std::mt19937 random(3);
    for (int top = 0; top < 12; ++top) {
        const std::string folder = root + "/t" + std::to_string(top);
        for (int i = 0, n = static_cast<int>(random() % 4); i < n; ++i)
            fs::create_directories(folder + "/s" + std::to_string(i) + "/x/y");
        fs::create_directories(folder + "/.hidden");
    }
    std::FILE* file = std::fopen((root + "/t0/file").c_str(), "w");
    std::fclose(file);
    fs::create_directory_symlink(root, root + "/t1/loop");
    for (int depth : {-1, 0, 1, 2}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        // One walk in pre-order, siblings by name: the names here are lower-case ASCII, whose
        // order without case is their byte order.
        std::vector<std::string> expected;
        const std::function<void(const std::string&, int)> walk = [&](const std::string& folder,
                                                                      int levelsLeft) {
            expected.push_back(folder + "/");
            if (levelsLeft == 0) return;
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(folder))
                if (!entry.is_symlink() && entry.is_directory())
                    names.push_back(entry.path().filename().string());
            std::sort(names.begin(), names.end());
            for (const std::string& name : names) walk(folder + "/" + name, levelsLeft - 1);
        };
        walk(root, depth);
        PathList found;
        int repaints = 0;
        if (depth < 0) {
            IndexDisk(root + "/", found, [&] { ++repaints; });
        } else {
            IndexDisk2(root + "/", depth, found, [&] { ++repaints; });
        }
        EXPECT_EQ(found.entries(), expected);
        EXPECT_EQ(repaints, found.count());
    }
}
#endif

// --- Stop ----------------------------------------------------------------------------------

TEST(RunEngine, StopAtAnyMomentLeavesOnlyCompleteFilesAndASecondRunCompletesTheSet) {
    TempTree temp;
    std::mt19937 random(7);
    for (int i = 0; i < 60; ++i)
        temp.write("src/f" + std::to_string(i / 10) + "/file" + std::to_string(i),
                   std::string(20'000 + random() % 300'000, static_cast<char>('a' + i % 26)));
    PathList sources, destinations;
    sources.addIfAbsent(temp.path("src/"));
    for (int d = 0; d < 4; ++d) destinations.addIfAbsent(temp.mkdir("d" + std::to_string(d)));
    const auto source = Snapshot(temp.path("src"));
    for (int round = 0; round < 6; ++round) {
        for (int d = 0; d < 4; ++d) fs::remove_all(temp.path("d" + std::to_string(d) + "/src"));
        std::atomic<bool> stop{false};
        RunOptions options;
        options.maxWriters = 4;
        options.stop = &stop;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
            stop = true;
        });
        const RunResult stopped =
            test::RunCopy(sources, destinations, SameFilePolicy::Overwrite, {}, {}, false, options);
        stopper.join();
        for (int d = 0; d < 4; ++d) {
            const std::string copy = temp.path("d" + std::to_string(d) + "/src");
            if (!fs::exists(copy)) continue;
            for (const auto& [path, facts] : Snapshot(copy)) {
                EXPECT_EQ(path.find(".ostrivane-partial"), std::string::npos) << path;
                // Whatever carries a final name is the whole source file.
                if (source.count(path)) {
                    EXPECT_EQ(facts, source.at(path)) << path;
                }
            }
        }
        const RunResult second =
            test::RunCopy(sources, destinations, SameFilePolicy::Skip, {}, {}, false, RunOptions());
        EXPECT_TRUE(second.failures.empty());
        for (int d = 0; d < 4; ++d)
            EXPECT_EQ(Snapshot(temp.path("d" + std::to_string(d) + "/src")), source);
        if (stopped.stopped()) {
            bool anyFailureStopped = true;
            for (const Failure& failure : stopped.failures)
                anyFailureStopped &= failure.reason == ErrorText(error::kStopped);
            EXPECT_TRUE(anyFailureStopped);
        }
    }
}

}  // namespace
}  // namespace ostrivane
