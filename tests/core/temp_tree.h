// Test helper: a temporary folder that is removed with everything below it, and small
// helpers to make and read files in it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/path_list.h"

namespace ostrivane::test {

// A path list holding `entries` as they are, in their order.
inline PathList List(std::vector<std::string> entries) {
    PathList list;
    list.assign(std::move(entries));
    return list;
}

class TempTree {
  public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // The folder, without a trailing separator.
    const std::string& root() const { return root_; }
    // root() + separator + relative ("/" in `relative` becomes the platform's separator).
    std::string path(const std::string& relative) const;
    // Creates the folder (and parents) below root().
    std::string mkdir(const std::string& relative) const;
    // Writes `content` to the file (parents created) and returns its full path.
    std::string write(const std::string& relative, const std::string& content) const;

  private:
    std::string root_;
};

// The path of a UTF-8 name as the standard library takes it (on Windows a narrow string
// would be read in the ANSI code page).
std::filesystem::path NativePath(const std::string& utf8);

// Whole content of a file, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// True when the process cannot bypass permission checks (not root), so that
// "access denied" cases are real.
bool PermissionsApply();

// Creates `levels` nested folders named `name` below the existing folder `top`, through
// descriptors, so the chain may grow past the platform's path limit; an empty file `file`
// goes into every hundredth level and into the deepest one. True on success.
#ifndef _WIN32
bool MakeDeepChain(const std::string& top, int levels, const std::string& name,
                   const std::string& file);

// Runs `body` in a child process and tells whether it returned true. Limits the body sets
// (a file size limit, say) stay in the child, and the child is killed after
// `deadlineSeconds`, so that a call that waits for ever fails the test instead of hanging it.
bool TrueInChild(const std::function<bool()>& body, unsigned deadlineSeconds = 10);
#endif

}  // namespace ostrivane::test
