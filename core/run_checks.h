// Checks a copy run makes before it changes anything.
#pragma once

#include <atomic>

#include "core/path_list.h"

namespace ostrivane {

// Walks the tree of every source that is a folder, in list order, as the copy of it would
// walk it (links to folders not followed, a folder met again below itself not walked
// twice, a folder that can be entered but not listed passed over), listing each folder once
// and copying nothing. Raises the EInOutError the copy would raise for the first folder
// that cannot be entered, with `path` naming that folder as the copy names it (the source
// as listed, or below it). Sources that are no folder, and the whole file system (which the
// run refuses), are not walked. Once `stop` is set (by another thread), returns without
// walking further. Memory grows with the depth of a tree by its listings alone: the path
// shown is one string that grows and shrinks with the walk.
void CheckSourcesCanBeEntered(const PathList& sources, const std::atomic<bool>* stop = nullptr);

}  // namespace ostrivane
