#include "core/emptying.h"

#include <algorithm>
#include <string_view>

#include "core/folder_walk.h"
#include "core/run_engine.h"

namespace ostrivane {

namespace emptying_reason {
const char* const kSourceKept = "这是要复制的源，未删除";
const char* const kRootRefused = "不能清空整个驱动器（磁盘）";
const char* const kChangedDuring = "清空时已被替换（链接或另一文件夹），未删除";
const char* const kGoneSinceStart = "运行开始后已被删除或移走";
}  // namespace emptying_reason

namespace {

// The folder part of `path` up to and with its last separator (trailing separators of
// `path` not counted), or empty when it has none.
std::string_view ParentPrefix(std::string_view path) {
    while (!path.empty() && platform::IsSeparator(path.back())) path.remove_suffix(1);
    const size_t last = path.find_last_of(platform::kSeparators);
    return last == std::string_view::npos ? std::string_view() : path.substr(0, last + 1);
}

}  // namespace

EmptyingGuard::EmptyingGuard(const PathList& destinations, const PathList* sources)
    : destinations_(destinations) {
    std::unordered_set<FileIdentity, IdentityHash> placesSeen;  // canonical folders met
    for (const std::string& entry : destinations.entries()) {
        FileIdentity id;
        const bool resolved = !entry.empty() && IsExistingFolder(entry) && GetIdentity(entry, id);
        destinationIds_.push_back(resolved ? std::optional(id) : std::nullopt);
        if (resolved) firstIndex_.emplace(id, static_cast<int>(destinationIds_.size() - 1));
        if (entry.empty()) continue;
        // Each folder the entry's spelling passes through, as the system resolves it
        // ("x/", "x/ln/" of "x/ln/sub"): a link there is how the user reaches the entry.
        for (std::string_view prefix = ParentPrefix(entry); !prefix.empty();
             prefix = ParentPrefix(prefix)) {
            FileIdentity above;
            if (GetIdentity(std::string(prefix), above)) above_.insert(above);
        }
        // Each folder above the place the entry really is; the walk up stops at a folder
        // whose own chain is known already.
        if (!resolved) continue;
        const std::string canonical = CanonicalPath(entry);
        for (std::string_view prefix = ParentPrefix(canonical); !prefix.empty();
             prefix = ParentPrefix(prefix)) {
            FileIdentity above;
            if (!GetIdentity(std::string(prefix), above)) continue;
            above_.insert(above);
            if (!placesSeen.insert(above).second) break;
        }
    }
    if (sources) {
        for (const std::string& entry : sources->entries()) {
            if (entry.empty()) continue;
            // The entry itself (a link stays a link) and what it leads to are both kept.
            FileIdentity id;
            if (GetEntryIdentity(entry, id)) sourceIds_.push_back(id);
            if (GetIdentity(entry, id)) sourceIds_.push_back(id);
        }
        for (const FileIdentity& id : sourceIds_) sourceInodes_.insert(id.inode);
    }
    hasRoot_ = GetIdentity(std::string(1, platform::kSeparator), root_);
}

bool EmptyingGuard::isListedDestination(const FileIdentity& id) const {
    return firstDestinationWith(id) != -1;
}

bool EmptyingGuard::isSource(const FileIdentity& id) const {
    return std::find(sourceIds_.begin(), sourceIds_.end(), id) != sourceIds_.end();
}

bool EmptyingGuard::destinationIdentity(int index, FileIdentity& id) const {
    if (index < 0 || static_cast<size_t>(index) >= destinationIds_.size() ||
        !destinationIds_[static_cast<size_t>(index)])
        return false;
    id = *destinationIds_[static_cast<size_t>(index)];
    return true;
}

int EmptyingGuard::firstDestinationWith(const FileIdentity& id) const {
    const auto found = firstIndex_.find(id);
    return found == firstIndex_.end() ? -1 : found->second;
}

namespace {

// Every entry that is not a folder is deleted only when its attribute word has no bit
// outside this mask.
constexpr std::uint32_t kDeletableMask = 0x3F;

// True when the name, once every leading and trailing character up to 0x20 is ignored,
// reads "." or "..": the folder's own entry or its parent's.
bool ReadsAsDotEntry(std::string_view name) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!name.empty() && blank(name.front())) name.remove_prefix(1);
    while (!name.empty() && blank(name.back())) name.remove_suffix(1);
    return name == "." || name == "..";
}

// Thrown when the walk lost its chain of open folders (an ancestor was moved away during
// the walk): nothing more can be deleted safely.
struct WalkLost {
    int error;
};

// Empties one destination. Every folder is opened relative to its parent's open folder and
// never through a link; every deletion names an entry of an open folder. A display path
// grows by one component per level and shrinks back; it is only used in records.
class FolderEmptier {
  public:
    // `eachListedInTurn`: every listed destination gets an emptying of its own, so a listed
    // subfolder met here is left to it instead of being walked twice.
    FolderEmptier(const EmptyingGuard& guard, std::vector<Failure>* failures, bool eachListedInTurn,
                  const std::atomic<bool>* stop, int writers = 1)
        : guard_(guard),
          failures_(failures),
          eachListedInTurn_(eachListedInTurn),
          stop_(stop),
          writers_(writers) {}

    // True when a stop request cut the emptying short.
    bool stopped() const { return stopped_; }

    // Empties the open folder `top` (whose path is `path`) and removes it when `remove`.
    void run(const std::string& path, Folder top, bool remove);

    // What emptying a folder's contents left: something inside, the listing's error.
    struct ContentsOutcome {
        bool leftovers = false;
        int listError = 0;
    };
    // Empties what is inside the open folder `top` (shown as `path`, with the separator),
    // as the walk of a subfolder that is to be removed does; records what stays inside.
    ContentsOutcome emptyInside(const std::string& path, Folder top);

  private:
    // What the emptying of one folder level knows about that folder.
    struct Level {
        bool willRemove;  // the folder is removed afterwards
        bool madeWritable = false;
        bool leftovers = false;  // something stays inside, so the folder cannot go
    };

    // One folder being emptied: its listing, read before anything in it is deleted, and
    // how far the walk has come through it. The walk keeps these on a stack of its own, not
    // on the call stack, so that no depth of tree can exhaust the call stack.
    struct Frame {
        std::vector<FolderEntry> entries;
        size_t next = 0;
        Level level;
        size_t pathLength = 0;  // length of path_ for this folder, separator included
        int listError = 0;      // the folder could not be listed
        // How the folder was entered from its parent (all but the start folder).
        std::string name;
        bool listed = false;
        std::vector<Failure>* recordingOutside = nullptr;
    };

    // Deletes what may be deleted inside the current folder of the chain (path_ ends with
    // the separator) and below it. Returns true when something stays inside; *listError
    // gets the error number when the folder could not be listed at all.
    bool emptyContents(bool willRemove, int* listError);
    // Starts the walk of the folder the chain just entered.
    void pushFrame(bool willRemove, const std::string& name, bool listed);
    // Ends the walk of a subfolder: back in its parent, removes it when it may go.
    void finishSubfolder(Frame& done);
    void handleEntry(Level& level, const FolderEntry& entry);
    void handleLink(Level& level, const std::string& name);
    void handleSubfolder(Level& level, const FolderEntry& entry);
    void deleteFile(Level& level, const std::string& name);
    // True (and recorded) when the entry `name` of the current folder is a listed source.
    bool keepSource(Level& level, const FolderEntry& entry);
    template <typename Operation>
    int withWritableFolder(Level& level, Operation operation);
    bool recordIfStillThere(const std::string& name, const std::string& reason);
    void record(const std::string& path, const std::string& reason);

    const EmptyingGuard& guard_;
    std::vector<Failure>* failures_;
    const bool eachListedInTurn_;
    // A subfolder of the start folder handed to another writer: its name and identity as
    // checked here, its display path, and the records of its emptying.
    struct HandedOver {
        size_t entry;  // its place in the start folder's listing
        std::string name;
        FileIdentity id;
        std::string path;
        std::vector<Failure> failures;
        ContentsOutcome outcome;
        bool opened = false;
        bool stopped = false;
    };
    // True when the subfolder the chain just entered goes to another writer (it is then
    // left); false when the walk goes into it here.
    bool handOver(const std::string& name);
    // Empties every handed-over subfolder, several writers at once, then removes each
    // from the start folder in listing order, recording as the walk would have.
    void finishHandedOver(Level& top);

    const std::atomic<bool>* stop_;
    bool stopped_ = false;
    // Writers for the subfolders of the start folder: with more than one, each such
    // subfolder is emptied on its own (separate subtrees, so the outcome is the same), and
    // what each records is kept apart and put back in listing order.
    const int writers_;
    std::vector<std::vector<Failure>> byEntry_;  // records per entry of the start folder
    std::vector<HandedOver> handedOver_;
    FolderChain chain_;
    std::string path_;
    std::vector<Frame> frames_;
};

void FolderEmptier::run(const std::string& path, Folder top, bool remove) {
    path_ = WithTrailingSeparator(path);
    chain_.start(std::move(top));
    int listError = 0;
    bool leftovers = false;
    std::vector<Failure>* const recording = failures_;
    try {
        leftovers = emptyContents(remove, &listError);
    } catch (const WalkLost& lost) {
        failures_ = recording;  // a listed subfolder's walk may have turned recording off
        record(path_, ErrorText(lost.error));
        return;
    }
    chain_ = FolderChain();  // closes the folder before it is removed
    if (!remove) {
        if (listError != 0) record(path_, ErrorText(listError));
        return;
    }
    const int error = RemoveFolder(path_);
    // A folder that still holds recorded leftovers needs no record of its own.
    if (error == 0 || leftovers) return;
    if (IsExistingFolder(path_)) record(path_, ErrorText(listError != 0 ? listError : error));
}

bool FolderEmptier::emptyContents(bool willRemove, int* listError) {
    frames_.clear();
    pushFrame(willRemove, std::string(), false);
    for (;;) {
        if (stop_ && stop_->load()) {
            // Nothing more is deleted; what is left stays, and so does the folder.
            stopped_ = true;
            failures_ = frames_.front().recordingOutside;
            frames_.front().level.leftovers = true;
            break;
        }
        Frame& frame = frames_.back();
        if (frame.next < frame.entries.size()) {
            if (frames_.size() == 1 && writers_ > 1) {
                // Each entry of the start folder records apart, to be put in order later.
                if (byEntry_.empty()) byEntry_.resize(frame.entries.size());
                failures_ = &byEntry_[frame.next];
            }
            const FolderEntry entry = std::move(frame.entries[frame.next++]);
            path_.resize(frame.pathLength);
            // May push the frame of a subfolder, which `frame` must not be used after.
            handleEntry(frame.level, entry);
            continue;
        }
        if (frames_.size() == 1) break;
        Frame done = std::move(frame);
        frames_.pop_back();
        finishSubfolder(done);
    }
    if (!handedOver_.empty()) finishHandedOver(frames_.front().level);
    if (writers_ > 1) {
        failures_ = frames_.front().recordingOutside;
        for (std::vector<Failure>& records : byEntry_)
            if (failures_) failures_->insert(failures_->end(), records.begin(), records.end());
        byEntry_.clear();
    }
    path_.resize(frames_.front().pathLength);
    *listError = frames_.front().listError;
    const bool leftovers = frames_.front().level.leftovers;
    frames_.clear();
    return leftovers;
}

void FolderEmptier::pushFrame(bool willRemove, const std::string& name, bool listed) {
    Frame frame;
    frame.level.willRemove = willRemove;
    frame.pathLength = path_.size();
    frame.name = name;
    frame.listed = listed;
    frame.recordingOutside = failures_;
    frame.listError = ReadFolder(chain_.current(), frame.entries);
    frames_.push_back(std::move(frame));
}

void FolderEmptier::finishSubfolder(Frame& done) {
    failures_ = done.recordingOutside;
    path_.resize(done.pathLength);
    if (int error = chain_.leave()) throw WalkLost{error};
    Level& level = frames_.back().level;
    if (done.listed) {
        level.leftovers = true;
        return;
    }
    const std::string& name = done.name;
    const bool innerLeftovers = done.level.leftovers;
    const auto remove = [&] { return RemoveFolderAt(chain_.current(), name); };
    // A folder that keeps entries cannot be removed; unlocking the parent is useless then.
    const int error = innerLeftovers ? remove() : withWritableFolder(level, remove);
    if (error == 0 || error == error::kNotFound) return;
    level.leftovers = true;
    if (!innerLeftovers)
        recordIfStillThere(name, ErrorText(done.listError != 0 ? done.listError : error));
}

void FolderEmptier::handleEntry(Level& level, const FolderEntry& entry) {
    const std::string& name = entry.name;
    if (ReadsAsDotEntry(name)) {
        // A real entry whose name only looks like a dot entry (" ." is a valid Linux name)
        // is passed over like one, but it stays, so it is reported.
        level.leftovers = true;
        record(path_ + name, "Not deleted: the name reads as a folder's own entry");
        return;
    }
    if (guard_.mayBeSource(entry.inode) && keepSource(level, entry)) return;
    if (entry.attributes & attr::kLink) {
        handleLink(level, name);
    } else if (entry.attributes & attr::kFolder) {
        handleSubfolder(level, entry);
    } else if (entry.attributes & ~kDeletableMask) {
        level.leftovers = true;
        record(path_ + name, "Not deleted: its attributes keep it");
    } else {
        deleteFile(level, name);
    }
}

bool FolderEmptier::keepSource(Level& level, const FolderEntry& entry) {
    std::uint32_t attributes = 0;
    FileIdentity id;
    if (!EntryAttributesAt(chain_.current(), entry.name, attributes, &id) || !guard_.isSource(id))
        return false;
    level.leftovers = true;
    const bool folder = (attributes & attr::kFolder) && !(attributes & attr::kLink);
    record(path_ + entry.name + (folder ? std::string(1, platform::kSeparator) : std::string()),
           emptying_reason::kSourceKept);
    return true;
}

void FolderEmptier::handleLink(Level& level, const std::string& name) {
    // A link is never followed: it is removed as a link, and what it leads to is left
    // alone. A link that leads to a listed destination, or to a folder above one, is how
    // the user reaches that destination, so it stays.
    FileIdentity target;
    if (TargetIdentityAt(chain_.current(), name, target) && guard_.holdsDestination(target)) {
        level.leftovers = true;
        return;
    }
    path_.append(name);
    const int error = withWritableFolder(level, [&] { return DeleteEntryAt(chain_.current(), name); });
    if (error != 0 && recordIfStillThere(name, ErrorText(error))) level.leftovers = true;
}

void FolderEmptier::handleSubfolder(Level& level, const FolderEntry& entry) {
    const std::string& name = entry.name;
    path_.append(name);
    path_.push_back(platform::kSeparator);
    const int openError = chain_.enter(name, entry.inode);
    if (openError == error::kNotFound) return;  // vanished meanwhile: nothing to delete
    if (openError == error::kIsLink || openError == error::kChangedMeanwhile) {
        // Swapped since the listing: what is there now is not what was listed, so it is
        // left alone, whatever it leads to.
        level.leftovers = true;
        record(path_, emptying_reason::kChangedDuring);
        return;
    }
    if (openError != 0) {
        std::uint32_t attributes = 0;
        FileIdentity id;
        if (EntryAttributesAt(chain_.current(), name, attributes, &id) &&
            guard_.isListedDestination(id)) {
            level.leftovers = true;  // its own emptying reports it
            return;
        }
        // Cannot be opened (no read permission): an empty folder can still be removed.
        const auto remove = [&] { return RemoveFolderAt(chain_.current(), name); };
        const int error = withWritableFolder(level, remove);
        if (error != 0 && recordIfStillThere(name, ErrorText(openError))) level.leftovers = true;
        return;
    }
    const FileIdentity id = chain_.current().identity();
    if (guard_.isSource(id)) {
        if (int error = chain_.leave()) throw WalkLost{error};
        level.leftovers = true;
        record(path_, emptying_reason::kSourceKept);
        return;
    }
    // A listed subfolder is emptied here too, but what stays in it is recorded by its own
    // emptying (the callers empty every listed destination), so each leftover counts once.
    const bool listed = guard_.isListedDestination(id);
    if (listed && eachListedInTurn_) {
        if (int error = chain_.leave()) throw WalkLost{error};
        level.leftovers = true;
        return;
    }
    if (!listed && frames_.size() == 1 && writers_ > 1 && handOver(name)) return;
    // Its listing is walked next; finishSubfolder removes it afterwards.
    pushFrame(!listed, name, listed);
    if (listed) failures_ = nullptr;
}

FolderEmptier::ContentsOutcome FolderEmptier::emptyInside(const std::string& path, Folder top) {
    path_ = path;
    chain_.start(std::move(top));
    ContentsOutcome outcome;
    try {
        outcome.leftovers = emptyContents(true, &outcome.listError);
    } catch (const WalkLost& lost) {
        record(path_, ErrorText(lost.error));
        outcome.leftovers = true;
    }
    chain_ = FolderChain();
    return outcome;
}

bool FolderEmptier::handOver(const std::string& name) {
    HandedOver handed;
    handed.entry = frames_.front().next - 1;
    handed.name = name;
    handed.id = chain_.current().identity();
    handed.path = path_;
    if (int error = chain_.leave()) throw WalkLost{error};
    handedOver_.push_back(std::move(handed));
    return true;
}

void FolderEmptier::finishHandedOver(Level& top) {
    const Folder& start = chain_.current();
    // Each writer takes the next subfolder, opens it again from the start folder (it must
    // still be the folder checked, else it is left alone) and empties what is inside.
    RunEachAtOnce(handedOver_.size(), writers_, [&](size_t i) {
        HandedOver& handed = handedOver_[i];
        Folder folder;
        if (OpenSubfolder(start, handed.name, folder, handed.id.inode) != 0 ||
            !(folder.identity() == handed.id))
            return;
        handed.opened = true;
        FolderEmptier inside(guard_, &handed.failures, eachListedInTurn_, stop_);
        handed.outcome = inside.emptyInside(handed.path, std::move(folder));
        handed.stopped = inside.stopped();
    });
    // Back in listing order: each subfolder's records, then its removal.
    for (HandedOver& handed : handedOver_) {
        failures_ = &byEntry_[handed.entry];
        path_ = handed.path;
        failures_->insert(failures_->end(), handed.failures.begin(), handed.failures.end());
        if (!handed.opened) {
            // Swapped or gone since it was checked: what is there now is left alone.
            std::uint32_t attributes = 0;
            if (EntryAttributesAt(start, handed.name, attributes)) {
                top.leftovers = true;
                record(path_, emptying_reason::kChangedDuring);
            }
            continue;
        }
        if (handed.stopped) {
            stopped_ = true;
            top.leftovers = true;
            continue;
        }
        const auto remove = [&] { return RemoveFolderAt(chain_.current(), handed.name); };
        const bool innerLeftovers = handed.outcome.leftovers;
        const int error = innerLeftovers ? remove() : withWritableFolder(top, remove);
        if (error == 0 || error == error::kNotFound) continue;
        top.leftovers = true;
        if (!innerLeftovers)
            recordIfStillThere(handed.name, ErrorText(handed.outcome.listError != 0
                                                          ? handed.outcome.listError
                                                          : error));
    }
    handedOver_.clear();
}

void FolderEmptier::deleteFile(Level& level, const std::string& name) {
    path_.append(name);
    const int error = withWritableFolder(level, [&] { return DeleteEntryAt(chain_.current(), name); });
    if (error != 0 && recordIfStillThere(name, ErrorText(error))) level.leftovers = true;
}

// Runs `operation` (a deletion in the current folder) and, when it fails in a folder that
// is going to be removed, gives that folder owner write permission once and runs it again.
template <typename Operation>
int FolderEmptier::withWritableFolder(Level& level, Operation operation) {
    int error = operation();
    if (error == 0 || !level.willRemove || level.madeWritable) return error;
    level.madeWritable = true;
    if (MakeOpenFolderWritable(chain_.current()) != 0) return error;
    return operation();
}

// Records path_ (the entry `name` of the current folder) when that entry is still there.
bool FolderEmptier::recordIfStillThere(const std::string& name, const std::string& reason) {
    std::uint32_t attributes = 0;
    if (!EntryAttributesAt(chain_.current(), name, attributes)) return false;
    record(path_, reason);
    return true;
}

void FolderEmptier::record(const std::string& path, const std::string& reason) {
    if (failures_) failures_->push_back({path, reason});
}

// Empties the destination `path`; `index` is its entry in the guard's list, or -1. Its
// subfolders are emptied by `treeWriters` writers at once (0: as many as its device takes).
// Returns true when a stop request cut it short.
bool EmptyOne(const std::string& path, int index, const EmptyingGuard& guard,
              std::vector<Failure>* failures, bool eachListedInTurn,
              const std::atomic<bool>* stop = nullptr, int treeWriters = 0) {
    // An empty path names no folder; with a separator added it would name the root.
    if (path.empty()) return false;
    const std::string shown = WithTrailingSeparator(path);
    FileIdentity resolved;
    const bool hadFolder = index >= 0 && guard.destinationIdentity(index, resolved);
    Folder top;
    if (int error = OpenFolder(path, top)) {
        if (!failures) return false;
        // A folder there when the run began that is gone now (or no folder): deleted or
        // moved away meanwhile, perhaps with a link on its path.
        if (hadFolder && (error == error::kNotFound || error == error::kNotAFolder))
            failures->push_back({shown, emptying_reason::kGoneSinceStart});
        else if (error != error::kNotFound || IsExistingFolder(path))
            // A folder that is there but cannot be opened under this spelling is not
            // emptied: said, never passed over as if it had been.
            failures->push_back({shown, ErrorText(error)});
        return false;
    }
    const FileIdentity id = top.identity();
    if (guard.isFileSystemRoot(id) || IsFileSystemRootFolder(top)) {
        if (failures) failures->push_back({shown, emptying_reason::kRootRefused});
        return false;
    }
    if (hadFolder && !(resolved == id)) {
        // The path leads somewhere else than when the run began (a folder swapped for a
        // link to another place): that place was never chosen.
        if (failures) failures->push_back({shown, emptying_reason::kChangedDuring});
        return false;
    }
    if (guard.isSource(id)) {
        if (failures) failures->push_back({shown, emptying_reason::kSourceKept});
        return false;
    }
    const int first = guard.firstDestinationWith(id);
    // The same folder listed in another spelling before this one records what stays.
    if (first != -1 && index != -1 && first < index) failures = nullptr;
    // A link listed with the separator ("link/") is still the link: look at it without one.
    std::string entryPath = path;
    while (entryPath.size() > 1 && platform::IsSeparator(entryPath.back())) entryPath.pop_back();
    std::uint32_t attributes = 0;
    const bool isLink = GetAttributes(entryPath, attributes) && (attributes & attr::kLink) != 0;
    const bool remove = first == -1 && !isLink;
    // Writers inside this folder; 0 for the choice its device makes.
    const int writers = treeWriters > 0 ? treeWriters : WritersForDevice(id.device, 0);
    FolderEmptier emptier(guard, failures, eachListedInTurn, stop, writers);
    emptier.run(path, std::move(top), remove);
    return emptier.stopped();
}

}  // namespace

void EmptyFolder(const std::string& path, const EmptyingGuard& guard,
                 std::vector<Failure>* failures) {
    EmptyOne(path, guard.destinations().find(path), guard, failures, false);
}

void EmptyFolder(const std::string& path, const PathList& destinations,
                 std::vector<Failure>* failures) {
    const EmptyingGuard guard(destinations);
    EmptyFolder(path, guard, failures);
}

bool EmptyDestinations(const PathList& destinations, const PathList& sources,
                       std::vector<Failure>* failures, const std::atomic<bool>* stop,
                       int maxWriters) {
    const EmptyingGuard guard(destinations, &sources);
    // One step per listed folder (a folder listed again in another spelling is emptied at
    // its first entry), one queue per device. Folders that hold one another keep their
    // order; the others are emptied at once, each recording apart, put back in list order.
    // With one writer in all, one queue holds every folder, in list order.
    const bool oneWriter = maxWriters == 1;
    std::vector<int> listed;
    std::vector<FolderFootprint> footprints;
    std::vector<std::uint64_t> devices;
    std::vector<int> queueOf;
    for (int i = 0; i < destinations.count(); ++i) {
        FileIdentity id;
        const bool resolved = guard.destinationIdentity(i, id);
        if (resolved && guard.firstDestinationWith(id) < i) continue;
        listed.push_back(i);
        const std::uint64_t device = oneWriter || !resolved ? 0 : id.device;
        auto found = std::find(devices.begin(), devices.end(), device);
        if (found == devices.end()) found = devices.insert(devices.end(), device);
        queueOf.push_back(static_cast<int>(found - devices.begin()));
        if (!oneWriter) footprints.push_back(FootprintOf(destinations.at(i)));
    }
    std::vector<int> writersPerQueue, onQueue;
    for (size_t q = 0; q < devices.size(); ++q) {
        writersPerQueue.push_back(oneWriter ? 1 : WritersForDevice(devices[q], maxWriters));
        onQueue.push_back(static_cast<int>(std::count(queueOf.begin(), queueOf.end(), static_cast<int>(q))));
    }
    std::vector<std::vector<Failure>> records(listed.size());
    std::atomic<bool> stopped{false};
    std::vector<EngineStep> steps;
    for (size_t k = 0; k < listed.size(); ++k) {
        const auto queue = static_cast<size_t>(queueOf[k]);
        // The device's writers not taken by its other folders work inside this one.
        const int inside = std::max(1, writersPerQueue[queue] / std::max(1, onQueue[queue]));
        steps.push_back({queueOf[k], [&, k, inside] {
                             if (stopped.load() || (stop && stop->load())) {
                                 stopped = true;
                                 return;
                             }
                             if (EmptyOne(destinations.at(listed[k]), listed[k], guard,
                                          failures ? &records[k] : nullptr, true, stop,
                                          oneWriter ? 1 : inside))
                                 stopped = true;
                         }});
    }
    // With one writer in all the steps run in order and are never compared.
    RunSteps(steps, writersPerQueue, [&](size_t earlier, size_t later) {
        return FootprintsOverlap(footprints[earlier], footprints[later]);
    });
    if (failures) {
        for (std::vector<Failure>& part : records)
            failures->insert(failures->end(), part.begin(), part.end());
    }
    return stopped.load();
}

}  // namespace ostrivane
