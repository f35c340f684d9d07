#include "core/path_list.h"

#include <algorithm>
#include <cctype>
#include <functional>

#include "core/fsops.h"

namespace ostrivane {

namespace {
#ifndef _WIN32
char Folded(char c) {
    if constexpr (platform::kPathsIgnoreCase)
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c;
}
#endif
}  // namespace

std::size_t PathList::hashOf(std::string_view path) {
    if constexpr (!platform::kPathsIgnoreCase) return std::hash<std::string_view>{}(path);
#ifdef _WIN32
    // Letters of every script compare as the file system compares them.
    return std::hash<std::string>{}(PathCaseKey(path));
#else
    std::string folded(path);
    std::transform(folded.begin(), folded.end(), folded.begin(), Folded);
    return std::hash<std::string>{}(folded);
#endif
}

bool PathList::sameKey(std::string_view a, std::string_view b) const {
    if constexpr (!platform::kPathsIgnoreCase) return a == b;
#ifdef _WIN32
    return a == b || PathCaseKey(a) == PathCaseKey(b);
#else
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Folded(x) == Folded(y);
           });
#endif
}

std::size_t PathList::slotFor(std::string_view path, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.index < 0) return i;
        if (slot.hash == hash && sameKey(entries_[static_cast<size_t>(slot.index)], path)) return i;
    }
}

void PathList::index(int i) {
    if ((static_cast<size_t>(count()) + 1) * 2 > slots_.size()) {
        rebuildIndex();
        return;
    }
    const std::string& path = entries_[static_cast<size_t>(i)];
    const std::size_t hash = hashOf(path);
    Slot& slot = slots_[slotFor(path, hash)];
    if (slot.index < 0) slot = {hash, i};  // an earlier equal entry keeps the first match
}

void PathList::rebuildIndex() {
    std::size_t size = 16;
    while (size < (entries_.size() + 1) * 2) size *= 2;
    slots_.assign(size, Slot{});
    for (int i = 0; i < count(); ++i) {
        const std::string& path = entries_[static_cast<size_t>(i)];
        const std::size_t hash = hashOf(path);
        Slot& slot = slots_[slotFor(path, hash)];
        if (slot.index < 0) slot = {hash, i};
    }
}

int PathList::find(std::string_view path) const {
    if (slots_.empty()) return -1;
    return slots_[slotFor(path, hashOf(path))].index;
}

void PathList::append(std::string path) {
    entries_.push_back(std::move(path));
    index(count() - 1);
}

bool PathList::addIfAbsent(std::string path) {
    if (find(path) >= 0) return false;
    append(std::move(path));
    return true;
}

void PathList::removeAt(int i) {
    if (i < 0 || i >= count()) return;
    entries_.erase(entries_.begin() + i);
    rebuildIndex();
}

void PathList::clear() {
    entries_.clear();
    slots_.clear();
}

void PathList::assign(std::vector<std::string> entries) {
    entries_ = std::move(entries);
    rebuildIndex();
}

std::string NativeSeparators(std::string path) {
#ifdef _WIN32
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
#endif
    return path;
}

std::string WithTrailingSeparator(const std::string& path) {
    if (!path.empty() && platform::IsSeparator(path.back())) return path;
    return path + platform::kSeparator;
}

bool IsDriveRoot(const std::string& given) {
#ifdef _WIN32
    const std::string path = NativeSeparators(given);
    // Separators alone: the root of the current drive ("\\", "/").
    if (!path.empty() && path.find_first_not_of('\\') == std::string::npos) return true;
    // "C:\", also behind "\\?\" or "\\.\" (any text ending in ":\").
    if (path.ends_with(":\\")) return true;
    if (!path.starts_with("\\\\") || !path.ends_with('\\')) return false;
    std::string_view rest = std::string_view(path).substr(2, path.size() - 3);
    // The long forms: "\\?\UNC\server\share\", "\\?\Volume{...}\".
    for (const std::string_view prefix : {"?\\UNC\\", ".\\UNC\\"}) {
        if (rest.size() >= prefix.size() &&
            PathCaseKey(rest.substr(0, prefix.size())) == PathCaseKey(prefix)) {
            rest.remove_prefix(prefix.size());
            break;
        }
    }
    // One name behind "\\?\" or "\\.\": a volume or a device as a whole.
    if (rest.starts_with("?\\") || rest.starts_with(".\\"))
        return rest.size() > 2 && rest.find('\\', 2) == std::string_view::npos;
    const size_t cut = rest.find('\\');
    return cut != std::string_view::npos && cut > 0 && cut + 1 < rest.size() &&
           rest.find('\\', cut + 1) == std::string_view::npos;
#else
    return !given.empty() && std::all_of(given.begin(), given.end(),
                                         [](char c) { return c == platform::kSeparator; });
#endif
}

}  // namespace ostrivane
