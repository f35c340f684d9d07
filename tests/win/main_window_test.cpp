// The Windows main window driven in-process: controls found by id and class, commands run by
// BM_CLICK and keys, the list boxes read back, every dialog answered by a script.
// windows.h before the headers that build on it.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <thread>

#include "app/run_view.h"
#include "app/summaries.h"
#include "app/texts.h"
#include "core/copy_run.h"
#include "core/settings.h"
#include "core/temp_tree.h"
#include "win/Unit1.h"
#include "win/WideText.h"

namespace ostrivane::win {
namespace {

using test::Exists;
using test::ReadFile;
using test::TempTree;

// Answers every dialog from queues and keeps what the window said.
class ScriptedPrompts : public Prompts {
  public:
    struct Shown {
        std::string kind, text;
    };
    std::vector<Shown> shown;
    std::deque<bool> answers;  // question and warning boxes, in order
    // The Ask question's answers, in order; with none left it is the plain question box.
    std::deque<app::OverwriteAnswer> overwriteAnswers;
    // Questions asked so far (read by a run's thread while the window asks).
    std::atomic<int> questionCount{0};
    // The progress bar read as each end box opens, when set.
    HWND barToRead = nullptr;
    std::vector<int> barAtBoxes;
    std::deque<std::vector<std::string>> openAnswers;
    std::deque<std::string> fileAnswers;  // openFile, saveFile, browseFolder
    std::deque<app::PickedFolder> picks;
    std::vector<FileRequest> requests;
    std::string reportDetails;
    int reportSaves = 0;  // presses of "保存报告…" per report box
    // The threads the questions were asked on.
    std::vector<DWORD> questionThreads;

    std::vector<std::string> texts(const std::string& kind) const {
        std::vector<std::string> result;
        for (const Shown& entry : shown)
            if (entry.kind == kind) result.push_back(entry.text);
        return result;
    }

    void information(const std::string& text) override {
        ReadBar();
        shown.push_back({"information", text});
    }
    bool question(const std::string& text) override {
        questionThreads.push_back(GetCurrentThreadId());
        shown.push_back({"question", text});
        ++questionCount;
        // The user takes their time: the window goes on meanwhile.
        if (whileQuestionOpen) whileQuestionOpen();
        return Next(answers, false);
    }
    std::function<void()> whileQuestionOpen;
    app::OverwriteAnswer askOverwrite(const std::string& text) override {
        if (overwriteAnswers.empty()) return Prompts::askOverwrite(text);
        shown.push_back({"ask", text});
        return Next(overwriteAnswers, app::OverwriteAnswer::No);
    }
    bool warning(const std::string& text) override {
        shown.push_back({"warning", text});
        return Next(answers, false);
    }
    void error(const std::string& text) override { shown.push_back({"error", text}); }
    void report(const std::string& text, const std::string& details,
                const std::function<void()>& saveReport) override {
        ReadBar();
        shown.push_back({"report", text});
        reportDetails = details;
        for (int i = 0; i < reportSaves; ++i) saveReport();
    }
    std::vector<std::string> openFiles(const FileRequest& request) override {
        requests.push_back(request);
        return Next(openAnswers, std::vector<std::string>());
    }
    std::string openFile(const FileRequest& request) override {
        requests.push_back(request);
        return Next(fileAnswers, std::string());
    }
    std::string saveFile(const FileRequest& request) override {
        requests.push_back(request);
        return Next(fileAnswers, std::string());
    }
    std::string browseFolder(const std::string& prompt) override {
        shown.push_back({"browse", prompt});
        return Next(fileAnswers, std::string());
    }
    app::PickedFolder pickFolder(TForm2&, HWND owner) override {
        pickOwner = owner;
        return Next(picks, app::PickedFolder());
    }
    HWND pickOwner = nullptr;

  private:
    void ReadBar() {
        if (barToRead)
            barAtBoxes.push_back(static_cast<int>(SendMessageW(barToRead, PBM_GETPOS, 0, 0)));
    }
    template <typename T>
    static T Next(std::deque<T>& queue, T otherwise) {
        if (queue.empty()) return otherwise;
        T next = std::move(queue.front());
        queue.pop_front();
        return next;
    }
};

std::vector<std::string> ListTexts(HWND box) {
    std::vector<std::string> texts;
    const int count = static_cast<int>(SendMessageW(box, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring text(static_cast<size_t>(SendMessageW(box, LB_GETTEXTLEN, i, 0)), L'\0');
        SendMessageW(box, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        texts.push_back(Narrow(text));
    }
    return texts;
}

std::string ControlText(HWND control) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)), L'\0');
    GetWindowTextW(control, text.data(), static_cast<int>(text.size()) + 1);
    return Narrow(text);
}

std::string ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return Narrow(name);
}

RECT PlaceIn(HWND control, HWND parent) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void Click(HWND button) {
    SendMessageW(button, BM_CLICK, 0, 0);
}

// Runs the window's messages until `done` holds or five seconds have passed.
bool PumpUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
    return true;
}

class MainWindow : public testing::Test {
  protected:
    void SetUp() override {
        // The settings file goes to the test's own folder.
        SetEnvironmentVariableW(L"APPDATA", Widen(files_.path("appdata")).c_str());
        form_ = std::make_unique<TForm1>(GetModuleHandleW(nullptr), &prompts_);
        form_->Show(SW_SHOWNOACTIVATE);
    }
    void TearDown() override { form_.reset(); }

    std::string Folder(const std::string& relative) { return files_.mkdir(relative) + "\\"; }

    // `count` files src/f0.bin, src/f1.bin... of `size` bytes each (f0 of 'a', f1 of 'b'...)
    // put into the source list through Button1.
    void AddSources(int count, size_t size) {
        std::vector<std::string> sources;
        for (int i = 0; i < count; ++i)
            sources.push_back(files_.write("src/f" + std::to_string(i) + ".bin",
                                           std::string(size, static_cast<char>('a' + i))));
        prompts_.openAnswers = {sources};
        Click(form_->Button1);
    }

    TempTree files_;
    ScriptedPrompts prompts_;
    std::unique_ptr<TForm1> form_;
};

// --- The window's controls ------------------------------------------------------------------

TEST_F(MainWindow, EveryControlCarriesItsIdAndClassBelowTForm1) {
    const HWND window = form_->Handle();
    EXPECT_EQ(ClassOf(window), "TForm1");
    EXPECT_EQ(ControlText(window), "Ostrivane");
    EXPECT_EQ(FindWindowW(L"TForm1", L"Ostrivane"), window);

    struct Expected {
        int id;
        const char* className;
    };
    const Expected expected[] = {
        {1001, "ListBox"}, {1002, "ListBox"}, {1011, "Button"},
        {1012, "Button"},  {1013, "Button"},  {1014, "Button"},
        {1015, "Button"},  {1016, "Button"},  {1017, "Button"},
        {1021, "Button"},  {1022, "Button"},  {1023, "Button"},
        {1024, "Button"},  {1025, "Button"},  {1031, "Button"},
        {1032, "Button"},  {1033, "Button"},  {1034, "Button"},
        {1041, "Button"},  {1042, "Button"},  {1051, "msctls_progress32"},
        {1061, "Button"},  {1062, "Button"},  {1071, "SysTabControl32"},
        {1081, "Static"},
    };
    std::vector<HWND> descendants;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&descendants));
    for (const Expected& control : expected) {
        int found = 0;
        for (HWND child : descendants) {
            if (GetDlgCtrlID(child) != control.id) continue;
            ++found;
            EXPECT_EQ(ClassOf(child), control.className) << control.id;
        }
        EXPECT_EQ(found, 1) << "control id " << control.id;
    }
    // The captions a user (and a script) finds them by.
    EXPECT_EQ(ControlText(form_->BtnStop), "停止");
    EXPECT_EQ(ControlText(form_->BtnCopy), "开始复制");
    EXPECT_EQ(ControlText(form_->Label1), " 目标目录下已有同名文件存在时：");
    EXPECT_EQ(ControlText(form_->CheckVerify), app::kVerifyAfterCopy);
    // Hidden until a run and until destinations are listed.
    EXPECT_FALSE(IsWindowVisible(form_->BtnStop));
    EXPECT_FALSE(IsWindowVisible(form_->BtnEmptyDestFolder));
    EXPECT_FALSE(IsWindowVisible(form_->ListBox3));

    // The help tab shows its page in place of the working one, and back.
    EXPECT_TRUE(IsWindowVisible(form_->TabSheet1));
    EXPECT_FALSE(IsWindowVisible(form_->TabSheet2));
    const auto choose = [&](int tab) {
        TabCtrl_SetCurSel(form_->PageControl1, tab);
        NMHDR change{form_->PageControl1, kIdPages, static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(window, WM_NOTIFY, kIdPages, reinterpret_cast<LPARAM>(&change));
    };
    choose(1);
    EXPECT_FALSE(IsWindowVisible(form_->TabSheet1));
    EXPECT_TRUE(IsWindowVisible(form_->TabSheet2));
    HWND help = GetWindow(form_->TabSheet2, GW_CHILD);
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(IsWindowVisible(help));
    RECT page, area;
    GetClientRect(form_->TabSheet2, &page);
    GetClientRect(help, &area);
    EXPECT_GT(area.right, page.right / 2);
    EXPECT_GT(area.bottom, page.bottom / 2);
    choose(0);
    EXPECT_TRUE(IsWindowVisible(form_->TabSheet1));
}

// At 96 dpi the design's places; a wider and taller window widens GroupBox1 and moves Panel1
// down with the bottom, and nothing else moves.
TEST_F(MainWindow, LayoutFollowsTheDesignAndTheWindowsSize) {
    const HWND page = form_->TabSheet1;
    const double scale = GetDpiForWindow(form_->Handle()) / 96.0;
    const auto scaled = [&](int pixels) { return static_cast<int>(pixels * scale + 0.5); };
    RECT client;
    GetClientRect(form_->Handle(), &client);
    EXPECT_EQ(client.right, scaled(752));
    EXPECT_EQ(client.bottom, scaled(575));
    const RECT list1 = PlaceIn(form_->ListBox1, page);
    EXPECT_EQ(list1.right - list1.left, scaled(631));
    EXPECT_EQ(list1.bottom - list1.top, scaled(169));
    const RECT button3 = PlaceIn(form_->Button3, page);
    EXPECT_EQ(button3.left, scaled(2 + 645));
    EXPECT_EQ(button3.top, scaled(2 + 202 + 10));
    const RECT group1 = PlaceIn(form_->GroupBox1, page);
    const RECT panel = PlaceIn(form_->Panel1, page);
    const RECT list2 = PlaceIn(form_->ListBox2, page);
    const RECT progress = PlaceIn(form_->ProgressBar1, page);

    RECT frame;
    GetWindowRect(form_->Handle(), &frame);
    SetWindowPos(form_->Handle(), nullptr, 0, 0, frame.right - frame.left + 100,
                 frame.bottom - frame.top + 60, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT group1After = PlaceIn(form_->GroupBox1, page);
    const RECT panelAfter = PlaceIn(form_->Panel1, page);
    EXPECT_EQ(group1After.right - group1After.left, group1.right - group1.left + 100);
    EXPECT_EQ(group1After.bottom - group1After.top, group1.bottom - group1.top);
    EXPECT_EQ(panelAfter.top, panel.top + 60);
    EXPECT_EQ(panelAfter.right - panelAfter.left, panel.right - panel.left + 100);
    EXPECT_EQ(PlaceIn(form_->ListBox2, page).right, list2.right);
    EXPECT_EQ(PlaceIn(form_->ProgressBar1, page).top, progress.top);
}

// The options group's rows (the label, the policies, the emptying with its button, the check
// after write) lie inside the frame below its caption, and no two of them meet.
TEST_F(MainWindow, OptionsRowsStayApartInsideTheirGroup) {
    const HWND page = form_->TabSheet1;
    const RECT group = PlaceIn(form_->GroupBox3, page);
    HDC context = GetDC(form_->GroupBox3);
    const HGDIOBJ oldFont = SelectObject(
        context, reinterpret_cast<HGDIOBJ>(SendMessageW(form_->GroupBox3, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(context, &metrics);
    SelectObject(context, oldFont);
    ReleaseDC(form_->GroupBox3, context);
    ASSERT_GT(metrics.tmHeight, 0);

    const HWND rows[] = {form_->Label1,
                         form_->Rb1,
                         form_->Rb2,
                         form_->Rb3,
                         form_->RbRename,
                         form_->CheckBox1,
                         form_->BtnEmptyDestFolder,
                         form_->CheckVerify,
                         form_->EmptyingNote};
    std::vector<RECT> places;
    for (HWND control : rows) {
        const RECT place = PlaceIn(control, page);
        EXPECT_GE(place.top, group.top + metrics.tmHeight) << GetDlgCtrlID(control);
        EXPECT_GT(place.left, group.left) << GetDlgCtrlID(control);
        EXPECT_LT(place.right, group.right) << GetDlgCtrlID(control);
        EXPECT_LT(place.bottom, group.bottom) << GetDlgCtrlID(control);
        places.push_back(place);
    }
    for (size_t i = 0; i < places.size(); ++i) {
        for (size_t j = i + 1; j < places.size(); ++j) {
            RECT common;
            EXPECT_FALSE(IntersectRect(&common, &places[i], &places[j]))
                << GetDlgCtrlID(rows[i]) << " meets " << GetDlgCtrlID(rows[j]);
        }
    }
    // The check after write is the last row, below the emptying and its button.
    const RECT verify = PlaceIn(form_->CheckVerify, page);
    EXPECT_GE(verify.top, PlaceIn(form_->CheckBox1, page).bottom);
    EXPECT_GE(verify.top, PlaceIn(form_->BtnEmptyDestFolder, page).bottom);
    // The emptying's note below it, room for two lines of the window's font.
    const RECT note = PlaceIn(form_->EmptyingNote, page);
    EXPECT_GE(note.top, verify.bottom);
    EXPECT_GE(note.bottom - note.top, 2 * metrics.tmHeight);
}

// --- Lists ----------------------------------------------------------------------------------

TEST_F(MainWindow, SourceCommandsKeepTheListBoxInTheListsOrder) {
    const std::string a = files_.write("a.txt", "a");
    const std::string b = files_.write("b.txt", "b");
    // The same file twice in one answer is listed once.
    prompts_.openAnswers = {{b, a, b}};
    Click(form_->Button1);
    EXPECT_EQ(ListTexts(form_->ListBox1), (std::vector<std::string>{b, a}));
    ASSERT_FALSE(prompts_.requests.empty());
    EXPECT_EQ(prompts_.requests.back().name, "OpenDialog1");
    EXPECT_EQ(prompts_.requests.back().pattern, "*.*");

    const std::string folder = Folder("chosen");
    prompts_.fileAnswers = {folder.substr(0, folder.size() - 1), "C:\\"};
    Click(form_->Button5);
    Click(form_->Button5);
    EXPECT_EQ(ListTexts(form_->ListBox1), (std::vector<std::string>{b, a, folder}));
    EXPECT_EQ(prompts_.texts("browse").front(), app::kChooseFolderPrompt);
    EXPECT_EQ(prompts_.texts("information"), std::vector<std::string>{app::kDriveRootRefused});

    // Delete in the list removes the selected entry; the list and the box stay one.
    SendMessageW(form_->ListBox1, LB_SETCURSEL, 1, 0);
    SendMessageW(form_->ListBox1, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(ListTexts(form_->ListBox1), (std::vector<std::string>{b, folder}));
    EXPECT_EQ(form_->Sources().entries(), (std::vector<std::string>{b, folder}));
    // Without a selection nothing goes.
    SendMessageW(form_->ListBox1, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    Click(form_->Button2);
    EXPECT_EQ(form_->Sources().count(), 2);
    Click(form_->Button6);
    EXPECT_TRUE(ListTexts(form_->ListBox1).empty());
    EXPECT_EQ(form_->Sources().count(), 0);
}

// A command reaches its handler from the working page and from the window (as a menu item or
// an accelerator sends it, code 0), and only as a click: a button's other notifications run
// nothing.
TEST_F(MainWindow, CommandIdsRunTheirHandlersOnlyWhenClicked) {
    const auto command = [](HWND to, int id, int code, HWND from) {
        SendMessageW(to, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(from));
    };
    AddSources(2, 10);
    ASSERT_EQ(form_->Sources().count(), 2);
    command(form_->TabSheet1, kIdClearSources, BN_SETFOCUS, form_->Button6);
    command(form_->TabSheet1, kIdClearSources, BN_KILLFOCUS, form_->Button6);
    EXPECT_EQ(form_->Sources().count(), 2);
    command(form_->TabSheet1, kIdClearSources, BN_CLICKED, form_->Button6);
    EXPECT_EQ(form_->Sources().count(), 0);
    EXPECT_TRUE(ListTexts(form_->ListBox1).empty());

    AddSources(1, 10);
    ASSERT_EQ(form_->Sources().count(), 1);
    command(form_->Handle(), kIdClearSources, 0, nullptr);
    EXPECT_EQ(form_->Sources().count(), 0);
    // An id without a handler (the figures line) does nothing; the policy buttons check
    // themselves.
    command(form_->TabSheet1, kIdFigures, 0, nullptr);
    command(form_->TabSheet1, kIdAsk, BN_CLICKED, form_->Rb3);
    EXPECT_EQ(form_->CheckedPolicy(), SameFilePolicy::Ask);
    command(form_->TabSheet1, kIdNumber, BN_SETFOCUS, form_->RbRename);
    EXPECT_EQ(form_->CheckedPolicy(), SameFilePolicy::Ask);
    EXPECT_TRUE(prompts_.texts("error").empty());
}

TEST_F(MainWindow, ListsGoToListFilesAndComeBack) {
    // An empty list is not exported.
    Click(form_->BtnSaveFileList);
    Click(form_->BtnSaveDirLst);
    EXPECT_EQ(prompts_.texts("information"),
              (std::vector<std::string>{app::kSourceListEmpty, app::kDestinationListEmpty}));

    const std::string kept = Folder("kept");
    const std::string gone = Folder("gone");
    const std::string listFile = files_.path("dir.lst");
    prompts_.picks = {{true, kept, false, false, ""}, {true, gone, false, false, ""}};
    Click(form_->Button3);
    Click(form_->Button3);
    EXPECT_EQ(prompts_.pickOwner, form_->Handle());
    EXPECT_TRUE(IsWindowVisible(form_->BtnEmptyDestFolder));
    prompts_.fileAnswers = {listFile};
    Click(form_->BtnSaveDirLst);
    EXPECT_EQ(prompts_.requests.back().proposedName, "dir.lst");
    ASSERT_TRUE(Exists(listFile));

    // The list empties; the file comes back without the folder removed meanwhile.
    Click(form_->Button7);
    EXPECT_FALSE(IsWindowVisible(form_->BtnEmptyDestFolder));
    std::filesystem::remove(test::NativePath(gone));
    prompts_.shown.clear();
    prompts_.fileAnswers = {listFile};
    Click(form_->BtnImpDirLst);
    EXPECT_EQ(ListTexts(form_->ListBox2), std::vector<std::string>{kept});
    EXPECT_EQ(prompts_.texts("information"),
              std::vector<std::string>{app::kSomeFoldersNotImported});
    EXPECT_TRUE(IsWindowVisible(form_->BtnEmptyDestFolder));

    // Delete with the last destination selected hides the emptying button again.
    SendMessageW(form_->ListBox2, LB_SETCURSEL, 0, 0);
    SendMessageW(form_->ListBox2, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_TRUE(ListTexts(form_->ListBox2).empty());
    EXPECT_FALSE(IsWindowVisible(form_->BtnEmptyDestFolder));
}

// The picker's answer goes through pickFolder: with all subfolders every folder below joins
// in the walk's order; the drive root is refused with its message.
TEST_F(MainWindow, PickedFolderJoinsWithItsSubfolders) {
    const std::string top = Folder("top");
    const std::string deep = Folder("top/one/deep");
    const std::string one = files_.path("top/one") + "\\";
    files_.write("top/file.txt", "not a folder");
    prompts_.picks = {{true, top, true, false, ""},
                      {true, "C:\\", true, false, ""},
                      {false, top, true, false, ""}};
    Click(form_->Button3);
    EXPECT_EQ(ListTexts(form_->ListBox2), (std::vector<std::string>{top, one, deep}));
    EXPECT_EQ(form_->Destinations().entries(), ListTexts(form_->ListBox2));
    Click(form_->Button3);
    Click(form_->Button3);  // Cancel
    EXPECT_EQ(prompts_.texts("information"), std::vector<std::string>{app::kDriveRootRefused});
    EXPECT_EQ(form_->Destinations().count(), 3);
    EXPECT_FALSE(form_->IsBusy());
}

// The message loop's keys: Tab follows the described order (the destination group first,
// Button5 last in the source group), Enter runs the focused button.
TEST_F(MainWindow, TabOrderAndEnterGoThroughTheLoopsDialogKeys) {
    SetForegroundWindow(form_->Handle());
    const auto key = [&](HWND target, WPARAM code) {
        MSG message{target, WM_KEYDOWN, code, 0, 0, {}};
        return form_->PreTranslate(message);
    };
    SetFocus(form_->ListBox2);
    const HWND expected[] = {form_->Button3,         form_->Button4,        form_->Button7,
                             form_->BtnSaveDirLst,   form_->BtnImpDirLst,   form_->ListBox1,
                             form_->Button1,         form_->Button2,        form_->Button6,
                             form_->BtnSaveFileList, form_->BtnImpFileList, form_->Button5};
    for (HWND next : expected) {
        EXPECT_TRUE(key(GetFocus(), VK_TAB));
        EXPECT_EQ(GetFocus(), next) << GetDlgCtrlID(GetFocus());
    }
    // In the options the check after write follows the emptying.
    SetFocus(form_->CheckBox1);
    EXPECT_TRUE(key(GetFocus(), VK_TAB));
    EXPECT_EQ(GetFocus(), form_->CheckVerify) << GetDlgCtrlID(GetFocus());
    EXPECT_TRUE(key(GetFocus(), VK_TAB));
    EXPECT_EQ(GetFocus(), form_->RbRename) << GetDlgCtrlID(GetFocus());

    form_->AddDroppedSources({files_.write("a.txt", "a")});
    SetFocus(form_->Button6);
    EXPECT_TRUE(key(form_->Button6, VK_RETURN));
    EXPECT_EQ(form_->Sources().count(), 0);
    EXPECT_TRUE(ListTexts(form_->ListBox1).empty());
}

// A folder walk runs on the worker while the window takes Stop: the folders added so far
// stay, in the list and in its box, and the walk takes no further folder.
TEST_F(MainWindow, StopEndsAFolderWalkKeepingWhatItAdded) {
    const std::string top = Folder("tree");
    for (int i = 0; i < 200; ++i) files_.mkdir("tree/f" + std::to_string(1000 + i));
    form_->walkRepaintInterval = std::chrono::milliseconds(0);
    prompts_.picks = {{true, top, true, false, ""}};
    // Waits in the queue until the walk's own message loop takes it.
    PostMessageW(form_->BtnStop, BM_CLICK, 0, 0);
    Click(form_->Button3);
    EXPECT_TRUE(form_->StopRequested());
    const int added = form_->Destinations().count();
    EXPECT_GE(added, 1);
    EXPECT_LT(added, 201);
    EXPECT_EQ(ListTexts(form_->ListBox2), form_->Destinations().entries());
    EXPECT_EQ(form_->Destinations().at(0), top);
    EXPECT_FALSE(IsWindowVisible(form_->BtnStop));
    EXPECT_FALSE(form_->IsBusy());
}

// --- Options --------------------------------------------------------------------------------

TEST_F(MainWindow, PolicyIsStoredAtCloseAndReadAtStart) {
    // No settings file yet: number the copies.
    EXPECT_EQ(form_->CheckedPolicy(), SameFilePolicy::AutoNumber);
    EXPECT_EQ(SendMessageW(form_->RbRename, BM_GETCHECK, 0, 0), BST_CHECKED);
    Click(form_->Rb2);
    EXPECT_EQ(form_->CheckedPolicy(), SameFilePolicy::Skip);
    EXPECT_EQ(SendMessageW(form_->RbRename, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageW(form_->Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(LoadSameFilePolicy(files_.path("appdata") + "\\Ostrivane\\Quillmere.ini"), 2);

    TForm1 again(GetModuleHandleW(nullptr), &prompts_);
    EXPECT_EQ(again.CheckedPolicy(), SameFilePolicy::Skip);
    EXPECT_EQ(SendMessageW(again.Rb2, BM_GETCHECK, 0, 0), BST_CHECKED);
}

// A handler's error is shown in the error box and the window goes on; a policy that cannot
// be stored keeps the window open.
TEST_F(MainWindow, ErrorsAreShownAndAFailedCloseKeepsTheWindow) {
    prompts_.openAnswers = {{files_.write("a.txt", "a")}};
    Click(form_->Button1);
    prompts_.fileAnswers = {files_.path("no such folder/file.lst")};
    Click(form_->BtnSaveFileList);
    const std::vector<std::string> errors = prompts_.texts("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Cannot create file \"", 0), 0u) << errors[0];
    EXPECT_EQ(errors[0].back(), '.');

    // The settings folder's place is taken by a file.
    files_.write("blocked/Ostrivane", "a file");
    SetEnvironmentVariableW(L"APPDATA", Widen(files_.path("blocked")).c_str());
    SendMessageW(form_->Handle(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(form_->Handle()));
    ASSERT_EQ(prompts_.texts("error").size(), 2u);
    EXPECT_EQ(prompts_.texts("error")[1].rfind("Unable to write to ", 0), 0u);
    // Once the store can be written the window closes.
    SetEnvironmentVariableW(L"APPDATA", Widen(files_.path("appdata")).c_str());
    const HWND window = form_->Handle();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(MainWindow, EmptyFirstAsksAndNoUnchecksIt) {
    prompts_.answers = {false, true};
    Click(form_->CheckBox1);
    EXPECT_EQ(SendMessageW(form_->CheckBox1, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    Click(form_->CheckBox1);
    EXPECT_EQ(SendMessageW(form_->CheckBox1, BM_GETCHECK, 0, 0), BST_CHECKED);
    // Unchecking asks nothing.
    Click(form_->CheckBox1);
    EXPECT_EQ(prompts_.texts("warning"),
              (std::vector<std::string>{app::kEmptyingWarning, app::kEmptyingWarning}));
}

// N1 empties every destination but keeps a listed source inside one, then the button is
// disabled for good.
TEST_F(MainWindow, EmptyingNowKeepsSourcesAndDisablesTheButton) {
    const std::string target = Folder("target");
    files_.write("target/old.txt", "old");
    const std::string source = files_.write("target/source.txt", "listed");
    prompts_.picks = {{true, target, false, false, ""}};
    Click(form_->Button3);
    prompts_.openAnswers = {{source}};
    Click(form_->Button1);
    prompts_.answers = {false, true};
    form_->N1Click();  // No: nothing happens
    EXPECT_TRUE(Exists(files_.path("target/old.txt")));
    form_->N1Click();
    EXPECT_FALSE(Exists(files_.path("target/old.txt")));
    EXPECT_EQ(ReadFile(source), "listed");
    const std::vector<std::string> info = prompts_.texts("information");
    ASSERT_EQ(info.size(), 1u);
    // The kept source is named as what stayed behind.
    EXPECT_NE(info[0], app::kEmptyingDone);
    EXPECT_NE(info[0].find(source), std::string::npos) << info[0];
    EXPECT_FALSE(IsWindowEnabled(form_->BtnEmptyDestFolder));
    Click(form_->Button7);
    prompts_.picks = {{true, target, false, false, ""}};
    Click(form_->Button3);
    EXPECT_FALSE(IsWindowEnabled(form_->BtnEmptyDestFolder));
}

// Any mouse button on BtnEmptyDestFolder opens PopupMenu1 with its top-left corner at the
// pressed point; closing the menu without a choice empties nothing.
RECT shownMenu{};
bool menuShown = false;

void CALLBACK CloseMenuTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (!menu || !IsWindowVisible(menu)) return;
    KillTimer(nullptr, timer);
    GetWindowRect(menu, &shownMenu);
    menuShown = true;
    EndMenu();
}

TEST_F(MainWindow, EveryMouseButtonOpensTheEmptyingMenuAtThePressedPoint) {
    prompts_.picks = {{true, Folder("target"), false, false, ""}};
    Click(form_->Button3);
    files_.write("target/kept.txt", "kept");
    ASSERT_TRUE(IsWindowVisible(form_->BtnEmptyDestFolder));
    for (UINT press : {WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_LBUTTONDOWN}) {
        menuShown = false;
        SetTimer(nullptr, 0, 30, CloseMenuTimer);
        SendMessageW(form_->BtnEmptyDestFolder, press, 0, MAKELPARAM(5, 7));
        EXPECT_TRUE(menuShown) << press;
        POINT at{5, 7};
        ClientToScreen(form_->BtnEmptyDestFolder, &at);
        EXPECT_EQ(shownMenu.left, at.x) << press;
        EXPECT_EQ(shownMenu.top, at.y) << press;
    }
    // The button never takes the focus.
    EXPECT_NE(GetFocus(), form_->BtnEmptyDestFolder);
    EXPECT_TRUE(prompts_.shown.empty());
    EXPECT_EQ(ReadFile(files_.path("target/kept.txt")), "kept");
}

// --- Copy runs ------------------------------------------------------------------------------

TEST_F(MainWindow, StartWithNothingListedSaysSo) {
    Click(form_->BtnCopy);
    prompts_.openAnswers = {{files_.write("a.txt", "a")}};
    Click(form_->Button1);
    Click(form_->BtnCopy);
    EXPECT_EQ(prompts_.texts("information"),
              (std::vector<std::string>{app::kNothingToCopy, app::kNothingToCopy}));
    EXPECT_TRUE(IsWindowEnabled(form_->BtnCopy));
}

// Two destinations under the numbering policy: a name taken gets "_1", the other destination
// the plain name; the end box says the run is complete and the window is idle again.
TEST_F(MainWindow, CopyRunIntoTwoDestinationsNumbersTakenNames) {
    const std::string source = files_.write("src/report.txt", "new");
    const std::string first = Folder("first");
    const std::string second = Folder("second");
    files_.write("first/report.txt", "old");
    prompts_.openAnswers = {{source}};
    Click(form_->Button1);
    prompts_.picks = {{true, first, false, false, ""}, {true, second, false, false, ""}};
    Click(form_->Button3);
    Click(form_->Button3);
    Click(form_->RbRename);
    Click(form_->BtnCopy);
    EXPECT_EQ(ReadFile(files_.path("first/report.txt")), "old");
    EXPECT_EQ(ReadFile(files_.path("first/report_1.txt")), "new");
    EXPECT_EQ(ReadFile(files_.path("second/report.txt")), "new");
    EXPECT_FALSE(Exists(files_.path("second/report_1.txt")));
    EXPECT_EQ(prompts_.texts("information"), std::vector<std::string>{app::kCopyDone});
    EXPECT_FALSE(form_->IsBusy());
    EXPECT_TRUE(IsWindowEnabled(form_->BtnCopy));
    EXPECT_FALSE(IsWindowVisible(form_->BtnStop));
    EXPECT_EQ(ControlText(form_->StatusLabel), "");
}

// With CheckVerify the run reads its copies back and the end box counts them, a copy it did
// not make (Skip) left out and named on the run's tally line; the check box is stored at
// close and read back by the next window.
TEST_F(MainWindow, VerifiedRunCountsItsCopiesAndTheOptionIsStored) {
    const std::string a = files_.write("src/a.txt", "A");
    const std::string b = files_.write("src/b.txt", "B");
    const std::string one = Folder("one");
    const std::string two = Folder("two");
    files_.write("one/a.txt", "kept");
    prompts_.openAnswers = {{a, b}};
    Click(form_->Button1);
    prompts_.picks = {{true, one, false, false, ""}, {true, two, false, false, ""}};
    Click(form_->Button3);
    Click(form_->Button3);
    Click(form_->Rb2);
    EXPECT_EQ(SendMessageW(form_->CheckVerify, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    Click(form_->CheckVerify);
    ASSERT_EQ(SendMessageW(form_->CheckVerify, BM_GETCHECK, 0, 0), BST_CHECKED);
    Click(form_->BtnCopy);

    EXPECT_EQ(ReadFile(files_.path("one/a.txt")), "kept");
    EXPECT_EQ(ReadFile(files_.path("one/b.txt")), "B");
    EXPECT_EQ(ReadFile(files_.path("two/a.txt")), "A");
    EXPECT_EQ(ReadFile(files_.path("two/b.txt")), "B");
    EXPECT_EQ(prompts_.texts("information"),
              std::vector<std::string>{std::string(app::kCopyDone) +
                                       "\n已校验 3 个副本：从目标设备读回，与源文件一致。"
                                       "\n已跳过 1 个同名文件。"});

    SendMessageW(form_->Handle(), WM_CLOSE, 0, 0);
    const std::string settings = files_.path("appdata") + "\\Ostrivane\\Quillmere.ini";
    EXPECT_TRUE(LoadVerifyAfterCopy(settings));
    TForm1 again(GetModuleHandleW(nullptr), &prompts_);
    EXPECT_EQ(SendMessageW(again.CheckVerify, BM_GETCHECK, 0, 0), BST_CHECKED);
    // Unchecked, it is stored as off.
    Click(again.CheckVerify);
    SendMessageW(again.Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(LoadVerifyAfterCopy(settings));
    TForm1 third(GetModuleHandleW(nullptr), &prompts_);
    EXPECT_EQ(SendMessageW(third.CheckVerify, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

// A long run that ends while another window is active flashes the taskbar button; one that
// ends in the active window does not.
TEST_F(MainWindow, LongRunEndingInTheBackgroundFlashes) {
    prompts_.openAnswers = {{files_.write("src/a.txt", "a")}};
    Click(form_->Button1);
    prompts_.picks = {{true, Folder("out"), false, false, ""}};
    Click(form_->Button3);
    form_->longRun = std::chrono::milliseconds(0);
    HWND other = CreateWindowExW(0, L"Static", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(other);
    ASSERT_EQ(GetForegroundWindow(), other);
    // Not through a click, which would bring the window forward.
    form_->BtnCopyClick();
    EXPECT_TRUE(form_->flashedAtRunEnd);
    DestroyWindow(other);
    SetForegroundWindow(form_->Handle());
    ASSERT_EQ(GetForegroundWindow(), form_->Handle());
    Click(form_->BtnCopy);
    EXPECT_FALSE(form_->flashedAtRunEnd);
    EXPECT_EQ(prompts_.texts("information").size(), 2u);
}

// The Ask policy's question comes on the window's thread, one at a time, and No keeps the
// file.
TEST_F(MainWindow, AskQuestionsComeOnTheWindowsThread) {
    const std::string one = files_.write("src/one.txt", "new1");
    const std::string two = files_.write("src/two.txt", "new2");
    const std::string target = Folder("target");
    files_.write("target/one.txt", "old1");
    files_.write("target/two.txt", "old2");
    prompts_.openAnswers = {{one, two}};
    Click(form_->Button1);
    prompts_.picks = {{true, target, false, false, ""}};
    Click(form_->Button3);
    Click(form_->Rb3);
    prompts_.answers = {true, false};
    Click(form_->BtnCopy);
    const std::vector<std::string> questions = prompts_.texts("question");
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0], OverwriteQuestion(files_.path("target/one.txt")));
    for (DWORD thread : prompts_.questionThreads) EXPECT_EQ(thread, GetCurrentThreadId());
    EXPECT_EQ(ReadFile(files_.path("target/one.txt")), "new1");
    EXPECT_EQ(ReadFile(files_.path("target/two.txt")), "old2");
}

// A run stopped by BtnStop, or by Esc, while the window is held at its second figures: no
// later file starts, the end box says it was stopped, the figures line and the devices view
// showed the first report, and all of them are cleared afterwards.
class StoppedRun : public MainWindow, public testing::WithParamInterface<bool> {};

// The folder of the test's program, with the separator.
std::string OwnFolder() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return Narrow(path.substr(0, path.find_last_of(L'\\') + 1));
}

// The serial number of the volume that holds `folder`; 0 when it cannot be told.
DWORD VolumeSerial(const std::string& folder) {
    wchar_t root[MAX_PATH] = {};
    DWORD serial = 0;
    if (GetVolumePathNameW(Widen(folder).c_str(), root, MAX_PATH))
        GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    return serial;
}

TEST_P(StoppedRun, EndsWithTheStopBoxAndFewerCopies) {
    const bool byEscape = GetParam();
    AddSources(20, 64 * 1024);
    // The second folder beside the test's program, on the drive of the build (under
    // scripts/test-windows another volume than the temporary folder's, so the window shows
    // one row per device).
    const std::string out1 = Folder("out1");
    const std::string out2 = OwnFolder() + "stop-test-" + std::to_string(GetCurrentProcessId()) +
                             (byEscape ? "-esc\\" : "-button\\");
    std::filesystem::remove_all(test::NativePath(out2));
    std::filesystem::create_directory(test::NativePath(out2));
    struct Removed {
        std::string folder;
        ~Removed() { std::filesystem::remove_all(test::NativePath(folder)); }
    } removed{out2};
    const bool twoDevices = VolumeSerial(out1) != VolumeSerial(out2);
    prompts_.picks = {{true, out1, false, false, ""}, {true, out2, false, false, ""}};
    Click(form_->Button3);
    Click(form_->Button3);
    form_->runWriters = 1;
    bool stopShown = false, stopSeen = false, devicesShown = false;
    std::string statusSeen;
    std::atomic<int> reports{0};
    form_->runFiguresHook = [&](const TransferFigures&) {
        // The first report goes on to the window; the next one comes after the engine's
        // interval between reports and is held.
        const int report = ++reports;
        if (report == 1) Sleep(150);
        if (report != 2) return;
        // The user acts while the run's thread waits here.
        stopShown = IsWindowVisible(form_->BtnStop) && IsWindowEnabled(form_->BtnStop);
        if (byEscape) {
            PostMessageW(form_->ListBox1, WM_KEYDOWN, VK_ESCAPE, 0);
        } else {
            PostMessageW(form_->BtnStop, BM_CLICK, 0, 0);
        }
        // A click on another command meanwhile is swallowed.
        PostMessageW(form_->Button6, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        PostMessageW(form_->Button6, WM_LBUTTONUP, 0, 0);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!form_->StopRequested() && std::chrono::steady_clock::now() < end) Sleep(5);
        stopSeen = form_->StopRequested();
        // The figures line shows this report with the run's whole amount, known before it:
        // 20 files of 64 KiB into two folders.
        while ((statusSeen.find(" / 2.5 MB") == std::string::npos ||
                (twoDevices && !devicesShown)) &&
               std::chrono::steady_clock::now() < end) {
            statusSeen = ControlText(form_->StatusLabel);
            devicesShown = IsWindowVisible(form_->DeviceView) &&
                           ListView_GetItemCount(form_->DeviceView) == 2;
            Sleep(5);
        }
    };
    Click(form_->BtnCopy);
    EXPECT_TRUE(stopShown);
    EXPECT_TRUE(stopSeen);
    EXPECT_GE(reports.load(), 2);
    EXPECT_EQ(statusSeen.rfind("已复制 0 个文件，", 0), 0u) << statusSeen;
    EXPECT_NE(statusSeen.find(" / 2.5 MB，"), std::string::npos) << statusSeen;
    EXPECT_EQ(ControlText(form_->StatusLabel), "");
    if (twoDevices) EXPECT_TRUE(devicesShown);
    EXPECT_FALSE(IsWindowVisible(form_->DeviceView));
    EXPECT_EQ(form_->Sources().count(), 20);
    // One end box: the plain one, or the report box when the copy the stop abandoned is
    // listed.
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text.rfind(app::kCopyStopped, 0), 0u) << prompts_.shown[0].text;
    int copies = 0;
    for (const std::string& out : {out1, out2}) {
        for (const auto& entry : std::filesystem::directory_iterator(test::NativePath(out))) {
            ++copies;
            EXPECT_EQ(ReadFile(Narrow(entry.path().wstring())),
                      ReadFile(files_.path("src/" + Narrow(entry.path().filename().wstring()))));
        }
    }
    EXPECT_LT(copies, 2);
    EXPECT_FALSE(IsWindowVisible(form_->BtnStop));
    EXPECT_EQ(SendMessageW(form_->ProgressBar1, PBM_GETPOS, 0, 0), 0);
    EXPECT_FALSE(form_->IsBusy());
}

INSTANTIATE_TEST_SUITE_P(ByButtonAndByEscape, StoppedRun, testing::Bool());

// Failures end in the report box with the whole list; "保存报告…" writes the spreadsheet CSV.
TEST_F(MainWindow, FailuresGoToTheReportBoxAndItsFile) {
    const std::string missing = files_.path("src/missing, file.txt");
    const std::string present = files_.write("src/present.txt", "here");
    const std::string target = Folder("target");
    form_->AddDroppedSources({missing, present});
    prompts_.picks = {{true, target, false, false, ""}};
    Click(form_->Button3);
    const std::string reportFile = files_.path("报告.csv");
    prompts_.fileAnswers = {reportFile};
    prompts_.reportSaves = 1;
    Click(form_->BtnCopy);

    const std::vector<std::string> reports = prompts_.texts("report");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(ReadFile(files_.path("target/present.txt")), "here");
    EXPECT_NE(prompts_.reportDetails.find("missing, file.txt"), std::string::npos)
        << prompts_.reportDetails;
    const std::string bytes = ReadFile(reportFile);
    const std::string head = "\xEF\xBB\xBF路径,原因\r\n";
    ASSERT_EQ(bytes.rfind(head, 0), 0u) << bytes;
    // One line for the one failure: the source's path (the source is what is gone), quoted
    // for its comma, and the system's reason.
    const std::string field = "\"" + missing + "\",";
    ASSERT_EQ(bytes.compare(head.size(), field.size(), field), 0) << bytes;
    const std::string reason = bytes.substr(head.size() + field.size());
    EXPECT_GT(reason.size(), 2u);
    EXPECT_EQ(reason.find_first_of("\r\n"), reason.size() - 2) << bytes;
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    EXPECT_EQ(prompts_.requests.back().proposedName, app::kReportFileName);
}

// --- The emptying's warning and note ----------------------------------------------------------

// BtnEmptyDestFolder is reached with Tab after the policies once it shows, names its command
// in its tool tip, and Enter on it opens its menu.
TEST_F(MainWindow, EmptyingButtonTakesTabAndNamesItsCommand) {
    prompts_.picks = {{true, Folder("target"), false, false, ""}};
    Click(form_->Button3);
    ASSERT_TRUE(IsWindowVisible(form_->BtnEmptyDestFolder));
    SetForegroundWindow(form_->Handle());
    SetFocus(form_->RbRename);
    MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(form_->PreTranslate(tab));
    EXPECT_EQ(GetFocus(), form_->BtnEmptyDestFolder) << GetDlgCtrlID(GetFocus());

    wchar_t text[256] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = form_->TabSheet1;
    tool.uId = reinterpret_cast<UINT_PTR>(form_->BtnEmptyDestFolder);
    tool.lpszText = text;
    SendMessageW(form_->ToolTip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(Narrow(text), app::kEmptyNow);

    menuShown = false;
    SetTimer(nullptr, 0, 30, CloseMenuTimer);
    MSG enter{GetFocus(), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    EXPECT_TRUE(form_->PreTranslate(enter));
    EXPECT_TRUE(menuShown);
    RECT button;
    GetWindowRect(form_->BtnEmptyDestFolder, &button);
    EXPECT_EQ(shownMenu.left, button.left);
    EXPECT_EQ(shownMenu.top, button.bottom);
    EXPECT_TRUE(prompts_.shown.empty());
}

// While CheckBox1 is checked the note beside it says how many destination folders the next
// run empties, following the list; unchecked (or refused) it is hidden.
TEST_F(MainWindow, EmptyingNoteCountsTheDestinationsWhileTheOptionIsOn) {
    EXPECT_FALSE(IsWindowVisible(form_->EmptyingNote));
    EXPECT_EQ(GetDlgCtrlID(form_->EmptyingNote), kIdEmptyingNote);
    EXPECT_EQ(GetParent(form_->EmptyingNote), form_->TabSheet1);
    prompts_.picks = {{true, Folder("one"), false, false, ""},
                      {true, Folder("two"), false, false, ""}};
    Click(form_->Button3);
    Click(form_->Button3);
    prompts_.answers = {false};  // the warning refused: unchecked, no note
    Click(form_->CheckBox1);
    EXPECT_FALSE(IsWindowVisible(form_->EmptyingNote));
    prompts_.answers = {true};
    Click(form_->CheckBox1);
    ASSERT_EQ(SendMessageW(form_->CheckBox1, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(IsWindowVisible(form_->EmptyingNote));
    EXPECT_EQ(ControlText(form_->EmptyingNote), app::EmptyingNoteText(2));

    prompts_.picks = {{true, Folder("three"), false, false, ""}};
    Click(form_->Button3);
    EXPECT_EQ(ControlText(form_->EmptyingNote), app::EmptyingNoteText(3));
    SendMessageW(form_->ListBox2, LB_SETCURSEL, 0, 0);
    Click(form_->Button4);
    EXPECT_EQ(ControlText(form_->EmptyingNote), app::EmptyingNoteText(2));
    Click(form_->Button7);
    EXPECT_EQ(ControlText(form_->EmptyingNote), app::EmptyingNoteText(0));
    EXPECT_TRUE(IsWindowVisible(form_->EmptyingNote));
    Click(form_->CheckBox1);  // unchecked: no question, no note
    EXPECT_FALSE(IsWindowVisible(form_->EmptyingNote));
    EXPECT_EQ(prompts_.texts("warning").size(), 2u);
}

// Every run that empties first asks the warning again; No cancels that run, empties and
// copies nothing, and keeps the option checked.
TEST_F(MainWindow, EveryEmptyingRunAsksAgainAndNoCancelsIt) {
    const std::string source = files_.write("src/a.txt", "A");
    const std::string target = Folder("target");
    files_.write("target/old.txt", "old");
    prompts_.openAnswers = {{source}};
    Click(form_->Button1);
    prompts_.picks = {{true, target, false, false, ""}};
    Click(form_->Button3);
    prompts_.answers = {true};
    Click(form_->CheckBox1);
    prompts_.answers = {true};
    Click(form_->BtnCopy);
    EXPECT_FALSE(Exists(files_.path("target/old.txt")));
    EXPECT_EQ(ReadFile(files_.path("target/a.txt")), "A");
    EXPECT_EQ(prompts_.texts("information"), std::vector<std::string>{app::kCopyDone});

    files_.write("target/later.txt", "added since");
    std::filesystem::remove(test::NativePath(files_.path("target/a.txt")));
    prompts_.answers = {false};
    Click(form_->BtnCopy);
    EXPECT_EQ(ReadFile(files_.path("target/later.txt")), "added since");
    EXPECT_FALSE(Exists(files_.path("target/a.txt")));
    EXPECT_EQ(prompts_.texts("warning"),
              (std::vector<std::string>{app::kEmptyingWarning, app::kEmptyingWarning,
                                        app::kEmptyingWarning}));
    // No end box for the cancelled run; the option and its note stay.
    EXPECT_EQ(prompts_.texts("information").size(), 1u);
    EXPECT_EQ(SendMessageW(form_->CheckBox1, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(IsWindowVisible(form_->EmptyingNote));
    EXPECT_FALSE(form_->IsBusy());
    EXPECT_TRUE(IsWindowEnabled(form_->BtnCopy));
}

// --- The bar, the Ask answers and closing during a run ------------------------------------------

// One file of 8 MiB into one folder: the pairs say 0 until the file is done, so the bar moves
// only by the bytes, report by report; the taskbar button shows the same value. At the end
// box the bar is full, and afterwards back at 0.
TEST_F(MainWindow, BarFollowsTheBytesOfOneLargeFile) {
    constexpr std::uint64_t kSize = 8u << 20;
    prompts_.openAnswers = {{files_.write("src/big.bin", std::string(kSize, 'b'))}};
    Click(form_->Button1);
    prompts_.picks = {{true, Folder("out"), false, false, ""}};
    Click(form_->Button3);
    form_->longRun = std::chrono::milliseconds(0);
    prompts_.barToRead = form_->ProgressBar1;
    std::uint64_t previous = 0;
    int matched = 0, taskbarMatched = 0;
    std::vector<int> bars;
    form_->runFiguresHook = [&](const TransferFigures& figures) {
        // While the run waits here the window shows the report before this one.
        const int expected = static_cast<int>(previous * 100 / kSize);
        if (expected > 0 && expected < 100) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            int bar = 0;
            while ((bar = static_cast<int>(SendMessageW(form_->ProgressBar1, PBM_GETPOS, 0, 0))) !=
                       expected &&
                   std::chrono::steady_clock::now() < end)
                Sleep(5);
            bars.push_back(bar);
            if (bar == expected) ++matched;
            if (form_->TaskbarPercent() == expected) ++taskbarMatched;
        }
        previous = figures.bytesDone;
        // The next report comes after the next piece of the file.
        Sleep(120);
    };
    Click(form_->BtnCopy);
    EXPECT_GE(matched, 2);
    EXPECT_EQ(static_cast<size_t>(matched), bars.size());
    EXPECT_EQ(taskbarMatched, matched);
    EXPECT_TRUE(std::is_sorted(bars.begin(), bars.end()));
    EXPECT_EQ(prompts_.texts("information").size(), 1u);
    EXPECT_EQ(prompts_.barAtBoxes, std::vector<int>{100});
    EXPECT_EQ(SendMessageW(form_->ProgressBar1, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(form_->TaskbarPercent(), -1);
}

// Stopped while the one large file is copied: the bar stays where the stop found it (the
// abandoned copy still ends the run's only pair, which would say 100).
TEST_F(MainWindow, StoppedRunsBarDoesNotJumpToFull) {
    constexpr std::uint64_t kSize = 8u << 20;
    prompts_.openAnswers = {{files_.write("src/big.bin", std::string(kSize, 'b'))}};
    Click(form_->Button1);
    prompts_.picks = {{true, Folder("out"), false, false, ""}};
    Click(form_->Button3);
    prompts_.barToRead = form_->ProgressBar1;
    std::uint64_t previous = 0;
    int barAtStop = -1;
    form_->runFiguresHook = [&](const TransferFigures& figures) {
        const int expected = static_cast<int>(previous * 100 / kSize);
        previous = figures.bytesDone;
        if (barAtStop >= 0 || expected <= 0 || expected >= 100) {
            Sleep(120);
            return;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (SendMessageW(form_->ProgressBar1, PBM_GETPOS, 0, 0) != expected &&
               std::chrono::steady_clock::now() < end)
            Sleep(5);
        PostMessageW(form_->BtnStop, BM_CLICK, 0, 0);
        while (!form_->StopRequested() && std::chrono::steady_clock::now() < end) Sleep(5);
        barAtStop = static_cast<int>(SendMessageW(form_->ProgressBar1, PBM_GETPOS, 0, 0));
    };
    Click(form_->BtnCopy);
    ASSERT_TRUE(form_->StopRequested());
    EXPECT_GT(barAtStop, 0);
    EXPECT_LT(barAtStop, 100);
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text.rfind(app::kCopyStopped, 0), 0u) << prompts_.shown[0].text;
    EXPECT_EQ(prompts_.barAtBoxes, std::vector<int>{barAtStop});
    EXPECT_FALSE(Exists(files_.path("out/big.bin")));
    EXPECT_EQ(SendMessageW(form_->ProgressBar1, PBM_GETPOS, 0, 0), 0);
}

// Four sources, three of them already in the folder. "全部是" answers the rest of the run;
// the next run asks again, and "全部否" keeps every file; "停止" keeps the file asked about
// and starts nothing new.
TEST_F(MainWindow, AskAnswersForTheRestOfTheRunAndStop) {
    std::vector<std::string> sources;
    for (const char* name : {"one", "two", "three", "four"})
        sources.push_back(
            files_.write(std::string("src/") + name + ".txt", std::string("new ") + name));
    const std::string target = Folder("target");
    const auto old = [&] {
        for (const char* name : {"one", "two", "three"})
            files_.write(std::string("target/") + name + ".txt", std::string("old ") + name);
    };
    old();
    prompts_.openAnswers = {sources};
    Click(form_->Button1);
    prompts_.picks = {{true, target, false, false, ""}};
    Click(form_->Button3);
    Click(form_->Rb3);
    const auto read = [&](const char* name) {
        return ReadFile(files_.path(std::string("target/") + name + ".txt"));
    };
    using A = app::OverwriteAnswer;

    prompts_.overwriteAnswers = {A::No, A::YesToAll, A::No, A::No};
    Click(form_->BtnCopy);
    EXPECT_EQ(prompts_.texts("ask"),
              (std::vector<std::string>{OverwriteQuestion(files_.path("target/one.txt")),
                                        OverwriteQuestion(files_.path("target/two.txt"))}));
    EXPECT_EQ(read("one"), "old one");
    EXPECT_EQ(read("two"), "new two");
    EXPECT_EQ(read("three"), "new three");
    EXPECT_EQ(read("four"), "new four");
    // The complete run's box, with the file kept on its tally line.
    ASSERT_EQ(prompts_.texts("information").size(), 1u);
    EXPECT_EQ(prompts_.texts("information")[0].rfind(app::kCopyDone, 0), 0u);

    old();
    prompts_.shown.clear();
    prompts_.overwriteAnswers = {A::NoToAll, A::Yes, A::Yes, A::Yes};
    Click(form_->BtnCopy);
    EXPECT_EQ(prompts_.texts("ask").size(), 1u);
    for (const char* name : {"one", "two", "three"})
        EXPECT_EQ(read(name), std::string("old ") + name);
    EXPECT_EQ(read("four"), "new four");

    std::filesystem::remove(test::NativePath(files_.path("target/four.txt")));
    prompts_.shown.clear();
    prompts_.overwriteAnswers = {A::Stop, A::Yes, A::Yes, A::Yes};
    Click(form_->BtnCopy);
    EXPECT_EQ(prompts_.texts("ask").size(), 1u);
    EXPECT_EQ(read("one"), "old one");
    EXPECT_EQ(read("two"), "old two");
    EXPECT_FALSE(Exists(files_.path("target/four.txt")));
    const std::vector<std::string> ends = prompts_.texts("information");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].rfind(app::kCopyStopped, 0), 0u) << ends[0];
    EXPECT_FALSE(form_->IsBusy());
}

// Closing during a copy run asks first. Yes (the close message here) stops the run and the
// window closes once it has ended, without an end box and without a partial copy; No (Alt+F4
// here) lets the run go on to its end.
class CloseDuringRun : public MainWindow, public testing::WithParamInterface<bool> {};

TEST_P(CloseDuringRun, AsksAndYesStopsThenCloses) {
    const bool yes = GetParam();
    AddSources(20, 64 * 1024);
    const std::string out = Folder("out");
    prompts_.picks = {{true, out, false, false, ""}};
    Click(form_->Button3);
    form_->runWriters = 1;
    prompts_.answers = {yes};
    std::atomic<int> reports{0};
    bool asked = false, stopSeen = false;
    form_->runFiguresHook = [&](const TransferFigures&) {
        const int report = ++reports;
        if (report == 1) Sleep(150);
        if (report != 2) return;
        if (yes) {
            PostMessageW(form_->Handle(), WM_CLOSE, 0, 0);
        } else {
            // Alt+F4 in the focused list.
            PostMessageW(form_->ListBox1, WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29));
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (prompts_.questionCount.load() == 0 && std::chrono::steady_clock::now() < end)
            Sleep(5);
        asked = prompts_.questionCount.load() == 1;
        Sleep(50);
        stopSeen = form_->StopRequested();
    };
    const HWND window = form_->Handle();
    Click(form_->BtnCopy);
    EXPECT_TRUE(asked);
    EXPECT_EQ(prompts_.texts("question"), std::vector<std::string>{app::kCloseDuringRun});
    EXPECT_EQ(stopSeen, yes);
    int copies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(test::NativePath(out))) {
        ++copies;
        EXPECT_EQ(ReadFile(Narrow(entry.path().wstring())),
                  ReadFile(files_.path("src/" + Narrow(entry.path().filename().wstring()))));
    }
    if (yes) {
        EXPECT_LT(copies, 20);
        // No end box: the window goes.
        EXPECT_TRUE(prompts_.texts("information").empty());
        EXPECT_TRUE(prompts_.texts("report").empty());
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }));
    } else {
        EXPECT_EQ(copies, 20);
        EXPECT_EQ(prompts_.texts("information"), std::vector<std::string>{app::kCopyDone});
        // Whatever is queued now is handled: the window stays.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(form_->IsBusy());
    }
}

INSTANTIATE_TEST_SUITE_P(YesAndNo, CloseDuringRun, testing::Bool());

// The run ends while the close question is open: Yes then just closes the window, with every
// copy made and no end box.
TEST_F(MainWindow, RunEndingWhileTheCloseQuestionIsOpenJustCloses) {
    AddSources(5, 1);
    const std::string out = Folder("out");
    prompts_.picks = {{true, out, false, false, ""}};
    Click(form_->Button3);
    form_->runWriters = 1;
    std::atomic<int> reports{0};
    form_->runFiguresHook = [&](const TransferFigures&) {
        if (++reports == 1) PostMessageW(form_->Handle(), WM_CLOSE, 0, 0);
    };
    const auto copies = [&] {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(test::NativePath(out)))
            count += entry.is_regular_file() ? 1 : 0;
        return count;
    };
    // While the question is open the run goes on to its end, its messages handled.
    prompts_.whileQuestionOpen = [&] {
        EXPECT_TRUE(PumpUntil([&] { return copies() == 5; }));
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        PumpUntil([&] { return std::chrono::steady_clock::now() > end; });
    };
    prompts_.answers = {true};
    const HWND window = form_->Handle();
    Click(form_->BtnCopy);
    EXPECT_EQ(prompts_.texts("question"), std::vector<std::string>{app::kCloseDuringRun});
    EXPECT_EQ(copies(), 5);
    EXPECT_TRUE(prompts_.texts("information").empty());
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }));
}

// --- Drops ----------------------------------------------------------------------------------

// A real drop handle as the shell makes it: DROPFILES with wide names, each ended by a null,
// and one more null at the end.
HDROP MakeDrop(const std::vector<std::string>& paths) {
    std::wstring names;
    for (const std::string& path : paths) names += Widen(path) + L'\0';
    names += L'\0';
    const size_t size = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, size);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(),
           names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

TEST_F(MainWindow, DropsJoinTheirListsByTheDropRules) {
    const std::string file = files_.write("dropped.txt", "x");
    const std::string folder = Folder("drop/sub");
    const std::string top = files_.path("drop") + "\\";
    // Sources take what was dropped, in order and as it is.
    PostMessageW(form_->ListBox1, WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({file, files_.path("drop")})), 0);
    ASSERT_TRUE(PumpUntil([&] { return form_->Sources().count() == 2; }));
    EXPECT_EQ(ListTexts(form_->ListBox1), (std::vector<std::string>{file, files_.path("drop")}));
    // The whole drive is refused, once for each time it was dropped.
    PostMessageW(form_->ListBox1, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({"C:\\", "C:\\"})),
                 0);
    ASSERT_TRUE(PumpUntil([&] { return prompts_.texts("information").size() == 2; }));
    EXPECT_EQ(form_->Sources().count(), 2);
    // Destinations: one question for the drop; Yes takes each folder with its subfolders,
    // a file is passed over, and the emptying button shows.
    prompts_.answers = {true};
    PostMessageW(form_->ListBox2, WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({file, files_.path("drop")})), 0);
    ASSERT_TRUE(PumpUntil([&] { return form_->Destinations().count() == 2; }));
    EXPECT_EQ(ListTexts(form_->ListBox2), (std::vector<std::string>{top, folder}));
    EXPECT_EQ(prompts_.texts("question"), std::vector<std::string>{app::kAddSubfoldersQuestion});
    EXPECT_TRUE(IsWindowVisible(form_->BtnEmptyDestFolder));
}

}  // namespace
}  // namespace ostrivane::win
