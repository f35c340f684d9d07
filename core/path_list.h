// Ordered lists of paths (sources, destinations, scratch) and the two path rules the
// commands apply before adding.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivane {

// An ordered list of path strings in insertion order, never sorted, duplicates allowed.
// Lookup compares whole strings the way the platform's file system does (exact on Linux,
// letter case ignored on Windows)
// and returns the first match; a hash index beside the entries keeps it O(1) on average.
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
    // Open-addressing index: each slot holds the hash of a key and the smallest index
    // holding it (-1 for an empty slot); the key itself is read from entries_.
    struct Slot {
        std::size_t hash = 0;
        int index = -1;
    };
    static std::size_t hashOf(std::string_view path);
    bool sameKey(std::string_view a, std::string_view b) const;
    // Slot for `path`: the one holding it, or the empty one where it would go.
    std::size_t slotFor(std::string_view path, std::size_t hash) const;
    void index(int i);
    void rebuildIndex();

    std::vector<std::string> entries_;
    std::vector<Slot> slots_;  // size a power of two, at most half full
};

// The path as the lists keep it: on Windows every "/" (which Windows reads as a separator)
// becomes "\", so that one path has one spelling for every rule that looks at separators;
// elsewhere the path unchanged.
std::string NativeSeparators(std::string path);

// Appends the separator unless the path already ends with one (one at most is added, none
// removed; on Windows a "/" at the end counts).
std::string WithTrailingSeparator(const std::string& path);

// True for a path that names a whole drive: on Linux a path made only of "/" characters; on
// Windows ("/" counting as "\") a path made only of separators (the root of the current
// drive), a path ending in ":\" ("C:\", "\\?\C:\", "\\.\C:\"), the root of a network
// share ("\\server\share\", "\\?\UNC\server\share\") or of a volume named by its GUID
// ("\\?\Volume{...}\").
bool IsDriveRoot(const std::string& path);

}  // namespace ostrivane
