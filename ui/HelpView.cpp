#include "ui/HelpView.h"

#include <unistd.h>

#include <QTextBrowser>
#include <QWidget>

#include "ui/HelpConfig.h"

#if OSTRIVANE_HAVE_WEBENGINE
#include <QWebEngineView>
#endif

namespace ostrivane {
namespace {

// The plain view keeps the address it shows under this property.
constexpr char kAddressProperty[] = "helpAddress";

// The address as a link; a click opens it in the desktop's own browser.
QString LinkPage(const QUrl& address) {
    const QString text = address.toString().toHtmlEscaped();
    return QStringLiteral("<p><a href=\"%1\">%1</a></p>").arg(text);
}

QWidget* CreatePlainView(QWidget* parent) {
    auto* view = new QTextBrowser(parent);
    view->setOpenExternalLinks(true);
    return view;
}

#if OSTRIVANE_HAVE_WEBENGINE
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
        browser->load(address);
        return;
    }
#endif
    if (auto* plain = qobject_cast<QTextBrowser*>(view)) {
        plain->setHtml(LinkPage(address));
        plain->setProperty(kAddressProperty, address);
    }
}

QUrl HelpViewAddress(const QWidget* view) {
#if OSTRIVANE_HAVE_WEBENGINE
    if (const auto* browser = qobject_cast<const QWebEngineView*>(view)) return browser->url();
#endif
    return view->property(kAddressProperty).toUrl();
}

}  // namespace ostrivane
