#include "core/intake.h"

#include "core/discovery.h"
#include "core/fsops.h"

namespace ostrivane {

bool IsWholeFileSystem(const std::string& path) {
    return IsDriveRoot(path) || IsFileSystemRoot(path);
}

IntakeOutcome AddNamedSource(const std::string& path, PathList& sources) {
    if (path.empty()) return IntakeOutcome::Missing;
    if (IsExistingFolder(path)) {
        const std::string folder = WithTrailingSeparator(path);
        if (IsWholeFileSystem(folder)) return IntakeOutcome::RootRefused;
        return sources.addIfAbsent(folder) ? IntakeOutcome::Added : IntakeOutcome::AlreadyListed;
    }
    if (!IsExistingFile(path)) return IntakeOutcome::Missing;
    return sources.addIfAbsent(path) ? IntakeOutcome::Added : IntakeOutcome::AlreadyListed;
}

IntakeOutcome AddNamedDestination(const std::string& path, const DestinationReach& reach,
                                  PathList& destinations,
                                  const std::function<void()>& repaint) {
    if (path.empty() || !IsExistingFolder(path)) return IntakeOutcome::Missing;
    const std::string folder = WithTrailingSeparator(path);
    if (IsWholeFileSystem(folder)) return IntakeOutcome::RootRefused;
    const int before = destinations.count();
    if (reach.allSubfolders) {
        IndexDisk(folder, destinations, repaint);
    } else {
        IndexDisk2(folder, reach.depth, destinations, repaint);
    }
    return destinations.count() > before ? IntakeOutcome::Added : IntakeOutcome::AlreadyListed;
}

}  // namespace ostrivane
