// Emptying of destination folders.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/copy_run.h"
#include "core/fsops.h"
#include "core/path_list.h"

namespace ostrivane {

// What an emptying must leave in place, resolved once before anything is deleted: the
// listed destinations, recognised by identity whatever their spelling (with or without the
// trailing separator, a doubled separator, reached through a link), and every folder above
// one of them, so that a link the user reaches a destination through stays; the listed
// sources, neither of which may be deleted; and the file-system root, which is never
// emptied.
class EmptyingGuard {
  public:
    // `sources` may be null: then no source is protected.
    explicit EmptyingGuard(const PathList& destinations, const PathList* sources = nullptr);

    const PathList& destinations() const { return destinations_; }
    // True when the folder is a listed destination.
    bool isListedDestination(const FileIdentity& id) const;
    // True when the folder is a listed destination or lies above one: on the path it was
    // listed under (each folder that path passes through, links followed: "x/ln" of
    // "x/ln/sub") or above the place it really is. Also for an entry that named nothing when
    // the guard was made ("x/ln" of a missing "x/ln/new").
    bool holdsDestination(const FileIdentity& id) const {
        return isListedDestination(id) || above_.count(id) != 0;
    }
    // True when the entry (or what a listed link leads to) is a listed source.
    bool isSource(const FileIdentity& id) const;
    // Quick pre-test on an inode a listing gave: false means certainly no source.
    bool mayBeSource(std::uint64_t inode) const { return sourceInodes_.count(inode) != 0; }
    bool isFileSystemRoot(const FileIdentity& id) const { return hasRoot_ && id == root_; }
    // Identity of the destination entry `index` as it was when the guard was made; false
    // when it named no folder then.
    bool destinationIdentity(int index, FileIdentity& id) const;
    // Index of the first listed destination of that identity, or -1.
    int firstDestinationWith(const FileIdentity& id) const;

  private:
    struct IdentityHash {
        std::size_t operator()(const FileIdentity& id) const {
            return std::hash<std::uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
        }
    };
    const PathList& destinations_;
    std::vector<std::optional<FileIdentity>> destinationIds_;  // per entry; none when it named nothing
    // First listed entry of each identity: a walk asks once per folder it meets.
    std::unordered_map<FileIdentity, int, IdentityHash> firstIndex_;
    std::unordered_set<FileIdentity, IdentityHash> above_;  // folders above a listed entry
    std::vector<FileIdentity> sourceIds_;
    std::unordered_set<std::uint64_t> sourceInodes_;
    FileIdentity root_;
    bool hasRoot_ = false;
};

// Deletes everything below `path` that may be deleted and removes emptied subfolders, but
// never removes a folder that is a listed destination (compared by identity). `path`
// itself is removed too unless it is a listed destination or a link (a link is emptied
// through; what it leads to is emptied, the link stays). The walk opens every folder
// relative to its parent and never through a link: a link below `path` is removed as a
// link and what it leads to is left alone, unless it leads to a listed destination or to a
// folder above one (then it stays). The file-system root is never emptied. A listed
// source, or a folder that holds one, is never deleted: it stays and is recorded once. A
// subfolder that vanishes during the walk is passed over; one swapped for a link or another
// folder meanwhile stays and is recorded. A listed destination that named a folder when
// the guard was made and is gone now (or no folder) is recorded as
// emptying_reason::kGoneSinceStart.
// Every entry still present afterwards, and every folder that could not be removed for
// another reason than being listed or still holding such entries, is appended to
// *failures when given, except inside a subfolder that is listed itself: that
// destination's own emptying records them, so that a caller emptying every listed
// destination records each path once. When `path` is listed more than once in several
// spellings, only the emptying of its first entry records. Raises nothing.
void EmptyFolder(const std::string& path, const EmptyingGuard& guard,
                 std::vector<Failure>* failures = nullptr);

// As above with a guard of `destinations` alone (no source protected).
void EmptyFolder(const std::string& path, const PathList& destinations,
                 std::vector<Failure>* failures = nullptr);

// Empties every listed destination in list order (a folder listed in several spellings
// once), keeping the listed sources; no listed destination is removed. The run engine
// empties folders on several devices (or on a device that takes several writers) at once,
// and the subfolders of each folder too; folders that hold one another keep their order,
// and the records come in list order as one writer makes them. `maxWriters` as in
// RunOptions (1: one writer in all). Once `stop` is set
// (by another thread), no further entry is deleted; returns true when that cut the
// emptying short. Raises nothing.
bool EmptyDestinations(const PathList& destinations, const PathList& sources,
                       std::vector<Failure>* failures = nullptr,
                       const std::atomic<bool>* stop = nullptr, int maxWriters = 0);

// The reasons an emptying records for what it keeps on purpose.
namespace emptying_reason {
extern const char* const kSourceKept;      // a listed source or a folder that holds one
extern const char* const kRootRefused;     // the whole file system
extern const char* const kChangedDuring;   // swapped for a link or another folder meanwhile
extern const char* const kGoneSinceStart;  // a listed destination gone since the run began
}  // namespace emptying_reason

}  // namespace ostrivane
