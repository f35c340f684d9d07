// Recursive copy of one folder tree under a same-name policy.
#pragma once

#include <string>
#include <vector>

#include "core/copy_run.h"
#include "core/fsops.h"

namespace ostrivane {

// Sorts a search entry: 2 for "." or "..", 1 for a real subfolder (folder bit set), 0 for a
// file.
int ClassifyEntry(const SearchEntry& entry);

// Copies the folder `source` (may end with the separator) to the folder `target` (never
// ends with one), depth-first and in pre-order, creating folders as needed and copying
// every file under `mode`. Failed copies and folder creations are appended to *failures
// when given, and the walk goes on. A folder that cannot be entered raises EInOutError.
// The walk never enters the target root of this copy, nor a folder already on its own path
// (a link back to an ancestor), which is recorded as a failure.
void CopyFolderTree(const std::string& source, const std::string& target, SameFilePolicy mode,
                    const AskYesNo& askYesNo, std::vector<Failure>* failures = nullptr);

}  // namespace ostrivane
