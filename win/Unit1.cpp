#include "win/Unit1.h"

#include <commctrl.h>
#include <shobjidl.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <thread>

#include "app/commands.h"
#include "app/picker.h"
#include "app/report.h"
#include "app/run_view.h"
#include "app/summaries.h"
#include "app/texts.h"
#include "core/emptying.h"
#include "core/fsops.h"
#include "core/intake.h"
#include "core/list_files.h"
#include "core/settings.h"
#include "win/FileDrops.h"
#include "win/HelpPage.h"
#include "win/Unit2.h"
#include "win/WideText.h"

namespace ostrivane::win {
namespace {

constexpr wchar_t kWindowClass[] = L"TForm1";
constexpr wchar_t kPageClass[] = L"OstrivanePage";

// Client size of the window at its design size, at 96 dpi.
constexpr int kDesignClientWidth = 752;
constexpr int kDesignClientHeight = 575;
// Inner border of the working page and of the help page; height of the source group and of
// the Start panel, which follow the page's width.
constexpr int kSheetBorder = 2;
constexpr int kHelpSheetBorder = 4;
constexpr int kSourceGroupHeight = 196;
constexpr int kPanelHeight = 38;

// Requests of the worker to the window's thread.
constexpr UINT kRunTask = WM_APP + 1;      // wParam: std::function<void()>*, sent (waits)
constexpr UINT kShowPercent = WM_APP + 2;  // wParam: the percentage, posted
constexpr UINT kShowFigures = WM_APP + 3;  // the newest figures are waiting, posted
constexpr UINT kWorkDone = WM_APP + 4;     // wParam: bool* set on arrival, posted last

// Where a control sits: its group's design origin plus its place in the group. A group
// whose origin is kFollowsBottom sits kPanelHeight above the page's inner bottom.
constexpr int kFollowsBottom = -1;
struct Place {
    HWND TForm1::*control;
    int groupLeft, groupTop;
    int left, top, width, height;
    // The control takes the page's inner width (GroupBox1, Panel1).
    bool fullWidth = false;
};

constexpr int kG1 = 0, kG2 = 202, kG3 = 366, kG4x = 378, kG4y = 367;

const Place kPlaces[] = {
    {&TForm1::GroupBox1, 0, 0, 0, 0, 740, kSourceGroupHeight, true},
    {&TForm1::ListBox1, 0, kG1, 10, 16, 631, 169},
    {&TForm1::Button1, 0, kG1, 645, 14, 90, 25},
    {&TForm1::Button5, 0, kG1, 645, 44, 90, 25},
    {&TForm1::Button2, 0, kG1, 645, 74, 90, 25},
    {&TForm1::Button6, 0, kG1, 645, 103, 90, 25},
    {&TForm1::BtnSaveFileList, 0, kG1, 645, 132, 90, 25},
    {&TForm1::BtnImpFileList, 0, kG1, 645, 161, 90, 25},
    {&TForm1::GroupBox2, 0, kG2, 0, 0, 740, 162},
    {&TForm1::ListBox2, 0, kG2, 8, 15, 633, 139},
    {&TForm1::Button3, 0, kG2, 645, 10, 90, 25},
    {&TForm1::Button4, 0, kG2, 645, 40, 90, 25},
    {&TForm1::Button7, 0, kG2, 645, 69, 90, 25},
    {&TForm1::BtnSaveDirLst, 0, kG2, 645, 98, 90, 25},
    {&TForm1::BtnImpDirLst, 0, kG2, 645, 127, 90, 25},
    {&TForm1::GroupBox3, 0, kG3, 0, 0, 362, 127},
    // Five rows under the caption: the label, the policies, the emptying with its button, the
    // check after write, and the emptying's note (two lines) while the emptying is checked.
    // Neighbours stay a pixel apart at least, so that no scale makes them meet.
    {&TForm1::Label1, 0, kG3, 5, 16, 218, 13},
    {&TForm1::Rb1, 0, kG3, 36, 31, 46, 17},
    {&TForm1::Rb2, 0, kG3, 85, 31, 47, 17},
    {&TForm1::Rb3, 0, kG3, 133, 31, 49, 17},
    {&TForm1::RbRename, 0, kG3, 185, 31, 147, 17},
    {&TForm1::CheckBox1, 0, kG3, 9, 51, 315, 17},
    {&TForm1::BtnEmptyDestFolder, 0, kG3, 326, 49, 23, 22},
    {&TForm1::CheckVerify, 0, kG3, 9, 73, 315, 17},
    {&TForm1::EmptyingNote, 0, kG3, 9, 93, 346, 30},
    {&TForm1::DeviceView, 0, kG3, 0, 0, 362, 127},
    {&TForm1::GroupBox4, kG4x, kG4y, 0, 0, 362, 126},
    {&TForm1::ProgressBar1, kG4x, kG4y, 45, 40, 297, 22},
    {&TForm1::StatusLabel, kG4x, kG4y, 8, 66, 346, 18},
    {&TForm1::Panel1, 0, kFollowsBottom, 0, 0, 740, kPanelHeight, true},
    {&TForm1::BtnCopy, 0, kFollowsBottom, 320, 5, 100, 25},
    {&TForm1::BtnStop, 0, kFollowsBottom, 426, 5, 100, 25},
};

bool IsUserInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
           message == WM_CONTEXTMENU;
}

// BtnEmptyDestFolder is a speed button: any mouse button opens its menu, and it never takes
// the keyboard focus.
LRESULT CALLBACK SpeedButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR form) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONDBLCLK:
            reinterpret_cast<TForm1*>(form)->BtnEmptyDestFolderMouseDown(GET_X_LPARAM(lParam),
                                                                         GET_Y_LPARAM(lParam));
            return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            return 0;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

// Keeps a control disabled for the scope's lifetime.
class DisabledWhileAlive {
  public:
    explicit DisabledWhileAlive(HWND control) : control_(control) { EnableWindow(control_, FALSE); }
    ~DisabledWhileAlive() { EnableWindow(control_, TRUE); }
    DisabledWhileAlive(const DisabledWhileAlive&) = delete;
    DisabledWhileAlive& operator=(const DisabledWhileAlive&) = delete;

  private:
    HWND control_;
};

void RegisterClasses(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                       ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES |
                                                       ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    Window::RegisterClassOnce(
        {instance, kWindowClass, COLOR_BTNFACE, LoadIconW(instance, MAKEINTRESOURCEW(1)),
         static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                       0))});
    Window::RegisterClassOnce({instance, kPageClass});
    registered = true;
}

}  // namespace

// --- Building the window ------------------------------------------------------------------

TForm1::TForm1(HINSTANCE instance, Prompts* prompts) : instance_(instance), prompts_(prompts) {
    if (!prompts_) {
        ownPrompts_ = std::make_unique<DialogPrompts>();
        prompts_ = ownPrompts_.get();
    }
    RegisterClasses(instance_);
    BuildWindow();
    if (ownPrompts_) ownPrompts_->owner = window_;
    FormCreate();
    // The picker stays hidden until Button3Click shows it; the same one serves every use.
    Form2 = std::make_unique<TForm2>(instance_);
}

TForm1::~TForm1() {
    if (taskbar_) taskbar_->Release();
    DestroyUnbound(window_);
    if (PopupMenu1) DestroyMenu(PopupMenu1);
    if (font_) DeleteObject(font_);
}

void TForm1::BuildWindow() {
    // Bound to the object from its first message on; OnMessage hands its messages to Handle
    // once window_ names it.
    window_ = CreateBound(
        0, kWindowClass, Widen(app::kApplicationTitle).c_str(),
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN,
        CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, instance_);
    if (!window_) throw std::runtime_error("the main window could not be created");
    dpi_ = GetDpiForWindow(window_);
    if (dpi_ == 0) dpi_ = 96;

    PageControl1 =
        Child({window_, WC_TABCONTROLW, L"",
               WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | TCS_BUTTONS | TCS_FLATBUTTONS,
               kIdPages, WS_EX_CONTROLPARENT, instance_, 10, 10});
    const auto page = [&](const char* caption) {
        const std::wstring text = Widen(caption);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        TabCtrl_InsertItem(PageControl1, TabCtrl_GetItemCount(PageControl1), &item);
        // No WS_CLIPCHILDREN: group boxes and the panel's frame leave their inside to the
        // page's background.
        return CreateBound(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD, 0, 0, 10, 10,
                           PageControl1, instance_);
    };
    TabSheet1 = page(app::kWorkingTab);
    TabSheet2 = page(app::kHelpTab);
    CreateControls();

    // The design's client size, scaled, centred on the screen of the window.
    RECT frame{0, 0, Scaled(kDesignClientWidth), Scaled(kDesignClientHeight)};
    AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)), FALSE,
                             0, dpi_);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    // A screen smaller than the window keeps its title bar in reach.
    SetWindowPos(window_, nullptr,
                 std::max<int>(work.left, work.left + (work.right - work.left - width) / 2),
                 std::max<int>(work.top, work.top + (work.bottom - work.top - height) / 2), width,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyFont();
    Layout();
    ShowPage(0);
}

HWND TForm1::MakeControl(const wchar_t* className, const char* caption, DWORD style, int id,
                         DWORD exStyle) {
    return Child({TabSheet1, className, Widen(caption), style, id, exStyle, instance_, 10, 10});
}

// Created in the keyboard's tab order: the destination group, the source group (Button5
// last), the options (CheckVerify, then RbRename after CheckBox1, then BtnEmptyDestFolder
// while it is shown), the Start panel, the progress group. A group frame comes before its
// controls, so it lies beneath them.
void TForm1::CreateControls() {
    const DWORD visible = WS_VISIBLE;
    const DWORD button = visible | WS_TABSTOP | BS_PUSHBUTTON;
    const DWORD list = visible | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY |
                       LBS_NOINTEGRALHEIGHT | LBS_WANTKEYBOARDINPUT;
    const DWORD frame = visible | BS_GROUPBOX;

    GroupBox2 = MakeControl(WC_BUTTONW, app::kDestinationGroup, frame, -1);
    ListBox2 = MakeControl(WC_LISTBOXW, "", list, kIdDestinationList, WS_EX_CLIENTEDGE);
    Button3 = MakeControl(WC_BUTTONW, app::kAddDestinationFolder, button, kIdAddDestination);
    Button4 = MakeControl(WC_BUTTONW, app::kRemoveDestinations, button, kIdRemoveDestination);
    Button7 = MakeControl(WC_BUTTONW, app::kClearList, button, kIdClearDestinations);
    BtnSaveDirLst = MakeControl(WC_BUTTONW, app::kExportList, button, kIdExportDestinations);
    BtnImpDirLst = MakeControl(WC_BUTTONW, app::kImportList, button, kIdImportDestinations);
    ListBox3 = MakeControl(WC_LISTBOXW, "", LBS_NOINTEGRALHEIGHT, kIdScratchList);

    GroupBox1 = MakeControl(WC_BUTTONW, app::kSourceGroup, frame, -1);
    ListBox1 = MakeControl(WC_LISTBOXW, "", list, kIdSourceList, WS_EX_CLIENTEDGE);
    Button1 = MakeControl(WC_BUTTONW, app::kAddFiles, button, kIdAddFiles);
    Button2 = MakeControl(WC_BUTTONW, app::kRemoveSources, button, kIdRemoveSource);
    Button6 = MakeControl(WC_BUTTONW, app::kClearList, button, kIdClearSources);
    BtnSaveFileList = MakeControl(WC_BUTTONW, app::kExportList, button, kIdExportSources);
    BtnImpFileList = MakeControl(WC_BUTTONW, app::kImportList, button, kIdImportSources);
    Button5 = MakeControl(WC_BUTTONW, app::kAddSourceFolder, button, kIdAddSourceFolder);

    GroupBox3 = MakeControl(WC_BUTTONW, app::kOptionsGroup, frame, -1);
    Label1 = MakeControl(WC_STATICW, app::kSameNameLabel, visible | SS_NOPREFIX, -1);
    // Checked by hand (CheckRadioButton): CheckBox1 sits between them in the tab order.
    const DWORD radio = visible | WS_TABSTOP | BS_RADIOBUTTON;
    Rb1 = MakeControl(WC_BUTTONW, app::kPolicyOverwrite, radio | WS_GROUP, kIdOverwrite);
    Rb2 = MakeControl(WC_BUTTONW, app::kPolicySkip, radio, kIdSkip);
    Rb3 = MakeControl(WC_BUTTONW, app::kPolicyAsk, radio, kIdAsk);
    CheckBox1 = MakeControl(WC_BUTTONW, app::kEmptyFirst,
                            visible | WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, kIdEmptyFirst);
    CheckVerify = MakeControl(WC_BUTTONW, app::kVerifyAfterCopy,
                              visible | WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, kIdVerify);
    RbRename = MakeControl(WC_BUTTONW, app::kPolicyNumber, radio | WS_GROUP, kIdNumber);
    CheckRadioButton(TabSheet1, kIdOverwrite, kIdNumber, kIdOverwrite);
    // Hidden at start. A click never gives it the focus; Tab does, and Space or Enter on it
    // opens its menu.
    BtnEmptyDestFolder =
        MakeControl(WC_BUTTONW, "...", WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON, kIdEmptyNowButton);
    SetWindowSubclass(BtnEmptyDestFolder, SpeedButtonProc, 1, reinterpret_cast<DWORD_PTR>(this));
    PopupMenu1 = CreatePopupMenu();
    AppendMenuW(PopupMenu1, MF_STRING, kIdEmptyNow, Widen(app::kEmptyNow).c_str());
    // Shown while CheckBox1 is checked.
    EmptyingNote = MakeControl(WC_STATICW, "", SS_LEFT | SS_NOPREFIX, kIdEmptyingNote);

    Panel1 = MakeControl(WC_STATICW, "", visible | SS_ETCHEDFRAME, -1);
    BtnCopy = MakeControl(WC_BUTTONW, app::kStartCopy, button, kIdStart);
    BtnStop = MakeControl(WC_BUTTONW, app::kStop, WS_TABSTOP | BS_PUSHBUTTON, kIdStop);

    GroupBox4 = MakeControl(WC_BUTTONW, app::kProgressGroup, frame, -1);
    ProgressBar1 = MakeControl(PROGRESS_CLASSW, "", visible, kIdProgress);
    SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, 100);
    StatusLabel =
        MakeControl(WC_STATICW, "", visible | SS_CENTER | SS_NOPREFIX | SS_ENDELLIPSIS, kIdFigures);

    // Over the options group while a run writes to several devices.
    DeviceView = MakeControl(WC_LISTVIEWW, "",
                             LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                             kIdDevices, WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(DeviceView, LVS_EX_FULLROWSELECT);
    const char* const columns[] = {app::kDeviceColumn, app::kWrittenColumn, app::kSpeedColumn,
                                   app::kStateColumn};
    for (int i = 0; i < 4; ++i) {
        const std::wstring text = Widen(columns[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<wchar_t*>(text.c_str());
        column.cx = Scaled(i == 0 ? 140 : 70);
        ListView_InsertColumn(DeviceView, i, &column);
    }

    ToolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                              nullptr, instance_, nullptr);
    const auto tip = [&](HWND control, const char* text) {
        static std::vector<std::wstring> texts;  // the tool tip keeps the pointer
        texts.push_back(Widen(text));
        TTTOOLINFOW info{};
        info.cbSize = sizeof info;
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = TabSheet1;
        info.uId = reinterpret_cast<UINT_PTR>(control);
        info.lpszText = texts.back().data();
        SendMessageW(ToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    };
    tip(BtnEmptyDestFolder, app::kEmptyNow);
    tip(BtnStop, app::kStopTip);
    tip(CheckVerify, app::kVerifyAfterCopyTip);

    RECT help{};
    helpPage_ = CreateHelpPage(TabSheet2, help, instance_);
}

int TForm1::Scaled(int pixels) const {
    return Window::Scaled(pixels, dpi_);
}

// The system's UI font (the message font) at the window's DPI.
void TForm1::ApplyFont() {
    HFONT font = MessageFont(dpi_);
    if (!font) return;
    const auto setFont = [](HWND child, LPARAM font) -> BOOL {
        SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
        return TRUE;
    };
    SendMessageW(PageControl1, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    EnumChildWindows(window_, setFont, reinterpret_cast<LPARAM>(font));
    if (font_) DeleteObject(font_);
    font_ = font;
}

// The design's places at the window's DPI. The tab control fills the client area; GroupBox1
// and Panel1 follow the page's width, Panel1 its bottom; everything else keeps its place.
void TForm1::Layout() {
    RECT client;
    GetClientRect(window_, &client);
    MoveWindow(PageControl1, 0, 0, client.right, client.bottom, TRUE);
    RECT area{0, 0, client.right, client.bottom};
    TabCtrl_AdjustRect(PageControl1, FALSE, &area);
    const int pageWidth = std::max<int>(0, area.right - area.left);
    const int pageHeight = std::max<int>(0, area.bottom - area.top);
    MoveWindow(TabSheet1, area.left, area.top, pageWidth, pageHeight, TRUE);
    MoveWindow(TabSheet2, area.left, area.top, pageWidth, pageHeight, TRUE);
    const int border = Scaled(kSheetBorder);
    const int innerWidth = std::max(0, pageWidth - 2 * border);
    const int panelTop = pageHeight - border - Scaled(kPanelHeight);
    for (const Place& place : kPlaces) {
        const int groupTop =
            place.groupTop == kFollowsBottom ? panelTop : border + Scaled(place.groupTop);
        const int left = border + Scaled(place.groupLeft + place.left);
        const int top = groupTop + Scaled(place.top);
        const int width = place.fullWidth ? innerWidth : Scaled(place.width);
        MoveWindow(this->*place.control, left, top, width, Scaled(place.height), TRUE);
    }
    if (helpPage_) {
        const int helpBorder = Scaled(kHelpSheetBorder);
        MoveWindow(helpPage_, helpBorder, helpBorder, std::max(0, pageWidth - 2 * helpBorder),
                   std::max(0, pageHeight - 2 * helpBorder), TRUE);
    }
}

void TForm1::ShowPage(int index) {
    TabCtrl_SetCurSel(PageControl1, index);
    ShowWindow(TabSheet1, index == 0 ? SW_SHOW : SW_HIDE);
    ShowWindow(TabSheet2, index == 1 ? SW_SHOW : SW_HIDE);
}

void TForm1::Show(int showCommand) {
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
}

bool TForm1::PreTranslate(MSG& message) {
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE &&
        (message.hwnd == window_ || IsChild(window_, message.hwnd))) {
        BtnStopClick();
        return true;
    }
    // The help page's browser control sees its own keys before the dialog handling does.
    if (HelpPageTranslateKey(helpPage_, message)) return true;
    return IsDialogMessageW(window_, &message) != FALSE;
}

// --- Messages -----------------------------------------------------------------------------

// The window's messages go to Handle, the pages' to PageMessage; while a window is being
// created (before its handle is known here) the defaults answer.
LRESULT TForm1::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && window == window_) return Handle(message, wParam, lParam);
    LRESULT result = 0;
    if (window && (window == TabSheet1 || window == TabSheet2) &&
        PageMessage(message, wParam, lParam, result))
        return result;
    return DefWindowProcW(window, message, wParam, lParam);
}

bool TForm1::PageMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            result = 0;
            return true;
        case WM_VKEYTOITEM: {
            WORD key = LOWORD(wParam);
            const HWND box = reinterpret_cast<HWND>(lParam);
            if (box == ListBox1) ListBox1KeyDown(key);
            if (box == ListBox2) ListBox2KeyDown(key);
            // -2: the key has been handled; -1: the list box goes on with it.
            result = key == 0 ? -2 : -1;
            return true;
        }
        case WM_SETCURSOR:
            if (!busy_) return false;
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            result = TRUE;
            return true;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            // The emptying's note in dark red, as a warning.
            if (reinterpret_cast<HWND>(lParam) == EmptyingNote)
                SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0xb0, 0, 0));
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
            result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            return true;
    }
    return false;
}

LRESULT TForm1::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            Layout();
            return 0;
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wParam);
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            ApplyFont();
            Layout();
            for (int column = 0; column < 4; ++column)
                ListView_SetColumnWidth(DeviceView, column, Scaled(column == 0 ? 140 : 70));
            return 0;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->hwndFrom == PageControl1 && header->code == TCN_SELCHANGE)
                ShowPage(TabCtrl_GetCurSel(PageControl1));
            return 0;
        }
        case WM_COMMAND:
            // IsDialogMessage turns Esc into IDCANCEL for the window, and Enter on a button
            // into that button's command.
            // The window is no dialog, so its buttons never become the default one and Enter
            // arrives as IDOK: it runs the push button that has the focus.
            if (LOWORD(wParam) == IDCANCEL) {
                BtnStopClick();
            } else if (LOWORD(wParam) == IDOK) {
                const HWND focus = GetFocus();
                const LONG type = GetWindowLongW(focus, GWL_STYLE) & BS_TYPEMASK;
                wchar_t className[16] = {};
                GetClassNameW(focus, className, 16);
                if (focus && GetParent(focus) == TabSheet1 &&
                    lstrcmpiW(className, WC_BUTTONW) == 0 &&
                    (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON))
                    Command(GetDlgCtrlID(focus), BN_CLICKED);
            } else {
                Command(LOWORD(wParam), HIWORD(wParam));
            }
            return 0;
        case WM_CLOSE:
            CloseRequested();
            return 0;
        case WM_SETCURSOR:
            // The busy cursor over the whole window while it works.
            if (!busy_ || LOWORD(lParam) != HTCLIENT) break;
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        case WM_DESTROY:
            window_ = nullptr;
            if (endsMessageLoop) PostQuitMessage(0);
            return 0;
        case kRunTask:
            (*reinterpret_cast<const std::function<void()>*>(wParam))();
            return 0;
        case kShowPercent:
            if (running_ && runBar_.pairs(static_cast<int>(wParam), StopRequested())) ShowBar();
            return 0;
        case kShowFigures:
            ShowFigures();
            return 0;
        case kWorkDone:
            *reinterpret_cast<bool*>(wParam) = true;
            return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void TForm1::Command(int id, int code) {
    if (code != BN_CLICKED && code != 0) return;
    // The policy buttons are checked by hand (CheckBox1 sits between them in the tab order).
    if (id >= kIdOverwrite && id <= kIdNumber) {
        if (!busy_) CheckRadioButton(TabSheet1, kIdOverwrite, kIdNumber, id);
        return;
    }
    static const CommandRoute<TForm1> kCommands[] = {
        {kIdAddFiles, &TForm1::Button1Click},
        {kIdRemoveSource, &TForm1::Button2Click},
        {kIdAddDestination, &TForm1::Button3Click},
        {kIdRemoveDestination, &TForm1::Button4Click},
        {kIdAddSourceFolder, &TForm1::Button5Click},
        {kIdClearSources, &TForm1::Button6Click},
        {kIdClearDestinations, &TForm1::Button7Click},
        {kIdExportSources, &TForm1::BtnSaveFileListClick},
        {kIdImportSources, &TForm1::BtnImpFileListClick},
        {kIdExportDestinations, &TForm1::BtnSaveDirLstClick},
        {kIdImportDestinations, &TForm1::BtnImpDirLstClick},
        {kIdEmptyNow, &TForm1::N1Click},
        {kIdEmptyNowButton, &TForm1::BtnEmptyDestFolderClick},
        {kIdEmptyFirst, &TForm1::CheckBox1Click},
        {kIdStart, &TForm1::BtnCopyClick},
        {kIdStop, &TForm1::BtnStopClick},
    };
    Dispatch(*this, kCommands, id);
}

// --- Handlers -----------------------------------------------------------------------------

template <typename Body>
void TForm1::Guarded(Body&& body) {
    if (busy_) return;
    try {
        body();
    } catch (const std::exception& error) {
        ShowUnexpectedError(error.what());
    }
}

void TForm1::ShowUnexpectedError(const std::string& message) {
    prompts().error(app::ErrorBoxText(message));
}

void TForm1::Button1Click() {
    Guarded([this] { AddFiles(); });
}

void TForm1::Button2Click() {
    Guarded([this] { RemoveSelectedSource(); });
}

void TForm1::Button3Click() {
    Guarded([this] { AddPickedDestination(); });
}

void TForm1::Button4Click() {
    Guarded([this] { RemoveSelectedDestinations(); });
}

void TForm1::Button5Click() {
    Guarded([this] { AddSourceFolder(); });
}

void TForm1::Button6Click() {
    Guarded([this] { ClearSources(); });
}

void TForm1::Button7Click() {
    Guarded([this] { ClearDestinations(); });
}

void TForm1::BtnSaveFileListClick() {
    Guarded([this] { ExportSources(); });
}

void TForm1::BtnImpFileListClick() {
    Guarded([this] { ImportSources(); });
}

void TForm1::BtnSaveDirLstClick() {
    Guarded([this] { ExportDestinations(); });
}

void TForm1::BtnImpDirLstClick() {
    Guarded([this] { ImportDestinations(); });
}

void TForm1::ListBox1KeyDown(WORD& key) {
    if (key != VK_DELETE) return;
    Button2Click();
    key = 0;
}

void TForm1::ListBox2KeyDown(WORD& key) {
    if (key != VK_DELETE) return;
    Button4Click();
    key = 0;
}

void TForm1::AddDroppedSources(const std::vector<std::string>& paths) {
    Guarded([&] { AddSourcesOfDrop(paths); });
}

void TForm1::AddDroppedDestinations(const std::vector<std::string>& paths) {
    Guarded([&] { AddDestinationsOfDrop(paths); });
}

void TForm1::CheckBox1Click() {
    Guarded([this] {
        // The note follows the option whatever the answer, an error included.
        struct Noted {
            TForm1& form;
            ~Noted() { form.UpdateEmptyingNote(); }
        } noted{*this};
        if (Button_GetCheck(CheckBox1) != BST_CHECKED) return;
        if (!prompts().warning(app::kEmptyingWarning)) Button_SetCheck(CheckBox1, BST_UNCHECKED);
    });
}

void TForm1::BtnEmptyDestFolderMouseDown(int x, int y) {
    Guarded([&] {
        POINT at{x, y};
        ClientToScreen(BtnEmptyDestFolder, &at);
        const int chosen =
            TrackPopupMenu(PopupMenu1, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_NONOTIFY,
                           at.x, at.y, 0, window_, nullptr);
        if (chosen == kIdEmptyNow) N1Click();
    });
}

void TForm1::BtnEmptyDestFolderClick() {
    // From the keyboard only (a click opens the menu at the pressed point): the menu below
    // the button.
    if (!emptyNowVisible_ || !IsWindowEnabled(BtnEmptyDestFolder)) return;
    RECT button;
    GetClientRect(BtnEmptyDestFolder, &button);
    BtnEmptyDestFolderMouseDown(0, button.bottom);
}

void TForm1::N1Click() {
    Guarded([this] { EmptyDestinationsNow(); });
}

void TForm1::BtnCopyClick() {
    Guarded([this] { CopyRun(); });
    // Closed during the run: the window goes now that the run has ended.
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    }
}

void TForm1::BtnStopClick() {
    if (!stoppable_) return;
    stopRequest_ = true;
    EnableWindow(BtnStop, FALSE);
}

void TForm1::FormCreate() {
    Guarded([this] {
        SetWindowTextW(window_, Widen(app::kApplicationTitle).c_str());
        const SameFilePolicy stored = app::LoadStoredPolicy();
        CheckRadioButton(TabSheet1, kIdOverwrite, kIdNumber,
                         kIdOverwrite + static_cast<int>(stored) - 1);
        Button_SetCheck(CheckVerify, LoadVerifyAfterCopy() ? BST_CHECKED : BST_UNCHECKED);
        InstallDropIntake();
        ShowPage(0);
    });
}

bool TForm1::FormClose() {
    if (busy_) return false;
    bool stored = false;
    Guarded([&] {
        app::StorePolicy(CheckedPolicy());
        SaveVerifyAfterCopy(Button_GetCheck(CheckVerify) == BST_CHECKED);
        stored = true;
    });
    return stored;
}

void TForm1::CloseRequested() {
    // Closed while a copy run goes on: asked whether to stop it and quit; the window closes
    // once the run has ended (a copy cut short leaves nothing under its final name). During
    // the other long operations the window stays, as before.
    if (busy_ && stoppable_ && running_) {
        if (closeAfterRun_) return;
        if (!prompts().question(app::kCloseDuringRun)) return;
        // A run that ended while the question was open is not stopped: the window just
        // closes after it.
        closeAfterRun_ = true;
        BtnStopClick();
        return;
    }
    if (FormClose()) DestroyWindow(window_);
}

SameFilePolicy TForm1::CheckedPolicy() const {
    if (Button_GetCheck(Rb1) == BST_CHECKED) return SameFilePolicy::Overwrite;
    if (Button_GetCheck(Rb2) == BST_CHECKED) return SameFilePolicy::Skip;
    if (Button_GetCheck(Rb3) == BST_CHECKED) return SameFilePolicy::Ask;
    return SameFilePolicy::AutoNumber;
}

// --- Commands -----------------------------------------------------------------------------

void TForm1::AddFiles() {
    const std::vector<std::string> chosen = prompts().openFiles({"OpenDialog1", "*.*", "*.*", ""});
    if (chosen.empty()) return;
    scratch_.assign(chosen);
    ShowList(ListBox3, scratch_);
    ListedEntries listed(sources_, ListRole::Sources);
    for (const std::string& file : scratch_.entries()) AddChosenSource(file, false, listed);
    ShowList(ListBox1, sources_);
}

void TForm1::AddSourceFolder() {
    const std::string folder = prompts().browseFolder(app::kChooseFolderPrompt);
    if (folder.empty()) return;
    ListedEntries listed(sources_, ListRole::Sources);
    const IntakeOutcome outcome = AddChosenSource(folder, true, listed);
    ShowList(ListBox1, sources_);
    if (const char* refusal = app::IntakeRefusalText(outcome)) prompts().information(refusal);
}

void TForm1::AddPickedDestination() {
    const app::PickedFolder pick = prompts().pickFolder(*Form2, window_);
    if (const char* refusal = app::PickRefusalText(pick)) {
        prompts().information(refusal);
        return;
    }
    if (!app::IsAddablePick(pick)) return;
    WalkIntoDestinations([&](const std::function<void()>& repaint, const std::atomic<bool>* stop) {
        app::AddPickedFolder(pick, destinations_, scratch_, repaint, stop);
    });
    ShowList(ListBox3, scratch_);
    SetEmptyNowVisible(true);
}

void TForm1::RemoveSelectedSource() {
    RemoveSelected(ListBox1, sources_);
}

void TForm1::RemoveSelectedDestinations() {
    RemoveSelected(ListBox2, destinations_);
    UpdateEmptyingNote();
    if (destinations_.count() == 0) SetEmptyNowVisible(false);
}

void TForm1::ClearSources() {
    sources_.clear();
    ShowList(ListBox1, sources_);
}

void TForm1::ClearDestinations() {
    destinations_.clear();
    ShowList(ListBox2, destinations_);
    SetEmptyNowVisible(false);
}

void TForm1::ExportSources() {
    ExportList(sources_, ListRole::Sources);
}

void TForm1::ExportDestinations() {
    ExportList(destinations_, ListRole::Destinations);
}

void TForm1::RemoveSelected(HWND box, PathList& list) {
    const int selected = static_cast<int>(SendMessageW(box, LB_GETCURSEL, 0, 0));
    if (selected < 0 || selected >= list.count()) return;
    list.removeAt(selected);
    SendMessageW(box, LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
}

void TForm1::ExportList(const PathList& list, ListRole role) {
    if (const char* refusal = app::ExportRefusal(list, role)) {
        prompts().information(refusal);
        return;
    }
    const std::string fileName = prompts().saveFile(
        {"SaveDialog1", app::kListFileDescription, "*.lst", app::ExportFileName(role)});
    if (fileName.empty()) return;
    SaveListFile(list, fileName);
}

void TForm1::ImportSources() {
    const std::string fileName = prompts().openFile({"OpenDialog2", "*.lst", "*.lst", ""});
    if (fileName.empty()) return;
    // What was read so far stays listed when the file ends in an error.
    struct Shown {
        TForm1& form;
        ~Shown() {
            form.ShowList(form.ListBox3, form.scratch_);
            form.ShowList(form.ListBox1, form.sources_);
        }
    } shown{*this};
    ImportSourceList(fileName, scratch_, sources_);
}

void TForm1::ImportDestinations() {
    const std::string fileName = prompts().openFile({"OpenDialog2", "*.lst", "*.lst", ""});
    if (fileName.empty()) return;
    DestinationImport result;
    {
        struct Shown {
            TForm1& form;
            ~Shown() {
                form.ShowList(form.ListBox3, form.scratch_);
                form.ShowList(form.ListBox2, form.destinations_);
            }
        } shown{*this};
        result = ImportDestinationList(fileName, scratch_, destinations_,
                                       [this] { SetEmptyNowVisible(true); });
    }
    for (const char* note : app::DestinationImportNotes(result)) prompts().information(note);
}

void TForm1::AddSourcesOfDrop(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        const IntakeOutcome outcome = AppendDroppedSource(path, sources_);
        ShowList(ListBox1, sources_, std::max(0, sources_.count() - 1));
        if (const char* refusal = app::IntakeRefusalText(outcome)) prompts().information(refusal);
    }
}

void TForm1::AddDestinationsOfDrop(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    // One answer for the whole drop, asked before any name is looked at.
    const bool withSubfolders = prompts().question(app::kAddSubfoldersQuestion);
    ListedEntries listed(destinations_, ListRole::Destinations);
    for (const std::string& path : paths) {
        // A dropped link to a drive root names the root as well; files and vanished names
        // are left out silently.
        const std::optional<IntakeOutcome> refusal = DestinationRefusal(path);
        if (const char* text = app::IntakeRefusalText(refusal)) prompts().information(text);
        if (refusal) continue;
        WalkIntoDestinations([&](const std::function<void()>& repaint,
                                 const std::atomic<bool>* stop) {
            AddNamedDestination(path, DestinationReach{withSubfolders, 0}, listed, repaint, stop);
        });
        // A stopped walk ends the whole drop.
        if (withSubfolders && StopRequested()) break;
    }
    SetEmptyNowVisible(true);
}

void TForm1::SetEmptyNowVisible(bool visible) {
    emptyNowVisible_ = visible;
    ShowWindow(BtnEmptyDestFolder, visible ? SW_SHOWNA : SW_HIDE);
}

void TForm1::UpdateEmptyingNote() {
    SetWindowTextW(EmptyingNote, Widen(app::EmptyingNoteText(destinations_.count())).c_str());
    ShowWindow(EmptyingNote, Button_GetCheck(CheckBox1) == BST_CHECKED ? SW_SHOWNA : SW_HIDE);
}

void TForm1::InstallDropIntake() {
    AcceptFileDrops(ListBox1, [this](std::vector<std::string> paths) { AddDroppedSources(paths); });
    AcceptFileDrops(ListBox2,
                    [this](std::vector<std::string> paths) { AddDroppedDestinations(paths); });
}

void TForm1::EmptyDestinationsNow() {
    if (!prompts().warning(app::kEmptyingWarning)) return;
    Button_SetCheck(CheckBox1, BST_UNCHECKED);
    UpdateEmptyingNote();
    std::vector<Failure> leftOver;
    bool stopped = false;
    // Every destination in list order; the listed sources are kept.
    RunStoppable(
        [&] { stopped = EmptyDestinations(destinations_, sources_, &leftOver, &stopRequest_); });
    prompts().information(stopped ? app::EmptyingStoppedText(leftOver)
                                  : app::EmptyingCompletionText(leftOver));
    // The immediate emptying can be used once per run of the program.
    emptyNowUsed_ = true;
    EnableWindow(BtnEmptyDestFolder, FALSE);
}

void TForm1::CopyRun() {
    if (const char* refusal = app::CopyRunRefusal(sources_, destinations_)) {
        prompts().information(refusal);
        return;
    }
    const SameFilePolicy policy = CheckedPolicy();
    const bool emptyFirst = Button_GetCheck(CheckBox1) == BST_CHECKED;
    // What was added to the destinations since the option was checked would go without a
    // word: every run that empties asks again. No cancels the run, the option stays.
    if (emptyFirst && !prompts().warning(app::kEmptyingWarning)) return;
    runAnswers_.begin();
    RunRequest request;
    request.sources = sources_;
    request.destinations = destinations_;
    request.policy = policy;
    request.emptyFirst = emptyFirst;
    request.ask = [this](const std::string& question) { return AskOnWindowThread(question); };
    request.progress = [this, last = -1](int percent) mutable {
        if (percent == last) return;
        last = percent;
        PostMessageW(window_, kShowPercent, static_cast<WPARAM>(percent), 0);
    };
    request.options.maxWriters = runWriters;
    request.options.stop = &stopRequest_;
    request.options.verify = Button_GetCheck(CheckVerify) == BST_CHECKED;
    // The engine reports about ten times a second from whichever thread copies; the window
    // shows the newest report.
    request.options.showTransfer = [this](const TransferFigures& figures) {
        if (runFiguresHook) runFiguresHook(figures);
        {
            const std::lock_guard<std::mutex> lock(figuresLock_);
            const bool posted = pendingFigures_.has_value();
            pendingFigures_ = figures;
            if (posted) return;
        }
        PostMessageW(window_, kShowFigures, 0, 0);
    };
    RunResult result;
    bool longRun = false;
    {
        // The figures and the taskbar are cleared on every way out, an error included.
        struct RunEnd {
            TForm1& form;
            bool& longRun;
            ~RunEnd() {
                longRun = std::chrono::steady_clock::now() - form.runStart_ > form.longRun;
                form.running_ = false;
                form.EndTaskbarProgress();
                {
                    const std::lock_guard<std::mutex> lock(form.figuresLock_);
                    form.pendingFigures_.reset();
                }
                SetWindowTextW(form.StatusLabel, L"");
                ShowWindow(form.DeviceView, SW_HIDE);
                ListView_DeleteAllItems(form.DeviceView);
                form.deviceRows_ = 0;
            }
        } runEnd{*this, longRun};
        const DisabledWhileAlive startLocked(BtnCopy);
        runStart_ = std::chrono::steady_clock::now();
        running_ = true;
        taskbarPercent_ = -1;
        flashedAtRunEnd = false;
        figures_.begin();
        runBar_.begin();
        ShowBar();
        lastFigures_ = TransferFigures();
        SetWindowTextW(StatusLabel, Widen(app::RunFiguresTracker::InitialStatusLine()).c_str());
        // The bytes of the whole run when every source is a file (one look at each): the
        // engine's own figure grows only as it meets the files.
        std::uint64_t total = 0;
        bool filesOnly = true;
        for (const std::string& source : sources_.entries()) {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            if (source.ends_with('\\') || source.ends_with('/') ||
                !GetFileAttributesExW(Widen(source).c_str(), GetFileExInfoStandard, &data) ||
                (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                filesOnly = false;
                break;
            }
            total += (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        if (filesOnly) figures_.setTotal(total * static_cast<std::uint64_t>(destinations_.count()));
        RunStoppable([&] { result = CopyAll(request); });
    }
    // A long run that ends while the user works elsewhere calls them back.
    if (longRun && GetForegroundWindow() != window_) {
        FLASHWINFO flash{sizeof flash, window_, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
        FlashWindowEx(&flash);
        flashedAtRunEnd = true;
    }
    if (result.ended()) {
        // The folder that could not be entered ends the run with its error box, the folder
        // named on a second line; what failed before it is then reported as after any run.
        std::string text = app::ErrorBoxText(result.endedBy.text);
        if (!result.endedBy.path.empty()) text += "\n" + result.endedBy.path;
        prompts().error(text);
        if (!result.failures.empty())
            ShowRunEnd(app::CopyEndedText(result.failures), result.failures);
        return;
    }
    // The window closes now (asked for during the run): no box holds it open.
    if (!closeAfterRun_) {
        // Every report was shown before the run's end arrived (posted ahead of it), so the
        // last figures are the run's own.
        ShowRunEnd(app::CopyRunEndText(result, request.options.verify, lastFigures_),
                   result.failures);
    }
    SendMessageW(ProgressBar1, PBM_SETPOS, 0, 0);
}

void TForm1::ShowRunEnd(const std::string& text, const std::vector<Failure>& failures) {
    if (failures.empty()) {
        prompts().information(text);
        return;
    }
    prompts().report(text, app::FailureDetails(failures), [&] { SaveFailureReport(failures); });
}

void TForm1::SaveFailureReport(const std::vector<Failure>& failures) {
    const std::string fileName = prompts().saveFile(
        {"SaveDialog2", app::kReportFileDescription, "*.csv", app::kReportFileName});
    if (fileName.empty()) return;
    const std::string report = app::ReportText(failures, app::ReportFormat::Spreadsheet);
    // Written whole under a temporary name and renamed: an old report is kept or replaced,
    // never cut short.
    const int error = WriteFileAtomically(fileName, report);
    if (error != 0) ShowUnexpectedError(app::ReportNotSavedText(fileName, ErrorText(error)));
}

// --- Lists --------------------------------------------------------------------------------

void TForm1::ShowList(HWND box, const PathList& list, int from) {
    SendMessageW(box, WM_SETREDRAW, FALSE, 0);
    if (from == 0) {
        SendMessageW(box, LB_RESETCONTENT, 0, 0);
        SendMessageW(box, LB_SETHORIZONTALEXTENT, 0, 0);
    } else {
        // Entries from `from` on are replaced.
        while (static_cast<int>(SendMessageW(box, LB_GETCOUNT, 0, 0)) > from)
            SendMessageW(box, LB_DELETESTRING, static_cast<WPARAM>(from), 0);
    }
    // Long paths can be scrolled to sideways.
    HDC context = GetDC(box);
    const HGDIOBJ oldFont =
        SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageW(box, WM_GETFONT, 0, 0)));
    int extent = static_cast<int>(SendMessageW(box, LB_GETHORIZONTALEXTENT, 0, 0));
    for (int i = from; i < list.count(); ++i) {
        const std::wstring text = Widen(list.at(i));
        SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        SIZE size{};
        if (GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size))
            extent = std::max<int>(extent, size.cx + Scaled(8));
    }
    SelectObject(context, oldFont);
    ReleaseDC(box, context);
    SendMessageW(box, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
    SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(box, nullptr, TRUE);
    if (box == ListBox2) UpdateEmptyingNote();
}

// --- Long operations ----------------------------------------------------------------------

void TForm1::RunStoppable(const std::function<void()>& work) {
    stopRequest_ = false;
    stoppable_ = true;
    EnableWindow(BtnStop, TRUE);
    ShowWindow(BtnStop, SW_SHOWNA);
    struct Hide {
        TForm1& form;
        ~Hide() {
            form.stoppable_ = false;
            ShowWindow(form.BtnStop, SW_HIDE);
        }
    } hide{*this};
    RunLongOperation(work);
}

void TForm1::RunLongOperation(const std::function<void()>& work) {
    busy_ = true;
    const HCURSOR oldCursor = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    std::exception_ptr failure;
    bool done = false;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        // Behind every progress message the work has posted.
        PostMessageW(window_, kWorkDone, reinterpret_cast<WPARAM>(&done), 0);
    });
    bool quit = false;
    int quitCode = 0;
    MSG message;
    while (!done) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // The program is to end: after the work, by the outer loop.
            quit = true;
            quitCode = static_cast<int>(message.wParam);
            continue;
        }
        if (got < 0) break;
        const bool toWindow = message.hwnd == window_ || IsChild(window_, message.hwnd);
        if (toWindow && IsUserInput(message.message)) {
            // Only BtnStop and Esc reach the window while it works, and during a copy run
            // the ways to close it (Alt+F4, the title bar's close button), which ask first.
            if (stoppable_ && message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
                BtnStopClick();
                continue;
            }
            const bool closes =
                (message.message == WM_SYSKEYDOWN && message.wParam == VK_F4) ||
                (message.hwnd == window_ && message.wParam == HTCLOSE &&
                 (message.message == WM_NCLBUTTONDOWN || message.message == WM_NCLBUTTONUP ||
                  message.message == WM_NCMOUSEMOVE));
            if (!(running_ && closes) && (!stoppable_ || message.hwnd != BtnStop)) continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    worker.join();
    SetCursor(oldCursor);
    busy_ = false;
    if (quit) PostQuitMessage(quitCode);
    if (failure) std::rethrow_exception(failure);
}

void TForm1::OnWindowThread(const std::function<void()>& task) {
    SendMessageW(window_, kRunTask, reinterpret_cast<WPARAM>(&task), 0);
}

bool TForm1::AskOnWindowThread(const std::string& question) {
    bool yes = false;
    std::exception_ptr failure;
    OnWindowThread([&] {
        try {
            // An answer for the rest of the run answers without a box.
            if (const std::optional<bool> remembered = runAnswers_.remembered()) {
                yes = *remembered;
                return;
            }
            const app::OverwriteAnswer answer = prompts().askOverwrite(question);
            yes = runAnswers_.take(answer);
            // The file asked about stays; nothing new starts.
            if (answer == app::OverwriteAnswer::Stop) BtnStopClick();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure) std::rethrow_exception(failure);
    return yes;
}

void TForm1::WalkIntoDestinations(
    const std::function<void(const std::function<void()>&, const std::atomic<bool>*)>& walk) {
    // The list box shows what the walk added, from this entry on.
    int shown = destinations_.count();
    std::chrono::steady_clock::time_point last{};
    const std::function<void()> showGrowth = [&] {
        ShowList(ListBox2, destinations_, shown);
        shown = destinations_.count();
    };
    // On the worker, after each folder: at most once per interval, the window shows the new
    // entries while the walk waits, so the list is never read while it grows.
    const std::function<void()> repaint = [&] {
        const auto now = std::chrono::steady_clock::now();
        if (now - last < walkRepaintInterval) return;
        OnWindowThread(showGrowth);
        last = std::chrono::steady_clock::now();
    };
    struct Shown {
        const std::function<void()>& show;
        ~Shown() { show(); }
    } shownAtEnd{showGrowth};
    RunStoppable([&] { walk(repaint, &stopRequest_); });
}

// --- Figures and the taskbar ----------------------------------------------------------------

void TForm1::ShowFigures() {
    std::optional<TransferFigures> figures;
    {
        const std::lock_guard<std::mutex> lock(figuresLock_);
        figures.swap(pendingFigures_);
    }
    if (!figures || !running_) return;
    lastFigures_ = *figures;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart_).count();
    const app::ShownFigures shown = figures_.update(seconds, *figures);
    SetWindowTextW(StatusLabel, Widen(shown.statusLine).c_str());
    // Once the run's amount is known the bar follows the bytes.
    if (runBar_.bytes(shown.percent, StopRequested())) ShowBar();
    if (shown.devices.empty()) {
        ShowWindow(DeviceView, SW_HIDE);
    } else {
        if (shown.devicesChanged || deviceRows_ != shown.devices.size()) {
            ListView_DeleteAllItems(DeviceView);
            for (size_t row = 0; row < shown.devices.size(); ++row) {
                LVITEMW item{};
                item.mask = LVIF_TEXT;
                item.iItem = static_cast<int>(row);
                item.pszText = const_cast<wchar_t*>(L"");
                ListView_InsertItem(DeviceView, &item);
            }
            deviceRows_ = shown.devices.size();
        }
        for (size_t row = 0; row < shown.devices.size(); ++row) {
            const app::DeviceRow& device = shown.devices[row];
            const std::string* cells[] = {&device.folder, &device.bytes, &device.speed,
                                          &device.state};
            for (int column = 0; column < 4; ++column) {
                std::wstring text = Widen(*cells[column]);
                ListView_SetItemText(DeviceView, static_cast<int>(row), column, text.data());
            }
        }
        SetWindowPos(DeviceView, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    }
}

void TForm1::ShowBar() {
    SendMessageW(ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(runBar_.value()), 0);
    SetTaskbarProgress(runBar_.value());
}

// The taskbar button shows the progress of a run once it counts as long.
void TForm1::SetTaskbarProgress(int percent) {
    if (!running_ || std::chrono::steady_clock::now() - runStart_ < longRun) return;
    if (percent == taskbarPercent_) return;
    if (!taskbar_) {
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskbarList3, reinterpret_cast<void**>(&taskbar_))))
            return;
        if (FAILED(taskbar_->HrInit())) {
            taskbar_->Release();
            taskbar_ = nullptr;
            return;
        }
    }
    taskbarPercent_ = percent;
    taskbar_->SetProgressState(window_, TBPF_NORMAL);
    taskbar_->SetProgressValue(window_, static_cast<ULONGLONG>(percent), 100);
}

void TForm1::EndTaskbarProgress() {
    if (taskbar_ && taskbarPercent_ >= 0) taskbar_->SetProgressState(window_, TBPF_NOPROGRESS);
    taskbarPercent_ = -1;
}

}  // namespace ostrivane::win
