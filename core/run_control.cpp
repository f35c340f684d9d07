#include "core/run_control.h"

#include <algorithm>

namespace ostrivane {

namespace {
constexpr auto kReportInterval = std::chrono::milliseconds(100);
}  // namespace

RunControl::RunControl(const RunOptions& options)
    : stop_(options.stop), showTransfer_(options.showTransfer) {
    control_.stop = stop_;
    if (showTransfer_) {
        control_.opened = [this](std::uint64_t size) { figures_.bytesPlanned += size; };
        control_.copied = [this](std::uint64_t bytes) {
            figures_.bytesDone += bytes;
            if (current_ >= 0) figures_.devices[static_cast<size_t>(current_)].bytesDone += bytes;
            reportSoon();
        };
    }
}

bool RunControl::stopRequested() {
    if (!stop_ || !stop_->load()) return false;
    stopped_ = true;
    return true;
}

void RunControl::addDestination(const std::string& folder, std::uint64_t device) {
    auto found = device == 0 ? deviceIds_.end()
                             : std::find(deviceIds_.begin(), deviceIds_.end(), device);
    if (found == deviceIds_.end()) {
        deviceIds_.push_back(device);
        DeviceFigures figures;
        figures.folder = folder;
        figures_.devices.push_back(std::move(figures));
        found = deviceIds_.end() - 1;
    }
    deviceOf_.push_back(static_cast<int>(found - deviceIds_.begin()));
}

void RunControl::beginDestination(int index) {
    current_ = deviceOf_.at(static_cast<size_t>(index));
    auto& device = figures_.devices[static_cast<size_t>(current_)];
    if (device.state == DeviceFigures::State::Waiting) device.state = DeviceFigures::State::Copying;
    reportSoon();
}

void RunControl::beginFlush() {
    current_ = -1;
    for (DeviceFigures& device : figures_.devices)
        if (device.state != DeviceFigures::State::Waiting)
            device.state = DeviceFigures::State::Flushing;
    report();
}

void RunControl::endFlush(const std::vector<std::uint64_t>& failedDevices) {
    for (size_t i = 0; i < figures_.devices.size(); ++i) {
        DeviceFigures& device = figures_.devices[i];
        if (device.state != DeviceFigures::State::Flushing) continue;
        const bool failed = std::find(failedDevices.begin(), failedDevices.end(), deviceIds_[i]) !=
                            failedDevices.end();
        device.state = failed ? DeviceFigures::State::Failed : DeviceFigures::State::Done;
    }
    report();
}

const CopyControl* RunControl::copyControl(int index) {
    if (!stop_ && !showTransfer_) return nullptr;
    current_ = deviceOf_.at(static_cast<size_t>(index));
    return &control_;
}

void RunControl::fileDone() {
    ++figures_.filesDone;
    reportSoon();
}

void RunControl::report() {
    if (!showTransfer_) return;
    lastReport_ = std::chrono::steady_clock::now();
    showTransfer_(figures_);
}

void RunControl::reportSoon() {
    if (!showTransfer_ || std::chrono::steady_clock::now() - lastReport_ < kReportInterval) return;
    report();
}

}  // namespace ostrivane
