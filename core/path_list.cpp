#include "core/path_list.h"

#include <algorithm>
#include <cctype>

#include "core/fsops.h"

namespace ostrivane {

std::string PathList::key(std::string_view path) const {
    std::string k(path);
    if constexpr (platform::kPathsIgnoreCase) {
        std::transform(k.begin(), k.end(), k.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    return k;
}

int PathList::find(std::string_view path) const {
    auto it = firstIndex_.find(key(path));
    return it == firstIndex_.end() ? -1 : it->second;
}

void PathList::append(std::string path) {
    // emplace keeps an earlier index: find() answers the first match.
    firstIndex_.emplace(key(path), count());
    entries_.push_back(std::move(path));
}

bool PathList::addIfAbsent(std::string path) {
    // One hash lookup decides and inserts.
    if (!firstIndex_.try_emplace(key(path), count()).second) return false;
    entries_.push_back(std::move(path));
    return true;
}

void PathList::removeAt(int i) {
    if (i < 0 || i >= count()) return;
    entries_.erase(entries_.begin() + i);
    reindexFrom(static_cast<size_t>(i));
}

void PathList::clear() {
    entries_.clear();
    firstIndex_.clear();
}

void PathList::assign(std::vector<std::string> entries) {
    entries_ = std::move(entries);
    firstIndex_.clear();
    reindexFrom(0);
}

void PathList::reindexFrom(size_t first) {
    // Removing entry `first` shifts every later index and may uncover a later duplicate as
    // the new first match, so rebuild the index for keys that appear from `first` on.
    if (first == 0) {
        firstIndex_.clear();
    } else {
        std::erase_if(firstIndex_, [first](const auto& kv) { return static_cast<size_t>(kv.second) >= first; });
    }
    for (size_t i = first; i < entries_.size(); ++i) firstIndex_.emplace(key(entries_[i]), static_cast<int>(i));
}

std::string WithTrailingSeparator(const std::string& path) {
    if (!path.empty() && path.back() == platform::kSeparator) return path;
    return path + platform::kSeparator;
}

bool IsDriveRoot(const std::string& path) {
    return !path.empty() && std::all_of(path.begin(), path.end(), [](char c) { return c == platform::kSeparator; });
}

}  // namespace ostrivane
