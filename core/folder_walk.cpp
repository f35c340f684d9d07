#include "core/folder_walk.h"

#include <algorithm>

namespace ostrivane {

namespace {

std::size_t ShareOfOpenFileLimit() {
    const std::uint64_t share = OpenFileLimit() / 8;
    return static_cast<std::size_t>(std::min<std::uint64_t>(share, FolderChain::kDefaultMaxOpen));
}

}  // namespace

FolderChain::FolderChain(std::size_t maxOpen)
    : maxOpen_(std::max<std::size_t>(maxOpen != 0 ? maxOpen : ShareOfOpenFileLimit(), 2)) {}

void FolderChain::start(Folder top) {
    levels_.clear();
    firstOpen_ = 0;
    levels_.push_back(std::move(top));
}

int FolderChain::enter(const std::string& name, std::uint64_t listedInode) {
    Folder child;
    if (int error = OpenSubfolder(current(), name, child, listedInode)) return error;
    levels_.push_back(std::move(child));
    // Keep at most maxOpen_ folders open: close the highest ancestor still open.
    if (levels_.size() - firstOpen_ > maxOpen_) levels_[firstOpen_++].close();
    return 0;
}

int FolderChain::leave() {
    if (levels_.size() <= 1) return 0;
    const std::size_t parent = levels_.size() - 2;
    if (!levels_[parent].isOpen()) {
        Folder reopened;
        int error = OpenParentFolder(levels_.back(), reopened);
        if (error == 0 && !(reopened.identity() == levels_[parent].identity()))
            error = error::kChangedMeanwhile;
        if (error != 0) {
            levels_.clear();
            firstOpen_ = 0;
            return error;
        }
        levels_[parent] = std::move(reopened);
        firstOpen_ = parent;
    }
    levels_.pop_back();
    return 0;
}

bool FolderChain::currentIsAncestor() const {
    if (levels_.size() < 2) return false;
    const FileIdentity& current = levels_.back().identity();
    return std::any_of(levels_.begin(), levels_.end() - 1,
                       [&](const Folder& level) { return level.identity() == current; });
}

}  // namespace ostrivane
