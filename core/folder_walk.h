// The chain of open folders a depth-first walk holds, from its start folder down to the
// folder it is in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/fsops.h"

namespace ostrivane {

// Each folder of the chain was opened relative to its parent and never through a link, so
// what the walk touches lies below the start folder however the tree changes meanwhile.
// Only the deepest `maxOpen` folders stay open: a tree deeper than the open-file limit
// still walks, and an ancestor closed on the way down is reopened from its child on the way
// back and must then be the same folder. Paths are never used, so depth is not bounded by
// the platform's path length either.
class FolderChain {
  public:
    // `maxOpen` 0 takes a share of the process's open-file limit (an eighth, at most
    // kDefaultMaxOpen), so that a walk that holds two chains and copies files still has
    // descriptors to spare.
    explicit FolderChain(std::size_t maxOpen = 0);

    // Starts the chain at the open folder `top` (any previous chain is dropped).
    void start(Folder top);
    // Enters the subfolder `name` of the current folder; `listedInode` as for
    // OpenSubfolder. 0 or the error number; on error the chain is unchanged.
    int enter(const std::string& name, std::uint64_t listedInode = 0);
    // Goes back to the parent of the current folder. 0, or error::kChangedMeanwhile's number
    // when a closed ancestor could not be reopened as the same folder (the tree was moved
    // during the walk); the walk must then stop, since the chain is gone.
    int leave();

    const Folder& current() const { return levels_.back(); }
    // 0 at the start folder.
    std::size_t depth() const { return levels_.empty() ? 0 : levels_.size() - 1; }
    // True when the current folder is also one of its own ancestors (a loop through a
    // mount that shows a folder again below itself).
    bool currentIsAncestor() const;

    static constexpr std::size_t kDefaultMaxOpen = 48;

  private:
    std::vector<Folder> levels_;  // a closed ancestor keeps its identity
    std::size_t maxOpen_;
    std::size_t firstOpen_ = 0;  // levels_ below this index have been closed
};

}  // namespace ostrivane
