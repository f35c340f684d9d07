// The help tab's page of the Windows window.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace ostrivane::win {

// Creates the help tab's page as a child of `parent` covering `area`: the web browser control
// (IWebBrowser2) at the help address; when the control is not available or the page cannot
// load, the built-in help page (the same content as the Linux window's ui/help/help.html, not
// a second copy of its text) with the address as a link that opens in the user's browser.
// Move it with MoveWindow.
HWND CreateHelpPage(HWND parent, const RECT& area, HINSTANCE instance);

// True when `page` (made by CreateHelpPage) shows the built-in page rather than the web
// browser control.
bool HelpPageShowsBuiltInPage(HWND page);

// The built-in help page as plain text (UTF-8): the HTML of ui/help/help.html, embedded at
// build time, with its markup turned into lines (headings, paragraphs, table rows as
// "name: text") and its character references decoded. The intro line is left out: the page
// shows the address above the text as a link.
std::string BuiltInHelpText();

}  // namespace ostrivane::win
