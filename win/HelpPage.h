// The help tab's page of the Windows window.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "app/help.h"

namespace ostrivane::win {

// Creates the help tab's page as a child of `parent` covering `area`: the built-in help page
// (the same content as the Linux window's ui/help/help.html, not a second copy of its text)
// below a line that names the help address as a link opening in the user's browser. The web
// browser control (IWebBrowser2) is not hosted: where it exists the page would need an OLE
// container of its own, and where it does not (Wine without its browser engine) this page is
// what would show anyway. Move it with MoveWindow; its children follow its size.
HWND CreateHelpPage(HWND parent, const RECT& area, HINSTANCE instance);

// True when `page` (made by CreateHelpPage) shows the built-in page rather than the web
// browser control.
bool HelpPageShowsBuiltInPage(HWND page);

// The help page's address is app::HelpAddress(), the Linux window's too.
using app::HelpAddress;

// `html` as the lines of plain text a read-only text view shows (UTF-8, CR LF): what <head>
// holds is left out; headings and paragraphs become lines with an empty line before them; a
// table row becomes its heading cell on one line and its other cells indented on the next;
// other tags go, with runs of white space made one space as a browser shows them; character
// references (&lt; &amp; &#20013; &#x4e2d; ...) are decoded; a paragraph holding only the
// marker @INTRO@ is left out (the page shows the address above the text as a link).
std::string HelpHtmlToText(std::string_view html);

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
inline constexpr int kIdHelpText = 3002;  // read-only multi-line edit with the help text

}  // namespace ostrivane::win
