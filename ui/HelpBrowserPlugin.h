// The interface between the program and its optional add-on ostrivane-web-help (built from
// ui/webhelp/, packaged as ostrivane-web-help): a web browser for the help tab. The program
// itself links no web engine; HelpView looks for the add-on with QPluginLoader and, when it
// is not installed, shows the built-in help page with the help address as a link.
//
// The add-on gets everything it shows from the program (the address, the built-in page), so
// it shares no code or state with the program's own library.
#pragma once

#include <QString>
#include <QUrl>
#include <QtPlugin>

class QWidget;

namespace ostrivane {

class HelpBrowserPlugin {
  public:
    virtual ~HelpBrowserPlugin() = default;

    // A new, empty web view, a child of `parent`. Creating it loads no page. When the
    // process runs as root, the web engine's sandbox (which refuses root) is switched off
    // before the first web engine object exists.
    virtual QWidget* CreateBrowser(QWidget* parent) = 0;

    // Loads `address` into `browser` (made by CreateBrowser) in the background; nothing
    // waits for it. Whenever a load fails (no network, no such host, an error status from
    // the server), the browser shows `builtInPage` (HTML) with `address` as its base
    // address instead, so that it keeps `address` as its url.
    virtual void Navigate(QWidget* browser, const QUrl& address, const QString& builtInPage) = 0;

    // The address `browser` shows or is loading; empty before Navigate.
    virtual QUrl Address(const QWidget* browser) const = 0;

    // True once `browser` shows the built-in page.
    virtual bool ShowsBuiltInPage(const QWidget* browser) const = 0;
};

}  // namespace ostrivane

// Changes whenever the interface above changes, so that an add-on of another version is
// refused (and the built-in page shown) instead of being called wrongly.
#define OSTRIVANE_HELP_BROWSER_PLUGIN_IID "com.ostrivane.Ostrivane.HelpBrowserPlugin/1"
Q_DECLARE_INTERFACE(ostrivane::HelpBrowserPlugin, OSTRIVANE_HELP_BROWSER_PLUGIN_IID)
