// The rules by which a path that the user names joins the source or the destination list,
// shared by the front ends (the window's commands, picker and drops, the command line) and
// the list-file imports: which paths are taken, in which form, which are refused, and when
// two spellings are one entry. On Windows every path named here is taken with its "/"
// written as "\" (NativeSeparators), so that "C:/x" and "C:\x" are one entry and every rule
// that looks at separators or drive roots sees one spelling.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/fsops.h"
#include "core/path_list.h"

namespace ostrivane {

// What became of one named path.
enum class IntakeOutcome {
    Added,          // the path (in the form the list keeps) was appended
    AlreadyListed,  // it was there already; the list is unchanged
    RootRefused,    // it names the whole file system; the list is unchanged
    Missing,        // it names nothing (or, for a destination, no folder)
};

// Which list a ListedEntries keeps; the two say differently when two paths are one entry.
enum class ListRole { Sources, Destinations };

// A path list with what each entry names, so that one folder or file named in several
// spellings ("d1", "d1/", "/abs/d1", "d1//", a link to it) is listed once.
//
// Two paths name the same thing when they have one identity (device and inode, links
// followed), or, where the file system may fold names (FolderFoldsNames: exFAT, FAT, FUSE,
// ...; there identities can differ by spelling, as exfat-fuse gives each spelling its own
// inode), when their canonical paths are equal without ASCII letter case, unless a folder
// on the way lists both spellings as entries of its own (then they are two).
//
// A destination is listed when another entry names the same folder. A source is listed
// only when another entry names the same file or folder AND would be copied under the same
// name: a link "photos-link" to "photos" is a source of its own, copied as photos-link.
// Entries that name nothing are compared by their text alone.
class ListedEntries {
  public:
    // Looks at every entry `list` holds now. `list` must outlive this object and change
    // only through it while this object is used.
    ListedEntries(PathList& list, ListRole role);
    ListedEntries(const ListedEntries&) = delete;
    ListedEntries& operator=(const ListedEntries&) = delete;

    PathList& list() const { return list_; }

    // Index of the entry that `path` names again by the rules above (its exact text first,
    // without a look at the disk), or -1.
    int find(const std::string& path);
    // Appends `path` unchanged unless find(path) finds it; whether it appended.
    bool addIfAbsent(const std::string& path);

    // An entry that is what `path` names, or a folder that holds it at any depth (through
    // any spelling, link or mount of a folder on the way), whatever the entries' names.
    // `path` need not exist; then its folder is where the look starts.
    struct Holder {
        int index = -1;       // -1: no entry holds it
        bool itself = false;  // the entry is `path` itself, not a folder above it
    };
    Holder findHolder(const std::string& path);

  private:
    // What a path names, as far as the comparison needs it.
    struct Place {
        bool known = false;  // the path names something
        FileIdentity id;
        bool folds = false;     // on a file system that may fold names
        std::string canonical;  // only when `folds`
    };
    Place placeOf(const std::string& path);
    // Whether the file system of `path` (on `device`) may fold names; asked once a device.
    bool mayFold(const std::string& path, std::uint64_t device);
    // The entry with the smallest index that names `place`; with `name`, only an entry
    // that would be copied under that name.
    int findPlace(const Place& place, const std::string* name) const;
    void index(int i, Place place);

    struct IdentityHash {
        std::size_t operator()(const FileIdentity& id) const {
            return std::hash<std::uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
        }
    };

    PathList& list_;
    ListRole role_;
    std::vector<Place> places_;  // per entry
    std::unordered_multimap<FileIdentity, int, IdentityHash> byIdentity_;
    std::unordered_multimap<std::string, int> byFoldedPath_;
    std::unordered_map<std::uint64_t, bool> foldsOnDevice_;
};

// True when a copy run must not take the path as a source or a destination because it
// names the whole file system: spelled as a drive root (IsDriveRoot) or leading there in
// any other spelling or through a link (IsFileSystemRoot).
bool IsWholeFileSystem(const std::string& path);

// A source named by the user. A folder (a link to a folder counts) is kept with the
// trailing separator, as the window's add-folder command keeps it, and is refused when it
// is the whole file system; any other existing entry (a file) is kept exactly as named.
// The path is added only when `sources` does not list it (ListedEntries). Nothing is added
// for a path that names nothing.
IntakeOutcome AddNamedSource(const std::string& path, ListedEntries& sources);
IntakeOutcome AddNamedSource(const std::string& path, PathList& sources);

// A source chosen in one of the window's dialogs (add files, add folder), taken as the dialog
// gave it without a look whether it exists: a folder (`isFolder`) with the trailing
// separator, refused when it is the whole file system; added unless `sources` lists it.
IntakeOutcome AddChosenSource(const std::string& path, bool isFolder, ListedEntries& sources);

// A path dropped onto the source list: appended as it is, neither tested for duplicates nor
// for existence (a drop adds exactly what was dropped), unless it is the whole file
// system (RootRefused).
IntakeOutcome AppendDroppedSource(const std::string& path, PathList& sources);

// How far below a named destination folder the list reaches.
struct DestinationReach {
    bool allSubfolders = false;  // the folder and every folder below it (IndexDisk)
    int depth = 0;               // otherwise the folder and `depth` levels below it
                                 // (IndexDisk2: 0 the folder alone, negative nothing)
};

// Why `path` cannot be a destination folder: RootRefused (the whole file system), Missing
// (no folder); nullopt when it can be one.
std::optional<IntakeOutcome> DestinationRefusal(const std::string& path);

// A destination folder named by the user: it must name an existing folder other than the
// whole file system; it is kept with the trailing separator, with the folders below it as
// `reach` says (discovery order), each added when `destinations` does not list that folder
// yet (ListedEntries). `repaint` runs after each visited folder, when the folder is in the
// list; `stop` (when not null) ends the walk early. Returns Added when the walk added at
// least one folder, AlreadyListed when it added none (everything was listed, or a negative
// depth), and RootRefused or Missing (a file, a missing path) with the list unchanged.
IntakeOutcome AddNamedDestination(const std::string& path, const DestinationReach& reach,
                                  ListedEntries& destinations,
                                  const std::function<void()>& repaint = {},
                                  const std::atomic<bool>* stop = nullptr);
IntakeOutcome AddNamedDestination(const std::string& path, const DestinationReach& reach,
                                  PathList& destinations,
                                  const std::function<void()>& repaint = {});

}  // namespace ostrivane
