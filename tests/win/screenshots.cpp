// ostrivane_win_screenshots.exe, run by scripts/screenshot-windows under Wine: the window
// with a few entries in its lists, the picker, the help tab and a copy run in progress, each
// captured from the screen into a BMP file of the folder named by the first argument. The
// second argument is a folder for the sample files (made, filled and left for the script
// to remove). Dialogs other than the picker answer silently, so nothing covers the window.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "win/Prompts.h"
#include "win/Unit1.h"
#include "win/WideText.h"

namespace {

using namespace ostrivane;
namespace fs = std::filesystem;

// The real picker; every other question answered No and every box left unshown.
class QuietPrompts : public win::DialogPrompts {
  public:
    void information(const std::string&) override {}
    bool question(const std::string&) override { return false; }
    // No, unless the shot needs Yes (the emptying option checked, with its note).
    bool warning(const std::string&) override { return warningAnswer; }
    bool warningAnswer = false;
    void error(const std::string& text) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
    }
    void report(const std::string&, const std::string&, const std::function<void()>&) override {}
};

std::wstring outputFolder;

// The screen's pixels under `window` (its frame included) as a 24-bit BMP file.
bool Capture(HWND window, const std::wstring& name) {
    RECT frame;
    if (!GetWindowRect(window, &frame)) return false;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, previous);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = _wfopen((outputFolder + L"\\" + name + L".bmp").c_str(), L"wb");
    if (!out) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);
    std::printf("captured %ls (%dx%d)\n", name.c_str(), width, height);
    return true;
}

// Delivers messages for `milliseconds`, so that what changed is painted.
void Pump(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
}

HWND Control(HWND window, int id) {
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    EnumChildWindows(
        window,
        [](HWND child, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (GetDlgCtrlID(child) != s->id) return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void SelectTab(HWND window, int index) {
    HWND tabs = Control(window, 1071);  // PageControl1
    TabCtrl_SetCurSel(tabs, index);
    NMHDR change{tabs, 1071, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(GetParent(tabs), WM_NOTIFY, 1071, reinterpret_cast<LPARAM>(&change));
}

void WriteFile(const fs::path& path, int megabytes) {
    fs::create_directories(path.parent_path());
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) return;
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + megabytes);
    for (int i = 0; i < megabytes; ++i) std::fwrite(block.data(), 1, block.size(), out);
    std::fclose(out);
}

// The timer that captures the picker while Button3Click waits for it, then cancels it.
void CALLBACK CapturePicker(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND picker = FindWindowW(L"TForm2", nullptr);
    if (!picker) return;
    Capture(picker, L"picker");
    PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
}

HWND runWindow = nullptr;

// Captures the run once it is well under way, then stops it.
void CALLBACK CaptureRun(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    Capture(runWindow, L"run");
    SendMessageW(Control(runWindow, 1062), BM_CLICK, 0, 0);  // BtnStop
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count != 3) return 2;
    outputFolder = arguments[1];
    const fs::path data = arguments[2];
    fs::create_directories(outputFolder);
    if (FAILED(OleInitialize(nullptr))) return 1;

    // Sources with Chinese names, and enough bytes that a run into three folders lasts a
    // few seconds.
    const fs::path sources = data / L"项目资料";
    WriteFile(sources / L"年度报告.docx", 8);
    WriteFile(sources / L"预算表.xlsx", 4);
    for (int i = 1; i <= 6; ++i)
        WriteFile(sources / L"照片" / (L"IMG_" + std::to_wstring(1000 + i) + L".jpg"), 80);
    std::vector<std::string> destinations;
    for (const wchar_t* name : {L"U盘备份", L"移动硬盘", L"共享文件夹"}) {
        fs::create_directories(data / L"目标" / name);
        destinations.push_back(win::Narrow((data / L"目标" / name).wstring()));
    }

    QuietPrompts prompts;
    win::TForm1 form(instance, &prompts);
    prompts.owner = form.Handle();
    form.Show(SW_SHOWNORMAL);
    form.AddDroppedSources({win::Narrow((sources / L"年度报告.docx").wstring()),
                            win::Narrow((sources / L"预算表.xlsx").wstring()),
                            win::Narrow((sources / L"照片").wstring())});
    form.AddDroppedDestinations(destinations);
    // The emptying option checked, with its note; unchecked again before the run.
    prompts.warningAnswer = true;
    SendMessageW(form.CheckBox1, BM_CLICK, 0, 0);
    prompts.warningAnswer = false;
    Pump(1500);
    Capture(form.Handle(), L"window");
    SendMessageW(form.CheckBox1, BM_CLICK, 0, 0);

    SetTimer(nullptr, 0, 2000, CapturePicker);
    form.Button3Click();
    Pump(500);

    SelectTab(form.Handle(), 1);
    Pump(1000);
    Capture(form.Handle(), L"help");
    SelectTab(form.Handle(), 0);
    Pump(500);

    runWindow = form.Handle();
    SetTimer(nullptr, 0, 1200, CaptureRun);
    SendMessageW(Control(form.Handle(), 1061), BM_CLICK, 0, 0);  // BtnCopy
    for (int i = 0; i < 600 && form.IsBusy(); ++i) Pump(100);
    Pump(300);

    LocalFree(arguments);
    OleUninitialize();
    return 0;
}
