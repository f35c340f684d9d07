// Filling the destination list with a folder and the folders below it.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "core/path_list.h"

namespace ostrivane {

// The order in which a walk takes a folder's subfolders: by name, ASCII letters compared as
// capitals, every other byte as it is (the order in which NTFS lists a folder, for the names
// people give folders), so that "一班, 二班, 三班" or "a, B, c" come out the same on every
// file system; names that differ only in ASCII case keep their byte order.
bool SubfolderNameBefore(const std::string& a, const std::string& b);

// Adds `path` (ending with the separator) and every folder below it to `destinations`
// (add-if-absent, pre-order, siblings in the order of SubfolderNameBefore; hidden folders
// included, system entries not). `repaint` runs after each visited folder. A link inside the tree leads out
// of it and is neither added nor entered (`path` itself may be a link: the user chose it);
// every subfolder is opened relative to its parent, so depth is bounded neither by the
// path length nor by the open-file limit. A folder that cannot be listed contributes no
// subfolders. Raises nothing.
void IndexDisk(const std::string& path, PathList& destinations,
               const std::function<void()>& repaint = {});

// As IndexDisk, down to `depth` levels below `path`: depth 0 adds the folder alone, a
// negative depth adds nothing and does not repaint.
void IndexDisk2(const std::string& path, int depth, PathList& destinations,
                const std::function<void()>& repaint = {});

// IndexDisk and IndexDisk2 that end early once `stop` (when not null) is set, by this or
// another thread: no further folder is added or entered; the folders added so far stay.
void IndexDisk(const std::string& path, PathList& destinations,
               const std::function<void()>& repaint, const std::atomic<bool>* stop);
void IndexDisk2(const std::string& path, int depth, PathList& destinations,
                const std::function<void()>& repaint, const std::atomic<bool>* stop);

}  // namespace ostrivane
