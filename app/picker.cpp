#include "app/picker.h"

#include "app/commands.h"
#include "core/intake.h"
#include "core/settings.h"

namespace ostrivane::app {

const char* PickRefusalText(const PickedFolder& pick) {
    return pick.accepted ? IntakeRefusalText(DestinationRefusal(pick.folder)) : nullptr;
}

bool IsAddablePick(const PickedFolder& pick) {
    return pick.accepted && !DestinationRefusal(pick.folder);
}

bool AddPickedFolder(const PickedFolder& pick, PathList& destinations, PathList& scratch,
                     const std::function<void()>& repaint, const std::atomic<bool>* stop) {
    if (!IsAddablePick(pick)) return false;
    scratch.clear();
    ListedEntries listed(destinations, ListRole::Destinations);
    if (pick.allSubfolders) {
        AddNamedDestination(pick.folder, DestinationReach{true, 0}, listed, repaint, stop);
    } else if (pick.limitedDepth) {
        AddNamedDestination(pick.folder, DestinationReach{false, TextToInt(pick.depthText)}, listed,
                            repaint, stop);
    } else {
        // The folder alone goes through the scratch list, whose entries are then added
        // where the list does not name them yet.
        scratch.append(WithTrailingSeparator(pick.folder));
        for (const std::string& entry : scratch.entries())
            AddNamedDestination(entry, DestinationReach{false, 0}, listed, repaint, stop);
    }
    return true;
}

}  // namespace ostrivane::app
