// Ordered lists of paths (sources, destinations, scratch) and the two path rules the
// commands apply before adding.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ostrivane {

// An ordered list of path strings in insertion order, never sorted, duplicates allowed.
// Lookup compares whole strings the way the platform's file system does (exact on Linux)
// and returns the first match; an index beside the entries keeps it O(1) on average.
class PathList {
public:
    int count() const { return static_cast<int>(entries_.size()); }
    // Entry at index i, 0 <= i < count().
    const std::string& at(int i) const { return entries_.at(static_cast<size_t>(i)); }
    const std::vector<std::string>& entries() const { return entries_; }

    // Index of the first entry equal to `path`, or -1.
    int find(std::string_view path) const;
    // Adds `path` at the end without a test.
    void append(std::string path);
    // Appends `path` only when find(path) is -1; returns whether it added.
    bool addIfAbsent(std::string path);
    // Removes entry i; the entries behind it move up. -1 removes nothing and is no error.
    void removeAt(int i);
    void clear();
    // Replaces all entries at once.
    void assign(std::vector<std::string> entries);

private:
    std::string key(std::string_view path) const;
    void reindexFrom(size_t first);

    std::vector<std::string> entries_;
    // Lookup key -> smallest index holding it.
    std::unordered_map<std::string, int> firstIndex_;
};

// Appends the separator unless the path already ends with one (one at most is added, none
// removed).
std::string WithTrailingSeparator(const std::string& path);

// True for a path that names a whole drive: on Linux a path made only of "/" characters.
bool IsDriveRoot(const std::string& path);

}  // namespace ostrivane
