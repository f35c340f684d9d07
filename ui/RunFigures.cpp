#include "ui/RunFigures.h"

#include <QLabel>
#include <QLocale>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>

#include "ui/PathListModel.h"

namespace ostrivane {

namespace figures {

QString ByteText(std::uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024) return QStringLiteral("%1 B").arg(bytes);
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    // 9.96 shown with one decimal would read "10.0": such a value is shown as "10".
    const int decimals = value < 9.95 ? 1 : 0;
    return QStringLiteral("%1 %2")
        .arg(value, 0, 'f', decimals)
        .arg(QString::fromLatin1(kUnits[unit]));
}

QString SpeedText(double bytesPerSecond) {
    const double rate = bytesPerSecond > 0 ? bytesPerSecond : 0;
    return ByteText(static_cast<std::uint64_t>(std::llround(rate))) + QStringLiteral("/s");
}

QString RemainingText(double seconds) {
    // Beyond a few decades the figure says nothing more (and must stay a number).
    const auto total = static_cast<long long>(std::ceil(std::clamp(seconds, 0.0, 1e9)));
    const long long hours = total / 3600;
    const long long minutes = total % 3600 / 60;
    const long long rest = total % 60;
    if (hours > 0) return QStringLiteral("剩余约 %1 小时 %2 分").arg(hours).arg(minutes);
    if (minutes > 0) return QStringLiteral("剩余约 %1 分 %2 秒").arg(minutes).arg(rest);
    return QStringLiteral("剩余约 %1 秒").arg(rest);
}

QString StateText(DeviceFigures::State state) {
    switch (state) {
        case DeviceFigures::State::Waiting:
            return QStringLiteral("等待中");
        case DeviceFigures::State::Copying:
            return QStringLiteral("复制中");
        case DeviceFigures::State::Flushing:
            return QStringLiteral("正在写入磁盘");
        case DeviceFigures::State::Verifying:
            return QStringLiteral("校验中");
        case DeviceFigures::State::Done:
            return QStringLiteral("完成");
        case DeviceFigures::State::Failed:
            return QStringLiteral("失败");
    }
    return {};
}

QString StatusLine(const TransferFigures& figures, double bytesPerSecond,
                   std::optional<double> remainingSeconds) {
    // Grouped with "," whatever the locale of the machine, as the window's language writes it.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QString line = QStringLiteral("已复制 %1 个文件，%2 / %3，%4")
                       .arg(chinese.toString(static_cast<qulonglong>(figures.filesDone)),
                            ByteText(figures.bytesDone),
                            ByteText(std::max(figures.bytesPlanned, figures.bytesDone)),
                            SpeedText(bytesPerSecond));
    if (remainingSeconds) line += QStringLiteral("，") + RemainingText(*remainingSeconds);
    return line;
}

}  // namespace figures

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

RunFiguresView::RunFiguresView(QLabel* status, QTreeWidget* devices)
    : status_(status), devices_(devices) {}

void RunFiguresView::begin() {
    clock_.start();
    rate_.clear();
    total_.reset();
    perDevice_.clear();
    rate_.add(0, 0);
    devices_->clear();
    devices_->setVisible(false);
    status_->setText(figures::StatusLine({}, 0, std::nullopt));
}

double RunFiguresView::elapsed() const {
    return clock_.isValid() ? static_cast<double>(clock_.nsecsElapsed()) / 1e9 : 0;
}

bool RunFiguresView::showsDevices() const {
    return devices_->isVisible();
}

void RunFiguresView::show(const TransferFigures& figures) {
    const double now = elapsed();
    rate_.add(now, figures.bytesDone);
    const double rate = rate_.rate();
    TransferFigures shown = figures;
    std::optional<double> remaining;
    // The listed files' total where every source is a file; else the engine's estimate
    // once a destination is complete.
    std::optional<std::uint64_t> total = total_;
    if (figures.bytesExpected > 0) total = std::max(total.value_or(0), figures.bytesExpected);
    if (total) {
        shown.bytesPlanned = std::max(shown.bytesPlanned, *total);
        if (now >= estimateAfter && rate > 0 && shown.bytesPlanned > shown.bytesDone) {
            remaining = static_cast<double>(shown.bytesPlanned - shown.bytesDone) / rate;
        }
    }
    const QString line = figures::StatusLine(shown, rate, remaining);
    status_->setText(line);
    status_->setToolTip(line);

    if (figures.devices.size() < 2) {
        devices_->setVisible(false);
        return;
    }
    if (perDevice_.size() != figures.devices.size()) {
        perDevice_.assign(figures.devices.size(), RateMeter());
        devices_->clear();
        for (const DeviceFigures& device : figures.devices) {
            auto* row = new QTreeWidgetItem(devices_);
            row->setText(0, FromPath(device.folder));
            row->setToolTip(0, FromPath(device.folder));
        }
    }
    for (size_t i = 0; i < figures.devices.size(); ++i) {
        const DeviceFigures& device = figures.devices[i];
        perDevice_[i].add(now, device.bytesDone);
        QTreeWidgetItem* row = devices_->topLevelItem(static_cast<int>(i));
        const bool moving = device.state == DeviceFigures::State::Copying;
        row->setText(1, figures::ByteText(device.bytesDone));
        row->setText(2, moving ? figures::SpeedText(perDevice_[i].rate()) : QString());
        row->setText(3, figures::StateText(device.state));
    }
    devices_->setVisible(true);
}

void RunFiguresView::end() {
    status_->clear();
    status_->setToolTip(QString());
    devices_->setVisible(false);
    devices_->clear();
    perDevice_.clear();
    clock_.invalidate();
}

}  // namespace ostrivane
