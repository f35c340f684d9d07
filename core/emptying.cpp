#include "core/emptying.h"

#include <cstdint>
#include <string_view>

#include "core/fsops.h"

namespace ostrivane {

namespace {

// Every search of the emptying asks for all entries: hidden, system and folders included.
constexpr std::uint32_t kAllEntries = 0x3F;
// An entry that is not a folder is deleted only when its attribute word has no bit outside
// this mask.
constexpr std::uint32_t kDeletableMask = 0x3F;

// True when the name, once every leading and trailing character up to 0x20 is ignored,
// reads "." or "..": the folder's own entry or its parent's.
bool ReadsAsDotEntry(std::string_view name) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!name.empty() && blank(name.front())) name.remove_prefix(1);
    while (!name.empty() && blank(name.back())) name.remove_suffix(1);
    return name == "." || name == "..";
}

// Empties one destination. A single path buffer grows by one component per level and
// shrinks back, so the walk copies no strings besides it; every deletion is made relative
// to the open search of the folder that holds the entry.
class FolderEmptier {
  public:
    FolderEmptier(const PathList& destinations, std::vector<Failure>* failures)
        : destinations_(destinations), failures_(failures) {}

    // Empties the folder `path` and removes it unless it is listed.
    void run(const std::string& path);

  private:
    // What the emptying of one folder level knows about that folder.
    struct Level {
        const SearchRec& search;  // the open listing of the folder
        size_t folderLength;      // length of path_ for the folder, "/" included
        bool willRemove;          // the folder is removed afterwards (not listed, no link)
        bool madeWritable = false;
        bool leftovers = false;  // something stays inside, so the folder cannot go
    };

    // Deletes what may be deleted inside the folder path_ (which ends with "/"). Returns
    // true when something stays inside; *listError gets the error number when the folder
    // could not be listed at all.
    bool emptyContents(bool willRemove, int* listError);
    void handleEntry(Level& level, const SearchEntry& entry);
    void handleLink(Level& level, const std::string& name);
    void handleSubfolder(Level& level, const std::string& name);
    void emptySubfolder(Level& level, const std::string& name, bool listed);
    void deleteFile(Level& level, const SearchEntry& entry);
    // Runs `operation` (a deletion in the level's folder) and, when it fails in a folder
    // that is going to be removed, gives that folder owner write permission once and runs
    // it again. Returns the operation's last result.
    template <typename Operation>
    int withWritableFolder(Level& level, Operation operation);
    // Records what could not be done to the entry path_ when that entry is still there.
    // Returns whether it is still there.
    bool recordIfStillThere(const std::string& reason);
    void record(const std::string& path, const std::string& reason);
    bool isListed(std::string_view path) const { return destinations_.find(path) != -1; }
    // True when the folder or link path_ (ending with the separator) is listed in either
    // form, so that it has an emptying of its own.
    bool hasOwnEmptying() const;

    const PathList& destinations_;
    std::vector<Failure>* failures_;
    std::string path_;
};

void FolderEmptier::run(const std::string& path) {
    path_ = WithTrailingSeparator(path);
    const bool listed = isListed(path_);
    // The same folder listed with the separator records what stays when its entry is emptied.
    if (listed && path_ != path) failures_ = nullptr;
    // A link given as the destination is emptied through, but the link itself is what the
    // user listed, so it stays in either form (and its target folder is not made writable).
    std::uint32_t attributes = 0;
    const bool isLink = GetAttributes(path_.substr(0, path_.size() - 1), attributes) &&
                        (attributes & attr::kLink) != 0;
    int listError = 0;
    const bool leftovers = emptyContents(!listed && !isLink, &listError);
    if (listError != 0 && !GetAttributes(path_, attributes)) return;  // no such folder
    if (listed || isLink) {
        if (listError != 0) record(path_, ErrorText(listError));
        return;
    }
    const int error = RemoveFolder(path_);
    // A folder that still holds recorded leftovers needs no record of its own.
    if (error == 0 || leftovers) return;
    recordIfStillThere(ErrorText(listError != 0 ? listError : error));
}

bool FolderEmptier::emptyContents(bool willRemove, int* listError) {
    SearchRec search;
    const size_t folderLength = path_.size();
    path_.push_back('*');
    const bool found = SearchFirst(path_, kAllEntries, search, SearchDetail::TypeOnly);
    path_.pop_back();
    if (!found) {
        *listError = search.error;
        return false;
    }
    Level level{search, folderLength, willRemove};
    do {
        handleEntry(level, search.entry);
        path_.resize(folderLength);
    } while (SearchNext(search));
    return level.leftovers;
}

void FolderEmptier::handleEntry(Level& level, const SearchEntry& entry) {
    const std::string& name = entry.name;
    if (ReadsAsDotEntry(name)) {
        // A real entry whose name only looks like a dot entry (" ." is a valid Linux name)
        // is passed over like one, but it stays, so it is reported.
        if (name != "." && name != "..") {
            level.leftovers = true;
            record(path_ + name, "Not deleted: the name reads as a folder's own entry");
        }
        return;
    }
    if (entry.attributes & attr::kLink) {
        handleLink(level, name);
    } else if (entry.attributes & attr::kFolder) {
        handleSubfolder(level, name);
    } else if (entry.attributes & ~kDeletableMask) {
        level.leftovers = true;
        record(path_ + name, "Not deleted: its attributes keep it");
    } else {
        deleteFile(level, entry);
    }
}

void FolderEmptier::handleLink(Level& level, const std::string& name) {
    // A link is never followed: it is removed as a link, and what it points to is left
    // alone. A link that is itself a listed destination (in either form) stays.
    path_.append(name);
    path_.push_back(platform::kSeparator);
    const bool listed = hasOwnEmptying();
    path_.pop_back();
    if (listed) {
        level.leftovers = true;
        return;
    }
    const int error =
        withWritableFolder(level, [&] { return DeleteEntryOfSearch(level.search, name); });
    if (error != 0 && recordIfStillThere(ErrorText(error))) level.leftovers = true;
}

void FolderEmptier::handleSubfolder(Level& level, const std::string& name) {
    path_.append(name);
    path_.push_back(platform::kSeparator);
    // A listed subfolder is emptied here too, but what stays in it is recorded by its own
    // emptying (the callers empty every listed destination), so each leftover counts once.
    const bool ownEmptying = hasOwnEmptying();
    std::vector<Failure>* const recording = failures_;
    if (ownEmptying) failures_ = nullptr;
    emptySubfolder(level, name, ownEmptying && isListed(path_));
    failures_ = recording;
}

void FolderEmptier::emptySubfolder(Level& level, const std::string& name, bool listed) {
    int listError = 0;
    const bool innerLeftovers = emptyContents(!listed, &listError);
    if (listed) {
        level.leftovers = true;
        return;
    }
    const auto remove = [&] { return RemoveFolderOfSearch(level.search, name); };
    // A folder that keeps entries cannot be removed; trying to unlock the parent is useless.
    const int error = innerLeftovers ? remove() : withWritableFolder(level, remove);
    if (error == 0) return;
    std::uint32_t attributes = 0;
    if (!GetAttributes(path_, attributes)) return;  // vanished meanwhile
    level.leftovers = true;
    if (!innerLeftovers) record(path_, ErrorText(listError != 0 ? listError : error));
}

void FolderEmptier::deleteFile(Level& level, const SearchEntry& entry) {
    path_.append(entry.name);
    // Where the platform reports the read-only bit it has to go before the deletion.
    if (entry.attributes & attr::kReadOnly)
        SetAttributes(path_, entry.attributes & ~attr::kReadOnly);
    const int error =
        withWritableFolder(level, [&] { return DeleteEntryOfSearch(level.search, entry.name); });
    if (error != 0 && recordIfStillThere(ErrorText(error))) level.leftovers = true;
}

template <typename Operation>
int FolderEmptier::withWritableFolder(Level& level, Operation operation) {
    int error = operation();
    if (error == 0 || !level.willRemove || level.madeWritable) return error;
    level.madeWritable = true;
    if (MakeFolderWritable(path_.substr(0, level.folderLength)) != 0) return error;
    return operation();
}

bool FolderEmptier::hasOwnEmptying() const {
    const std::string_view folder = path_;
    return isListed(folder) || isListed(folder.substr(0, folder.size() - 1));
}

bool FolderEmptier::recordIfStillThere(const std::string& reason) {
    std::uint32_t attributes = 0;
    if (!GetAttributes(path_, attributes)) return false;
    record(path_, reason);
    return true;
}

void FolderEmptier::record(const std::string& path, const std::string& reason) {
    if (failures_) failures_->push_back({path, reason});
}

}  // namespace

void EmptyFolder(const std::string& path, const PathList& destinations,
                 std::vector<Failure>* failures) {
    // An empty path names no folder; with a separator added it would name the root.
    if (path.empty()) return;
    FolderEmptier(destinations, failures).run(path);
}

}  // namespace ostrivane
