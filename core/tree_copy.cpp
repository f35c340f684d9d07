#include "core/tree_copy.h"

#include <optional>
#include <string_view>

namespace ostrivane {
namespace {

constexpr int kDotEntry = 2;
constexpr int kSubfolder = 1;
constexpr int kFile = 0;

// Why a folder is not copied onto itself (the target root is the source folder).
constexpr std::string_view kCopyOntoItself = "源文件夹与目标文件夹是同一个文件夹";

// Removes the temporaries that copies of a killed run left in a target folder.
void RemoveLeftovers(const std::string& target) {
    Folder folder;
    if (OpenFolder(target, folder) == 0) RemoveLeftoverTemporaries(folder);
}

// One walk of a source tree into its target root. It keeps the identity of every folder
// on the current path, to pass over a folder link that leads back to an ancestor, and the
// identity of the target root, to keep the copy out of its own target when the target lies
// inside the source.
class TreeWalk {
  public:
    TreeWalk(SameFilePolicy mode, const AskYesNo& askYesNo, std::vector<Failure>* failures)
        : mode_(mode), askYesNo_(askYesNo), failures_(failures) {}

    void copyTop(const std::string& source, const std::string& target) {
        SearchRec rec;
        if (!RawSearchFirst(source, rec)) {
            // Nothing came or the folder cannot be listed: the target root is not created.
            if (rec.error != 0) record(source, ErrorText(rec.error));
            return;
        }
        createTargetFolder(target);
        FileIdentity rootIdentity;
        if (GetIdentity(target, rootIdentity)) targetRoot_ = rootIdentity;
        FileIdentity sourceIdentity = IdentityOfSearch(rec);
        if (sourceIdentity == targetRoot_) {
            record(source, std::string(kCopyOntoItself));
            return;
        }
        RemoveLeftovers(target);
        copyEntries(rec, sourceIdentity, source, target);
    }

  private:
    // Copies a subfolder met in its parent's listing: its target folder is created (even
    // when it cannot be listed, so it then stays empty) and its tree copied at once.
    void copySubfolder(const std::string& source, const std::string& target) {
        SearchRec rec;
        bool listed = false;
        try {
            listed = RawSearchFirst(source, rec);
        } catch (const EInOutError&) {
            // The parent makes a subfolder's target before entering it, so the target is
            // there even when the subfolder cannot be entered and the run ends.
            createTargetFolder(target);
            throw;
        }
        FileIdentity identity;
        if (listed) {
            identity = IdentityOfSearch(rec);
            // The target root: the copy's own output, never copied into itself.
            if (identity == targetRoot_) return;
            if (isOnCurrentPath(identity)) {
                record(source, ErrorText(error::kLinkLoop));
                return;
            }
        }
        createTargetFolder(target);
        if (!listed) {
            if (rec.error != 0) record(source, ErrorText(rec.error));
            return;
        }
        RemoveLeftovers(target);
        copyEntries(rec, identity, source, target);
    }

    // Walks the open listing of `source` (its first entry already in rec.entry) in the
    // platform's order; subfolders are copied when met.
    void copyEntries(SearchRec& rec, const FileIdentity& identity, const std::string& source,
                     const std::string& target) {
        const std::string sourcePrefix = !source.empty() && source.back() == platform::kSeparator
                                             ? source
                                             : source + platform::kSeparator;
        const std::string targetPrefix = target + platform::kSeparator;
        currentPath_.push_back(identity);
        do {
            const std::string& name = rec.entry.name;
            switch (ClassifyEntry(rec.entry)) {
                case kDotEntry:
                    break;
                case kSubfolder:
                    copySubfolder(sourcePrefix + name, targetPrefix + name);
                    break;
                default:
                    copyFile(rec, name, targetPrefix);
                    break;
            }
        } while (SearchNext(rec));
        currentPath_.pop_back();
    }

    void copyFile(const SearchRec& folder, const std::string& name,
                  const std::string& targetPrefix) {
        CopyFileTo copyTo = [&folder, &name](const std::string& target, bool failIfExists) {
            return CopyOneFileFromSearch(folder, name, target, failIfExists);
        };
        CopyFileUnderPolicy(copyTo, targetPrefix, name, mode_, askYesNo_, failures_);
    }

    // Creates the folder with its missing parents; a failure is recorded with the
    // platform's reason and the walk goes on (copies into it then fail and are recorded).
    void createTargetFolder(const std::string& target) {
        if (CreateFolderChain(target)) return;
        // The chain reports no reason; one more attempt at the last step names it.
        int error = CreateFolder(target);
        if (error == 0 || (error == error::kAlreadyExists && IsExistingFolder(target))) return;
        record(target, ErrorText(error));
    }

    bool isOnCurrentPath(const FileIdentity& identity) const {
        for (const FileIdentity& ancestor : currentPath_)
            if (ancestor == identity) return true;
        return false;
    }

    void record(const std::string& path, std::string reason) {
        if (failures_) failures_->push_back({path, std::move(reason)});
    }

    SameFilePolicy mode_;
    const AskYesNo& askYesNo_;
    std::vector<Failure>* failures_;
    std::optional<FileIdentity> targetRoot_;
    std::vector<FileIdentity> currentPath_;
};

}  // namespace

int ClassifyEntry(const SearchEntry& entry) {
    if (entry.name == "." || entry.name == "..") return kDotEntry;
    if (entry.attributes & attr::kFolder) return kSubfolder;
    return kFile;
}

void CopyFolderTree(const std::string& source, const std::string& target, SameFilePolicy mode,
                    const AskYesNo& askYesNo, std::vector<Failure>* failures) {
    TreeWalk walk(mode, askYesNo, failures);
    walk.copyTop(source, target);
}

}  // namespace ostrivane
