// The stop request and the transfer figures of a run.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "core/copy_run.h"
#include "core/temp_tree.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::TempTree;

PathList List(std::vector<std::string> entries) {
    PathList list;
    list.assign(std::move(entries));
    return list;
}

// Every entry below `root` whose name is not that of a finished copy of ours.
std::vector<std::string> Temporaries(const std::string& root) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().filename().string().rfind(".ostrivane-", 0) == 0) found.push_back(e.path());
    return found;
}

// A copy abandoned by the stop request between two pieces of its data leaves nothing under
// the target's name and no temporary.
TEST(Stop, AbandonsACopyInProgressAndLeavesNothing) {
    TempTree t;
    const std::string big = t.write("big.bin", std::string(32 << 20, 'x'));
    t.mkdir("out");
    Folder out;
    ASSERT_EQ(OpenFolder(t.path("out"), out), 0);
    std::atomic<bool> stop{false};
    std::uint64_t copied = 0;
    CopyControl control;
    control.stop = &stop;
    control.copied = [&](std::uint64_t bytes) {
        copied += bytes;
        stop = true;  // asked while the first piece is written
    };
    EXPECT_EQ(CopyFileAt(nullptr, big, out, "big.bin", false, 0, &control), error::kStopped);
    EXPECT_GT(copied, 0u);
    EXPECT_LT(copied, 32u << 20);
    EXPECT_TRUE(fs::is_empty(t.path("out")));
}

// Stopped while a question is open: the file asked about is not replaced, nothing new
// starts, the later destination stays untouched, the result says so, and a second run
// completes the set.
TEST(Stop, EndsTheRunAndALaterRunCompletesIt) {
    TempTree t;
    for (int i = 0; i < 20; ++i) t.write("src/f" + std::to_string(i), "new" + std::to_string(i));
    t.write("one/src/f7", "old");
    t.mkdir("two");
    std::atomic<bool> stop{false};
    RunOptions options;
    options.stop = &stop;
    const RunResult stopped = CopyAll(
        List({t.path("src")}), List({t.path("one/"), t.path("two/")}), SameFilePolicy::Ask,
        [&](const std::string&) {
            stop = true;
            return true;
        },
        {}, false, options);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(ReadFile(t.path("one/src/f7")), "old");
    EXPECT_TRUE(fs::is_empty(t.path("two")));
    for (const Failure& failure : stopped.failures) EXPECT_EQ(failure.reason, ErrorText(error::kStopped));
    // Whatever stands under a final name is whole.
    for (const auto& e : fs::directory_iterator(t.path("one/src")))
        if (e.path().filename() != "f7")
            EXPECT_EQ(ReadFile(e.path()), "new" + e.path().filename().string().substr(1));
    const RunResult completed = CopyAll(List({t.path("src")}), List({t.path("one/"), t.path("two/")}),
                                        SameFilePolicy::Skip, {}, {}, false, RunOptions());
    EXPECT_FALSE(completed.stopped);
    EXPECT_TRUE(completed.failures.empty());
    for (int i = 0; i < 20; ++i) {
        if (i != 7) EXPECT_EQ(ReadFile(t.path("one/src/f" + std::to_string(i))), "new" + std::to_string(i));
        EXPECT_EQ(ReadFile(t.path("two/src/f" + std::to_string(i))), "new" + std::to_string(i));
    }
    EXPECT_TRUE(Temporaries(t.root()).empty());
}

// Emptying before the run obeys the stop request too: nothing after it is deleted or copied.
TEST(Stop, SetBeforeTheRunDeletesAndCopiesNothing) {
    TempTree t;
    const std::string file = t.write("src/a.txt", "a");
    t.write("out/keep.txt", "k");
    std::atomic<bool> stop{true};
    RunOptions options;
    options.stop = &stop;
    const RunResult result =
        CopyAll(List({file}), List({t.path("out/")}), SameFilePolicy::Overwrite, {}, {}, true, options);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(ReadFile(t.path("out/keep.txt")), "k");
    EXPECT_FALSE(Exists(t.path("out/a.txt")));
}

// The figures: files and bytes done add up at the end, destinations on one device share
// one entry that ends Done, and a short run is reported a few times, not once per file.
TEST(TransferFigures, AddUpPerRunAndPerDevice) {
    TempTree t;
    std::uint64_t bytes = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string content(100 + i, 'c');
        t.write("src/d" + std::to_string(i % 5) + "/f" + std::to_string(i), content);
        bytes += content.size();
    }
    const std::string single = t.write("single.txt", "12345");
    t.mkdir("one");
    t.mkdir("two");
    std::vector<TransferFigures> reports;
    RunOptions options;
    options.showTransfer = [&](const TransferFigures& figures) { reports.push_back(figures); };
    const RunResult result = CopyAll(List({t.path("src"), single}), List({t.path("one/"), t.path("two/")}),
                                     SameFilePolicy::Overwrite, {}, {}, false, options);
    ASSERT_TRUE(result.failures.empty());
    ASSERT_FALSE(reports.empty());
    const TransferFigures& last = reports.back();
    EXPECT_EQ(last.filesDone, 2u * 201);
    EXPECT_EQ(last.bytesDone, 2 * (bytes + 5));
    EXPECT_EQ(last.bytesPlanned, last.bytesDone);
    ASSERT_EQ(last.devices.size(), 1u);
    EXPECT_EQ(last.devices[0].folder, t.path("one/"));
    EXPECT_EQ(last.devices[0].bytesDone, last.bytesDone);
    EXPECT_EQ(last.devices[0].state, DeviceFigures::State::Done);
    EXPECT_LT(reports.size(), 20u);
    for (size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].bytesDone, reports[i - 1].bytesDone);
}

}  // namespace
}  // namespace ostrivane
