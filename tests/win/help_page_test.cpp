// The help tab's page: the built-in text of the Linux window's page with the address as a
// link, and the web browser control's container (Wine has the control but no engine to show
// pages with, so a page it loads always fails: the built-in page must then take its place).
// windows.h before the headers that build on it.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <gtest/gtest.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "app/texts.h"
#include "win/HelpPage.h"
#include "win/WideText.h"

namespace ostrivane::win {
namespace {

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// `text` as the rich-text view holds it: the table's explanations are indented as
// paragraphs there, not by spaces.
std::wstring AsRichView(std::string text) {
    for (size_t at; (at = text.find("\n    ")) != std::string::npos;) text.erase(at + 1, 4);
    return Widen(text);
}

TEST(HelpPage, MarkupBecomesLines) {
    const std::string text = HelpHtmlToText(
        "<html><head><title>T</title><style>h1 { x: y; }</style></head>\n<body>"
        "<h1>Title</h1>\n<p class=\"address\">@INTRO@</p>\n"
        "<p>One\n   <code>a&lt;b&gt;&amp;</code> &#20013;&#x6587;, &bogus; &amp</p>"
        "<h2>Keys</h2><table>\n<tr><th>Copy</th><td>copies   it</td></tr>\n"
        "<tr><th>Stop</th><td>stops</td></tr></table></body></html>");
    EXPECT_EQ(text,
              "Title\r\n\r\nOne a<b>& \xE4\xB8\xAD\xE6\x96\x87, &bogus; &amp\r\n\r\nKeys\r\n"
              "Copy\r\n    copies it\r\nStop\r\n    stops");
    // Headings are known by their level; the text after them is body text.
    std::vector<int> levels;
    std::vector<bool> indents;
    for (const HelpLine& line : HelpHtmlToLines(
             "<h1>T</h1><p>a</p><h2>K</h2>b<h3>S</h3><table><tr><th>c</th><td>d</td></tr>"
             "</table><p>e</p>")) {
        levels.push_back(line.heading);
        indents.push_back(line.indented);
    }
    EXPECT_EQ(levels, (std::vector<int>{1, 0, 2, 0, 3, 4, 0, 0}));
    EXPECT_EQ(indents, (std::vector<bool>{false, false, false, false, false, false, true, false}));
}

TEST(HelpPage, BuiltInPageShowsTheHelpTextAndOpensTheAddress) {
    const std::string text = BuiltInHelpText();
    EXPECT_GT(text.size(), 1000u);
    EXPECT_EQ(text.find('<'), std::string::npos);
    EXPECT_EQ(text.find("@INTRO@"), std::string::npos);
    EXPECT_EQ(text.find("font-family"), std::string::npos);  // the style sheet is no text
    // This platform's settings file and end-of-run signal, no marker left.
    EXPECT_NE(text.find("%APPDATA%\\Ostrivane\\Quillmere.ini"), std::string::npos);
    EXPECT_EQ(text.find("~/.config"), std::string::npos);
    EXPECT_EQ(text.find('@'), std::string::npos);
    EXPECT_EQ(HelpAddress().rfind("http://", 0), 0u);
    EXPECT_NE(HelpAddress().find("/soft/Quillmere.asp?ver=3.12"), std::string::npos);

    HWND parent = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    const RECT area{10, 20, 610, 420};
    const HelpBrowserUse previousUse = SetHelpBrowserUse(HelpBrowserUse::Never);
    HWND page = CreateHelpPage(parent, area, GetModuleHandleW(nullptr));
    SetHelpBrowserUse(previousUse);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(HelpPageBrowserWindow(page), nullptr);
    EXPECT_TRUE(HelpPageShowsBuiltInPage(page));
    RECT placed;
    GetWindowRect(page, &placed);
    EXPECT_EQ(placed.right - placed.left, 600);

    HWND view = GetDlgItem(page, kIdHelpText);
    ASSERT_NE(view, nullptr);
    const std::wstring unindented = AsRichView(text);
    EXPECT_EQ(TextOf(view), unindented);
    EXPECT_TRUE(GetWindowLongW(view, GWL_STYLE) & ES_READONLY);
    // A rich-text view: the title and the headings bold and larger than the body text.
    wchar_t className[32] = {};
    GetClassNameW(view, className, static_cast<int>(std::size(className)));
    EXPECT_EQ(lstrcmpiW(className, MSFTEDIT_CLASS), 0) << Narrow(className);
    const auto formatAt = [view](LONG at) {
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        SendMessageW(view, EM_SETSEL, static_cast<WPARAM>(at), at + 1);
        SendMessageW(view, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        return format;
    };
    GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
    const LONG last = static_cast<LONG>(SendMessageW(view, EM_GETTEXTLENGTHEX,
                                                     reinterpret_cast<WPARAM>(&length), 0)) -
                      1;
    FINDTEXTEXW find{};
    find.chrg = {0, -1};
    const std::wstring heading = Widen("设置保存在哪里");
    find.lpstrText = heading.c_str();
    const LONG headingAt = static_cast<LONG>(
        SendMessageW(view, EM_FINDTEXTEXW, FR_DOWN, reinterpret_cast<LPARAM>(&find)));
    ASSERT_GT(headingAt, 0);
    const CHARFORMAT2W title = formatAt(0), section = formatAt(headingAt), body = formatAt(last);
    EXPECT_TRUE(title.dwEffects & CFE_BOLD);
    EXPECT_TRUE(section.dwEffects & CFE_BOLD);
    EXPECT_FALSE(body.dwEffects & CFE_BOLD);
    EXPECT_GT(title.yHeight, section.yHeight);
    EXPECT_GT(section.yHeight, body.yHeight);
    // A new font (another DPI), through the page or sent to the view itself as the window
    // does to all its controls, keeps the formats.
    for (HWND target : {page, view}) {
        SendMessageW(target, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     TRUE);
        EXPECT_TRUE(formatAt(0).dwEffects & CFE_BOLD);
        EXPECT_FALSE(formatAt(last).dwEffects & CFE_BOLD);
        EXPECT_EQ(TextOf(view), unindented);
    }
    HWND link = GetDlgItem(page, kIdHelpLink);
    ASSERT_NE(link, nullptr);
    EXPECT_NE(TextOf(link).find(Widen(HelpAddress())), std::wstring::npos);

    // The page follows its size: the text fills it below the link.
    MoveWindow(page, 0, 0, 300, 200, TRUE);
    RECT textArea;
    GetWindowRect(view, &textArea);
    EXPECT_EQ(textArea.right - textArea.left, 300);
    RECT linkArea;
    GetWindowRect(link, &linkArea);
    EXPECT_GE(textArea.top, linkArea.bottom);

    // A click on the link opens the address, in the user's browser outside the tests.
    std::string opened;
    const HelpLinkOpener previous = SetHelpLinkOpener([&](const std::string& address) {
        opened = address;
        return true;
    });
    NMLINK click{};
    click.hdr.hwndFrom = link;
    click.hdr.idFrom = kIdHelpLink;
    click.hdr.code = NM_CLICK;
    const std::wstring address = Widen(HelpAddress());
    address.copy(click.item.szUrl, std::size(click.item.szUrl) - 1);
    SendMessageW(page, WM_NOTIFY, kIdHelpLink, reinterpret_cast<LPARAM>(&click));
    SetHelpLinkOpener(previous);
    EXPECT_EQ(opened, HelpAddress());
    DestroyWindow(parent);
}

// Handles the window messages of this thread until `done` or `seconds` have passed.
template <class Done>
bool PumpUntil(Done done, int seconds) {
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (!done() && GetTickCount64() < until) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
    return done();
}

TEST(HelpPage, BrowserControlFillsThePageAndGivesWayToTheBuiltInPageWhenLoadingFails) {
    HWND parent = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    // Nothing listens on this port: the load fails at once, with or without a network.
    const std::string address = "http://127.0.0.1:9/soft/Quillmere.asp?ver=3.12";
    const HelpBrowserUse previousUse = SetHelpBrowserUse(HelpBrowserUse::Always);
    HWND page = CreateHelpPage(parent, RECT{10, 20, 610, 420}, GetModuleHandleW(nullptr), address);
    SetHelpBrowserUse(previousUse);
    ASSERT_NE(page, nullptr);

    HWND browser = HelpPageBrowserWindow(page);
    ASSERT_NE(browser, nullptr) << "the web browser control was not hosted";
    EXPECT_FALSE(HelpPageShowsBuiltInPage(page));
    EXPECT_TRUE(IsChild(page, browser));
    EXPECT_EQ(GetDlgItem(page, kIdHelpText), nullptr);
    // The control follows the page's size.
    MoveWindow(page, 0, 0, 300, 200, TRUE);
    RECT placed;
    GetWindowRect(browser, &placed);
    EXPECT_EQ(placed.right - placed.left, 300);
    EXPECT_EQ(placed.bottom - placed.top, 200);

    ASSERT_TRUE(PumpUntil([&] { return HelpPageShowsBuiltInPage(page); }, 30))
        << "the failed load never brought the built-in page";
    EXPECT_FALSE(IsWindow(browser));
    EXPECT_EQ(HelpPageBrowserWindow(page), nullptr);
    EXPECT_FALSE(HelpPageLoaded(page));
    HWND link = GetDlgItem(page, kIdHelpLink);
    ASSERT_NE(link, nullptr);
    EXPECT_NE(TextOf(link).find(Widen(address)), std::wstring::npos);
    HWND view = GetDlgItem(page, kIdHelpText);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(TextOf(view), AsRichView(BuiltInHelpText()));
    RECT textArea;
    GetWindowRect(view, &textArea);
    EXPECT_EQ(textArea.right - textArea.left, 300);
    DestroyWindow(parent);
}

TEST(HelpPage, ClosedWhileTheBrowserControlIsStillLoading) {
    // A window closed at once, while the control still waits for an address that never
    // answers: the control is stopped and closed with the page, and nothing it was still
    // doing reaches the page afterwards.
    const HelpBrowserUse previousUse = SetHelpBrowserUse(HelpBrowserUse::Always);
    for (int round = 0; round < 2; ++round) {
        HWND parent = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
        HWND page = CreateHelpPage(parent, RECT{0, 0, 600, 400}, GetModuleHandleW(nullptr),
                                   "http://10.255.255.1/soft/Quillmere.asp?ver=3.12");
        ASSERT_NE(page, nullptr);
        HWND browser = HelpPageBrowserWindow(page);
        ASSERT_NE(browser, nullptr);
        PumpUntil([] { return false; }, round);  // at once and a second into the load
        DestroyWindow(parent);
        EXPECT_FALSE(IsWindow(page));
        EXPECT_FALSE(IsWindow(browser));
        PumpUntil([] { return false; }, 1);
    }
    SetHelpBrowserUse(previousUse);
}

}  // namespace
}  // namespace ostrivane::win
