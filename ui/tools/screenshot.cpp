// Renders the main window, with a few entries in both lists, to <folder>/main.png.
// Usage: ostrivane_screenshot <folder>. Run it under a display server (scripts/screenshot
// uses Xvfb); the window is shown, painted and grabbed, and never closed, so the settings
// file is not written.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QToolButton>
#include <QWindow>
#include <cstdio>

#include "ui/Startup.h"
#include "ui/Unit1.h"

namespace {

// Lets the window be mapped and painted: events for `milliseconds`, and at least until it
// is exposed.
void LetPaint(QWidget& window, int milliseconds) {
    QDeadlineTimer settle(milliseconds);
    QDeadlineTimer giveUp(5000);
    while (!giveUp.hasExpired() && (!settle.hasExpired() || !window.windowHandle() ||
                                    !window.windowHandle()->isExposed())) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
}

void FillLists(ostrivane::TForm1& form) {
    const QString home = QDir::homePath();
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
    FillLists(form);
    form.show();
    LetPaint(form, 500);
    const QString mainPng = QDir(folder).filePath(QStringLiteral("main.png"));
    if (!form.grab().save(mainPng)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(mainPng));
        return 1;
    }
    std::printf("%s\n", qPrintable(mainPng));
    return 0;
}
