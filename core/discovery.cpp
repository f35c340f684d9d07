#include "core/discovery.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/folder_walk.h"
#include "core/fsops.h"
#include "core/run_engine.h"
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
    // `writers` > 1: the subfolders of the chosen folder are walked by that many writers at
    // once, each into a list of its own, added here in the order of one walk.
    FolderIndexer(PathList& destinations, const std::function<void()>& repaint,
                  const std::atomic<bool>* stop, int writers = 1)
        : destinations_(destinations), repaint_(repaint), stop_(stop), writers_(writers) {}

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
    // Walks the frames pushed so far to the end.
    void walkFrames();
    // Walks the subfolders of the chosen folder (the frame on the stack) several at once.
    void walkSubfoldersAtOnce();

    PathList& destinations_;
    const std::function<void()>& repaint_;
    const std::atomic<bool>* stop_;
    const int writers_;
    // A folder above where this walk started (the chosen folder, for a writer that walks
    // one of its subfolders): met again below, it is not walked again.
    std::optional<FileIdentity> above_;
    bool lost_ = false;  // the chain was lost: the walk ended early
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
    if (writers_ > 1 && frames_.size() == 1 && frames_.front().subfolders.size() > 1) {
        walkSubfoldersAtOnce();
        return;
    }
    walkFrames();
}

void FolderIndexer::walkFrames() {
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
        if (error == 0 &&
            (chain_.currentIsAncestor() || (above_ && chain_.current().identity() == *above_))) {
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

void FolderIndexer::walkSubfoldersAtOnce() {
    const Frame top = std::move(frames_.front());
    frames_.clear();
    const Folder& start = chain_.current();
    const FileIdentity startId = start.identity();
    struct Part {
        PathList found;
        bool lost = false;
        bool done = false;
    };
    std::vector<Part> parts(top.subfolders.size());
    std::mutex mutex;
    std::condition_variable partDone;
    std::atomic<size_t> next{0};
    const std::function<void()> noRepaint;
    // Each writer takes the next subfolder and walks it as the one walk would have, on a
    // chain of its own that starts at the subfolder.
    auto writer = [&] {
        for (size_t i; (i = next++) < parts.size();) {
            const Subfolder& subfolder = top.subfolders[i];
            FolderIndexer part(parts[i].found, noRepaint, stop_);
            part.above_ = startId;
            part.path_ = path_.substr(0, top.pathLength) + subfolder.name + platform::kSeparator;
            Folder folder;
            const int error = OpenSubfolder(start, subfolder.name, folder, subfolder.inode);
            const bool skipped = error == error::kNotFound || error == error::kIsLink ||
                                 error == error::kChangedMeanwhile || error == error::kNotAFolder ||
                                 (error == 0 && folder.identity() == startId);
            if (!skipped) {
                if (error == 0) part.chain_.start(std::move(folder));
                try {
                    part.visit(top.childLevels, error == 0);
                    part.walkFrames();
                } catch (...) {
                    // The chain was lost (or memory ran out): the walk ends here.
                    parts[i].lost = true;
                }
            }
            std::lock_guard lock(mutex);
            parts[i].done = true;
            partDone.notify_all();
        }
    };
    // The writers walk; this thread adds each part as soon as it and every part before it
    // are complete, so the list grows in the order of one walk while the writers go on.
    std::vector<std::thread> pool;
    const size_t threads = std::min(static_cast<size_t>(writers_), parts.size());
    for (size_t t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            UsePrivateDescriptorTable();
            writer();
        });
    bool stopped = false;
    for (size_t i = 0; i < parts.size() && !lost_ && !stopped; ++i) {
        {
            std::unique_lock lock(mutex);
            partDone.wait(lock, [&] { return parts[i].done; });
        }
        for (const std::string& found : parts[i].found.entries()) {
            // A stop request ends the walk here, as it would the one walk; what was added
            // stays, and the writers start nothing more.
            if (stop_ && stop_->load()) {
                next = parts.size();
                stopped = true;
                break;
            }
            destinations_.addIfAbsent(found);
            if (repaint_) repaint_();
        }
        if (stopped) break;
        // The one walk would have ended where this part's chain was lost.
        lost_ = parts[i].lost;
        if (lost_) next = parts.size();  // nothing more starts
    }
    for (std::thread& thread : pool) thread.join();
    if (lost_) throw ChainLost{};
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
    // A listing's own order depends on the file system (hash order on ext4).
    std::sort(subfolders.begin(), subfolders.end(), [](const Subfolder& a, const Subfolder& b) {
        return SubfolderNameBefore(a.name, b.name);
    });
    return subfolders;
}

// Writers for a walk of the folder `path`: several where its device gains from them.
int WritersFor(const std::string& path) {
    FileIdentity id;
    return GetIdentity(path, id) ? WritersForDevice(id.device, 0) : 1;
}

}  // namespace

bool SubfolderNameBefore(const std::string& a, const std::string& b) {
    const auto capital = [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - ('a' - 'A'))
                                    : static_cast<unsigned char>(c);
    };
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = capital(a[i]), y = capital(b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

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
        FolderIndexer(destinations, repaint, stop, WritersFor(path)).run(path, kAllLevels);
    } catch (const ChainLost&) {
        // The tree moved during the walk; what was found so far stays listed.
    }
}

void IndexDisk2(const std::string& path, int depth, PathList& destinations,
                const std::function<void()>& repaint, const std::atomic<bool>* stop) {
    if (depth < 0 || path.empty()) return;
    try {
        FolderIndexer(destinations, repaint, stop, WritersFor(path)).run(path, depth);
    } catch (const ChainLost&) {
        // The tree moved during the walk; what was found so far stays listed.
    }
}

}  // namespace ostrivane
