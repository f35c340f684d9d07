// The real dialogs of the Windows window, shown and answered by a timer of the test's thread
// while they wait, as a user would: the caption, the text and the buttons of the message
// boxes, and the report box's details and "保存报告…".
// windows.h before the headers that build on it.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/texts.h"
#include "win/Prompts.h"
#include "win/WideText.h"
#include "win/resource.h"

namespace ostrivane::win {
namespace {

// What the timer saw of the box it answered.
struct SeenBox {
    std::string caption, text;
    bool defaultIsNo = false;
};

std::string TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)), L'\0');
    GetWindowTextW(window, text.data(), static_cast<int>(text.size()) + 1);
    return Narrow(text);
}

// The dialog box the thread shows now, if any.
HWND OpenBox() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM result) {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Runs `answer` on the open box once one is shown (from a timer of this thread).
std::function<void(HWND)>* pendingAnswer = nullptr;

void CALLBACK AnswerTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    const HWND box = OpenBox();
    if (!box || !pendingAnswer) return;
    KillTimer(nullptr, timer);
    auto answer = *pendingAnswer;
    pendingAnswer = nullptr;
    answer(box);
}

void AnswerNextBox(std::function<void(HWND)>& answer) {
    pendingAnswer = &answer;
    SetTimer(nullptr, 0, 50, AnswerTimer);
}

bool IsDefault(HWND button) {
    return (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

// The static control of a message box that holds its text.
std::string MessageTextOf(HWND box) {
    const HWND text = GetDlgItem(box, 0xFFFF);
    return text ? TextOf(text) : std::string();
}

TEST(RealDialogs, MessageBoxesCarryTheTitleAndTheirButtons) {
    DialogPrompts prompts;
    SeenBox seen;
    std::function<void(HWND)> pressNo = [&](HWND box) {
        seen.caption = TextOf(box);
        seen.text = MessageTextOf(box);
        seen.defaultIsNo = IsDefault(GetDlgItem(box, IDNO));
        SendMessageW(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    };
    AnswerNextBox(pressNo);
    EXPECT_FALSE(prompts.warning(app::kEmptyingWarning));
    EXPECT_EQ(seen.caption, app::kApplicationTitle);
    EXPECT_EQ(seen.text, app::kEmptyingWarning);
    // The warning's default button is No: Enter never deletes.
    EXPECT_TRUE(seen.defaultIsNo);

    std::function<void(HWND)> pressYes = [&](HWND box) {
        seen.caption = TextOf(box);
        seen.defaultIsNo = IsDefault(GetDlgItem(box, IDNO));
        SendMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
    };
    AnswerNextBox(pressYes);
    EXPECT_TRUE(prompts.question(app::kAddSubfoldersQuestion));
    EXPECT_EQ(seen.caption, app::kApplicationTitle);
    EXPECT_FALSE(seen.defaultIsNo);
}

TEST(RealDialogs, ReportBoxShowsTheDetailsAndSavesUntilOk) {
    DialogPrompts prompts;
    int saves = 0;
    std::string caption, details, saveCaption;
    std::function<void(HWND)> saveTwiceThenOk = [&](HWND box) {
        caption = TextOf(box);
        details = TextOf(GetDlgItem(box, IDC_REPORT_DETAILS));
        saveCaption = TextOf(GetDlgItem(box, IDC_REPORT_SAVE));
        SendMessageW(GetDlgItem(box, IDC_REPORT_SAVE), BM_CLICK, 0, 0);
        SendMessageW(GetDlgItem(box, IDC_REPORT_SAVE), BM_CLICK, 0, 0);
        EXPECT_TRUE(IsWindow(box));  // still open after saving
        SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    };
    AnswerNextBox(saveTwiceThenOk);
    prompts.report("复制工作完成！", "C:\\a.txt: 拒绝访问。\nC:\\b.txt: 拒绝访问。",
                   [&] { ++saves; });
    EXPECT_EQ(caption, app::kApplicationTitle);
    // The details area holds every line, each ended for the edit control.
    EXPECT_EQ(details, "C:\\a.txt: 拒绝访问。\r\nC:\\b.txt: 拒绝访问。");
    EXPECT_EQ(saveCaption, app::kSaveReport);
    EXPECT_EQ(saves, 2);
}

// The Ask box: its five answers in Chinese with Yes the default, one width for a short and a
// long question, each answer returned as itself, Esc as Stop.
TEST(RealDialogs, AskBoxOffersTheAnswersForTheRestOfTheRun) {
    DialogPrompts prompts;
    struct Seen {
        std::string caption, text;
        std::vector<std::string> buttons;
        bool yesIsDefault = false;
        int width = 0;
    };
    std::vector<Seen> seen;
    const auto look = [&](HWND box) {
        Seen now;
        now.caption = TextOf(box);
        now.text = TextOf(GetDlgItem(box, IDC_ASK_TEXT));
        for (int id : {IDYES, IDNO, IDC_ASK_YES_TO_ALL, IDC_ASK_NO_TO_ALL, IDCANCEL})
            now.buttons.push_back(TextOf(GetDlgItem(box, id)));
        now.yesIsDefault = IsDefault(GetDlgItem(box, IDYES));
        RECT frame;
        GetWindowRect(box, &frame);
        now.width = frame.right - frame.left;
        seen.push_back(now);
    };
    const std::string shortQuestion = "C:\\a.txt 已存在，要替换吗？";
    const std::string longQuestion = "C:\\" + std::string(40, 'x') + "\\" + std::string(60, 'y') +
                                     "\\很长的文件名.txt 已存在，要替换吗？";
    std::function<void(HWND)> yesToAll = [&](HWND box) {
        look(box);
        SendMessageW(GetDlgItem(box, IDC_ASK_YES_TO_ALL), BM_CLICK, 0, 0);
    };
    AnswerNextBox(yesToAll);
    EXPECT_EQ(prompts.askOverwrite(shortQuestion), app::OverwriteAnswer::YesToAll);
    std::function<void(HWND)> noToAll = [&](HWND box) {
        look(box);
        SendMessageW(GetDlgItem(box, IDC_ASK_NO_TO_ALL), BM_CLICK, 0, 0);
    };
    AnswerNextBox(noToAll);
    EXPECT_EQ(prompts.askOverwrite(longQuestion), app::OverwriteAnswer::NoToAll);
    std::function<void(HWND)> no = [&](HWND box) {
        SendMessageW(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    };
    AnswerNextBox(no);
    EXPECT_EQ(prompts.askOverwrite(shortQuestion), app::OverwriteAnswer::No);
    // Esc, as the dialog's own loop takes it from its focused button (named here: the focus
    // is the desktop's, and another window may hold it).
    std::function<void(HWND)> escape = [&](HWND box) {
        PostMessageW(GetDlgItem(box, IDYES), WM_KEYDOWN, VK_ESCAPE, 0);
    };
    AnswerNextBox(escape);
    EXPECT_EQ(prompts.askOverwrite(shortQuestion), app::OverwriteAnswer::Stop);

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, app::kApplicationTitle);
    EXPECT_EQ(seen[0].text, shortQuestion);
    EXPECT_EQ(seen[1].text, longQuestion);
    EXPECT_EQ(seen[0].buttons, (std::vector<std::string>{app::kYes, app::kNo, app::kYesToAll,
                                                         app::kNoToAll, app::kStop}));
    EXPECT_TRUE(seen[0].yesIsDefault);
    EXPECT_GT(seen[0].width, 0);
    EXPECT_EQ(seen[0].width, seen[1].width);
}

}  // namespace
}  // namespace ostrivane::win
