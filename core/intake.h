// The rules by which a path that the user names joins the source or the destination list,
// shared by the front ends (the window's commands, the command line): which paths are
// taken, in which form, and which are refused.
#pragma once

#include <functional>
#include <string>

#include "core/path_list.h"

namespace ostrivane {

// What became of one named path.
enum class IntakeOutcome {
    Added,          // the path (in the form the list keeps) was appended
    AlreadyListed,  // it was there already; the list is unchanged
    RootRefused,    // it names the whole file system; the list is unchanged
    Missing,        // it names nothing (or, for a destination, no folder)
};

// True when a copy run must not take the path as a source or a destination because it
// names the whole file system: spelled as a drive root (IsDriveRoot) or leading there in
// any other spelling or through a link (IsFileSystemRoot).
bool IsWholeFileSystem(const std::string& path);

// A source named by the user. A folder (a link to a folder counts) is kept with the
// trailing separator, as the window's add-folder command keeps it, and is refused when it
// is the whole file system; any other existing entry (a file) is kept exactly as named.
// The path is added only when absent. Nothing is added for a path that names nothing.
IntakeOutcome AddNamedSource(const std::string& path, PathList& sources);

// How far below a named destination folder the list reaches.
struct DestinationReach {
    bool allSubfolders = false;  // the folder and every folder below it (IndexDisk)
    int depth = 0;               // otherwise the folder and `depth` levels below it
                                 // (IndexDisk2: 0 the folder alone, negative nothing)
};

// A destination folder named by the user: it must name an existing folder other than the
// whole file system; it is kept with the trailing separator and added when absent, with the
// folders below it as `reach` says (discovery order, each added when absent). `repaint`
// runs after each visited folder. Returns Added when the walk added at least one folder,
// AlreadyListed when it added none (everything was listed, or a negative depth), and
// RootRefused or Missing (a file, a missing path) with the list unchanged.
IntakeOutcome AddNamedDestination(const std::string& path, const DestinationReach& reach,
                                  PathList& destinations,
                                  const std::function<void()>& repaint = {});

}  // namespace ostrivane
