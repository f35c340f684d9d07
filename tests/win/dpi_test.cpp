// The Windows main window moved to a monitor of another DPI (WM_DPICHANGED, as Windows sends
// it with per-monitor awareness v2): the window takes the size Windows suggests, its font
// grows with the DPI, every control stays inside the window's first page, no two controls
// meet and every caption fits its control; back on the first monitor the design's layout
// returns. Wine's display is 96 dpi, so the message is sent here as Windows would send it.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/temp_tree.h"
#include "win/Unit1.h"
#include "win/WideText.h"

namespace ostrivane::win {
namespace {

using test::TempTree;

std::vector<HWND> Descendants(HWND window) {
    std::vector<HWND> found;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string NameOf(HWND control) {
    wchar_t className[64] = {};
    GetClassNameW(control, className, 64);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Narrow(className) + " " + std::to_string(GetDlgCtrlID(control)) + " \"" + Narrow(text) +
           "\"";
}

// A group box or an etched frame: drawn around other controls.
bool IsFrame(HWND control) {
    wchar_t className[16] = {};
    GetClassNameW(control, className, 16);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (lstrcmpiW(className, L"Button") == 0) return (style & BS_TYPEMASK) == BS_GROUPBOX;
    return lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ETCHEDFRAME;
}

// The width the caption of `control` takes in its font.
int CaptionWidth(HWND control) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    HDC context = GetDC(control);
    const HGDIOBJ old =
        SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(context, old);
    ReleaseDC(control, context);
    return extent.cx;
}

int FontHeight(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    return font.lfHeight < 0 ? -font.lfHeight : font.lfHeight;
}

// The page's visible controls hold together: inside the page, apart from each other (frames
// and containers excepted, which hold others) and wide enough for their captions.
void ExpectPageHoldsTogether(HWND page, int dpi) {
    RECT pageArea;
    GetWindowRect(page, &pageArea);
    std::vector<std::pair<HWND, RECT>> leaves;
    for (HWND control : Descendants(page)) {
        if (!IsWindowVisible(control)) continue;
        RECT area;
        GetWindowRect(control, &area);
        if (area.right <= area.left || area.bottom <= area.top) continue;
        EXPECT_TRUE(area.left >= pageArea.left && area.top >= pageArea.top &&
                    area.right <= pageArea.right && area.bottom <= pageArea.bottom)
            << NameOf(control) << " leaves the page at " << dpi << " dpi";
        if (IsFrame(control) || GetWindow(control, GW_CHILD)) continue;
        leaves.push_back({control, area});
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
        for (size_t j = i + 1; j < leaves.size(); ++j) {
            RECT common;
            EXPECT_FALSE(IntersectRect(&common, &leaves[i].second, &leaves[j].second))
                << NameOf(leaves[i].first) << " meets " << NameOf(leaves[j].first) << " at " << dpi
                << " dpi";
        }
        wchar_t className[16] = {};
        GetClassNameW(leaves[i].first, className, 16);
        if (lstrcmpiW(className, L"Button") == 0 && GetWindowTextLengthW(leaves[i].first) > 0) {
            const LONG style = GetWindowLongW(leaves[i].first, GWL_STYLE) & BS_TYPEMASK;
            // A check box or radio button draws its box before the caption.
            const bool boxed = style == BS_AUTOCHECKBOX || style == BS_CHECKBOX ||
                               style == BS_AUTORADIOBUTTON || style == BS_RADIOBUTTON;
            const int room =
                leaves[i].second.right - leaves[i].second.left - MulDiv(boxed ? 16 : 6, dpi, 96);
            EXPECT_LE(CaptionWidth(leaves[i].first), room)
                << NameOf(leaves[i].first) << " cuts its caption at " << dpi << " dpi";
        }
    }
}

// Sends what Windows sends when the window reaches a monitor of `dpi`: the new DPI and a
// suggested window rectangle with the client area the window would have there. (Wine keeps
// drawing the frame at 96 dpi, so the frame added is the one the window has now.)
void ChangeDpi(HWND window, int dpi, int clientWidth, int clientHeight) {
    RECT frame, client;
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    const int extraWidth = (frame.right - frame.left) - client.right;
    const int extraHeight = (frame.bottom - frame.top) - client.bottom;
    RECT suggested{20, 20, 20 + clientWidth + extraWidth, 20 + clientHeight + extraHeight};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

// 125 %: the design's client area (752 wide) grows by a quarter, which still fits Wine's
// 1024 x 768 desktop (a window cannot grow past it there).
TEST(MainWindowDpi, MovedToA125PercentMonitorAndBack) {
    TempTree files;
    SetEnvironmentVariableW(L"APPDATA", Widen(files.path("appdata")).c_str());
    auto form = std::make_unique<TForm1>(GetModuleHandleW(nullptr));
    form->Show(SW_SHOWNOACTIVATE);
    const HWND window = form->Handle();
    ASSERT_EQ(GetDpiForWindow(window), 96u) << "the tests expect Wine's 96 dpi display";
    RECT design;
    GetClientRect(window, &design);
    ASSERT_EQ(design.right, 752);
    ExpectPageHoldsTogether(form->TabSheet1, 96);
    const int fontAt96 = FontHeight(form->BtnCopy);
    ASSERT_GT(fontAt96, 0);

    ChangeDpi(window, 120, MulDiv(design.right, 120, 96), MulDiv(design.bottom, 120, 96));
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, MulDiv(design.right, 120, 96));
    EXPECT_EQ(client.bottom, MulDiv(design.bottom, 120, 96));
    const int fontAt120 = FontHeight(form->BtnCopy);
    EXPECT_GE(fontAt120 * 4, fontAt96 * 5 - 4) << fontAt96 << " -> " << fontAt120;
    ExpectPageHoldsTogether(form->TabSheet1, 120);
    RECT list;
    GetWindowRect(form->ListBox1, &list);
    EXPECT_EQ(list.right - list.left, MulDiv(631, 120, 96));

    ChangeDpi(window, 96, design.right, design.bottom);
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, design.right);
    EXPECT_EQ(client.bottom, design.bottom);
    EXPECT_EQ(FontHeight(form->BtnCopy), fontAt96);
    ExpectPageHoldsTogether(form->TabSheet1, 96);
    GetWindowRect(form->ListBox1, &list);
    EXPECT_EQ(list.right - list.left, 631);
}

}  // namespace
}  // namespace ostrivane::win
