// The destination picker's add command, without its dialog: what the picker was closed with
// and how that answer becomes entries of the destination list. The Qt picker (ui/Unit2) and
// the Win32 picker both fill a PickedFolder and hand it here.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "core/path_list.h"

namespace ostrivane::app {

// What the picker was closed with: the answer and the options the add command reads.
struct PickedFolder {
    bool accepted = false;  // OK (anything else: Cancel, Esc, the close box)
    std::string folder;     // selected folder's path in file-name bytes; empty without selection
    bool allSubfolders = false;  // CheckBox1
    bool limitedDepth = false;   // CheckBox2
    std::string depthText;       // text of the depth box
};

// The text the window shows instead of adding `pick`, or nullptr: kDriveRootRefused when the
// pick was confirmed and names the whole file system, in any spelling or through a link
// (the tree shows the root as its top row; neither it nor its subfolder walk is taken).
const char* PickRefusalText(const PickedFolder& pick);

// True when the add command goes on with `pick`: it was confirmed and names an existing
// folder other than the file-system root. Otherwise nothing is added (the window says why
// for the root, PickRefusalText, and ends silently for the rest).
bool IsAddablePick(const PickedFolder& pick);

// The add command's work after the checks: clears `scratch`, then adds the picked folder
// (with the trailing separator) to `destinations` with all its subfolders, with its
// subfolders down to the depth given by pick.depthText, or alone; each folder only when the
// list does not name it yet, in any spelling (core/intake.h).
// `repaint` runs after each folder a walk visits. Returns false, changing nothing, when
// IsAddablePick(pick) is false; true otherwise, also when nothing new was added. Raises
// EConvertError "'<text>' is not a valid integer value" for a depth text that is no signed
// 32-bit number; nothing is added to `destinations` then. The caller owns the busy cursor.
// A walk ends early once `stop` (when given) is set; the folders added so far stay.
bool AddPickedFolder(const PickedFolder& pick, PathList& destinations, PathList& scratch,
                     const std::function<void()>& repaint = {},
                     const std::atomic<bool>* stop = nullptr);

}  // namespace ostrivane::app
