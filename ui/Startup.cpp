#include "ui/Startup.h"

#include <langinfo.h>

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <clocale>
#include <cstring>

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

// The texts of Qt's file dialogs that its Simplified Chinese translation lacks: Qt 6 names
// the file types of the dialog's list ("Folder", "%1 File") in the context
// QAbstractFileIconProvider, which qtbase_zh_CN does not hold yet.
class FileTypeTexts : public QTranslator {
  public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char* /*disambiguation*/,
                      int /*n*/) const override {
        if (std::strcmp(context, "QAbstractFileIconProvider") != 0) return {};
        static const std::pair<const char*, const char*> kTexts[] = {
            {"Folder", "文件夹"}, {"File Folder", "文件夹"}, {"Drive", "驱动器"},
            {"File", "文件"},     {"%1 File", "%1 文件"},    {"Shortcut", "快捷方式"},
            {"Alias", "替身"},
        };
        for (const auto& [english, chinese] : kTexts)
            if (std::strcmp(source, english) == 0) return QString::fromUtf8(chinese);
        return {};
    }
};

}  // namespace

void InstallMissingQtTexts(QCoreApplication& app) {
    QCoreApplication::installTranslator(new FileTypeTexts(&app));
}

bool UseChineseSystemMessages() {
    // The application object has set every category from the environment already; only the
    // messages change here.
    for (const char* name : {"zh_CN.UTF-8", "zh_CN.utf8"}) {
        if (!std::setlocale(LC_MESSAGES, name)) continue;
        // The C library converts its translations to the character set of LC_CTYPE; the
        // "C" locale would turn every Chinese character into "?".
        if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0 && !std::setlocale(LC_CTYPE, name)) {
            std::setlocale(LC_CTYPE, "C.UTF-8");
        }
        // LANGUAGE, when set, outranks LC_MESSAGES in the C library's choice of texts.
        const QByteArray language = qgetenv("LANGUAGE");
        if (!language.isEmpty() && !language.startsWith("zh")) {
            qputenv("LANGUAGE", "zh_CN:" + language);
        }
        return true;
    }
    return false;
}

bool PrepareApplication(QApplication& app) {
    UseChineseSystemMessages();
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
    InstallMissingQtTexts(app);
    return true;
}

}  // namespace ostrivane
