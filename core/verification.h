// The check of a run's copies after its flush: every copy read back from its device and
// compared with the source's bytes as the copy read them, and the list of those hashes.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/copy_run.h"
#include "core/fsops.h"
#include "core/run_control.h"

namespace ostrivane {

// The copies a run made (what CopyFileAt told through PlacedCopy), noted by destination.
// add() may be called by several writers at once.
class CopyLedger {
  public:
    explicit CopyLedger(int destinations);

    // Notes the copy `name` in the folder `folderPath` (shown, ending with the separator)
    // of destination `index`, made from the source at `sourcePath`.
    void add(int index, const std::string& folderPath, const std::string& name,
             const std::string& sourcePath, const PlacedCopy& placed);

    struct Copy {
        std::uint32_t folder = 0;  // index into the destination's folders
        std::string name;
        // The source's path, read again when the copy differs from the hash taken as it was
        // copied (a source changed without a new modification time is told from a wrong
        // copy): its folder part, an index into the destination's sourceFolders, and its
        // name where that is not the copy's.
        std::uint32_t sourceFolder = 0;
        std::string sourceName;
        PlacedCopy placed;
        std::uint64_t sequence = 0;  // the order of the run's copies
        // A later copy of the run took this one's place (two sources of one name under
        // Overwrite, nested destinations): only the later one is checked and listed.
        bool superseded = false;
    };
    struct Destination {
        std::mutex mutex;
        std::vector<std::string> folders;  // each folder's path once
        std::unordered_map<std::string, std::uint32_t> folderIndex;
        std::vector<std::string> sourceFolders;  // each source folder's path once
        std::unordered_map<std::string, std::uint32_t> sourceFolderIndex;
        std::vector<Copy> copies;
        // The path of the source of `copy`.
        std::string sourceOf(const Copy& copy) const {
            return sourceFolders[copy.sourceFolder] +
                   (copy.sourceName.empty() ? copy.name : copy.sourceName);
        }
    };
    // Destination `index`'s copies; for reading once the writers are done.
    Destination& destination(int index) { return destinations_.at(static_cast<size_t>(index)); }
    int destinations() const { return static_cast<int>(destinations_.size()); }
    // Sorts each destination's copies by folder and name, so that the outcome and the
    // failures come in one order whatever order the writers made them in, and marks the
    // copies that a later copy to the same file replaced: one path of one destination, or
    // one place reached through several destinations (`roots`, each destination as
    // listed: nested, or one folder through a link or a bind mount).
    void sort(const std::vector<std::string>& roots = {});

  private:
    std::deque<Destination> destinations_;
    std::atomic<std::uint64_t> sequence_{0};
};

// The outcome of a check.
struct VerifyOutcome {
    std::vector<std::vector<Failure>> failures;  // per destination, by path
    std::uint64_t copiesVerified = 0;            // copies read back equal to their sources
    // Per destination: the sizes of the copies the check removed (they stand no more).
    std::vector<std::vector<std::uint64_t>> removed;
    bool stopped = false;                        // the stop request ended the check
};

// Reads back every copy of the sorted `ledger` from its device and compares its length and
// hash with the source's. The devices (run.deviceOf) are checked at once, device d by
// readersPerDevice[d] readers (1 where the list is shorter); one reader in all when
// `oneReader`. A copy that differs is a failure with run_reason::kVerifyFailed: a copy
// made under a name that was free is removed (only when that name still stands for it), so
// nothing wrong stays under a final name; one that replaced a file stays, with
// run_reason::kVerifyFailedReplaced. A copy that cannot be read back (or is no longer the
// file the run made) is a failure with the platform's reason. Once `stop` is set no new
// copy is read and the outcome says so; those not read are neither failures nor verified.
VerifyOutcome VerifyCopies(CopyLedger& ledger, RunControl& run,
                           const std::vector<int>& readersPerDevice, bool oneReader,
                           const std::atomic<bool>* stop);

// The hashes of the copies in the sorted `ledger`, each by its path relative to its
// destination folder (`destinations[d]`, shown, ending with the separator; an empty entry
// names none), in path order: one list that holds in every destination, so only a path
// copied into every destination, from sources of one content, and with no failure of the
// run's `failures` at it or at a folder above it in any destination (a failure's path taken
// relative to each destination that holds it); listed once. What it leaves out is counted
// in *leftOut when given. A file kept under its name, or copied under a numbered one,
// in one destination is missing from that destination's ledger under the path the others
// have, and so left out.
std::vector<FileHash> HashesOf(CopyLedger& ledger, const std::vector<std::string>& destinations,
                               std::span<const Failure> failures, HashesLeftOut* leftOut = nullptr);

}  // namespace ostrivane
