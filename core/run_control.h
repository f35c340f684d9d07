// What a run obeys and reports while it works: the stop request and the transfer figures.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/fsops.h"

namespace ostrivane {

// The figures of one destination device (the file system that holds destination folders).
struct DeviceFigures {
    std::string folder;  // the first destination folder on the device
    std::uint64_t bytesDone = 0;
    enum class State { Waiting, Copying, Flushing, Done, Failed } state = State::Waiting;
};

// The figures of a run so far. `bytesPlanned` counts the files met so far (the run does not
// walk its sources twice just to count them), so it grows while the run goes on.
struct TransferFigures {
    std::uint64_t filesDone = 0, bytesDone = 0, bytesPlanned = 0;
    std::vector<DeviceFigures> devices;
};

// Receives the figures: at most about 10 times a second while the run goes on, and once at
// its end. Runs on the thread of the run.
using ShowTransfer = std::function<void(const TransferFigures&)>;

struct RunOptions {
    int maxWriters = 0;                       // 0: the engine's choice; 1: one writer, the described order
    const std::atomic<bool>* stop = nullptr;  // another thread sets it to stop the run
    ShowTransfer showTransfer;                // optional
};

// The stop request and the figures of one run. The run asks stopRequested() before each
// step; copies get a CopyControl that abandons them when the request comes and counts
// their bytes.
class RunControl {
  public:
    explicit RunControl(const RunOptions& options);

    // True once the stop request is set; the run then starts nothing new.
    bool stopRequested();
    // True when the run saw the stop request and left work undone.
    bool stopped() const { return stopped_; }
    // Tells that a step was left undone because of the stop request.
    void markStopped() { stopped_ = true; }

    // Registers the destination folders, in list order, with the device of each (0 when
    // unknown); destinations on one device share one DeviceFigures.
    void addDestination(const std::string& folder, std::uint64_t device);
    // The run works on destination `index` now.
    void beginDestination(int index);
    // Every destination on the devices is being flushed / flushed with this outcome.
    void beginFlush();
    void endFlush(const std::vector<std::uint64_t>& failedDevices);

    // The control for one copy into destination `index`; null when the run has neither a
    // stop request nor a figures hook, so that such copies run uncontrolled.
    const CopyControl* copyControl(int index);
    // One file was copied.
    void fileDone();
    // Reports the figures now, whatever the time since the last report.
    void report();

  private:
    void reportSoon();

    const std::atomic<bool>* stop_;
    ShowTransfer showTransfer_;
    bool stopped_ = false;
    TransferFigures figures_;
    std::vector<std::uint64_t> deviceIds_;  // per entry of figures_.devices
    std::vector<int> deviceOf_;              // per destination
    int current_ = -1;                       // device index of the destination being copied
    CopyControl control_;
    std::chrono::steady_clock::time_point lastReport_{};
};

// Makes one copy through `copy`, which gets the run's control for destination `index`;
// counts the copy when it is done and notes a copy the stop request abandoned.
template <typename Copy>
int CountedCopy(RunControl& run, int index, Copy copy) {
    const int error = copy(run.copyControl(index));
    if (error == 0) run.fileDone();
    if (error == error::kStopped) run.markStopped();
    return error;
}

}  // namespace ostrivane
