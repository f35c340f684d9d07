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
    while (!trimmed.empty() && platform::IsSeparator(trimmed.back())) trimmed.remove_suffix(1);
    const std::string_view name = trimmed.substr(trimmed.find_last_of(platform::kSeparators) + 1);
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
    if (!path.empty() && platform::IsSeparator(path.back())) path.pop_back();
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

namespace {

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Adds the files of the folder tree `source` to *amount; false when cancelled.
bool CountTree(const std::string& source, SourceAmount& amount, const std::atomic<bool>* cancel) {
    Folder top;
    std::vector<FolderEntry> entries;
    if (OpenFolder(source, top) != 0 || ReadFolder(top, entries) != 0) return true;
    std::vector<Level> levels;
    levels.push_back({std::move(entries), 0, 0});
    FolderChain chain;
    chain.start(std::move(top));
    while (!levels.empty()) {
        if (Cancelled(cancel)) return false;
        Level& level = levels.back();
        if (level.next == level.entries.size()) {
            levels.pop_back();
            if (!levels.empty() && chain.leave() != 0) return true;  // the tree moved away
            continue;
        }
        const FolderEntry& entry = level.entries[level.next++];
        // ClassifyEntry: 0 a file, 1 a real subfolder, 2 a dot entry.
        const int kind = ClassifyEntry({entry.name, entry.attributes});
        if (kind == 2) continue;
        if (kind == 0) {
            std::uint64_t size = 0;
            if (FileSizeAt(chain.current(), entry.name, size)) {
                ++amount.files;
                amount.bytes += size;
            }
            continue;
        }
        if (entry.attributes & attr::kLink) continue;  // the copy does not follow it
        if (chain.enter(entry.name, entry.inode) != 0) continue;
        std::vector<FolderEntry> below;
        if (chain.currentIsAncestor() || ReadFolder(chain.current(), below) != 0) below.clear();
        levels.push_back({std::move(below), 0, 0});
    }
    return true;
}

}  // namespace

SourceAmount CountSources(const PathList& sources, const std::atomic<bool>* cancel) {
    SourceAmount amount;
    for (const std::string& source : sources.entries()) {
        if (Cancelled(cancel)) return amount;
        if (source.empty()) continue;
        if (IsExistingFolder(source)) {
            if (RefusedAsWholeDrive(source)) continue;
            if (!CountTree(source, amount, cancel)) return amount;
            continue;
        }
        // A file: its size through its folder, as the copy opens it.
        const std::string name = FileNamePart(source);
        std::string folderPath(source, 0, source.size() - name.size());
        if (folderPath.empty()) folderPath = ".";
        Folder folder;
        std::uint64_t size = 0;
        if (!name.empty() && OpenFolder(folderPath, folder) == 0 &&
            FileSizeAt(folder, name, size)) {
            ++amount.files;
            amount.bytes += size;
        }
    }
    amount.complete = true;
    return amount;
}

}  // namespace ostrivane
