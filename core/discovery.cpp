#include "core/discovery.h"

#include <cstdint>
#include <vector>

#include "core/fsops.h"
#include "core/folder_walk.h"
#include "core/tree_copy.h"

namespace ostrivane {

namespace {

// Thrown when the walk lost its chain of open folders (an ancestor moved away meanwhile).
struct ChainLost {};

// Level count of a walk that has no depth limit.
constexpr int kAllLevels = -1;

// One subfolder of the folder being listed, kept until the listing is closed.
struct Subfolder {
    std::string name;
    std::uint64_t inode;
};

// Walks a folder tree and adds every folder to the destination list in pre-order. Each
// subfolder is opened relative to its parent and never through a link: a link inside the
// chosen tree leads outside it, so it is neither listed nor entered. One path buffer grows
// and shrinks with the walk; each level reads its listing completely before it descends.
class FolderIndexer {
  public:
    FolderIndexer(PathList& destinations, const std::function<void()>& repaint,
                  const std::atomic<bool>* stop)
        : destinations_(destinations), repaint_(repaint), stop_(stop) {}

    // Visits the folder `path` (ending with the separator) and the folders below it down to
    // `levelsBelow` levels (0 or more), or all of them for kAllLevels.
    void run(const std::string& path, int levelsBelow);

  private:
    // One folder whose subfolders are being visited, kept on a stack of the walk's own so
    // that no depth of tree can exhaust the call stack.
    struct Frame {
        std::vector<Subfolder> subfolders;
        size_t next = 0;
        size_t pathLength = 0;  // length of path_ for the folder
        int childLevels = 0;    // levels still wanted below each subfolder
    };

    // Adds the folder path_ (the chain's current folder when `open`) and, when more levels
    // are wanted and it could be opened, pushes the frame that visits its subfolders.
    void visit(int levelsBelow, bool open);
    std::vector<Subfolder> listSubfolders();

    PathList& destinations_;
    const std::function<void()>& repaint_;
    const std::atomic<bool>* stop_;
    std::string path_;
    FolderChain chain_;
    std::vector<Frame> frames_;
};

void FolderIndexer::run(const std::string& path, int levelsBelow) {
    path_ = WithTrailingSeparator(path);
    // The chosen folder itself may be a link: the user chose it.
    Folder top;
    const bool open = OpenFolder(path_, top) == 0;
    if (open) chain_.start(std::move(top));
    visit(levelsBelow, open);
    while (!frames_.empty()) {
        // A stop request ends the walk here; what was added stays.
        if (stop_ && stop_->load()) return;
        Frame& frame = frames_.back();
        if (frame.next == frame.subfolders.size()) {
            frames_.pop_back();
            // Back to the parent, unless this was the chosen folder. The chain is lost when
            // an ancestor moved away meanwhile: the walk ends there.
            if (!frames_.empty() && chain_.leave() != 0) throw ChainLost{};
            continue;
        }
        const Subfolder& subfolder = frame.subfolders[frame.next++];
        path_.resize(frame.pathLength);
        // Vanished or swapped for a link since the listing: not a folder of this tree.
        const int error = chain_.enter(subfolder.name, subfolder.inode);
        if (error == error::kNotFound || error == error::kIsLink ||
            error == error::kChangedMeanwhile || error == error::kNotAFolder)
            continue;
        // A folder shown again below itself (a bind mount) would repeat without end.
        if (error == 0 && chain_.currentIsAncestor()) {
            if (chain_.leave() != 0) throw ChainLost{};
            continue;
        }
        path_.append(subfolder.name);
        path_.push_back(platform::kSeparator);
        const int childLevels = frame.childLevels;
        // A folder that cannot be opened is added without its subfolders. An entered one
        // that pushes no frame of its own (no level wanted below it) is left at once.
        const size_t depth = frames_.size();
        visit(childLevels, error == 0);
        if (error == 0 && frames_.size() == depth && chain_.leave() != 0) throw ChainLost{};
    }
}

void FolderIndexer::visit(int levelsBelow, bool open) {
    destinations_.addIfAbsent(path_);
    if (repaint_) repaint_();
    if (levelsBelow == 0 || !open) return;  // nothing below is wanted, or it cannot be read
    Frame frame;
    frame.subfolders = listSubfolders();
    frame.pathLength = path_.size();
    frame.childLevels = levelsBelow == kAllLevels ? kAllLevels : levelsBelow - 1;
    frames_.push_back(std::move(frame));
}

std::vector<Subfolder> FolderIndexer::listSubfolders() {
    std::vector<Subfolder> subfolders;
    std::vector<FolderEntry> entries;
    if (ReadFolder(chain_.current(), entries) != 0) return subfolders;
    for (FolderEntry& entry : entries) {
        // Real subfolders only: no link, and no entry the search would not show for the
        // hidden-and-folders filter (FIFOs, sockets and devices carry the system bit).
        if (ClassifyEntry({entry.name, entry.attributes}) != 1) continue;
        if (entry.attributes & (attr::kLink | attr::kSystem | attr::kVolume)) continue;
        subfolders.push_back({std::move(entry.name), entry.inode});
    }
    return subfolders;
}

}  // namespace

void IndexDisk(const std::string& path, PathList& destinations,
               const std::function<void()>& repaint) {
    IndexDisk(path, destinations, repaint, nullptr);
}

void IndexDisk2(const std::string& path, int depth, PathList& destinations,
                const std::function<void()>& repaint) {
    IndexDisk2(path, depth, destinations, repaint, nullptr);
}

void IndexDisk(const std::string& path, PathList& destinations,
               const std::function<void()>& repaint, const std::atomic<bool>* stop) {
    // An empty path names no folder; with a separator added it would name the root.
    if (path.empty()) return;
    try {
        FolderIndexer(destinations, repaint, stop).run(path, kAllLevels);
    } catch (const ChainLost&) {
        // The tree moved during the walk; what was found so far stays listed.
    }
}

void IndexDisk2(const std::string& path, int depth, PathList& destinations,
                const std::function<void()>& repaint, const std::atomic<bool>* stop) {
    if (depth < 0 || path.empty()) return;
    try {
        FolderIndexer(destinations, repaint, stop).run(path, depth);
    } catch (const ChainLost&) {
        // The tree moved during the walk; what was found so far stays listed.
    }
}

}  // namespace ostrivane
