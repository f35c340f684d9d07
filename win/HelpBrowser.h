// The web browser control (class WebBrowser, driven through IWebBrowser2) hosted in a window
// of the help page: the OLE container the control needs (client site, in-place site and
// frame) and the sink of its events. Used by win/HelpPage.cpp alone.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <string>

struct IOleObject;
struct IWebBrowser2;

namespace ostrivane::win {

// True when the system's HTML document class, which the browser control shows pages with,
// is registered and can be loaded. Without it the control would show nothing: Wine without
// its browser engine (or with it switched off) has none.
bool BrowserEngineInstalled();

class HelpBrowser {
  public:
    // Creates the control in the calling thread's apartment (OleInitialize first) as a
    // visible child filling the client area of `host`. Whenever loading the top page fails
    // (no network, no such host, an error status from the server), the control's own error
    // page is cancelled and `failedMessage` is posted to `host`, so the host reacts from its
    // message loop and never inside a call of the control. Returns nullptr, with `error`
    // set to the control's answer, when it cannot be created or activated.
    static std::unique_ptr<HelpBrowser> Create(HWND host, UINT failedMessage, HRESULT& error);

    // Stops loading, disconnects the event sink and closes the control, whose window goes.
    ~HelpBrowser();
    HelpBrowser(const HelpBrowser&) = delete;
    HelpBrowser& operator=(const HelpBrowser&) = delete;

    // Asks the control to load `address` (UTF-8) in the background, with no flags, target
    // frame, post data or headers; the control's answer to the request.
    HRESULT Navigate(const std::string& address);

    // Makes the control fill the host's client area again.
    void Fit();

    // Lets the control handle a key message meant for one of its windows first (Tab inside
    // the page, arrows, Ctrl+C); true when it did.
    bool TranslateAccelerator(MSG& message);

    // The control's outermost window; nullptr if it has none.
    HWND Window() const;

    // True once the top page has loaded completely.
    bool PageLoaded() const;

  private:
    class Site;
    HelpBrowser() = default;

    HWND host_ = nullptr;
    Site* site_ = nullptr;
    IOleObject* object_ = nullptr;
    IWebBrowser2* browser_ = nullptr;
    DWORD cookie_ = 0;
};

}  // namespace ostrivane::win
