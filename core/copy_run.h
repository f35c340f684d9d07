// The copy run: every source into every destination under one same-name policy.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/fsops.h"
#include "core/path_list.h"
#include "core/run_control.h"

namespace ostrivane {

// What happens when the target already holds a file of that name. The numbers are also the
// mode of the folder tree copy and the value stored in the settings file.
enum class SameFilePolicy { Overwrite = 1, Skip = 2, Ask = 3, AutoNumber = 4 };

// Asks the user a Yes/No question; true for Yes.
using AskYesNo = std::function<bool(const std::string&)>;
// Receives a whole percentage from 0 to 100.
using ShowProgress = std::function<void(int)>;

// A copy, folder creation or deletion that the run wanted and that did not happen.
struct Failure {
    std::string path;    // the target (or the entry that stayed)
    std::string reason;  // the platform's reason
};

// The reasons the run words itself (the others are the platform's error texts).
namespace run_reason {
extern const char* const kDestinationGone;  // a destination gone or replaced since the start
extern const char* const kVerifyFailed;     // a copy read back differs from its source
extern const char* const kVerifyFailedReplaced;  // the same, where the copy replaced a file
extern const char* const kVerifyNotRemoved;      // follows kVerifyFailed: why the copy stayed
// A copy read back differs from its source where it had replaced a symbolic link: the link
// is made again in its place (kVerifyFailedLinkBack), or, where it cannot be, the copy is
// removed as under a free name and the link is gone (kVerifyFailedLinkGone, followed by
// kVerifyNotRemoved and why where the copy could not be removed either).
extern const char* const kVerifyFailedLinkBack;
extern const char* const kVerifyFailedLinkGone;
// Follows the reason of a failure the source caused (listed under the source's path): the
// target that lacks the copy.
extern const char* const kNotCopiedTo;
// A copy read back differs from its source's hash, and the source read again differs from
// that hash too: the source changed while or after it was copied; the copy stays.
extern const char* const kVerifySourceChanged;
// An entry of the other kind in the way: a folder where a file was to be copied (under
// numbered names and Ask such a folder counts as a free name, and the copy fails), a file
// where a folder was to be made; the latter followed by kFilesNotCopiedInside and the
// number of files the source folder held below it, which were not copied.
extern const char* const kFolderInTheWay;
extern const char* const kFileInTheWay;
extern const char* const kFilesNotCopiedInside;
}  // namespace run_reason

// The reason of a failure the source caused, listed under the source's path: `reason`, then
// run_reason::kNotCopiedTo and `target`, the path that lacks the copy (one failure per
// destination, so that every destination without the copy is named).
std::string SourceFailureReason(const std::string& reason, const std::string& target);

// The hash of a file the run copied, by the copy's path relative to its destination folder.
struct FileHash {
    std::string path;
    ContentHash hash;
};

// The files a list of hashes (HashesOf) leaves out because they are not the same in every
// destination, counted by path.
struct HashesLeftOut {
    // Copied under that path into some destinations only: a file of that name kept, a
    // numbered copy (listed under neither name), a copy that failed or was not made.
    std::uint64_t notEverywhere = 0;
    // A failure recorded at that path (or at a folder above it) in some destination: a copy
    // that failed its check, a failed copy where an earlier copy of the run stands.
    std::uint64_t failed = 0;
    // Copied into every destination, from sources of different contents.
    std::uint64_t differing = 0;
    std::uint64_t total() const { return notEverywhere + failed + differing; }
};

// What a copy run is asked to do: every source into every destination under one same-name
// policy, the destinations emptied first or not, with the run's options and the two
// callbacks (both may be empty).
struct RunRequest {
    PathList sources;
    PathList destinations;
    SameFilePolicy policy = SameFilePolicy::Overwrite;
    bool emptyFirst = false;
    RunOptions options;
    AskYesNo ask;           // asked before a file of the name is replaced under Ask
    ShowProgress progress;  // the whole percentage after each source (CopyAll)
};

// How a run ended.
enum class RunEnd {
    Done,      // every step ran and nothing failed
    Failures,  // every step ran; some copies, folder creations or deletions failed
    Stopped,   // a stop request left work undone (what failed before it is listed too)
    Ended,     // a folder that could not be entered ended it (RunResult::endedBy)
};

// The folder that could not be entered and so ended a run: its path (empty where its error
// named none) and its error's code and text (those of the EInOutError raised for it).
struct FolderNotEntered {
    std::string path;
    std::string text;
    int code = 0;
};

// The outcome of a run: how it ended, and every failure recorded before that.
struct RunResult {
    RunEnd end = RunEnd::Done;
    FolderNotEntered endedBy;  // with RunEnd::Ended
    std::vector<Failure> failures;
    int writersAtOnce = 0;  // the most destinations that were written at the same time
    // With RunOptions::verify: the copies read back from their devices and found equal to
    // their sources.
    std::uint64_t copiesVerified = 0;
    // With RunOptions::listHashes: the hash of every file copied alike into every
    // destination (HashesOf), and what that list left out.
    std::vector<FileHash> hashes;
    HashesLeftOut hashesLeftOut;

    // Whether a stop request ended the run early.
    bool stopped() const { return end == RunEnd::Stopped; }
    // Whether a folder that could not be entered ended it.
    bool ended() const { return end == RunEnd::Ended; }
};

// Copies every source into every destination, destination by destination and source by
// source in list order. A source that is an existing folder is copied as a tree under its
// own name; anything else as one file. With `emptyFirst` every destination is emptied
// before anything is copied (EmptyDestinations: listed sources are kept), so nested
// destinations keep every copy of the run; before that, every source tree is walked
// (CheckSourcesCanBeEntered), and a folder that cannot be entered ends the run there
// (RunEnd::Ended) without failures, with nothing deleted. A destination that was a folder
// when the run began and is gone or another folder when it is written into is not written
// into and never made anew: each copy into it is a failure with
// run_reason::kDestinationGone. After each source, `progress` gets (d*S + i + 1) * 100 /
// (D*S). The result lists every failed copy, folder creation or deletion; the run goes on
// past them. A folder that cannot be entered (an EInOutError while copying) ends the run:
// the result says RunEnd::Ended with that folder's path and error text, and holds the
// failures recorded before it. Before returning, the file systems written to are flushed.
// Any other error passes on as an exception (after the flush).
//
// With `options.stop` set by another thread, no new file starts (and no new deletion when
// emptying), a copy in progress is abandoned without leaving anything under its final name
// (it is recorded with error::kStopped's reason), the file systems written to are still
// flushed, and the result says the run was stopped. `options.showTransfer` receives the
// transfer figures.
// The run engine (core/run_engine.h) writes several destinations at once where the
// outcome cannot differ from the described order: one queue of writers per destination
// device (options.maxWriters), a destination that holds another (or is it in another
// spelling) kept before it; under Ask, with a destination inside a source or holding one,
// or with a source folder that cannot be entered, one writer makes the whole run. The
// destination trees, the failures (in the described order) and the sequence of
// percentages are those of the described order. `progress` may then be called on any
// writer's thread, never by two at once.
RunResult CopyAll(const RunRequest& request);

// The first free name for `name` in `folder` (which ends with the separator): the name
// itself, else stem + "_" + n + extension for n = 1, 2, ... A folder carrying a candidate's
// name counts as free.
std::string NumberedName(const std::string& folder, const std::string& name);

// Readies an open folder for copies into it: removes the partial copies that a run killed
// while writing into it left behind. Called once per target folder.
void PrepareTargetFolder(const Folder& folder);

// The question asked before replacing an existing file under Ask.
std::string OverwriteQuestion(const std::string& targetPath);

// Makes one copy to the entry `targetName` of the target folder; returns 0 or the
// platform's error number, and sets *failedSide to the side a failure came from
// (CopyFileAt's). With `failIfExists` an existing target is never touched and the call fails
// with EEXIST's number.
using CopyFileTo =
    std::function<int(const std::string& targetName, bool failIfExists, CopySide* failedSide)>;

// Copies one file into the open folder `folder` (shown as `folderPath`, which ends with the
// separator) under `name` by the rule of `policy`: Overwrite replaces, Skip keeps an
// existing target, Ask asks through askYesNo when a file of that name exists, AutoNumber
// creates the first free numbered name exclusively and moves on to the next number when a
// file takes it meanwhile. Every copy the policy wanted that did not happen is appended to
// *failures when given; a target that Skip or a No answer leaves in place is no failure.
// A failure is listed under the target's path, except that a failure the source caused (the
// copy's side of it is CopySide::Source: the source is gone, cannot be opened or read, or
// changed while read) is listed under `sourcePath` when given, its reason naming the target
// that lacks the copy (SourceFailureReason); a stop request and a full device stay the
// target's. A numbered copy that failed is listed under the source's own
// name in the folder, a name the user knows, not the numbered one it did not get.
// How one file's copy under a policy ended.
enum class CopyOutcome { Copied, Kept, Failed };

// Returns Kept where an existing file of the name stayed in place of the copy.
CopyOutcome CopyFileUnderPolicy(const CopyFileTo& copyTo, const Folder& folder,
                                const std::string& folderPath, const std::string& name,
                                SameFilePolicy policy, const AskYesNo& askYesNo,
                                std::vector<Failure>* failures,
                                const std::string* sourcePath = nullptr);

}  // namespace ostrivane
