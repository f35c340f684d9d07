#include "core/copy_run.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>

#include "core/emptying.h"
#include "core/fsops.h"
#include "core/run_checks.h"
#include "core/run_engine.h"
#include "core/tree_copy.h"
#include "core/verification.h"

namespace ostrivane {
namespace {

// The number a fail-if-exists copy reports when the target is already there.
const int& kTargetExists = error::kAlreadyExists;
// The number of a path that names nothing.
const int& kNoSuchFolder = error::kNotFound;

// Why a source that names the whole file system is not copied.
constexpr std::string_view kWholeDriveRefused = "不能对整个驱动器（磁盘）进行复制！";

void Record(std::vector<Failure>* failures, const std::string& path, std::string reason) {
    if (failures) failures->push_back({path, std::move(reason)});
}

void RecordError(std::vector<Failure>* failures, const std::string& path, int error) {
    Record(failures, path, ErrorText(error));
}

// A copy's target folder: the open folder and how it is shown (ending with the separator),
// and the source's path where the caller knows it (null otherwise).
struct TargetFolder {
    const Folder& folder;
    const std::string& path;
    const std::string* source = nullptr;
};

// True when a failed copy's cause is its source, as the copy itself tells (`side`): it is
// gone, cannot be opened or read (a failing disk, no permission), or changed while read.
// The user then looks at the source, not at the target. A stop and a full device are the
// target's whatever the side.
bool SourceCaused(const TargetFolder& target, int error, CopySide side) {
    if (!target.source || error == error::kDeviceFull || error == error::kStopped) return false;
    return side == CopySide::Source;
}

// True when a folder (or a link to one) stands at `name` in the target folder.
bool FolderAt(const TargetFolder& target, const std::string& name) {
    std::uint32_t attributes = 0;
    return EntryAttributesAt(target.folder, name, attributes) && (attributes & attr::kFolder);
}

// Records a failed copy to `name` in the target folder, under the source where it caused it
// (its reason then names the target, which lacks the copy).
// A failure of the target where a folder stands at the name the copy was to take (`tried`,
// `name` itself unless a numbered name was tried) says so: the system's words for it ("File
// exists", "Is a directory", or none at all) do not tell what is in the way.
void RecordCopyError(std::vector<Failure>* failures, const TargetFolder& target,
                     const std::string& name, int error, CopySide side,
                     const std::string* tried = nullptr) {
    if (SourceCaused(target, error, side)) {
        Record(failures, *target.source, SourceFailureReason(ErrorText(error), target.path + name));
    } else if (error != error::kStopped && error != error::kDeviceFull &&
               FolderAt(target, tried ? *tried : name)) {
        Record(failures, target.path + name, run_reason::kFolderInTheWay);
    } else {
        RecordError(failures, target.path + name, error);
    }
}

bool SomethingAt(const TargetFolder& target, const std::string& name) {
    std::uint32_t attributes = 0;
    return EntryAttributesAt(target.folder, name, attributes);
}

// A copy that keeps an existing target. Whatever stands at the target (a file or a folder)
// is what was asked to stay, even when the copy failed for another reason first (a source
// that is gone or unreadable); only a copy into a free place that did not happen is a
// failure.
CopyOutcome CopyKeepingExisting(const CopyFileTo& copyTo, const TargetFolder& target,
                                const std::string& name, std::vector<Failure>* failures) {
    CopySide side = CopySide::None;
    int error = copyTo(name, true, &side);
    if (error == 0) return CopyOutcome::Copied;
    if (error == kTargetExists || SomethingAt(target, name)) return CopyOutcome::Kept;
    RecordCopyError(failures, target, name, error, side);
    return CopyOutcome::Failed;
}

CopyOutcome CopyReplacing(const CopyFileTo& copyTo, const TargetFolder& target,
                          const std::string& name, std::vector<Failure>* failures) {
    CopySide side = CopySide::None;
    int error = copyTo(name, false, &side);
    if (error == 0) return CopyOutcome::Copied;
    RecordCopyError(failures, target, name, error, side);
    return CopyOutcome::Failed;
}

// Candidate names of the numbering rule: the name itself, then stem_1ext, stem_2ext, ...
class NumberedCandidates {
  public:
    explicit NumberedCandidates(const std::string& name)
        : extension_(ExtensionOf(name)),
          stem_(name.substr(0, name.size() - extension_.size())),
          current_(name) {}

    const std::string& current() const { return current_; }
    void advance() { current_ = stem_ + "_" + std::to_string(next_++) + extension_; }

    // Moves on while a file carries the current candidate's name in `folder`.
    void skipExistingFiles(const Folder& folder) {
        while (IsExistingFileAt(folder, current_)) advance();
    }

  private:
    // The part the number goes before. Where a leading dot starts no extension (".bashrc"
    // is a hidden name without one), a name whose only dot leads has none, and the number
    // goes at its end: ".bashrc_1".
    static std::string ExtensionOf(const std::string& name) {
        std::string extension = ExtensionPart(name);
        if (!platform::kLeadingDotStartsExtension && extension.size() == name.size()) return {};
        return extension;
    }

    std::string extension_;
    std::string stem_;
    std::string current_;
    std::uint64_t next_ = 1;
};

// Creates the copy under the first free numbered name, exclusively, so that it never
// replaces anything. A file that takes the chosen name between the test and the copy sends
// the copy on to the next number; anything else in the way (a folder) is a failure.
CopyOutcome CopyUnderNumberedName(const CopyFileTo& copyTo, const TargetFolder& target,
                                  const std::string& name, std::vector<Failure>* failures) {
    NumberedCandidates candidates(name);
    for (;;) {
        candidates.skipExistingFiles(target.folder);
        const std::string& candidate = candidates.current();
        CopySide side = CopySide::None;
        int error = copyTo(candidate, true, &side);
        if (error == 0) return CopyOutcome::Copied;
        if (error != kTargetExists || !IsExistingFileAt(target.folder, candidate)) {
            // Under the source's own name: the numbered one was never the user's.
            RecordCopyError(failures, target, name, error, side, &candidate);
            return CopyOutcome::Failed;
        }
    }
}

CopyOutcome CopyAfterQuestion(const CopyFileTo& copyTo, const TargetFolder& target,
                              const std::string& name, const AskYesNo& askYesNo,
                              std::vector<Failure>* failures) {
    if (IsExistingFileAt(target.folder, name) && !askYesNo(OverwriteQuestion(target.path + name)))
        return CopyKeepingExisting(copyTo, target, name, failures);
    return CopyReplacing(copyTo, target, name, failures);
}

// The folder name a folder source is copied under: trailing separators removed, then the
// text after the last separator.
std::string FolderNameOf(const std::string& source) {
    std::string_view trimmed = source;
    while (!trimmed.empty() && platform::IsSeparator(trimmed.back())) trimmed.remove_suffix(1);
    int last = LastDelimiterIndex(platform::kSeparators, trimmed);
    return std::string(trimmed.substr(static_cast<size_t>(last)));
}

// The name a folder source is copied under. A source whose last component is "." or ".."
// (a list file can bring one) would put the copy into the destination itself or above it,
// so it is named after the folder it really is. Empty for the file-system root.
std::string TargetFolderName(const std::string& source) {
    std::string name = FolderNameOf(source);
    if (name != "." && name != "..") return name;
    std::string canonical = CanonicalPath(source);
    return canonical.empty() || IsDriveRoot(canonical) ? std::string() : FolderNameOf(canonical);
}

// One destination of the run: its folder, opened when a source first needs it (a folder
// source before it may have created a missing destination). Where the destination was a
// folder when the run began, the folder opened must be that one: a folder swapped for a
// link meanwhile (to a place its owner may not write) is refused, not written into, and one
// that is gone (its folder deleted, a link on its path removed) is never made anew by its
// path, which could now lead somewhere that was never chosen. Once open, it holds the named
// temporaries of the copies into it (CopyControl::temporaryFolder), so that a run killed
// meanwhile leaves them only where the next run into it removes them.
class DestinationFolder {
  public:
    // `atStart`: the identity of the folder the destination named when the run began.
    DestinationFolder(const std::string& path, const std::optional<FileIdentity>& atStart,
                      RunControl& run, int index)
        : path_(path), atStart_(atStart), run_(run), index_(index) {}
    ~DestinationFolder() {
        if (folder_.isOpen()) run_.setTemporaryFolder(index_, nullptr);
    }
    DestinationFolder(const DestinationFolder&) = delete;
    DestinationFolder& operator=(const DestinationFolder&) = delete;
    const std::string& path() const { return path_; }
    bool isOpen() const { return folder_.isOpen(); }
    // True when the destination named no folder when the run began: a folder source may
    // then make it, with its parents.
    bool mayBeMade() const { return !atStart_; }
    // Opens the folder; false with *reason set when it cannot be written into.
    bool open(std::string* reason) {
        if (folder_.isOpen()) return true;
        const int error = OpenFolder(path_, folder_);
        const bool gone = atStart_ && (error == error::kNotFound || error == error::kNotAFolder ||
                                       (error == 0 && !(folder_.identity() == *atStart_)));
        if (gone) {
            folder_.close();
            *reason = run_reason::kDestinationGone;
            return false;
        }
        if (error != 0) {
            *reason = ErrorText(error);
            return false;
        }
        PrepareTargetFolder(folder_);
        run_.setTemporaryFolder(index_, &folder_);
        return true;
    }
    const Folder& folder() const { return folder_; }

  private:
    std::string path_;
    std::optional<FileIdentity> atStart_;
    RunControl& run_;
    int index_;
    Folder folder_;
};

void CopySource(const std::string& source, DestinationFolder& destination, SameFilePolicy policy,
                const AskYesNo& askYesNo, std::vector<Failure>& failures, RunControl& run,
                int destinationIndex) {
    if (IsExistingFolder(source)) {
        // The root in any spelling, a link to it included, has no name to be copied under.
        std::string name = IsFileSystemRoot(source) ? std::string() : TargetFolderName(source);
        // The whole file system would have no folder name to be copied under.
        if (name.empty()) {
            Record(&failures, source, std::string(kWholeDriveRefused));
            return;
        }
        if (!destination.isOpen() && destination.mayBeMade() &&
            !IsExistingFolder(destination.path())) {
            // A missing destination is made, with its parents, by the tree copy once the
            // source has been entered and listed.
            CopyFolderTree(source, destination.path() + name, policy, askYesNo, &failures, &run,
                           destinationIndex);
            return;
        }
        std::string reason;
        if (!destination.open(&reason)) {
            Record(&failures, destination.path() + name, std::move(reason));
            return;
        }
        CopyFolderTreeInto(source, destination.folder(), destination.path(), name, policy,
                           askYesNo, &failures, &run, destinationIndex);
    } else if (IsDriveRoot(source)) {
        Record(&failures, source, std::string(kWholeDriveRefused));
    } else {
        const std::string name = FileNamePart(source);
        std::string reason;
        if (!destination.open(&reason)) {
            Record(&failures, destination.path() + name, std::move(reason));
            run.fileHandled(destinationIndex, false);
            return;
        }
        const Folder& folder = destination.folder();
        CopyFileTo copyTo = [&](const std::string& targetName, bool failIfExists,
                                CopySide* failedSide) {
            return CountedCopy(run, destinationIndex, destination.path(), targetName, source,
                               [&](const CopyControl* control, PlacedCopy* placed) {
                                   return CopyFileAt(nullptr, source, folder, targetName,
                                                     failIfExists, 0, control, placed, failedSide);
                               });
        };
        const CopyOutcome outcome = CopyFileUnderPolicy(
            copyTo, folder, destination.path(), name, policy, askYesNo, &failures, &source);
        run.fileHandled(destinationIndex, outcome == CopyOutcome::Kept);
    }
}

// Flushes each file system that holds one of the destination folders, once per file
// system and every file system at once, so that "complete" means on the device; returns
// the devices whose flush failed. A flush that fails is a failure (recorded in the order of
// the folders): the copies may not have reached the device.
std::vector<std::uint64_t> FlushDestinations(const std::vector<std::string>& destinationFolders,
                                             std::vector<Failure>& failures) {
    std::vector<std::uint64_t> devices;
    std::vector<std::string> folders;
    for (const std::string& folder : destinationFolders) {
        FileIdentity id;
        if (!GetIdentity(folder, id)) continue;
        if (std::find(devices.begin(), devices.end(), id.device) != devices.end()) continue;
        devices.push_back(id.device);
        folders.push_back(folder);
    }
    std::vector<int> errors(folders.size(), 0);
    std::vector<EngineStep> steps;
    for (size_t i = 0; i < folders.size(); ++i)
        steps.push_back({static_cast<int>(i), [&, i] { errors[i] = SyncFileSystemOf(folders[i]); }});
    RunSteps(steps, std::vector<int>(folders.size(), 1), [](size_t, size_t) { return false; });
    std::vector<std::uint64_t> failedDevices;
    for (size_t i = 0; i < folders.size(); ++i) {
        if (errors[i] == 0) continue;
        RecordError(&failures, folders[i], errors[i]);
        failedDevices.push_back(devices[i]);
    }
    return failedDevices;
}

// True when the run's outcome cannot depend on the order in which its destinations are
// written, apart from destinations that hold one another (those the engine keeps in
// order): no question to ask, no destination inside a source or holding one, and no source
// folder whose copy would end the run halfway (a folder that cannot be entered).
bool DestinationsMayRunAtOnce(const PathList& sources, SameFilePolicy policy,
                              const std::vector<FolderFootprint>& destinations) {
    if (policy == SameFilePolicy::Ask) return false;
    std::vector<FileIdentity> destinationIds;
    for (const FolderFootprint& destination : destinations)
        if (destination.known) destinationIds.push_back(destination.chain.front());
    const auto isDestination = [&](const FileIdentity& id) {
        return std::find(destinationIds.begin(), destinationIds.end(), id) != destinationIds.end();
    };
    for (const std::string& source : sources.entries()) {
        if (source.empty()) continue;
        const FolderFootprint footprint = FootprintOf(source);
        if (!footprint.known) continue;  // nothing there to read: each copy fails alike
        for (const FolderFootprint& destination : destinations) {
            if (destination.within(footprint.chain.front())) return false;  // inside the source
            if (destination.known && footprint.within(destination.chain.front())) return false;
            // Through a mount, or another spelling (an empty entry names no place: no copy).
            if (!destination.chain.empty() && destination.sharesPlaceWith(footprint)) return false;
        }
        if (!SourceTreeIsPlain(source, isDestination)) return false;
    }
    return true;
}

}  // namespace

std::string OverwriteQuestion(const std::string& targetPath) {
    return "文件" + targetPath + "已存在，是否覆盖？";
}

void PrepareTargetFolder(const Folder& folder) {
    // Whatever the policy (Skip included): a partial copy of ours is never a file the user
    // has, and a later Skip would otherwise keep the folder cluttered for good.
    RemoveLeftoverTemporaries(folder);
}

namespace run_reason {
const char* const kDestinationGone = "目标文件夹在运行开始后已被删除或替换，未写入";
const char* const kVerifyFailed = "校验失败：副本与源文件不一致";
const char* const kVerifyFailedReplaced =
    "校验失败：副本与源文件不一致（它替换了原有的同名文件，原文件已不存在）";
const char* const kVerifyNotRemoved = "；未能删除该副本：";
const char* const kVerifyFailedLinkBack =
    "校验失败：副本与源文件不一致，已删除；原来在此的符号链接已放回";
const char* const kVerifyFailedLinkGone =
    "校验失败：副本与源文件不一致（它替换了原有的同名符号链接，该链接已不存在）";
const char* const kNotCopiedTo = "；未复制到：";
const char* const kVerifySourceChanged =
    "校验未通过：源文件在复制时或复制后已被改动（修改时间未变），副本已保留";
const char* const kFolderInTheWay = "同名文件夹挡在那里，文件无法以该名称复制";
const char* const kFileInTheWay = "同名文件挡在那里，无法建立该文件夹";
const char* const kFilesNotCopiedInside = "；其中未复制的文件数：";
}  // namespace run_reason

std::string SourceFailureReason(const std::string& reason, const std::string& target) {
    return reason + run_reason::kNotCopiedTo + target;
}

std::string NumberedName(const std::string& folder, const std::string& name) {
    NumberedCandidates candidates(name);
    Folder open;
    if (OpenFolder(folder, open) == 0) candidates.skipExistingFiles(open);
    return candidates.current();
}

CopyOutcome CopyFileUnderPolicy(const CopyFileTo& copyTo, const Folder& folder,
                                const std::string& folderPath, const std::string& name,
                                SameFilePolicy policy, const AskYesNo& askYesNo,
                                std::vector<Failure>* failures, const std::string* sourcePath) {
    const TargetFolder target{folder, folderPath, sourcePath};
    switch (policy) {
        case SameFilePolicy::Overwrite:
            return CopyReplacing(copyTo, target, name, failures);
        case SameFilePolicy::Skip:
            return CopyKeepingExisting(copyTo, target, name, failures);
        case SameFilePolicy::Ask:
            return CopyAfterQuestion(copyTo, target, name, askYesNo, failures);
        case SameFilePolicy::AutoNumber:
            return CopyUnderNumberedName(copyTo, target, name, failures);
    }
    return CopyOutcome::Failed;
}

namespace {

// The folder named by `error`, raised for a folder that could not be entered.
FolderNotEntered NotEntered(const EInOutError& error) {
    return {error.path, error.what(), error.code};
}

}  // namespace

RunResult CopyAll(const RunRequest& request) {
    const PathList& sources = request.sources;
    const PathList& destinations = request.destinations;
    const SameFilePolicy policy = request.policy;
    const AskYesNo& askYesNo = request.ask;
    const ShowProgress& showProgress = request.progress;
    const RunOptions& options = request.options;
    RunResult result;
    RunControl run(options);
    // The copies are noted (and hashed) only for a check or a list of hashes.
    std::optional<CopyLedger> ledger;
    if (options.verify || options.listHashes) {
        ledger.emplace(destinations.count());
        run.setLedger(&*ledger);
    }
    // Where figures are shown, the sources are counted on a thread of their own while the
    // run already copies (the copies read the same folders, mostly from the page cache
    // then), so the run's whole amount is known within its first seconds. The count stops
    // when the run ends, on every way out.
    struct Counter {
        std::atomic<bool> cancel{false}, done{false};
        std::thread thread;
        // Lets the count go on for at most `limit` more, then ends it.
        void finishWithin(std::chrono::milliseconds limit) {
            const auto until = std::chrono::steady_clock::now() + limit;
            while (thread.joinable() && !done.load() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            cancel.store(true);
            if (thread.joinable()) thread.join();
        }
        ~Counter() { finishWithin(std::chrono::milliseconds(0)); }
    } counter;
    if (options.showTransfer) {
        counter.thread = std::thread([&sources, &run, &counter] {
            const SourceAmount amount = CountSources(sources, &counter.cancel);
            if (amount.complete) run.setSourceAmount(amount.files, amount.bytes);
            counter.done.store(true);
        });
    }
    const int destinationCount = destinations.count();
    const std::int64_t sourceCount = sources.count();
    const std::int64_t pairCount = sourceCount * destinationCount;
    // Each destination as it is when the run begins: the folder written into later must be
    // the same one, and one that was a folder then is never made anew.
    std::vector<std::optional<FileIdentity>> atStart, folderAtStart;
    for (const std::string& entry : destinations.entries()) {
        FileIdentity id;
        atStart.push_back(!entry.empty() && GetIdentity(entry, id) ? std::optional(id)
                                                                    : std::nullopt);
        folderAtStart.push_back(atStart.back() && IsExistingFolder(entry) ? atStart.back()
                                                                          : std::nullopt);
        run.addDestination(WithTrailingSeparator(entry), atStart.back() ? atStart.back()->device : 0);
    }
    // Every destination is emptied before the first copy: emptying one destination after
    // copying into another would delete copies of this run where destinations nest. What
    // would end the run halfway is found first, before anything is deleted.
    if (request.emptyFirst) {
        try {
            CheckSourcesCanBeEntered(sources, options.stop);
        } catch (const EInOutError& error) {
            result.end = RunEnd::Ended;
            result.endedBy = NotEntered(error);
            return result;
        }
        if (EmptyDestinations(destinations, sources, &result.failures, options.stop,
                              options.maxWriters))
            run.markStopped();
    }
    const size_t emptyingFailures = result.failures.size();

    // One step per destination, with the sources in list order, as the described order
    // makes them. Steps on several devices, or on a device that takes several writers, run
    // at once; a destination that holds another, or is it in another spelling, keeps its
    // place before it.
    // One queue per destination device (devices numbered in the order the list first names
    // them); one writer in all where the run must keep the described order.
    // Left to the engine (maxWriters 0), each device gets the most writers and a gate that
    // lets as many copy at once as the device is found to gain from, beginning at the guess.
    std::vector<int> deviceWriters, guessedWriters;
    for (int d = 0; d < destinationCount; ++d) {
        if (static_cast<size_t>(run.deviceOf(d)) < deviceWriters.size()) continue;
        const auto& id = atStart[static_cast<size_t>(d)];
        guessedWriters.push_back(WritersForDevice(id ? id->device : 0, options.maxWriters));
        deviceWriters.push_back(options.maxWriters == 0 ? kFastDeviceWriters
                                                        : guessedWriters.back());
    }
    // A single writer in any case (destinations on one rotating disk) needs no look at the
    // sources.
    const bool severalWriters =
        deviceWriters.size() > 1 || (deviceWriters.size() == 1 && deviceWriters[0] > 1);
    // Where each destination lies, for the order between them; only needed with writers to
    // keep in order.
    std::vector<FolderFootprint> footprints;
    if (options.maxWriters != 1 && severalWriters) {
        for (const std::string& entry : destinations.entries())
            footprints.push_back(FootprintOf(entry));
    }
    const bool atOnce = !footprints.empty() && DestinationsMayRunAtOnce(sources, policy, footprints);
    std::vector<int> writersPerQueue = atOnce ? deviceWriters : std::vector<int>{1};
    std::vector<EngineStep> steps;
    for (int d = 0; d < destinationCount; ++d) steps.push_back({atOnce ? run.deviceOf(d) : 0, {}});
    // A device's writers not taken by its destinations copy the subfolders of source
    // folders: one destination on a fast device gets them all.
    if (atOnce) {
        std::vector<int> onQueue(writersPerQueue.size(), 0);
        for (const EngineStep& step : steps) ++onQueue[static_cast<size_t>(step.queue)];
        std::vector<int> treeWriters;
        for (size_t d = 0; d < steps.size(); ++d) {
            const auto queue = static_cast<size_t>(steps[d].queue);
            // A destination that shows its own tree again through a mount keeps one writer.
            treeWriters.push_back(FootprintOverlapsItself(footprints[d])
                                      ? 1
                                      : std::max(1, writersPerQueue[queue] / onQueue[queue]));
        }
        run.setTreeWriters(std::move(treeWriters));
    }
    // Every gate begins at the most: a queue that says it rotates is as often a virtual
    // machine's disk or a USB bridge that gains from several writers, and a device that
    // does not gain is found within a few windows, while one begun at one writer loses
    // most of a short run climbing.
    if (atOnce && options.maxWriters == 0)
        run.adaptWriters(std::vector<int>(deviceWriters.size(), kFastDeviceWriters),
                         kFastDeviceWriters);
    std::vector<std::vector<Failure>> failuresOf(static_cast<size_t>(destinationCount));
    std::vector<char> reached(static_cast<size_t>(destinationCount), 0);
    std::mutex progressMutex;
    std::int64_t pairsDone = 0;
    for (int d = 0; d < destinationCount; ++d) {
        steps[static_cast<size_t>(d)].work = [&, d] {
            std::vector<Failure>& failures = failuresOf[static_cast<size_t>(d)];
            if (run.stopped()) return;
            const std::string& entry = destinations.at(d);
            // An empty entry would become the file-system root by the separator rule; it
            // names no folder, so nothing is copied there and that is a failure.
            const bool namesFolder = !entry.empty();
            if (!namesFolder) RecordError(&failures, entry, kNoSuchFolder);
            DestinationFolder destination(WithTrailingSeparator(entry),
                                          folderAtStart[static_cast<size_t>(d)], run, d);
            reached[static_cast<size_t>(d)] = namesFolder;
            run.beginDestination(d);
            int i = 0;
            for (; i < sourceCount; ++i) {
                if (run.stopRequested() || run.stopped()) break;
                if (namesFolder)
                    CopySource(sources.at(i), destination, policy, askYesNo, failures, run, d);
                if (showProgress) {
                    // Finished pairs, counted in one place: the percentages rise as in
                    // the described order, whichever writer finishes first.
                    std::lock_guard lock(progressMutex);
                    showProgress(static_cast<int>(++pairsDone * 100 / pairCount));
                }
            }
            if (i == sourceCount && namesFolder && !run.stopped())
                run.destinationComplete(d);
            run.destinationEnded(d);
        };
    }
    const auto flush = [&](std::vector<Failure>& into) {
        std::vector<std::string> destinationFolders;
        for (int d = 0; d < destinationCount; ++d)
            if (reached[static_cast<size_t>(d)])
                destinationFolders.push_back(WithTrailingSeparator(destinations.at(d)));
        run.beginFlush();
        run.endFlush(FlushDestinations(destinationFolders, into));
        if (!ledger) return;
        std::vector<std::string> listed;
        for (int d = 0; d < destinationCount; ++d)
            listed.push_back(WithTrailingSeparator(destinations.at(d)));
        ledger->sort(listed);
        // Once every copy is on its device: each is read back from there, all devices at
        // once. A run already stopped checks nothing more.
        if (options.verify && !run.stopped()) {
            VerifyOutcome outcome =
                VerifyCopies(*ledger, run, guessedWriters, options.maxWriters == 1, options.stop);
            for (std::vector<Failure>& failures : outcome.failures)
                into.insert(into.end(), std::make_move_iterator(failures.begin()),
                            std::make_move_iterator(failures.end()));
            result.copiesVerified = outcome.copiesVerified;
            // What the check removed stands no more: the figures leave it out of the copies.
            bool removed = false;
            for (size_t d = 0; d < outcome.removed.size(); ++d) {
                for (std::uint64_t size : outcome.removed[d]) {
                    run.copyRemoved(static_cast<int>(d), size);
                    removed = true;
                }
            }
            if (removed) run.report();
            if (outcome.stopped) run.markStopped();
        }
        if (options.listHashes) {
            std::vector<std::string> roots;
            for (int d = 0; d < destinationCount; ++d)
                roots.push_back(WithTrailingSeparator(destinations.at(d)));
            // The failures of the copies; the emptying's, before them, are about what stood
            // in the destinations before the run.
            const size_t first =
                &into == &result.failures ? std::min(emptyingFailures, into.size()) : 0;
            result.hashes =
                HashesOf(*ledger, roots, std::span(into).subspan(first), &result.hashesLeftOut);
        }
    };
    // Each destination's failures after those of the emptying, in the described order.
    const auto gatherFailures = [&] {
        for (std::vector<Failure>& failures : failuresOf)
            result.failures.insert(result.failures.end(),
                                   std::make_move_iterator(failures.begin()),
                                   std::make_move_iterator(failures.end()));
    };
    try {
        result.writersAtOnce = RunSteps(steps, writersPerQueue, [&](size_t earlier, size_t later) {
            return FootprintsOverlap(footprints[earlier], footprints[later]);
        });
    } catch (const EInOutError& error) {
        // The copies made before the error are worth as much as those of a complete run:
        // they reach the device too; the failures before it go with the folder's error.
        gatherFailures();
        flush(result.failures);
        result.end = RunEnd::Ended;
        result.endedBy = NotEntered(error);
        return result;
    } catch (...) {
        std::vector<Failure> unreported;
        flush(unreported);
        throw;
    }
    gatherFailures();
    // A stop that reaches a copy in progress abandons it without the run asking for the stop
    // again; when that was the last copy, the run still left something undone.
    const std::string abandoned = ErrorText(error::kStopped);
    if (std::any_of(result.failures.begin(), result.failures.end(),
                    [&](const Failure& failure) { return failure.reason == abandoned; }))
        run.markStopped();
    // A stopped run tells what it left undone from the count, which gets a moment to end; a
    // complete run met every file itself.
    if (run.stopped()) {
        counter.finishWithin(std::chrono::seconds(2));
    } else {
        counter.finishWithin(std::chrono::milliseconds(0));
        if (options.showTransfer) run.amountFromRun();
    }
    flush(result.failures);
    result.end = run.stopped()              ? RunEnd::Stopped
                 : result.failures.empty() ? RunEnd::Done
                                           : RunEnd::Failures;
    return result;
}

}  // namespace ostrivane
