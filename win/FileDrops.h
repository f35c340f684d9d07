// Drops of files and folders from the shell onto a list box of the Windows window.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

namespace ostrivane::win {

// The paths a drop carries, in the drop's order, as UTF-8. Each name is read whole, at any
// length. Does not release `drop`.
std::vector<std::string> DroppedPaths(HDROP drop);

// Makes the list box `target` take drops of files and folders (DragAcceptFiles, its window
// procedure subclassed for WM_DROPFILES); each drop's paths go to `onDrop` after DragFinish,
// posted so the shell is not kept waiting while the handler asks questions or walks folders.
// Every other message reaches the list box as before. A drop without names calls nothing.
// The subclass and `onDrop` go with the list box when it is destroyed.
void AcceptFileDrops(HWND target, std::function<void(std::vector<std::string>)> onDrop);

}  // namespace ostrivane::win
