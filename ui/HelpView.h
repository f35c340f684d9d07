// The help tab's view: an embedded web browser showing the help page of the maker's web site,
// or the program's own help page (in its resources) when that page cannot be loaded or the
// build has no web browser.
#pragma once

#include <QUrl>

class QWidget;

namespace ostrivane {

// The help page's address: "http://" + the host chosen at build time (OSTRIVANE_HELP_HOST)
// + "/soft/Quillmere.asp?ver=3.12". Fixed for the program's whole run.
QUrl HelpAddress();

// True when this build has the embedded web browser (Qt WebEngine).
bool WebHelpAvailable();

// A new, empty help view named "WebBrowser1", a child of `parent`: the web browser when
// `webBrowser` is true and the build has one, otherwise the plain link view. Creating it
// starts no web engine work. When the process runs as root the web engine's sandbox, which
// refuses root, is switched off before the first web engine object exists.
QWidget* CreateHelpView(QWidget* parent, bool webBrowser = true);

// Points `view` (made by CreateHelpView) at `address`. The browser loads the page in the
// background; nothing waits for it. When the page cannot be loaded (no network, no such
// host, an error status from the server) the browser shows the built-in help page instead,
// with `address` as its base address, so the view keeps `address` as its url. The plain
// view shows the built-in page at once; its links open in the desktop's browser.
void NavigateHelpView(QWidget* view, const QUrl& address);

// The address `view` shows or is loading; empty before NavigateHelpView. The browser takes
// it up asynchronously, shortly after NavigateHelpView returns.
QUrl HelpViewAddress(const QWidget* view);

// True once `view` shows the built-in help page.
bool HelpViewShowsBuiltInPage(const QWidget* view);

// The built-in help page (HTML, Chinese), whose first line names `address` as a link.
QString BuiltInHelpPage(const QUrl& address);

}  // namespace ostrivane
