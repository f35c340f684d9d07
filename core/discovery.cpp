#include "core/discovery.h"

#include <cstdint>
#include <vector>

#include "core/fsops.h"
#include "core/tree_copy.h"

namespace ostrivane {

namespace {

// Hidden and folder: hidden folders come, system entries (FIFOs, sockets, devices) do not.
constexpr std::uint32_t kHiddenAndFolders = 0x12;
// Level count of a walk that has no depth limit.
constexpr int kAllLevels = -1;

// One subfolder of the folder being listed, kept until the listing is closed.
struct Subfolder {
    std::string name;
    bool isLink;
};

// Walks a folder tree and adds every folder to the destination list in pre-order. One
// path buffer grows and shrinks with the walk; each level lists its folder completely and
// closes the listing before it descends, so at most one listing is open at a time.
class FolderIndexer {
  public:
    FolderIndexer(PathList& destinations, const std::function<void()>& repaint)
        : destinations_(destinations), repaint_(repaint) {}

    // Visits the folder `path` (ending with the separator) and the folders below it down to
    // `levelsBelow` levels (0 or more), or all of them for kAllLevels.
    void run(const std::string& path, int levelsBelow);

  private:
    void visit(int levelsBelow);
    std::vector<Subfolder> listSubfolders();
    bool leadsToAncestor();

    PathList& destinations_;
    const std::function<void()>& repaint_;
    std::string path_;
    // Length of path_ for each folder on the way from the start folder to the current one.
    std::vector<size_t> ancestorLengths_;
};

void FolderIndexer::run(const std::string& path, int levelsBelow) {
    path_ = WithTrailingSeparator(path);
    visit(levelsBelow);
}

void FolderIndexer::visit(int levelsBelow) {
    destinations_.addIfAbsent(path_);
    if (repaint_) repaint_();
    if (levelsBelow == 0) return;  // nothing below this level is wanted
    const int childLevels = levelsBelow == kAllLevels ? kAllLevels : levelsBelow - 1;
    const std::vector<Subfolder> subfolders = listSubfolders();
    const size_t length = path_.size();
    ancestorLengths_.push_back(length);
    for (const Subfolder& subfolder : subfolders) {
        path_.append(subfolder.name);
        path_.push_back(platform::kSeparator);
        if (subfolder.isLink && IsFileSystemRoot(path_)) {
            // A link to the root is neither a destination nor walked: emptying it before a
            // copy would delete everything the user may delete.
        } else if (subfolder.isLink && leadsToAncestor()) {
            // The link would make the walk repeat its own path until the path grows too
            // long: the link is a destination like any folder, but it is not entered.
            destinations_.addIfAbsent(path_);
            if (repaint_) repaint_();
        } else {
            visit(childLevels);
        }
        path_.resize(length);
    }
    ancestorLengths_.pop_back();
}

std::vector<Subfolder> FolderIndexer::listSubfolders() {
    std::vector<Subfolder> subfolders;
    SearchRec search;
    path_.push_back('*');
    bool found = SearchFirst(path_, kHiddenAndFolders, search, SearchDetail::TypeOnly);
    path_.pop_back();
    for (; found; found = SearchNext(search)) {
        if (ClassifyEntry(search.entry) != 1) continue;
        const bool isLink = (search.entry.attributes & attr::kLink) != 0;
        subfolders.push_back({std::move(search.entry.name), isLink});
    }
    SearchClose(search);
    return subfolders;
}

// True when the folder path_ (reached through a link) is the folder being walked or one of
// the folders above it in this walk. Only links pay for this test.
bool FolderIndexer::leadsToAncestor() {
    FileIdentity target;
    if (!GetIdentity(path_, target)) return false;
    for (size_t length : ancestorLengths_) {
        FileIdentity ancestor;
        if (GetIdentity(path_.substr(0, length), ancestor) && ancestor == target) return true;
    }
    return false;
}

}  // namespace

void IndexDisk(const std::string& path, PathList& destinations,
               const std::function<void()>& repaint) {
    // An empty path names no folder; with a separator added it would name the root.
    if (path.empty()) return;
    FolderIndexer(destinations, repaint).run(path, kAllLevels);
}

void IndexDisk2(const std::string& path, int depth, PathList& destinations,
                const std::function<void()>& repaint) {
    if (depth < 0 || path.empty()) return;
    FolderIndexer(destinations, repaint).run(path, depth);
}

}  // namespace ostrivane
