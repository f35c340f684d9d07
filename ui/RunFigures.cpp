#include "ui/RunFigures.h"

#include <QLabel>
#include <QTreeWidget>

#include "ui/PathListModel.h"

namespace ostrivane {

RunFiguresView::RunFiguresView(QLabel* status, QTreeWidget* devices)
    : status_(status), devices_(devices) {}

void RunFiguresView::begin() {
    clock_.start();
    tracker_.begin();
    devices_->clear();
    devices_->setVisible(false);
    status_->setText(QString::fromStdString(app::RunFiguresTracker::InitialStatusLine()));
}

double RunFiguresView::elapsed() const {
    return clock_.isValid() ? static_cast<double>(clock_.nsecsElapsed()) / 1e9 : 0;
}

bool RunFiguresView::showsDevices() const {
    return devices_->isVisible();
}

int RunFiguresView::show(const TransferFigures& figures) {
    const app::ShownFigures shown = tracker_.update(elapsed(), figures);
    const QString line = QString::fromStdString(shown.statusLine);
    status_->setText(line);
    status_->setToolTip(line);

    if (shown.devices.empty()) {
        devices_->setVisible(false);
        return shown.percent;
    }
    if (shown.devicesChanged) {
        devices_->clear();
        for (const app::DeviceRow& device : shown.devices) {
            auto* row = new QTreeWidgetItem(devices_);
            row->setText(0, FromPath(device.folder));
            row->setToolTip(0, FromPath(device.folder));
        }
    }
    for (size_t i = 0; i < shown.devices.size(); ++i) {
        const app::DeviceRow& device = shown.devices[i];
        QTreeWidgetItem* row = devices_->topLevelItem(static_cast<int>(i));
        row->setText(1, QString::fromStdString(device.bytes));
        row->setText(2, QString::fromStdString(device.speed));
        row->setText(3, QString::fromStdString(device.state));
    }
    devices_->setVisible(true);
    return shown.percent;
}

void RunFiguresView::end() {
    status_->clear();
    status_->setToolTip(QString());
    devices_->setVisible(false);
    devices_->clear();
    clock_.invalidate();
}

}  // namespace ostrivane
