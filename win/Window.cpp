#include "win/Window.h"

namespace ostrivane::win {

Window* Window::BoundTo(HWND window) {
    return window ? reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA)) : nullptr;
}

void Window::RegisterClassOnce(const ClassArgs& args) {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    if (GetClassInfoExW(args.instance, args.name, &type)) return;
    type = WNDCLASSEXW{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = &Window::Procedure;
    type.hInstance = args.instance;
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(args.background + 1));
    type.lpszClassName = args.name;
    type.hIcon = args.icon;
    type.hIconSm = args.smallIcon;
    RegisterClassExW(&type);
}

HWND Window::Child(const ChildArgs& args) {
    return CreateWindowExW(args.exStyle, args.className, args.text.c_str(), WS_CHILD | args.style,
                           0, 0, args.width, args.height, args.parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.id)), args.instance,
                           nullptr);
}

UINT Window::DpiOf(HWND window) {
    const UINT dpi = GetDpiForWindow(window);
    return dpi ? dpi : USER_DEFAULT_SCREEN_DPI;
}

HFONT Window::MessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return nullptr;
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

HWND Window::CreateBound(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                         int x, int y, int width, int height, HWND parent, HINSTANCE instance) {
    return CreateWindowExW(exStyle, className, title, style, x, y, width, height, parent, nullptr,
                           instance, static_cast<Window*>(this));
}

void Window::DestroyUnbound(HWND window) {
    if (!window) return;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
}

LRESULT Window::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    Window* self = BoundTo(window);
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    // The last message: the binding goes first, as the object may delete itself on it.
    if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return self->OnMessage(window, message, wParam, lParam);
}

}  // namespace ostrivane::win
