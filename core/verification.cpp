#include "core/verification.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "core/run_engine.h"

namespace ostrivane {

CopyLedger::CopyLedger(int destinations) : destinations_(static_cast<size_t>(destinations)) {}

void CopyLedger::add(int index, const std::string& folderPath, const std::string& name,
                     const std::string& sourcePath, const PlacedCopy& placed) {
    Destination& destination = destinations_.at(static_cast<size_t>(index));
    std::lock_guard lock(destination.mutex);
    // Copies come folder by folder: most find their folder at once.
    auto found = destination.folderIndex.find(folderPath);
    if (found == destination.folderIndex.end()) {
        found = destination.folderIndex
                    .emplace(folderPath, static_cast<std::uint32_t>(destination.folders.size()))
                    .first;
        destination.folders.push_back(folderPath);
    }
    // The source's folder part (up to its last separator) once; its name only where the
    // copy has another.
    size_t cut = sourcePath.find_last_of("/" + std::string(1, platform::kSeparator));
    cut = cut == std::string::npos ? 0 : cut + 1;
    std::string sourceFolder = sourcePath.substr(0, cut);
    auto source = destination.sourceFolderIndex.find(sourceFolder);
    if (source == destination.sourceFolderIndex.end()) {
        const auto index = static_cast<std::uint32_t>(destination.sourceFolders.size());
        destination.sourceFolders.push_back(sourceFolder);
        source = destination.sourceFolderIndex.emplace(std::move(sourceFolder), index).first;
    }
    std::string sourceName;
    if (sourcePath.compare(cut, std::string::npos, name) != 0) sourceName = sourcePath.substr(cut);
    destination.copies.push_back(
        {found->second, name, source->second, std::move(sourceName), placed, ++sequence_, false});
}

namespace {

// For each destination (`roots`, as listed), whether it may reach a place another one
// reaches: one inside another, or one folder reached through a link or a bind mount.
std::vector<bool> SharingDestinations(const std::vector<std::string>& roots) {
    std::vector<bool> sharing(roots.size(), false);
    if (roots.size() < 2) return sharing;
    std::vector<FolderFootprint> footprints;
    for (const std::string& root : roots) footprints.push_back(FootprintOf(root));
    for (size_t a = 0; a < roots.size(); ++a)
        for (size_t b = a + 1; b < roots.size(); ++b)
            if (FootprintsOverlap(footprints[a], footprints[b])) sharing[a] = sharing[b] = true;
    return sharing;
}

// What names the folder `path` whatever way it was reached: its file system and its path
// there (through links and bind mounts: the mount table's place); empty when that cannot be
// told.
std::string PlaceKey(const std::string& path) {
    const std::vector<FolderPlace> places = PlacesOf(path);
    if (places.empty()) return {};
    std::string key = std::to_string(places.front().device) + ':' + places.front().path;
    if (key.back() != platform::kSeparator) key += platform::kSeparator;
    return key;
}

}  // namespace

void CopyLedger::sort(const std::vector<std::string>& roots) {
    const std::vector<bool> sharing = SharingDestinations(roots);
    // Each copy's place: within a destination its folder's path (one spelling for one
    // folder there); in a destination that may reach another's folders, the folder's place,
    // so that a copy made there through another spelling (a link, a bind mount) meets the
    // copies made through the first one. Identities cannot tell this: a file system that
    // makes its inode numbers up as it loads files (exFAT) may give one folder two.
    // The latest copy to each place; an overlapping destination or a second source of one
    // name wrote it after the others (the engine keeps such writes in order).
    std::unordered_map<std::string, Copy*> latest;
    for (size_t d = 0; d < destinations_.size(); ++d) {
        Destination& destination = destinations_[d];
        const std::vector<std::string>& folders = destination.folders;
        std::sort(destination.copies.begin(), destination.copies.end(),
                  [&](const Copy& a, const Copy& b) {
                      if (a.folder != b.folder) return folders[a.folder] < folders[b.folder];
                      if (a.name != b.name) return a.name < b.name;
                      return a.sequence < b.sequence;
                  });
        std::vector<std::string> keys(folders.size());
        for (size_t f = 0; f < folders.size(); ++f) {
            if (d < sharing.size() && sharing[d]) keys[f] = PlaceKey(folders[f]);
            // Unshared, or no place to be told: the destination's own spelling.
            if (keys[f].empty()) keys[f] = std::to_string(d) + '|' + folders[f];
        }
        for (Copy& copy : destination.copies) {
            Copy*& last = latest[keys[copy.folder] + copy.name];
            if (last && last->sequence > copy.sequence) {
                copy.superseded = true;
                continue;
            }
            if (last) last->superseded = true;
            last = &copy;
        }
    }
}

namespace {

// How one copy's check ended.
struct Checked {
    bool done = false;      // read back (equal or not) or failed; false: not reached
    bool verified = false;  // equal to the source
    std::string reason;     // why it failed
    bool removed = false;   // differed, and was removed
};

// Reads back one copy in its open folder and judges it.
Checked CheckCopy(const Folder& folder, const CopyLedger::Destination& destination,
                  const CopyLedger::Copy& copy, RunControl& run, const std::atomic<bool>* stop) {
    Checked checked;
    ContentHash hash;
    std::uint64_t size = 0;
    const int error = ReadBackHash(folder, copy.name, copy.placed, hash, size, stop,
                                   [&](std::uint64_t bytes) { run.verifiedBytes(bytes); });
    if (error == error::kStopped) return checked;
    checked.done = true;
    if (error != 0) {
        checked.reason = ErrorText(error);
        return checked;
    }
    if (size == copy.placed.size && hash == copy.placed.sourceHash) {
        checked.verified = true;
        return checked;
    }
    // The source read again: where it no longer holds what the copy read from it, the source
    // changed while or after it was copied (written through a mapping, or in the same tick of
    // its clock, so without a new modification time) and the copy holds what was read then;
    // it stays, whatever it replaced. Where the source cannot be read now, the copy is judged
    // as before.
    ContentHash sourceNow;
    std::uint64_t sourceSize = 0;
    const int sourceError = HashFile(destination.sourceOf(copy), sourceNow, sourceSize, stop);
    if (sourceError == error::kStopped) return {};
    if (sourceError == 0 &&
        (sourceSize != copy.placed.size || !(sourceNow == copy.placed.sourceHash))) {
        checked.reason = run_reason::kVerifySourceChanged;
        return checked;
    }
    if (copy.placed.replacedFile) {
        checked.reason = run_reason::kVerifyFailedReplaced;
        return checked;
    }
    // A copy that took the place of a symbolic link: the link is made again in the copy's
    // place, so the name holds what it held before the run. Where that cannot be done, the
    // copy is removed as under a free name, and the reason says that the link is gone.
    if (copy.placed.replacedLink && !copy.placed.linkTarget.empty()) {
        if (PutLinkBackAt(folder, copy.name, copy.placed) == 0) {
            checked.reason = run_reason::kVerifyFailedLinkBack;
            checked.removed = true;  // the link stands there now, not the copy
            return checked;
        }
    }
    // A copy under a name that was free: removed, so that nothing wrong stays under that
    // name and a later run that keeps existing files copies it again. Only while the name
    // still stands for the copy: whatever took its place meanwhile is not the run's.
    checked.reason =
        copy.placed.replacedLink ? run_reason::kVerifyFailedLinkGone : run_reason::kVerifyFailed;
    if (!IsPlacedCopyAt(folder, copy.name, copy.placed)) return checked;
    if (const int removal = DeleteEntryAt(folder, copy.name))
        checked.reason += std::string(run_reason::kVerifyNotRemoved) + ErrorText(removal);
    else
        checked.removed = true;
    return checked;
}

}  // namespace

VerifyOutcome VerifyCopies(CopyLedger& ledger, RunControl& run,
                           const std::vector<int>& readersPerDevice, bool oneReader,
                           const std::atomic<bool>* stop) {
    VerifyOutcome outcome;
    const int destinationCount = ledger.destinations();
    outcome.failures.resize(static_cast<size_t>(destinationCount));
    outcome.removed.resize(static_cast<size_t>(destinationCount));
    // The copies of each device, destination by destination.
    struct Item {
        int destination;
        size_t copy;
    };
    std::vector<std::vector<Item>> byDevice(readersPerDevice.size());
    for (int d = 0; d < destinationCount; ++d) {
        const auto device = static_cast<size_t>(run.deviceOf(d));
        if (device >= byDevice.size()) byDevice.resize(device + 1);
        for (size_t c = 0; c < ledger.destination(d).copies.size(); ++c)
            if (!ledger.destination(d).copies[c].superseded) byDevice[device].push_back({d, c});
    }
    std::vector<int> devices;
    for (size_t device = 0; device < byDevice.size(); ++device)
        if (!byDevice[device].empty()) devices.push_back(static_cast<int>(device));
    if (devices.empty()) return outcome;
    run.beginVerify(devices);

    std::vector<std::vector<Checked>> results(static_cast<size_t>(destinationCount));
    for (int d = 0; d < destinationCount; ++d)
        results[static_cast<size_t>(d)].resize(ledger.destination(d).copies.size());
    std::atomic<bool> stopped{false};
    // Checks the copies [begin, end) of a device's list, keeping each folder open while its
    // copies follow one another.
    const auto checkRange = [&](const std::vector<Item>& items, size_t begin, size_t end) {
        Folder folder;
        int openDestination = -1;
        std::uint32_t openFolder = 0;
        int folderError = 0;
        for (size_t i = begin; i < end; ++i) {
            if (stop && stop->load()) {
                stopped.store(true);
                return;
            }
            const Item& item = items[i];
            CopyLedger::Destination& destination = ledger.destination(item.destination);
            const CopyLedger::Copy& copy = destination.copies[item.copy];
            Checked& checked = results[static_cast<size_t>(item.destination)][item.copy];
            if (item.destination != openDestination || copy.folder != openFolder) {
                folder.close();
                folderError = OpenFolder(destination.folders[copy.folder], folder);
                openDestination = item.destination;
                openFolder = copy.folder;
            }
            if (folderError != 0) {
                checked = {true, false, ErrorText(folderError)};
                continue;
            }
            checked = CheckCopy(folder, destination, copy, run, stop);
            if (!checked.done) {
                stopped.store(true);
                return;
            }
        }
    };
    std::vector<EngineStep> steps;
    std::vector<int> readers;
    for (int device : devices) {
        const std::vector<Item>& items = byDevice[static_cast<size_t>(device)];
        const int wanted = oneReader || static_cast<size_t>(device) >= readersPerDevice.size()
                               ? 1
                               : readersPerDevice[static_cast<size_t>(device)];
        const size_t parts =
            std::clamp<size_t>(static_cast<size_t>(std::max(wanted, 1)), 1, items.size());
        steps.push_back(
            {oneReader ? 0 : static_cast<int>(readers.size()), [&, device, parts] {
                 const std::vector<Item>& list = byDevice[static_cast<size_t>(device)];
                 // Neighbouring copies (one folder) stay with one reader.
                 RunEachAtOnce(parts, static_cast<int>(parts), [&](size_t part) {
                     checkRange(list, list.size() * part / parts, list.size() * (part + 1) / parts);
                 });
                 bool failed = false;
                 for (const Item& item : list) {
                     const Checked& c = results[static_cast<size_t>(item.destination)][item.copy];
                     failed = failed || (c.done && !c.verified);
                 }
                 run.endVerify(device, failed);
             }});
        if (!oneReader) readers.push_back(1);
    }
    if (oneReader) readers.push_back(1);
    RunSteps(steps, readers, [](size_t, size_t) { return false; });

    for (int d = 0; d < destinationCount; ++d) {
        CopyLedger::Destination& destination = ledger.destination(d);
        for (size_t c = 0; c < destination.copies.size(); ++c) {
            const Checked& checked = results[static_cast<size_t>(d)][c];
            if (!checked.done) continue;
            if (checked.verified) {
                ++outcome.copiesVerified;
                continue;
            }
            const CopyLedger::Copy& copy = destination.copies[c];
            if (checked.removed)
                outcome.removed[static_cast<size_t>(d)].push_back(copy.placed.size);
            outcome.failures[static_cast<size_t>(d)].push_back(
                {destination.folders[copy.folder] + copy.name, checked.reason});
        }
    }
    outcome.stopped = stopped.load();
    return outcome;
}

std::vector<FileHash> HashesOf(CopyLedger& ledger, const std::vector<std::string>& destinations,
                               std::span<const Failure> failures, HashesLeftOut* leftOut) {
    const int destinationCount = ledger.destinations();
    const auto rootOf = [&](int d) -> const std::string& {
        return destinations.at(static_cast<size_t>(d));
    };
    // Each destination's copies by their path relative to it.
    std::vector<std::unordered_map<std::string, ContentHash>> byPath(
        static_cast<size_t>(destinationCount));
    std::vector<std::string> paths;  // every path copied into some destination, once
    std::unordered_set<std::string> seen;
    for (int d = 0; d < destinationCount; ++d) {
        CopyLedger::Destination& destination = ledger.destination(d);
        const std::string& root = rootOf(d);
        for (const CopyLedger::Copy& copy : destination.copies) {
            if (copy.superseded) continue;
            const std::string& folder = destination.folders[copy.folder];
            std::string path = folder.compare(0, root.size(), root) == 0
                                   ? folder.substr(root.size()) + copy.name
                                   : folder + copy.name;
            if (seen.insert(path).second) paths.push_back(path);
            byPath[static_cast<size_t>(d)].emplace(std::move(path), copy.placed.sourceHash);
        }
    }
    // The failures at a path relative to a destination that holds them: at the path itself,
    // or at a folder above it (a folder not created or not entered, a destination gone, a
    // file system whose flush failed).
    std::unordered_set<std::string> failedPaths;
    bool everythingFailed = false;
    for (const Failure& failure : failures) {
        for (int d = 0; d < destinationCount; ++d) {
            const std::string& root = rootOf(d);
            if (root.size() <= 1) continue;  // an entry that names no folder
            std::string_view path = failure.path;
            if (path.size() + 1 == root.size() && root.compare(0, path.size(), path) == 0) {
                everythingFailed = true;  // the destination itself, without its separator
                continue;
            }
            if (path.compare(0, root.size(), root) != 0) {
                // A folder above the destination (a flush names the first destination of a
                // file system, which may hold others).
                if (!path.empty() && path.back() == platform::kSeparator &&
                    root.compare(0, path.size(), path) == 0)
                    everythingFailed = true;
                continue;
            }
            path.remove_prefix(root.size());
            while (!path.empty() && path.back() == platform::kSeparator) path.remove_suffix(1);
            if (path.empty())
                everythingFailed = true;
            else
                failedPaths.emplace(path);
        }
    }
    const auto failedAt = [&](const std::string& path) {
        if (everythingFailed || failedPaths.count(path)) return true;
        for (size_t cut = path.find(platform::kSeparator); cut != std::string::npos;
             cut = path.find(platform::kSeparator, cut + 1))
            if (failedPaths.count(path.substr(0, cut))) return true;
        return false;
    };

    HashesLeftOut counts;
    std::vector<FileHash> hashes;
    for (std::string& path : paths) {
        if (failedAt(path)) {
            ++counts.failed;
            continue;
        }
        const ContentHash* first = nullptr;
        bool everywhere = true, alike = true;
        for (int d = 0; d < destinationCount && everywhere; ++d) {
            const auto& copies = byPath[static_cast<size_t>(d)];
            const auto found = copies.find(path);
            if (found == copies.end()) {
                everywhere = false;
            } else if (!first) {
                first = &found->second;
            } else if (!(found->second == *first)) {
                alike = false;
            }
        }
        if (!everywhere) {
            ++counts.notEverywhere;
        } else if (!alike) {
            ++counts.differing;
        } else {
            hashes.push_back({std::move(path), *first});
        }
    }
    std::sort(hashes.begin(), hashes.end(),
              [](const FileHash& a, const FileHash& b) { return a.path < b.path; });
    if (leftOut) *leftOut = counts;
    return hashes;
}

}  // namespace ostrivane
