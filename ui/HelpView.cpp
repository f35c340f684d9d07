#include "ui/HelpView.h"

#include <unistd.h>

#include <QFile>
#include <QTextBrowser>
#include <QWidget>

#include "ui/HelpConfig.h"

#if OSTRIVANE_HAVE_WEBENGINE
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

namespace ostrivane {
namespace {

// The plain view keeps the address it shows under this property.
constexpr char kAddressProperty[] = "helpAddress";
// Set on a view once it shows the built-in page.
constexpr char kBuiltInProperty[] = "helpBuiltIn";

QWidget* CreatePlainView(QWidget* parent) {
    auto* view = new QTextBrowser(parent);
    view->setOpenExternalLinks(true);
    return view;
}

#if OSTRIVANE_HAVE_WEBENGINE
// True when a finished load of the help address did not bring its page: the load failed
// (no network, no such host, refused) or the server answered with an error status.
bool HelpPageMissing(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) return true;
    return info.status() == QWebEngineLoadingInfo::LoadSucceededStatus &&
           info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
           info.errorCode() >= 400;
}

// Shows the built-in page in `browser`, under `address`, whenever a load fails: the help
// address itself, and any address a link of the built-in page leads to while offline.
void FallBackToBuiltInPage(QWebEngineView* browser, const QUrl& address) {
    QObject::connect(browser->page(), &QWebEnginePage::loadingChanged, browser,
                     [browser, address](const QWebEngineLoadingInfo& info) {
                         if (!HelpPageMissing(info)) return;
                         browser->setProperty(kBuiltInProperty, true);
                         browser->setHtml(BuiltInHelpPage(address), address);
                     });
}

// The web engine's sandbox refuses to start as root (a CI machine, a container). It reads
// this setting when the engine starts, at the first page load.
void AllowWebEngineAsRoot() {
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
}
#endif

}  // namespace

QUrl HelpAddress() {
    return QUrl(QStringLiteral("http://" OSTRIVANE_HELP_HOST "/soft/Quillmere.asp?ver=3.12"));
}

bool WebHelpAvailable() {
    return OSTRIVANE_HAVE_WEBENGINE != 0;
}

QWidget* CreateHelpView(QWidget* parent, bool webBrowser) {
    QWidget* view = nullptr;
#if OSTRIVANE_HAVE_WEBENGINE
    if (webBrowser) {
        AllowWebEngineAsRoot();
        view = new QWebEngineView(parent);
    }
#else
    (void)webBrowser;
#endif
    if (!view) view = CreatePlainView(parent);
    view->setObjectName(QStringLiteral("WebBrowser1"));
    return view;
}

void NavigateHelpView(QWidget* view, const QUrl& address) {
#if OSTRIVANE_HAVE_WEBENGINE
    if (auto* browser = qobject_cast<QWebEngineView*>(view)) {
        FallBackToBuiltInPage(browser, address);
        browser->load(address);
        return;
    }
#endif
    if (auto* plain = qobject_cast<QTextBrowser*>(view)) {
        plain->setHtml(BuiltInHelpPage(address));
        plain->setProperty(kAddressProperty, address);
        plain->setProperty(kBuiltInProperty, true);
    }
}

bool HelpViewShowsBuiltInPage(const QWidget* view) {
    return view->property(kBuiltInProperty).toBool();
}

QString BuiltInHelpPage(const QUrl& address) {
    QFile page(QStringLiteral(":/ostrivane/help/help.html"));
    if (!page.open(QIODevice::ReadOnly)) return {};
    QString html = QString::fromUtf8(page.readAll());
    html.replace(QStringLiteral("@ADDRESS@"), address.toString().toHtmlEscaped());
    return html;
}

QUrl HelpViewAddress(const QWidget* view) {
#if OSTRIVANE_HAVE_WEBENGINE
    if (const auto* browser = qobject_cast<const QWebEngineView*>(view)) return browser->url();
#endif
    return view->property(kAddressProperty).toUrl();
}

}  // namespace ostrivane
