// What the windows' commands decide the same way in every toolkit: the checks before a copy
// run or a list export and the texts they answer with, and the same-name policy as it is
// stored between runs of the program (the command line reads the same value).
#pragma once

#include <optional>
#include <vector>

#include "core/copy_run.h"
#include "core/intake.h"
#include "core/list_files.h"
#include "core/path_list.h"

namespace ostrivane::app {

// Why the Start command does not run, or nullptr when it may: kNothingToCopy when either
// list is empty. Nothing else is checked before the run (the run itself refuses what it
// cannot do, with its own texts).
const char* CopyRunRefusal(const PathList& sources, const PathList& destinations);

// Why a list cannot be exported, or nullptr when it can: kSourceListEmpty or
// kDestinationListEmpty (by `role`) when the list is empty.
const char* ExportRefusal(const PathList& list, ListRole role);

// The name the export's save dialog proposes for the list of `role`: "file.lst" or
// "dir.lst".
const char* ExportFileName(ListRole role);

// What the window tells about a path it was given (a drop, a chosen folder, a dropped
// destination before its walk): kDriveRootRefused for RootRefused, one box per such path;
// nullptr for every other outcome (a path that names nothing is passed over silently, one
// listed already is simply not added again).
const char* IntakeRefusalText(std::optional<IntakeOutcome> outcome);

// What the window tells after a destination list file was imported, in this order: once
// kDriveRootRefused when any line named the whole file system, however many did; then
// kSomeFoldersNotImported when some line was left out. Empty when everything was taken.
std::vector<const char*> DestinationImportNotes(const DestinationImport& result);

// The policy a stored number stands for: 1 Overwrite, 2 Skip, 3 Ask; anything else
// (0 for a missing or unreadable value, a number of a later version) AutoNumber.
SameFilePolicy PolicyFromStored(int stored);

// The stored policy (core/settings.h, LoadSameFilePolicy), as PolicyFromStored reads it.
// Never fails.
SameFilePolicy LoadStoredPolicy();

// Stores `policy` as its number. Raises ESettingsError "Unable to write to <path>" when the
// settings file cannot be written.
void StorePolicy(SameFilePolicy policy);

}  // namespace ostrivane::app
