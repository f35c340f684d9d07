// Renders the program's windows to PNG files in <folder>: main.png (the main window with a
// few entries in both lists), picker.png (the destination folder picker as the first use
// shows it, proposing the desktop folder), running.png (a copy run in progress onto two
// devices, with the status line and the per-device view), report.png (the completion box
// of a run with failures, its details open) and help.png (the help tab after its page has
// loaded or failed to load, which shows the built-in help).
// Usage: ostrivane_screenshot <folder> [<tree root> [<source folder> <device 1> <device 2>]].
// The picker's tree starts at <tree root> ("/" when not given), so that a picture can hold
// a demonstration home alone. The run copies the files of <source folder> onto the two
// device folders; where these are mounts of the test fault file system (a ".faultctl" in
// them, see tests/support/faultfs_daemon.cpp) the second run finds the second one full. Run
// it under a display server (scripts/screenshot uses Xvfb, with a home folder of its own);
// the main window is never closed, so the settings file is not written.
#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSemaphore>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <atomic>
#include <cstdio>
#include <functional>

#include "ui/HelpView.h"
#include "ui/Startup.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"

namespace {

// Runs events for at least `milliseconds` and until `ready` holds, `limit` ms at most.
void LetPaintUntil(int milliseconds, const std::function<bool()>& ready, int limit = 5000) {
    QDeadlineTimer settle(milliseconds);
    QDeadlineTimer giveUp(limit);
    while (!giveUp.hasExpired() && (!settle.hasExpired() || !ready())) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
}

bool IsExposed(const QWidget& window) {
    return window.windowHandle() && window.windowHandle()->isExposed();
}

void FillLists(ostrivane::TForm1& form) {
    const QString home = QStringLiteral("/home/用户");
    for (const QString& source :
         {home + QStringLiteral("/文档/季度报告.docx"), home + QStringLiteral("/文档/预算.xlsx"),
          home + QStringLiteral("/图片/封面.png"), home + QStringLiteral("/项目资料/")}) {
        form.SourceModel().addIfAbsent(ostrivane::ToPath(source));
    }
    for (const QString& destination :
         {QStringLiteral("/media/备份盘/部门一/"), QStringLiteral("/media/备份盘/部门二/"),
          QStringLiteral("/srv/共享/归档/2024/")}) {
        form.DestinationModel().addIfAbsent(ostrivane::ToPath(destination));
    }
    // As after an import of destinations.
    form.BtnEmptyDestFolder->setVisible(true);
}

// The window as it is on the screen, so that content drawn by the graphics stack (the web
// view's page) is in the picture too; the widget's own rendering where there is no screen.
QPixmap Picture(QWidget& window) {
    QScreen* screen = window.screen();
    if (!screen) return window.grab();
    const QPixmap shot = screen->grabWindow(window.winId());
    return shot.isNull() ? window.grab() : shot;
}

bool Save(QWidget& window, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name);
    if (!Picture(window).save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Notes when the help view has finished loading its page, or failing to load it.
class HelpLoadWatcher : public QObject {
    Q_OBJECT
  public:
    explicit HelpLoadWatcher(QWidget* view) {
        if (ostrivane::HelpViewIsWebBrowser(view)) {
            connect(view, SIGNAL(loadFinished(bool)), this, SLOT(finish()));
        } else {
            done = true;  // the link view shows the built-in page at once
        }
    }
    bool done = false;

  public slots:
    void finish() { done = true; }
};

// Writes fault commands to the control file of a fault file system mounted at `device`;
// false when it is no such mount.
bool ArmDevice(const QString& device, const QByteArray& commands) {
    QFile control(QDir(device).filePath(QStringLiteral(".faultctl")));
    if (!control.exists() || !control.open(QIODevice::WriteOnly)) return false;
    return control.write(commands + '\n') == commands.size() + 1;
}

// Answers the next message box: `handle` gets it once it is open, then it is closed with OK.
void AnswerNextBox(const std::function<void(QMessageBox&)>& handle) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, handle] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        // The Ask question has a picture of its own and is answered there.
        if (!box || !box->isVisible() || box->objectName() == QStringLiteral("AskBox")) return;
        poll->stop();
        poll->deleteLater();
        handle(*box);
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    });
    poll->start(50);
}

// A run onto the two devices, pictured once it has gone long enough to show its speed,
// then stopped; then a run of the small files onto them with the second one full, whose
// completion box is pictured with its details open.
bool RunPictures(ostrivane::TForm1& form, const QString& folder, const QString& sourceFolder,
                 const QStringList& devices) {
    const QString sources = QDir(sourceFolder).absolutePath() + QLatin1Char('/');
    form.SourceModel().clear();
    form.DestinationModel().clear();
    // The folder itself: its files and bytes are counted while the run copies, so the
    // status line shows the whole amount and the remaining time.
    form.SourceModel().append(ostrivane::ToPath(sources));
    for (const QString& device : devices)
        form.DestinationModel().append(
            ostrivane::ToPath(QDir(device).absolutePath() + QLatin1Char('/')));
    // Slow devices pace the run by themselves; plain folders are slowed here.
    const bool slowDevices =
        ArmDevice(devices[0], "bandwidth 9000000") && ArmDevice(devices[1], "bandwidth 7000000");

    bool saved = false;
    std::atomic<bool> held{false};
    QElapsedTimer clock;
    clock.start();
    form.runFiguresHook = [&](const ostrivane::TransferFigures&) {
        if (held) return;
        if (clock.elapsed() < 3500) {
            if (!slowDevices) QThread::msleep(150);
            return;
        }
        held = true;
        QSemaphore pictured;
        QMetaObject::invokeMethod(
            &form,
            [&] {
                LetPaintUntil(300, [] { return true; });
                saved = Save(form, folder, QStringLiteral("running.png"));
                form.BtnStopClick();
                pictured.release();
            },
            Qt::QueuedConnection);
        pictured.acquire();
    };
    AnswerNextBox([](QMessageBox&) {});
    form.BtnCopyClick();
    form.runFiguresHook = nullptr;
    if (!saved) return false;

    // The Ask policy's question, for a file the stopped run had already copied: pictured,
    // then the run stopped from the box.
    ArmDevice(devices[0], "clear");
    ArmDevice(devices[1], "clear");
    const QStringList small = QDir(sourceFolder).entryList(QDir::Files, QDir::Name);
    form.SourceModel().clear();
    form.DestinationModel().clear();
    form.DestinationModel().append(
        ostrivane::ToPath(QDir(devices[0]).absolutePath() + QLatin1Char('/')));
    for (const QString& name : small) {
        if (QFileInfo(sources + name).size() >= (1 << 20)) continue;
        form.SourceModel().append(ostrivane::ToPath(sources + name));
        QFile::copy(sources + name, QDir(devices[0]).filePath(name));
    }
    form.Rb3->setChecked(true);
    bool asked = false;
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &asked, folder] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->objectName() != QStringLiteral("AskBox")) return;
        poll->stop();
        poll->deleteLater();
        LetPaintUntil(300, [box] { return IsExposed(*box); });
        asked = Save(*box, folder, QStringLiteral("ask.png"));
        if (auto* stop = box->findChild<QPushButton*>(QStringLiteral("Stop"))) stop->click();
    });
    poll->start(50);
    AnswerNextBox([](QMessageBox&) {});
    form.BtnCopyClick();
    form.RbRename->setChecked(true);
    if (!asked) return false;

    // The small files only, onto a first device that takes them and a second that is full.
    form.SourceModel().clear();
    const QStringList documents =
        QDir(sourceFolder).entryList(QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : documents) {
        if (QFileInfo(sources + name).size() < (1 << 20))
            form.SourceModel().append(ostrivane::ToPath(sources + name));
    }
    ArmDevice(devices[0], "clear");
    if (!ArmDevice(devices[1], "clear\nenospc-write 1")) {
        // Without the fault file system: a device that has gone away.
        form.DestinationModel().append(ostrivane::ToPath(QStringLiteral("/media/备份盘三/")));
    }
    bool reported = false;
    AnswerNextBox([&](QMessageBox& box) {
        for (QAbstractButton* button : box.buttons()) {
            // The message box's own "显示详细信息..." button.
            if (box.buttonRole(button) == QMessageBox::ActionRole &&
                button->text() != QStringLiteral("保存报告…")) {
                button->click();
            }
        }
        LetPaintUntil(500, [&] { return IsExposed(box); });
        reported = Save(box, folder, QStringLiteral("report.png"));
    });
    form.BtnCopyClick();
    return reported;
}

}  // namespace

int main(int argc, char** argv) {
    ostrivane::PrepareHelpBrowser();
    QApplication app(argc, argv);
    ostrivane::PrepareApplication(app);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
        return 1;
    }

    ostrivane::TForm1 form;
    const HelpLoadWatcher helpLoad(form.WebBrowser1);
    FillLists(form);
    form.show();
    LetPaintUntil(500, [&] { return IsExposed(form); });
    if (!Save(form, folder, QStringLiteral("main.png"))) return 1;
    // Maximised: the lists take the room. Without a window manager (Xvfb) nothing maximises
    // a window; it is then given the whole screen as a maximised window has it.
    const QRect designGeometry = form.geometry();
    form.showMaximized();
    LetPaintUntil(500, [&] { return IsExposed(form); });
    if (form.geometry() == designGeometry && form.screen())
        form.setGeometry(form.screen()->availableGeometry());
    LetPaintUntil(500, [&] { return IsExposed(form); });
    if (!Save(form, folder, QStringLiteral("maximised.png"))) return 1;
    form.showNormal();
    form.setGeometry(designGeometry);
    LetPaintUntil(300, [&] { return IsExposed(form); });

    ostrivane::TForm2& picker = *form.Form2;
    if (argc > 2) picker.SetRootFolder(QString::fromLocal8Bit(argv[2]));
    picker.show();
    LetPaintUntil(500, [&] { return IsExposed(picker) && !picker.IsTreeLoading(); });
    if (!Save(picker, folder, QStringLiteral("picker.png"))) return 1;
    picker.hide();

    if (argc > 5) {
        if (!RunPictures(form, folder, QString::fromLocal8Bit(argv[3]),
                         {QString::fromLocal8Bit(argv[4]), QString::fromLocal8Bit(argv[5])}))
            return 1;
    }

    form.PageControl1->setCurrentWidget(form.TabSheet2);
    LetPaintUntil(
        1500, [&] { return IsExposed(form) && helpLoad.done; }, 20000);
    return Save(form, folder, QStringLiteral("help.png")) ? 0 : 1;
}

#include "screenshot.moc"
