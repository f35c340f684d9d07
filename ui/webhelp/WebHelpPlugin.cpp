// The add-on ostrivane-web-help.so: the help tab's web browser (Qt WebEngine), loaded by
// HelpView with QPluginLoader. The only part of the program that links the web engine.
#include <unistd.h>

#include <QLoggingCategory>
#include <QObject>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "ui/HelpBrowserPlugin.h"

namespace ostrivane {
namespace {

// The program's category for the help tab (HelpView.cpp): info off by default.
Q_LOGGING_CATEGORY(lcHelp, "ostrivane.help", QtWarningMsg)

// Set on a browser once it shows the built-in page.
constexpr char kBuiltInProperty[] = "helpBuiltIn";

// True when a finished load did not bring its page: the load failed (no network, no such
// host, refused) or the server answered with an error status.
bool PageMissing(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) return true;
    return info.status() == QWebEngineLoadingInfo::LoadSucceededStatus &&
           info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
           info.errorCode() >= 400;
}

// The web engine's sandbox refuses to start as root (a CI machine, a container). It reads
// this setting when the engine starts, at the first page load.
void AllowWebEngineAsRoot() {
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
}

}  // namespace

class WebHelpPlugin : public QObject, public HelpBrowserPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID OSTRIVANE_HELP_BROWSER_PLUGIN_IID)
    Q_INTERFACES(ostrivane::HelpBrowserPlugin)

  public:
    QWidget* CreateBrowser(QWidget* parent) override {
        AllowWebEngineAsRoot();
        return new QWebEngineView(parent);
    }

    // Shows the built-in page under `address` whenever a load fails: the help address
    // itself, and any address a link of the built-in page leads to while offline.
    void Navigate(QWidget* view, const QUrl& address, const QString& builtInPage) override {
        auto* browser = qobject_cast<QWebEngineView*>(view);
        if (!browser) return;
        QObject::connect(
            browser->page(), &QWebEnginePage::loadingChanged, browser,
            [browser, address, builtInPage](const QWebEngineLoadingInfo& info) {
                if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) return;
                if (!PageMissing(info)) {
                    qCInfo(lcHelp).noquote() << "web browser: loaded" << info.url().toString();
                    return;
                }
                qCInfo(lcHelp).noquote() << "web browser:" << info.url().toString()
                                         << "cannot be loaded; the built-in page shown";
                browser->setProperty(kBuiltInProperty, true);
                browser->setHtml(builtInPage, address);
            });
        qCInfo(lcHelp).noquote() << "web browser: loading" << address.toString();
        browser->load(address);
    }

    QUrl Address(const QWidget* view) const override {
        const auto* browser = qobject_cast<const QWebEngineView*>(view);
        return browser ? browser->url() : QUrl();
    }

    bool ShowsBuiltInPage(const QWidget* view) const override {
        return view->property(kBuiltInProperty).toBool();
    }
};

}  // namespace ostrivane

#include "WebHelpPlugin.moc"
