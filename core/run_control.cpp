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
        deviceFull_.emplace_back(false);
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
    // The size of each copy counts for the figures and for the device's writer gate.
    added.control.opened = [this, &added](std::uint64_t size) {
        if (showTransfer_) added.bytesPlanned += size;
        if (!gates_.empty()) gates_[static_cast<size_t>(added.device)]->opened(size);
    };
    if (showTransfer_) {
        added.control.copied = [this, &added](std::uint64_t bytes) {
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

void RunControl::fileDone(int index) {
    ++destinations_.at(static_cast<size_t>(index)).filesDone;
    reportSoon();
}

void RunControl::copyPlaced(int index, const std::string& folderPath, const std::string& name,
                            const PlacedCopy& placed) {
    if (ledger_) ledger_->add(index, folderPath, name, placed);
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

void RunControl::deviceFull(int index) {
    deviceFull_.at(static_cast<size_t>(deviceOf(index))).store(true);
    anyDeviceFull_.store(true);
}

bool RunControl::roomFor(const Destination& destination, std::uint64_t size) const {
    if (!deviceFull_[static_cast<size_t>(destination.device)].load()) return true;
    // Space comes back when a copy that failed midway gives its blocks back, or when the
    // user frees some: a copy that fits what is left is still tried. The margin stands for
    // the file system's own blocks (the entry, the file's last block).
    constexpr std::uint64_t kMargin = 64 * 1024;
    std::uint64_t bytes = 0, entries = 0;
    const Folder* folder = destination.control.temporaryFolder;
    return folder && FreeSpaceAt(*folder, bytes, entries) && entries > 0 && bytes > kMargin &&
           size <= bytes - kMargin;
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
