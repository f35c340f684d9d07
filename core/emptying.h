// Emptying of destination folders.
#pragma once

#include <string>
#include <vector>

#include "core/copy_run.h"
#include "core/path_list.h"

namespace ostrivane {

// Deletes everything below `path` that may be deleted and removes emptied subfolders, but
// never removes a folder that is itself in `destinations` (looked up with the trailing
// separator). `path` itself is removed too unless it is listed or is a symbolic link (then
// only what it points to is emptied). Links below `path` are removed as links, never
// followed; a link whose path is a listed destination is left alone.
// Every entry still present afterwards, and every folder that could not be removed for
// another reason than being listed or still holding such entries, is appended to
// *failures when given, except inside a subfolder that is listed itself (in either form):
// that destination's own emptying records them, so that a caller emptying every listed
// destination records each path once. Raises nothing.
void EmptyFolder(const std::string& path, const PathList& destinations,
                 std::vector<Failure>* failures = nullptr);

}  // namespace ostrivane
