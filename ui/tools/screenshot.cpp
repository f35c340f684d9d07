// Renders the program's windows to PNG files in <folder>: main.png (the main window with a
// few entries in both lists), picker.png (the destination folder picker as the first use
// shows it, proposing the desktop folder) and help.png (the help tab after its page has
// loaded or failed to load).
// Usage: ostrivane_screenshot <folder> [<tree root>]. The picker's tree starts at <tree
// root> ("/" when not given), so that a picture can hold a demonstration home alone. Run it
// under a display server (scripts/screenshot uses Xvfb, with a home folder of its own); the
// windows are shown, painted and grabbed, and never closed, so the settings file is not
// written.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QScreen>
#include <QTabWidget>
#include <QThread>
#include <QToolButton>
#include <QWindow>
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
        if (ostrivane::WebHelpAvailable()) {
            connect(view, SIGNAL(loadFinished(bool)), this, SLOT(finish()));
        } else {
            done = true;  // the plain view shows its link at once
        }
    }
    bool done = false;

  public slots:
    void finish() { done = true; }
};

}  // namespace

int main(int argc, char** argv) {
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

    ostrivane::TForm2& picker = *form.Form2;
    if (argc > 2) picker.SetRootFolder(QString::fromLocal8Bit(argv[2]));
    picker.show();
    LetPaintUntil(500, [&] { return IsExposed(picker) && !picker.IsTreeLoading(); });
    if (!Save(picker, folder, QStringLiteral("picker.png"))) return 1;
    picker.hide();

    form.PageControl1->setCurrentWidget(form.TabSheet2);
    LetPaintUntil(
        1500, [&] { return IsExposed(form) && helpLoad.done; }, 20000);
    return Save(form, folder, QStringLiteral("help.png")) ? 0 : 1;
}

#include "screenshot.moc"
