// The live figures of a run as the window shows them: the status line under the progress bar
// ("已复制 1,204 个文件，3.2 GB / 8.0 GB，58 MB/s，剩余约 1 分 22 秒") and, when the
// destinations lie on several devices, one row per device with its folder, bytes, speed and
// state. The figures come from the copy run's transfer hook; nothing here walks a folder.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "core/run_control.h"

class QLabel;
class QTreeWidget;

namespace ostrivane {

namespace figures {

// A byte count in binary units with one decimal below 10: "512 B", "3.2 KB", "58 MB",
// "8.0 GB".
QString ByteText(std::uint64_t bytes);
// A speed: ByteText + "/s".
QString SpeedText(double bytesPerSecond);
// "剩余约 45 秒", "剩余约 1 分 22 秒", "剩余约 2 小时 5 分" (seconds rounded up).
QString RemainingText(double seconds);
// 等待中, 复制中, 正在写入磁盘, 完成, 失败.
QString StateText(DeviceFigures::State state);
// The status line: files done (with thousands separators), bytes done of bytes planned,
// the speed and, when given, the remaining time.
QString StatusLine(const TransferFigures& figures, double bytesPerSecond,
                   std::optional<double> remainingSeconds);

}  // namespace figures

// The speed of a growing byte count over the last few seconds.
class RateMeter {
  public:
    // Adds the count `bytes` reached at `seconds` since the start (both never decrease).
    void add(double seconds, std::uint64_t bytes);
    // Bytes per second over the samples kept (at most the last kWindow seconds); 0 before
    // two samples lie apart.
    double rate() const;
    void clear() { samples_.clear(); }

    static constexpr double kWindow = 5.0;

  private:
    std::deque<std::pair<double, std::uint64_t>> samples_;
};

// Shows one run's figures in the window's status line and device view. Call begin() when
// the run starts, show() with every report (on the window's thread) and end() afterwards.
class RunFiguresView {
  public:
    RunFiguresView(QLabel* status, QTreeWidget* devices);

    void begin();
    // The bytes the whole run will copy, when known before it (every source a file): the
    // engine's own figure counts only the files it has met so far, which would make any
    // estimate of the remaining time too short. Without it no remaining time is shown.
    void setTotal(std::uint64_t bytes) { total_ = bytes; }
    void show(const TransferFigures& figures);
    // Clears the status line and hides the device view.
    void end();

    // The remaining time is estimated once the run has gone this long (seconds).
    double estimateAfter = 2.0;
    // True while the device view is shown (the destinations lie on several devices).
    bool showsDevices() const;

  private:
    double elapsed() const;

    QLabel* status_;
    QTreeWidget* devices_;
    QElapsedTimer clock_;
    RateMeter rate_;
    std::optional<std::uint64_t> total_;
    std::vector<RateMeter> perDevice_;
};

}  // namespace ostrivane
