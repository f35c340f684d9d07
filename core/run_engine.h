// The run engine: runs the steps of a copy run or an emptying, planned in the described
// order, on a bounded set of writer threads, one queue per destination device, so that
// every device is busy at once. A step starts only when no earlier unfinished step
// overlaps it, so the outcome is the one of the described order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/fsops.h"

namespace ostrivane {

// One step of a run: the queue (destination device) it writes to and its work.
struct EngineStep {
    int queue = 0;
    std::function<void()> work;
};

// True when step `later` must wait for the unfinished step `earlier` (earlier < later).
using StepsConflict = std::function<bool(std::size_t earlier, std::size_t later)>;

// Runs `steps`, at most writersPerQueue[q] of queue q at once and at most kMaxWriterThreads
// in all; a step waits for every earlier unfinished step that `conflicts` names. With one
// writer in all the steps run in order on the calling thread; otherwise every step runs on
// a writer thread while the calling thread waits. When a step throws, no step
// after it starts; the steps running end, and the exception of the earliest step that
// threw passes on. Threads wait on a condition, never spin. Returns the most steps that ran
// at once.
int RunSteps(std::vector<EngineStep>& steps, const std::vector<int>& writersPerQueue,
              const StepsConflict& conflicts);

inline constexpr int kMaxWriterThreads = 32;

// Runs each(0) .. each(count - 1), independent of one another, on at most `writers`
// writers at once (RunSteps with one queue and nothing in conflict).
void RunEachAtOnce(std::size_t count, int writers, const std::function<void(std::size_t)>& each);

// Writers worth giving one device at once to begin with: one on a device whose queue says it
// rotates (seeks between files may cost more than they gain; many virtual machines' disks
// and USB bridges say so too, which is why a copy run then measures: WriterGate),
// kFastDeviceWriters on anything else (SSD, NVMe, RAM file systems, network and FUSE file
// systems). `requested` > 1 is taken as it is.
inline constexpr int kFastDeviceWriters = 4;
int WritersForDevice(std::uint64_t device, int requested);

// How many writers copy to one device at once, adjusted while the run goes on by what the
// device delivers: files and bytes per second (a file counting as kFileCost bytes). It
// starts at `start` and tries one writer more or one fewer, window after
// window: one more is kept only when it brings at least `gain` times as much, one fewer
// when it keeps at least `keep` times as much for two windows in a row. A device that does
// not get faster with more writers (a single-queue device, a USB stick, a rotating disk) so
// settles at one; one that does grows up to `most`. After a refused try the next waits twice as many windows as
// the last wait (at most 64 after one more, 8 after one fewer), so a settled device is
// seldom disturbed.
class WriterGate {
  public:
    struct Tuning {
        std::chrono::steady_clock::duration window = std::chrono::milliseconds(500);
        int windowFiles = 16;  // at least this many files finish in a window
        double gain = 1.10;
        double keep = 0.95;
    };
    static constexpr double kFileCost = 64 * 1024;
    WriterGate(int start, int most) : WriterGate(start, most, Tuning{}) {}
    WriterGate(int start, int most, Tuning tuning);
    WriterGate(const WriterGate&) = delete;
    WriterGate& operator=(const WriterGate&) = delete;

    // Waits until one more writer may copy to the device.
    void enter();
    // A writer's copy ended (`finished`: a file was made).
    void leave(bool finished);
    // A copy of `bytes` began.
    void opened(std::uint64_t bytes) { windowBytes_ += bytes; }
    // The writers allowed at once now.
    int limit() const;

    // Holds a place in the gate (none when null) for one copy.
    class Pass {
      public:
        explicit Pass(WriterGate* gate) : gate_(gate) {
            if (gate_) gate_->enter();
        }
        ~Pass() {
            if (gate_) gate_->leave(finished);
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        bool finished = false;

      private:
        WriterGate* gate_;
    };

  private:
    bool tryEnter();
    // Both with mutex_ held.
    void endWindow(std::chrono::steady_clock::time_point now);
    void setLimit(int limit);

    const int most_;
    const Tuning tuning_;
    std::mutex mutex_;  // guards the choice of the limit and the waits
    std::condition_variable freed_;
    std::atomic<int> limit_, running_{0}, waiting_{0};
    std::atomic<std::chrono::steady_clock::rep> windowStart_;
    std::atomic<int> windowFiles_{0};
    std::atomic<std::uint64_t> windowBytes_{0};
    // The rate at the limit before a try, the limit tried from (0: no try under way), the
    // direction of the next try, the windows to wait before it and the wait after the next
    // refused try.
    double settledRate_ = 0;
    int triedFrom_ = 0;
    int confirmed_ = 0;  // windows that kept a try of one fewer so far
    int nextStep_ = -1;
    int wait_ = 0, upBackoff_ = 1, downBackoff_ = 1;
};

// Where a step reads or writes: a folder by its identity, with the identities of the
// folders above it up to the file-system root (through its canonical path, so a folder
// reached by a link is recognised by what it is), and by its places (PlacesOf), so that a
// folder reached through a bind mount, or spelled otherwise on a file system that folds
// names or gives each spelling an identity of its own (exfat-fuse), is recognised too.
struct FolderFootprint {
    bool known = false;                // the folder exists; else `chain` holds the nearest
                                       // existing folder above it and what is above that
    std::vector<FileIdentity> chain;   // the folder (when known) first, then upwards
    // The folder's place first (for a folder not made yet, the place it will have), then
    // the root of every mount below it; empty when the place cannot be told.
    std::vector<FolderPlace> places;
    // True when `id` is this folder or a folder above it.
    bool within(const FileIdentity& id) const;
    // True when this folder and `other` may reach one place (one holds the other or is it,
    // through any mount or spelling); true when either place cannot be told.
    bool sharesPlaceWith(const FolderFootprint& other) const;
};

// The footprint of the folder (or file) `path`.
FolderFootprint FootprintOf(const std::string& path);

// True when one of the two folders holds the other or is it (by identity or by place), or
// when either is unknown.
bool FootprintsOverlap(const FolderFootprint& a, const FolderFootprint& b);

// True when the folder shows a place of its own tree again through a mount inside it (or a
// mount inside it shows what another one shows): writers in separate subfolders of it could
// then write into one folder, so its tree keeps one writer.
bool FootprintOverlapsItself(const FolderFootprint& footprint);

}  // namespace ostrivane
