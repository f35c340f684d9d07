// Start-up: the application object, its title and translation, the main window, the loop.
#include <QApplication>
#include <exception>

#include "ui/HelpView.h"
#include "ui/Startup.h"
#include "ui/Unit1.h"

namespace {

// Catches an error that escapes an event handler and shows it in the main window's error
// box, so the program keeps running. The handlers catch their own; this is the backstop.
class Application : public QApplication {
  public:
    using QApplication::QApplication;
    ostrivane::TForm1* mainWindow = nullptr;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            if (mainWindow) mainWindow->ShowUnexpectedError(error.what());
            return false;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    ostrivane::PrepareHelpBrowser();
    Application app(argc, argv);
    ostrivane::PrepareApplication(app);
    ostrivane::TForm1 form;
    app.mainWindow = &form;
    form.show();
    const int result = Application::exec();
    app.mainWindow = nullptr;
    return result;
}
