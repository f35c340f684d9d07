#include "core/run_control.h"

#include <algorithm>

#include "core/verification.h"

namespace ostrivane {

namespace {
constexpr std::int64_t kReportIntervalNs = 100'000'000;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The copy under way on this thread (a writer makes one copy at a time, and a copy's
// callbacks run on the thread that makes it): its source's size once open, and the bytes it
// has written so far.
struct CopyTally {
    std::uint64_t size = kNoneFull;  // not known yet
    std::uint64_t written = 0;
};
thread_local CopyTally tally;
}  // namespace

RunControl::RunControl(const RunOptions& options)
    : stop_(options.stop), showTransfer_(options.showTransfer), began_(Now()) {}

double RemainingSeconds(const TransferFigures& figures) {
    if (figures.bytesDone == 0 || figures.seconds <= 0) return -1;
    const double runRate = static_cast<double>(figures.bytesDone) / figures.seconds;
    if (!figures.amountKnown) {
        if (figures.bytesExpected == 0) return -1;
        if (figures.bytesExpected <= figures.bytesDone) return 0;
        return static_cast<double>(figures.bytesExpected - figures.bytesDone) / runRate;
    }
    double slowest = 0;
    for (const DeviceFigures& device : figures.devices) {
        if (device.finished || device.bytesExpected <= device.bytesDone) continue;
        // A rate from a second of writing or more; before that the run's own.
        const double rate = device.seconds >= 1 && device.bytesDone > 0
                                ? static_cast<double>(device.bytesDone) / device.seconds
                                : runRate;
        slowest =
            std::max(slowest, static_cast<double>(device.bytesExpected - device.bytesDone) / rate);
    }
    return slowest;
}

bool RunControl::stopRequested() {
    if (!stop_ || !stop_->load()) return false;
    stopped_.store(true);
    return true;
}

void RunControl::addDestination(const std::string& folder, std::uint64_t device) {
    auto found = deviceIds_.end();
    if (device != 0) found = std::find(deviceIds_.begin(), deviceIds_.end(), device);
    if (found == deviceIds_.end()) {
        deviceIds_.push_back(device);
        DeviceFigures figures;
        figures.folder = folder;
        figures_.push_back(std::move(figures));
        smallestFull_.emplace_back(kNoneFull);
        destinationsOnDevice_.push_back(0);
        destinationsEnded_.push_back(0);
        deviceBegan_.push_back(0);
        deviceFinished_.push_back(0);
        found = deviceIds_.end() - 1;
    }
    ++destinationsOnDevice_[static_cast<size_t>(found - deviceIds_.begin())];
    Destination& added = destinations_.emplace_back();
    added.device = static_cast<int>(found - deviceIds_.begin());
    added.control.stop = stop_;
    added.control.sourceHashes = ledger_ ? &sourceHashes_ : nullptr;
    added.control.roomFor = [this, &added](std::uint64_t size) { return roomFor(added, size); };
    // The source's size is kept for a copy that finds its device full, and counts for the
    // figures and for the device's writer gate.
    added.control.opened = [this, &added](std::uint64_t size) {
        tally.size = size;
        if (showTransfer_) added.bytesPlanned += size;
        if (!gates_.empty()) gates_[static_cast<size_t>(added.device)]->opened(size);
    };
    if (showTransfer_) {
        added.control.copied = [this, &added](std::uint64_t bytes) {
            tally.written += bytes;
            added.bytesDone += bytes;
            reportSoon();
        };
    }
}

void RunControl::adaptWriters(const std::vector<int>& start, int most) {
    gates_.clear();
    gates_.reserve(deviceIds_.size());
    for (size_t d = 0; d < deviceIds_.size(); ++d)
        gates_.push_back(std::make_unique<WriterGate>(d < start.size() ? start[d] : 1, most));
}

void RunControl::beginDestination(int index) {
    {
        std::lock_guard lock(mutex_);
        auto& device = figures_.at(static_cast<size_t>(deviceOf(index)));
        if (device.state == DeviceFigures::State::Waiting)
            device.state = DeviceFigures::State::Copying;
        std::int64_t& began = deviceBegan_[static_cast<size_t>(deviceOf(index))];
        if (began == 0) began = Now();
    }
    reportSoon();
}

void RunControl::beginFlush() {
    {
        std::lock_guard lock(mutex_);
        for (DeviceFigures& device : figures_)
            if (device.state != DeviceFigures::State::Waiting)
                device.state = DeviceFigures::State::Flushing;
    }
    report();
}

void RunControl::endFlush(const std::vector<std::uint64_t>& failedDevices) {
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < figures_.size(); ++i) {
            DeviceFigures& device = figures_[i];
            if (device.state != DeviceFigures::State::Flushing) continue;
            const bool failed = std::find(failedDevices.begin(), failedDevices.end(),
                                          deviceIds_[i]) != failedDevices.end();
            device.state = failed ? DeviceFigures::State::Failed : DeviceFigures::State::Done;
        }
    }
    report();
}

const CopyControl* RunControl::copyControl(int index) {
    const CopyControl& control = destinations_.at(static_cast<size_t>(index)).control;
    if (!stop_ && !showTransfer_ && !control.temporaryFolder && !control.sourceHashes &&
        !anyDeviceFull_.load())
        return nullptr;
    return &control;
}

void RunControl::copyBegins() {
    tally = CopyTally();
}

void RunControl::copyEnded(int index, int error) {
    Destination& destination = destinations_.at(static_cast<size_t>(index));
    if (error == 0) {
        ++destination.filesDone;
        // A copy counts with its length: the holes of a sparse file are written as holes,
        // never told to the control as bytes.
        if (tally.size != kNoneFull && tally.size > tally.written)
            destination.bytesDone += tally.size - tally.written;
    } else {
        // Nothing of a failed copy stands: its bytes leave the figures.
        destination.bytesDone -= tally.written;
        if (MeansDeviceFull(error)) deviceFull(index, tally.size);
    }
    tally = CopyTally();
    reportSoon();
}

void RunControl::copyRemoved(int index, std::uint64_t bytes) {
    Destination& destination = destinations_.at(static_cast<size_t>(index));
    --destination.filesDone;
    destination.bytesDone -= std::min(bytes, destination.bytesDone.load());
}

void RunControl::copyPlaced(int index, const std::string& folderPath, const std::string& name,
                            const std::string& sourcePath, const PlacedCopy& placed) {
    if (ledger_) ledger_->add(index, folderPath, name, sourcePath, placed);
}

void RunControl::beginVerify(const std::vector<int>& devices) {
    {
        std::lock_guard lock(mutex_);
        for (int device : devices) {
            DeviceFigures& figures = figures_.at(static_cast<size_t>(device));
            if (figures.state != DeviceFigures::State::Failed)
                figures.state = DeviceFigures::State::Verifying;
        }
    }
    report();
}

void RunControl::verifiedBytes(std::uint64_t bytes) {
    bytesVerified_ += bytes;
    reportSoon();
}

void RunControl::endVerify(int device, bool failed) {
    {
        std::lock_guard lock(mutex_);
        DeviceFigures& figures = figures_.at(static_cast<size_t>(device));
        if (figures.state == DeviceFigures::State::Verifying)
            figures.state = failed ? DeviceFigures::State::Failed : DeviceFigures::State::Done;
    }
    report();
}

void RunControl::destinationComplete(int index) {
    if (!showTransfer_) return;
    const std::uint64_t bytes = destinations_.at(static_cast<size_t>(index)).bytesPlanned.load();
    std::lock_guard lock(mutex_);
    completeBytes_ = std::max(completeBytes_, bytes);
}

void RunControl::destinationEnded(int index) {
    {
        std::lock_guard lock(mutex_);
        const auto device = static_cast<size_t>(deviceOf(index));
        if (++destinationsEnded_[device] == destinationsOnDevice_[device]) {
            figures_[device].finished = true;
            deviceFinished_[device] = Now();
        }
    }
    reportSoon();
}

void RunControl::fileHandled(int index, bool kept) {
    Destination& destination = destinations_.at(static_cast<size_t>(index));
    ++destination.filesHandled;
    if (kept) ++destination.filesKept;
}

void RunControl::setSourceAmount(std::uint64_t files, std::uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        amountKnown_ = true;
        sourceFiles_ = files;
        sourceBytes_ = bytes;
    }
    // The next report of the copies carries it: a report of its own here would take the
    // copies' next report slot.
}

void RunControl::amountFromRun() {
    std::lock_guard lock(mutex_);
    amountKnown_ = true;  // the figures' own counts raise the expected ones to what was met
}

void RunControl::deviceFull(int index, std::uint64_t size) {
    std::atomic<std::uint64_t>& smallest = smallestFull_.at(static_cast<size_t>(deviceOf(index)));
    // A copy whose size was not told (no control) leaves every size to be tried.
    std::uint64_t known = smallest.load();
    while (size < known && !smallest.compare_exchange_weak(known, size)) {
    }
    anyDeviceFull_.store(true);
}

bool CopyMayFit(std::uint64_t size, std::uint64_t smallestFull, bool spaceKnown,
                std::uint64_t freeBytes, std::uint64_t freeEntries) {
    if (size == 0 || size < smallestFull) return true;
    // Space comes back when a copy that failed midway gives its blocks back, or when the
    // user frees some: a copy that fits what is left is still tried. The margin stands for
    // the file system's own blocks (the entry, the file's last block).
    constexpr std::uint64_t kMargin = 64 * 1024;
    return spaceKnown && freeEntries > 0 && freeBytes > kMargin && size <= freeBytes - kMargin;
}

bool RunControl::roomFor(const Destination& destination, std::uint64_t size) const {
    const std::uint64_t smallest = smallestFull_[static_cast<size_t>(destination.device)].load();
    if (CopyMayFit(size, smallest, false, 0, 0)) return true;
    std::uint64_t bytes = 0, entries = 0;
    const Folder* folder = destination.control.temporaryFolder;
    const bool known = folder && FreeSpaceAt(*folder, bytes, entries);
    return CopyMayFit(size, smallest, known, bytes, entries);
}

void RunControl::report() {
    if (!showTransfer_) return;
    std::lock_guard lock(mutex_);
    const std::int64_t now = Now();
    lastReport_.store(now);
    TransferFigures figures;
    figures.devices = figures_;
    figures.bytesVerified = bytesVerified_.load();
    figures.seconds = static_cast<double>(now - began_) / 1e9;
    std::vector<std::uint64_t> devicePlanned(figures.devices.size(), 0);
    for (size_t d = 0; d < figures.devices.size(); ++d) {
        if (deviceBegan_[d] == 0) continue;
        const std::int64_t until = deviceFinished_[d] != 0 ? deviceFinished_[d] : now;
        figures.devices[d].seconds = static_cast<double>(until - deviceBegan_[d]) / 1e9;
    }
    for (const Destination& destination : destinations_) {
        const std::uint64_t bytes = destination.bytesDone.load();
        figures.filesDone += destination.filesDone.load();
        figures.bytesDone += bytes;
        figures.bytesPlanned += destination.bytesPlanned.load();
        figures.filesHandled += destination.filesHandled.load();
        figures.filesKept += destination.filesKept.load();
        figures.devices[static_cast<size_t>(destination.device)].bytesDone += bytes;
        devicePlanned[static_cast<size_t>(destination.device)] +=
            std::max(destination.bytesPlanned.load(), bytes);
    }
    if (completeBytes_ > 0)
        figures.bytesExpected =
            std::max<std::uint64_t>(completeBytes_ * destinations_.size(), figures.bytesPlanned);
    if (amountKnown_) {
        // The count may have missed what appeared since; what the run met counts too.
        figures.amountKnown = true;
        figures.filesExpected = std::max(sourceFiles_ * destinations_.size(), figures.filesHandled);
        figures.bytesExpected = std::max(
            {figures.bytesExpected, sourceBytes_ * destinations_.size(), figures.bytesPlanned});
        for (size_t d = 0; d < figures.devices.size(); ++d) {
            DeviceFigures& device = figures.devices[d];
            device.bytesExpected = std::max<std::uint64_t>(
                sourceBytes_ * static_cast<std::uint64_t>(destinationsOnDevice_[d]),
                devicePlanned[d]);
        }
    }
    showTransfer_(figures);
}

void RunControl::reportSoon() {
    if (!showTransfer_) return;
    // One writer claims each report slot; the others go on copying.
    const std::int64_t now = Now();
    std::int64_t last = lastReport_.load();
    if (now - last < kReportIntervalNs || !lastReport_.compare_exchange_strong(last, now)) return;
    report();
}

}  // namespace ostrivane
