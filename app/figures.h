// The live figures of a run as the windows show them: the status line under the progress bar
// ("已复制 1,204 个文件，3.2 GB / 8.0 GB，58 MB/s，剩余约 1 分 22 秒") and, when the
// destinations lie on several devices, one row per device with its folder, bytes, speed and
// state. The figures come from the copy run's transfer hook; nothing here walks a folder or
// reads a clock: the window passes the seconds since the run began.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/run_control.h"

namespace ostrivane::app {

// A byte count scaled to the largest binary unit (1024) it reaches, B up to PB: the value in
// that unit and the unit's index (0 B, 1 KB, ... 5 PB). Every front end's byte figures start
// from it; each has its own unit names and decimals.
struct ScaledBytes {
    double value;
    int unit;
};
ScaledBytes ScaleBytes(std::uint64_t bytes);

// A byte count in binary units with one decimal below 10: "512 B", "3.2 KB", "58 MB",
// "8.0 GB". Never depends on the locale (the decimal point is always ".").
std::string ByteText(std::uint64_t bytes);
// A speed: ByteText of the rate rounded to whole bytes + "/s"; a negative rate shows as 0.
std::string SpeedText(double bytesPerSecond);
// "剩余约 45 秒", "剩余约 1 分 22 秒", "剩余约 2 小时 5 分" (seconds rounded up; below 0 as
// 0, above 1e9 seconds as 1e9, so the figure stays a number).
std::string RemainingText(double seconds);
// 等待中, 复制中, 正在写入磁盘, 完成, 失败 (texts.h).
std::string StateText(DeviceFigures::State state);
// The status line: files done (grouped by threes with ","), bytes done of bytes planned
// (never less than the bytes done), the speed and, when given, the remaining time.
std::string StatusLine(const TransferFigures& figures, double bytesPerSecond,
                       std::optional<double> remainingSeconds);

// The speed of a growing byte count over the last few seconds.
class RateMeter {
  public:
    // Adds the count `bytes` reached at `seconds` since the start (the seconds never
    // decrease; the bytes fall back when a copy under way fails and gives its bytes back).
    void add(double seconds, std::uint64_t bytes);
    // Bytes per second over the samples kept (at most the last kWindow seconds, with one
    // sample at or before the window's start); 0 before two samples lie apart.
    double rate() const;
    void clear() { samples_.clear(); }

    static constexpr double kWindow = 5.0;

  private:
    std::deque<std::pair<double, std::uint64_t>> samples_;
};

// One row of the device view.
struct DeviceRow {
    std::string folder;  // the device's first destination folder, in file-name bytes
    std::string bytes;   // ByteText of the bytes written there
    std::string speed;   // SpeedText while it copies; empty in every other state
    std::string state;   // StateText
};

// What the window shows after one report of the figures.
struct ShownFigures {
    std::string statusLine;
    // Shown only when the destinations lie on several devices; empty (and the device view
    // hidden) otherwise.
    std::vector<DeviceRow> devices;
    // True when the rows are for other devices than the previous report's (the first report
    // with several devices, or their number changed): the window rebuilds its rows then and
    // only updates their texts otherwise.
    bool devicesChanged = false;
    // The bytes done of the run's whole amount, 0 to 100, where that amount is known; -1
    // otherwise (the bar then counts the finished pairs of destination and source).
    int percent = -1;
};

// The figures of one run turned into what the window shows: the speeds over the last
// seconds, the total the remaining time is estimated from, and the rows of the devices.
// Used on the window's thread only.
class RunFiguresTracker {
  public:
    // Starts a run at 0 seconds with nothing copied: no total, no rows.
    void begin();
    // The bytes the whole run will copy, when known before it (every source a file): the
    // engine's own figure counts only the files it has met so far, which would make any
    // estimate of the remaining time too short. Without it (and before the engine knows
    // bytesExpected) no remaining time is shown.
    void setTotal(std::uint64_t bytes) { total_ = bytes; }
    // The window's view of `figures`, reported `seconds` after begin(). The bytes planned
    // shown are the largest of the engine's, setTotal's and bytesExpected; the remaining time
    // is estimated only from estimateAfter seconds on, with a speed above 0 and bytes still
    // to come.
    ShownFigures update(double seconds, const TransferFigures& figures);
    // The status line before any report: nothing copied yet.
    static std::string InitialStatusLine();

    // The remaining time is estimated once the run has gone this long (seconds).
    double estimateAfter = 2.0;

  private:
    RateMeter rate_;
    std::optional<std::uint64_t> total_;
    std::vector<RateMeter> perDevice_;
};

}  // namespace ostrivane::app
