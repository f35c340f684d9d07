#include "win/Unit2.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/texts.h"
#include "win/WideText.h"
#include "win/Window.h"

namespace ostrivane::win {

namespace {

constexpr wchar_t kClassName[] = L"TForm2";

// Client area of the dialog and the frame kept free around it, at 96 dpi.
constexpr int kClientWidth = 409;
constexpr int kClientHeight = 391;
constexpr int kBorder = 4;

// An item's lParam: whether its subfolders have been read.
constexpr LPARAM kNotRead = 0;
constexpr LPARAM kRead = 1;

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// While it lives, a drive without its medium (a card reader, an empty DVD drive) answers
// "not ready" instead of the system's "insert a disk" box.
class QuietDriveErrors {
  public:
    QuietDriveErrors() {
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_);
    }
    ~QuietDriveErrors() { SetThreadErrorMode(previous_, nullptr); }
    QuietDriveErrors(const QuietDriveErrors&) = delete;
    QuietDriveErrors& operator=(const QuietDriveErrors&) = delete;

  private:
    DWORD previous_ = 0;
};

bool IsFolder(const std::wstring& path) {
    const QuietDriveErrors quiet;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// `parent` + separator + `name`; a drive root already ends with one.
std::wstring Child(const std::wstring& parent, const std::wstring& name) {
    if (!parent.empty() && parent.back() == L'\\') return parent + name;
    return parent + L'\\' + name;
}

// The folders in `folder` that the shell shows by default (hidden ones left out), ordered
// by name without regard to case.
std::vector<std::wstring> Subfolders(const std::wstring& folder) {
    std::vector<std::wstring> names;
    const QuietDriveErrors quiet;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(Child(folder, L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchLimitToDirectories, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) continue;
        if (name == L"." || name == L"..") continue;
        names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        const int order = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                               static_cast<int>(b.size()), TRUE);
        if (order != CSTR_EQUAL) return order == CSTR_LESS_THAN;
        return a < b;  // names that differ in case only (a folder that folds no names)
    });
    return names;
}

// The roots of the tree: every drive with a root folder, "C:\" first as the letters go.
std::vector<std::wstring> DriveRoots() {
    std::vector<std::wstring> roots;
    const DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        if (!(drives & (1u << letter))) continue;
        std::wstring root = L"A:\\";
        root[0] = static_cast<wchar_t>(L'A' + letter);
        const UINT type = GetDriveTypeW(root.c_str());
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) continue;
        roots.push_back(root);
    }
    return roots;
}

// The user's desktop folder, which the first use proposes.
std::wstring DesktopFolder() {
    PWSTR path = nullptr;
    std::wstring desktop;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path)) && path)
        desktop = path;
    CoTaskMemFree(path);
    return desktop;
}

// The steps from a drive root down to `path`: "C:\", "Users", "me", ... Empty for a path that
// does not start with a drive letter.
std::vector<std::wstring> PathSteps(std::wstring path) {
    std::vector<std::wstring> steps;
    if (path.size() < 2 || path[1] != L':') return steps;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    steps.push_back(path.substr(0, 2) + L'\\');
    size_t start = 2;
    while (start < path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) steps.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return steps;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

struct TForm2::State : Window {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    HWND tree = nullptr;
    HWND allSubfolders = nullptr;  // CheckBox1
    HWND ok = nullptr;             // BitBtn1
    HWND cancel = nullptr;         // BitBtn2
    HWND limitedDepth = nullptr;   // CheckBox2
    HWND depth = nullptr;          // ComboBox1
    HWND depthEdit = nullptr;      // the edit field inside the depth box
    HWND levels = nullptr;         // Label1
    HFONT font = nullptr;
    bool shown = false;
    bool closed = false;
    bool accepted = false;
    bool everShown = false;
    // What the tree showed when it was last closed, brought back at the next show.
    std::vector<std::wstring> expanded;
    std::wstring selected;
    std::wstring firstVisible;

    void Create();
    void Layout(UINT dpi);
    void SetCheck(HWND box, bool checked);
    void CheckBox1Click();
    void CheckBox2Click();
    void KeepDigits();
    std::wstring ItemText(HTREEITEM item) const;
    std::wstring ItemPath(HTREEITEM item) const;
    HTREEITEM InsertFolder(HTREEITEM parent, const std::wstring& name, bool mayHaveChildren);
    void ReadSubfolders(HTREEITEM item);
    HTREEITEM FindChild(HTREEITEM parent, const std::wstring& name) const;
    HTREEITEM ItemOf(const std::wstring& path, bool expandParents);
    void RebuildTree();
    void CaptureTree();
    void Close(bool ok);
    app::PickedFolder Answer() const;

    LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    static LRESULT CALLBACK DepthEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR data);
};

TForm2::TForm2(HINSTANCE instance) : state_(std::make_unique<State>()) {
    state_->instance = instance;
    state_->Create();
}

TForm2::~TForm2() {
    if (state_->window) DestroyWindow(state_->window);
    if (state_->font) DeleteObject(state_->font);
}

HWND TForm2::Handle() const {
    return state_->shown ? state_->window : nullptr;
}

app::PickedFolder TForm2::Pick(HWND owner) {
    State& s = *state_;
    // Centred over the owner (or the screen without one).
    RECT frame;
    GetWindowRect(s.window, &frame);
    RECT over;
    if (!owner || !GetWindowRect(owner, &over)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowLongPtrW(s.window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    SetWindowPos(s.window, nullptr, over.left + (over.right - over.left - width) / 2,
                 over.top + (over.bottom - over.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    s.RebuildTree();
    SetCursor(previous);

    s.closed = false;
    s.accepted = false;
    s.shown = true;
    if (owner) EnableWindow(owner, FALSE);
    ShowWindow(s.window, SW_SHOW);
    SetFocus(s.tree);

    MSG message;
    bool quit = false;
    while (!s.closed) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            break;
        }
        if (IsDialogMessageW(s.window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    s.CaptureTree();
    // The owner is enabled before the dialog hides, so that it gets the activation back.
    if (owner) EnableWindow(owner, TRUE);
    ShowWindow(s.window, SW_HIDE);
    s.shown = false;
    s.everShown = true;
    if (quit) PostQuitMessage(static_cast<int>(message.wParam));
    return s.Answer();
}

void TForm2::State::Create() {
    RegisterClassOnce({instance, kClassName});
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    window = CreateBound(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName,
                         Widen(app::kPickerTitle).c_str(),
                         WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, CW_USEDEFAULT,
                         CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, instance);
    auto control = [&](const wchar_t* type, const std::string& text, DWORD style, int id) {
        return Child({window, type, Widen(text), WS_VISIBLE | style, id, 0, instance});
    };
    // In the tab order of the design: tree, CheckBox1, OK, Cancel, CheckBox2, depth box.
    tree = Child({window, WC_TREEVIEWW, L"",
                  WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_SHOWSELALWAYS |
                      TVS_DISABLEDRAGDROP,
                  kIdShellTreeView1, WS_EX_CLIENTEDGE, instance});
    allSubfolders =
        control(L"Button", app::kPickAllSubfolders, WS_TABSTOP | BS_AUTOCHECKBOX, kIdCheckBox1);
    ok = control(L"Button", app::kOk, WS_TABSTOP | BS_DEFPUSHBUTTON, kIdBitBtn1);
    cancel = control(L"Button", app::kCancel, WS_TABSTOP | BS_PUSHBUTTON, kIdBitBtn2);
    limitedDepth =
        control(L"Button", app::kPickDepthBefore, WS_TABSTOP | BS_AUTOCHECKBOX, kIdCheckBox2);
    depth = control(WC_COMBOBOXW, "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN, kIdComboBox1);
    levels = control(L"Static", app::kPickDepthAfter, SS_LEFT, kIdLabel1);
    for (const wchar_t* item : {L"1", L"2", L"3"})
        SendMessageW(depth, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    SetWindowTextW(depth, L"1");
    EnableWindow(depth, FALSE);
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    if (GetComboBoxInfo(depth, &parts)) depthEdit = parts.hwndItem;
    if (depthEdit)
        SetWindowSubclass(depthEdit, DepthEditProc, 0, reinterpret_cast<DWORD_PTR>(this));

    Layout(GetDpiForWindow(window));
}

// Places the controls as the design gives them at 96 dpi, scaled to `dpi`, in the system's
// message font.
void TForm2::State::Layout(UINT dpi) {
    if (dpi == 0) dpi = USER_DEFAULT_SCREEN_DPI;
    auto scaled = [dpi](int value) { return Scaled(value, dpi); };
    // The old font goes once every control has the new one.
    HFONT previousFont = font;
    if (HFONT made = MessageFont(dpi)) font = made;
    RECT outer{0, 0, scaled(kClientWidth + 2 * kBorder), scaled(kClientHeight + 2 * kBorder)};
    AdjustWindowRectExForDpi(&outer, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)), dpi);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    auto place = [&](HWND control, int left, int top, int width, int height) {
        MoveWindow(control, scaled(left + kBorder), scaled(top + kBorder), scaled(width),
                   scaled(height), TRUE);
        if (font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    };
    place(tree, 0, 0, 409, 305);
    place(allSubfolders, 0, 311, 401, 17);
    place(ok, 128, 362, 75, 25);
    place(cancel, 224, 362, 75, 25);
    place(limitedDepth, 0, 336, 143, 17);
    // The drop-down's height includes its open list.
    place(depth, 143, 331, 50, 120);
    place(levels, 200, 336, 89, 13);
    TreeView_SetIndent(tree, scaled(19));
    if (previousFont && previousFont != font) DeleteObject(previousFont);
}

// A box set to the state it already has runs nothing; a change runs its rule, so the two
// rules settle after one round.
void TForm2::State::SetCheck(HWND box, bool checked) {
    const bool now = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (now == checked) return;
    SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (box == allSubfolders)
        CheckBox1Click();
    else
        CheckBox2Click();
}

void TForm2::State::CheckBox1Click() {
    SetCheck(limitedDepth, SendMessageW(allSubfolders, BM_GETCHECK, 0, 0) != BST_CHECKED);
}

void TForm2::State::CheckBox2Click() {
    const bool limited = SendMessageW(limitedDepth, BM_GETCHECK, 0, 0) == BST_CHECKED;
    SetCheck(allSubfolders, !limited);
    EnableWindow(depth, limited);
}

// Pasted or composed text is held to digits too: whatever else reached the box goes.
void TForm2::State::KeepDigits() {
    const std::wstring text = WindowText(depth);
    std::wstring digits;
    for (const wchar_t c : text)
        if (c >= L'0' && c <= L'9') digits += c;
    if (digits == text) return;
    DWORD caret = 0;
    SendMessageW(depth, CB_GETEDITSEL, reinterpret_cast<WPARAM>(&caret), 0);
    SetWindowTextW(depth, digits.c_str());
    const auto at = static_cast<WORD>(std::min<size_t>(caret, digits.size()));
    SendMessageW(depth, CB_SETEDITSEL, 0, MAKELPARAM(at, at));
}

std::wstring TForm2::State::ItemText(HTREEITEM item) const {
    wchar_t buffer[MAX_PATH + 1] = {};
    TVITEMW query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = buffer;
    query.cchTextMax = MAX_PATH + 1;
    TreeView_GetItem(tree, &query);
    return buffer;
}

// The full path of an item: its drive root and the names of the folders down to it.
std::wstring TForm2::State::ItemPath(HTREEITEM item) const {
    std::vector<std::wstring> names;
    for (; item; item = TreeView_GetParent(tree, item)) names.push_back(ItemText(item));
    if (names.empty()) return {};
    std::wstring path = names.back();
    for (auto name = names.rbegin() + 1; name != names.rend(); ++name)
        path = win::Child(path, *name);
    return path;
}

HTREEITEM TForm2::State::InsertFolder(HTREEITEM parent, const std::wstring& name,
                                      bool mayHaveChildren) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(name.c_str());
    // A "+" until the folder is opened and found empty: reading every folder to know
    // whether it has subfolders would make a large drive slow to show.
    insert.item.cChildren = mayHaveChildren ? 1 : 0;
    insert.item.lParam = kNotRead;
    return TreeView_InsertItem(tree, &insert);
}

// Fills an item's subfolders from the disk the first time it is opened.
void TForm2::State::ReadSubfolders(HTREEITEM item) {
    TVITEMW query{};
    query.mask = TVIF_PARAM;
    query.hItem = item;
    TreeView_GetItem(tree, &query);
    if (query.lParam == kRead) return;
    const std::vector<std::wstring> names = Subfolders(ItemPath(item));
    for (const std::wstring& name : names) InsertFolder(item, name, true);
    TVITEMW update{};
    update.mask = TVIF_PARAM | TVIF_CHILDREN;
    update.hItem = item;
    update.lParam = kRead;
    update.cChildren = names.empty() ? 0 : 1;
    TreeView_SetItem(tree, &update);
}

HTREEITEM TForm2::State::FindChild(HTREEITEM parent, const std::wstring& name) const {
    HTREEITEM child = parent ? TreeView_GetChild(tree, parent) : TreeView_GetRoot(tree);
    HTREEITEM caseless = nullptr;
    for (; child; child = TreeView_GetNextSibling(tree, child)) {
        const std::wstring text = ItemText(child);
        if (text == name) return child;
        if (!caseless && SameName(text, name)) caseless = child;
    }
    return caseless;
}

// The item of `path`, its parents read from the disk on the way (and opened when
// `expandParents`); nullptr when the tree does not show it.
HTREEITEM TForm2::State::ItemOf(const std::wstring& path, bool expandParents) {
    HTREEITEM item = nullptr;
    for (const std::wstring& step : PathSteps(path)) {
        if (item) {
            ReadSubfolders(item);
            if (expandParents) TreeView_Expand(tree, item, TVE_EXPAND);
        }
        item = FindChild(item, step);
        if (!item) return nullptr;
    }
    return item;
}

void TForm2::State::CaptureTree() {
    expanded.clear();
    std::vector<HTREEITEM> open;
    for (HTREEITEM root = TreeView_GetRoot(tree); root; root = TreeView_GetNextSibling(tree, root))
        open.push_back(root);
    while (!open.empty()) {
        HTREEITEM item = open.back();
        open.pop_back();
        if (!(TreeView_GetItemState(tree, item, TVIS_EXPANDED) & TVIS_EXPANDED)) continue;
        expanded.push_back(ItemPath(item));
        for (HTREEITEM child = TreeView_GetChild(tree, item); child;
             child = TreeView_GetNextSibling(tree, child))
            open.push_back(child);
    }
    HTREEITEM selection = TreeView_GetSelection(tree);
    selected = selection ? ItemPath(selection) : std::wstring();
    HTREEITEM top = TreeView_GetFirstVisible(tree);
    firstVisible = top ? ItemPath(top) : std::wstring();
}

// Reads the tree again from the disk, bringing back the opened folders, the selection and the
// first visible row where they still exist. The first time, the desktop folder is selected and
// open one level.
void TForm2::State::RebuildTree() {
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    TreeView_DeleteAllItems(tree);
    for (const std::wstring& root : DriveRoots()) InsertFolder(nullptr, root, true);
    if (!everShown) {
        const std::wstring desktop = DesktopFolder();
        expanded = {desktop};
        selected = desktop;
        firstVisible.clear();
    }
    std::vector<std::wstring> open = expanded;
    std::stable_sort(open.begin(), open.end(), [](const std::wstring& a, const std::wstring& b) {
        return a.size() < b.size();
    });
    for (const std::wstring& folder : open) {
        if (!IsFolder(folder)) continue;
        if (HTREEITEM item = ItemOf(folder, true)) {
            ReadSubfolders(item);
            TreeView_Expand(tree, item, TVE_EXPAND);
        }
    }
    HTREEITEM selection =
        selected.empty() || !IsFolder(selected) ? nullptr : ItemOf(selected, true);
    TreeView_SelectItem(tree, selection);
    if (HTREEITEM top = firstVisible.empty() ? nullptr : ItemOf(firstVisible, false))
        TreeView_Select(tree, top, TVGN_FIRSTVISIBLE);
    else if (selection)
        TreeView_Select(tree, selection, TVGN_FIRSTVISIBLE);
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree, nullptr, TRUE);
}

void TForm2::State::Close(bool ok) {
    accepted = ok;
    closed = true;
}

app::PickedFolder TForm2::State::Answer() const {
    app::PickedFolder pick;
    pick.accepted = accepted;
    pick.folder = Narrow(selected);
    pick.allSubfolders = SendMessageW(allSubfolders, BM_GETCHECK, 0, 0) == BST_CHECKED;
    pick.limitedDepth = SendMessageW(limitedDepth, BM_GETCHECK, 0, 0) == BST_CHECKED;
    pick.depthText = Narrow(WindowText(depth));
    return pick;
}

bool TForm2::SelectFolder(const std::string& path) {
    HTREEITEM item = IsFolder(Widen(path)) ? state_->ItemOf(Widen(path), true) : nullptr;
    TreeView_SelectItem(state_->tree, item);
    if (item) TreeView_EnsureVisible(state_->tree, item);
    return item != nullptr;
}

std::string TForm2::SelectedFolder() const {
    HTREEITEM selection = TreeView_GetSelection(state_->tree);
    return selection ? Narrow(state_->ItemPath(selection)) : std::string();
}

LRESULT TForm2::State::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kIdBitBtn1:
                    Close(true);
                    return 0;
                case kIdBitBtn2:
                    Close(false);
                    return 0;
                case kIdCheckBox1:
                    if (HIWORD(wParam) == BN_CLICKED) CheckBox1Click();
                    return 0;
                case kIdCheckBox2:
                    if (HIWORD(wParam) == BN_CLICKED) CheckBox2Click();
                    return 0;
                case kIdComboBox1:
                    if (HIWORD(wParam) == CBN_EDITCHANGE) KeepDigits();
                    return 0;
            }
            break;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->hwndFrom == tree && header->code == TVN_ITEMEXPANDINGW) {
                const auto* change = reinterpret_cast<const NMTREEVIEWW*>(lParam);
                if (change->action & TVE_EXPAND) ReadSubfolders(change->itemNew.hItem);
                return FALSE;
            }
            if (header->hwndFrom == tree && header->code == NM_RCLICK) {
                // A right click selects the item under the pointer.
                TVHITTESTINFO hit{};
                GetCursorPos(&hit.pt);
                ScreenToClient(tree, &hit.pt);
                if (HTREEITEM item = TreeView_HitTest(tree, &hit)) TreeView_SelectItem(tree, item);
                return TRUE;
            }
            break;
        }
        case WM_DPICHANGED: {
            Layout(HIWORD(wParam));
            return 0;
        }
        case WM_CLOSE:
            Close(false);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Typed characters other than the digits are discarded; backspace and the other control
// characters (Enter, Esc, Ctrl shortcuts) pass.
LRESULT CALLBACK TForm2::State::DepthEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR, DWORD_PTR) {
    if (message == WM_CHAR) {
        const auto c = static_cast<wchar_t>(wParam);
        const bool control = c < 0x20 || c == 0x7f;
        if (!control && !(c >= L'0' && c <= L'9')) return 0;
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace ostrivane::win
