// The live figures of a run in the window: the status line under the progress bar and, when
// the destinations lie on several devices, one row per device. What they say is worked out
// by app::RunFiguresTracker (app/figures.h); this class owns the widgets and the clock.
#pragma once

#include <QElapsedTimer>
#include <cstdint>

#include "app/figures.h"
#include "core/run_control.h"

class QLabel;
class QTreeWidget;

namespace ostrivane {

// Shows one run's figures in the window's status line and device view. Call begin() when
// the run starts, show() with every report (on the window's thread) and end() afterwards.
class RunFiguresView {
  public:
    RunFiguresView(QLabel* status, QTreeWidget* devices);

    void begin();
    // The bytes the whole run will copy, when known before it (app::RunFiguresTracker).
    void setTotal(std::uint64_t bytes) { tracker_.setTotal(bytes); }
    // Returns the bar's percentage by bytes, or -1 while the run's amount is unknown.
    int show(const TransferFigures& figures);
    // Clears the status line and hides the device view.
    void end();

    // The remaining time is estimated once the run has gone this long (seconds).
    void setEstimateAfter(double seconds) { tracker_.estimateAfter = seconds; }
    // True while the device view is shown (the destinations lie on several devices).
    bool showsDevices() const;

  private:
    double elapsed() const;

    QLabel* status_;
    QTreeWidget* devices_;
    QElapsedTimer clock_;
    app::RunFiguresTracker tracker_;
};

}  // namespace ostrivane
