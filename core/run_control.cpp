#include "core/run_control.h"

#include <algorithm>

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
    : stop_(options.stop), showTransfer_(options.showTransfer) {}

bool RunControl::stopRequested() {
    if (!stop_ || !stop_->load()) return false;
    stopped_.store(true);
    return true;
}

void RunControl::addDestination(const std::string& folder, std::uint64_t device) {
    auto found = devices_.end();
    if (device != 0)
        found = std::find_if(devices_.begin(), devices_.end(),
                             [&](const Device& known) { return known.id == device; });
    if (found == devices_.end()) {
        Device& added = devices_.emplace_back();
        added.id = device;
        added.control.stop = stop_;
        if (showTransfer_) {
            added.control.opened = [this](std::uint64_t size) { bytesPlanned_ += size; };
            added.control.copied = [this, &added](std::uint64_t bytes) {
                bytesDone_ += bytes;
                added.bytesDone += bytes;
                reportSoon();
            };
        }
        DeviceFigures figures;
        figures.folder = folder;
        figures_.push_back(std::move(figures));
        found = devices_.end() - 1;
    }
    deviceOf_.push_back(static_cast<int>(found - devices_.begin()));
}

void RunControl::beginDestination(int index) {
    {
        std::lock_guard lock(mutex_);
        auto& device = figures_.at(static_cast<size_t>(deviceOf(index)));
        if (device.state == DeviceFigures::State::Waiting) device.state = DeviceFigures::State::Copying;
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
                                          devices_[i].id) != failedDevices.end();
            device.state = failed ? DeviceFigures::State::Failed : DeviceFigures::State::Done;
        }
    }
    report();
}

const CopyControl* RunControl::copyControl(int index) {
    if (!stop_ && !showTransfer_) return nullptr;
    return &devices_.at(static_cast<size_t>(deviceOf(index))).control;
}

void RunControl::fileDone() {
    ++filesDone_;
    reportSoon();
}

void RunControl::report() {
    if (!showTransfer_) return;
    std::lock_guard lock(mutex_);
    lastReport_.store(Now());
    TransferFigures figures;
    figures.filesDone = filesDone_.load();
    figures.bytesDone = bytesDone_.load();
    figures.bytesPlanned = bytesPlanned_.load();
    figures.devices = figures_;
    for (size_t i = 0; i < figures.devices.size(); ++i)
        figures.devices[i].bytesDone = devices_[i].bytesDone.load();
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
