#include "app/commands.h"

#include "app/texts.h"
#include "core/settings.h"

namespace ostrivane::app {

const char* CopyRunRefusal(const PathList& sources, const PathList& destinations) {
    if (sources.count() == 0 || destinations.count() == 0) return kNothingToCopy;
    return nullptr;
}

const char* ExportRefusal(const PathList& list, ListRole role) {
    if (list.count() > 0) return nullptr;
    return role == ListRole::Sources ? kSourceListEmpty : kDestinationListEmpty;
}

const char* ExportFileName(ListRole role) {
    return role == ListRole::Sources ? kSourceListFileName : kDestinationListFileName;
}

const char* IntakeRefusalText(std::optional<IntakeOutcome> outcome) {
    return outcome == IntakeOutcome::RootRefused ? kDriveRootRefused : nullptr;
}

std::vector<const char*> DestinationImportNotes(const DestinationImport& result) {
    std::vector<const char*> notes;
    if (result.refusedRoots > 0) notes.push_back(kDriveRootRefused);
    if (result.skipped) notes.push_back(kSomeFoldersNotImported);
    return notes;
}

SameFilePolicy PolicyFromStored(int stored) {
    switch (stored) {
        case static_cast<int>(SameFilePolicy::Overwrite):
            return SameFilePolicy::Overwrite;
        case static_cast<int>(SameFilePolicy::Skip):
            return SameFilePolicy::Skip;
        case static_cast<int>(SameFilePolicy::Ask):
            return SameFilePolicy::Ask;
        default:
            return SameFilePolicy::AutoNumber;
    }
}

SameFilePolicy LoadStoredPolicy() {
    return PolicyFromStored(LoadSameFilePolicy());
}

void StorePolicy(SameFilePolicy policy) {
    SaveSameFilePolicy(static_cast<int>(policy));
}

}  // namespace ostrivane::app
