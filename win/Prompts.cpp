#include "win/Prompts.h"

#include <commdlg.h>
#include <shlobj.h>

#include <utility>

#include "app/texts.h"
#include "win/Unit2.h"
#include "win/WideText.h"
#include "win/resource.h"

namespace ostrivane::win {
namespace {

// Room for the names of an open dialog with several files: the largest selection it takes;
// a selection whose names do not fit returns nothing.
constexpr DWORD kOpenBufferChars = 65519;

// The filter of a common dialog: description and pattern, each ended by a null, and one null
// more at the end.
std::wstring FilterText(const FileRequest& request) {
    std::wstring filter = Widen(request.description);
    filter += L'\0';
    filter += Widen(request.pattern);
    filter += L'\0';
    return filter;
}

// The paths of a dialog's answer: one full path, or with several files their folder and then
// each name, null-separated.
std::vector<std::string> ChosenPaths(const std::wstring& buffer) {
    std::vector<std::wstring> parts;
    for (size_t at = 0; at < buffer.size() && buffer[at] != L'\0';) {
        const size_t end = buffer.find(L'\0', at);
        parts.push_back(buffer.substr(at, end - at));
        at = end + 1;
    }
    std::vector<std::string> paths;
    if (parts.size() == 1) {
        paths.push_back(Narrow(parts.front()));
        return paths;
    }
    std::wstring folder = parts.empty() ? std::wstring() : parts.front();
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    for (size_t i = 1; i < parts.size(); ++i) paths.push_back(Narrow(folder + parts[i]));
    return paths;
}

// Text for a multi-line edit control, whose lines end with CR LF.
std::wstring EditText(const std::string& text) {
    std::wstring wide;
    for (wchar_t c : Widen(text)) {
        if (c == L'\n') wide += L'\r';
        wide += c;
    }
    return wide;
}

struct ReportBox {
    const std::string* text;
    const std::string* details;
    const std::function<void()>* saveReport;
};

INT_PTR CALLBACK ReportBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            const auto* box = reinterpret_cast<const ReportBox*>(lParam);
            SetWindowTextW(dialog, Widen(app::kApplicationTitle).c_str());
            SetDlgItemTextW(dialog, IDC_REPORT_TEXT, EditText(*box->text).c_str());
            SetDlgItemTextW(dialog, IDC_REPORT_DETAILS, EditText(*box->details).c_str());
            SetDlgItemTextW(dialog, IDC_REPORT_SAVE, Widen(app::kSaveReport).c_str());
            SetDlgItemTextW(dialog, IDOK, Widen(app::kOk).c_str());
            return TRUE;
        }
        case WM_COMMAND: {
            const auto* box =
                reinterpret_cast<const ReportBox*>(GetWindowLongPtrW(dialog, DWLP_USER));
            switch (LOWORD(wParam)) {
                case IDC_REPORT_SAVE:
                    // The box stays open: the report can be saved again, elsewhere.
                    if (box) (*box->saveReport)();
                    return TRUE;
                case IDOK:
                case IDCANCEL:
                    EndDialog(dialog, IDOK);
                    return TRUE;
            }
            return FALSE;
        }
    }
    return FALSE;
}

INT_PTR CALLBACK AskBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* text = reinterpret_cast<const std::string*>(lParam);
            SetWindowTextW(dialog, Widen(app::kApplicationTitle).c_str());
            SetDlgItemTextW(dialog, IDC_ASK_TEXT, EditText(*text).c_str());
            SendDlgItemMessageW(dialog, IDC_ASK_ICON, STM_SETICON,
                                reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_QUESTION)), 0);
            const std::pair<int, const char*> captions[] = {{IDYES, app::kYes},
                                                            {IDNO, app::kNo},
                                                            {IDC_ASK_YES_TO_ALL, app::kYesToAll},
                                                            {IDC_ASK_NO_TO_ALL, app::kNoToAll},
                                                            {IDCANCEL, app::kStop}};
            for (const auto& [id, caption] : captions)
                SetDlgItemTextW(dialog, id, Widen(caption).c_str());
            MessageBeep(MB_ICONQUESTION);
            return TRUE;  // the focus on the default button, Yes
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDYES:
                case IDNO:
                case IDC_ASK_YES_TO_ALL:
                case IDC_ASK_NO_TO_ALL:
                case IDCANCEL:  // the Stop button, Esc and the title bar's close button
                    EndDialog(dialog, LOWORD(wParam));
                    return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

}  // namespace

int DialogPrompts::Box(const std::string& text, UINT flags) {
    return MessageBoxW(owner, Widen(text).c_str(), Widen(app::kApplicationTitle).c_str(),
                       flags | MB_TASKMODAL);
}

void DialogPrompts::information(const std::string& text) {
    Box(text, MB_OK | MB_ICONINFORMATION);
}

bool DialogPrompts::question(const std::string& text) {
    return Box(text, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

app::OverwriteAnswer DialogPrompts::askOverwrite(const std::string& text) {
    const INT_PTR chosen = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ASK),
                                           owner, AskBoxProc, reinterpret_cast<LPARAM>(&text));
    switch (chosen) {
        case IDYES:
            return app::OverwriteAnswer::Yes;
        case IDNO:
            return app::OverwriteAnswer::No;
        case IDC_ASK_YES_TO_ALL:
            return app::OverwriteAnswer::YesToAll;
        case IDC_ASK_NO_TO_ALL:
            return app::OverwriteAnswer::NoToAll;
    }
    // Stop, Esc, and a box that could not be shown: nothing is replaced and nothing new
    // starts.
    return app::OverwriteAnswer::Stop;
}

bool DialogPrompts::warning(const std::string& text) {
    return Box(text, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void DialogPrompts::error(const std::string& text) {
    // The focus goes back where it was once the box is closed.
    const HWND focus = GetFocus();
    Box(text, MB_OK | MB_ICONERROR);
    if (focus && IsWindow(focus)) SetFocus(focus);
}

void DialogPrompts::report(const std::string& text, const std::string& details,
                           const std::function<void()>& saveReport) {
    ReportBox box{&text, &details, &saveReport};
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_REPORT), owner, ReportBoxProc,
                    reinterpret_cast<LPARAM>(&box));
}

std::vector<std::string> DialogPrompts::ChooseExisting(const FileRequest& request, bool multiple) {
    std::wstring buffer(kOpenBufferChars + 1, L'\0');
    const std::wstring& last = lastChosen_[request.name];
    if (last.size() < kOpenBufferChars) buffer.replace(0, last.size(), last);
    const std::wstring filter = FilterText(request);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = kOpenBufferChars;
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_FILEMUSTEXIST |
                   OFN_PATHMUSTEXIST | (multiple ? OFN_ALLOWMULTISELECT : 0);
    if (!GetOpenFileNameW(&dialog)) return {};
    std::vector<std::string> chosen = ChosenPaths(buffer);
    if (!chosen.empty()) lastChosen_[request.name] = Widen(chosen.front());
    return chosen;
}

std::vector<std::string> DialogPrompts::openFiles(const FileRequest& request) {
    return ChooseExisting(request, true);
}

std::string DialogPrompts::openFile(const FileRequest& request) {
    const std::vector<std::string> chosen = ChooseExisting(request, false);
    return chosen.empty() ? std::string() : chosen.front();
}

std::string DialogPrompts::saveFile(const FileRequest& request) {
    std::wstring buffer(32768, L'\0');
    const std::wstring proposed = Widen(request.proposedName);
    buffer.replace(0, proposed.size(), proposed);
    const std::wstring filter = FilterText(request);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size() - 1);
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&dialog)) return {};
    return Narrow(buffer.c_str());
}

std::string DialogPrompts::browseFolder(const std::string& prompt) {
    const std::wstring title = Widen(prompt);
    BROWSEINFOW browse{};
    browse.hwndOwner = owner;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    // A drive without a medium is passed over silently while the tree is open.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    SetErrorMode(oldMode);
    if (!chosen) return {};
    std::wstring path(32768, L'\0');
    const bool named =
        SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
    CoTaskMemFree(chosen);
    return named ? Narrow(path.c_str()) : std::string();
}

app::PickedFolder DialogPrompts::pickFolder(TForm2& picker, HWND pickerOwner) {
    return picker.Pick(pickerOwner);
}

}  // namespace ostrivane::win
