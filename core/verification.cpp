#include "core/verification.h"

#include <algorithm>
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

void CopyLedger::sort() {
    // The latest copy to each path; an overlapping destination or a second source of one
    // name wrote it after the others (the engine keeps such writes in order).
    std::unordered_map<std::string, Copy*> latest;
    for (Destination& destination : destinations_) {
        const std::vector<std::string>& folders = destination.folders;
        std::sort(destination.copies.begin(), destination.copies.end(),
                  [&](const Copy& a, const Copy& b) {
                      if (a.folder != b.folder) return folders[a.folder] < folders[b.folder];
                      if (a.name != b.name) return a.name < b.name;
                      return a.sequence < b.sequence;
                  });
        for (Copy& copy : destination.copies) {
            Copy*& last = latest[folders[copy.folder] + copy.name];
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
    // A copy under a name that was free: removed, so that nothing wrong stays under that
    // name and a later run that keeps existing files copies it again. Only while the name
    // still stands for the copy: whatever took its place meanwhile is not the run's.
    checked.reason = run_reason::kVerifyFailed;
    if (!IsPlacedCopyAt(folder, copy.name, copy.placed)) return checked;
    if (const int removal = DeleteEntryAt(folder, copy.name))
        checked.reason += std::string(run_reason::kVerifyNotRemoved) + ErrorText(removal);
    return checked;
}

}  // namespace

VerifyOutcome VerifyCopies(CopyLedger& ledger, RunControl& run,
                           const std::vector<int>& readersPerDevice, bool oneReader,
                           const std::atomic<bool>* stop) {
    VerifyOutcome outcome;
    const int destinationCount = ledger.destinations();
    outcome.failures.resize(static_cast<size_t>(destinationCount));
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
            outcome.failures[static_cast<size_t>(d)].push_back(
                {destination.folders[copy.folder] + copy.name, checked.reason});
        }
    }
    outcome.stopped = stopped.load();
    return outcome;
}

std::vector<FileHash> HashesOf(CopyLedger& ledger, const std::vector<std::string>& destinations) {
    std::vector<FileHash> hashes;
    std::unordered_set<std::string> listed;
    for (int d = 0; d < ledger.destinations(); ++d) {
        CopyLedger::Destination& destination = ledger.destination(d);
        const std::string& root = destinations.at(static_cast<size_t>(d));
        for (const CopyLedger::Copy& copy : destination.copies) {
            if (copy.superseded) continue;
            const std::string& folder = destination.folders[copy.folder];
            std::string path = folder.compare(0, root.size(), root) == 0
                                   ? folder.substr(root.size()) + copy.name
                                   : folder + copy.name;
            if (!listed.insert(path).second) continue;
            hashes.push_back({std::move(path), copy.placed.sourceHash});
        }
    }
    std::sort(hashes.begin(), hashes.end(),
              [](const FileHash& a, const FileHash& b) { return a.path < b.path; });
    return hashes;
}

}  // namespace ostrivane
