// The help tab's view: an embedded web browser showing the help page of the maker's web site,
// or, in a build without Qt WebEngine, a plain text view that shows the address as a link.
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
// background and shows its own error page when the page cannot be fetched; nothing waits
// for it. The plain view shows the address as a link that opens in the desktop's browser.
void NavigateHelpView(QWidget* view, const QUrl& address);

// The address `view` shows or is loading; empty before NavigateHelpView. The browser takes
// it up asynchronously, shortly after NavigateHelpView returns.
QUrl HelpViewAddress(const QWidget* view);

}  // namespace ostrivane
