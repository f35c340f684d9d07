// The picker shown for real under the test's message loop: a timer of the thread drives it
// while Pick waits, as a user would, and its answer goes through the add command.
// windows.h before the headers that build on it.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/picker.h"
#include "app/texts.h"
#include "core/path_list.h"
#include "win/Unit2.h"
#include "win/WideText.h"

namespace ostrivane::win {
namespace {

namespace fs = std::filesystem;

// A fresh folder with a Chinese name in the temporary folder, removed at the end.
class TempFolder {
  public:
    TempFolder() {
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        root_ = fs::path(temp) / (L"选择器测试-" + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string Make(const std::wstring& relative) const {
        fs::create_directories(root_ / relative);
        return Path(relative);
    }
    std::string Path(const std::wstring& relative = {}) const {
        return Narrow((relative.empty() ? root_ : root_ / relative).wstring());
    }

  private:
    fs::path root_;
};

// Runs `script` with the shown dialog once Pick's loop has started; the script closes it.
app::PickedFolder PickWith(TForm2& picker, std::function<void(HWND)> script) {
    static std::function<void(HWND)> pending;
    static TForm2* current = nullptr;
    pending = std::move(script);
    current = &picker;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        HWND dialog = current->Handle();
        if (!dialog) return;
        auto run = std::move(pending);
        pending = nullptr;
        run(dialog);
    });
    EXPECT_NE(timer, 0u);
    return picker.Pick(nullptr);
}

bool Checked(HWND dialog, int id) {
    return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Click(HWND dialog, int id) {
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// The names of the children of the tree's selected item, opened first.
std::vector<std::string> SelectedChildren(HWND dialog) {
    HWND tree = GetDlgItem(dialog, kIdShellTreeView1);
    HTREEITEM selected = TreeView_GetSelection(tree);
    TreeView_Expand(tree, selected, TVE_EXPAND);
    std::vector<std::string> names;
    for (HTREEITEM child = TreeView_GetChild(tree, selected); child;
         child = TreeView_GetNextSibling(tree, child)) {
        wchar_t text[MAX_PATH + 1] = {};
        TVITEMW item{};
        item.mask = TVIF_TEXT;
        item.hItem = child;
        item.pszText = text;
        item.cchTextMax = MAX_PATH + 1;
        TreeView_GetItem(tree, &item);
        names.push_back(Narrow(text));
    }
    return names;
}

TEST(Picker, DepthOptionTreeOrderAndStateCarryOverIntoTheAddCommand) {
    TempFolder temp;
    const std::string top = temp.Make(L"上层");
    temp.Make(L"上层\\b\\deep");
    temp.Make(L"上层\\A");
    temp.Make(L"上层\\C");
    TForm2 picker(GetModuleHandleW(nullptr));

    bool scripted = false;
    const app::PickedFolder pick = PickWith(picker, [&](HWND dialog) {
        scripted = true;
        // Start: neither option, depth box disabled.
        EXPECT_FALSE(Checked(dialog, kIdCheckBox1));
        EXPECT_FALSE(Checked(dialog, kIdCheckBox2));
        HWND depth = GetDlgItem(dialog, kIdComboBox1);
        EXPECT_FALSE(IsWindowEnabled(depth));
        EXPECT_TRUE(picker.SelectFolder(top));
        EXPECT_EQ(picker.SelectedFolder(), top);
        // Folders by name whatever their case ("C" after "b"), which ordinal order is not.
        EXPECT_EQ(SelectedChildren(dialog), (std::vector<std::string>{"A", "b", "C"}));
        // Checking and unchecking "all subfolders" leaves the depth option checked.
        Click(dialog, kIdCheckBox1);
        EXPECT_TRUE(Checked(dialog, kIdCheckBox1));
        EXPECT_FALSE(Checked(dialog, kIdCheckBox2));
        EXPECT_FALSE(IsWindowEnabled(depth));
        Click(dialog, kIdCheckBox1);
        EXPECT_FALSE(Checked(dialog, kIdCheckBox1));
        EXPECT_TRUE(Checked(dialog, kIdCheckBox2));
        EXPECT_TRUE(IsWindowEnabled(depth));
        // Typed into the depth box: the letter and the sign are discarded.
        SetWindowTextW(depth, L"");
        COMBOBOXINFO parts{};
        parts.cbSize = sizeof parts;
        ASSERT_TRUE(GetComboBoxInfo(depth, &parts));
        for (const wchar_t c : {L'x', L'-', L'1', L' '})
            SendMessageW(parts.hwndItem, WM_CHAR, c, 0);
        Click(dialog, kIdBitBtn1);
    });
    ASSERT_TRUE(scripted);
    EXPECT_TRUE(pick.accepted);
    EXPECT_EQ(pick.folder, top);
    EXPECT_FALSE(pick.allSubfolders);
    EXPECT_TRUE(pick.limitedDepth);
    EXPECT_EQ(pick.depthText, "1");
    EXPECT_EQ(picker.Handle(), nullptr);

    PathList destinations;
    PathList scratch;
    ASSERT_TRUE(app::AddPickedFolder(pick, destinations, scratch));
    // The folder and one level below it, in the order of the walk; "deep" is two levels down.
    std::vector<std::string> listed = destinations.entries();
    std::sort(listed.begin() + 1, listed.end());
    EXPECT_EQ(listed,
              (std::vector<std::string>{top + "\\", top + "\\A\\", top + "\\C\\", top + "\\b\\"}));

    // The next use: the options and the selection are as they were left, a folder deleted
    // meanwhile is gone from the tree; Cancel answers "not accepted".
    fs::remove(fs::path(Widen(temp.Path(L"上层\\C"))));
    scripted = false;
    const app::PickedFolder again = PickWith(picker, [&](HWND dialog) {
        scripted = true;
        EXPECT_TRUE(Checked(dialog, kIdCheckBox2));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kIdComboBox1)));
        EXPECT_EQ(picker.SelectedFolder(), top);
        EXPECT_EQ(SelectedChildren(dialog), (std::vector<std::string>{"A", "b"}));
        Click(dialog, kIdBitBtn2);
    });
    ASSERT_TRUE(scripted);
    EXPECT_FALSE(again.accepted);
    EXPECT_FALSE(app::AddPickedFolder(again, destinations, scratch));
    EXPECT_EQ(destinations.entries().size(), 4u);
}

TEST(Picker, DriveRootIsAnsweredButRefusedByTheAddCommand) {
    TForm2 picker(GetModuleHandleW(nullptr));
    const app::PickedFolder pick = PickWith(picker, [&](HWND dialog) {
        EXPECT_TRUE(picker.SelectFolder("C:\\"));
        Click(dialog, kIdCheckBox1);
        Click(dialog, kIdBitBtn1);
    });
    EXPECT_TRUE(pick.accepted);
    EXPECT_EQ(pick.folder, "C:\\");
    EXPECT_TRUE(pick.allSubfolders);
    EXPECT_FALSE(app::IsAddablePick(pick));
    EXPECT_STREQ(app::PickRefusalText(pick), app::kDriveRootRefused);
    PathList destinations;
    PathList scratch;
    EXPECT_FALSE(app::AddPickedFolder(pick, destinations, scratch));
    EXPECT_TRUE(destinations.entries().empty());
}

}  // namespace
}  // namespace ostrivane::win
