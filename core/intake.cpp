#include "core/intake.h"

#include "core/discovery.h"

namespace ostrivane {

namespace {

using platform::IsSeparator;

// The name a source is copied under: its last component, trailing separators left out
// ("/abs/photos/" and "photos" are both copied as photos).
std::string CopyName(const std::string& path) {
    std::string trimmed = path;
    while (!trimmed.empty() && IsSeparator(trimmed.back())) trimmed.pop_back();
    return FileNamePart(trimmed);
}

// The folder that holds `path`, as written (with its separator), or "." when the path
// names no folder.
std::string ContainingFolder(const std::string& path) {
    const int cut = LastDelimiterIndex(platform::kFileNameDelimiters, path);
    return cut == 0 ? std::string(".") : path.substr(0, static_cast<size_t>(cut));
}

// The folder above the canonical folder `path` (ending with the separator); `path` itself
// for the root.
std::string FolderAbove(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && IsSeparator(trimmed.back())) trimmed.pop_back();
    const int cut = LastDelimiterIndex(platform::kFileNameDelimiters, trimmed);
    return cut == 0 ? path : trimmed.substr(0, static_cast<size_t>(cut));
}

// The canonical path with ASCII letters in lower case: the key under which two spellings
// of one entry meet on a file system that folds names. (Other scripts are compared as they
// are; FAT and exFAT fold those too, but not alike, and no spelling there gets lost: the
// copy run keeps one writer where such names meet.)
std::string FoldedPath(const std::string& canonical) {
    std::string folded = canonical;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

// True when the folder `folder` lists both `a` and `b` as entries of its own: then they are
// two entries, whatever the file system says of case. A folder that cannot be listed
// counts as listing one of them only.
bool ListsBoth(const std::string& folder, const std::string& a, const std::string& b) {
    Folder open;
    if (OpenFolder(folder.empty() ? std::string(".") : folder, open) != 0) return false;
    std::vector<FolderEntry> entries;
    if (ReadFolder(open, entries) != 0) return false;
    bool seenA = false, seenB = false;
    for (const FolderEntry& entry : entries) {
        seenA = seenA || entry.name == a;
        seenB = seenB || entry.name == b;
    }
    return seenA && seenB;
}

// For two canonical paths that are equal without ASCII case: true when some folder on the
// way lists both spellings of a component, so that the paths name two entries.
bool DistinctSpellings(const std::string& a, const std::string& b) {
    if (a == b) return false;
    size_t start = 0;
    while (start < a.size()) {
        size_t end = start;
        while (end < a.size() && !IsSeparator(a[end])) ++end;
        if (a.compare(start, end - start, b, start, end - start) != 0 &&
            ListsBoth(a.substr(0, start), a.substr(start, end - start),
                      b.substr(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

// --- ListedEntries ----------------------------------------------------------------------

ListedEntries::ListedEntries(PathList& list, ListRole role) : list_(list), role_(role) {
    for (int i = 0; i < list_.count(); ++i) index(i, placeOf(list_.at(i)));
}

bool ListedEntries::mayFold(const std::string& path, std::uint64_t device) {
    const auto known = foldsOnDevice_.find(device);
    if (known != foldsOnDevice_.end()) return known->second;
    Folder folder;
    OpenFolder(IsExistingFolder(path) ? path : ContainingFolder(path), folder);
    // A folder that cannot be opened cannot be asked: it counts as folding.
    const bool folds = FolderFoldsNames(folder);
    foldsOnDevice_.emplace(device, folds);
    return folds;
}

ListedEntries::Place ListedEntries::placeOf(const std::string& path) {
    Place place;
    if (path.empty() || !GetIdentity(path, place.id)) return place;
    place.known = true;
    place.folds = mayFold(path, place.id.device);
    if (place.folds) {
        place.canonical = CanonicalPath(path);
        place.folds = !place.canonical.empty();
    }
    return place;
}

int ListedEntries::findPlace(const Place& place, const std::string* name) const {
    if (!place.known) return -1;
    int best = -1;
    const std::string copyName = name ? CopyName(*name) : std::string();
    // Whether entry i could come before the best so far (the cheap tests first).
    const auto better = [&](int i) {
        return (best == -1 || i < best) && (!name || CopyName(list_.at(i)) == copyName);
    };
    const auto same = byIdentity_.equal_range(place.id);
    for (auto it = same.first; it != same.second; ++it) {
        if (better(it->second)) best = it->second;
    }
    if (place.folds) {
        const auto folded = byFoldedPath_.equal_range(FoldedPath(place.canonical));
        for (auto it = folded.first; it != folded.second; ++it) {
            const int i = it->second;
            if (better(i) &&
                !DistinctSpellings(places_[static_cast<size_t>(i)].canonical, place.canonical))
                best = i;
        }
    }
    return best;
}

void ListedEntries::index(int i, Place place) {
    if (place.known) byIdentity_.emplace(place.id, i);
    if (place.folds) byFoldedPath_.emplace(FoldedPath(place.canonical), i);
    places_.push_back(std::move(place));
}

int ListedEntries::find(const std::string& given) {
    const std::string path = NativeSeparators(given);
    const int exact = list_.find(path);
    if (exact != -1) return exact;
    return findPlace(placeOf(path), role_ == ListRole::Sources ? &path : nullptr);
}

bool ListedEntries::addIfAbsent(const std::string& given) {
    const std::string path = NativeSeparators(given);
    if (list_.find(path) != -1) return false;
    Place place = placeOf(path);
    if (findPlace(place, role_ == ListRole::Sources ? &path : nullptr) != -1) return false;
    list_.append(path);
    index(list_.count() - 1, std::move(place));
    return true;
}

ListedEntries::Holder ListedEntries::findHolder(const std::string& path) {
    std::string folder;
    const std::string canonical = CanonicalPath(path);
    if (!canonical.empty()) {
        const int i = findPlace(placeOf(canonical), nullptr);
        if (i != -1) return {i, true};
        folder = FolderAbove(canonical);
    } else {
        folder = CanonicalPath(ContainingFolder(path));
    }
    while (!folder.empty()) {
        const int i = findPlace(placeOf(folder), nullptr);
        if (i != -1) return {i, false};
        const std::string above = FolderAbove(folder);
        if (above == folder || IsDriveRoot(folder)) break;
        folder = above;
    }
    return {};
}

// --- Intake -------------------------------------------------------------------------------

bool IsWholeFileSystem(const std::string& path) {
    // A drive named by its letter alone ("C:") is that drive's root too where a destination
    // or a folder source takes the separator.
    return IsDriveRoot(path) || (path.ends_with(':') && IsDriveRoot(path + platform::kSeparator)) ||
           IsFileSystemRoot(path);
}

IntakeOutcome AddNamedSource(const std::string& given, ListedEntries& sources) {
    const std::string path = NativeSeparators(given);
    if (path.empty()) return IntakeOutcome::Missing;
    if (IsExistingFolder(path)) {
        const std::string folder = WithTrailingSeparator(path);
        if (IsWholeFileSystem(folder)) return IntakeOutcome::RootRefused;
        return sources.addIfAbsent(folder) ? IntakeOutcome::Added : IntakeOutcome::AlreadyListed;
    }
    if (!IsExistingFile(path)) return IntakeOutcome::Missing;
    return sources.addIfAbsent(path) ? IntakeOutcome::Added : IntakeOutcome::AlreadyListed;
}

IntakeOutcome AddNamedSource(const std::string& path, PathList& sources) {
    ListedEntries listed(sources, ListRole::Sources);
    return AddNamedSource(path, listed);
}

IntakeOutcome AddChosenSource(const std::string& given, bool isFolder, ListedEntries& sources) {
    const std::string path = NativeSeparators(given);
    const std::string entry = isFolder ? WithTrailingSeparator(path) : path;
    if (isFolder && IsWholeFileSystem(entry)) return IntakeOutcome::RootRefused;
    return sources.addIfAbsent(entry) ? IntakeOutcome::Added : IntakeOutcome::AlreadyListed;
}

IntakeOutcome AppendDroppedSource(const std::string& given, PathList& sources) {
    std::string path = NativeSeparators(given);
    if (IsWholeFileSystem(path)) return IntakeOutcome::RootRefused;
    sources.append(std::move(path));
    return IntakeOutcome::Added;
}

std::optional<IntakeOutcome> DestinationRefusal(const std::string& given) {
    const std::string path = NativeSeparators(given);
    if (path.empty() || !IsExistingFolder(path)) return IntakeOutcome::Missing;
    if (IsWholeFileSystem(WithTrailingSeparator(path))) return IntakeOutcome::RootRefused;
    return std::nullopt;
}

IntakeOutcome AddNamedDestination(const std::string& given, const DestinationReach& reach,
                                  ListedEntries& destinations, const std::function<void()>& repaint,
                                  const std::atomic<bool>* stop) {
    const std::string path = NativeSeparators(given);
    if (const auto refusal = DestinationRefusal(path)) return *refusal;
    const std::string folder = WithTrailingSeparator(path);
    const int before = destinations.list().count();
    // The walk lists every folder it visits; each joins the list unless the list names it
    // already, before the repaint shows it.
    PathList walked;
    int taken = 0;
    const auto take = [&] {
        for (; taken < walked.count(); ++taken) destinations.addIfAbsent(walked.at(taken));
    };
    const std::function<void()> visited = [&] {
        take();
        if (repaint) repaint();
    };
    if (reach.allSubfolders) {
        IndexDisk(folder, walked, visited, stop);
    } else {
        IndexDisk2(folder, reach.depth, walked, visited, stop);
    }
    take();
    return destinations.list().count() > before ? IntakeOutcome::Added
                                                : IntakeOutcome::AlreadyListed;
}

IntakeOutcome AddNamedDestination(const std::string& path, const DestinationReach& reach,
                                  PathList& destinations, const std::function<void()>& repaint) {
    ListedEntries listed(destinations, ListRole::Destinations);
    return AddNamedDestination(path, reach, listed, repaint);
}

}  // namespace ostrivane
