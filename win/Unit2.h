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

#include "app/picker.h"

namespace ostrivane::win {

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

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace ostrivane::win
