// Drops through a real drop handle, built as the shell builds one (DROPFILES and the wide
// names after it), handed to a list box as the shell hands it over.
// windows.h before the headers that build on it.
#include <windows.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "win/FileDrops.h"
#include "win/WideText.h"

namespace ostrivane::win {
namespace {

// A drop handle holding `names` in order; the receiver releases it with DragFinish.
HDROP MakeDrop(const std::vector<std::wstring>& names) {
    size_t characters = 2;  // the empty name that ends the list, and one more as the shell writes
    for (const auto& name : names) characters += name.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
    for (const auto& name : names) {
        std::copy(name.begin(), name.end(), out);
        out += name.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// Delivers whatever the thread has been posted.
void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

const std::vector<std::wstring> kNames = {L"D:\\照片\\2024 假期", L"C:\\a.txt", L"C:\\",
                                          // Longer than MAX_PATH: a name is read whole.
                                          L"\\\\?\\D:\\" + std::wstring(300, L'长') + L"\\x"};

TEST(FileDrops, PathsInDropOrderAsUtf8) {
    HDROP drop = MakeDrop(kNames);
    const std::vector<std::string> paths = DroppedPaths(drop);
    DragFinish(drop);
    ASSERT_EQ(paths.size(), kNames.size());
    for (size_t i = 0; i < kNames.size(); ++i) EXPECT_EQ(paths[i], Narrow(kNames[i])) << i;
    EXPECT_EQ(paths[0], "D:\\\xE7\x85\xA7\xE7\x89\x87\\2024 \xE5\x81\x87\xE6\x9C\x9F");
}

TEST(FileDrops, ListBoxHandsEachDropOverFromTheMessageLoopAndWorksAsBefore) {
    HWND list = CreateWindowExW(0, L"ListBox", L"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(list, nullptr);
    std::vector<std::vector<std::string>> drops;
    AcceptFileDrops(list,
                    [&](std::vector<std::string> paths) { drops.push_back(std::move(paths)); });
    EXPECT_TRUE(GetWindowLongW(list, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

    SendMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(kNames)), 0);
    // Not while the shell waits for the message to return: from the loop afterwards.
    EXPECT_TRUE(drops.empty());
    SendMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({L"C:\\b"})), 0);
    SendMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({})), 0);
    Pump();
    ASSERT_EQ(drops.size(), 2u);  // the empty drop calls nothing
    EXPECT_EQ(drops[0].size(), kNames.size());
    EXPECT_EQ(drops[0][2], "C:\\");
    EXPECT_EQ(drops[1], std::vector<std::string>{"C:\\b"});

    // The list box's own messages reach it unchanged.
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"条目"));
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);

    // A drop still waiting when the list box goes is dropped with it.
    SendMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({L"C:\\c"})), 0);
    DestroyWindow(list);
    Pump();
    EXPECT_EQ(drops.size(), 2u);
}

}  // namespace
}  // namespace ostrivane::win
