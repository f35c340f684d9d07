// Recursive copy of one folder tree under a same-name policy.
#pragma once

#include <functional>
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
// when given, and the walk goes on. A folder that exists but cannot be entered raises
// EInOutError; a subfolder that vanished or was swapped for a link between the listing and
// the opening is recorded and the walk goes on. Every subfolder, on both sides, is opened
// relative to its parent and never through a link, so the walk stays inside the source
// tree and the copies inside the target tree whatever is swapped meanwhile, and depth is
// bounded neither by the path length nor by the open-file limit. A link to a folder inside
// the source leads out of the tree that was chosen: it is recorded, not entered (a link to
// a file is copied as the file it leads to). The walk never enters the target root of this
// copy (a target inside its source), nor a folder already on its own path.
// With `run`, the walk starts nothing new once the stop request is set, and its copies into
// the destination of index `destinationIndex` are controlled and counted by it.
void CopyFolderTree(const std::string& source, const std::string& target, SameFilePolicy mode,
                    const AskYesNo& askYesNo, std::vector<Failure>* failures = nullptr,
                    RunControl* run = nullptr, int destinationIndex = 0);

// As CopyFolderTree, into the subfolder `name` of the open folder `destination` (shown as
// `destinationPath`, which ends with the separator): the copy run holds each destination
// open, so that the folder it checked is the one it writes into.
void CopyFolderTreeInto(const std::string& source, const Folder& destination,
                        const std::string& destinationPath, const std::string& name,
                        SameFilePolicy mode, const AskYesNo& askYesNo,
                        std::vector<Failure>* failures = nullptr, RunControl* run = nullptr,
                        int destinationIndex = 0);

// Walks the folder `source` as a copy of it would, listing each folder once and copying
// nothing, and tells whether copies of it can be made by several writers at once with the
// outcome of one: true when every folder below it (links not followed) can be entered and
// listed, so that no copy of it ends the run halfway, and none is a folder for which
// `isDestination` is true (a destination inside the source, perhaps through another mount
// of its file system). Also true for a source that is no folder. Raises nothing.
bool SourceTreeIsPlain(const std::string& source,
                       const std::function<bool(const FileIdentity&)>& isDestination);

}  // namespace ostrivane
