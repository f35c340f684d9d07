// What a run obeys and reports while it works: the stop request and the transfer figures.
// Several writers of one run share one RunControl; every member may be called from any of
// them at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/fsops.h"
#include "core/run_engine.h"

namespace ostrivane {

// The figures of one destination device (the file system that holds destination folders).
struct DeviceFigures {
    std::string folder;  // the first destination folder on the device
    std::uint64_t bytesDone = 0;
    // Verifying: the run's copies on the device are read back and compared with their sources.
    enum class State { Waiting, Copying, Flushing, Verifying, Done, Failed } state = State::Waiting;
    // The device's whole amount once the sources are counted (their bytes times the
    // destinations on the device); 0 until then.
    std::uint64_t bytesExpected = 0;
    // Every destination on the device has had its turn: nothing more is copied there (the
    // flush at the run's end may still come).
    bool finished = false;
    // Seconds the device has been written to: from its first copy to now, or to when it
    // finished.
    double seconds = 0;
};

// The figures of a run so far. `bytesPlanned` counts the files met so far (the run does not
// walk its sources twice just to count them), so it grows while the run goes on.
// `bytesExpected` is the run's whole amount once it can be told without a walk of its own:
// every destination gets the same sources, so when one destination is complete, its bytes
// times the destinations (at least bytesPlanned); 0 until then.
//
// `filesDone` counts the copies that stand complete under their final names, `bytesDone`
// their bytes plus what the copies under way have written so far: a copy that fails or is
// stopped gives its bytes back, and a copy the check after write removed is taken out of
// both. Once the run has ended they are what stands on the destinations, the figures every
// front end's summary gives as copied.
struct TransferFigures {
    std::uint64_t filesDone = 0, bytesDone = 0, bytesPlanned = 0, bytesExpected = 0;
    std::uint64_t bytesVerified = 0;  // copies read back from their devices so far
    std::vector<DeviceFigures> devices;
    // The sources are counted in the background while the run copies; once the count is
    // complete, amountKnown is true, filesExpected is the run's whole number of file copies
    // (the sources' files times the destinations) and bytesExpected its whole amount.
    bool amountKnown = false;
    std::uint64_t filesExpected = 0;
    // Files the run has dealt with (copied, kept as they stood, or failed), and of them the
    // ones kept because a file of that name stood there (Skip, a No answer). Once the amount
    // is known, filesExpected - filesHandled files were left undone (a stop, or a run that
    // ended early).
    std::uint64_t filesHandled = 0, filesKept = 0;
    double seconds = 0;  // since the run began
};

// The run's remaining time in seconds, or a negative number while it cannot be told (no
// whole amount yet, nothing copied yet). With the amount known, each device that has not
// finished needs its remaining bytes at its own rate so far (a device not started yet: the
// run's rate), and the slowest device decides; otherwise the whole remaining amount at the
// run's rate.
double RemainingSeconds(const TransferFigures& figures);

// Receives the figures: at most about 10 times a second while the run goes on, and once at
// its end. It may be called on any thread of the run, never by two at once.
using ShowTransfer = std::function<void(const TransferFigures&)>;

struct RunOptions {
    // Writers per destination device. 0: the engine's choice (several on a device that gains
    // from it, one on a rotating disk); 1: one writer for the whole run, in the described
    // order; n > 1: at most n per device.
    int maxWriters = 0;
    const std::atomic<bool>* stop = nullptr;  // another thread sets it to stop the run
    ShowTransfer showTransfer;                // optional
    // Every copy the run made is read back from its device after the run's flush and
    // compared with the source's bytes as the run read them (CopyAll says what a copy that
    // differs becomes).
    bool verify = false;
    // The run keeps the hash of every file it copied, for RunResult::hashes.
    bool listHashes = false;
};

class CopyLedger;

// The stop request and the figures of one run. The run asks stopRequested() before each
// step; copies get a CopyControl that abandons them when the request comes and counts
// their bytes.
class RunControl {
  public:
    explicit RunControl(const RunOptions& options);
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // True once the stop request is set; the run then starts nothing new.
    bool stopRequested();
    // True when the run saw the stop request and left work undone.
    bool stopped() const { return stopped_.load(); }
    // Tells that a step was left undone because of the stop request.
    void markStopped() { stopped_.store(true); }

    // Registers the destination folders, in list order, with the device of each (0 when
    // unknown); destinations on one device share one DeviceFigures. Call before the run's
    // writers start.
    void addDestination(const std::string& folder, std::uint64_t device);
    // The device figures index of destination `index`.
    int deviceOf(int index) const { return destinations_.at(static_cast<size_t>(index)).device; }
    // Writers that may copy the subfolders of one source folder into destination `index`
    // at once (1 unless set).
    void setTreeWriters(std::vector<int> writers) { treeWriters_ = std::move(writers); }
    int treeWriters(int index) const {
        return static_cast<size_t>(index) < treeWriters_.size()
                   ? treeWriters_[static_cast<size_t>(index)]
                   : 1;
    }
    // Copies to each device pass its WriterGate, which begins at start[device] writers and
    // may grow to `most` (copies pass no gate unless set). Call before the run's writers
    // start.
    void adaptWriters(const std::vector<int>& start, int most);
    // The gate of destination `index`'s device; null when there is none.
    WriterGate* writerGate(int index) {
        if (gates_.empty()) return nullptr;
        return gates_.at(static_cast<size_t>(deviceOf(index))).get();
    }
    // A writer works on destination `index` now.
    void beginDestination(int index);
    // Every destination on the devices is being flushed / flushed with this outcome.
    void beginFlush();
    void endFlush(const std::vector<std::uint64_t>& failedDevices);

    // The control for one copy into destination `index`; null when the run has neither a
    // stop request nor a figures hook nor a temporary folder, so that such copies run
    // uncontrolled.
    const CopyControl* copyControl(int index);
    // Copies into destination `index` write their named temporaries in `folder` (the
    // destination folder, open until it is set again; null: beside each target). Set by
    // the writer of that destination before its copies start.
    void setTemporaryFolder(int index, const Folder* folder) {
        destinations_.at(static_cast<size_t>(index)).control.temporaryFolder = folder;
    }
    const Folder* temporaryFolder(int index) const {
        return destinations_.at(static_cast<size_t>(index)).control.temporaryFolder;
    }
    // One copy into destination `index` begins on the calling thread / has ended there with
    // `error` (0: it stands under its final name). CountedCopy calls both around each copy:
    // a copy that failed gives back the bytes it wrote, and one that found its device full
    // tells the device how large a copy did not fit.
    void copyBegins();
    void copyEnded(int index, int error);
    // A copy of `bytes` into destination `index` that was counted as done is gone again (the
    // check after write removed it).
    void copyRemoved(int index, std::uint64_t bytes);
    // Where the copies of the run are noted for their check (null: nowhere, and copies are
    // not hashed). Set before the writers start.
    void setLedger(CopyLedger* ledger) {
        ledger_ = ledger;
        for (Destination& destination : destinations_)
            destination.control.sourceHashes = ledger ? &sourceHashes_ : nullptr;
    }
    bool keepsCopies() const { return ledger_ != nullptr; }
    // The copy `name` in the folder `folderPath` (shown, ending with the separator) of
    // destination `index`, made from the source at `sourcePath`, stands under its final name.
    void copyPlaced(int index, const std::string& folderPath, const std::string& name,
                    const std::string& sourcePath, const PlacedCopy& placed);
    // The copies on the devices `devices` (figures indexes) are read back now.
    void beginVerify(const std::vector<int>& devices);
    // `bytes` more were read back.
    void verifiedBytes(std::uint64_t bytes);
    // Device `device` is checked; `failed` when a copy on it differed or could not be read.
    void endVerify(int device, bool failed);
    // Every source has been handled for destination `index` (not cut short by a stop).
    void destinationComplete(int index);
    // The writer of destination `index` is done with it, whatever the outcome.
    void destinationEnded(int index);
    // One file was dealt with for destination `index`; `kept`: an existing file of that name
    // was kept instead of it.
    void fileHandled(int index, bool kept);
    // The count of the sources is complete: what one destination gets.
    void setSourceAmount(std::uint64_t files, std::uint64_t bytes);
    // The run is complete: what it met is its whole amount where the count did not end.
    void amountFromRun();
    // Reports the figures now, whatever the time since the last report.
    void report();

    // A copy of `size` bytes into destination `index` found its device full: from now on a
    // copy of that size or more to that device is tried only where the device has room for
    // it (CopyMayFit); the others fail untried with error::kDeviceFull.
    void deviceFull(int index, std::uint64_t size);

  private:
    // The counters of one destination: mostly one writer's own, so that writers on other
    // destinations do not contend for them; a device's figures are their sums.
    struct Destination {
        int device = 0;
        std::atomic<std::uint64_t> filesDone{0}, bytesDone{0}, bytesPlanned{0};
        std::atomic<std::uint64_t> filesHandled{0}, filesKept{0};
        CopyControl control;
    };
    void reportSoon();

    // True when a copy of `size` bytes into `destination` may be tried.
    bool roomFor(const Destination& destination, std::uint64_t size) const;

    const std::atomic<bool>* stop_;
    ShowTransfer showTransfer_;
    // Per device: the smallest copy that found it full (kNoneFull while none did).
    std::deque<std::atomic<std::uint64_t>> smallestFull_;
    std::atomic<bool> anyDeviceFull_{false};
    std::atomic<bool> stopped_{false};
    std::deque<Destination> destinations_;  // stable addresses: copies hold their control
    std::vector<std::uint64_t> deviceIds_;  // per device
    std::vector<int> treeWriters_;          // per destination
    std::vector<std::unique_ptr<WriterGate>> gates_;  // per device
    // Guards the device folders and states, and serialises the hook's calls.
    std::mutex mutex_;
    std::vector<DeviceFigures> figures_;
    std::atomic<std::int64_t> lastReport_{0};  // steady clock, nanoseconds
    std::uint64_t completeBytes_ = 0;  // the most bytes of a complete destination (mutex_)
    CopyLedger* ledger_ = nullptr;
    SharedSourceHashes sourceHashes_;
    std::atomic<std::uint64_t> bytesVerified_{0};
    // Per device: its destinations, and those whose writer is done (mutex_).
    std::vector<int> destinationsOnDevice_, destinationsEnded_;
    // Per device: when its first copy began and when it finished (steady clock, ns; 0: not
    // yet) (mutex_).
    std::vector<std::int64_t> deviceBegan_, deviceFinished_;
    std::int64_t began_ = 0;  // when the run began
    // The count of one destination's sources, once complete (mutex_).
    bool amountKnown_ = false;
    std::uint64_t sourceFiles_ = 0, sourceBytes_ = 0;
};

// Whether a copy of `size` bytes may be tried on a device where a copy of `smallestFull`
// bytes already failed for lack of space (kNoneFull: none did). Nothing that may fit is
// refused untried: an empty file is always tried (it takes no data blocks), and so is a copy
// smaller than the one that failed (the space left may hold it, whatever the file system
// says of its free space). A copy as large or larger is tried only where the space the
// process may use is known (`spaceKnown`) and holds it beside a margin for the file
// system's own blocks: `freeBytes` and `freeEntries` as FreeSpaceAt tells them.
inline constexpr std::uint64_t kNoneFull = UINT64_MAX;
bool CopyMayFit(std::uint64_t size, std::uint64_t smallestFull, bool spaceKnown,
                std::uint64_t freeBytes, std::uint64_t freeEntries);

// Makes one copy through `copy`, which gets the run's control for destination `index`;
// counts the copy when it is done and notes a copy the stop request abandoned.
// `copy` gets the run's control and, when the run keeps its copies, where the copy tells
// what it placed: the copy `name` in `folderPath` (shown, ending with the separator) of the
// source at `sourcePath`.
template <typename Copy>
int CountedCopy(RunControl& run, int index, const std::string& folderPath, const std::string& name,
                const std::string& sourcePath, Copy copy) {
    PlacedCopy placed;
    WriterGate::Pass pass(run.writerGate(index));
    run.copyBegins();
    const int error = copy(run.copyControl(index), run.keepsCopies() ? &placed : nullptr);
    pass.finished = error == 0;
    run.copyEnded(index, error);
    if (error == 0 && !(placed.identity == FileIdentity{}))
        run.copyPlaced(index, folderPath, name, sourcePath, placed);
    if (error == error::kStopped) run.markStopped();
    return error;
}

}  // namespace ostrivane
