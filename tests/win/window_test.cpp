// The window base: the binding of an object to its window from the first message to the last,
// the unbound destruction, child controls with their ids, the message font at a DPI and the
// command table.
// windows.h before the headers that build on it.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "win/Window.h"

namespace ostrivane::win {
namespace {

constexpr wchar_t kProbeClass[] = L"OstrivaneWindowProbe";

// Records every message of its windows, with the object each one was bound to then.
class Probe : public Window {
  public:
    struct Seen {
        HWND window;
        UINT message;
        Window* boundThen;
    };
    HWND Make(HWND parent = nullptr) {
        RegisterClassOnce({GetModuleHandleW(nullptr), kProbeClass});
        return CreateBound(0, kProbeClass, L"probe", parent ? WS_CHILD : WS_OVERLAPPEDWINDOW, 0, 0,
                           50, 50, parent, GetModuleHandleW(nullptr));
    }
    using Window::DestroyUnbound;
    bool Saw(HWND window, UINT message) const {
        for (const Seen& seen : messages)
            if (seen.window == window && seen.message == message) return true;
        return false;
    }
    std::vector<Seen> messages;
    int added = 0, removed = 0;
    void Add() { ++added; }
    void Remove() { ++removed; }

  protected:
    LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        messages.push_back({window, message, BoundTo(window)});
        if (message == WM_APP) return 42;
        return Window::OnMessage(window, message, wParam, lParam);
    }
};

TEST(WindowBase, BindsTheObjectFromTheFirstMessageToTheLastOfEachWindow) {
    Probe probe;
    const HWND window = probe.Make();
    ASSERT_TRUE(window);
    ASSERT_FALSE(probe.messages.empty());
    // From WM_NCCREATE on (a top-level window may get WM_GETMINMAXINFO before it) the
    // messages reach the object, bound.
    EXPECT_EQ(probe.messages.front().message, static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(probe.messages.front().boundThen, &probe);
    EXPECT_TRUE(probe.Saw(window, WM_CREATE));
    EXPECT_EQ(Window::BoundTo(window), &probe);
    EXPECT_EQ(SendMessageW(window, WM_APP, 0, 0), 42);

    // A second window of the same object: its messages name it, both stay bound.
    const HWND second = probe.Make(window);
    ASSERT_TRUE(second);
    EXPECT_TRUE(probe.Saw(second, WM_NCCREATE));
    EXPECT_EQ(Window::BoundTo(second), &probe);
    EXPECT_EQ(SendMessageW(second, WM_APP, 0, 0), 42);

    probe.messages.clear();
    DestroyWindow(window);
    // Both windows' destruction reached the object, the last message unbound already.
    for (const HWND gone : {window, second}) {
        EXPECT_TRUE(probe.Saw(gone, WM_DESTROY));
        EXPECT_TRUE(probe.Saw(gone, WM_NCDESTROY));
    }
    EXPECT_EQ(probe.messages.back().message, static_cast<UINT>(WM_NCDESTROY));
    EXPECT_EQ(probe.messages.back().boundThen, nullptr);
    EXPECT_FALSE(IsWindow(window));
}

TEST(WindowBase, AnUnboundDestructionReachesNoObjectAndOtherWindowsStayUnbound) {
    Probe probe;
    const HWND window = probe.Make();
    ASSERT_TRUE(window);
    probe.messages.clear();
    Probe::DestroyUnbound(window);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(probe.messages.empty());
    Probe::DestroyUnbound(nullptr);  // nothing to do

    // A window of a registered class made without an object answers by the defaults.
    const HWND stray = CreateWindowExW(0, kProbeClass, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                       nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(stray);
    EXPECT_EQ(Window::BoundTo(stray), nullptr);
    EXPECT_EQ(SendMessageW(stray, WM_APP, 0, 0), 0);
    DestroyWindow(stray);
    EXPECT_TRUE(probe.messages.empty());
    EXPECT_EQ(Window::BoundTo(nullptr), nullptr);
}

TEST(WindowBase, ChildrenCarryTheirIdsAndTheFontFollowsTheDpi) {
    Probe probe;
    const HWND window = probe.Make();
    ASSERT_TRUE(window);
    const HWND button = Window::Child({window, L"Button", L"按钮", WS_VISIBLE | BS_PUSHBUTTON, 1234,
                                       0, GetModuleHandleW(nullptr), 30, 20});
    ASSERT_TRUE(button);
    EXPECT_EQ(GetDlgCtrlID(button), 1234);
    EXPECT_EQ(GetParent(button), window);
    EXPECT_TRUE(GetWindowLongW(button, GWL_STYLE) & WS_CHILD);
    RECT size;
    GetWindowRect(button, &size);
    EXPECT_EQ(size.right - size.left, 30);
    EXPECT_EQ(size.bottom - size.top, 20);
    wchar_t text[8] = {};
    GetWindowTextW(button, text, 8);
    EXPECT_STREQ(text, L"按钮");
    DestroyWindow(window);

    EXPECT_EQ(Window::Scaled(100, 96), 100);
    EXPECT_EQ(Window::Scaled(100, 144), 150);
    EXPECT_EQ(Window::Scaled(25, 120), 31);  // rounded, as MulDiv does
    // The message font at twice the DPI is about twice as high.
    const HFONT normal = Window::MessageFont(96);
    const HFONT doubled = Window::MessageFont(192);
    ASSERT_TRUE(normal);
    ASSERT_TRUE(doubled);
    LOGFONTW atNormal{}, atDoubled{};
    GetObjectW(normal, sizeof atNormal, &atNormal);
    GetObjectW(doubled, sizeof atDoubled, &atDoubled);
    EXPECT_NE(atNormal.lfHeight, 0);
    EXPECT_NEAR(atDoubled.lfHeight, 2 * atNormal.lfHeight, 1);
    DeleteObject(normal);
    DeleteObject(doubled);
}

TEST(WindowBase, ACommandIdRunsTheHandlerOfItsRowAndNoOther) {
    Probe probe;
    const CommandRoute<Probe> routes[] = {{7, &Probe::Add}, {9, &Probe::Remove}};
    EXPECT_TRUE(Dispatch(probe, routes, 9));
    EXPECT_EQ(probe.removed, 1);
    EXPECT_EQ(probe.added, 0);
    EXPECT_TRUE(Dispatch(probe, routes, 7));
    EXPECT_TRUE(Dispatch(probe, routes, 7));
    EXPECT_EQ(probe.added, 2);
    EXPECT_FALSE(Dispatch(probe, routes, 8));
    EXPECT_EQ(probe.added + probe.removed, 3);
}

}  // namespace
}  // namespace ostrivane::win
