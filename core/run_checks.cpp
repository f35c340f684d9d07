#include "core/run_checks.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/folder_walk.h"
#include "core/fsops.h"
#include "core/tree_copy.h"

namespace ostrivane {
namespace {

[[noreturn]] void CannotEnter(int error, const std::string& path) {
    EInOutError raised = InOutErrorFromOs(error);
    raised.path = path;
    throw raised;
}

// True when the run refuses the folder source as the whole file system (CopySource): the
// root in any spelling, or a name of "." or ".." that stands for a drive root.
bool RefusedAsWholeDrive(const std::string& source) {
    if (IsFileSystemRoot(source)) return true;
    std::string_view trimmed = source;
    while (!trimmed.empty() && trimmed.back() == platform::kSeparator) trimmed.remove_suffix(1);
    const std::string_view name = trimmed.substr(trimmed.rfind(platform::kSeparator) + 1);
    if (name != "." && name != "..") return false;
    const std::string canonical = CanonicalPath(source);
    return canonical.empty() || IsDriveRoot(canonical);
}

// One folder of the walk: its listing, how far the walk has come through it, and the
// length of the shown path at this folder (separator included).
struct Level {
    std::vector<FolderEntry> entries;
    size_t next = 0;
    size_t pathLength = 0;
};

void CheckTree(const std::string& source, const std::atomic<bool>* stop) {
    // Entering the source itself, as the copy tests it: a folder, with search permission.
    std::uint32_t attributes = 0;
    if (!IsExistingFolder(source))
        CannotEnter(GetAttributes(source, attributes) ? error::kNotAFolder : error::kNotFound,
                    source);
    if (int error = CheckSearchPermission(source)) CannotEnter(error, source);
    Folder top;
    std::vector<FolderEntry> entries;
    int error = OpenFolder(source, top);
    if (error == 0) error = ReadFolder(top, entries);
    if (error == error::kAccessDenied) return;  // entered, not listed: the copy records it
    if (error != 0) CannotEnter(error, source);

    // The shown path: the source as listed without one trailing separator, then a
    // separator and a name per level.
    std::string path = source;
    if (!path.empty() && path.back() == platform::kSeparator) path.pop_back();
    path.push_back(platform::kSeparator);
    std::vector<Level> levels;
    levels.push_back({std::move(entries), 0, path.size()});
    FolderChain chain;
    chain.start(std::move(top));
    while (!levels.empty()) {
        if (stop && stop->load()) return;
        Level& level = levels.back();
        if (level.next == level.entries.size()) {
            levels.pop_back();
            if (levels.empty()) break;
            path.resize(levels.back().pathLength);
            // The tree moved away meanwhile: the copy records that and goes on.
            if (chain.leave() != 0) return;
            continue;
        }
        const FolderEntry& entry = level.entries[level.next++];
        if (ClassifyEntry({entry.name, entry.attributes}) != 1 || (entry.attributes & attr::kLink))
            continue;
        path.resize(level.pathLength);
        path.append(entry.name);
        // As the copy tests a subfolder: gone, a link or no folder now is passed over; any
        // other reason it cannot be entered ends the run.
        error = CanEnterAt(chain.current(), entry.name);
        if (error == error::kNotFound || error == error::kIsLink || error == error::kNotAFolder)
            continue;
        if (error != 0) CannotEnter(error, path);
        error = chain.enter(entry.name, entry.inode);
        if (error == error::kNotFound || error == error::kIsLink ||
            error == error::kChangedMeanwhile || error == error::kNotAFolder ||
            error == error::kAccessDenied)
            continue;
        if (error != 0) CannotEnter(error, path);
        std::vector<FolderEntry> below;
        if (chain.currentIsAncestor() || ReadFolder(chain.current(), below) != 0) {
            if (chain.leave() != 0) return;
            continue;
        }
        path.push_back(platform::kSeparator);
        // `level` is not used after this: the push may move it.
        levels.push_back({std::move(below), 0, path.size()});
    }
}

}  // namespace

void CheckSourcesCanBeEntered(const PathList& sources, const std::atomic<bool>* stop) {
    for (const std::string& source : sources.entries()) {
        if (stop && stop->load()) return;
        // A source that is no folder (or names nothing) is copied, or fails, as a file.
        if (source.empty() || !IsExistingFolder(source) || RefusedAsWholeDrive(source)) continue;
        CheckTree(source, stop);
    }
}

}  // namespace ostrivane
