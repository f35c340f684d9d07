// The run figures' texts, the speed meter and what the window shows after each report.
#include "app/figures.h"
#include "app/texts.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

using namespace ostrivane;
using namespace ostrivane::app;

// The texts, as the status line example has them.
TEST(Figures, Texts) {
    TransferFigures run;
    run.filesDone = 1204;
    run.bytesDone = 3435973837;     // 3.2 GiB
    run.bytesPlanned = 8589934592;  // 8 GiB
    EXPECT_EQ(StatusLine(run, 58.0 * 1024 * 1024, 82.0),
              "已复制 1,204 个文件，3.2 GB / 8.0 GB，58 MB/s，剩余约 1 分 22 秒");
    EXPECT_EQ(StatusLine({}, 0, std::nullopt), "已复制 0 个文件，0 B / 0 B，0 B/s");
    // Planned never shows less than done; counts are grouped by threes.
    run.filesDone = 1234567;
    run.bytesPlanned = 0;
    run.bytesDone = 512;
    EXPECT_EQ(StatusLine(run, -5, std::nullopt), "已复制 1,234,567 个文件，512 B / 512 B，0 B/s");
    run.filesDone = 999;
    EXPECT_TRUE(StatusLine(run, 0, std::nullopt).starts_with("已复制 999 个文件，"));

    EXPECT_EQ(ByteText(0), "0 B");
    EXPECT_EQ(ByteText(1023), "1023 B");
    EXPECT_EQ(ByteText(1024), "1.0 KB");
    EXPECT_EQ(ByteText(10 * 1024 * 1024 - 1), "10 MB");
    EXPECT_EQ(ByteText(static_cast<std::uint64_t>(9.94 * 1024 * 1024)), "9.9 MB");
    EXPECT_EQ(ByteText(~std::uint64_t{0}), "16384 PB");
    EXPECT_EQ(SpeedText(1536.4), "1.5 KB/s");
    EXPECT_EQ(RemainingText(44.2), "剩余约 45 秒");
    EXPECT_EQ(RemainingText(60), "剩余约 1 分 0 秒");
    EXPECT_EQ(RemainingText(3600 + 5 * 60 + 59), "剩余约 1 小时 5 分");
    EXPECT_EQ(RemainingText(-3), "剩余约 0 秒");
    EXPECT_EQ(RemainingText(1e300), "剩余约 277777 小时 46 分");
    EXPECT_EQ(StateText(DeviceFigures::State::Waiting), "等待中");
    EXPECT_EQ(StateText(DeviceFigures::State::Copying), "复制中");
    EXPECT_EQ(StateText(DeviceFigures::State::Flushing), "正在写入磁盘");
    EXPECT_EQ(StateText(DeviceFigures::State::Done), "完成");
    EXPECT_EQ(StateText(DeviceFigures::State::Failed), "失败");
}

TEST(Figures, ScaleBytesStopsAtTheLastUnit) {
    EXPECT_EQ(ScaleBytes(1023).unit, 0);
    EXPECT_EQ(ScaleBytes(1024).unit, 1);
    EXPECT_EQ(ScaleBytes(1024).value, 1.0);
    EXPECT_EQ(ScaleBytes(std::uint64_t{1} << 50).unit, 5);
    const ScaledBytes largest = ScaleBytes(~std::uint64_t{0});
    EXPECT_EQ(largest.unit, 5);
    EXPECT_DOUBLE_EQ(largest.value, 16384.0);
}

// The window sets the C library's locale from the user's: a decimal comma there must not
// reach the figures.
TEST(Figures, ByteTextIgnoresTheLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "German_Germany.1252"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            comma = *std::localeconv()->decimal_point == ',';
            if (comma) break;
        }
    }
    const std::string text = ByteText(3435973837);
    std::setlocale(LC_ALL, before.c_str());
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma here";
    EXPECT_EQ(text, "3.2 GB");
}

// The speed spans the last five seconds only: a stall shows.
TEST(Figures, RateMeterSpansTheLastSeconds) {
    RateMeter meter;
    EXPECT_EQ(meter.rate(), 0.0);
    meter.add(0, 0);
    EXPECT_EQ(meter.rate(), 0.0);
    meter.add(1, 100);
    EXPECT_EQ(meter.rate(), 100.0);
    for (int second = 2; second <= 10; ++second) meter.add(second, 100 + (second - 1) * 10);
    EXPECT_EQ(meter.rate(), 10.0);
    for (int second = 11; second <= 20; ++second) meter.add(second, 190);
    EXPECT_EQ(meter.rate(), 0.0);
    meter.clear();
    EXPECT_EQ(meter.rate(), 0.0);
}

// The remaining time only from a total known before the run or the engine's estimate, and
// only after estimateAfter seconds; the devices only when there are several.
TEST(Figures, TrackerEstimatesOnlyFromAKnownTotal) {
    RunFiguresTracker tracker;
    tracker.begin();
    EXPECT_EQ(RunFiguresTracker::InitialStatusLine(), "已复制 0 个文件，0 B / 0 B，0 B/s");
    TransferFigures run;
    run.bytesDone = run.bytesPlanned = 1 << 20;
    run.devices.resize(1);
    ShownFigures shown = tracker.update(4, run);
    EXPECT_EQ(shown.statusLine, "已复制 0 个文件，1.0 MB / 1.0 MB，256 KB/s");
    EXPECT_TRUE(shown.devices.empty());

    // The engine's figure of the whole run, once a destination is complete: 2 MiB to go at
    // 256 KiB/s.
    run.bytesExpected = 3 << 20;
    shown = tracker.update(4, run);
    EXPECT_EQ(shown.statusLine, "已复制 0 个文件，1.0 MB / 3.0 MB，256 KB/s，剩余约 8 秒");

    // Too early for an estimate.
    RunFiguresTracker early;
    early.begin();
    EXPECT_EQ(early.update(1.5, run).statusLine.find("剩余"), std::string::npos);
    EXPECT_NE(early.update(2.0, run).statusLine.find("剩余"), std::string::npos);

    // A total from before the run serves without the engine's; begin() forgets it.
    RunFiguresTracker listed;
    listed.begin();
    listed.setTotal(4 << 20);
    run.bytesExpected = 0;
    EXPECT_EQ(listed.update(4, run).statusLine,
              "已复制 0 个文件，1.0 MB / 4.0 MB，256 KB/s，剩余约 12 秒");
    listed.begin();
    EXPECT_EQ(listed.update(4, run).statusLine.find("剩余"), std::string::npos);

    // Nothing left to copy: no estimate.
    run.bytesDone = 4 << 20;
    listed.setTotal(4 << 20);
    EXPECT_EQ(listed.update(8, run).statusLine.find("剩余"), std::string::npos);
}

TEST(Figures, TrackerRowsForSeveralDevices) {
    RunFiguresTracker tracker;
    tracker.begin();
    TransferFigures run;
    run.devices = {{"/media/a/", 1 << 20, DeviceFigures::State::Copying},
                   {"/media/b/", 0, DeviceFigures::State::Waiting}};
    ShownFigures shown = tracker.update(1, run);
    ASSERT_EQ(shown.devices.size(), 2u);
    EXPECT_TRUE(shown.devicesChanged);
    EXPECT_EQ(shown.devices[0].folder, "/media/a/");
    EXPECT_EQ(shown.devices[0].bytes, "1.0 MB");
    EXPECT_EQ(shown.devices[0].speed, "0 B/s");  // one sample only
    EXPECT_EQ(shown.devices[0].state, "复制中");
    EXPECT_EQ(shown.devices[1].speed, "");  // only a copying device has a speed
    EXPECT_EQ(shown.devices[1].state, "等待中");

    run.devices[0].bytesDone = 3 << 20;
    run.devices[1].state = DeviceFigures::State::Copying;
    shown = tracker.update(2, run);
    EXPECT_FALSE(shown.devicesChanged);
    EXPECT_EQ(shown.devices[0].speed, "2.0 MB/s");
    EXPECT_EQ(shown.devices[1].speed, "0 B/s");

    run.devices.push_back({"/media/c/", 0, DeviceFigures::State::Done});
    shown = tracker.update(3, run);
    EXPECT_TRUE(shown.devicesChanged);
    EXPECT_EQ(shown.devices[2].state, "完成");
}

// With the run's amount counted, the remaining time is the slowest device's, a device whose
// destinations have all had their turn reads as done at once, the bar follows the bytes, and
// a run that kept files says how many; at the end no remaining time is shown.
TEST(Figures, TrackerTakesTheSlowestDeviceAndTellsAFinishedOne) {
    RunFiguresTracker tracker;
    tracker.estimateAfter = 0;
    tracker.begin();
    TransferFigures run;
    run.amountKnown = true;
    run.bytesExpected = 200 << 20;
    run.devices = {{"/disk/", 0, DeviceFigures::State::Copying},
                   {"/stick/", 0, DeviceFigures::State::Copying}};
    run.devices[0].bytesExpected = run.devices[1].bytesExpected = 100 << 20;
    tracker.update(0, run);
    // After 10 seconds the disk has 90 MB (9 MB/s), the stick 10 MB (1 MB/s): 90 s left.
    run.devices[0].bytesDone = 90 << 20;
    run.devices[1].bytesDone = 10 << 20;
    run.bytesDone = run.bytesPlanned = 100 << 20;
    run.filesDone = 3;
    run.filesKept = 2;
    ShownFigures shown = tracker.update(10, run);
    EXPECT_NE(shown.statusLine.find("，已跳过 2 个同名文件"), std::string::npos) << shown.statusLine;
    EXPECT_NE(shown.statusLine.find("100 MB / 200 MB"), std::string::npos) << shown.statusLine;
    EXPECT_NE(shown.statusLine.find("剩余约 1 分 30 秒"), std::string::npos) << shown.statusLine;
    EXPECT_EQ(shown.percent, 50);
    // The disk is through: it says so while the stick goes on.
    run.devices[0].bytesDone = 100 << 20;
    run.devices[0].finished = true;
    run.devices[1].bytesDone = 11 << 20;
    run.bytesDone = 111 << 20;
    shown = tracker.update(11, run);
    ASSERT_EQ(shown.devices.size(), 2u);
    EXPECT_EQ(shown.devices[0].state, kStateDone);
    EXPECT_EQ(shown.devices[0].speed, "");
    EXPECT_EQ(shown.devices[1].state, kStateCopying);
    EXPECT_NE(shown.statusLine.find("剩余约 1 分 29 秒"), std::string::npos) << shown.statusLine;
    // The end: every device done, no remaining time.
    for (DeviceFigures& device : run.devices) {
        device.bytesDone = 100 << 20;
        device.state = DeviceFigures::State::Done;
    }
    run.bytesDone = 200 << 20;
    shown = tracker.update(12, run);
    EXPECT_EQ(shown.statusLine.find("剩余"), std::string::npos) << shown.statusLine;
    EXPECT_EQ(shown.percent, 100);
    // Without a known amount the bar keeps the pairs.
    tracker.begin();
    EXPECT_EQ(tracker.update(1, TransferFigures()).percent, -1);
}
