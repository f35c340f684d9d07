#include "ui/HelpView.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QTextBrowser>
#include <QWidget>

#include "app/help.h"
#include "app/texts.h"
#include "ui/HelpBrowserPlugin.h"
#include "ui/HelpConfig.h"

namespace ostrivane {
namespace {

Q_LOGGING_CATEGORY(lcHelp, "ostrivane.help", QtWarningMsg)

// The link view keeps the address it shows under this property.
constexpr char kAddressProperty[] = "helpAddress";
// Set on a link view once it shows the built-in page.
constexpr char kBuiltInProperty[] = "helpBuiltIn";
// The add-on's object (a QObject*) on each view it made.
constexpr char kAddOnProperty[] = "helpAddOn";

DesktopBrowser& CurrentDesktopBrowser() {
    static DesktopBrowser browser = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return browser;
}

// The folder of the running program, from the kernel's link: known before the application
// object exists (PrepareHelpBrowser).
QString ProgramFolder() {
    const QString program = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (!program.isEmpty()) return QFileInfo(program).absolutePath();
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
}

// The add-on's object when `view` is its browser.
HelpBrowserPlugin* AddOnOf(const QWidget* view) {
    auto* object = view->property(kAddOnProperty).value<QObject*>();
    return object ? qobject_cast<HelpBrowserPlugin*>(object) : nullptr;
}

QWidget* CreateLinkView(QWidget* parent) {
    auto* view = new QTextBrowser(parent);
    // Links go to the desktop's browser (SetDesktopBrowser), never into this view.
    view->setOpenLinks(false);
    QObject::connect(view, &QTextBrowser::anchorClicked, view, [](const QUrl& url) {
        const DesktopBrowser browser = CurrentDesktopBrowser();
        if (!browser || !browser(url))
            qCWarning(lcHelp) << "the desktop's browser did not open" << url.toString();
    });
    return view;
}

}  // namespace

QUrl HelpAddress() {
    return QUrl(QString::fromStdString(app::HelpAddress()));
}

QString HelpAddOnFileName() {
    return QStringLiteral(OSTRIVANE_HELP_ADDON_FILE);
}

QStringList HelpAddOnFolders() {
    QStringList folders;
    const QString path = qEnvironmentVariable("OSTRIVANE_PLUGIN_PATH");
    for (const QString& folder : path.split(u':', Qt::SkipEmptyParts)) folders << folder;
    const QString program = ProgramFolder();
    if (!program.isEmpty())
        folders << QDir::cleanPath(program + u'/' + QStringLiteral(OSTRIVANE_PLUGIN_DIR_FROM_BIN));
    return folders;
}

QString FindHelpAddOn() {
    for (const QString& folder : HelpAddOnFolders()) {
        const QFileInfo file(QDir(folder).filePath(HelpAddOnFileName()));
        if (file.isFile()) return file.absoluteFilePath();
    }
    return {};
}

void PrepareHelpBrowser() {
    // Qt WebEngine asks for this before the application object; linked into the program it
    // sets it itself, loaded later as an add-on it cannot.
    if (!FindHelpAddOn().isEmpty()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

namespace {

// The add-on's root object, which implements HelpBrowserPlugin; nullptr as LoadHelpAddOn.
QObject* LoadAddOnObject() {
    const QString file = FindHelpAddOn();
    if (file.isEmpty()) {
        qCInfo(lcHelp).noquote() << "no help add-on" << HelpAddOnFileName() << "in"
                                 << HelpAddOnFolders().join(QStringLiteral(", "));
        return nullptr;
    }
    // The loader may go: the library stays loaded for the rest of the process.
    QPluginLoader loader(file);
    QObject* root = loader.instance();
    if (!root) {
        qCWarning(lcHelp).noquote()
            << "the help add-on" << file << "cannot be loaded:" << loader.errorString();
        return nullptr;
    }
    if (!qobject_cast<HelpBrowserPlugin*>(root)) {
        qCWarning(lcHelp).noquote() << "the help add-on" << file << "is not one for interface"
                                    << OSTRIVANE_HELP_BROWSER_PLUGIN_IID;
        return nullptr;
    }
    return root;
}

}  // namespace

HelpBrowserPlugin* LoadHelpAddOn() {
    QObject* root = LoadAddOnObject();
    return root ? qobject_cast<HelpBrowserPlugin*>(root) : nullptr;
}

QWidget* CreateHelpView(QWidget* parent, bool webBrowser) {
    QWidget* view = nullptr;
    if (QObject* addOn = webBrowser ? LoadAddOnObject() : nullptr) {
        view = qobject_cast<HelpBrowserPlugin*>(addOn)->CreateBrowser(parent);
        view->setProperty(kAddOnProperty, QVariant::fromValue(addOn));
        qCInfo(lcHelp) << "help view: the add-on's web browser";
    } else {
        view = CreateLinkView(parent);
        qCInfo(lcHelp) << "help view: the built-in page, the help address as a link";
    }
    view->setObjectName(QStringLiteral("WebBrowser1"));
    return view;
}

bool HelpViewIsWebBrowser(const QWidget* view) {
    return AddOnOf(view) != nullptr;
}

void NavigateHelpView(QWidget* view, const QUrl& address) {
    if (HelpBrowserPlugin* addOn = AddOnOf(view)) {
        addOn->Navigate(view, address, BuiltInHelpPage(address));
        return;
    }
    if (auto* links = qobject_cast<QTextBrowser*>(view)) {
        links->setHtml(BuiltInHelpPage(address, HelpAddressIntro::OpenInBrowser));
        links->setProperty(kAddressProperty, address);
        links->setProperty(kBuiltInProperty, true);
        qCInfo(lcHelp).noquote() << "help page: the built-in page, linking" << address.toString();
    }
}

bool HelpViewShowsBuiltInPage(const QWidget* view) {
    if (const HelpBrowserPlugin* addOn = AddOnOf(view)) return addOn->ShowsBuiltInPage(view);
    return view->property(kBuiltInProperty).toBool();
}

QString BuiltInHelpPage(const QUrl& address, HelpAddressIntro intro) {
    QFile page(QStringLiteral(":/ostrivane/help/help.html"));
    if (!page.open(QIODevice::ReadOnly)) return {};
    QString html = QString::fromStdString(app::WithPlatformDetails(page.readAll().toStdString()));
    const QString link =
        QStringLiteral("<a href=\"%1\">%1</a>").arg(address.toString().toHtmlEscaped());
    const QString line = intro == HelpAddressIntro::OpenInBrowser
                             ? QString::fromUtf8(app::kHelpOnlineIntro)
                             : QString::fromUtf8(app::kHelpOfflineIntro);
    html.replace(QStringLiteral("@INTRO@"), line.arg(link));
    return html;
}

QUrl HelpViewAddress(const QWidget* view) {
    if (const HelpBrowserPlugin* addOn = AddOnOf(view)) return addOn->Address(view);
    return view->property(kAddressProperty).toUrl();
}

DesktopBrowser SetDesktopBrowser(DesktopBrowser browser) {
    DesktopBrowser previous = std::move(CurrentDesktopBrowser());
    CurrentDesktopBrowser() = std::move(browser);
    return previous;
}

}  // namespace ostrivane
