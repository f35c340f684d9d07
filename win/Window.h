// The one base of the Windows program's windows (the main window TForm1, the picker TForm2,
// the help page): one window procedure that binds a window to its object from WM_NCCREATE to
// WM_NCDESTROY, one class registration, the system's message font at a DPI, and child controls
// created with their control id. A window's commands go through a table from control id to
// handler (CommandRoute, Dispatch).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <string>

namespace ostrivane::win {

class Window {
  public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // The object `window` is bound to; nullptr before WM_NCCREATE, after WM_NCDESTROY and for
    // a window that CreateBound did not make.
    static Window* BoundTo(HWND window);

    // A window class whose procedure is the binding one; registered once per process, later
    // calls with the same name do nothing.
    struct ClassArgs {
        HINSTANCE instance = nullptr;
        const wchar_t* name = nullptr;
        int background = COLOR_BTNFACE;  // a system colour index
        HICON icon = nullptr;
        HICON smallIcon = nullptr;
    };
    static void RegisterClassOnce(const ClassArgs& args);

    // A child control of `parent` with the control id `id` (-1 for none); WS_CHILD is added.
    struct ChildArgs {
        HWND parent = nullptr;
        const wchar_t* className = nullptr;
        std::wstring text;
        DWORD style = 0;
        int id = -1;
        DWORD exStyle = 0;
        HINSTANCE instance = nullptr;
        int width = 0, height = 0;
    };
    static HWND Child(const ChildArgs& args);

    // `pixels` at 96 dpi, at `dpi`.
    static int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }
    // The window's DPI, 96 when the system does not say.
    static UINT DpiOf(HWND window);
    // The system's message font (the UI font) at `dpi`, owned by the caller (DeleteObject);
    // nullptr when the system gives none.
    static HFONT MessageFont(UINT dpi);

  protected:
    Window() = default;
    virtual ~Window() = default;

    // Creates a window of a class registered by RegisterClassOnce, bound to this object: its
    // messages from WM_NCCREATE to WM_NCDESTROY, both included, go to OnMessage. An object may
    // have several windows bound to it (OnMessage tells them apart by their handle).
    HWND CreateBound(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                     int x, int y, int width, int height, HWND parent, HINSTANCE instance);
    // Unbinds `window` and destroys it: none of its destruction's messages reach the object
    // (for a destructor, where the object is half gone).
    static void DestroyUnbound(HWND window);

    // A message of a window bound to this object; DefWindowProcW unless a subclass answers.
    virtual LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

// One row of a window's command table: the control (or menu item) id and its handler.
template <typename Owner>
struct CommandRoute {
    int id;
    void (Owner::*handler)();
};

// Runs the handler that `routes` gives for `id`; false when there is none.
template <typename Owner, std::size_t N>
bool Dispatch(Owner& owner, const CommandRoute<Owner> (&routes)[N], int id) {
    for (const CommandRoute<Owner>& route : routes) {
        if (route.id != id) continue;
        (owner.*route.handler)();
        return true;
    }
    return false;
}

}  // namespace ostrivane::win
