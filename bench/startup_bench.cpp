// Time to the main window's first paint, as the program starts it (looking for the help
// tab's add-on ostrivane-web-help, which is used when OSTRIVANE_PLUGIN_PATH or the installed
// plugin folder holds it), or with the link view chosen without looking, as a build without
// any web engine: to show that neither looking for the add-on nor the add-on itself holds up
// the window.
//
// Usage: ostrivane_startup_bench web|plain
// Prints "first_paint_epoch_us <t>  main_to_paint_us <d>  help_requested_us <h>": the wall
// clock time of the first paint of the window (the caller subtracts its own start time to
// get the time from the process start, library loading included), the time from main() to
// that paint, and the time from main() to the help view being pointed at its page. The
// program ends once the help page has been requested and the events it caused have run.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "ui/HelpView.h"
#include "ui/Startup.h"
#include "ui/Unit1.h"

namespace {

// Notes the first paint of a window.
class FirstPaint : public QObject {
  public:
    explicit FirstPaint(QWidget& window) : window_(window) { window.installEventFilter(this); }
    qint64 epochUs = -1;
    qint64 sinceMainUs = -1;
    QElapsedTimer* sinceMain = nullptr;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Paint && epochUs < 0) {
            epochUs = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
            sinceMainUs = sinceMain->nsecsElapsed() / 1000;
        }
        return false;
    }

  private:
    QWidget& window_;
};

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceMain;
    sinceMain.start();
    if (argc != 2 || (std::strcmp(argv[1], "web") != 0 && std::strcmp(argv[1], "plain") != 0)) {
        std::fputs("usage: ostrivane_startup_bench web|plain\n", stderr);
        return 2;
    }
    const bool web = argv[1][0] == 'w';
    if (web) ostrivane::PrepareHelpBrowser();
    QApplication app(argc, argv);
    ostrivane::PrepareApplication(app);
    ostrivane::TForm1 form(nullptr, ostrivane::WindowOptions{.webHelp = web});
    FirstPaint paint(form);
    paint.sinceMain = &sinceMain;
    form.show();

    qint64 requestedUs = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (requestedUs < 0 && form.HelpPageRequested()) {
            requestedUs = sinceMain.nsecsElapsed() / 1000;
            // Let the events the request caused run before leaving.
            QTimer::singleShot(200, &app, &QApplication::quit);
        }
    });
    poll.start(1);
    QTimer::singleShot(30000, &app, &QApplication::quit);
    app.exec();
    if (paint.epochUs < 0) {
        std::fputs("the window was never painted\n", stderr);
        return 2;
    }
    std::printf("first_paint_epoch_us %lld  main_to_paint_us %lld  help_requested_us %lld\n",
                static_cast<long long>(paint.epochUs), static_cast<long long>(paint.sinceMainUs),
                static_cast<long long>(requestedUs));
    return 0;
}
