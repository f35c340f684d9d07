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
    identities_.clear();
    firstOpen_ = 0;
    identities_.push_back(top.identity());
    levels_.push_back(std::move(top));
}

int FolderChain::enter(const std::string& name, std::uint64_t listedInode) {
    Folder child;
    if (int error = OpenSubfolder(current(), name, child, listedInode)) return error;
    identities_.push_back(child.identity());
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
        if (error == 0 && !(reopened.identity() == identities_[parent]))
            error = error::kChangedMeanwhile;
        if (error != 0) {
            levels_.clear();
            identities_.clear();
            firstOpen_ = 0;
            return error;
        }
        levels_[parent] = std::move(reopened);
        firstOpen_ = parent;
    }
    levels_.pop_back();
    identities_.pop_back();
    return 0;
}

bool FolderChain::contains(const FileIdentity& id) const {
    return std::find(identities_.begin(), identities_.end(), id) != identities_.end();
}

bool FolderChain::currentIsAncestor() const {
    if (identities_.size() < 2) return false;
    return std::find(identities_.begin(), identities_.end() - 1, identities_.back()) !=
           identities_.end() - 1;
}

}  // namespace ostrivane
