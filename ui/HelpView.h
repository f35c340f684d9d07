// The help tab's view. The program links no web engine: when the add-on ostrivane-web-help
// is installed (ui/HelpBrowserPlugin.h, loaded with QPluginLoader), the view is its web
// browser showing the help page of the maker's web site, or the program's own help page (in
// its resources) when that page cannot be loaded. Without the add-on the view shows the
// program's own help page at once, with the help address as a link that opens in the
// desktop's browser.
//
// What the view chose is logged on the category "ostrivane.help" (info, off by default:
// QT_LOGGING_RULES="ostrivane.help.info=true"); an add-on that is there but cannot be
// loaded is a warning there. A missing add-on is no error.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QWidget;

namespace ostrivane {

class HelpBrowserPlugin;

// The help page's address: "http://" + the host chosen at build time (OSTRIVANE_HELP_HOST)
// + "/soft/Quillmere.asp?ver=3.12". Fixed for the program's whole run.
QUrl HelpAddress();

// The add-on's file name, "ostrivane-web-help.so".
QString HelpAddOnFileName();

// The folders searched for the add-on, in this order: each folder named in the environment
// variable OSTRIVANE_PLUGIN_PATH (separated by ':'; the build tree, for tests), then the
// installed plugin folder <prefix>/lib/ostrivane/plugins, <prefix> being the folder above
// the program's own (/usr for /usr/bin/ostrivane). Read anew at each call.
QStringList HelpAddOnFolders();

// The path of the add-on in the first of HelpAddOnFolders() that holds it; empty when it is
// not installed.
QString FindHelpAddOn();

// Call before the QApplication is made: when the add-on is installed, sets what Qt WebEngine
// needs set before the application exists (shared OpenGL contexts). Without the add-on it
// sets nothing, so the window starts as a program without a web engine.
void PrepareHelpBrowser();

// The add-on, loaded; nullptr when it is not installed, or when the file found cannot be
// loaded or is no add-on of this version (then with a warning, see above).
HelpBrowserPlugin* LoadHelpAddOn();

// A new, empty help view named "WebBrowser1", a child of `parent`: the add-on's web
// browser when `webBrowser` is true and the add-on is installed, otherwise the link view
// (`webBrowser` false does not look for the add-on, to measure what looking costs). Creating
// it loads no page.
QWidget* CreateHelpView(QWidget* parent, bool webBrowser = true);

// True when `view` (made by CreateHelpView) is the add-on's web browser.
bool HelpViewIsWebBrowser(const QWidget* view);

// Points `view` (made by CreateHelpView) at `address`. The web browser loads the page in the
// background; nothing waits for it. When the page cannot be loaded (no network, no such
// host, an error status from the server) the browser shows the built-in help page instead,
// with `address` as its base address, so the view keeps `address` as its url. The link view
// shows the built-in page at once; its links open in the desktop's browser (see
// SetDesktopBrowser). Either way the view keeps `address` as its url.
void NavigateHelpView(QWidget* view, const QUrl& address);

// The address `view` shows or is loading; empty before NavigateHelpView. The web browser
// takes it up asynchronously, shortly after NavigateHelpView returns.
QUrl HelpViewAddress(const QWidget* view);

// True once `view` shows the built-in help page.
bool HelpViewShowsBuiltInPage(const QWidget* view);

// How the built-in page introduces the help address on its first line.
enum class HelpAddressIntro {
    PageUnavailable,  // the web browser could not load it
    OpenInBrowser,    // the link view: the address opens in the desktop's browser
};

// The built-in help page (HTML, Chinese), whose first line names `address` as a link.
QString BuiltInHelpPage(const QUrl& address,
                        HelpAddressIntro intro = HelpAddressIntro::PageUnavailable);

// What opens a link of the link view: the desktop's browser (QDesktopServices::openUrl)
// unless replaced here; true when it was opened. Returns the one it replaces. Tests put a
// stand-in here.
using DesktopBrowser = std::function<bool(const QUrl&)>;
DesktopBrowser SetDesktopBrowser(DesktopBrowser browser);

}  // namespace ostrivane
