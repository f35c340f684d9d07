#include "core/tree_copy.h"

#include <exception>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/folder_walk.h"
#include "core/run_engine.h"

namespace ostrivane {
namespace {

constexpr int kDotEntry = 2;
constexpr int kSubfolder = 1;
constexpr int kFile = 0;

// Why a folder is not copied onto itself (the target root is the source folder).
constexpr std::string_view kCopyOntoItself = "源文件夹与目标文件夹是同一个文件夹";
// Why a link to a folder inside a source is not copied.
constexpr std::string_view kFolderLinkNotFollowed = "未复制：这是指向其他位置的文件夹链接";
// Why a subfolder that changed between its listing and its opening is not copied.
constexpr std::string_view kChangedMeanwhile = "未复制：文件夹在复制过程中被移动或替换";

// Thrown when a chain of open folders was lost (an ancestor moved away during the walk);
// the walk of this tree cannot go on safely.
struct WalkLost {
    std::string path;
    int error;
};

// One walk of a source tree into its target root, on two chains of open folders. It keeps
// the identity of the target root, to keep the copy out of its own target when the target
// lies inside the source.
class TreeWalk {
  public:
    // `writers` > 1: the subfolders of the source folder are copied by that many writers
    // at once (separate subtrees of the target, so the outcome is the same).
    TreeWalk(SameFilePolicy mode, const AskYesNo& askYesNo, std::vector<Failure>* failures,
             RunControl* run, int destinationIndex, int writers = 1)
        : mode_(mode),
          askYesNo_(askYesNo),
          failures_(failures),
          run_(run),
          destinationIndex_(destinationIndex),
          writers_(writers) {}

    // Copies `source` to the folder `target`, whose parent is opened by its path (a link
    // included, since the user chose it) and created with its parents when missing.
    void copyTop(const std::string& source, const std::string& target);
    // Copies `source` to the subfolder `name` of the open folder `destination`.
    void copyInto(const std::string& source, const Folder& destination, const std::string& target,
                  const std::string& name);

  private:
    // The target folder of the level being copied: open, or the reason it is not.
    struct TargetLevel {
        bool open = false;
        int error = 0;
        bool fileInTheWay = false;  // the folder could not be made: a file has its name
    };

    // Where the walk recorded the one line of a target folder it could not make or open:
    // the files below it are counted there, not recorded one by one.
    struct FailedTarget {
        std::vector<Failure>* failures = nullptr;
        size_t index = 0;
        std::uint64_t files = 0;
    };

    // One folder being copied: its listing and how far the walk has come through it. The
    // walk keeps these on a stack of its own, not on the call stack, so that no depth of
    // tree can exhaust the call stack. A frame keeps no path: the walk has one source path
    // and one target path, each grown by a name on the way down and cut back on the way
    // up, so that memory grows with the depth, not with its square.
    struct Frame {
        std::vector<FolderEntry> entries;
        size_t next = 0;
        // The lengths of the walk's paths at this folder (each ending with the separator):
        // every entry's path is that much of the path plus its name.
        size_t sourceLength = 0, targetLength = 0;
        TargetLevel target;
        // Set on the frame whose target folder failed while its parent's was open.
        FailedTarget failed;
    };

    // A subfolder of the source folder handed to another writer, and what its copy left.
    // (Its paths are the source folder's, which the walk holds, plus its name.)
    struct HandedOver {
        size_t entry;  // its place in the source folder's listing
        FolderEntry folder;
        TargetLevel target;
        std::vector<Failure> failures;
        std::exception_ptr thrown;
    };
    // Copies every handed-over subfolder, several writers at once, each on chains and paths
    // of its own that start at the folders this walk holds; records go back in listing
    // order.
    void copyHandedOver();

    // Copies the entries of the open source folder `sourcePath` (without the separator)
    // into `targetPath` and, depth-first, everything below.
    void copyEntries(std::vector<FolderEntry> entries, std::string sourcePath,
                     std::string targetPath, const TargetLevel& target);
    // Starts the copy of a subfolder met in the listing of the frame on top: pushes its
    // frame, with the paths grown by its name, when it is to be walked. Takes a copy of the
    // parent's target, since a push moves the frames.
    void startSubfolder(const FolderEntry& entry, TargetLevel parentTarget);
    // Cuts the paths back to those of the folder of `frame` (each ending with the separator).
    void cutPathsTo(const Frame& frame) {
        sourcePath_.resize(frame.sourceLength);
        targetPath_.resize(frame.targetLength);
    }
    void copyFile(const FolderEntry& entry, const TargetLevel& target);
    // Creates and opens the target subfolder `name` of the current target folder.
    TargetLevel enterTarget(const std::string& name, const TargetLevel& parent);
    void createTargetOnly(const std::string& name, const TargetLevel& parent);
    // Opens and lists the source folder, to be copied to `target`; false when there is
    // nothing to walk (recorded).
    bool openSource(const std::string& source, const std::string& target, Folder& top,
                    std::vector<FolderEntry>& entries);
    // Walks the listed source into the target level made under the chain of targets.
    void walk(const std::string& source, Folder top, std::vector<FolderEntry> entries,
              const std::string& target, const TargetLevel& level);
    void record(const std::string& path, std::string reason) {
        if (failures_) failures_->push_back({path, std::move(reason)});
    }
    void recordError(const std::string& path, int error) { record(path, ErrorText(error)); }
    // A folder of the source not copied for a reason of the source's: listed under its path,
    // naming the target that lacks it.
    void recordSource(const std::string& path, const std::string& target, std::string reason) {
        record(path, SourceFailureReason(reason, target));
    }
    // Records the target folder `path` that `level` could not make or open; the next frame
    // pushed counts the files not copied into it.
    void recordFailedTarget(const std::string& path, const TargetLevel& level);
    // A file not copied since its target folder is not open: counted on the frame that
    // recorded that folder (else, where none did, recorded on its own).
    void countNotCopied(const std::string& path, int error);
    // Adds the count of files not copied to the frame's line, once the walk has left it.
    static void closeFailedTarget(const Frame& frame);

    SameFilePolicy mode_;
    const AskYesNo& askYesNo_;
    std::vector<Failure>* failures_;
    RunControl* run_;
    int destinationIndex_;
    const int writers_;
    std::vector<std::vector<Failure>> byEntry_;  // records per entry of the source folder
    std::vector<HandedOver> handedOver_;
    std::optional<FileIdentity> targetRoot_;
    // The paths of the folders the walk is in, each ending with the separator: for records
    // and questions only, since the walk reaches the folders through the chains.
    std::string sourcePath_, targetPath_;
    FolderChain sources_;
    FolderChain targets_;
    std::vector<Frame> frames_;
    FailedTarget pendingFailure_;  // recorded, for the next frame pushed
};

// The names of which `name` could be a numbered form ("a_1.txt" of "a.txt", "notes_12" of
// "notes"): each "_" with the digits after it, where a "." or the end follows them, taken
// out. (Any dot is taken for the extension's, so no rule of where extensions begin is
// missed.)
std::vector<std::string> UnnumberedForms(std::string_view name) {
    std::vector<std::string> forms;
    for (size_t at = name.find('_'); at != std::string_view::npos; at = name.find('_', at + 1)) {
        size_t end = at + 1;
        while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
        if (end == at + 1 || (end < name.size() && name[end] != '.')) continue;
        forms.push_back(std::string(name.substr(0, at)) + std::string(name.substr(end)));
    }
    return forms;
}

// True for a name of the form FAT and NTFS give long names as their short alias: a "~"
// followed by a digit.
bool LooksLikeShortName(std::string_view name) {
    for (size_t at = name.find('~'); at != std::string_view::npos; at = name.find('~', at + 1))
        if (at + 1 < name.size() && name[at + 1] >= '0' && name[at + 1] <= '9') return true;
    return false;
}

// The path of a folder prefix (which ends with the separator).
std::string WithoutSeparator(const std::string& prefix) {
    return prefix.substr(0, prefix.size() - 1);
}

// The EInOutError for the folder `path` that cannot be entered.
EInOutError CannotEnter(int error, const std::string& path) {
    EInOutError raised = InOutErrorFromOs(error);
    raised.path = path;
    return raised;
}

// Whether the folder `path` can be entered, as a change of working directory would test
// it: the path, a folder, then search permission. Raises EInOutError when not.
void CheckEnterable(const std::string& path) {
    std::uint32_t attributes = 0;
    if (!IsExistingFolder(path)) {
        throw CannotEnter(GetAttributes(path, attributes) ? error::kNotAFolder : error::kNotFound,
                          path);
    }
    if (int error = CheckSearchPermission(path)) throw CannotEnter(error, path);
}

bool TreeWalk::openSource(const std::string& source, const std::string& target, Folder& top,
                          std::vector<FolderEntry>& entries) {
    CheckEnterable(source);
    int error = OpenFolder(source, top);
    if (error == 0) error = ReadFolder(top, entries);
    if (error == 0) return true;
    // It can be entered but not listed: the target root is not created.
    if (error != error::kAccessDenied) throw CannotEnter(error, source);
    recordSource(source, target, ErrorText(error));
    return false;
}

void TreeWalk::copyTop(const std::string& source, const std::string& target) {
    Folder top;
    std::vector<FolderEntry> entries;
    if (!openSource(source, target, top, entries)) return;
    // The folder part of the target (up to its last separator) and its last component.
    const std::string name = FileNamePart(target);
    const std::string parentPath =
        name.size() < target.size() ? target.substr(0, target.size() - name.size()) : ".";
    TargetLevel level;
    Folder parent;
    CreateFolderChain(parentPath);  // a missing destination is made with its parents
    level.error = OpenFolder(parentPath, parent);
    // The destination folder, made here, holds the named temporaries of the walk's copies
    // where the run has none open yet (CopyControl::temporaryFolder).
    Folder temporaries;
    struct TemporariesScope {
        RunControl* run = nullptr;
        int index = 0;
        ~TemporariesScope() {
            if (run) run->setTemporaryFolder(index, nullptr);
        }
    } scope;
    if (level.error == 0 && run_ && !run_->temporaryFolder(destinationIndex_) &&
        OpenSubfolder(parent, ".", temporaries) == 0) {
        run_->setTemporaryFolder(destinationIndex_, &temporaries);
        scope.run = run_;
        scope.index = destinationIndex_;
    }
    if (level.error == 0) {
        targets_.start(std::move(parent));
        level = enterTarget(name, {true, 0});
    }
    walk(source, std::move(top), std::move(entries), target, level);
}

void TreeWalk::copyInto(const std::string& source, const Folder& destination,
                        const std::string& target, const std::string& name) {
    Folder top;
    std::vector<FolderEntry> entries;
    if (!openSource(source, target, top, entries)) return;
    TargetLevel level;
    Folder parent;
    // A chain of its own, starting at the destination the caller holds open.
    level.error = OpenSubfolder(destination, ".", parent);
    if (level.error == 0) {
        targets_.start(std::move(parent));
        level = enterTarget(name, {true, 0});
    }
    walk(source, std::move(top), std::move(entries), target, level);
}

void TreeWalk::walk(const std::string& source, Folder top, std::vector<FolderEntry> entries,
                    const std::string& target, const TargetLevel& level) {
    // The target root itself is never a link (enterTarget opens it without following one).
    if (!level.open) recordFailedTarget(target, level);
    if (level.open) {
        targetRoot_ = targets_.current().identity();
        if (*targetRoot_ == top.identity()) {
            record(source, std::string(kCopyOntoItself));
            return;
        }
    }
    sources_.start(std::move(top));
    // The source as listed may end with the separator; its entries are joined with one.
    std::string sourcePath = source;
    if (!sourcePath.empty() && platform::IsSeparator(sourcePath.back())) sourcePath.pop_back();
    try {
        copyEntries(std::move(entries), sourcePath, target, level);
    } catch (const WalkLost& lost) {
        recordError(lost.path, lost.error);
    }
}

void TreeWalk::copyEntries(std::vector<FolderEntry> entries, std::string sourcePath,
                           std::string targetPath, const TargetLevel& target) {
    sourcePath_ = std::move(sourcePath);
    targetPath_ = std::move(targetPath);
    sourcePath_ += platform::kSeparator;
    targetPath_ += platform::kSeparator;
    frames_.clear();
    frames_.push_back({std::move(entries), 0, sourcePath_.size(), targetPath_.size(), target,
                       std::exchange(pendingFailure_, {})});
    const bool handsOver = writers_ > 1 && target.open;
    std::vector<Failure>* const outside = failures_;
    // The subfolders that go to other writers: those whose target no other entry of this
    // folder can reach. A subfolder stays with this walk, which reaches the entries in
    // listing order, where its target folder could be another entry's target: where the
    // target may take two names for one entry ("Photos" and "photos" on a FAT stick), or
    // where a file's numbered name could be the folder's ("a_1.txt" beside "a.txt").
    std::vector<char> mayHandOver;
    if (handsOver) {
        const std::vector<FolderEntry>& entries = frames_.front().entries;
        byEntry_.resize(entries.size());
        mayHandOver.assign(entries.size(), 1);
        const bool folds = FolderFoldsNames(targets_.current());
        const auto key = [folds](std::string_view name) {
            return folds ? NameFoldingKey(name) : std::string(name);
        };
        std::vector<std::string> keys;
        std::unordered_map<std::string, int> uses;
        std::unordered_set<std::string> files;
        bool shortNameLike = false;
        for (const FolderEntry& entry : entries) {
            const std::string& entryKey = keys.emplace_back(key(entry.name));
            ++uses[entryKey];
            if (ClassifyEntry({entry.name, entry.attributes}) == kFile) files.insert(entryKey);
            shortNameLike = shortNameLike || LooksLikeShortName(entry.name);
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            // FAT and NTFS also find a long name by its generated short one ("PHOTOS~1"):
            // where a name of that form is listed, any two entries could be one.
            if (uses[keys[i]] > 1 || (folds && shortNameLike)) mayHandOver[i] = 0;
            for (const std::string& form : UnnumberedForms(entries[i].name))
                if (files.count(key(form))) mayHandOver[i] = 0;
        }
    }
    // Whatever ends the walk, the records kept per entry go back in listing order.
    struct PutBack {
        TreeWalk& walk;
        std::vector<Failure>* outside;
        ~PutBack() {
            walk.failures_ = outside;
            for (std::vector<Failure>& records : walk.byEntry_)
                if (outside) outside->insert(outside->end(), records.begin(), records.end());
            walk.byEntry_.clear();
        }
    } putBack{*this, outside};
    for (;;) {
        // A stop request ends the walk: nothing new starts (the open chains close with it).
        if (run_ && run_->stopRequested()) break;
        Frame& frame = frames_.back();
        if (frame.next < frame.entries.size()) {
            const bool top = frames_.size() == 1;
            if (top && handsOver) failures_ = &byEntry_[frame.next];
            const FolderEntry entry = std::move(frame.entries[frame.next++]);
            switch (ClassifyEntry({entry.name, entry.attributes})) {
                case kDotEntry:
                    break;
                case kSubfolder:
                    if (entry.attributes & attr::kLink) {
                        recordSource(sourcePath_ + entry.name, targetPath_ + entry.name,
                                     std::string(kFolderLinkNotFollowed));
                    } else if (top && handsOver && mayHandOver[frame.next - 1]) {
                        handedOver_.push_back({frame.next - 1, entry, frame.target, {}, {}});
                    } else {
                        // May push a frame: `frame` is not used after this.
                        startSubfolder(entry, frame.target);
                    }
                    break;
                default:
                    copyFile(entry, frame.target);
                    break;
            }
            continue;
        }
        if (frames_.size() == 1) break;
        const Frame done = std::move(frame);
        frames_.pop_back();
        closeFailedTarget(done);
        if (done.target.open) {
            if (int lost = targets_.leave())
                throw WalkLost{WithoutSeparator(targetPath_), lost};
        }
        if (int lost = sources_.leave()) throw WalkLost{WithoutSeparator(sourcePath_), lost};
        cutPathsTo(frames_.back());
    }
    // A stop may have left deeper frames: the handed-over subfolders are the first one's.
    for (const Frame& frame : frames_) closeFailedTarget(frame);
    cutPathsTo(frames_.front());
    frames_.clear();
    if (!handedOver_.empty()) copyHandedOver();
}

void TreeWalk::copyHandedOver() {
    const Folder& sourceTop = sources_.current();
    const Folder& targetTop = targets_.current();
    RunEachAtOnce(handedOver_.size(), writers_, [&](size_t i) {
        HandedOver& handed = handedOver_[i];
        TreeWalk walk(mode_, askYesNo_, &handed.failures, run_, destinationIndex_);
        walk.targetRoot_ = targetRoot_;
        Folder source, target;
        int error = OpenSubfolder(sourceTop, ".", source);
        if (error == 0) error = OpenSubfolder(targetTop, ".", target);
        if (error != 0) {
            walk.recordError(sourcePath_ + handed.folder.name, error);
            return;
        }
        walk.sources_.start(std::move(source));
        walk.targets_.start(std::move(target));
        try {
            // The walk of this one entry, as the listing of the folder would make it, on
            // paths of its own.
            walk.copyEntries({handed.folder}, WithoutSeparator(sourcePath_),
                             WithoutSeparator(targetPath_), handed.target);
        } catch (const WalkLost& lost) {
            walk.recordError(lost.path, lost.error);
        } catch (...) {
            handed.thrown = std::current_exception();
        }
    });
    std::vector<HandedOver> handed = std::move(handedOver_);
    handedOver_.clear();
    for (HandedOver& one : handed) {
        std::vector<Failure>& records = byEntry_[one.entry];
        records.insert(records.end(), one.failures.begin(), one.failures.end());
        // A folder that could not be entered ends the walk there, as it would in order.
        if (one.thrown) std::rethrow_exception(one.thrown);
    }
}

void TreeWalk::startSubfolder(const FolderEntry& entry, TargetLevel parentTarget) {
    const std::string& name = entry.name;
    // The paths grow by the name here and are cut back on every way out that pushes no
    // frame (an exception included: the walk is over then).
    const size_t sourceLength = sourcePath_.size(), targetLength = targetPath_.size();
    sourcePath_ += name;
    targetPath_ += name;
    struct CutBack {
        TreeWalk& walk;
        size_t sourceLength, targetLength;
        bool pushed = false;
        ~CutBack() {
            if (pushed) return;
            walk.sourcePath_.resize(sourceLength);
            walk.targetPath_.resize(targetLength);
        }
    } cutBack{*this, sourceLength, targetLength};
    const std::string& sourcePath = sourcePath_;
    // The checks of entering the folder, before it is opened.
    int error = CanEnterAt(sources_.current(), name);
    if (error == error::kNotFound || error == error::kIsLink || error == error::kNotAFolder) {
        // Vanished, or swapped for a link or a file since the listing: nothing to copy.
        recordSource(sourcePath, targetPath_,
                     error == error::kNotFound ? ErrorText(error) : std::string(kChangedMeanwhile));
        return;
    }
    if (error != 0) {
        // A folder that exists but cannot be entered ends the run; its target is made
        // first, as its parent makes it before entering it.
        createTargetOnly(name, parentTarget);
        throw CannotEnter(error, sourcePath);
    }
    error = sources_.enter(name, entry.inode);
    if (error == error::kNotFound || error == error::kIsLink || error == error::kChangedMeanwhile ||
        error == error::kNotAFolder) {
        recordSource(sourcePath, targetPath_,
                     error == error::kNotFound ? ErrorText(error) : std::string(kChangedMeanwhile));
        return;
    }
    if (error != 0 && error != error::kAccessDenied) {
        createTargetOnly(name, parentTarget);
        throw CannotEnter(error, sourcePath);
    }
    std::vector<FolderEntry> entries;
    if (error == 0) {
        const FileIdentity id = sources_.current().identity();
        if (targetRoot_ && id == *targetRoot_) {
            // The copy's own output, met inside its source: never copied into itself.
            if (int lost = sources_.leave()) throw WalkLost{sourcePath, lost};
            return;
        }
        if (sources_.currentIsAncestor()) {
            if (int lost = sources_.leave()) throw WalkLost{sourcePath, lost};
            recordSource(sourcePath, targetPath_, ErrorText(error::kLinkLoop));
            return;
        }
        error = ReadFolder(sources_.current(), entries);
        if (error != 0) {
            if (int lost = sources_.leave()) throw WalkLost{sourcePath, lost};
        }
    }
    if (error != 0) {
        // It can be entered but not listed: its target stays empty.
        createTargetOnly(name, parentTarget);
        recordSource(sourcePath, targetPath_, ErrorText(error));
        return;
    }
    const TargetLevel target = enterTarget(name, parentTarget);
    if (!target.open && parentTarget.open) recordFailedTarget(targetPath_, target);
    sourcePath_ += platform::kSeparator;
    targetPath_ += platform::kSeparator;
    frames_.push_back({std::move(entries), 0, sourcePath_.size(), targetPath_.size(), target,
                       std::exchange(pendingFailure_, {})});
    cutBack.pushed = true;
}

TreeWalk::TargetLevel TreeWalk::enterTarget(const std::string& name, const TargetLevel& parent) {
    if (!parent.open) return {false, parent.error};
    const int created = CreateFolderAt(targets_.current(), name);
    const int error = targets_.enter(name);
    if (error != 0) {
        std::uint32_t attributes = 0;
        const bool file = created == error::kAlreadyExists &&
                          EntryAttributesAt(targets_.current(), name, attributes) &&
                          !(attributes & attr::kFolder);
        return {false, created != 0 && created != error::kAlreadyExists ? created : error, file};
    }
    PrepareTargetFolder(targets_.current());
    return {true, 0};
}

void TreeWalk::recordFailedTarget(const std::string& path, const TargetLevel& level) {
    pendingFailure_ = {};
    if (!failures_) return;
    record(path,
           level.fileInTheWay ? std::string(run_reason::kFileInTheWay) : ErrorText(level.error));
    pendingFailure_ = {failures_, failures_->size() - 1, 0};
}

void TreeWalk::countNotCopied(const std::string& path, int error) {
    for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
        if (frame->failed.failures) {
            ++frame->failed.files;
            return;
        }
    }
    recordError(path, error);
}

void TreeWalk::closeFailedTarget(const Frame& frame) {
    if (!frame.failed.failures || frame.failed.files == 0) return;
    (*frame.failed.failures)[frame.failed.index].reason +=
        std::string(run_reason::kFilesNotCopiedInside) + std::to_string(frame.failed.files);
}

void TreeWalk::createTargetOnly(const std::string& name, const TargetLevel& parent) {
    if (parent.open) CreateFolderAt(targets_.current(), name);
}

void TreeWalk::copyFile(const FolderEntry& entry, const TargetLevel& target) {
    const std::string& targetPrefix = targetPath_;
    if (!target.open) {
        countNotCopied(targetPrefix + entry.name, target.error);
        if (run_) run_->fileHandled(destinationIndex_, false);
        return;
    }
    const Folder& sourceFolder = sources_.current();
    const Folder& targetFolder = targets_.current();
    CopyFileTo copyTo = [&](const std::string& targetName, bool failIfExists,
                            CopySide* failedSide) {
        if (!run_) {
            return CopyFileAt(&sourceFolder, entry.name, targetFolder, targetName, failIfExists,
                              entry.attributes, nullptr, nullptr, failedSide);
        }
        return CountedCopy(*run_, destinationIndex_, targetPrefix, targetName, sourcePath_,
                           [&](const CopyControl* control, PlacedCopy* placed) {
                               return CopyFileAt(&sourceFolder, entry.name, targetFolder,
                                                 targetName, failIfExists, entry.attributes,
                                                 control, placed, failedSide);
                           });
    };
    // The source's path, for a failure the source caused: grown by the name and cut back,
    // without a string of its own per file.
    const size_t folderLength = sourcePath_.size();
    sourcePath_ += entry.name;
    const CopyOutcome outcome = CopyFileUnderPolicy(copyTo, targetFolder, targetPrefix, entry.name,
                                                    mode_, askYesNo_, failures_, &sourcePath_);
    sourcePath_.resize(folderLength);
    if (run_) run_->fileHandled(destinationIndex_, outcome == CopyOutcome::Kept);
}

}  // namespace

int ClassifyEntry(const SearchEntry& entry) {
    if (entry.name == "." || entry.name == "..") return kDotEntry;
    if (entry.attributes & attr::kFolder) return kSubfolder;
    return kFile;
}

void CopyFolderTree(const std::string& source, const std::string& target, SameFilePolicy mode,
                    const AskYesNo& askYesNo, std::vector<Failure>* failures, RunControl* run,
                    int destinationIndex) {
    TreeWalk walk(mode, askYesNo, failures, run, destinationIndex,
                  run ? run->treeWriters(destinationIndex) : 1);
    walk.copyTop(source, target);
}

void CopyFolderTreeInto(const std::string& source, const Folder& destination,
                        const std::string& destinationPath, const std::string& name,
                        SameFilePolicy mode, const AskYesNo& askYesNo,
                        std::vector<Failure>* failures, RunControl* run, int destinationIndex) {
    TreeWalk walk(mode, askYesNo, failures, run, destinationIndex,
                  run ? run->treeWriters(destinationIndex) : 1);
    walk.copyInto(source, destination, destinationPath + name, name);
}

bool SourceTreeIsPlain(const std::string& source,
                       const std::function<bool(const FileIdentity&)>& isDestination) {
    if (!IsExistingFolder(source)) return true;
    if (CheckSearchPermission(source) != 0) return false;
    Folder top;
    std::vector<FolderEntry> entries;
    if (OpenFolder(source, top) != 0 || isDestination(top.identity()) ||
        ReadFolder(top, entries) != 0)
        return false;
    struct Level {
        std::vector<FolderEntry> entries;
        size_t next = 0;
    };
    std::vector<Level> levels;
    levels.push_back({std::move(entries), 0});
    FolderChain chain;
    chain.start(std::move(top));
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.entries.size()) {
            levels.pop_back();
            if (!levels.empty() && chain.leave() != 0) return false;
            continue;
        }
        const FolderEntry& entry = level.entries[level.next++];
        if (ClassifyEntry({entry.name, entry.attributes}) != kSubfolder ||
            (entry.attributes & attr::kLink))
            continue;
        if (CanEnterAt(chain.current(), entry.name) != 0 ||
            chain.enter(entry.name, entry.inode) != 0)
            return false;
        std::vector<FolderEntry> below;
        if (isDestination(chain.current().identity()) || chain.currentIsAncestor() ||
            ReadFolder(chain.current(), below) != 0)
            return false;
        levels.push_back({std::move(below), 0});
    }
    return true;
}

}  // namespace ostrivane
