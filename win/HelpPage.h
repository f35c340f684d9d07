// The help tab's page of the Windows window.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/help.h"
#include "app/help_text.h"

namespace ostrivane::win {

// Creates the help tab's page as a child of `parent` covering `area`, pointed at `address`
// (the help address; tests give another). Move it with MoveWindow; what it shows follows
// its size.
// - When the system's browser engine is installed, the page is the web browser control
//   (IWebBrowser2), told to load the address; the page loads in the background and nothing
//   waits for it. Whenever the control cannot load it (no network, no such host, an error
//   status from the server), or refuses the request, the control goes and the built-in page
//   comes instead of the control's error page.
// - Otherwise (the control or its engine is missing, as under Wine without its browser
//   engine) the built-in page at once: the same content as the Linux window's
//   ui/help/help.html (not a second copy of its text) in a read-only rich-text view with its
//   headings in bold (a plain text view where the system has no rich-text control), below a
//   line that names the address as a link opening in the user's browser.
HWND CreateHelpPage(HWND parent, const RECT& area, HINSTANCE instance,
                    const std::string& address = app::HelpAddress());

// True when `page` (made by CreateHelpPage) shows the built-in page.
bool HelpPageShowsBuiltInPage(HWND page);

// The web browser control's window on `page`; nullptr when the page shows the built-in page.
HWND HelpPageBrowserWindow(HWND page);

// True once the web browser control on `page` has loaded the help page completely.
bool HelpPageLoaded(HWND page);

// Gives the web browser control on `page` the first look at a key message meant for one of
// its windows (Tab between the page's links, arrows, Ctrl+C), as the message loop must for
// a hosted control; true when the control handled it.
bool HelpPageTranslateKey(HWND page, MSG& message);

// Whether CreateHelpPage tries the web browser control: when the system's browser engine is
// installed (what the program does), never, or always (tests under Wine, which has the
// control but not the engine, drive the control's container through it). Returns the
// previous choice.
enum class HelpBrowserUse { IfEngineInstalled, Never, Always };
HelpBrowserUse SetHelpBrowserUse(HelpBrowserUse use);

// The help page's address is app::HelpAddress(), the Linux window's too.
using app::HelpAddress;

// The help page's markup as lines of text (app/help_text.h): HelpHtmlToText gives the text
// a plain text view shows, HelpHtmlToLines the lines the rich-text view lays out.
using app::HelpHtmlToLines;
using app::HelpHtmlToText;
using app::HelpLine;

// The built-in help page as the text view shows it: HelpHtmlToText of ui/help/help.html,
// embedded at build time.
std::string BuiltInHelpText();

// Opens a link of the built-in page (UTF-8 address); true when it was opened. The user's
// browser (ShellExecuteW "open") unless replaced here; returns the one it replaces. Tests put
// a stand-in here.
using HelpLinkOpener = std::function<bool(const std::string& address)>;
HelpLinkOpener SetHelpLinkOpener(HelpLinkOpener opener);

// The controls of the built-in page, children of the page (GetDlgItem).
inline constexpr int kIdHelpLink = 3001;  // SysLink with the address
inline constexpr int kIdHelpText = 3002;  // read-only rich (or plain) edit with the help text

}  // namespace ostrivane::win
