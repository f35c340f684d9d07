#include "ui/Startup.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "ui/Prompts.h"

namespace ostrivane {
namespace {

// The application id: the name of the installed desktop entry, metadata and icon.
const QString kApplicationId = QStringLiteral("com.ostrivane.Ostrivane");

// The installed icon from the icon theme, else the copy built into the program.
QIcon ApplicationIcon() {
    QIcon bundled;
    for (int size : {16, 32, 48, 256}) {
        bundled.addFile(
            QStringLiteral(":/ostrivane/icons/%1x%1/%2.png").arg(size).arg(kApplicationId),
            QSize(size, size));
    }
    return QIcon::fromTheme(kApplicationId, bundled);
}

}  // namespace

bool PrepareApplication(QApplication& app) {
    QApplication::setApplicationName(kApplicationTitle);
    QApplication::setApplicationDisplayName(kApplicationTitle);
    QApplication::setApplicationVersion(QStringLiteral("3.1.2.0"));
    // Lets the desktop match the windows to the installed entry and its icon (Wayland).
    QGuiApplication::setDesktopFileName(kApplicationId);
    QApplication::setWindowIcon(ApplicationIcon());
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}

}  // namespace ostrivane
