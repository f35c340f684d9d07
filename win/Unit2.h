// The destination folder picker of the Windows window: a modal dialog (window class "TForm2")
// with a tree of the drives and their folders and the options that say how much of the tree
// below the chosen folder becomes destinations. What the add command does with the answer is
// app::AddPickedFolder, shared with the Linux window.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <string>

#include "app/picker.h"

namespace ostrivane::win {

// Control ids of the picker's controls (GetDlgCtrlID), under their design names. OK and
// Cancel carry the standard ids, so that Enter and Esc reach them.
inline constexpr int kIdShellTreeView1 = 2001;  // the folder tree
inline constexpr int kIdCheckBox1 = 2002;       // with all subfolders
inline constexpr int kIdCheckBox2 = 2003;       // with subfolders down to the depth
inline constexpr int kIdComboBox1 = 2004;       // the depth box
inline constexpr int kIdLabel1 = 2005;
inline constexpr int kIdBitBtn1 = IDOK;
inline constexpr int kIdBitBtn2 = IDCANCEL;

class TForm2 {
  public:
    explicit TForm2(HINSTANCE instance);
    ~TForm2();
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    // Shows the picker modally over `owner` (disabled meanwhile) and returns once it is
    // closed: accepted for OK, not for Cancel, Esc or the close box. The tree's expansion and
    // selection and the two options with the depth box keep their state between uses; the
    // tree is read again from the disk at every show, folders that are gone disappear.
    app::PickedFolder Pick(HWND owner);

    // The dialog while it is shown (tests drive it from a timer or another thread), else
    // nullptr.
    HWND Handle() const;

    // Selects the folder `path` (UTF-8) in the tree, opening the folders above it; clears the
    // selection and returns false when the tree does not show it (no such folder, a hidden
    // one). Meant for while the dialog is shown; the selection is what OK answers.
    bool SelectFolder(const std::string& path);
    // The selected folder's full path (a drive root ends with "\"); empty without selection.
    std::string SelectedFolder() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace ostrivane::win
