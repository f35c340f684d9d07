#include "app/figures.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

#include "app/texts.h"

namespace ostrivane::app {
namespace {

// `value` with `decimals` digits after the point, the point always "." (std::to_chars is
// independent of the C locale, which the Qt application sets from the user's).
std::string FixedText(double value, int decimals) {
    char text[64];
    const auto result =
        std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, decimals);
    return std::string(text, result.ptr);
}

// `count` in decimal digits grouped by threes with ",", as the window's language writes it
// whatever the locale of the machine.
std::string GroupedCount(std::uint64_t count) {
    const std::string digits = std::to_string(count);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

}  // namespace

ScaledBytes ScaleBytes(std::uint64_t bytes) {
    ScaledBytes scaled{static_cast<double>(bytes), 0};
    while (scaled.value >= 1024.0 && scaled.unit < 5) {
        scaled.value /= 1024.0;
        ++scaled.unit;
    }
    return scaled;
}

std::string ByteText(std::uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    const ScaledBytes scaled = ScaleBytes(bytes);
    // 9.96 shown with one decimal would read "10.0": such a value is shown as "10".
    const int decimals = scaled.value < 9.95 ? 1 : 0;
    return FixedText(scaled.value, decimals) + " " + kUnits[scaled.unit];
}

std::string SpeedText(double bytesPerSecond) {
    const double rate = bytesPerSecond > 0 ? bytesPerSecond : 0;
    return ByteText(static_cast<std::uint64_t>(std::llround(rate))) + "/s";
}

std::string RemainingText(double seconds) {
    // Beyond a few decades the figure says nothing more (and must stay a number).
    const auto total = static_cast<long long>(std::ceil(std::clamp(seconds, 0.0, 1e9)));
    const long long hours = total / 3600;
    const long long minutes = total % 3600 / 60;
    const long long rest = total % 60;
    if (hours > 0)
        return FormatText(kRemainingHours, {std::to_string(hours), std::to_string(minutes)});
    if (minutes > 0)
        return FormatText(kRemainingMinutes, {std::to_string(minutes), std::to_string(rest)});
    return FormatText(kRemainingSeconds, {std::to_string(rest)});
}

std::string StateText(DeviceFigures::State state) {
    switch (state) {
        case DeviceFigures::State::Waiting:
            return kStateWaiting;
        case DeviceFigures::State::Copying:
            return kStateCopying;
        case DeviceFigures::State::Flushing:
            return kStateFlushing;
        case DeviceFigures::State::Verifying:
            return kStateVerifying;
        case DeviceFigures::State::Done:
            return kStateDone;
        case DeviceFigures::State::Failed:
            return kStateFailed;
    }
    return {};
}

std::string StatusLine(const TransferFigures& figures, double bytesPerSecond,
                       std::optional<double> remainingSeconds) {
    std::string line =
        FormatText(kStatusLine, {GroupedCount(figures.filesDone), ByteText(figures.bytesDone),
                                 ByteText(std::max(figures.bytesPlanned, figures.bytesDone)),
                                 SpeedText(bytesPerSecond)});
    // A run that kept existing files says how many, not only how few it copied.
    if (figures.filesKept > 0)
        line += kStatusSeparator + FormatText(kKeptCount, {GroupedCount(figures.filesKept)});
    if (remainingSeconds) line += kStatusSeparator + RemainingText(*remainingSeconds);
    return line;
}

void RateMeter::add(double seconds, std::uint64_t bytes) {
    samples_.emplace_back(seconds, bytes);
    // Keep one sample at or before the window's start, so the rate spans the whole window.
    while (samples_.size() > 2 && samples_[1].first <= seconds - kWindow) samples_.pop_front();
}

double RateMeter::rate() const {
    if (samples_.size() < 2) return 0;
    const auto& [firstTime, firstBytes] = samples_.front();
    const auto& [lastTime, lastBytes] = samples_.back();
    const double span = lastTime - firstTime;
    if (span <= 0 || lastBytes < firstBytes) return 0;
    return static_cast<double>(lastBytes - firstBytes) / span;
}

void RunFiguresTracker::begin() {
    rate_.clear();
    total_.reset();
    perDevice_.clear();
    rate_.add(0, 0);
}

std::string RunFiguresTracker::InitialStatusLine() {
    return StatusLine({}, 0, std::nullopt);
}

ShownFigures RunFiguresTracker::update(double seconds, const TransferFigures& figures) {
    rate_.add(seconds, figures.bytesDone);
    const double rate = rate_.rate();
    TransferFigures shown = figures;
    std::optional<double> remaining;
    // The listed files' total where every source is a file; else the engine's estimate
    // once a destination is complete.
    std::optional<std::uint64_t> total = total_;
    if (figures.bytesExpected > 0) total = std::max(total.value_or(0), figures.bytesExpected);
    ShownFigures result;
    if (perDevice_.size() != figures.devices.size()) {
        perDevice_.assign(figures.devices.size(), RateMeter());
        result.devicesChanged = figures.devices.size() >= 2;
    }
    for (std::size_t i = 0; i < figures.devices.size(); ++i)
        perDevice_[i].add(seconds, figures.devices[i].bytesDone);
    // A device whose destinations have all had their turn is done, whatever the others do.
    const auto finished = [](const DeviceFigures& device) {
        return device.finished || device.state == DeviceFigures::State::Done ||
               device.state == DeviceFigures::State::Failed;
    };
    const bool allFinished =
        !figures.devices.empty() && std::all_of(figures.devices.begin(), figures.devices.end(), finished);
    if (total) {
        shown.bytesPlanned = std::max(shown.bytesPlanned, *total);
        result.percent = static_cast<int>(
            std::min<std::uint64_t>(100, shown.bytesDone * 100 / std::max<std::uint64_t>(
                                                                      shown.bytesPlanned, 1)));
        if (seconds >= estimateAfter && rate > 0 && shown.bytesPlanned > shown.bytesDone &&
            !allFinished) {
            remaining = static_cast<double>(shown.bytesPlanned - shown.bytesDone) / rate;
            // With each device's own amount, the slowest device's remaining work decides.
            if (figures.amountKnown) {
                double slowest = 0;
                for (std::size_t i = 0; i < figures.devices.size(); ++i) {
                    const DeviceFigures& device = figures.devices[i];
                    if (finished(device) || device.bytesExpected <= device.bytesDone) continue;
                    const double deviceRate = perDevice_[i].rate();
                    slowest = std::max(
                        slowest, static_cast<double>(device.bytesExpected - device.bytesDone) /
                                     (deviceRate > 0 ? deviceRate : rate));
                }
                remaining = slowest;
            }
        }
    }
    result.statusLine = StatusLine(shown, rate, remaining);
    if (figures.devices.size() < 2) return result;

    for (std::size_t i = 0; i < figures.devices.size(); ++i) {
        const DeviceFigures& device = figures.devices[i];
        const bool done = device.finished && device.state == DeviceFigures::State::Copying;
        const bool moving = device.state == DeviceFigures::State::Copying && !done;
        result.devices.push_back(
            {device.folder, ByteText(device.bytesDone),
             moving ? SpeedText(perDevice_[i].rate()) : std::string(),
             StateText(done ? DeviceFigures::State::Done : device.state)});
    }
    return result;
}

}  // namespace ostrivane::app
