// Checks a copy run makes before it changes anything.
#pragma once

#include <atomic>
#include <cstdint>

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

// What the sources hold for one destination: their files and bytes as a copy meets them.
struct SourceAmount {
    std::uint64_t files = 0, bytes = 0;
    bool complete = false;  // every source was counted (no cancel came first)
};

// Counts the files and bytes of every source: a file source as itself, a folder source as
// its whole tree walked as the copy walks it (links to folders not followed, a folder met
// again below itself not counted twice, a folder that cannot be entered or listed counted
// as empty, links to files followed). The whole file system, which the run refuses, and
// what is not there count nothing. Once `cancel` is set (by another thread) it returns
// what it has, not complete.
SourceAmount CountSources(const PathList& sources, const std::atomic<bool>* cancel);

}  // namespace ostrivane
